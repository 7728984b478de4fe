#include "base/UnitUtils.h"
#include "ebayapi/UnitCurlSession.h"
#include "ebayapi/UnitKovaGadgetCalls.h"
#include "ebayapi/UnitXMLParser.h"
#include "items/UnitResultLst.h"
#include "platform/UnitPlatformEnvironment.h"
#include "support/KovaTestSupport.h"
#include "support/LoopbackServer.h"
#include "support/SandboxProcess.h"
#include "support/SelfMadeCA.h"
#include "support/TinyProxy.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <set>
#include <stdexcept>
#include <thread>

namespace {

class TScopedExtraCA {
public:
    explicit TScopedExtraCA(const std::string& path) { setenv(KovaExtraCAFileVariable, path.c_str(), 1); }
    ~TScopedExtraCA() { unsetenv(KovaExtraCAFileVariable); }
};

// A call that gives up waiting sooner than the 20 seconds of the real one.
class TImpatientWatchListCall : public TAPICallMyeBayBuying {
public:
    using TAPICallMyeBayBuying::TAPICallMyeBayBuying;
    int GetReadTimeout() const override { return 300; }
};

std::string Header(const nlohmann::json& request, const std::string& name) {
    const nlohmann::json& headers = request.at("headers");
    return headers.contains(name) ? headers.at(name).get<std::string>() : "<missing>";
}

// The watch list call as the worker thread fills it.
void Fill(TAPICallBase& call, const std::string& token) {
    SignForSandbox(call, token);
    call.SiteID = 77;
    call.RetryCount = 3;
}

class KovaGadgetCallsTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { Sandbox = new TSandboxProcess({"demo:250", "nobody:0", "few:3"}); }
    static void TearDownTestSuite() {
        delete Sandbox;
        Sandbox = nullptr;
    }
    void SetUp() override {
        Sandbox->Reset();
        Token = Sandbox->Token("demo");
    }

    std::unique_ptr<TAPICallMyeBayBuying> WatchListCall(const std::string& token) {
        auto call = std::make_unique<TAPICallMyeBayBuying>(Sandbox->ApiUrl());
        Fill(*call, token);
        call->DurationInDays = 90;
        return call;
    }

    // Pages through the watch list as the worker thread does; returns the number of pages requested.
    int LoadAll(TAPICallMyeBayBuying& call, TXMLMyEbayWatchListParser& parser, TDetailsList& items) {
        int page = 0, pageCount = 1;
        while (page < pageCount) {
            call.WatchListPageNumber = ++page;
            TInternetStatus status = iyUnknown;
            TMemoryStream* response = call.GetMyeBayBuying(status, mblWatchList);
            if (InternetStatusSucceeded(status)) {
                EXPECT_TRUE(parser.ParseWatchList(response, items, true));
            }
            pageCount = parser.TotalNumberOfPages;
        }
        return page;
    }

    static TSandboxProcess* Sandbox;
    TScopedExtraCA Trust{Sandbox->CAPath()};
    std::string Token;
};

TSandboxProcess* KovaGadgetCallsTest::Sandbox = nullptr;

const std::string Declaration = "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>";

} // namespace

TEST_F(KovaGadgetCallsTest, WatchListRequestGoesOutWithItsHeadersAndBody) {
    auto call = WatchListCall(Token);
    call->UserName = "demo";
    call->Password = "not sent beside a token";
    call->WatchListPageNumber = 2;
    TInternetStatus status = iyUnknown;
    TMemoryStream* response = call->GetMyeBayBuying(status, mblWatchList);
    ASSERT_NE(response, nullptr);
    EXPECT_EQ(status, iyOK);
    EXPECT_EQ(call->PostErrorLog(), "");

    const std::vector<std::string> lines{
        "X-EBAY-API-COMPATIBILITY-LEVEL=527",
        "X-EBAY-API-SESSION-CERTIFICATE=KovaSandboxDev;KovaSandboxApp;KovaSandboxCert",
        "X-EBAY-API-DEV-NAME=KovaSandboxDev",
        "X-EBAY-API-APP-NAME=KovaSandboxApp",
        "X-EBAY-API-CERT-NAME=KovaSandboxCert",
        "X-EBAY-API-SITEID=77",
        "&Content-Type=text/xml",
        "X-EBAY-API-CALL-NAME=GetMyeBayBuying"};
    EXPECT_EQ(call->HeaderLines(), lines);

    const std::string body = Declaration +
                             "<GetMyeBayBuyingRequest xmlns=\"urn:ebay:apis:eBLBaseComponents\">"
                             "<DetailLevel>ReturnAll</DetailLevel>"
                             "<RequesterCredentials><eBayAuthToken>" +
                             Token +
                             "</eBayAuthToken></RequesterCredentials>"
                             "<FavoriteSearches><Include>0</Include></FavoriteSearches>"
                             "<FavoriteSellers><Include>0</Include></FavoriteSellers>"
                             "<WatchList><Pagination><EntriesPerPage>100</EntriesPerPage>"
                             "<PageNumber>2</PageNumber></Pagination></WatchList>"
                             "</GetMyeBayBuyingRequest>";
    const nlohmann::json requests = Sandbox->Requests();
    ASSERT_EQ(requests.size(), 1u);
    const nlohmann::json& sent = requests[0];
    EXPECT_EQ(sent.at("body"), body);
    for (const std::string& line : lines) {
        const size_t eq = line.find('=');
        EXPECT_EQ(Header(sent, line.substr(0, eq)), line.substr(eq + 1)) << line;
    }
    EXPECT_EQ(Header(sent, "Content-Type"), "text/xml");
    EXPECT_EQ(Header(sent, "Accept-Encoding"), "<missing>") << "a server on this machine is not asked to compress";

    TXMLMyEbayWatchListParser parser;
    TDetailsList items;
    EXPECT_TRUE(parser.ParseWatchList(response, items, true));
    EXPECT_EQ(items.Count(), 100);
    EXPECT_EQ(parser.TotalNumberOfPages, 3);
}

TEST_F(KovaGadgetCallsTest, EveryListFlagAddsItsBlockInTheFixedOrder) {
    auto call = WatchListCall(Token);
    call->LostListPageNumber = 4;
    call->WonListPageNumber = 3;
    call->BidListPageNumber = 2;
    call->WatchListPageNumber = 1;
    call->Lists = mblWatchList | mblBidList | mblWonList | mblLostList;
    call->BuildRequestBody("GetMyeBayBuyingRequest", "  ");
    EXPECT_EQ(
        call->RequestText(),
        Declaration +
            "<GetMyeBayBuyingRequest xmlns=\"urn:ebay:apis:eBLBaseComponents\">"
            "<RequesterCredentials><eBayAuthToken>" +
            Token +
            "</eBayAuthToken></RequesterCredentials>"
            "<FavoriteSearches><Include>0</Include></FavoriteSearches>"
            "<FavoriteSellers><Include>0</Include></FavoriteSellers>"
            "<LostList><DurationInDays>90</DurationInDays><Pagination><EntriesPerPage>200</EntriesPerPage>"
            "<PageNumber>4</PageNumber></Pagination></LostList>"
            "<WonList><DurationInDays>90</DurationInDays><Pagination><EntriesPerPage>200</EntriesPerPage>"
            "<PageNumber>3</PageNumber></Pagination></WonList>"
            "<BidList><Pagination><EntriesPerPage>200</EntriesPerPage>"
            "<PageNumber>2</PageNumber></Pagination></BidList>"
            "<WatchList><Pagination><EntriesPerPage>100</EntriesPerPage>"
            "<PageNumber>1</PageNumber></Pagination></WatchList>"
            "</GetMyeBayBuyingRequest>");
}

TEST_F(KovaGadgetCallsTest, FetchTokenSendsTheUserNameAndSecretAndGetsTheToken) {
    Sandbox->SignIn("demo", "secret-7f3a");
    TAPICallFetchToken call(Sandbox->ApiUrl());
    Fill(call, "");
    call.CompatibilityLevel = 459;
    call.UserName = "demo";
    TInternetStatus status = iyUnknown;
    TMemoryStream* response = call.FetchToken("demo", "secret-7f3a", status);
    ASSERT_NE(response, nullptr);
    EXPECT_EQ(status, iyOK);
    EXPECT_EQ(call.HeaderLines().front(), "X-EBAY-API-COMPATIBILITY-LEVEL=459");
    EXPECT_EQ(call.HeaderLines().back(), "X-EBAY-API-CALL-NAME=FetchToken");

    const nlohmann::json sent = Sandbox->Requests().at(0);
    EXPECT_EQ(sent.at("body"), Declaration +
                                   "<FetchTokenRequest xmlns=\"urn:ebay:apis:eBLBaseComponents\">"
                                   "<RequesterCredentials><Username>demo</Username></RequesterCredentials>"
                                   "<SecretID>secret-7f3a</SecretID></FetchTokenRequest>");
    EXPECT_EQ(Header(sent, "X-EBAY-API-CALL-NAME"), "FetchToken");
    EXPECT_EQ(Header(sent, "&Content-Type"), "text/xml");

    TXMLeBayFetchTokenParser parser;
    std::string token;
    ASSERT_TRUE(parser.ParseToken(response, token));
    EXPECT_TRUE(token.starts_with("AgAAAA**")) << token;
}

TEST_F(KovaGadgetCallsTest, GetSessionIDThenFetchTokenBySessionCarryNoUserCredentials) {
    TAPICallGetSessionID session(Sandbox->ApiUrl());
    Fill(session, "");
    session.CompatibilityLevel = 459;
    TInternetStatus status = iyUnknown;
    TMemoryStream* response = session.GetSessionID(SandboxRuName, status);
    ASSERT_NE(response, nullptr);
    EXPECT_EQ(session.HeaderLines().back(), "X-EBAY-API-CALL-NAME=GetSessionID");
    EXPECT_EQ(Sandbox->Requests().at(0).at("body"),
              Declaration + "<GetSessionIDRequest xmlns=\"urn:ebay:apis:eBLBaseComponents\"><RuName>" +
                  SandboxRuName + "</RuName></GetSessionIDRequest>");
    TXMLeBaySessionIDParser parser;
    std::string sessionId;
    ASSERT_TRUE(parser.ParseSessionID(response, sessionId));
    EXPECT_GE(sessionId.size(), 30u);

    Sandbox->SignIn("demo", sessionId);
    TAPICallFetchToken fetch(Sandbox->ApiUrl());
    Fill(fetch, "");
    fetch.SessionID = sessionId;
    ASSERT_NE(fetch.FetchToken("demo", "ignored", status), nullptr);
    EXPECT_EQ(Sandbox->Requests().at(1).at("body"),
              Declaration + "<FetchTokenRequest xmlns=\"urn:ebay:apis:eBLBaseComponents\"><SessionID>" +
                  sessionId + "</SessionID></FetchTokenRequest>");
    TXMLeBayFetchTokenParser tokenParser;
    std::string token;
    EXPECT_TRUE(tokenParser.ParseToken(&fetch.Response(), token));
    EXPECT_TRUE(token.starts_with("AgAAAA**")) << token;

    // A redirect name the sandbox does not know is refused with eBay's error block, not a session.
    TAPICallGetSessionID refused(Sandbox->ApiUrl());
    Fill(refused, "");
    ASSERT_NE(refused.GetSessionID("Someone-Else", status), nullptr);
    TXMLeBaySessionIDParser refusedParser;
    std::string kept = "kept";
    EXPECT_FALSE(refusedParser.ParseSessionID(&refused.Response(), kept));
    EXPECT_EQ(kept, "kept");
    EXPECT_EQ(refusedParser.GetResultCode(), TParserResultCode::prApiError);
}

TEST_F(KovaGadgetCallsTest, MarkupInCredentialsStaysText) {
    TAPICallFetchToken call(Sandbox->ApiUrl());
    Fill(call, "");
    call.UserName = "demo</Username><Username>root";
    call.Password = "p&ss<word>";
    TInternetStatus status = iyUnknown;
    TMemoryStream* response = call.FetchToken(call.UserName, "a&b]]>", status);
    ASSERT_NE(response, nullptr);
    EXPECT_EQ(Sandbox->Requests().at(0).at("body"),
              Declaration +
                  "<FetchTokenRequest xmlns=\"urn:ebay:apis:eBLBaseComponents\"><RequesterCredentials>"
                  "<Username>demo&lt;/Username&gt;&lt;Username&gt;root</Username>"
                  "<Password>p&amp;ss&lt;word&gt;</Password></RequesterCredentials>"
                  "<SecretID>a&amp;b]]&gt;</SecretID></FetchTokenRequest>");
    // The sandbox read the body as XML and judged the credentials, instead of failing to parse it.
    TXMLeBayFetchTokenParser parser;
    std::string token = "unchanged";
    EXPECT_FALSE(parser.ParseToken(response, token));
    EXPECT_EQ(parser.GetResultCode(), TParserResultCode::prApiError);
    EXPECT_EQ(parser.ResultMessage(),
              "Error on API call (The end user has not completed Auth & Auth sign in flow.).");

    auto watch = WatchListCall(Token + "&<x>");
    ASSERT_NE(watch->GetMyeBayBuying(status, mblWatchList), nullptr);
    TXMLMyEbayWatchListParser watchParser;
    TDetailsList items;
    EXPECT_FALSE(watchParser.ParseWatchList(&watch->Response(), items, true));
    EXPECT_EQ(watchParser.GetResultCode(), TParserResultCode::prTokenInvalid);
}

TEST_F(KovaGadgetCallsTest, PagesThroughAWatchListOfEveryLength) {
    TXMLMyEbayWatchListParser parser;
    TDetailsList items;
    auto call = WatchListCall(Token);
    EXPECT_EQ(LoadAll(*call, parser, items), 3);
    EXPECT_EQ(items.Count(), 250);
    std::set<std::string> numbers;
    for (int i = 0; i < items.Count(); ++i)
        numbers.insert(items.GetAuction(i).ArticleNumber);
    EXPECT_EQ(numbers.size(), 250u) << "each page brings other items";
    std::vector<int> pages;
    for (const nlohmann::json& request : Sandbox->Requests())
        pages.push_back(request.at("page").get<int>());
    EXPECT_EQ(pages, (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(parser.GetResultCode(), TParserResultCode::prNoError);

    TXMLMyEbayWatchListParser emptyParser;
    TDetailsList none;
    auto empty = WatchListCall(Sandbox->Token("nobody"));
    EXPECT_EQ(LoadAll(*empty, emptyParser, none), 1) << "zero pages end the loop after page 1";
    EXPECT_EQ(none.Count(), 0);
    EXPECT_EQ(emptyParser.TotalNumberOfPages, 0);

    // A failed page 2 does not stop the loop; page 3 is still asked for.
    Sandbox->Reset();
    const std::string token = Sandbox->Token("demo");
    Sandbox->Fault({{"kind", "truncated"}, {"page", 2}});
    TXMLMyEbayWatchListParser gappy;
    TDetailsList some;
    auto call2 = WatchListCall(token);
    EXPECT_EQ(LoadAll(*call2, gappy, some), 3);
    EXPECT_EQ(some.Count(), 150);
}

TEST_F(KovaGadgetCallsTest, RetriesOnlyFailuresOutsideTheHttpClientAndLogsEachAttempt) {
    struct TCase {
        int RetryCount;
        int Attempts;
    };
    for (const TCase c : {TCase{0, 1}, TCase{1, 1}, TCase{3, 3}}) {
        SCOPED_TRACE(c.RetryCount);
        Sandbox->Reset();
        auto call = WatchListCall(Sandbox->Token("demo"));
        call->RetryCount = c.RetryCount;
        call->OnWork = [](int64_t) { throw std::runtime_error("progress display failed "); };
        TInternetStatus status = iyOK;
        EXPECT_EQ(call->GetMyeBayBuying(status, mblWatchList), nullptr);
        EXPECT_EQ(status, iyUnknown);
        EXPECT_EQ(Sandbox->Requests().size(), static_cast<size_t>(c.Attempts));
        std::string log;
        for (int i = 0; i < c.Attempts; ++i)
            log += (i ? " | " : "") +
                   Format("TAPICallMyeBayBuying.Post (%d/%d): progress display failed", {i, c.Attempts});
        EXPECT_EQ(call->PostErrorLog(), log);
        EXPECT_EQ(call->Response().Size(), 0);
    }

    // A later attempt that gets through delivers the answer.
    Sandbox->Reset();
    auto recovering = WatchListCall(Sandbox->Token("demo"));
    int failures = 1;
    recovering->OnWork = [&failures](int64_t) {
        if (failures-- > 0) throw std::runtime_error("once");
    };
    TInternetStatus status = iyUnknown;
    EXPECT_NE(recovering->GetMyeBayBuying(status, mblWatchList), nullptr);
    EXPECT_EQ(status, iyOK);
    EXPECT_EQ(recovering->PostErrorLog(), "TAPICallMyeBayBuying.Post (0/3): once");
    EXPECT_EQ(recovering->Attempt(), 1);

    // A TLS context that cannot be built is retried too, and nothing reaches the server.
    Sandbox->Reset();
    TTempDir dir;
    TScopedExtraCA missing(dir.File("missing.pem"));
    TAPICallFetchToken fetch(Sandbox->ApiUrl());
    Fill(fetch, "");
    fetch.UserName = "demo";
    EXPECT_EQ(fetch.FetchToken("demo", "sid", status), nullptr);
    EXPECT_EQ(status, iyUnknown);
    const std::string entry = "Cannot read the CA file " + dir.File("missing.pem");
    EXPECT_EQ(fetch.PostErrorLog(), "TAPICallFetchToken.Post (0/3): " + entry +
                                        " | TAPICallFetchToken.Post (1/3): " + entry +
                                        " | TAPICallFetchToken.Post (2/3): " + entry);
    EXPECT_EQ(Sandbox->Requests().size(), 0u);
}

TEST_F(KovaGadgetCallsTest, TransportFailuresEndTheCallAtOnceWithTheirStatus) {
    // Each fault names its own page: a busy sandbox may read the abandoned slow request late, and it must not
    // take another request's fault.
    TImpatientWatchListCall slow(Sandbox->ApiUrl());
    Fill(slow, Token);
    slow.WatchListPageNumber = 1;
    Sandbox->Fault({{"kind", "delay"}, {"page", 1}, {"ms", 1500}});
    TInternetStatus status = iyOK;
    EXPECT_EQ(slow.GetMyeBayBuying(status, mblWatchList), nullptr);
    EXPECT_EQ(status, iyRequestTimeout);
    EXPECT_EQ(slow.PostErrorLog(), "");

    int page = 1;
    for (const char* kind : {"drop", "truncated"}) {
        SCOPED_TRACE(kind);
        Sandbox->Fault({{"kind", kind}, {"page", ++page}});
        auto call = WatchListCall(Token);
        call->WatchListPageNumber = page;
        EXPECT_EQ(call->GetMyeBayBuying(status, mblWatchList), nullptr);
        EXPECT_EQ(status, iyUnknown) << "no proxy is set, so the proxy settings are not to blame";
        EXPECT_EQ(call->FailureMessage(), ConnectionLostMessage);
    }

    auto refused = std::make_unique<TAPICallMyeBayBuying>(
        "https://127.0.0.1:" + std::to_string(FindFreeLoopbackPort()) + "/ws/api.dll");
    Fill(*refused, Token);
    EXPECT_EQ(refused->GetMyeBayBuying(status, mblWatchList), nullptr);
    EXPECT_EQ(status, iyUnknown);
    EXPECT_EQ(refused->FailureMessage(), "") << "\"No connection to Internet\" fits";

    TProxySettings deadProxy;
    deadProxy.UsesProxy = true;
    deadProxy.Server = "127.0.0.1";
    deadProxy.Port = FindFreeLoopbackPort();
    auto viaDeadProxy = WatchListCall(Token);
    viaDeadProxy->SetProxySettings(deadProxy);
    EXPECT_EQ(viaDeadProxy->GetMyeBayBuying(status, mblWatchList), nullptr);
    EXPECT_EQ(status, iyProxy);
    EXPECT_EQ(viaDeadProxy->FailureMessage(), "");

    // Only the delayed request, the dropped and the truncated one reached the sandbox, each once.
    for (int wait = 0; wait < 200 && Sandbox->Requests().size() < 3; ++wait)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(Sandbox->Requests().size(), 3u);
}

TEST_F(KovaGadgetCallsTest, HttpErrorAnswersAreRaisedAndOddBodiesPassedOn) {
    struct TCase {
        int Code;
        TInternetStatus Status;
    };
    for (const TCase c : {TCase{500, iyInternalServerError}, TCase{407, iyProxyAuthenticationRequired}}) {
        SCOPED_TRACE(c.Code);
        Sandbox->Fault({{"kind", "status"}, {"status", c.Code}});
        auto call = WatchListCall(Token);
        TInternetStatus status = iyOK;
        try {
            call->GetMyeBayBuying(status, mblWatchList);
            ADD_FAILURE() << "an HTTP error answer must be raised";
        } catch (const EHTTPProtocolError& e) {
            EXPECT_EQ(e.ResponseCode, c.Code);
        }
        EXPECT_EQ(status, c.Status);
    }
    EXPECT_EQ(Sandbox->Requests().size(), 2u) << "no retries";

    Sandbox->Fault({{"kind", "empty"}});
    auto empty = WatchListCall(Token);
    TInternetStatus status = iyUnknown;
    EXPECT_EQ(empty->GetMyeBayBuying(status, mblWatchList), nullptr);
    EXPECT_EQ(status, iyOK);
    EXPECT_TRUE(empty->Succeeded());

    Sandbox->Fault({{"kind", "notxml"}});
    auto garbage = WatchListCall(Token);
    TMemoryStream* response = garbage->GetMyeBayBuying(status, mblWatchList);
    ASSERT_NE(response, nullptr);
    TXMLMyEbayWatchListParser parser;
    TDetailsList items;
    EXPECT_FALSE(parser.ParseWatchList(response, items, true));
    EXPECT_EQ(parser.GetResultCode(), TParserResultCode::prDataParseFailed);
}

TEST_F(KovaGadgetCallsTest, TunnelsThroughAProxyWithAndWithoutCredentials) {
    TTinyProxy open;
    TProxySettings proxy;
    proxy.UsesProxy = true;
    proxy.Server = "127.0.0.1";
    proxy.Port = open.Port();
    auto call = WatchListCall(Token);
    call->SetProxySettings(proxy);
    TInternetStatus status = iyUnknown;
    ASSERT_NE(call->GetMyeBayBuying(status, mblWatchList), nullptr);
    EXPECT_NE(open.LogText().find("CONNECT"), std::string::npos) << open.LogText();

    TTinyProxy guarded("kova", "s3cret");
    proxy.Port = guarded.Port();
    proxy.UserName = "kova";
    proxy.Password = "s3cret";
    call->SetProxySettings(proxy);
    EXPECT_EQ(call->GetMyeBayBuying(status, mblWatchList), nullptr);
    EXPECT_EQ(status, iyProxyAuthenticationRequired) << "credentials only with their flag";

    proxy.NeedsAuthentication = true;
    call->SetProxySettings(proxy);
    proxy.Password = "changed after the copy";
    ASSERT_NE(call->GetMyeBayBuying(status, mblWatchList), nullptr);
    EXPECT_EQ(status, iyOK);
    EXPECT_NE(guarded.LogText().find("CONNECT"), std::string::npos);

    // A proxy record whose flag is clear is ignored even with a server in it.
    proxy.UsesProxy = false;
    proxy.Port = FindFreeLoopbackPort();
    call->SetProxySettings(proxy);
    ASSERT_NE(call->GetMyeBayBuying(status, mblWatchList), nullptr);
    EXPECT_EQ(Sandbox->Requests().size(), 3u);
}

TEST(KovaGadgetCalls, OnlyServersElsewhereAreAskedForGzip) {
    for (const char* url :
         {"https://api.ebay.com/ws/api.dll", "https://10.0.0.1/ws/api.dll", "https://128.0.0.1/x",
          "https://[2001:db8::1]:443/x", "https://127.example/x", "https://user@api.ebay.com:443/ws?x#y"})
        EXPECT_TRUE(AsksForCompressedAnswers(url)) << url;
    for (const char* url :
         {"https://127.0.0.1:4443/ws/api.dll", "https://127.8.9.10/x", "https://LocalHost/x",
          "https://[::1]:8443/ws/api.dll", "https://u:p@localhost:1?q"})
        EXPECT_FALSE(AsksForCompressedAnswers(url)) << url;
}

TEST_F(KovaGadgetCallsTest, OnlyHttpsAddressesGetTheRequest) {
    std::atomic<int> plainRequests{0};
    TLoopbackServer plain;
    plain.Server.Post("/ws/api.dll", [&](const httplib::Request&, httplib::Response& res) {
        ++plainRequests;
        res.set_content("<answer/>", "text/xml");
    });
    plain.Start();
    const std::string port = ":" + std::to_string(Sandbox->Port());
    for (const std::string& url : {plain.URL("/ws/api.dll"), "HTTP://127.0.0.1" + port + "/ws/api.dll",
                                   " https://127.0.0.1" + port + "/ws/api.dll", std::string("https://"),
                                   std::string("ftp://127.0.0.1/"), std::string()}) {
        SCOPED_TRACE(url);
        TAPICallMyeBayBuying call(url);
        Fill(call, Token);
        TInternetStatus status = iyOK;
        EXPECT_EQ(call.GetMyeBayBuying(status, mblWatchList), nullptr);
        EXPECT_EQ(status, iyUnknown);
        EXPECT_EQ(call.FailureMessage(),
                  "Internet error! The eBay API address does not use https, so the request was not sent.");
    }
    EXPECT_EQ(plainRequests.load(), 0);
    EXPECT_EQ(Sandbox->Requests().size(), 0u);

    TAPICallMyeBayBuying upper("HTTPS://127.0.0.1" + port + "/ws/api.dll");
    Fill(upper, Token);
    TInternetStatus status = iyUnknown;
    EXPECT_NE(upper.GetMyeBayBuying(status, mblWatchList), nullptr);
    EXPECT_EQ(upper.FailureMessage(), "");
}

TEST_F(KovaGadgetCallsTest, DeadlinesCancelAndCertificateFailuresReachTheCaller) {
    TAPICallMyeBayBuying defaults(Sandbox->ApiUrl());
    EXPECT_EQ(defaults.GetReadTimeout(), 20000);
    EXPECT_EQ(defaults.GetOverallTimeout(), 60000);

    // The delay keeps sending nothing; the read time-out alone would wait 5 s.
    struct TRestoreDeadlines {
        ~TRestoreDeadlines() { SetAPICallDeadlines(20000, 60000); }
    } restore;
    SetAPICallDeadlines(5000, 400);
    Sandbox->Fault({{"kind", "delay"}, {"ms", 1500}});
    auto slow = WatchListCall(Token);
    TInternetStatus status = iyOK;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(slow->GetMyeBayBuying(status, mblWatchList), nullptr);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1200));
    EXPECT_EQ(status, iyRequestTimeout);

    std::atomic<bool> cancel{true};
    auto canceled = WatchListCall(Token);
    canceled->Cancel = &cancel;
    EXPECT_THROW(canceled->GetMyeBayBuying(status, mblWatchList), EHTTPCanceledError);
    EXPECT_EQ(status, iyUnknown);
    EXPECT_EQ(Sandbox->Requests().size(), 1u) << "only the delayed request";

    TTempDir dir;
    TSelfMadeCA stranger(dir.Path(), "stranger");
    TScopedExtraCA trustStranger(stranger.CertificateFile());
    auto untrusted = WatchListCall(Token);
    EXPECT_EQ(untrusted->GetMyeBayBuying(status, mblWatchList), nullptr);
    EXPECT_EQ(status, iyUnknown);
    EXPECT_EQ(untrusted->FailureMessage(), CertificateFailureMessage);
}
