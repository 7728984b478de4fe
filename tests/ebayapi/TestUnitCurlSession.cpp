// ctest-labels: threaded
#include "ebayapi/UnitCurlSession.h"
#include "ebayapi/UnitInternet.h"
#include "platform/UnitPlatformEnvironment.h"
#include "support/KovaTestSupport.h"
#include "support/LoopbackServer.h"
#include "support/SelfMadeCA.h"
#include "support/TinyProxy.h"

#include <atomic>
#include <cstdlib>
#include <gtest/gtest.h>
#include <mutex>
#include <stdexcept>

namespace {

class TScopedExtraCA {
public:
    explicit TScopedExtraCA(const std::string& path) { setenv(KovaExtraCAFileVariable, path.c_str(), 1); }
    ~TScopedExtraCA() { unsetenv(KovaExtraCAFileVariable); }
};

struct TSeen {
    std::mutex Lock;
    httplib::Headers Headers;
    std::string Body;
    std::atomic<int> Requests{0};
};

template <class TServer> void Serve(TServer& server, TSeen& seen) {
    server.Post("/api", [&seen](const httplib::Request& req, httplib::Response& res) {
        ++seen.Requests;
        std::lock_guard<std::mutex> guard(seen.Lock);
        seen.Headers = req.headers;
        seen.Body = req.body;
        res.set_content("<answer/>", "text/xml");
    });
    server.Post(R"(/code/(\d+))", [&seen](const httplib::Request& req, httplib::Response& res) {
        ++seen.Requests;
        res.status = std::stoi(req.matches[1]);
        if (res.status != 200) res.set_content("error page", "text/plain");
        if (res.status == 302) res.set_header("Location", "/api");
    });
    server.Post("/silent", [&seen](const httplib::Request&, httplib::Response& res) {
        ++seen.Requests;
        std::this_thread::sleep_for(std::chrono::milliseconds(1200));
        res.set_content("late", "text/plain");
    });
}

TCurlPostRequest Request(const std::string& url, int retryCount = 3) {
    TCurlPostRequest request;
    request.URL = url;
    request.Body = "<?xml version=\"1.0\" encoding=\"UTF-8\" ?><Ping>&<</Ping>";
    request.HeaderLines = {"X-EBAY-API-SITEID=77", "&Content-Type=text/xml",
                           "X-EBAY-API-CALL-NAME=FetchToken"};
    request.RetryCount = retryCount;
    request.CallerClassName = "TAPICallMyeBayBuying";
    return request;
}

class CurlSessionTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        Dir = new TTempDir;
        CA = new TSelfMadeCA(Dir->Path());
        Good = CA->IssueServerCertificate("good", {"IP:127.0.0.1", "DNS:localhost"});
        OtherName = CA->IssueServerCertificate("other", {"DNS:other.invalid"});
    }
    static void TearDownTestSuite() {
        delete CA;
        delete Dir;
    }
    void SetUp() override {
        Serve(Web.Server, Seen);
        Web.Start();
    }

    static TTempDir* Dir;
    static TSelfMadeCA* CA;
    static TSelfMadeCA::TServerFiles Good, OtherName;
    TSeen Seen;
    TLoopbackServer Web;
};

TTempDir* CurlSessionTest::Dir = nullptr;
TSelfMadeCA* CurlSessionTest::CA = nullptr;
TSelfMadeCA::TServerFiles CurlSessionTest::Good, CurlSessionTest::OtherName;

} // namespace

TEST_F(CurlSessionTest, PostsBodyAndHeaderLinesOverVerifiedTls) {
    TLoopbackTLSServer tls(Good.CertificateFile.c_str(), Good.KeyFile.c_str());
    Serve(tls.Server, Seen);
    tls.Start();
    TScopedExtraCA trust(CA->CertificateFile());

    std::string response = "stale";
    TCurlPostResult result = CurlExecutePost(Request(tls.URL("/api")), response);
    EXPECT_TRUE(result.Result);
    EXPECT_EQ(result.Status, iyOK);
    EXPECT_EQ(result.Attempts, 1);
    EXPECT_EQ(result.PostErrorLog, "");
    EXPECT_EQ(response, "<answer/>");

    std::lock_guard<std::mutex> guard(Seen.Lock);
    EXPECT_EQ(Seen.Body, Request("").Body);
    auto header = [&](const char* name) {
        auto it = Seen.Headers.find(name);
        return it == Seen.Headers.end() ? std::string("<missing>") : it->second;
    };
    EXPECT_EQ(header("Content-Type"), "text/xml");
    EXPECT_EQ(header("&Content-Type"), "text/xml");
    EXPECT_EQ(header("X-EBAY-API-SITEID"), "77");
    EXPECT_EQ(header("X-EBAY-API-CALL-NAME"), "FetchToken");
    EXPECT_EQ(header("User-Agent"), "<missing>");
}

TEST_F(CurlSessionTest, RefusesServersItCannotVerify) {
    TLoopbackTLSServer tls(Good.CertificateFile.c_str(), Good.KeyFile.c_str());
    TLoopbackTLSServer wrongName(OtherName.CertificateFile.c_str(), OtherName.KeyFile.c_str());
    Serve(tls.Server, Seen);
    Serve(wrongName.Server, Seen);
    tls.Start();
    wrongName.Start();

    std::string response;
    EXPECT_THROW(CurlExecutePost(Request(tls.URL("/api")), response), ETLSError) << "CA not trusted";
    {
        TSelfMadeCA stranger(Dir->Path(), "stranger");
        TScopedExtraCA trustStranger(stranger.CertificateFile());
        EXPECT_THROW(CurlExecutePost(Request(tls.URL("/api")), response), ETLSError) << "another CA trusted";
    }

    TScopedExtraCA trust(CA->CertificateFile());
    EXPECT_THROW(CurlExecutePost(Request(wrongName.URL("/api")), response), ETLSError) << "name mismatch";
    EXPECT_EQ(Seen.Requests.load(), 0);

    TInternetIndy indy;
    std::string text = "kept";
    TInternetStatus status = iyOK;
    indy.GetURLText(nullptr, wrongName.URL("/api"), text, status);
    EXPECT_EQ(status, iyUnknown);
    EXPECT_EQ(text, "kept");
    EXPECT_EQ(indy.LastErrorClass(), "ETLSError");
}

TEST_F(CurlSessionTest, RetriesOnlyTlsSetupAndForeignFailuresAndLogsEachAttempt) {
    TLoopbackTLSServer tls(Good.CertificateFile.c_str(), Good.KeyFile.c_str());
    Serve(tls.Server, Seen);
    tls.Start();
    TScopedExtraCA broken(Dir->Write("broken.pem", "-----BEGIN CERTIFICATE-----\nnot base64\n"));

    std::string response;
    TCurlPostResult three = CurlExecutePost(Request(tls.URL("/api"), 3), response);
    EXPECT_FALSE(three.Result);
    EXPECT_EQ(three.Status, iyUnknown);
    EXPECT_EQ(three.Attempts, 3);
    const std::string entry = "No usable certificate in the CA file " + Dir->File("broken.pem");
    EXPECT_EQ(three.PostErrorLog, "TAPICallMyeBayBuying.Post (0/3): " + entry +
                                      " | TAPICallMyeBayBuying.Post (1/3): " + entry +
                                      " | TAPICallMyeBayBuying.Post (2/3): " + entry);

    TCurlPostResult once = CurlExecutePost(Request(tls.URL("/api"), 0), response);
    EXPECT_EQ(once.Attempts, 1);
    EXPECT_EQ(once.PostErrorLog, "TAPICallMyeBayBuying.Post (0/1): " + entry);

    // A failure raised by our own code during the exchange is retried as well, and the answer that arrived
    // before it is not mistaken for a usable one.
    TCurlPostRequest throwing = Request(Web.URL("/api"), 2);
    throwing.OnWork = [](int64_t) { throw std::runtime_error("observer failed"); };
    TCurlPostResult foreign = CurlExecutePost(throwing, response);
    EXPECT_EQ(foreign.Attempts, 2);
    EXPECT_EQ(Seen.Requests.load(), 2);
    EXPECT_FALSE(foreign.Result);
    EXPECT_EQ(foreign.Status, iyUnknown);
    EXPECT_EQ(foreign.PostErrorLog, "TAPICallMyeBayBuying.Post (0/2): observer failed | "
                                    "TAPICallMyeBayBuying.Post (1/2): observer failed");
}

TEST_F(CurlSessionTest, NetworkFailuresEndAtOnceWithTheirStatus) {
    std::string response = "stale";
    TCurlPostRequest slow = Request(Web.URL("/silent"), 3);
    slow.ReadTimeout = 200;
    TCurlPostResult timedOut = CurlExecutePost(slow, response);
    EXPECT_EQ(timedOut.Status, iyRequestTimeout);
    EXPECT_FALSE(timedOut.Result);
    EXPECT_EQ(timedOut.Attempts, 1);
    EXPECT_EQ(response, "");

    int deadPort = FindFreeLoopbackPort();
    TCurlPostResult noServer =
        CurlExecutePost(Request("http://127.0.0.1:" + std::to_string(deadPort) + "/"), response);
    EXPECT_EQ(noServer.Status, iyProxy);
    EXPECT_EQ(noServer.Attempts, 1);

    TProxySettings deadProxy;
    deadProxy.UsesProxy = true;
    deadProxy.Server = "127.0.0.1";
    deadProxy.Port = deadPort;
    TCurlPostRequest viaDeadProxy = Request(Web.URL("/api"));
    viaDeadProxy.ProxySettings = &deadProxy;
    EXPECT_EQ(CurlExecutePost(viaDeadProxy, response).Status, iyProxy);
    EXPECT_EQ(Seen.Requests.load(), 1);
}

TEST_F(CurlSessionTest, AnswersAreMappedOrRaisedAndRedirectsAreNotFollowed) {
    std::string response;
    TCurlPostResult empty = CurlExecutePost(Request(Web.URL("/code/200")), response);
    EXPECT_FALSE(empty.Result);
    EXPECT_EQ(empty.Status, iyOK);

    TCurlPostResult moved = CurlExecutePost(Request(Web.URL("/code/302")), response);
    EXPECT_EQ(moved.Status, iyMovedTemporarily);
    EXPECT_EQ(response, "error page");

    try {
        CurlExecutePost(Request(Web.URL("/code/500")), response);
        ADD_FAILURE() << "an HTTP error answer must be raised";
    } catch (const EHTTPProtocolError& e) {
        EXPECT_EQ(e.ResponseCode, 500);
        EXPECT_EQ(ResponseCodeToStatus(static_cast<int>(e.ResponseCode)), iyInternalServerError);
    }
    EXPECT_EQ(Seen.Requests.load(), 3);

    TCurlPostRequest smuggling = Request(Web.URL("/api"));
    smuggling.HeaderLines.push_back("X-EBAY-API-DEV-NAME=dev\r\nX-Injected: 1");
    EXPECT_THROW(CurlExecutePost(smuggling, response), EHTTPClientError);
    EXPECT_EQ(Seen.Requests.load(), 3);
}

TEST_F(CurlSessionTest, TunnelsTlsThroughAnAuthenticatingProxy) {
    TLoopbackTLSServer tls(Good.CertificateFile.c_str(), Good.KeyFile.c_str());
    Serve(tls.Server, Seen);
    tls.Start();
    TScopedExtraCA trust(CA->CertificateFile());
    TTinyProxy tiny("kova", "s3cret");

    TProxySettings proxy;
    proxy.UsesProxy = true;
    proxy.Server = "127.0.0.1";
    proxy.Port = tiny.Port();
    proxy.UserName = "kova";
    proxy.Password = "s3cret";
    TCurlPostRequest request = Request(tls.URL("/api"));
    request.ProxySettings = &proxy;
    std::string response;

    EXPECT_EQ(CurlExecutePost(request, response).Status, iyProxyAuthenticationRequired)
        << "credentials not sent";
    proxy.NeedsAuthentication = true;
    TCurlPostResult through = CurlExecutePost(request, response);
    EXPECT_TRUE(through.Result);
    EXPECT_EQ(through.Status, iyOK);
    EXPECT_EQ(response, "<answer/>");
    proxy.Password = "guess";
    TCurlPostResult refused = CurlExecutePost(request, response);
    EXPECT_FALSE(refused.Result);
    EXPECT_GE(refused.Status, iyNon);
    EXPECT_EQ(Seen.Requests.load(), 1);
}
