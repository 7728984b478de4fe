#include "host/KovaGadgetDemo.h"
#include "platform/UnitPlatformEnvironment.h"
#include "platform/UnitPlatformFiles.h"
#include "platform/UnitPlatformProcess.h"
#include "storage/UnitKovaDatFile.h"
#include "storage/UnitKovaIniFile.h"
#include "support/KovaTestSupport.h"
#include "support/SandboxProcess.h"
#include "support/UnitFileUtils.h"

#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>
#include <sstream>

namespace fs = std::filesystem;

namespace {

// The demo runs as the built kova-gadget would: its sandbox beside it, its page in ../gadget; its
// temporary folder goes into a folder of the test's own.
class GadgetDemoTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetProcessExecutablePathForTesting(std::string(KOVA_BIN_DIR) + "/kova-gadget");
        FOldTmp = GetEnvironmentVariable("TMPDIR");
        SetEnvironmentVariable("TMPDIR", Tmp.Path());
    }
    void TearDown() override {
        SetProcessExecutablePathForTesting(std::nullopt);
        if (FOldTmp)
            SetEnvironmentVariable("TMPDIR", *FOldTmp);
        else
            ::unsetenv("TMPDIR");
        // The demo held these back for its host; a test has no host to take them.
        sigset_t stopSignals;
        sigemptyset(&stopSignals);
        sigaddset(&stopSignals, SIGINT);
        sigaddset(&stopSignals, SIGTERM);
        pthread_sigmask(SIG_UNBLOCK, &stopSignals, nullptr);
    }
    TTempDir Tmp;

private:
    std::optional<std::string> FOldTmp;
};

// What a host started by the demo finds, seen from inside the host runner.
struct TDemoSeen {
    std::string GadgetDir;
    std::string KovaDat;
    std::string User, Password, Token;
    long SandboxStatus = 0;
    std::string SandboxUrl;
    bool HasPage = false;
};

int DemoFoldersIn(const std::string& folder) {
    int count = 0;
    for (const auto& entry : fs::directory_iterator(folder))
        count += entry.path().filename().string().rfind("kova-demo.", 0) == 0;
    return count;
}

TKovaGadgetHostRunner Recording(TDemoSeen& seen, int exitCode) {
    return [&seen, exitCode](const TKovaGadgetHostOptions& options) {
        seen.GadgetDir = options.GadgetDir;
        seen.KovaDat = UnpackKovaDatFile(options.GadgetDir + "/KovaDat.dat");
        seen.HasPage = FileExists(options.GadgetDir + "/index.html");
        TIniFileManager settings("KovaGadget.ini", IncludeTrailingPathDelimiter(options.GadgetDir));
        settings.EbayLoginData().LoadLogInData(seen.User, seen.Password, seen.Token);
        const size_t start = seen.KovaDat.find("<APIServerProduction>") + 21;
        seen.SandboxUrl = seen.KovaDat.substr(start, seen.KovaDat.find("/ws/api.dll") - start);
        // The sandbox answers the program's way: trusted through the CA the demo names.
        THttpsRequest request;
        request.Url = seen.SandboxUrl + "/";
        request.CAFile = GetEnvironmentVariable(KovaExtraCAFileVariable).value_or("");
        seen.SandboxStatus = HttpsExchange(request).Status;
        return exitCode;
    };
}

} // namespace

TEST(GadgetDemo, TheSandboxsApplicationDataKeepEverythingElseOfTheShippedOnes) {
    const std::string shipped =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<KOVADAT><COMMON>"
        "<LINKFETCHTOKENSIGNIN>https://signin.example/x</LINKFETCHTOKENSIGNIN>"
        "<TRACKER>kept</TRACKER></COMMON><EBAYAPI><APICertID></APICertID>"
        "<APIAppID></APIAppID><APIDevID></APIDevID><APIServerProduction>https://api.example"
        "</APIServerProduction><APISiteID>77</APISiteID></EBAYAPI>"
        "<SIGNIN><SIGNINKIND>oauth</SIGNINKIND></SIGNIN></KOVADAT>";
    const std::string demo = KovaDatForSandbox(shipped, "https://127.0.0.1:4443");
    for (const char* expected :
         {"<LINKFETCHTOKENSIGNIN>https://127.0.0.1:4443/signin?runame=MYRUNAME&amp;SessID=USERSID<",
          "<APIServerProduction>https://127.0.0.1:4443/ws/api.dll<", "<APIDevID>KovaSandboxDev<",
          "<APIAppID>KovaSandboxApp<", "<APICertID>KovaSandboxCert<", "<TRACKER>kept<", "<APISiteID>77<"})
        EXPECT_NE(demo.find(expected), std::string::npos) << expected << " in\n" << demo;
    EXPECT_EQ(demo.find("<SIGNIN"), std::string::npos) << "the demo signs in the design's way";
    EXPECT_THROW(KovaDatForSandbox("<KOVADAT><COMMON></KOVADAT>", "https://x"), Exception);
    EXPECT_THROW(KovaDatForSandbox("<KOVADAT><COMMON/></KOVADAT>", "https://x"), Exception)
        << "a value the demo must set is missing";
}

TEST_F(GadgetDemoTest, PreparesASignedInGadgetOnAPrivateSandboxAndRemovesBothAfterTheHost) {
    struct TCase {
        bool FirstRun;
        int HostExit;
    };
    for (const TCase& c : {TCase{false, 0}, TCase{true, 3}}) {
        SCOPED_TRACE(c.FirstRun ? "first run" : "signed in");
        TKovaGadgetHostOptions options;
        options.Demo = true;
        options.DemoItems = 7;
        options.DemoFirstRun = c.FirstRun;
        options.Port = 4321;
        TDemoSeen seen;
        std::ostringstream report;
        EXPECT_EQ(RunKovaGadgetDemo(options, Recording(seen, c.HostExit), report), c.HostExit)
            << "the host's exit code is the demo's";

        EXPECT_EQ(seen.SandboxStatus, 200) << "the sandbox ran while the host did";
        EXPECT_TRUE(seen.HasPage) << "the gadget directory holds the shipped page";
        EXPECT_EQ(seen.GadgetDir.rfind(Tmp.Path(), 0), 0u) << seen.GadgetDir;
        EXPECT_NE(seen.KovaDat.find("<APIDevID>KovaSandboxDev<"), std::string::npos);
        EXPECT_EQ(seen.User, c.FirstRun ? "" : "demo");
        EXPECT_EQ(seen.Token.empty(), c.FirstRun) << "a signed-in demo user has a token";
        EXPECT_NE(report.str().find("demo: sandbox " + seen.SandboxUrl + " with the account \"demo\" (7 "),
                  std::string::npos)
            << report.str();
        EXPECT_NE(report.str().find("demo: stopped"), std::string::npos);

        EXPECT_EQ(DemoFoldersIn(Tmp.Path()), 0) << "the demo's folder is gone";
        THttpsRequest request;
        request.Url = seen.SandboxUrl + "/";
        request.TimeoutMs = 2000;
        EXPECT_NE(HttpsExchange(request).Code, CURLE_OK) << "the sandbox is gone";
    }
}

TEST_F(GadgetDemoTest, SaysWhatIsMissingAndLeavesNothingBehind) {
    struct TCase {
        const char* What;
        std::string Executable;
        int Items;
        const char* Reason;
    };
    TTempDir bare;
    const TCase cases[] = {
        {"no sandbox beside the program", bare.File("bin/kova-gadget"), 3, "the demo needs kova-sandbox"},
        {"more items than the sandbox makes", std::string(KOVA_BIN_DIR) + "/kova-gadget", 401,
         "kova-sandbox did not start"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.What);
        SetProcessExecutablePathForTesting(c.Executable);
        TKovaGadgetHostOptions options;
        options.DemoItems = c.Items;
        bool hostRan = false;
        std::ostringstream report;
        EXPECT_EQ(
            RunKovaGadgetDemo(
                options, [&hostRan](const TKovaGadgetHostOptions&) { return hostRan = true, 0; }, report),
            1);
        EXPECT_FALSE(hostRan);
        EXPECT_NE(report.str().find(c.Reason), std::string::npos) << report.str();
        EXPECT_EQ(DemoFoldersIn(Tmp.Path()), 0) << "the demo's folder is gone";
    }
}
