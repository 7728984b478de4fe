#include "host/KovaGadgetStartPage.h"
#include "platform/UnitPlatformFiles.h"
#include "support/GadgetHostProcess.h"
#include "support/KovaTestSupport.h"

#include <chrono>
#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>
#include <optional>
#include <sys/stat.h>
#include <thread>

namespace {

namespace fs = std::filesystem;

// Sets (or, with nullopt, clears) an environment variable while it lives.
struct TScopedVariable {
    TScopedVariable(const char* name, const std::optional<std::string>& value) : Name(name) {
        if (const char* old = std::getenv(name)) Old = old;
        value ? ::setenv(name, value->c_str(), 1) : ::unsetenv(name);
    }
    ~TScopedVariable() { Old ? ::setenv(Name, Old->c_str(), 1) : ::unsetenv(Name); }
    const char* Name;
    std::optional<std::string> Old;
};

int LinkMode(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 ? static_cast<int>(st.st_mode) : -1;
}

std::string FolderOf(const std::string& path) {
    return fs::path(path).parent_path().string();
}

// An owner-only file in an owner-only folder that forwards to the address by refresh and by script.
void ExpectStartPage(const std::string& path, const std::string& address) {
    EXPECT_EQ(LinkMode(path), S_IFREG | 0600);
    EXPECT_EQ(LinkMode(FolderOf(path)), S_IFDIR | 0700);
    const std::string page = ReadTextFile(path);
    EXPECT_NE(page.find("<meta http-equiv=\"refresh\" content=\"0; url=" + address + "\">"),
              std::string::npos);
    EXPECT_NE(page.find("location.replace(\"" + address + "\")"), std::string::npos) << page;
    EXPECT_NE(page.find("<meta name=\"referrer\" content=\"no-referrer\">"), std::string::npos) << page;
}

} // namespace

TEST(KovaGadgetStartPage, LiesInTheRuntimeFolderOnlyWhenThatIsTheUsersAlone) {
    enum TLayout { Unset, Absent, Own, OpenToOthers, Link, Strangers };
    struct TCase {
        TLayout Layout;
        const char* PassedOver; // part of the reason, or nullptr when the runtime folder is used
    };
    const std::string address = "http://127.0.0.1:4711/#Secret_0123456789-abcdefghijklmnopqrstuvwxyzAB";
    for (const TCase c :
         {TCase{Unset, nullptr}, TCase{Absent, nullptr}, TCase{Own, nullptr},
          TCase{OpenToOthers, "others may enter it (mode 0777)"}, TCase{Link, "it is a symbolic link"},
          TCase{Strangers, "it belongs to another user"}}) {
        SCOPED_TRACE(c.Layout);
        if (c.Layout == Strangers && ::geteuid() != 0) continue; // only root gives a folder away
        TTempDir runtime, temp, elsewhere;
        const std::string runtimeFolder = runtime.File("kova-gadget");
        if (c.Layout == Link) fs::create_directory_symlink(elsewhere.Path(), runtimeFolder);
        if (c.Layout >= Own && c.Layout != Link) fs::create_directory(runtimeFolder);
        ::chmod(runtimeFolder.c_str(), c.Layout == OpenToOthers ? 0777 : 0700);
        if (c.Layout == Strangers) ::chown(runtimeFolder.c_str(), 65534, 65534);
        TScopedVariable runtimeVariable("XDG_RUNTIME_DIR",
                                        c.Layout == Unset ? std::nullopt : std::optional(runtime.Path()));
        TScopedVariable tempVariable("TMPDIR", temp.Path());

        std::string path;
        {
            TKovaGadgetStartPage page(address);
            path = page.Path();
            ExpectStartPage(path, address);
            EXPECT_EQ(page.FileUrl(), "file://" + path);
            const bool inRuntime = c.Layout != Unset && !c.PassedOver;
            // Else it lies in a private folder of its own in TMPDIR.
            EXPECT_EQ(inRuntime ? FolderOf(path) : FolderOf(FolderOf(path)),
                      inRuntime ? runtimeFolder : temp.Path());
            EXPECT_NE(
                page.PassedOver().find(c.PassedOver ? runtimeFolder + "\" is not used: " + c.PassedOver : ""),
                std::string::npos)
                << page.PassedOver();
            EXPECT_EQ(page.PassedOver().empty(), !c.PassedOver);
            EXPECT_TRUE(fs::is_empty(elsewhere.Path())) << "nothing written through a link";
        }
        EXPECT_EQ(LinkMode(path), -1) << "removed with the object";
        EXPECT_EQ(fs::exists(FolderOf(path)), FolderOf(path) == runtimeFolder)
            << "its own folder goes with it";
    }
}

// The real host hands a stand-in opener the start page, and no process shows the secret in its arguments.
TEST(KovaGadgetStartPage, TheHostGivesTheBrowserTheStartPageAndRemovesItWhenItEnds) {
    for (const int signal : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(signal);
        TTempDir gadget, runtime, bin;
        const std::string opener = bin.Write("xdg-open", "#!/bin/sh\n"
                                                         "printf '%s\\n' \"$@\" > \"$0.part\"\n"
                                                         "mv \"$0.part\" \"$0.args\"\n");
        fs::permissions(opener, fs::perms::owner_all);
        TScopedVariable path("PATH", bin.Path() + ":" + std::getenv("PATH"));
        TScopedVariable runtimeVariable("XDG_RUNTIME_DIR", runtime.Path());

        TGadgetHostProcess host({"--port", "0", "--gadget-dir", gadget.Path(), "--browser", "tab"});
        const std::string address = "http://127.0.0.1:" + std::to_string(host.Port()) + "/#" + host.Secret();
        EXPECT_EQ(host.Line(), "KovaGadget: " + address) << "the startup line stays";
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!fs::exists(opener + ".args") && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        const std::string args = ReadTextFile(opener + ".args");
        for (const auto& process : fs::directory_iterator("/proc")) {
            const std::string cmdline = ReadTextFile(process.path() / "cmdline");
            EXPECT_EQ(cmdline.find(host.Secret()), std::string::npos) << process.path();
        }

        const std::string page =
            runtime.File("kova-gadget/") + fs::path(args.substr(0, args.find('\n'))).filename().string();
        ASSERT_EQ(args, "file://" + page + "\n") << "one argument, the start page";
        ExpectStartPage(page, address);
        EXPECT_EQ(host.Stop(signal), 0);
        EXPECT_EQ(LinkMode(page), -1) << "the start page goes when the host ends";
    }
}
