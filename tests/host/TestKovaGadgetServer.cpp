// ctest-labels: threaded
#include "host/KovaGadgetHostOptions.h"
#include "host/KovaGadgetMembers.h"
#include "host/KovaGadgetProject.h"
#include "host/KovaGadgetServer.h"
#include "host/KovaGadgetServerDoor.h"
#include "platform/UnitPlatformFiles.h"
#include "platform/UnitPlatformMainThread.h"
#include "platform/UnitPlatformMessageBox.h"
#include "platform/UnitPlatformProcess.h"
#include "platform/UnitPlatformShell.h"
#include "support/EventStreamClient.h"
#include "support/GadgetHostProcess.h"
#include "support/GadgetTestDirectory.h"
#include "support/UnitLogging.h"

#include <algorithm>
#include <arpa/inet.h>
#include <condition_variable>
#include <filesystem>
#include <future>
#include <gtest/gtest.h>
#include <httplib.h>
#include <iostream>
#include <map>
#include <nlohmann/json.hpp>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

using json = nlohmann::json;
namespace fs = std::filesystem;

struct TRawReply {
    int Status = 0;
    std::string Head; // status line and headers
    std::string Body;
};

// One request written byte for byte, so that paths and headers reach the server exactly as given.
TRawReply RawRequest(int port, const std::string& request) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    TRawReply reply;
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        write(fd, request.data(), request.size()) == static_cast<ssize_t>(request.size())) {
        std::string all;
        char buffer[4096];
        for (ssize_t got; (got = read(fd, buffer, sizeof buffer)) > 0;)
            all.append(buffer, static_cast<size_t>(got));
        const size_t end = all.find("\r\n\r\n");
        reply.Head = all.substr(0, end);
        reply.Body = end == std::string::npos ? "" : all.substr(end + 4);
        if (all.size() > 12) reply.Status = std::atoi(all.c_str() + 9);
    }
    close(fd);
    return reply;
}

bool HasHeader(const TRawReply& reply, const std::string& line) {
    return reply.Head.find("\r\n" + line + "\r\n") != std::string::npos ||
           reply.Head.find("\r\n" + line) + line.size() + 2 == reply.Head.size();
}

// The server on a thread of its own, which becomes the main thread while it runs.
class TRunningHost {
public:
    explicit TRunningHost(const std::string& gadgetDir, bool pageOpensUrls = false, int pageGraceMs = 5000)
        : Server({0, gadgetDir, pageOpensUrls, 32, pageGraceMs}), FMain([this] { Server.Run(); }) {}
    ~TRunningHost() { Stop(); }
    void Stop() {
        if (!FMain.joinable()) return;
        Server.RequestStop();
        FMain.join();
        SetMainThread();
    }

    // A JSON POST with the secret; the answer's status and body.
    std::pair<int, json> Post(const std::string& path, const json& body) {
        httplib::Client client("127.0.0.1", Server.Port());
        client.set_read_timeout(60, 0);
        auto res =
            client.Post(path.c_str(), {{"X-Kova-Secret", Server.Secret()}}, body.dump(), "application/json");
        if (!res) return {0, json()};
        return {res->status, json::parse(res->body, nullptr, false)};
    }
    std::pair<int, json> Call(const json& member, const char* kind, const json& args = json::array()) {
        return Post("/api/call", {{"member", member}, {"kind", kind}, {"args", args}});
    }
    std::pair<int, json> Form(int id, const std::string& action, const std::string& name = "",
                              const json& value = nullptr) {
        return Post("/api/form", {{"id", id}, {"action", action}, {"name", name}, {"value", value}});
    }

    TKovaGadgetServer Server;

private:
    std::thread FMain;
};

// The host's event stream as a page reads it.
class TEventStream : public TEventStreamClient {
public:
    using TEventStreamClient::TEventStreamClient;
    explicit TEventStream(TRunningHost& host)
        : TEventStreamClient(host.Server.Port(), host.Server.Secret()) {}
};

const json* Component(const json& form, const std::string& name) {
    for (const json& c : form["components"])
        if (c["name"] == name) return &c;
    return nullptr;
}

// A gadget directory with the page's files, the control's data and output files, and links that lead out.
class GadgetServerTest : public ::testing::Test {
protected:
    GadgetServerTest() {
        Dir.Write("index.html", "<!DOCTYPE html><title>page</title>");
        Dir.Write("gadget.mjs", "export {};");
        Dir.Write("gadget.css", "body{}");
        fs::create_directories(Dir.File("images"));
        Dir.Write("images/result.png", "png");
        Dir.Write("result.txt", "<div id=results></div>");
        Dir.Write("details.html", "<p>details</p>");
        Outside.Write("outside.html", "outside");
        fs::create_symlink(Outside.File("outside.html"), Dir.File("linked.html"));
        fs::create_symlink(Outside.Path(), Dir.File("images/out"));
        fs::create_symlink(Dir.File("KovaDat.dat"), Dir.File("data.js"));
        fs::create_symlink(Dir.File("result.txt"), Dir.File("list.html"));
    }

    TGadgetTestDirectory Gadget{TGadgetDirectoryOptions{}};
    const TTempDir& Dir = Gadget.Dir();
    TTempDir Outside;
};

} // namespace

TEST_F(GadgetServerTest, RefusesEveryRequestThatIsNotItsOwnPagesAndMarksEveryAnswer) {
    for (const char* data : {"ebtmp.dat", "proxy.dat", "KovaGadget.ini", "watchlist.dat", "kova-gadget.log"})
        Dir.Write(data, "secret data");
    TRunningHost host(Dir.Path());
    const std::string port = std::to_string(host.Server.Port());
    const std::string own = "Host: 127.0.0.1:" + port + "\r\n";
    const std::string secret = "X-Kova-Secret: " + host.Server.Secret() + "\r\n";
    const std::string json = "Content-Type: application/json\r\n";
    const std::string call = R"({"member":"IsWorking","kind":"get"})";
    struct TCase {
        const char* What;
        std::string Method, Target, Headers, Body;
        int Status;
    };
    const TCase cases[] = {
        {"no secret", "POST", "/api/call", own + json, call, 403},
        {"wrong secret", "POST", "/api/call", own + json + "X-Kova-Secret: " + std::string(43, 'A') + "\r\n",
         call, 403},
        {"secret in the query of a call", "POST", "/api/call?s=" + host.Server.Secret(), own + json, call,
         403},
        {"events without secret", "GET", "/api/events", own, "", 403},
        {"events with a wrong secret", "GET", "/api/events?s=nope", own, "", 403},
        {"type library without secret", "GET", "/api/typelib", own, "", 403},
        {"foreign Host", "POST", "/api/call", "Host: evil.example:" + port + "\r\n" + secret + json, call,
         403},
        {"Host with another port", "POST", "/api/call", "Host: 127.0.0.1:1\r\n" + secret + json, call, 403},
        {"no Host", "GET", "/index.html", "", "", 403},
        {"foreign Host for a static file", "GET", "/result.txt", "Host: evil.example:" + port + "\r\n", "",
         403},
        {"foreign Origin", "POST", "/api/call", own + secret + json + "Origin: http://evil.example\r\n", call,
         403},
        {"null Origin", "POST", "/api/call", own + secret + json + "Origin: null\r\n", call, 403},
        {"preflight", "OPTIONS", "/api/call", own + "Origin: http://evil.example\r\n", "", 403},
        {"form-encoded POST", "POST", "/api/call",
         own + secret + "Content-Type: application/x-www-form-urlencoded\r\n", "member=Terminate", 415},
        {"text POST", "POST", "/api/form", own + secret + "Content-Type: text/plain\r\n", "{}", 415},
        {"own Origin", "POST", "/api/call", own + secret + json + "Origin: http://localhost:" + port + "\r\n",
         call, 500},
        {"page", "GET", "/", "Host: localhost:" + port + "\r\n", "", 200},
        {"script", "GET", "/gadget.mjs", own, "", 200},
        {"image", "GET", "/images/result.png", own, "", 200},
        {"result", "GET", "/result.txt", own + secret, "", 200},
        {"result without secret", "GET", "/result.txt", own, "", 403},
        {"result with a wrong secret", "GET", "/result.txt",
         own + "X-Kova-Secret: " + std::string(43, 'A') + "\r\n", "", 403},
        {"result, secret in the query", "GET", "/result.txt?s=" + host.Server.Secret(), own, "", 403},
        {"result by a link", "GET", "/list.html", own, "", 403},
        {"details", "GET", "/details.html", own + secret, "", 200},
        {"details without secret", "GET", "/details.html", own, "", 403},
        {"a body for a page file", "POST", "/index.html", own + secret + json, call, 404},
        {"a body put anywhere", "PUT", "/result.txt", own + secret + json, call, 404},
        {"a call body too long", "POST", "/api/call", own + secret + json + "Content-Length: 1048577\r\n", "",
         413},
        {"traversal", "GET", "/../../../../etc/passwd", own, "", 404},
        {"encoded traversal", "GET", "/%2e%2e/%2e%2e/%2e%2e/etc/passwd", own, "", 404},
        {"encoded slashes", "GET", "/..%2f..%2f..%2fetc%2fpasswd", own, "", 404},
        {"traversal back in", "GET", "/images/../KovaDat.dat", own, "", 404},
        {"double encoding", "GET", "/%252e%252e/KovaDat.dat", own, "", 404},
        {"absolute path", "GET", "//etc/passwd", own, "", 404},
        {"link out", "GET", "/linked.html", own, "", 404},
        {"folder link out", "GET", "/images/out/outside.html", own, "", 404},
        {"link in to a data file", "GET", "/data.js", own, "", 404},
        {"application data", "GET", "/KovaDat.dat", own, "", 404},
        {"application data by case", "GET", "/kovadat.DAT", own, "", 404},
        {"login data", "GET", "/ebtmp.dat", own, "", 404},
        {"proxy credentials", "GET", "/proxy.dat", own, "", 404},
        {"settings", "GET", "/KovaGadget.ini", own, "", 404},
        {"stored items", "GET", "/watchlist.dat", own, "", 404},
        {"log", "GET", "/kova-gadget.log", own, "", 404},
        {"details template", "GET", "/detailsTemp.html", own, "", 404},
        {"unknown call", "GET", "/api/nothing", own + secret, "", 404},
    };
    for (const TCase& c : cases) {
        std::string request =
            c.Method + " " + c.Target + " HTTP/1.1\r\n" + c.Headers + "Connection: close\r\n";
        if (!c.Body.empty()) request += "Content-Length: " + std::to_string(c.Body.size()) + "\r\n";
        const TRawReply reply = RawRequest(host.Server.Port(), request + "\r\n" + c.Body);
        EXPECT_EQ(reply.Status, c.Status) << c.What << "\n" << reply.Head << "\n" << reply.Body;
        EXPECT_TRUE(HasHeader(reply, "X-Content-Type-Options: nosniff")) << c.What;
        EXPECT_TRUE(HasHeader(reply, "Referrer-Policy: no-referrer")) << c.What;
        EXPECT_TRUE(HasHeader(reply, "Content-Security-Policy: frame-ancestors 'none'")) << c.What;
        EXPECT_EQ(reply.Head.find("Access-Control-"), std::string::npos) << c.What;
        EXPECT_EQ(reply.Body.find("secret data"), std::string::npos) << c.What;
        if (c.Status >= 400 && c.Target.rfind("/api/", 0) == 0) {
            EXPECT_TRUE(json::parse(reply.Body, nullptr, false).contains("error")) << c.What << reply.Body;
        }
    }
    const auto result = RawRequest(host.Server.Port(), "GET /result.txt HTTP/1.1\r\n" + own + secret +
                                                           "Connection: close\r\n\r\n");
    EXPECT_TRUE(HasHeader(result, "Cache-Control: no-store")) << result.Head;
    EXPECT_EQ(result.Body, "<div id=results></div>");
    const auto script =
        RawRequest(host.Server.Port(), "GET /gadget.mjs HTTP/1.1\r\n" + own + "Connection: close\r\n\r\n");
    EXPECT_TRUE(HasHeader(script, "Content-Type: text/javascript; charset=utf-8")) << script.Head;
}

TEST_F(GadgetServerTest, AHeadThatTricklesIsCutOffAndAnUnusedConnectionClosedWithoutAWord) {
    TRunningHost host(Dir.Path());
    // What a connection receives until the host closes it, and how long that took.
    const auto untilClosed = [&](const std::string& sent) {
        return std::async(std::launch::async, [&host, sent] {
            const auto started = std::chrono::steady_clock::now();
            const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            sockaddr_in address{};
            address.sin_family = AF_INET;
            address.sin_port = htons(static_cast<uint16_t>(host.Server.Port()));
            address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            std::string got;
            if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                write(fd, sent.data(), sent.size()) == static_cast<ssize_t>(sent.size())) {
                char buffer[512];
                for (pollfd waiting{fd, POLLIN, 0}; poll(&waiting, 1, 20000) > 0;) {
                    const ssize_t n = read(fd, buffer, sizeof buffer);
                    if (n <= 0) break;
                    got.append(buffer, static_cast<size_t>(n));
                }
            }
            close(fd);
            return std::make_pair(got, std::chrono::steady_clock::now() - started);
        });
    };
    auto trickled = untilClosed("GET /index.html HT");
    auto unused = untilClosed("");
    // Meanwhile the host answers at once.
    EXPECT_EQ(host.Call("IsWorking", "get").first, 500);
    const auto [answer, took] = trickled.get();
    EXPECT_EQ(answer.rfind("HTTP/1.1 408", 0), 0u) << answer;
    EXPECT_GE(took, std::chrono::milliseconds(4500));
    EXPECT_LE(took, std::chrono::seconds(8));
    const auto [nothing, closedAfter] = unused.get();
    EXPECT_EQ(nothing, "");
    EXPECT_LE(closedAfter, std::chrono::seconds(8));
}

namespace {

// A connection that has sent the text; the first status line it then receives comes from StatusLine.
int Opened(int port, const std::string& sent) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{AF_INET, htons(static_cast<uint16_t>(port)), {htonl(INADDR_LOOPBACK)}, {}};
    const timeval wait{10, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    EXPECT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    EXPECT_EQ(write(fd, sent.data(), sent.size()), static_cast<ssize_t>(sent.size()));
    return fd;
}
std::string StatusLine(int fd) {
    std::string got;
    for (char c; got.find("\r\n") == std::string::npos && recv(fd, &c, 1, 0) == 1;)
        got += c;
    return got.substr(0, got.find("\r\n"));
}

} // namespace

// Each open event stream holds a request thread: beyond half of them a page is told so, and requests whose
// body trickles wait without a thread until they are cut off, so that calls still answer at once.
TEST_F(GadgetServerTest, HundredEventStreamsAndTricklingBodiesLeaveCallsAnsweringWithinASecond) {
    TRunningHost host(Dir.Path());
    const std::string own = "Host: 127.0.0.1:" + std::to_string(host.Server.Port()) + "\r\n";
    const std::string call = "POST /api/call HTTP/1.1\r\n" + own + "X-Kova-Secret: " + host.Server.Secret() +
                             "\r\nContent-Type: application/json\r\n";
    const std::pair<std::string, std::string> trickling[] = {
        {"Content-Length: 100\r\n\r\n", "{\"member\":"},
        {"Transfer-Encoding: chunked\r\n\r\n", "20\r\n{\"member\":"},
        {"Transfer-Encoding: chunked\r\n\r\n", "5\r\n{\"mem\r\n"},
        {"Content-Length: 20\r\nExpect: 100-continue\r\n\r\n", ""},
    };
    std::vector<int> streams, bodies;
    for (size_t i = 0; i < 100; ++i) {
        streams.push_back(Opened(host.Server.Port(), "GET /api/events?s=" + host.Server.Secret() +
                                                         " HTTP/1.1\r\n" + own + "\r\n"));
        const auto& [head, part] = trickling[i % std::size(trickling)];
        bodies.push_back(Opened(host.Server.Port(), call + head + part));
    }
    std::map<std::string, int> streamAnswers;
    for (const int fd : streams)
        ++streamAnswers[StatusLine(fd)];
    EXPECT_EQ(streamAnswers, (std::map<std::string, int>{{"HTTP/1.1 200 OK", 16},
                                                         {"HTTP/1.1 503 Service Unavailable", 84}}));
    for (const char* what : {"GET /", "IsWorking"}) {
        const auto started = std::chrono::steady_clock::now();
        const int status =
            what[0] == 'G'
                ? RawRequest(host.Server.Port(), "GET / HTTP/1.1\r\n" + own + "Connection: close\r\n\r\n")
                      .Status
                : host.Call("IsWorking", "get").first;
        const auto took = std::chrono::steady_clock::now() - started;
        EXPECT_NE(status, 0) << what;
        EXPECT_LT(took, std::chrono::seconds(1)) << what;
        std::cout << what << " with 100 streams and 100 trickling bodies: "
                  << std::chrono::duration_cast<std::chrono::microseconds>(took).count() << " us\n";
    }
    // The bodies never ended: each is cut off after the request's time, a client waiting to go on asked once.
    for (size_t i = 0; i < bodies.size(); ++i)
        EXPECT_EQ(StatusLine(bodies[i]),
                  i % std::size(trickling) == 3 ? "HTTP/1.1 100 Continue" : "HTTP/1.1 408 Request Timeout")
            << i;
    for (const std::vector<int>& fds : {streams, bodies})
        std::for_each(fds.begin(), fds.end(), [](int fd) { close(fd); });
}

TEST(GadgetServerDoor, ARequestReachesThePoolWhenItsBodyHasComeWholeHoweverSent) {
    const std::string head = "POST /api/call HTTP/1.1\r\nHost: h\r\n",
                      chunked = "Transfer-Encoding: chunked\r\n\r\n";
    const std::pair<std::string, TKovaBodyState> cases[] = {
        {head + "content-length:  4 \r\n\r\n{}", TKovaBodyState::Partial},
        {head + "Content-Length: 1048577\r\n\r\n", TKovaBodyState::TooLong},
        {head + chunked + "2\r\n{}\r\n0\r\n", TKovaBodyState::Partial},
        {head + chunked + "2;x=y\r\n{}\r\n0\r\nTrailer: t\r\n\r\n", TKovaBodyState::Whole},
        {head + chunked + "100000\r\n" + std::string(1 << 20, 'x') + "\r\n1\r\n", TKovaBodyState::TooLong},
        {head + chunked + "zz\r\n", TKovaBodyState::Whole}, // httplib refuses it
    };
    for (const auto& [request, state] : cases)
        EXPECT_EQ(KovaRequestState(request), state) << request.substr(0, 120);
}

TEST_F(GadgetServerTest, CallsRunTheControlAndAnswerByTheTypeLibrary) {
    TRunningHost host(Dir.Path());
    httplib::Client client("127.0.0.1", host.Server.Port());
    const auto typelib = client.Get("/api/typelib", {{"X-Kova-Secret", host.Server.Secret()}});
    ASSERT_TRUE(typelib);
    const json library = json::parse(typelib->body);
    EXPECT_EQ(library["members"].size(), IKovaGadgetMembers().size());
    EXPECT_EQ(library["events"].size(), 8u);
    EXPECT_EQ(library["library"]["name"], "KovaGadgetProject");
    EXPECT_TRUE(std::any_of(library["members"].begin(), library["members"].end(), [](const json& m) {
        return m["name"] == "BuildDetailsFileFor" && m["dispid"] == 231 && m["kind"] == "method" &&
               m["params"][0]["type"] == "BSTR" && m["result"] == "VARIANT_BOOL";
    }));

    struct TStep {
        json Body;
        int Status;
        json Result;       // the expected result when the status is 200
        const char* Error; // a part of the expected error otherwise
    };
    const TStep steps[] = {
        {{{"member", "IsWorking"}, {"kind", "get"}}, 500, nullptr, "call Init first"},
        {{{"member", "Init"}, {"kind", "method"}, {"args", {"/tmp"}}}, 400, nullptr, "gadget directory"},
        {{{"member", "Init"}, {"kind", "method"}, {"args", {Dir.Path() + "/"}}}, 200, nullptr, ""},
        {{{"member", "IsWorking"}, {"kind", "get"}}, 200, false, ""},
        {{{"member", 232}, {"kind", "get"}}, 200, false, ""},
        {{{"member", "isworking"}, {"kind", "get"}, {"args", json::array()}}, 200, false, ""},
        {{{"member", "UpdatesAvailable"}, {"kind", "put"}, {"args", {true}}}, 200, nullptr, ""},
        {{{"member", "UpdatesAvailable"}, {"kind", "get"}}, 200, true, ""},
        {{{"member", "RefreshIntervalInMinutes"}, {"kind", "get"}}, 200, 0, ""},
        {{{"member", "LinkDownloadPage"}, {"kind", "get"}}, 200, "https://download.example/kova", ""},
        {{{"member", "BuildDetailsFileFor"}, {"kind", "method"}, {"args", {"123"}}}, 200, false, ""},
        {{{"member", "NoSuchMember"}, {"kind", "method"}}, 400, nullptr, "no method member"},
        {{{"member", "IsWorking"}, {"kind", "method"}}, 400, nullptr, "no method member"},
        {{{"member", "IsWorking"}, {"kind", "call"}}, 400, nullptr, "\"kind\""},
        {{{"member", "Init"}, {"kind", "method"}}, 400, nullptr, "takes 1 argument(s), 0 given"},
        {{{"member", "BuildDetailsFileFor"}, {"kind", "method"}, {"args", {123}}},
         400,
         nullptr,
         "must be string"},
        {{{"member", "UpdatesAvailable"}, {"kind", "put"}, {"args", {1}}}, 400, nullptr, "must be boolean"},
        {{{"member", "PixelsPerInch"}, {"kind", "put"}, {"args", {1.5}}}, 400, nullptr, "must be integer"},
        {{{"member", "Font"}, {"kind", "get"}}, 400, nullptr, "cannot carry"},
        {{{"member", "AxBorderStyle"}, {"kind", "put"}, {"args", {9}}}, 500, nullptr, "outside 0 to 3"},
        {{{"member", "Terminate"}, {"kind", "method"}}, 200, nullptr, ""},
        {{{"member", "IsWorking"}, {"kind", "get"}}, 500, nullptr, "call Init first"},
    };
    for (const TStep& step : steps) {
        const auto [status, body] = host.Post("/api/call", step.Body);
        EXPECT_EQ(status, step.Status) << step.Body << " -> " << body;
        if (step.Status == 200)
            EXPECT_EQ(body["result"], step.Result) << step.Body;
        else
            EXPECT_NE(body.value("error", "").find(step.Error), std::string::npos)
                << step.Body << " -> " << body;
    }
    EXPECT_TRUE(FileExists(Dir.File("watchlist.dat")));

    for (const std::string bad : {"", "[1,2", "[]", "{\"member\": null, \"kind\": \"get\"}"}) {
        const auto res =
            client.Post("/api/call", {{"X-Kova-Secret", host.Server.Secret()}}, bad, "application/json");
        ASSERT_TRUE(res);
        EXPECT_EQ(res->status, 400) << bad;
    }
}

TEST_F(GadgetServerTest, ADialogIsDrawnFromEventsDrivenByFormActionsAndRefusesCallsMeanwhile) {
    fs::create_directories(Dir.File("bin"));
    SetProcessExecutablePathForTesting(Dir.File("bin/kova-gadget"));
    TRunningHost host(Dir.Path());
    TEventStream events(host);
    EXPECT_EQ(events.AwaitForms([](const json&) { return true; }), json::array()); // the state when it opens
    ASSERT_EQ(host.Call("Init", "method", {""}).first, 200);

    // A fresh gadget directory has no login data: the load asks for them and waits for the dialog.
    auto load = std::async(std::launch::async, [&] { return host.Call("LoadWatchlist", "method"); });
    const json shown = events.AwaitForms([](const json& forms) { return forms.size() == 1; });
    ASSERT_EQ(shown.size(), 1u);
    const json& form = shown[0];
    EXPECT_EQ(form["name"], "frmEbayLogInData");
    EXPECT_EQ(form["caption"], "My eBay - LogIn Data");
    EXPECT_EQ(form["clientWidth"], 365);
    EXPECT_EQ(form["position"], "designed");
    EXPECT_EQ(form["activeControl"], "edteBayUsername");
    ASSERT_NE(Component(form, "edtEbayPassword"), nullptr);
    EXPECT_EQ((*Component(form, "edtEbayPassword"))["passwordChar"], "*");
    EXPECT_EQ((*Component(form, "edtEbayPassword"))["parent"], "grpbxEbayLogin");
    EXPECT_EQ((*Component(form, "btnOk"))["enabled"], false);
    const int id = form["id"];

    // While it is open, reads are answered and everything else is refused.
    EXPECT_EQ(host.Call("IsWorking", "get"), std::make_pair(200, json{{"result", true}}));
    EXPECT_EQ(host.Call("RefreshAuctionsAtStart", "get").first, 200);
    for (const auto& [member, kind, args] :
         {std::tuple<const char*, const char*, json>{"Terminate", "method", {}},
          {"LoadWatchlist", "method", {}},
          {"Init", "method", {""}},
          {"NextPage", "method", {}},
          {"UpdatesAvailable", "put", {true}}}) {
        const auto [status, body] = host.Call(member, kind, args.is_null() ? json::array() : args);
        EXPECT_EQ(status, 409) << member;
        EXPECT_EQ(body["busy"], true) << member;
    }

    EXPECT_EQ(host.Form(id, "click", "btnOk").second["result"], false) << "disabled";
    EXPECT_EQ(host.Form(id, "key", "", "Enter").second["result"], false) << "Enter presses no disabled OK";
    // An event of the version the answer tells, or a later one, shows what the action did.
    const json named = host.Form(id, "text", "edteBayUsername", "alice").second;
    EXPECT_GT(named["version"].get<uint64_t>(), form["version"].get<uint64_t>());
    const json seen = events.AwaitForms(
        [&](const json& forms) { return forms.size() == 1 && forms[0]["version"] >= named["version"]; });
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ((*Component(seen[0], "edteBayUsername"))["text"], "alice");
    EXPECT_EQ(host.Form(id, "text", "edtEbayPassword", "pw").second["result"], true);
    const json typed = events.AwaitForms([](const json& forms) {
        return forms.size() == 1 && (*Component(forms[0], "btnOk"))["enabled"] == true;
    });
    ASSERT_EQ(typed.size(), 1u);

    EXPECT_EQ(host.Form(id, "select", "cmbxEbayLoginDataAction", 1).second["result"], true);
    EXPECT_EQ(host.Form(id, "select", "cmbxEbayLoginDataAction", 7).second["result"], false);
    EXPECT_EQ(host.Form(id, "click", "no\nSuchButton").second["result"], false);
    EXPECT_EQ(host.Form(id, "focus", "edtEbayPassword").second["result"], true);
    EXPECT_EQ(host.Form(id + 100, "click", "btnCancel").first, 404);
    EXPECT_EQ(host.Form(id, "select", "cmbxEbayLoginDataAction", "one").first, 400);
    EXPECT_EQ(host.Form(id, "wave").first, 400);

    // A message box over the dialog: only the top-most form takes the page's actions.
    auto box = std::async(std::launch::async, [] { return ShowMessageBox("Over it", "Box", MB_OK); });
    const json stacked = events.AwaitForms([](const json& forms) { return forms.size() == 2; });
    ASSERT_EQ(stacked.size(), 2u);
    EXPECT_EQ(stacked[0]["id"], id);
    EXPECT_EQ(stacked[1]["name"], "MessageBox");
    EXPECT_EQ(host.Form(id, "click", "btnCancel").second["result"], false);
    EXPECT_EQ(host.Form(id, "text", "edtEbayPassword", "Refused-Pa55").second["result"], false);
    EXPECT_EQ(host.Form(stacked[1]["id"], "key", "", "Enter").second["result"], true);
    EXPECT_EQ(box.get(), IDOK);
    EXPECT_EQ(events.AwaitForms([](const json& forms) { return forms.size() == 1; }).size(), 1u);

    EXPECT_EQ(host.Form(id, "key", "", "Escape").second["result"], true) << "Escape is the dialog's Cancel";
    EXPECT_EQ(load.get(), std::make_pair(200, json{{"result", nullptr}}));
    EXPECT_EQ(events.AwaitForms([](const json& forms) { return forms.empty(); }), json::array());
    EXPECT_EQ(host.Call("IsWorking", "get").second["result"], false);
    EXPECT_EQ(host.Call("Terminate", "method").first, 200);
    SetProcessExecutablePathForTesting(std::nullopt);

    // What the host refused is in its log, with why, and no value.
    const std::string log = ReadTextFile(Dir.File("bin/kova-gadget.log"));
    for (const char* refused : {"\"click\" on \"btnOk\": the control is disabled",
                                "\"select\" on \"cmbxEbayLoginDataAction\": the control does not take it",
                                "\"click\" on \"no?SuchButton\": the form has no such control",
                                "\"click\" on \"btnCancel\": the form is not the top-most one",
                                "\"text\" on \"edtEbayPassword\": the form is not the top-most one"})
        EXPECT_NE(log.find("The form frmEbayLogInData (" + std::to_string(id) +
                           ") refused the page's action " + refused),
                  std::string::npos)
            << refused << "\n"
            << log;
    EXPECT_EQ(log.find("Refused-Pa55"), std::string::npos) << log;
}

// Answers are never compressed, whatever the browser accepts: page files, the control's output and calls.
TEST_F(GadgetServerTest, AnswersGoOutPlainWhateverEncodingsTheBrowserAccepts) {
    TRunningHost host(Dir.Path());
    const std::string css(20000, 'a');
    Dir.Write("gadget.css", css);
    const std::string own = "127.0.0.1:" + std::to_string(host.Server.Port());
    const std::string secret = host.Server.Secret();
    const struct {
        std::string Request;
        std::string Body; // the plain answer, or a part of it
    } cases[] = {
        {"GET /gadget.css HTTP/1.1\r\nHost: " + own +
             "\r\nAccept-Encoding: gzip, deflate, br, zstd\r\n"
             "Connection: close\r\n\r\n",
         css},
        {"GET /result.txt HTTP/1.1\r\nHost: " + own + "\r\nX-Kova-Secret: " + secret +
             "\r\naccept-encoding: br\r\nConnection: close\r\n\r\n",
         "<div id=results></div>"},
        {"POST /api/call HTTP/1.1\r\nHost: " + own + "\r\nX-Kova-Secret: " + secret +
             "\r\nAccept-Encoding: gzip\r\nContent-Type: application/json\r\nContent-Length: 35\r\n"
             "Connection: close\r\n\r\n{\"member\":\"IsWorking\",\"kind\":\"get\"}",
         "call Init first"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Request.substr(0, c.Request.find('\r')));
        const TRawReply reply = RawRequest(host.Server.Port(), c.Request);
        EXPECT_EQ(reply.Head.find("Content-Encoding"), std::string::npos) << reply.Head;
        EXPECT_NE(reply.Body.find(c.Body), std::string::npos) << reply.Body.substr(0, 200);
        EXPECT_LE(reply.Body.size(), c.Body.size() + 100);
    }
}

// The page's poll is answered beside a main thread that is held, but never ahead of a task queued before it.
TEST_F(GadgetServerTest, IsWorkingIsAnsweredBesideAHeldMainThreadButAfterWhatWasQueuedBeforeIt) {
    TRunningHost host(Dir.Path());
    ASSERT_EQ(host.Call("Init", "method", {""}).first, 200);
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::atomic<bool> holding{false}, queuedRan{false};
    MainThreadQueue().Post([&holding, released] {
        holding = true;
        released.wait();
    });
    while (!holding)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    auto beside = std::async(std::launch::async, [&] { return host.Call("IsWorking", "get"); });
    ASSERT_EQ(beside.wait_for(std::chrono::seconds(10)), std::future_status::ready) << "the poll waited";
    EXPECT_EQ(beside.get(), std::make_pair(200, json{{"result", false}}));

    MainThreadQueue().Post([&queuedRan] { queuedRan = true; });
    auto after = std::async(std::launch::async, [&] {
        const auto reply = host.Call("IsWorking", "get");
        return std::make_pair(reply.first, queuedRan.load());
    });
    EXPECT_EQ(after.wait_for(std::chrono::milliseconds(300)), std::future_status::timeout)
        << "answered ahead of a queued task";
    release.set_value();
    EXPECT_EQ(after.get(), std::make_pair(200, true));
    EXPECT_EQ(host.Call("Terminate", "method").first, 200);
    EXPECT_EQ(host.Call("IsWorking", "get").first, 500);
}

TEST_F(GadgetServerTest, CallsThatComeWhileTerminateWaitsAreRefusedOrFindNoControl) {
    TRunningHost host(Dir.Path());
    ASSERT_EQ(host.Call("Init", "method", {""}).first, 200);
    // Terminate keeps the main thread's queue running for a second after the control has freed its parts.
    auto terminate = std::async(std::launch::async, [&] { return host.Call("Terminate", "method"); });
    // Reads still run meanwhile: once IsWorking finds no control, Terminate is in its grace time.
    for (int i = 0; i < 200 && host.Call("IsWorking", "get").first == 200; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    for (const char* member : {"Init", "LoadWatchlist", "Terminate"}) {
        const auto [status, body] =
            host.Call(member, "method", std::string(member) == "Init" ? json{""} : json::array());
        EXPECT_EQ(status, 409) << member << body;
        EXPECT_NE(body.value("error", "").find("another call is running"), std::string::npos) << body;
    }
    EXPECT_EQ(host.Call("IsWorking", "get").first, 500);
    EXPECT_EQ(terminate.get().first, 200);
    EXPECT_EQ(host.Call("Init", "method", {""}).first, 200);
}

TEST_F(GadgetServerTest, MessageBoxesAreFormsWithOneButtonPerAnswer) {
    TRunningHost host(Dir.Path());
    TEventStream events(host);
    struct TCase {
        unsigned Flags;
        std::vector<std::string> Buttons;
        std::string Action, Name; // what the page does
        int Answer;
    };
    const TCase cases[] = {
        {MB_OK | MB_ICONERROR, {"btnOK"}, "close", "", IDOK},
        {MB_OK, {"btnOK"}, "key", "Escape", IDOK},
        {MB_OKCANCEL, {"btnOK", "btnCancel"}, "key", "Escape", IDCANCEL},
        {MB_OKCANCEL, {"btnOK", "btnCancel"}, "key", "Enter", IDOK},
        {MB_YESNO | MB_ICONQUESTION, {"btnYes", "btnNo"}, "close", "", IDNO},
        {MB_YESNO, {"btnYes", "btnNo"}, "click", "btnYes", IDYES},
    };
    for (const TCase& c : cases) {
        // Shown from a worker thread: the box is drawn on the main thread and the worker waits for it.
        auto answer = std::async(std::launch::async,
                                 [&] { return ShowMessageBox("Line one\r\nLine two", "Title", c.Flags); });
        const json forms = events.AwaitForms([](const json& f) { return f.size() == 1; });
        ASSERT_EQ(forms.size(), 1u) << c.Flags;
        EXPECT_EQ(forms[0]["name"], "MessageBox");
        EXPECT_EQ(forms[0]["caption"], "Title");
        EXPECT_EQ((*Component(forms[0], "lblText"))["caption"], "Line one\r\nLine two");
        std::vector<std::string> buttons;
        for (const json& component : forms[0]["components"])
            if (component["kind"] == "button") buttons.push_back(component["name"]);
        EXPECT_EQ(buttons, c.Buttons) << c.Flags;
        const json value = c.Action == "key" ? json(c.Name) : json(nullptr);
        const std::string name = c.Action == "key" ? "" : c.Name;
        EXPECT_EQ(host.Form(forms[0]["id"], c.Action, name, value).second["result"], true) << c.Flags;
        EXPECT_EQ(answer.get(), c.Answer) << c.Flags << " " << c.Action << " " << c.Name;
        events.AwaitForms([](const json& f) { return f.empty(); });
    }
}

TEST_F(GadgetServerTest, AddressesGoToThePageWhenItOpensThem) {
    TRunningHost host(Dir.Path(), true);
    TEventStream events(host);
    const TShellOpenResult opened = ShellOpen("https://signin.example/ws?SessID=1&x=<y>");
    EXPECT_TRUE(opened.Success);
    EXPECT_EQ(events.Await("openurl")["url"], "https://signin.example/ws?SessID=1&x=<y>");
    host.Stop();
    SetShellOpenProgramForTesting("true");
    EXPECT_TRUE(ShellOpen("https://after.example/").Success); // the program again, not the page
    SetShellOpenProgramForTesting("");
}

TEST_F(GadgetServerTest, InitJoinsALivingControlAndBuildsANewOneWithLoggingAgainAfterTerminate) {
    SetProcessExecutablePathForTesting(Dir.File("bin/kova-gadget"));
    fs::create_directories(Dir.File("bin"));
    {
        TRunningHost host(Dir.Path());
        ASSERT_EQ(host.Call("Init", "method", {""}).first, 200);
        ASSERT_EQ(host.Call("UpdatesAvailable", "put", {true}).first, 200);
        Log("first control", lmkError);
        ASSERT_EQ(host.Call("Init", "method", {""}).first, 200);
        EXPECT_EQ(host.Call("UpdatesAvailable", "get").second["result"], true); // the same control
        ASSERT_EQ(host.Call("Terminate", "method").first, 200);
        ASSERT_EQ(host.Call("Init", "method", {""}).first, 200);
        EXPECT_EQ(host.Call("UpdatesAvailable", "get").second["result"], false); // a new control
        Log("second control", lmkError);
        ASSERT_EQ(host.Call("Terminate", "method").first, 200);
    }
    SetProcessExecutablePathForTesting(std::nullopt);
    const std::string log = ReadTextFile(Dir.File("bin/kova-gadget.log"));
    EXPECT_NE(log.find(" - first control\r\n"), std::string::npos) << log;
    EXPECT_NE(log.find(" - second control\r\n"), std::string::npos) << log;
}

TEST_F(GadgetServerTest, TheControlEndsAGraceAfterItsLastPageHasGoneWithItsDialogCancelled) {
    TRunningHost host(Dir.Path(), false, 300);
    const auto awaitIsWorking = [&](int status) {
        int got = 0;
        for (int i = 0; i < 200 && (got = host.Call("IsWorking", "get").first) != status; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        return got;
    };
    auto first = std::make_unique<TEventStream>(host);
    ASSERT_EQ(host.Call("Init", "method", {""}).first, 200);
    ASSERT_EQ(host.Call("UpdatesAvailable", "put", {true}).first, 200);
    {
        // A second tab shares the control, and closing it leaves the control to the first.
        TEventStream second(host);
        EXPECT_EQ(host.Call("Init", "method", {""}).first, 200);
    }
    std::this_thread::sleep_for(std::chrono::seconds(1));
    EXPECT_EQ(host.Call("UpdatesAvailable", "get").second["result"], true);
    // A reload: the page's stream ends and a new one opens within the grace.
    first = std::make_unique<TEventStream>(host);
    std::this_thread::sleep_for(std::chrono::seconds(1));
    EXPECT_EQ(host.Call("UpdatesAvailable", "get").second["result"], true);

    // The last page goes while a load waits in the login data dialog: the dialog is cancelled, the load
    // returns, and the control ends with its list saved.
    ASSERT_FALSE(FileExists(Dir.File("watchlist.dat")));
    auto load = std::async(std::launch::async, [&] { return host.Call("LoadWatchlist", "method"); });
    ASSERT_EQ(first->AwaitForms([](const json& forms) { return forms.size() == 1; }).size(), 1u);
    first.reset();
    EXPECT_EQ(load.get(), std::make_pair(200, json{{"result", nullptr}}));
    EXPECT_EQ(awaitIsWorking(500), 500);
    EXPECT_TRUE(FileExists(Dir.File("watchlist.dat")));

    // A page that comes back gets a fresh control, once the old one's end is over (the page waits while
    // the host answers busy).
    TEventStream again(host);
    int init = 0;
    for (int i = 0; i < 100 && (init = host.Call("Init", "method", {""}).first) == 409; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_EQ(init, 200);
    EXPECT_EQ(host.Call("UpdatesAvailable", "get").second["result"], false);
}

TEST(GadgetServerDoor, RefusesJsonNestedBeyondItsDepthWhileParsing) {
    const auto nested = [](int depth, const std::string& open, const std::string& close) {
        std::string text;
        for (int i = 0; i < depth; ++i)
            text += open;
        text += "1";
        for (int i = 0; i < depth; ++i)
            text += close;
        return text;
    };
    struct TCase {
        std::string Text, Error;
    };
    const TCase cases[] = {
        {nested(64, "[", "]"), ""},
        {nested(65, "[", "]"), "nested too deeply"},
        {nested(64, "{\"a\":", "}"), ""},
        {"[" + nested(64, "{\"a\":", "}") + "]", "nested too deeply"},
        {nested(100000, "[", "]"), "nested too deeply"},
        {std::string(100000, '['), "nested too deeply"},
        {"[1,", "not JSON"},
        {"", "not JSON"},
    };
    for (const TCase& c : cases) {
        const TKovaJsonBody body = ParseKovaJsonBody(c.Text);
        EXPECT_NE(body.Error.find(c.Error), std::string::npos) << c.Text.substr(0, 40) << ": " << body.Error;
        EXPECT_EQ(body.Error.empty(), c.Error.empty()) << c.Text.substr(0, 40);
        EXPECT_EQ(body.Value.is_null(), !c.Error.empty()) << c.Text.substr(0, 40);
    }
}

TEST(GadgetHostOptions, ParsesTheCommandLine) {
    struct TCase {
        std::vector<std::string> Args;
        int Port;
        std::string Dir;
        bool NoBrowser, Help;
        std::string RuName;
        std::string Error; // empty when the arguments are good
    };
    const TCase cases[] = {
        {{}, 0, "", false, false, "", ""},
        {{"--port", "8123", "--gadget-dir", "/g", "--no-browser"}, 8123, "/g", true, false, "", ""},
        {{"--port=0", "--gadget-dir=/x y"}, 0, "/x y", false, false, "", ""},
        {{"--help"}, 0, "", false, true, "", ""},
        {{"--port"}, 0, "", false, false, "", "--port needs a value"},
        {{"--port", "65536"}, 0, "", false, false, "", "from 0 to 65535"},
        {{"--port", "12a"}, 0, "", false, false, "", "from 0 to 65535"},
        {{"--port", "-1"}, 0, "", false, false, "", "from 0 to 65535"},
        {{"--gadget-dir", ""}, 0, "", false, false, "", "needs a folder"},
        {{"--no-browser=yes"}, 0, "", false, false, "", "takes no value"},
        {{"--runame", "Kova-RuName-1"}, 0, "", false, false, "Kova-RuName-1", ""},
        {{"--runame="}, 0, "", false, false, "", "needs a name"},
        {{"serve"}, 0, "", false, false, "", "unknown option serve"},
    };
    for (const TCase& c : cases) {
        try {
            const TKovaGadgetHostOptions options = ParseKovaGadgetHostOptions(c.Args);
            EXPECT_EQ(c.Error, "") << c.Args.size();
            EXPECT_EQ(options.Port, c.Port);
            EXPECT_EQ(options.GadgetDir, c.Dir);
            EXPECT_EQ(options.NoBrowser, c.NoBrowser);
            EXPECT_EQ(options.Help, c.Help);
            EXPECT_EQ(options.RuName, c.RuName);
        } catch (const EKovaOptionsError& e) {
            EXPECT_NE(c.Error, "") << e.what();
            EXPECT_NE(std::string(e.what()).find(c.Error), std::string::npos) << e.what();
        }
    }
}

TEST(GadgetHostOptions, AFirstRunCopiesTheShippedGadgetAndKeepsWhatExists) {
    TTempDir shipped, home;
    fs::create_directories(shipped.File("bin"));
    fs::create_directories(shipped.File("gadget/images"));
    shipped.Write("gadget/index.html", "new page");
    shipped.Write("gadget/images/next.png", "png");
    shipped.Write("gadget/KovaDat.dat", "dat");
    EXPECT_EQ(ShippedGadgetDirectory(shipped.File("bin/kova-gadget")), shipped.File("gadget"));
    EXPECT_EQ(ShippedGadgetDirectory(home.File("bin/kova-gadget")), "");

    const std::string folder = home.File("data/kova-gadget");
    fs::create_directories(folder);
    WriteFileAtomic(folder + "/index.html", "the user's page");
    EXPECT_EQ(FillGadgetDirectory(folder, shipped.File("gadget")), 2);
    EXPECT_EQ(ReadTextFile(folder + "/index.html"), "the user's page");
    EXPECT_EQ(ReadTextFile(folder + "/images/next.png"), "png");
    EXPECT_EQ(ReadTextFile(folder + "/KovaDat.dat"), "dat");
    EXPECT_EQ(FillGadgetDirectory(folder, shipped.File("gadget")), 0);
    EXPECT_THROW(FillGadgetDirectory(shipped.File("gadget/index.html") + "/below", ""), EInOutError);
}

TEST(GadgetHostProcess, AnswersHelpAndRefusesBadOptions) {
    std::string output;
    EXPECT_EQ(TGadgetHostProcess::RunToEnd({"--help"}, &output), 0);
    for (const char* option : {"--port", "--gadget-dir", "--no-browser", "--runame", "--help"})
        EXPECT_NE(output.find(option), std::string::npos) << option;
    EXPECT_EQ(TGadgetHostProcess::RunToEnd({"--port", "70000"}), 2);
    EXPECT_EQ(TGadgetHostProcess::RunToEnd({"--bogus"}), 2);
}

TEST_F(GadgetServerTest, TheProgramSavesTheItemsAndExitsCleanlyOnASignalEvenWithADialogOpen) {
    for (const int signal : {SIGTERM, SIGINT}) {
        fs::remove(Dir.File("watchlist.dat"));
        TGadgetHostProcess process({"--no-browser", "--port", "0", "--gadget-dir", Dir.Path()});
        httplib::Client client("127.0.0.1", process.Port());
        client.set_read_timeout(60, 0);
        const httplib::Headers secret{{"X-Kova-Secret", process.Secret()}};
        const auto init = client.Post("/api/call", secret, R"({"member":"Init","kind":"method","args":[""]})",
                                      "application/json");
        ASSERT_TRUE(init);
        ASSERT_EQ(init->status, 200) << init->body;
        // The load waits in the login data dialog when the signal comes: the dialog closes, the call returns.
        TEventStream events(process.Port(), process.Secret());
        auto load = std::async(std::launch::async, [&] {
            httplib::Client other("127.0.0.1", process.Port());
            other.set_read_timeout(60, 0);
            return other.Post("/api/call", secret, R"({"member":"LoadWatchlist","kind":"method"})",
                              "application/json");
        });
        events.AwaitForms([](const json& forms) { return forms.size() == 1; });
        EXPECT_EQ(process.Stop(signal), 0) << signal;
        const auto loaded = load.get();
        ASSERT_TRUE(loaded);
        EXPECT_EQ(loaded->status, 200) << loaded->body;
        EXPECT_TRUE(FileExists(Dir.File("watchlist.dat"))) << signal;
    }
}
