#include "host/KovaGadgetStartPage.h"
#include "platform/UnitPlatformFiles.h"
#include "support/GadgetHostProcess.h"
#include "support/KovaTestSupport.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <optional>
#include <sstream>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

// Sets (or, with nullopt, clears) an environment variable while it lives.
class TScopedVariable {
public:
    TScopedVariable(const char* name, const std::optional<std::string>& value) : FName(name) {
        if (const char* old = std::getenv(name)) FOld = old;
        if (value)
            ::setenv(name, value->c_str(), 1);
        else
            ::unsetenv(name);
    }
    ~TScopedVariable() {
        if (FOld)
            ::setenv(FName, FOld->c_str(), 1);
        else
            ::unsetenv(FName);
    }

private:
    const char* FName;
    std::optional<std::string> FOld;
};

struct TStat {
    bool Exists = false;
    mode_t Mode = 0;
    uid_t Owner = 0;
};

TStat LStat(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return {};
    return {true, st.st_mode, st.st_uid};
}

std::string FolderOf(const std::string& path) {
    return fs::path(path).parent_path().string();
}

const std::string Address = "http://127.0.0.1:4711/#Secret_0123456789-abcdefghijklmnopqrstuvwxyzAB";

// The page forwards to the address with its secret: by a refresh and by script, without a referrer.
void ExpectForwardsTo(const std::string& page, const std::string& address) {
    EXPECT_NE(page.find("<meta http-equiv=\"refresh\" content=\"0; url=" + address + "\">"),
              std::string::npos)
        << page;
    EXPECT_NE(page.find("location.replace(\"" + address + "\")"), std::string::npos) << page;
    EXPECT_NE(page.find("<meta name=\"referrer\" content=\"no-referrer\">"), std::string::npos) << page;
}

} // namespace

TEST(KovaGadgetStartPage, LiesOwnerOnlyInTheRuntimeFolderAndPassesOverOneThatIsNotTheUsersAlone) {
    struct TCase {
        const char* What;
        bool RuntimeSet;
        std::function<void(const std::string& folder, const TTempDir& elsewhere)>
            Lay;                // the runtime's kova-gadget
        const char* PassedOver; // part of the reason, or nullptr when the runtime folder is used
    };
    const TCase cases[] = {
        {"no folder yet", true, [](auto&, auto&) {}, nullptr},
        {"the user's own folder", true,
         [](const std::string& f, auto&) {
             fs::create_directory(f);
             ::chmod(f.c_str(), 0700);
         },
         nullptr},
        {"a folder open to others", true,
         [](const std::string& f, auto&) {
             fs::create_directory(f);
             ::chmod(f.c_str(), 0777);
         },
         "others may enter it (mode 0777)"},
        {"a folder others may read", true,
         [](const std::string& f, auto&) {
             fs::create_directory(f);
             ::chmod(f.c_str(), 0750);
         },
         "(mode 0750)"},
        {"a link to a private folder", true,
         [](const std::string& f, const TTempDir& elsewhere) {
             fs::create_directory_symlink(elsewhere.Path(), f);
         },
         "it is a symbolic link"},
        {"a file in its place", true, [](const std::string& f, auto&) { WriteFileAtomic(f, "x"); },
         "Not a directory"},
        {"another user's folder", true,
         [](const std::string& f, auto&) {
             fs::create_directory(f);
             ::chmod(f.c_str(), 0700);
             ::chown(f.c_str(), 65534, 65534);
         },
         "it belongs to another user"},
        {"no runtime folder", false, [](auto&, auto&) {}, nullptr},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.What);
        if (std::string(c.What) == "another user's folder" && ::geteuid() != 0)
            continue; // only root gives away
        TTempDir runtime, temp, elsewhere;
        const std::string ownFolder = runtime.File("kova-gadget");
        c.Lay(ownFolder, elsewhere);
        TScopedVariable runtimeVariable("XDG_RUNTIME_DIR",
                                        c.RuntimeSet ? std::optional(runtime.Path()) : std::nullopt);
        TScopedVariable tempVariable("TMPDIR", temp.Path());

        std::string path, folder;
        {
            TKovaGadgetStartPage page(Address);
            path = page.Path();
            folder = FolderOf(path);
            const bool inRuntime = c.RuntimeSet && !c.PassedOver;
            // Passed over, it lies in a private folder of its own in TMPDIR.
            EXPECT_EQ(inRuntime ? folder : FolderOf(folder), inRuntime ? ownFolder : temp.Path());
            if (c.PassedOver) {
                EXPECT_NE(page.PassedOver().find(ownFolder), std::string::npos) << page.PassedOver();
                EXPECT_NE(page.PassedOver().find(c.PassedOver), std::string::npos) << page.PassedOver();
            } else {
                EXPECT_EQ(page.PassedOver(), "");
            }
            EXPECT_TRUE(fs::is_empty(elsewhere.Path())) << "nothing written through a link";

            const TStat file = LStat(path), parent = LStat(folder);
            EXPECT_TRUE(S_ISREG(file.Mode));
            EXPECT_EQ(file.Mode & 07777, 0600u);
            EXPECT_EQ(file.Owner, ::geteuid());
            EXPECT_TRUE(S_ISDIR(parent.Mode));
            EXPECT_EQ(parent.Mode & 07777, 0700u);
            EXPECT_EQ(parent.Owner, ::geteuid());
            EXPECT_EQ(page.FileUrl(), "file://" + path);
            ExpectForwardsTo(ReadFileBytes(path), Address);
        }
        EXPECT_FALSE(LStat(path).Exists) << "removed with the object";
        EXPECT_EQ(LStat(folder).Exists, folder == ownFolder) << "its own temporary folder goes with it";
    }
}

TEST(KovaGadgetStartPage, AnAddressCannotBreakOutOfTheForwarding) {
    const std::string page = KovaGadgetStartPageHtml("http://127.0.0.1:1/#a\"</script><b>'&x");
    EXPECT_EQ(page.find("</script><b>"), std::string::npos) << page;
    EXPECT_EQ(page.find("a\"<"), std::string::npos) << page;
    EXPECT_NE(page.find("url=http://127.0.0.1:1/#a&quot;&lt;/script&gt;&lt;b&gt;&#39;&amp;x\">"),
              std::string::npos)
        << page;
    EXPECT_NE(page.find(R"(location.replace("http://127.0.0.1:1/#a\x22\x3c/script\x3e\x3cb\x3e\x27\x26x"))"),
              std::string::npos)
        << page;
}

// The real host hands the browser the start page, and no process shows the secret in its arguments.
TEST(KovaGadgetStartPage, TheHostGivesTheBrowserTheStartPageAndRemovesItWhenItEnds) {
    struct TCase {
        int Signal;
        bool RuntimeSet;
    };
    for (const TCase c : {TCase{SIGTERM, true}, TCase{SIGINT, false}}) {
        SCOPED_TRACE(c.Signal);
        TTempDir gadget, runtime, temp, bin;
        // A stand-in opener first on PATH notes its arguments, one a line.
        const std::string opener =
            bin.Write("xdg-open", "#!/bin/sh\n"
                                  "printf '%s\\n' \"$@\" > \"$(dirname \"$0\")/args.part\"\n"
                                  "mv \"$(dirname \"$0\")/args.part\" \"$(dirname \"$0\")/args\"\n");
        fs::permissions(opener, fs::perms::owner_all);
        TScopedVariable path("PATH", bin.Path() + ":" + std::getenv("PATH"));
        TScopedVariable runtimeVariable("XDG_RUNTIME_DIR",
                                        c.RuntimeSet ? std::optional(runtime.Path()) : std::nullopt);
        TScopedVariable tempVariable("TMPDIR", temp.Path());

        TGadgetHostProcess host({"--port", "0", "--gadget-dir", gadget.Path()});
        const std::string address = "http://127.0.0.1:" + std::to_string(host.Port()) + "/#" + host.Secret();
        EXPECT_EQ(host.Line(), "KovaGadget: " + address) << "the startup line stays";
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!fs::exists(bin.File("args")) && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        const std::string args = ReadTextFile(bin.File("args"));
        ASSERT_FALSE(args.empty()) << "the opener was not started";
        EXPECT_EQ(args.find(host.Secret()), std::string::npos) << args;

        // Nothing on this machine carries the secret on its command line.
        for (const auto& entry : fs::directory_iterator("/proc")) {
            const std::string name = entry.path().filename();
            if (name.find_first_not_of("0123456789") != std::string::npos) continue;
            EXPECT_EQ(ReadTextFile(entry.path() / "cmdline").find(host.Secret()), std::string::npos) << name;
        }

        ASSERT_EQ(args.rfind("file://", 0), 0u) << args;
        ASSERT_EQ(args.find('\n'), args.size() - 1) << "one argument: " << args;
        const std::string page = args.substr(7, args.size() - 8);
        const std::string folder = FolderOf(page);
        EXPECT_EQ(FolderOf(c.RuntimeSet ? page : folder),
                  c.RuntimeSet ? runtime.File("kova-gadget") : temp.Path());
        EXPECT_EQ(LStat(page).Mode & 07777, 0600u);
        EXPECT_TRUE(S_ISREG(LStat(page).Mode));
        EXPECT_EQ(LStat(folder).Mode & 07777, 0700u);
        ExpectForwardsTo(ReadTextFile(page), address);

        EXPECT_EQ(host.Stop(c.Signal), 0);
        EXPECT_FALSE(LStat(page).Exists) << "the start page goes when the host ends";
        if (!c.RuntimeSet) {
            EXPECT_FALSE(LStat(folder).Exists) << "and its private folder with it";
        }
    }
}
