// ctest-labels: threaded
#include "ebayapi/UnitInternet.h"
#include "platform/UnitPlatformMonotonic.h"
#include "support/LoopbackServer.h"
#include "support/TinyProxy.h"
#include "support/UnitProxySettings.h"
#include "time/UnitTimeUtils.h"

#include <gtest/gtest.h>

namespace {

const std::string Untouched = "as passed in";

TProxySettings Proxy(bool uses, int port, bool auth = false, std::string user = "",
                     std::string password = "") {
    TProxySettings p;
    p.UsesProxy = uses;
    p.Server = "127.0.0.1";
    p.Port = port;
    p.NeedsAuthentication = auth;
    p.UserName = std::move(user);
    p.Password = std::move(password);
    return p;
}

struct TFetch {
    std::string Text = Untouched;
    TInternetStatus Status = iyOK;
    std::string ErrorClass, ErrorMessage;
};

TFetch Fetch(const std::string& url, const TProxySettings* proxy = nullptr, int readTimeout = 20000,
             const std::string& acceptEncoding = "", int overallTimeout = 60000) {
    TInternetIndy indy;
    EXPECT_EQ(indy.OverallTimeout(), 60000);
    indy.SetReadTimeout(readTimeout);
    indy.SetOverallTimeout(overallTimeout);
    indy.SetAcceptEncoding(acceptEncoding);
    TFetch f;
    indy.GetURLText(proxy, url, f.Text, f.Status);
    f.ErrorClass = indy.LastErrorClass();
    f.ErrorMessage = indy.LastErrorMessage();
    return f;
}

class InternetTest : public ::testing::Test {
protected:
    void SetUp() override {
        auto& s = Web.Server;
        s.Get(R"(/code/(\d+))", [](const httplib::Request& req, httplib::Response& res) {
            res.status = std::stoi(req.matches[1]);
            res.set_content("body of " + req.matches[1].str(), "text/plain");
        });
        s.Get(R"(/hop/(\d+))", [](const httplib::Request& req, httplib::Response& res) {
            int left = std::stoi(req.matches[1]);
            if (left == 0) return res.set_content("arrived", "text/plain");
            res.set_redirect("/hop/" + std::to_string(left - 1));
        });
        s.Get("/headers", [](const httplib::Request& req, httplib::Response& res) {
            res.set_content("AE=" + req.get_header_value("Accept-Encoding") +
                                ";CT=" + req.get_header_value("Content-Type") +
                                ";HasAE=" + std::to_string(req.has_header("Accept-Encoding")),
                            "text/plain");
        });
        s.Get("/set-cookie", [](const httplib::Request&, httplib::Response& res) {
            res.set_header("Set-Cookie", "kova=crumb; Path=/");
            res.set_redirect("/cookie");
        });
        s.Get("/cookie", [](const httplib::Request& req, httplib::Response& res) {
            res.set_content("Cookie=" + req.get_header_value("Cookie"), "text/plain");
        });
        s.Get("/files/list.txt", [](const httplib::Request&, httplib::Response& res) {
            res.set_content(std::string(5000, 'l'), "text/plain");
        });
        s.Get("/silent", [](const httplib::Request&, httplib::Response& res) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1500));
            res.set_content("late", "text/plain");
        });
        // Ten pieces 150 ms apart: slow as a whole, but never silent for long.
        s.Get("/drip", [](const httplib::Request&, httplib::Response& res) {
            res.set_chunked_content_provider("text/plain", [](size_t offset, httplib::DataSink& sink) {
                if (offset >= 10) {
                    sink.done();
                    return true;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(150));
                sink.write("x", 1);
                return true;
            });
        });
        Web.Start();
    }

    TLoopbackServer Web;
};

} // namespace

TEST(InternetStatusTest, ResponseCodesMapExactlyToTheTableAndEverythingElseIsUnknown) {
    const std::pair<int, const char*> mapped[] = {{200, "iyOK"},
                                                  {201, "iyCreated"},
                                                  {202, "iyAccepted"},
                                                  {203, "iyNon"},
                                                  {206, "iyPartialContent"},
                                                  {301, "iyMovedPermanently"},
                                                  {305, "iyUseProxy"},
                                                  {400, "iyBadRequest"},
                                                  {404, "iyNotFound"},
                                                  {407, "iyProxyAuthenticationRequired"},
                                                  {415, "iyUnsupportedMediaType"},
                                                  {500, "iyInternalServerError"},
                                                  {505, "iyHTTPNotSupported"}};
    for (auto [code, name] : mapped)
        EXPECT_STREQ(InternetStatusNames[ResponseCodeToStatus(code)], name) << code;
    for (int code : {-1, 0, 100, 207, 300, 307, 402, 416, 418, 506, 999})
        EXPECT_EQ(ResponseCodeToStatus(code), iyUnknown) << code;

    EXPECT_EQ(InternetStatusNames.size(), 36u);
    EXPECT_STREQ(InternetStatusNames[iyFailedTargetFileWrite], "iyFailedTargetFileWrite");
    EXPECT_STREQ(DownloadStateNames[dsFailedTargetFileWrite], "dsFailedTargetFileWrite");
    EXPECT_TRUE(InternetStatusSucceeded(iyAccepted));
    EXPECT_FALSE(InternetStatusSucceeded(iyNon));
}

TEST(InternetStatusTest, MessagesKeepTheirExactWording) {
    const std::string noConnection = "Internet error! Message: \"No connection to Internet\".";
    EXPECT_EQ(InternetStatusMessage(iyOK), "");
    for (auto status : {iyCreated, iyNon, iyUnknown, iyFailedTargetFileWrite})
        EXPECT_EQ(InternetStatusMessage(status), noConnection);
    EXPECT_EQ(InternetStatusMessage(ResponseCodeToStatus(402)), noConnection);
    EXPECT_EQ(InternetStatusMessage(iyMovedPermanently), "Internet error! Message: \"Page moved\"");
    EXPECT_EQ(InternetStatusMessage(iyInternalServerError),
              "Internet error! Internal server error. Please try again later");
    EXPECT_EQ(InternetStatusMessage(iyProxy),
              "Internet error! Message: \"Please check your proxy settings\".");
    EXPECT_EQ(InternetStatusMessage(static_cast<TInternetStatus>(200)), noConnection);
}

TEST_F(InternetTest, AnswersBecomeStatusesAndOnlyCompletedAnswersFillTheText) {
    auto ok = Fetch(Web.URL("/code/200"));
    EXPECT_EQ(ok.Status, iyOK);
    EXPECT_EQ(ok.Text, "body of 200");
    EXPECT_EQ(ok.ErrorMessage, "");

    auto non = Fetch(Web.URL("/code/203"));
    EXPECT_EQ(non.Status, iyNon);
    EXPECT_FALSE(InternetStatusSucceeded(non.Status));

    for (auto [code, status] : {std::pair{402, iyUnknown}, {404, iyNotFound}, {503, iyServiceUnavailable}}) {
        auto failed = Fetch(Web.URL("/code/" + std::to_string(code)));
        EXPECT_EQ(failed.Status, status) << code;
        EXPECT_EQ(failed.Text, Untouched) << code;
        EXPECT_EQ(failed.ErrorClass, "EHTTPProtocolError") << code;
        EXPECT_NE(failed.ErrorMessage.find(std::to_string(code)), std::string::npos) << failed.ErrorMessage;
    }

    int deadPort = FindFreeLoopbackPort();
    auto nobody = Fetch("http://127.0.0.1:" + std::to_string(deadPort) + "/");
    EXPECT_EQ(nobody.Status, iyUnknown);
    EXPECT_EQ(nobody.Text, Untouched);
    EXPECT_EQ(nobody.ErrorClass, "EHTTPSocketError");
    EXPECT_FALSE(nobody.ErrorMessage.empty());

    auto notHttp = Fetch("file:///etc/hostname");
    EXPECT_EQ(notHttp.Status, iyUnknown);
    EXPECT_EQ(notHttp.Text, Untouched);
}

TEST_F(InternetTest, FollowsFiveRedirectsButNotSix) {
    auto five = Fetch(Web.URL("/hop/5"));
    EXPECT_EQ(five.Status, iyOK);
    EXPECT_EQ(five.Text, "arrived");

    auto six = Fetch(Web.URL("/hop/6"));
    EXPECT_EQ(six.Status, iyMovedTemporarily);
    EXPECT_EQ(six.Text, Untouched);
    EXPECT_FALSE(six.ErrorMessage.empty());
}

TEST_F(InternetTest, SendsAcceptEncodingOnlyWhenNotBlankAndAlwaysTheXmlContentType) {
    EXPECT_EQ(Fetch(Web.URL("/headers")).Text, "AE=;CT=text/xml;HasAE=0");
    EXPECT_EQ(Fetch(Web.URL("/headers"), nullptr, 20000, "   ").Text, "AE=;CT=text/xml;HasAE=0");
    EXPECT_EQ(Fetch(Web.URL("/headers"), nullptr, 20000, " x-kova ").Text, "AE=x-kova;CT=text/xml;HasAE=1");
}

TEST_F(InternetTest, ReadTimeOutLimitsSilenceNotTheWholeExchange) {
    uint64_t start = MonotonicMs();
    auto silent = Fetch(Web.URL("/silent"), nullptr, 300);
    EXPECT_LT(MonotonicMs() - start, 1200u);
    EXPECT_EQ(silent.Status, iyUnknown);
    EXPECT_EQ(silent.Text, Untouched);
    EXPECT_EQ(silent.ErrorClass, "EHTTPTimeoutError");

    // The 200 status line arrives at once; breaking off afterwards must not pass for a usable answer.
    auto drip = Fetch(Web.URL("/drip"), nullptr, 100);
    EXPECT_EQ(drip.Status, iyUnknown);
    EXPECT_EQ(drip.Text, Untouched);

    auto patient = Fetch(Web.URL("/drip"), nullptr, 600);
    EXPECT_EQ(patient.Status, iyOK);
    EXPECT_EQ(patient.Text, "xxxxxxxxxx");

    // Never silent for long, but slower as a whole than the overall deadline allows.
    start = MonotonicMs();
    auto late = Fetch(Web.URL("/drip"), nullptr, 600, "", 500);
    EXPECT_LT(MonotonicMs() - start, 1000u);
    EXPECT_EQ(late.Status, iyUnknown);
    EXPECT_EQ(late.Text, Untouched);
    EXPECT_EQ(late.ErrorMessage, "Request not completed within 500 ms");
}

TEST_F(InternetTest, CookiesLiveWithinOneRequestOnly) {
    EXPECT_EQ(Fetch(Web.URL("/set-cookie")).Text, "Cookie=kova=crumb");
    EXPECT_EQ(Fetch(Web.URL("/cookie")).Text, "Cookie=");
}

TEST_F(InternetTest, ProxyIsUsedOnlyWhenItsFlagIsSetAndTheEnvironmentIsIgnored) {
    TProxySettings unused = Proxy(false, FindFreeLoopbackPort());
    setenv("http_proxy", ("http://127.0.0.1:" + std::to_string(unused.Port)).c_str(), 1);
    auto direct = Fetch(Web.URL("/code/200"), &unused);
    auto noRecord = Fetch(Web.URL("/code/200"));
    unsetenv("http_proxy");
    EXPECT_EQ(direct.Status, iyOK);
    EXPECT_EQ(noRecord.Status, iyOK);

    TProxySettings dead = Proxy(true, unused.Port);
    auto refused = Fetch(Web.URL("/code/200"), &dead);
    EXPECT_EQ(refused.Status, iyUnknown);
    EXPECT_EQ(refused.Text, Untouched);
}

TEST_F(InternetTest, GoesThroughARealProxy) {
    TTinyProxy tiny;
    TProxySettings settings = Proxy(true, tiny.Port(), false, "ignored", "ignored");
    auto through = Fetch(Web.URL("/code/200"), &settings);
    EXPECT_EQ(through.Status, iyOK);
    EXPECT_EQ(through.Text, "body of 200");
    EXPECT_NE(tiny.LogText().find("/code/200"), std::string::npos) << tiny.LogText();
}

TEST_F(InternetTest, SendsProxyCredentialsOnlyWhenBothFlagsAreSet) {
    TTinyProxy tiny("kova", "s3cret");
    TProxySettings right = Proxy(true, tiny.Port(), true, "kova", "s3cret");
    TProxySettings wrong = Proxy(true, tiny.Port(), true, "kova", "guess");
    TProxySettings notAsked = Proxy(true, tiny.Port(), false, "kova", "s3cret");

    auto accepted = Fetch(Web.URL("/code/200"), &right);
    EXPECT_EQ(accepted.Status, iyOK);
    EXPECT_EQ(accepted.Text, "body of 200");

    auto notSent = Fetch(Web.URL("/code/200"), &notAsked);
    EXPECT_EQ(notSent.Status, iyProxyAuthenticationRequired);
    EXPECT_EQ(notSent.Text, Untouched);
    EXPECT_EQ(InternetStatusMessage(notSent.Status),
              "Internet error! Please enter a proxy user name and password in the settings menu.");

    // This proxy answers a wrong password with 401 rather than 407.
    auto refused = Fetch(Web.URL("/code/200"), &wrong);
    EXPECT_EQ(refused.Status, iyUnauthorized);
    EXPECT_EQ(refused.Text, Untouched);
}

TEST_F(InternetTest, ReportsProgressToAnObserver) {
    struct TRecorder : IInternetProgress {
        int64_t Max = -1, Position = -1, LastBeforeEnd = -1;
        std::string Caption;
        void SetMax(int64_t maximum) override { Max = maximum; }
        void SetPosition(int64_t position) override {
            LastBeforeEnd = Position;
            Position = position;
        }
        void SetCaption(const std::string& caption) override { Caption = caption; }
    } recorder;
    TInternetIndy indy(&recorder);
    std::string text;
    TInternetStatus status = iyUnknown;
    indy.GetURLText(nullptr, Web.URL("/files/list.txt"), text, status);
    EXPECT_EQ(status, iyOK);
    EXPECT_EQ(recorder.Max, 5000);
    EXPECT_EQ(recorder.Caption, "list.txt");
    EXPECT_EQ(recorder.LastBeforeEnd, 5000);
    EXPECT_EQ(recorder.Position, 100);
}

TEST(InternetTimeRequest, TheTimeRequestFetchesThroughTheTransport) {
    TLoopbackServer web;
    web.Server.Get("/time", [](const httplib::Request&, httplib::Response& res) {
        res.set_content("12-07-2026 10:11:12", "text/plain");
    });
    web.Start();
    InstallTimeRequestFetcher();
    TTessarynTimeRequest request(web.URL("/time"));
    EXPECT_EQ(request.ParseServerTime("12-07-2026 10:11:12"), EncodeDateTime(2026, 12, 7, 10, 11, 12, 0));
    EXPECT_NE(request.GetServerTime(), 0);
    EXPECT_EQ(request.LastStatus(), iyOK);

    TTessarynTimeRequest nowhere(web.URL("/missing"));
    EXPECT_EQ(nowhere.GetServerTime(), 0);
    EXPECT_EQ(nowhere.LastStatus(), iyNotFound);
    SetTimeRequestFetcher({});
}
