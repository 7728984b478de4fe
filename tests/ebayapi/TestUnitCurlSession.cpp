// ctest-labels: threaded
#include "ebayapi/UnitCurlSession.h"
#include "ebayapi/UnitInternet.h"
#include "platform/UnitPlatformEnvironment.h"
#include "support/KovaTestSupport.h"
#include "support/LoopbackServer.h"
#include "support/SelfMadeCA.h"
#include "support/TinyProxy.h"
#include "support/UnitLogging.h"

#include <atomic>
#include <cstdlib>
#include <gtest/gtest.h>
#include <mutex>
#include <netinet/in.h>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

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
    // Never silent for long, never done: one byte every 300 ms until the client goes (or 12 s have passed).
    server.Post("/trickle", [&seen](const httplib::Request&, httplib::Response& res) {
        ++seen.Requests;
        res.set_chunked_content_provider("text/xml", [](size_t offset, httplib::DataSink& sink) {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            if (offset >= 40) return false;
            return sink.write("x", 1);
        });
    });
    // The connection breaks off in the middle of the answer.
    server.Post("/broken", [&seen](const httplib::Request&, httplib::Response& res) {
        ++seen.Requests;
        res.set_chunked_content_provider("text/xml", [](size_t offset, httplib::DataSink& sink) {
            return offset == 0 && sink.write("<answer>", 8);
        });
    });
}

int64_t MsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start)
        .count();
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
    EXPECT_EQ(header("Expect"), "<missing>");
}

// Our HTTP server library drops headers without a value, so the request is read off a bare socket.
std::string CaptureRawRequest(const std::function<void(const std::string& url)>& send) {
    const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (listener < 0 || bind(listener, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        listen(listener, 1) != 0 ||
        getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        throw std::runtime_error("no loopback socket");
    std::string raw;
    std::thread server([&] {
        const int connection = accept(listener, nullptr, nullptr);
        char buffer[4096];
        while (raw.find("</x>") == std::string::npos) {
            const ssize_t got = recv(connection, buffer, sizeof buffer, 0);
            if (got <= 0) break;
            raw.append(buffer, static_cast<size_t>(got));
        }
        const std::string answer = "HTTP/1.1 200 OK\r\nContent-Length: 3\r\nConnection: close\r\n\r\nok!";
        (void)::send(connection, answer.data(), answer.size(), MSG_NOSIGNAL);
        close(connection);
    });
    send("http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/api");
    server.join();
    close(listener);
    return raw;
}

TEST_F(CurlSessionTest, HeaderLinesWithoutAValueGoOutAsEmptyHeaders) {
    const std::string sent = CaptureRawRequest([](const std::string& url) {
        TCurlPostRequest request = Request(url);
        request.Body = "<x></x>";
        request.HeaderLines = {"X-Empty=", "X-Colon:", "X-Blank:  ", "&Content-Type=text/xml"};
        std::string response;
        EXPECT_TRUE(CurlExecutePost(request, response).Result);
        EXPECT_EQ(response, "ok!");
    });
    for (const char* line :
         {"\r\nX-Empty:\r\n", "\r\nX-Colon:\r\n", "\r\nX-Blank:\r\n", "\r\n&Content-Type: text/xml\r\n"})
        EXPECT_NE(sent.find(line), std::string::npos) << line << sent;
    EXPECT_EQ(sent.find("Expect"), std::string::npos) << "the client's own removal stays a removal";
}

TEST_F(CurlSessionTest, RefusesServersItCannotVerify) {
    TLoopbackTLSServer tls(Good.CertificateFile.c_str(), Good.KeyFile.c_str());
    TLoopbackTLSServer wrongName(OtherName.CertificateFile.c_str(), OtherName.KeyFile.c_str());
    Serve(tls.Server, Seen);
    Serve(wrongName.Server, Seen);
    tls.Start();
    wrongName.Start();

    TTempDir logDir;
    StartLogging(lgAll, lgtrgtToFile, logDir.File("kova.log"));
    TSelfMadeCA stranger(Dir->Path(), "stranger");
    struct TCase {
        const char* Name;
        std::string URL;
        std::string TrustedCA; // "" trusts only the system's CAs
        const char* Message;
    };
    const TCase cases[] = {
        {"CA not trusted", tls.URL("/api"), "", CertificateFailureMessage},
        {"another CA trusted", tls.URL("/api"), stranger.CertificateFile(), CertificateFailureMessage},
        {"name mismatch", wrongName.URL("/api"), CA->CertificateFile(), CertificateFailureMessage},
        {"no TLS at the other end", "https://127.0.0.1:" + std::to_string(Web.Port()) + "/api",
         CA->CertificateFile(), SecureConnectionFailureMessage},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        std::optional<TScopedExtraCA> trust;
        if (!c.TrustedCA.empty()) trust.emplace(c.TrustedCA);
        std::string response = "stale";
        TCurlPostResult result = CurlExecutePost(Request(c.URL), response);
        EXPECT_FALSE(result.Result);
        EXPECT_EQ(result.Status, iyUnknown);
        EXPECT_EQ(result.FailureMessage, c.Message);
        EXPECT_EQ(result.Attempts, 1) << "a refused server is not asked again";
        EXPECT_EQ(response, "");
    }
    EXPECT_EQ(Seen.Requests.load(), 0);
    StopLogging(true);
    // Each failure leaves its exact reason as an error line.
    std::vector<std::string> reasons;
    std::istringstream log(ReadTextFile(logDir.File("kova.log")));
    for (std::string line; std::getline(log, line);)
        if (auto at = line.find(" - TAPICallMyeBayBuying.Post: "); at != std::string::npos) {
            EXPECT_TRUE(line.starts_with("Error: ")) << line;
            reasons.push_back(Trim(line.substr(at + 30)));
        }
    ASSERT_EQ(reasons.size(), 4u);
    for (const std::string& reason : reasons)
        EXPECT_GT(reason.size(), 10u) << reason;

    TScopedExtraCA trust(CA->CertificateFile());

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

TEST_F(CurlSessionTest, NetworkFailuresEndAtOnceWithTheirStatusAndAFittingMessage) {
    const int deadPort = FindFreeLoopbackPort();
    TProxySettings deadProxy;
    deadProxy.UsesProxy = true;
    deadProxy.Server = "127.0.0.1";
    deadProxy.Port = deadPort;
    TTinyProxy tiny;
    TProxySettings openProxy = deadProxy;
    openProxy.Port = tiny.Port();
    struct TCase {
        const char* Name;
        std::string Path; // on the loopback server, or a full URL
        int ReadTimeout;
        const TProxySettings* Proxy;
        TInternetStatus Status;
        std::string Message;
    };
    const TCase cases[] = {
        {"silent server", "/silent", 200, nullptr, iyRequestTimeout, ""},
        // Without a proxy the proxy settings are not to blame.
        {"nobody listening", "http://127.0.0.1:" + std::to_string(deadPort) + "/", 20000, nullptr, iyUnknown,
         ""},
        {"answer broken off", "/broken", 20000, nullptr, iyUnknown, ConnectionLostMessage},
        {"proxy not listening", "/api", 20000, &deadProxy, iyProxy, ""},
        {"answer broken off behind a proxy", "/broken", 20000, &openProxy, iyProxy, ""},
    };
    int requests = 0;
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TCurlPostRequest request = Request(c.Path.starts_with("/") ? Web.URL(c.Path) : c.Path, 3);
        request.ReadTimeout = c.ReadTimeout;
        request.ProxySettings = c.Proxy;
        std::string response = "stale";
        const auto start = std::chrono::steady_clock::now();
        TCurlPostResult result = CurlExecutePost(request, response);
        EXPECT_LT(MsSince(start), 1800);
        EXPECT_EQ(result.Status, c.Status);
        EXPECT_EQ(result.FailureMessage, c.Message);
        EXPECT_FALSE(result.Result);
        EXPECT_EQ(result.Attempts, 1);
        EXPECT_EQ(response, "");
        requests += c.Proxy != &deadProxy && c.Path.starts_with("/");
        EXPECT_EQ(Seen.Requests.load(), requests);
    }
}

TEST_F(CurlSessionTest, TheOverallDeadlineAndTheCancelFlagEndAnExchangeThatKeepsTrickling) {
    TCurlClient client;
    client.ReadTimeout = 1000;
    client.OverallTimeout = 1000;
    std::string response = "kept";
    auto start = std::chrono::steady_clock::now();
    try {
        client.Post(Web.URL("/trickle"), "<x/>", response);
        ADD_FAILURE() << "the deadline must end the exchange";
    } catch (const EHTTPTimeoutError& e) {
        EXPECT_EQ(e.Message(), "Request not completed within 1000 ms");
    }
    EXPECT_GE(MsSince(start), 950) << "the two clocks round differently";
    EXPECT_LT(MsSince(start), 1500);
    EXPECT_EQ(response, "kept");

    // A flag that is already set sends nothing; one set during the exchange ends it within 200 ms, and a
    // canceled post is neither retried nor turned into a status.
    std::atomic<bool> cancel{true};
    TCurlPostRequest request = Request(Web.URL("/trickle"), 3);
    request.OverallTimeout = 0;
    request.Cancel = &cancel;
    EXPECT_THROW(CurlExecutePost(request, response), EHTTPCanceledError);
    EXPECT_EQ(Seen.Requests.load(), 1);

    cancel = false;
    std::atomic<int64_t> setAt{0};
    start = std::chrono::steady_clock::now();
    std::thread canceler([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(700));
        setAt = MsSince(start);
        cancel = true;
    });
    EXPECT_THROW(CurlExecutePost(request, response), EHTTPCanceledError);
    const int64_t endedAt = MsSince(start);
    canceler.join();
    EXPECT_LT(endedAt - setAt.load(), 200);
    EXPECT_EQ(Seen.Requests.load(), 2);
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

TEST_F(CurlSessionTest, AKeptClientReusesItsConnectionOpensAClosedOneAgainAndDecodesGzip) {
    TLoopbackTLSServer tls(Good.CertificateFile.c_str(), Good.KeyFile.c_str());
    // Closes a connection after a second without requests, as servers do.
    tls.Server.set_keep_alive_timeout(1);
    std::string answer = "<?xml version=\"1.0\"?><items>";
    for (int i = 0; i < 2000; ++i)
        answer += "<item>" + std::to_string(i) + "</item>";
    answer += "</items>";
    std::mutex lock;
    std::vector<int> ports;
    std::vector<std::string> encodings;
    tls.Server.Post("/xml", [&](const httplib::Request& req, httplib::Response& res) {
        std::lock_guard guard(lock);
        ports.push_back(req.remote_port);
        encodings.push_back(req.get_header_value("Accept-Encoding"));
        res.set_content(answer, "text/xml");
    });
    tls.Start();
    TScopedExtraCA trust(CA->CertificateFile());

    struct TStep {
        bool Compressed;
        int PauseMs;
        bool SameConnection;
    };
    const TStep steps[] = {{true, 0, false}, {true, 0, true}, {false, 0, true}, {true, 1500, false}};
    TCurlClient client;
    for (size_t i = 0; i < std::size(steps); ++i) {
        SCOPED_TRACE("post " + std::to_string(i));
        std::this_thread::sleep_for(std::chrono::milliseconds(steps[i].PauseMs));
        TCurlPostRequest request = Request(tls.URL("/xml"));
        request.AcceptCompressed = steps[i].Compressed;
        std::string response;
        const TCurlPostResult result = CurlExecutePost(request, response, &client);
        EXPECT_TRUE(result.Result);
        EXPECT_EQ(result.Attempts, 1);
        EXPECT_EQ(response, answer) << "a gzip answer arrives decoded";
        std::lock_guard guard(lock);
        ASSERT_EQ(ports.size(), i + 1);
        EXPECT_EQ(encodings[i], steps[i].Compressed ? "gzip" : "");
        if (i > 0) {
            EXPECT_EQ(ports[i] == ports[i - 1], steps[i].SameConnection);
        }
    }
}

namespace {

// Answers one request on a loopback port with the given bytes, whatever they claim, and closes.
class TCannedAnswer {
public:
    explicit TCannedAnswer(std::string answer) : FAnswer(std::move(answer)) {
        FListener = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (::bind(FListener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::listen(FListener, 1) != 0 ||
            ::getsockname(FListener, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            throw std::runtime_error("no loopback port");
        FPort = ntohs(address.sin_port);
        FThread = std::thread([this] {
            const int fd = ::accept(FListener, nullptr, nullptr);
            if (fd < 0) return;
            std::string request;
            char chunk[4096];
            while (request.find("</Ping>") == std::string::npos) {
                const ssize_t got = ::recv(fd, chunk, sizeof chunk, 0);
                if (got <= 0) break;
                request.append(chunk, static_cast<size_t>(got));
            }
            for (size_t sent = 0; sent < FAnswer.size();) {
                const ssize_t n = ::send(fd, FAnswer.data() + sent, FAnswer.size() - sent, MSG_NOSIGNAL);
                if (n <= 0) break;
                sent += static_cast<size_t>(n);
            }
            ::close(fd);
        });
    }
    ~TCannedAnswer() {
        ::shutdown(FListener, SHUT_RDWR);
        FThread.join();
        ::close(FListener);
    }
    std::string URL() const { return "http://127.0.0.1:" + std::to_string(FPort) + "/api"; }

private:
    std::string FAnswer;
    int FListener = -1;
    int FPort = 0;
    std::thread FThread;
};

} // namespace

// The announced length only prepares room for the body: the body itself is what arrives, and a length that
// no answer can have is not believed.
TEST(CurlSessionAnswers, TheBodyIsWhatArrivesWhateverItsLengthAnnounces) {
    const std::string big(200000, 'b');
    const struct {
        const char* Name;
        std::string Answer;
        bool Result;
        std::string Body;
    } cases[] = {
        {"announced", "HTTP/1.1 200 OK\r\nContent-Length: 200000\r\n\r\n" + big, true, big},
        {"lower case", "HTTP/1.1 200 OK\r\ncontent-length:5\r\n\r\nhello", true, "hello"},
        {"not announced", "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\nhello", true, "hello"},
        {"beyond belief", "HTTP/1.1 200 OK\r\nContent-Length: 99999999999999\r\n\r\nhello", false, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        TCannedAnswer server(c.Answer);
        std::string response = "stale";
        const TCurlPostResult result = CurlExecutePost(Request(server.URL(), 0), response);
        EXPECT_EQ(result.Result, c.Result) << result.PostErrorLog;
        EXPECT_EQ(response, c.Body);
    }
}
