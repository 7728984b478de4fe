#include "platform/UnitPlatformFiles.h"
#include "support/GadgetHostProcess.h"
#include "support/GadgetTestDirectory.h"
#include "support/SandboxProcess.h"

#include <chrono>
#include <filesystem>
#include <gtest/gtest.h>
#include <httplib.h>
#include <nlohmann/json.hpp>
#include <sys/stat.h>
#include <thread>

namespace {

namespace fs = std::filesystem;
using json = nlohmann::json;

int LinkMode(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 ? static_cast<int>(st.st_mode) : -1;
}

} // namespace

// The real host loads a list into a gadget folder where strangers' modes stand at the control's file names:
// what it writes is a regular file of its own mode, and nothing is written through a link.
TEST(KovaGadgetHostFiles, TheControlsFilesNeverTakeTheModeOfWhatStoodAtTheirNames) {
    TSandboxProcess sandbox({"demo:12"});
    ::setenv("KOVA_EXTRA_CA_FILE", sandbox.CAPath().c_str(), 1);
    TGadgetTestDirectory dir(SandboxGadget(sandbox));
    dir.SaveLogInData("demo", "secret", sandbox.Token("demo"));
    TTempDir elsewhere;
    const std::string target = elsewhere.File("setuid-program");
    WriteFileAtomic(target, "#!/bin/sh\n");
    ::chmod(target.c_str(), 04755);
    fs::create_symlink(target, dir.File("result.txt"));
    WriteFileAtomic(dir.File("watchlist.dat"), "");
    ::chmod(dir.File("watchlist.dat").c_str(), 0777);
    const mode_t mask = ::umask(022);

    {
        TGadgetHostProcess host({"--no-browser", "--port", "0", "--gadget-dir", dir.Dir().Path()});
        httplib::Client client("127.0.0.1", host.Port());
        client.set_read_timeout(60, 0);
        const auto call = [&](const std::string& member, const char* kind, const json& args = json::array()) {
            const auto res = client.Post("/api/call", {{"X-Kova-Secret", host.Secret()}},
                                         json{{"member", member}, {"kind", kind}, {"args", args}}.dump(),
                                         "application/json");
            return res && res->status == 200 ? json::parse(res->body)["result"] : json("failed");
        };
        ASSERT_NE(call("Init", "method", {""}), "failed");
        ASSERT_NE(call("LoadWatchlist", "method"), "failed");
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (call("IsWorking", "get") != false && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        ASSERT_NE(call("Terminate", "method"), "failed"); // saves "watchlist.dat"
        EXPECT_EQ(host.Stop(), 0);
    }
    ::umask(mask);
    ::unsetenv("KOVA_EXTRA_CA_FILE");

    struct TCase {
        const char* Name;
        int Mode;
    };
    for (const TCase c : {TCase{"result.txt", 0600}, TCase{"watchlist.dat", 0600}, TCase{"ebtmp.dat", 0600},
                          TCase{"KovaGadget.ini", 0600}}) {
        SCOPED_TRACE(c.Name);
        const int mode = LinkMode(dir.File(c.Name));
        EXPECT_TRUE(S_ISREG(mode)) << "a regular file";
        EXPECT_EQ(mode & 07777, c.Mode);
    }
    EXPECT_NE(ReadTextFile(dir.File("result.txt")).find("<"), std::string::npos) << "the list was written";
    EXPECT_EQ(ReadTextFile(target), "#!/bin/sh\n") << "the link's target is untouched";
    EXPECT_EQ(FilePermissions(target), 04755);
}
