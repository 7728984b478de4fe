// ctest-labels: threaded
#include "ebayapi/UnitKovaGadgetCalls.h"
#include "ebayapi/UnitXMLParser.h"
#include "items/UnitResultLst.h"
#include "platform/UnitPlatformClock.h"
#include "platform/UnitPlatformMainThread.h"
#include "platform/UnitPlatformMonotonic.h"
#include "storage/UnitKovaDat.h"
#include "storage/UnitKovaIniFile.h"
#include "storage/UnitKovaeBayLogin.h"
#include "support/GadgetTestDirectory.h"
#include "support/SandboxProcess.h"
#include "watchlist/UnitKovaThreads.h"
#include "watchlist/UnitKovaWatchList.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <thread>

namespace {

std::string Header(const nlohmann::json& request, const std::string& name) {
    for (const auto& [key, value] : request["headers"].items())
        if (strcasecmp(key.c_str(), name.c_str()) == 0) return value.get<std::string>();
    return "";
}

// The pages asked for, in page order: the pages after the first travel side by side and arrive in any order.
std::vector<int> WatchListPages(TSandboxProcess& sandbox) {
    std::vector<int> pages;
    for (const auto& request : sandbox.Requests())
        if (request["call"] == "GetMyeBayBuying") pages.push_back(request["page"].get<int>());
    std::sort(pages.begin(), pages.end());
    return pages;
}

// What the completion callback saw on the worker thread.
struct TOutcome {
    bool Called = false;
    bool OnWorker = false;
    bool CallSucceeded = false, ParseSucceeded = false, LoopStarted = false, Complete = false;
    bool Canceled = false;
    TInternetStatus ErrorCode = iyOK;
    TParserResultCode ParserResult = TParserResultCode::prNotEvaluated;
    int Items = -1;
    std::vector<std::string> ArticleNumbers;
    uint64_t FinishedAtMs = 0;
};

// Runs a watch list worker to its end; beforeStart may keep what it needs of the thread (its cancel flag).
TOutcome RunWatchListThread(const std::string& token,
                            const std::function<void(TThreadGetMyEbayWatchlist&)>& beforeStart = {}) {
    TOutcome outcome;
    const auto mainId = std::this_thread::get_id();
    auto* thread = new TThreadGetMyEbayWatchlist();
    thread->FreeOnTerminate = true;
    thread->FToken = token;
    thread->FOnFinished = [&outcome, mainId](TThreadGetMyEbayWatchlist& t) {
        outcome.Called = true;
        outcome.FinishedAtMs = MonotonicMs();
        outcome.OnWorker = std::this_thread::get_id() != mainId;
        outcome.CallSucceeded = t.FCallSucceeded;
        outcome.ParseSucceeded = t.FParseSucceeded;
        outcome.LoopStarted = t.RequestLoopStarted();
        outcome.Complete = t.Complete();
        outcome.Canceled = t.Canceled();
        outcome.ErrorCode = t.FErrorCode;
        outcome.ParserResult = t.FParserResult;
        const auto items = t.TakeItems();
        outcome.Items = items->Count();
        for (int i = 0; i < items->Count(); ++i)
            outcome.ArticleNumbers.push_back(items->GetAuction(i).ArticleNumber);
    };
    if (beforeStart) beforeStart(*thread);
    thread->Start();
    EXPECT_TRUE(MainThreadQueue().RunUntil([] { return TThreadBase::LiveCount() == 0; }, 60000))
        << "the thread must end and free itself through the main queue";
    return outcome;
}

// One sandbox per suite, trusted through its CA; the application data and settings per test, and no worker
// left at the end of one.
template <typename TSuite> class TSandboxSuite : public ::testing::Test {
protected:
    static void StartSandbox(const std::vector<std::string>& accounts,
                             const std::vector<std::string>& args = {}) {
        Sandbox = new TSandboxProcess(accounts, args);
        setenv("KOVA_EXTRA_CA_FILE", Sandbox->CAPath().c_str(), 1);
    }
    static void TearDownTestSuite() {
        delete Sandbox;
        Sandbox = nullptr;
        unsetenv("KOVA_EXTRA_CA_FILE");
    }
    void SetUp() override {
        SetMainThread();
        Sandbox->Reset();
        LoadGadgetDat(Gadget.Home(), "");
        InitIniFileManager("KovaGadget.ini", Gadget.Home());
    }
    void TearDown() override {
        // Workers free themselves through the main thread's queue once they have ended.
        EXPECT_TRUE(MainThreadQueue().RunUntil([] { return TThreadBase::LiveCount() == 0; }, 30000));
        FreeIniFileManager();
        FreeGadgetDat();
    }

    static inline TSandboxProcess* Sandbox = nullptr;
    TGadgetTestDirectory Gadget{SandboxGadget(*Sandbox)};
};

class WorkerThreadTest : public TSandboxSuite<WorkerThreadTest> {
protected:
    static void SetUpTestSuite() { StartSandbox({"demo:250", "few:3"}); }

    TOutcome LoadWatchList(const std::string& token) { return RunWatchListThread(token); }
};

TEST_F(WorkerThreadTest, WatchListArrivesPageByPageAndIsHandedBackOnTheWorker) {
    const TOutcome outcome = LoadWatchList(Sandbox->Token("demo"));
    EXPECT_TRUE(outcome.Called);
    EXPECT_TRUE(outcome.OnWorker);
    EXPECT_TRUE(outcome.CallSucceeded);
    EXPECT_TRUE(outcome.ParseSucceeded);
    EXPECT_EQ(outcome.Items, 250);
    EXPECT_EQ(WatchListPages(*Sandbox), (std::vector<int>{1, 2, 3}));
    const auto requests = Sandbox->Requests();
    ASSERT_FALSE(requests.empty());
    EXPECT_EQ(Header(requests[0], "X-EBAY-API-COMPATIBILITY-LEVEL"), "527");
    EXPECT_EQ(Header(requests[0], "X-EBAY-API-SITEID"), "77");
}

TEST_F(WorkerThreadTest, AFailedPageFailsTheLoadEvenWhenLaterPagesSucceed) {
    Sandbox->Fault({{"call", "GetMyeBayBuying"}, {"page", 2}, {"kind", "status"}, {"status", 503}});
    const TOutcome outcome = LoadWatchList(Sandbox->Token("demo"));
    EXPECT_EQ(WatchListPages(*Sandbox), (std::vector<int>{1, 2, 3}))
        << "a failed page does not stop the loop";
    EXPECT_FALSE(outcome.CallSucceeded);
    EXPECT_EQ(outcome.ErrorCode, iyServiceUnavailable);
    EXPECT_EQ(outcome.Items, 150) << "pages 1 and 3 of 100, 100 and 50 items";
}

TEST_F(WorkerThreadTest, ALoadReadsAtMostTenPagesAndALongerListIsIncomplete) {
    // Every page brings an item and announces eleven pages.
    Sandbox->Fault(
        {{"call", "GetMyeBayBuying"},
         {"kind", "xml"},
         {"times", 11},
         {"body", "<GetMyeBayBuyingResponse><Ack>Success</Ack><WatchList><ItemArray><Item><ItemID>1"
                  "</ItemID></Item></ItemArray><PaginationResult><TotalNumberOfPages>11"
                  "</TotalNumberOfPages></PaginationResult></WatchList></GetMyeBayBuyingResponse>"}});
    const TOutcome outcome = LoadWatchList(Sandbox->Token("demo"));
    EXPECT_EQ(WatchListPages(*Sandbox), (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
    EXPECT_TRUE(outcome.CallSucceeded);
    EXPECT_FALSE(outcome.ParseSucceeded);
    EXPECT_FALSE(outcome.Complete);
    EXPECT_EQ(outcome.ParserResult, TParserResultCode::prDataParseFailed);
}

TEST_F(WorkerThreadTest, WithoutApplicationDataTheLoadStillEndsAsAFailure) {
    FreeGadgetDat();
    const TOutcome outcome = LoadWatchList("any");
    EXPECT_TRUE(outcome.Called);
    EXPECT_FALSE(outcome.LoopStarted);
    EXPECT_FALSE(outcome.CallSucceeded);
    EXPECT_EQ(outcome.ErrorCode, iyUnknown);
    EXPECT_TRUE(Sandbox->Requests().empty());

    // The manager ends busy and the page says so, keeping the items it had.
    Gadget.Dir().Write("watchlist.dat", ReadTextFile(KOVA_TEST_DATA_DIR "/items/watchlist_two_items.dat"));
    TKovaWatchList list;
    list.SetHomeDirectory(Gadget.Home());
    list.SetResultFileName(Gadget.File("result.txt"));
    list.LoadLocalItems();
    const int items = list.ItemCount();
    ASSERT_EQ(items, 2);
    TEbayLogInInfo login;
    login.UserName = "few";
    login.Token = "any";
    list.StartLoading(login);
    ASSERT_TRUE(MainThreadQueue().RunUntil([&] { return !list.IsBusy(); }, 30000));
    EXPECT_NE(ReadTextFile(Gadget.File("result.txt")).find("Error loading Watchlist: Internet error!"),
              std::string::npos);
    EXPECT_EQ(list.ItemCount(), items);
}

TEST_F(WorkerThreadTest, TokenFetchReportsOnTheMainThreadAfterItsEnd) {
    for (const bool fail : {false, true}) {
        SCOPED_TRACE(fail ? "server error" : "signed in");
        Sandbox->Reset();
        Sandbox->SignIn("few", "secret-1");
        if (fail) Sandbox->Fault({{"call", "FetchToken"}, {"kind", "status"}, {"status", 500}});
        bool notified = false;
        auto* thread = new TThreadFetchToken();
        thread->FreeOnTerminate = true;
        thread->FUserName = "few";
        thread->FSecretID = "secret-1";
        thread->OnTerminate = [&](TThread& t) {
            auto& finished = static_cast<TThreadFetchToken&>(t);
            notified = true;
            EXPECT_TRUE(IsMainThread());
            EXPECT_TRUE(finished.Finished());
            EXPECT_EQ(finished.FCallSucceeded, !fail);
            EXPECT_EQ(finished.FParseSucceeded, !fail);
            EXPECT_EQ(finished.FErrorCode, fail ? iyInternalServerError : iyOK);
            EXPECT_EQ(finished.FToken.empty(), fail);
        };
        thread->Start();
        ASSERT_TRUE(MainThreadQueue().RunUntil([] { return TThreadBase::LiveCount() == 0; }, 60000));
        EXPECT_TRUE(notified);
        // A token that came is followed by the question whose it is (GetUser).
        const auto requests = Sandbox->Requests();
        ASSERT_EQ(requests.size(), fail ? 1u : 2u);
        EXPECT_EQ(Header(requests[0], "X-EBAY-API-COMPATIBILITY-LEVEL"), "459");
        EXPECT_NE(requests[0]["body"].get<std::string>().find("<Username>few</Username>"), std::string::npos);
        if (!fail) EXPECT_EQ(Header(requests[1], "X-EBAY-API-CALL-NAME"), "GetUser");
    }
}

// Against a sandbox whose every answer takes LatencyMs, the time of a load counts its round trips.
class ParallelPagesTest : public TSandboxSuite<ParallelPagesTest> {
protected:
    static constexpr int LatencyMs = 300;
    static void SetUpTestSuite() { StartSandbox({"big:400"}, {"--latency-ms", std::to_string(LatencyMs)}); }
};

TEST_F(ParallelPagesTest, PagesAfterTheFirstTravelSideBySideAndAreReadInPageOrder) {
    const std::string token = Sandbox->Token("big");
    // The same pages one after the other, through the call object alone: the order and the time to beat.
    std::vector<std::string> expected;
    uint64_t started = MonotonicMs();
    {
        TAPICallMyeBayBuying call(Sandbox->ApiUrl());
        SignForSandbox(call, token);
        TXMLMyEbayWatchListParser parser;
        TDetailsList list;
        for (int page = 1; page <= 4; ++page) {
            call.WatchListPageNumber = page;
            TInternetStatus status = iyUnknown;
            ASSERT_TRUE(parser.ParseWatchList(call.GetMyeBayBuying(status, mblWatchList), list, true));
        }
        for (int i = 0; i < list.Count(); ++i)
            expected.push_back(list.GetAuction(i).ArticleNumber);
    }
    const uint64_t oneByOne = MonotonicMs() - started;
    ASSERT_EQ(expected.size(), 400u);
    EXPECT_GE(oneByOne, 4u * LatencyMs);

    Sandbox->Reset(); // forgets the tokens as well
    const std::string freshToken = Sandbox->Token("big");
    started = MonotonicMs();
    const TOutcome outcome = RunWatchListThread(freshToken);
    const uint64_t sideBySide = MonotonicMs() - started;
    EXPECT_TRUE(outcome.Complete);
    EXPECT_EQ(outcome.ArticleNumbers, expected);
    EXPECT_EQ(WatchListPages(*Sandbox), (std::vector<int>{1, 2, 3, 4}));
    // Page 1, then pages 2 to 4 at once: two round trips instead of four.
    EXPECT_LT(sideBySide + LatencyMs, oneByOne) << "one by one " << oneByOne << " ms";
}

TEST_F(ParallelPagesTest, AtMostFourPagesAreOnTheirWayAtOnce) {
    // Ten pages of one item each: page 1, then nine pages four at a time take four round trips at least.
    Sandbox->Fault(
        {{"call", "GetMyeBayBuying"},
         {"kind", "xml"},
         {"times", 10},
         {"body", "<GetMyeBayBuyingResponse><Ack>Success</Ack><WatchList><ItemArray><Item><ItemID>1"
                  "</ItemID></Item></ItemArray><PaginationResult><TotalNumberOfPages>10"
                  "</TotalNumberOfPages></PaginationResult></WatchList></GetMyeBayBuyingResponse>"}});
    const uint64_t started = MonotonicMs();
    const TOutcome outcome = RunWatchListThread(Sandbox->Token("big"));
    const uint64_t elapsed = MonotonicMs() - started;
    EXPECT_TRUE(outcome.Complete);
    EXPECT_EQ(outcome.Items, 10);
    EXPECT_EQ(WatchListPages(*Sandbox), (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
    EXPECT_GE(elapsed, 4u * LatencyMs) << "five or more at once would need three round trips";
    EXPECT_LT(elapsed, 10u * LatencyMs) << "one by one would need ten";
}

TEST_F(ParallelPagesTest, ACancelStopsThePagesOnTheirWayInTime) {
    std::shared_ptr<std::atomic<bool>> cancel;
    std::thread canceler;
    uint64_t canceledAt = 0;
    const TOutcome outcome = RunWatchListThread(Sandbox->Token("big"), [&](TThreadGetMyEbayWatchlist& t) {
        cancel = t.FCancel;
        // Once page 2 has been asked for, page 1 has arrived and pages 2 to 4 wait for their answers.
        canceler = std::thread([&] {
            const uint64_t giveUp = MonotonicMs() + 20000;
            while (MonotonicMs() < giveUp && WatchListPages(*Sandbox).size() < 2)
                SleepMs(20);
            canceledAt = MonotonicMs();
            *cancel = true;
        });
    });
    canceler.join();
    EXPECT_TRUE(outcome.Canceled);
    EXPECT_FALSE(outcome.Complete);
    EXPECT_LT(outcome.FinishedAtMs - canceledAt, 400u) << "within 200 ms, with room for a slow machine";
}

} // namespace
