// ctest-labels: threaded
#include "items/UnitResultLst.h"
#include "platform/UnitPlatformClock.h"
#include "platform/UnitPlatformMainThread.h"
#include "storage/UnitKovaDat.h"
#include "storage/UnitKovaIniFile.h"
#include "storage/UnitKovaeBayLogin.h"
#include "support/GadgetTestDirectory.h"
#include "support/KovaTestSupport.h"
#include "support/SandboxProcess.h"
#include "watchlist/UnitKovaReminders.h"
#include "watchlist/UnitKovaThreads.h"
#include "watchlist/UnitKovaWatchList.h"

#include <gtest/gtest.h>

namespace {

constexpr double Minute = 1.0 / 1440;
constexpr double End = 46000.5;

struct TFields {
    std::string Id;
    int Type = 0;
    bool Reminded = false;
    double EndTime = End;
};

std::unique_ptr<TDetailsList> MakeList(const std::vector<TFields>& items) {
    auto list = std::make_unique<TDetailsList>();
    for (const TFields& f : items) {
        auto item = std::make_unique<TSearchResultAuctionDetails>();
        item->ArticleNumber = f.Id;
        item->Description = "Item " + f.Id;
        item->Link = "https://www.example/itm/" + f.Id;
        item->PriceStandard = 12.5f;
        item->EndTime = f.EndTime;
        item->RemindType = static_cast<TRemindType>(f.Type);
        item->RemindTime = RemindTimeFor(f.EndTime, f.Type);
        item->Reminded = f.Reminded;
        list->Add(std::move(item));
    }
    return list;
}

TEST(RemindersTest, RemindTimeIsTheEndLessTheTypesLead) {
    const struct {
        int Type;
        double LeadMinutes; // negative: no reminder time
    } cases[] = {{0, -1}, {1, 5}, {2, 15}, {3, 30}, {4, 60}, {5, 180}, {6, 1440}, {7, -1}, {-1, -1}};
    for (const auto& c : cases) {
        SCOPED_TRACE("type " + std::to_string(c.Type));
        const double expected = c.LeadMinutes < 0 ? 0 : End - c.LeadMinutes * Minute;
        EXPECT_NEAR(RemindTimeFor(End, c.Type), expected, 1e-9);
    }
    EXPECT_EQ(RemindTimeFor(0, 2), 0) << "an item without an end time has no moment to remind";
}

TEST(RemindersTest, ALoadCarriesRemindersOverByItemNumber) {
    const struct {
        const char* Name;
        std::vector<TFields> Previous, Loaded;
        int Default;
        std::vector<TFields> Expected; // Id, Type, Reminded, EndTime
    } cases[] = {
        {"kept with a moved end time",
         {{"1", 2}, {"2", 0}},
         {{"2"}, {"1", 0, false, End + 1}},
         0,
         {{"2", 0}, {"1", 2, false, End + 1}}},
        {"a given reminder stays given", {{"1", 4, true}}, {{"1"}}, 0, {{"1", 4, true}}},
        {"an item that left takes its reminder",
         {{"1", 2}, {"2", 3}},
         {{"2"}, {"3"}},
         0,
         {{"2", 3}, {"3", 0}}},
        {"new items take the default", {{"1", 0}}, {{"1"}, {"2"}}, 1, {{"1", 0}, {"2", 1}}},
        {"an unknown default gives none", {}, {{"2"}}, 9, {{"2", 0}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        const auto previous = MakeList(c.Previous);
        // eBay's answer carries no reminder: whatever the loaded items held must not survive.
        auto loaded = MakeList(c.Loaded);
        for (int i = 0; i < loaded->Count(); ++i) {
            loaded->GetAuction(i).RemindType = 5;
            loaded->GetAuction(i).Reminded = true;
        }
        CarryOverReminders(*previous, *loaded, c.Default);
        ASSERT_EQ(loaded->Count(), static_cast<int>(c.Expected.size()));
        for (int i = 0; i < loaded->Count(); ++i) {
            const TSearchResultAuctionDetails& item = loaded->GetAuction(i);
            const TFields& want = c.Expected[i];
            EXPECT_EQ(item.ArticleNumber, want.Id);
            EXPECT_EQ(item.RemindType, want.Type) << want.Id;
            EXPECT_EQ(item.Reminded, want.Reminded) << want.Id;
            EXPECT_NEAR(item.RemindTime, RemindTimeFor(want.EndTime, want.Type), 1e-9) << want.Id;
        }
    }
}

TEST(RemindersTest, DueRemindersAreTakenOnceAndEndedItemsAreDropped) {
    const auto again = MakeList(
        {{"soon", 2}, {"later", 1}, {"ended", 1, false, End - 20 * Minute}, {"given", 2, true}, {"off", 0}});
    EXPECT_NEAR(NextRemindTime(*again), End - 25 * Minute, 1e-9);
    const auto before = TakeDueReminders(*again, End - 15.5 * Minute);
    ASSERT_EQ(before.size(), 1u) << "only the ended item's moment has passed";
    EXPECT_EQ(before[0].ItemId, "ended");
    EXPECT_TRUE(before[0].Ended);
    const auto due = TakeDueReminders(*again, End - 15 * Minute);
    ASSERT_EQ(due.size(), 1u);
    EXPECT_EQ(due[0].ItemId, "soon");
    EXPECT_FALSE(due[0].Ended);
    EXPECT_EQ(due[0].Title, "Item soon");
    EXPECT_EQ(due[0].Url, "https://www.example/itm/soon");
    EXPECT_FALSE(due[0].Price.empty());
    EXPECT_TRUE(TakeDueReminders(*again, End - 15 * Minute).empty()) << "a reminder is given once";
    EXPECT_NEAR(NextRemindTime(*again), End - 5 * Minute, 1e-9);
    EXPECT_EQ(TakeDueReminders(*again, End + Minute).size(), 1u);
    EXPECT_EQ(NextRemindTime(*again), 0);
}

// The item numbers of the result file's page, from the page's own links.
std::vector<std::string> PageIds(const std::string& resultFile) {
    const std::string result = ReadTextFile(resultFile);
    std::vector<std::string> ids;
    for (size_t at = result.find("onOpenDetails('"); at != std::string::npos;
         at = result.find("onOpenDetails('", at)) {
        at += 15;
        ids.push_back(result.substr(at, result.find('\'', at) - at));
    }
    return ids;
}

// The manager against the real sandbox: reminders through refreshes, a restart and an item that leaves.
class ReminderLoadTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        Sandbox = new TSandboxProcess({"few:3"});
        setenv("KOVA_EXTRA_CA_FILE", Sandbox->CAPath().c_str(), 1);
    }
    static void TearDownTestSuite() {
        delete Sandbox;
        Sandbox = nullptr;
        unsetenv("KOVA_EXTRA_CA_FILE");
    }
    void SetUp() override {
        SetMainThread();
        LoadGadgetDat(Gadget.Home(), "");
        InitIniFileManager("KovaGadget.ini", Gadget.Home());
    }
    void TearDown() override {
        EXPECT_TRUE(MainThreadQueue().RunUntil([] { return TThreadBase::LiveCount() == 0; }, 30000));
        FreeIniFileManager();
        FreeGadgetDat();
    }

    std::unique_ptr<TKovaWatchList> NewList() {
        auto list = std::make_unique<TKovaWatchList>();
        list->SetHomeDirectory(Gadget.Home());
        list->SetResultFileName(Gadget.File("result.txt"));
        list->LoadLocalItems();
        return list;
    }
    void Load(TKovaWatchList& list) {
        TEbayLogInInfo login;
        login.UserName = "few";
        login.Token = Sandbox->Token("few");
        list.StartLoading(login);
        ASSERT_TRUE(MainThreadQueue().RunUntil([&] { return !list.IsBusy(); }, 30000));
        ASSERT_EQ(list.ItemCount(), 3);
    }
    static std::vector<std::string> Ids(const TKovaWatchList& list) {
        std::vector<std::string> ids;
        for (const TReminderState& r : list.Reminders())
            ids.push_back(r.ItemId + ":" + std::to_string(r.RemindType) + (r.Reminded ? "+" : ""));
        return ids;
    }

    static inline TSandboxProcess* Sandbox = nullptr;
    TGadgetTestDirectory Gadget{SandboxGadget(*Sandbox)};
};

TEST_F(ReminderLoadTest, RemindersSurviveRefreshesAndRestartsAndLeaveWithTheirItem) {
    auto list = NewList();
    Load(*list);
    const std::vector<std::string> ids = PageIds(Gadget.File("result.txt"));
    ASSERT_EQ(ids.size(), 3u);
    EXPECT_FALSE(list->SetReminder("no-such-item", 2)) << "an unknown item number is refused";
    ASSERT_TRUE(list->SetReminder(ids[0], 2));
    ASSERT_TRUE(list->SetReminder(ids[2], 6));
    EXPECT_NE(ReadTextFile(Gadget.File("result.txt")).find("class=red"), std::string::npos)
        << "an item with a reminder shows its end time red";
    EXPECT_EQ(Ids(*list), (std::vector<std::string>{ids[0] + ":2", ids[2] + ":6"}));

    Load(*list);
    EXPECT_EQ(Ids(*list), (std::vector<std::string>{ids[0] + ":2", ids[2] + ":6"})) << "after a refresh";
    EXPECT_EQ(list->TakeDueReminders(list->Reminders()[1].RemindTime).size(), 2u);

    list.reset();
    list = NewList();
    EXPECT_EQ(Ids(*list), (std::vector<std::string>{ids[0] + ":2+", ids[2] + ":6+"})) << "after a restart";
    EXPECT_TRUE(list->TakeDueReminders(1e9).empty()) << "a given reminder is never given again";

    // The first item leaves the watch list and another takes its place.
    Sandbox->Control("/sandbox/item", {{"username", "few"}, {"index", 0}, {"itemId", "990000000001"}});
    Load(*list);
    EXPECT_EQ(Ids(*list), (std::vector<std::string>{ids[2] + ":6+"}));
    list->SaveLocalItems();
    EXPECT_EQ(Ids(*NewList()), (std::vector<std::string>{ids[2] + ":6+"}));
}

TEST(SandboxItemEnds, TheSandboxEndsAnItemWhenTheTestSays) {
    // One item's end from the command line, another's through the control endpoint.
    TSandboxProcess sandbox({"few:3"}, {"--item-ends", "few:1:600"});
    setenv("KOVA_EXTRA_CA_FILE", sandbox.CAPath().c_str(), 1);
    const double started = NowUTC();
    sandbox.Control("/sandbox/item", {{"username", "few"}, {"index", 0}, {"endsInSeconds", 1200}});
    sandbox.Control("/sandbox/item",
                    {{"username", "few"}, {"index", 2}, {"endTime", "2001-02-03T04:05:06Z"}});
    TGadgetTestDirectory gadget{SandboxGadget(sandbox)};
    SetMainThread();
    LoadGadgetDat(gadget.Home(), "");
    InitIniFileManager("KovaGadget.ini", gadget.Home());
    {
        TKovaWatchList list;
        list.SetHomeDirectory(gadget.Home());
        list.SetResultFileName(gadget.File("result.txt"));
        // The rows in eBay's order are the sandbox's items by index.
        list.SetView(TKovaSortOrder::Ebay, std::nullopt);
        TEbayLogInInfo login;
        login.UserName = "few";
        login.Token = sandbox.Token("few");
        list.StartLoading(login);
        ASSERT_TRUE(MainThreadQueue().RunUntil([&] { return !list.IsBusy(); }, 30000));
        const std::vector<std::string> ids = PageIds(gadget.File("result.txt"));
        ASSERT_EQ(ids.size(), 3u);
        const double second = 1.0 / 86400;
        const double expected[] = {started + 300 * second, started - 300 * second,
                                   36925.17020833 - 15 * Minute};
        for (int i = 0; i < 3; ++i) {
            const auto state = list.SetReminder(ids[i], 2);
            ASSERT_TRUE(state);
            EXPECT_NEAR(state->RemindTime, expected[i], 5 * second) << "item " << i;
        }
        const auto due = list.TakeDueReminders(NowUTC());
        ASSERT_EQ(due.size(), 2u);
        EXPECT_EQ(due[0].ItemId, ids[1]);
        EXPECT_FALSE(due[0].Ended) << "the item ends in ten minutes";
        EXPECT_EQ(due[1].ItemId, ids[2]);
        EXPECT_TRUE(due[1].Ended);
    }
    EXPECT_TRUE(MainThreadQueue().RunUntil([] { return TThreadBase::LiveCount() == 0; }, 30000));
    FreeIniFileManager();
    FreeGadgetDat();
    unsetenv("KOVA_EXTRA_CA_FILE");

    for (const nlohmann::json& body :
         {nlohmann::json{{"username", "few"}, {"index", 0}, {"endTime", "soon"}},
          {{"username", "few"}, {"index", 0}, {"endsInSeconds", "60"}},
          {{"username", "few"}, {"index", 0}, {"endsInSeconds", 60}, {"endTime", "2030-01-01T00:00:00Z"}}}) {
        const THttpsReply reply = HttpsExchange({sandbox.Url() + "/sandbox/item",
                                                 "POST",
                                                 body.dump(),
                                                 {"Content-Type: application/json"},
                                                 sandbox.CAPath()});
        EXPECT_EQ(reply.Status, 400) << body.dump() << ": " << reply.Body;
    }
    EXPECT_EQ(TSandboxProcess::RunExpectingFailure({"--state-dir", "/tmp", "--item-ends", "few:x:60"}), 2);
    EXPECT_EQ(TSandboxProcess::RunExpectingFailure({"--state-dir", sandbox.StateDir() + "/other", "--account",
                                                    "few:3", "--item-ends", "few:3:60"}),
              1);
}

} // namespace
