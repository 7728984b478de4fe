// kova-gadget as a desktop program: its options, its places, its browser window, one host per folder, its
// life after its window and its autostart entry; real processes with stand-in browsers on PATH.

#include "host/KovaGadgetAutostart.h"
#include "host/KovaGadgetHostOptions.h"
#include "platform/UnitPlatformFileOps.h"
#include "platform/UnitPlatformFiles.h"
#include "platform/UnitPlatformProcess.h"
#include "platform/UnitPlatformRunProgram.h"
#include "support/ChildProcess.h"
#include "support/EventStreamClient.h"
#include "support/GadgetHostProcess.h"
#include "support/GadgetTestDirectory.h"
#include "support/KovaTestSupport.h"
#include "support/UnitLogging.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <gtest/gtest.h>
#include <httplib.h>
#include <iostream>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

const std::string HostBinary = std::string(KOVA_BIN_DIR) + "/kova-gadget";

// Sets environment values for its lifetime; the programs a test starts inherit them.
class TEnvironment {
public:
    void Set(const std::string& name, const std::optional<std::string>& value) {
        if (!FSaved.count(name)) {
            const char* old = std::getenv(name.c_str());
            FSaved[name] = old ? std::optional<std::string>(old) : std::nullopt;
        }
        value ? ::setenv(name.c_str(), value->c_str(), 1) : ::unsetenv(name.c_str());
    }
    ~TEnvironment() {
        for (const auto& [name, value] : FSaved)
            value ? ::setenv(name.c_str(), value->c_str(), 1) : ::unsetenv(name.c_str());
    }

private:
    std::map<std::string, std::optional<std::string>> FSaved;
};

// A desktop of its own: home, XDG folders, and a PATH that holds only the stand-in programs named, each of
// which records its name and arguments in a file of its own.
class TDesktop {
public:
    explicit TDesktop(const std::vector<std::string>& standIns) {
        for (const char* folder : {"home", "config", "state", "data", "runtime", "bin", "calls"})
            fs::create_directories(Root.File(folder));
        fs::permissions(Root.File("runtime"), fs::perms::owner_all, fs::perm_options::replace);
        for (const std::string& name : standIns) {
            const std::string script =
                Root.Write("bin/" + name,
                           "#!/bin/sh\n{ echo \"${0##*/}\"; for a in \"$@\"; do echo \"$a\"; done; } > \"" +
                               Root.File("calls") + "/.$$\" && /bin/mv \"" + Root.File("calls") +
                               "/.$$\" \"" + Root.File("calls") + "/call-$$\"\n");
            fs::permissions(script, fs::perms::owner_all);
        }
        Env.Set("HOME", Root.File("home"));
        Env.Set("XDG_CONFIG_HOME", Root.File("config"));
        Env.Set("XDG_STATE_HOME", Root.File("state"));
        Env.Set("XDG_DATA_HOME", Root.File("data"));
        Env.Set("XDG_RUNTIME_DIR", Root.File("runtime"));
        Env.Set("PATH", Root.File("bin"));
        Env.Set("KOVA_GADGET_WINDOW_GRACE_MS", std::nullopt);
    }
    std::string GadgetDir() const { return Root.File("data/kova-gadget"); }

    // Each call: the program's name, then its arguments.
    std::vector<std::vector<std::string>> Calls() const {
        std::vector<std::vector<std::string>> calls;
        for (const auto& entry : fs::directory_iterator(Root.File("calls"))) {
            if (entry.path().filename().string().rfind("call-", 0) != 0) continue;
            std::vector<std::string> lines;
            std::istringstream text(ReadTextFile(entry.path().string()));
            for (std::string line; std::getline(text, line);)
                lines.push_back(line);
            calls.push_back(lines);
        }
        return calls;
    }
    std::vector<std::vector<std::string>> AwaitCalls(size_t count) const {
        for (int i = 0; i < 100 && Calls().size() < count; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        return Calls();
    }

    TTempDir Root;
    TEnvironment Env;
};

// The kova-gadget hosts that run on the folder, found by their command lines.
int HostsOn(const std::string& gadgetDir) {
    int hosts = 0;
    for (const auto& entry : fs::directory_iterator("/proc")) {
        std::string cmdline;
        if (!TryReadFileBytes(entry.path().string() + "/cmdline", cmdline)) continue;
        std::string stat;
        if (TryReadFileBytes(entry.path().string() + "/stat", stat) && stat.find(") Z") != std::string::npos)
            continue;
        if (cmdline.rfind(HostBinary + '\0', 0) == 0 &&
            cmdline.find('\0' + gadgetDir + '\0') != std::string::npos)
            ++hosts;
    }
    return hosts;
}

// Every command line of every process: what ps shows to every local user.
bool AnyCommandLineHolds(const std::string& text) {
    for (const auto& entry : fs::directory_iterator("/proc")) {
        std::string cmdline;
        if (TryReadFileBytes(entry.path().string() + "/cmdline", cmdline) &&
            cmdline.find(text) != std::string::npos)
            return true;
    }
    return false;
}

bool EndsWithin(pid_t pid, std::chrono::milliseconds time) {
    const auto deadline = std::chrono::steady_clock::now() + time;
    for (;;) {
        std::string stat;
        if (!TryReadFileBytes("/proc/" + std::to_string(pid) + "/stat", stat) ||
            stat.find(") Z") != std::string::npos)
            return true;
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

// A page as the host counts it: an open event stream.
using TPage = TEventStreamClient;

int CallInit(const TGadgetHostProcess& host) {
    httplib::Client client("127.0.0.1", host.Port());
    const auto reply = client.Post("/api/call", {{"X-Kova-Secret", host.Secret()}},
                                   R"({"member":"Init","kind":"method","args":[""]})", "application/json");
    return reply ? reply->status : -1;
}

} // namespace

TEST(GadgetDesktopOptions, ParsesBrowserAutostartAndDemoOptions) {
    struct TCase {
        std::vector<std::string> Args;
        std::string Browser, Autostart;
        int DemoItems;
        std::string Error; // empty when the arguments are good
    };
    const TCase cases[] = {
        {{}, "", "", 40, ""},
        {{"--browser", "tab"}, "tab", "", 40, ""},
        {{"--browser=app"}, "app", "", 40, ""},
        {{"--no-browser"}, "none", "", 40, ""},
        {{"--no-browser", "--browser", "none"}, "none", "", 40, ""},
        {{"--no-browser", "--browser", "app"}, "", "", 40, "contradicts --browser app"},
        {{"--browser", "window"}, "", "", 40, "app, tab or none"},
        {{"--browser"}, "", "", 40, "--browser needs a value"},
        {{"--autostart"}, "", "show", 40, ""},
        {{"--autostart", "on"}, "", "on", 40, ""},
        {{"--autostart=off", "--browser", "tab"}, "tab", "off", 40, ""},
        {{"--autostart", "--gadget-dir", "/g"}, "", "show", 40, ""},
        {{"--autostart=maybe"}, "", "", 40, "on or off"},
        {{"--demo", "--items", "7", "--first-run"}, "", "", 7, ""},
        {{"--items", "x"}, "", "", 40, "--items expects a number"},
    };
    for (const TCase& c : cases) {
        const std::string name = c.Args.empty() ? "(none)" : c.Args[0] + " ...";
        try {
            const TKovaGadgetHostOptions options = ParseKovaGadgetHostOptions(c.Args);
            EXPECT_EQ(c.Error, "") << name;
            EXPECT_EQ(options.Browser, c.Browser) << name;
            EXPECT_EQ(options.Autostart, c.Autostart) << name;
            EXPECT_EQ(options.DemoItems, c.DemoItems) << name;
        } catch (const EKovaOptionsError& e) {
            EXPECT_NE(std::string(e.what()).find(c.Error), std::string::npos) << name << ": " << e.what();
            EXPECT_NE(c.Error, "") << name << ": " << e.what();
        }
    }
}

TEST(GadgetDesktopPlaces, TheLogGoesBesideAWritableExecutableElseToTheStateFolder) {
    TTempDir root;
    TEnvironment env;
    fs::create_directories(root.File("build/bin"));
    fs::create_directories(root.File("usr/bin"));
    fs::permissions(root.File("usr/bin"), fs::perms(0555), fs::perm_options::replace);
    // An installed tree that its user may write (root's /usr/bin) still logs into the state folder.
    fs::create_directories(root.File("opt/bin"));
    fs::create_directories(root.File("opt/share/kova-gadget"));
    struct TCase {
        const char* Bin;
        std::optional<std::string> State, Home;
        std::string Log;
    };
    const TCase cases[] = {
        {"build/bin", root.File("state"), root.File("home"), root.File("build/bin/kova-gadget.log")},
        {"usr/bin", root.File("state"), root.File("home"), root.File("state/kova-gadget/kova-gadget.log")},
        {"usr/bin", std::nullopt, root.File("home"),
         root.File("home/.local/state/kova-gadget/kova-gadget.log")},
        {"usr/bin", "relative/state", root.File("home"),
         root.File("home/.local/state/kova-gadget/kova-gadget.log")},
        {"opt/bin", root.File("state"), root.File("home"), root.File("state/kova-gadget/kova-gadget.log")},
    };
    for (const TCase& c : cases) {
        env.Set("XDG_STATE_HOME", c.State);
        env.Set("HOME", c.Home);
        SetProcessExecutablePathForTesting(root.File(c.Bin) + "/kova-gadget");
        EXPECT_EQ(DefaultLogFilePath(), c.Log) << c.Bin << " " << c.State.value_or("-");
        EXPECT_TRUE(DirectoryExists(fs::path(c.Log).parent_path().string())) << c.Log;
    }
    SetProcessExecutablePathForTesting(std::nullopt);
    fs::permissions(root.File("usr/bin"), fs::perms::owner_all, fs::perm_options::replace);
}

TEST(GadgetDesktopPlaces, AnInstalledHostLogsIntoTheStateFolderAndHelpNamesEveryPlace) {
    TDesktop desktop({});
    fs::create_directories(desktop.Root.File("usr/bin"));
    const std::string installed = desktop.Root.File("usr/bin/kova-gadget");
    fs::copy_file(HostBinary, installed);
    fs::permissions(desktop.Root.File("usr/bin"), fs::perms(0555), fs::perm_options::replace);
    {
        const TChildProcess child =
            StartChildReadingFirstLine(installed, {"--no-browser", "--gadget-dir", desktop.GadgetDir()});
        const std::string url = child.FirstLine.substr(child.FirstLine.find("http://"));
        const int port = std::stoi(url.substr(url.rfind(':') + 1));
        httplib::Client client("127.0.0.1", port);
        const auto init = client.Post("/api/call", {{"X-Kova-Secret", url.substr(url.find('#') + 1)}},
                                      R"({"member":"Init","kind":"method","args":[""]})", "application/json");
        ASSERT_TRUE(init);
        EXPECT_EQ(StopChild(child.Pid, SIGTERM), 0);
    }
    fs::permissions(desktop.Root.File("usr/bin"), fs::perms::owner_all, fs::perm_options::replace);
    EXPECT_TRUE(FileExists(desktop.Root.File("state/kova-gadget/kova-gadget.log")));
    EXPECT_FALSE(FileExists(desktop.Root.File("usr/bin/kova-gadget.log")));

    std::string help;
    EXPECT_EQ(TGadgetHostProcess::RunToEnd({"--help"}, &help), 0);
    for (const char* place :
         {"XDG_DATA_HOME", "XDG_STATE_HOME", "XDG_RUNTIME_DIR", "XDG_CONFIG_HOME",
          "~/.local/state/kova-gadget", "autostart/kova-gadget.desktop", "KovaGadget.ini",
          "kova-gadget/browser", "KOVA_GADGET_WINDOW_GRACE_MS", "--browser", "--autostart"})
        EXPECT_NE(help.find(place), std::string::npos) << place;
}

TEST(GadgetDesktopBrowser, TheChoiceAndTheInstalledBrowsersDecideWhatOpensTheStartPage) {
    struct TCase {
        const char* Name;
        std::vector<std::string> StandIns;
        std::vector<std::string> Args;
        std::string Program; // empty: nothing opens
        bool AppWindow;
    };
    const TCase cases[] = {
        {"chromium", {"chromium", "google-chrome", "xdg-open"}, {}, "chromium", true},
        {"later in the order", {"brave-browser", "microsoft-edge", "xdg-open"}, {}, "microsoft-edge", true},
        {"no app browser", {"xdg-open"}, {}, "xdg-open", false},
        {"a tab asked", {"chromium", "xdg-open"}, {"--browser", "tab"}, "xdg-open", false},
        {"nothing asked", {"chromium", "xdg-open"}, {"--browser", "none"}, "", false},
    };
    for (const TCase& c : cases) {
        TDesktop desktop(c.StandIns);
        std::vector<std::string> args{"--gadget-dir", desktop.GadgetDir()};
        args.insert(args.end(), c.Args.begin(), c.Args.end());
        TGadgetHostProcess host(args);
        const auto calls = desktop.AwaitCalls(c.Program.empty() ? 0 : 1);
        EXPECT_FALSE(AnyCommandLineHolds(host.Secret())) << c.Name;
        if (c.Program.empty()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            EXPECT_TRUE(desktop.Calls().empty()) << c.Name;
            continue;
        }
        ASSERT_EQ(calls.size(), 1u) << c.Name;
        const std::vector<std::string>& call = calls[0];
        EXPECT_EQ(call[0], c.Program) << c.Name;
        const std::string startPage = c.AppWindow
                                          ? "--app=file://" + desktop.Root.File("runtime/kova-gadget/start-")
                                          : "file://" + desktop.Root.File("runtime/kova-gadget/start-");
        ASSERT_GE(call.size(), 2u) << c.Name;
        EXPECT_EQ(call[1].rfind(startPage, 0), 0u) << c.Name << ": " << call[1];
        for (const std::string& argument : call)
            EXPECT_EQ(argument.find(host.Secret()), std::string::npos) << c.Name << ": " << argument;
        if (c.AppWindow) {
            const std::vector<std::string> expected{"--window-size=520,450", "--class=kova-gadget",
                                                    "--user-data-dir=" +
                                                        desktop.Root.File("config/kova-gadget/browser")};
            for (const std::string& argument : expected)
                EXPECT_NE(std::find(call.begin(), call.end(), argument), call.end())
                    << c.Name << ": " << argument;
        }
    }
}

TEST(GadgetDesktopBrowser, TheChoiceIsKeptInTheIniForTheNextStart) {
    TDesktop desktop({"chromium", "xdg-open"});
    { TGadgetHostProcess host({"--gadget-dir", desktop.GadgetDir(), "--browser", "tab"}); }
    { TGadgetHostProcess host({"--gadget-dir", desktop.GadgetDir()}); }
    const auto calls = desktop.AwaitCalls(2);
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0][0], "xdg-open");
    EXPECT_EQ(calls[1][0], "xdg-open");
    EXPECT_NE(ReadTextFile(desktop.GadgetDir() + "/KovaGadget.ini").find("Browser=tab"), std::string::npos);

    // A choice that cannot be kept still holds for its run.
    TDesktop unkept({"chromium", "xdg-open"});
    fs::create_directories(unkept.GadgetDir() + "/KovaGadget.ini");
    { TGadgetHostProcess host({"--gadget-dir", unkept.GadgetDir(), "--browser", "tab"}); }
    const auto unkeptCalls = unkept.AwaitCalls(1);
    ASSERT_EQ(unkeptCalls.size(), 1u);
    EXPECT_EQ(unkeptCalls[0][0], "xdg-open");
}

TEST(GadgetDesktopBrowser, NoneHoldsForItsRunAndTheMenuEntryStillOpensTheWindow) {
    TDesktop desktop({"chromium", "xdg-open"});
    {
        TGadgetHostProcess none({"--browser", "none"});
        EXPECT_TRUE(desktop.AwaitCalls(0).empty());
        // The menu entry while that host runs: the running host opens its page in the window.
        const TProgramRun menu = RunProgram(HostBinary, {}, 10000);
        EXPECT_EQ(menu.ExitCode, 0) << menu.ErrorOutput;
        const auto calls = desktop.AwaitCalls(1);
        ASSERT_EQ(calls.size(), 1u);
        EXPECT_EQ(calls[0][0], "chromium");
    }
    // The menu entry once it has ended, and a "none" an older version kept: the window each time.
    { TGadgetHostProcess menu(std::vector<std::string>{}); }
    std::string ini;
    TryReadFileBytes(desktop.GadgetDir() + "/KovaGadget.ini", ini);
    EXPECT_EQ(ini.find("Browser=none"), std::string::npos);
    desktop.Root.Write("data/kova-gadget/KovaGadget.ini", "[Host]\nBrowser=none\n");
    { TGadgetHostProcess menu(std::vector<std::string>{}); }
    const auto calls = desktop.AwaitCalls(3);
    ASSERT_EQ(calls.size(), 3u);
    for (const auto& call : calls)
        EXPECT_EQ(call[0], "chromium");
}

TEST(GadgetDesktopInstance, ASecondStartHandsOverToTheRunningHostEvenAfterAHostDied) {
    TDesktop desktop({"chromium"});
    // The first host is killed at the end, as a crash would end it.
    TChildProcess first = StartChildReadingFirstLine(HostBinary, {"--gadget-dir", desktop.GadgetDir()});
    ASSERT_EQ(desktop.AwaitCalls(1).size(), 1u);
    for (int round = 0; round < 2; ++round) {
        const auto start = std::chrono::steady_clock::now();
        const TProgramRun second = RunProgram(HostBinary, {"--gadget-dir", desktop.GadgetDir()}, 10000);
        const auto took = std::chrono::steady_clock::now() - start;
        EXPECT_EQ(second.ExitCode, 0) << second.ErrorOutput;
        EXPECT_LT(took, std::chrono::seconds(2));
        EXPECT_EQ(second.Output, first.FirstLine + "\n");
        EXPECT_EQ(HostsOn(desktop.GadgetDir()), 1);
        const auto calls = desktop.AwaitCalls(2 + round);
        ASSERT_EQ(calls.size(), 2u + round);
        std::set<std::string> startPages;
        for (const auto& call : calls)
            startPages.insert(call.at(1));
        EXPECT_EQ(startPages.size(), calls.size()) << "every hand-over writes a fresh start page";
    }
    // The killed host leaves its socket behind; the lock went with it, so the next start is the host.
    EXPECT_EQ(StopChild(first.Pid, SIGKILL), 128 + SIGKILL);
    int sockets = 0;
    for (const auto& entry : fs::directory_iterator(desktop.Root.File("runtime/kova-gadget")))
        sockets += entry.is_socket();
    ASSERT_EQ(sockets, 1);
    TGadgetHostProcess next({"--gadget-dir", desktop.GadgetDir()});
    const TProgramRun second = RunProgram(HostBinary, {"--gadget-dir", desktop.GadgetDir()}, 10000);
    EXPECT_EQ(second.ExitCode, 0) << second.ErrorOutput;
    EXPECT_EQ(second.Output, next.Line() + "\n");
    EXPECT_EQ(HostsOn(desktop.GadgetDir()), 1);
}

TEST(GadgetDesktopInstance, WithoutARuntimeFolderTheSocketGoesToTmpAndAnUnusableNameIsPassedOver) {
    for (const bool openToOthers : {false, true}) {
        SCOPED_TRACE(openToOthers ? "the usual folder is open to every user"
                                  : "the usual folder is the user's");
        TDesktop desktop({"chromium"});
        desktop.Env.Set("XDG_RUNTIME_DIR", std::nullopt);
        desktop.Env.Set("TMPDIR", desktop.Root.File("tmp"));
        const std::string fallback = desktop.Root.File("tmp/kova-gadget-" + std::to_string(::geteuid()));
        fs::create_directories(fallback);
        fs::permissions(fallback, openToOthers ? fs::perms::all : fs::perms::owner_all,
                        fs::perm_options::replace);
        std::string socketFolder;
        fs::perms socketFolderMode{};
        {
            TGadgetHostProcess host({"--gadget-dir", desktop.GadgetDir()});
            // The later start finds the host's socket through the note in the lock file, wherever it went.
            const TProgramRun second = RunProgram(HostBinary, {"--gadget-dir", desktop.GadgetDir()}, 10000);
            EXPECT_EQ(second.ExitCode, 0) << second.ErrorOutput;
            EXPECT_EQ(second.Output, host.Line() + "\n");
            EXPECT_EQ(HostsOn(desktop.GadgetDir()), 1);
            for (const auto& folder : fs::directory_iterator(desktop.Root.File("tmp")))
                for (const auto& entry : fs::directory_iterator(folder.path()))
                    if (entry.is_socket()) socketFolder = folder.path().string();
            socketFolderMode = fs::status(socketFolder).permissions();
        }
        if (openToOthers) {
            EXPECT_EQ(socketFolder.rfind(fallback + "-", 0), 0u) << "a fresh folder: " << socketFolder;
            EXPECT_EQ(socketFolderMode, fs::perms::owner_all);
            EXPECT_FALSE(fs::exists(socketFolder)) << "removed with the host";
        } else {
            EXPECT_EQ(socketFolder, fallback);
        }
    }
}

namespace {

// A throwaway local user, removed at the end; none when the test does not run as root or the machine has no
// useradd, and then the checks that need one are left out.
class TOtherUser {
public:
    TOtherUser() {
        if (::geteuid() != 0 || !FileExists("/usr/sbin/useradd") || !FileExists("/usr/sbin/runuser")) return;
        const std::string name = "kovaother" + std::to_string(::getpid() % 100000);
        if (RunProgram("/usr/sbin/useradd", {"--no-create-home", "--shell", "/bin/sh", name}).ExitCode == 0)
            FName = name;
    }
    ~TOtherUser() {
        if (!FName.empty()) RunProgram("/usr/sbin/userdel", {"--force", FName});
    }
    const std::string& Name() const { return FName; }
    // A shell command run as that user.
    int Run(const std::string& command) const {
        return RunProgram("/usr/sbin/runuser", {"-u", FName, "--", "/bin/sh", "-c", command}, 10000).ExitCode;
    }
    TChildProcess Start(const std::string& command) const {
        return StartChildReadingFirstLine("/usr/sbin/runuser", {"-u", FName, "--", "/bin/sh", "-c", command},
                                          10000);
    }

private:
    std::string FName;
};

} // namespace

// The gadget folder and what the host writes in it are its user's alone, whatever the folders above allow;
// a folder of an earlier version is closed once, one the user named or opened again only warned of. Another
// user can neither read the files nor take or block the lock, nor the hand-over through a shared $TMPDIR.
TEST(GadgetDesktopPrivacy, TheGadgetFolderIsTheUsersAloneAndAnotherUserCanNeitherReadItNorTakeItsLock) {
    TDesktop desktop({});
    TOtherUser other;
    if (other.Name().empty()) std::cout << "not root, or no useradd: the other user's checks are left out\n";
    // Folders every user may pass through, as useradd makes homes: only the gadget folder keeps others out.
    fs::create_directories(desktop.Root.File("named"));
    for (const char* folder : {"", "/data", "/named"})
        ::chmod((desktop.Root.Path() + folder).c_str(), 0755);
    const std::string err = desktop.Root.File("host.err");
    struct TCase {
        const char* Name;
        std::string Folder; // empty: the default one
        int ModeBefore;     // -1: as the previous case left it
        int ModeAfter;
        const char* Said; // part of the host's error output
    };
    const TCase cases[] = {
        {"a new default folder", "", -1, 0700, ""},
        {"the default folder of an earlier version", "", 0755, 0700, "it is now yours alone (0700)"},
        {"the default folder opened again by its user", "", 0755, 0755, "warning: others may enter"},
        {"a folder named on the command line", desktop.Root.File("named"), 0755, 0755, "warning: others may"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        const std::string folder = c.Folder.empty() ? desktop.GadgetDir() : c.Folder;
        if (c.ModeBefore >= 0) ::chmod(folder.c_str(), static_cast<mode_t>(c.ModeBefore));
        // Another user's flock on the folder itself held the start of an earlier version.
        TChildProcess held;
        if (!other.Name().empty() && !c.Folder.empty())
            held =
                other.Start("exec /usr/bin/python3 -c 'import fcntl, os, sys, time\n"
                            "fcntl.flock(os.open(sys.argv[1], os.O_RDONLY), fcntl.LOCK_EX | fcntl.LOCK_NB)\n"
                            "print(\"held\", flush=True)\nparent = os.getppid()\n"
                            "while os.getppid() == parent: time.sleep(0.05)' '" +
                            folder + "'");
        std::vector<std::string> args{
            "-c", "e=$1; shift; exec \"$@\" 2>\"$e\"", "sh", err, HostBinary, "--browser", "none", "--port",
            "0"};
        if (!c.Folder.empty()) args.insert(args.end(), {"--gadget-dir", c.Folder});
        TChildProcess host = StartChildReadingFirstLine("/bin/sh", args);
        EXPECT_EQ(host.FirstLine.rfind("KovaGadget: http://127.0.0.1:", 0), 0u) << ReadTextFile(err);
        EXPECT_EQ(FilePermissions(folder), c.ModeAfter);
        EXPECT_EQ(FilePermissions(folder + "/KovaGadget.ini"), 0600);
        EXPECT_EQ(FilePermissions(folder + "/.kova-gadget.lock"), 0600);
        if (!other.Name().empty()) {
            EXPECT_EQ(other.Run("/bin/ls '" + folder + "'") == 0, (c.ModeAfter & 05) == 05);
            EXPECT_NE(other.Run("/bin/cat '" + folder + "/KovaGadget.ini'"), 0);
            EXPECT_NE(other.Run("/usr/bin/flock -n '" + folder + "/.kova-gadget.lock' /bin/true"), 0);
            EXPECT_NE(other.Run("/usr/bin/touch '" + folder + "/planted'"), 0);
        }
        EXPECT_EQ(StopChild(host.Pid, SIGTERM), 0);
        const std::string said = ReadTextFile(err);
        EXPECT_NE(said.find(c.Said), std::string::npos) << said;
        if (held.Pid > 0) {
            EXPECT_EQ(held.FirstLine, "held");
            StopChild(held.Pid, SIGKILL); // runuser waits 2 s on a SIGTERM; its child ends with it
        }
    }
    if (other.Name().empty()) return;
    // In a folder that every user may write, another user's lock file is theirs, and the host says so.
    const std::string shared = desktop.Root.File("shared");
    fs::create_directories(shared);
    ::chmod(shared.c_str(), 01777);
    ASSERT_EQ(other.Run("/usr/bin/touch '" + shared + "/.kova-gadget.lock'"), 0);
    const TProgramRun refused =
        RunProgram(HostBinary, {"--gadget-dir", shared, "--browser", "none", "--port", "0"}, 10000);
    EXPECT_EQ(refused.ExitCode, 1);
    EXPECT_NE(refused.ErrorOutput.find("is locked by another user (user " + other.Name() + ")"),
              std::string::npos)
        << refused.ErrorOutput;
    // Without a runtime folder the socket's folder is in $TMPDIR, where another user took its name first.
    desktop.Env.Set("XDG_RUNTIME_DIR", std::nullopt);
    desktop.Env.Set("TMPDIR", shared);
    ASSERT_EQ(other.Run("/bin/mkdir -m 700 '" + shared + "/kova-gadget-" + std::to_string(::geteuid()) + "'"),
              0);
    TGadgetHostProcess host({"--gadget-dir", desktop.GadgetDir(), "--browser", "none"});
    const TProgramRun second = RunProgram(HostBinary, {"--gadget-dir", desktop.GadgetDir()}, 10000);
    EXPECT_EQ(second.ExitCode, 0) << second.ErrorOutput;
    EXPECT_EQ(second.Output, host.Line() + "\n");
}

TEST(GadgetDesktopLife, AnAppWindowHostEndsAGraceAfterItsLastPageWithTheListSavedOthersRun) {
    struct TCase {
        const char* Name;
        std::vector<std::string> StandIns;
        std::vector<std::string> Args;
        bool Ends;
    };
    const TCase cases[] = {
        {"app window", {"chromium"}, {}, true},
        {"tab", {"xdg-open"}, {}, false},
        {"no browser", {"chromium"}, {"--browser", "none"}, false},
    };
    for (const TCase& c : cases) {
        TDesktop desktop(c.StandIns);
        desktop.Env.Set("KOVA_GADGET_WINDOW_GRACE_MS", "700");
        // Application data and no login data: the load waits in the login dialog.
        TGadgetDirectoryOptions gadgetOptions;
        gadgetOptions.ApiUrl = "http://127.0.0.1:9/ws/api.dll";
        const TGadgetTestDirectory gadget(gadgetOptions);
        std::vector<std::string> args{"--gadget-dir", gadget.Dir().Path()};
        args.insert(args.end(), c.Args.begin(), c.Args.end());
        TGadgetHostProcess host(args);
        // No page yet: the host waits for its window, however long it takes to come.
        EXPECT_FALSE(EndsWithin(host.Pid(), std::chrono::milliseconds(1200))) << c.Name;
        ASSERT_EQ(CallInit(host), 200) << c.Name;
        std::future<int> load;
        {
            // The list is loading, its login dialog open, when the window goes.
            TPage page(host.Port(), host.Secret());
            load = std::async(std::launch::async, [&host] {
                httplib::Client client("127.0.0.1", host.Port());
                client.set_read_timeout(60, 0);
                const auto reply =
                    client.Post("/api/call", {{"X-Kova-Secret", host.Secret()}},
                                R"({"member":"LoadWatchlist","kind":"method"})", "application/json");
                return reply ? reply->status : -1;
            });
            EXPECT_FALSE(
                page.AwaitForms([](const nlohmann::json& forms) { return !forms.empty(); }).is_null())
                << c.Name;
        }
        // A reload closes the stream and opens it again within the grace.
        { TPage reloaded(host.Port(), host.Secret()); }
        const auto gone = std::chrono::steady_clock::now();
        EXPECT_EQ(EndsWithin(host.Pid(), std::chrono::milliseconds(c.Ends ? 5000 : 2000)), c.Ends) << c.Name;
        if (c.Ends) {
            EXPECT_GE(std::chrono::steady_clock::now() - gone, std::chrono::milliseconds(600)) << c.Name;
        }
        EXPECT_EQ(host.Stop(SIGTERM), 0) << c.Name;
        EXPECT_EQ(load.get(), 200) << c.Name;
        EXPECT_TRUE(FileExists(gadget.File("watchlist.dat"))) << c.Name;
    }
}

TEST(GadgetDesktopAutostart, OnWritesAValidEntryOffRemovesItAndAloneTells) {
    TDesktop desktop({});
    desktop.Env.Set("PATH", "/usr/bin:/bin");
    const std::string entryPath = desktop.Root.File("config/autostart/kova-gadget.desktop");
    struct TStep {
        std::vector<std::string> Args;
        std::string Output;
        bool Exists;
    };
    const TStep steps[] = {
        {{"--autostart"}, "Autostart is off\n", false},
        {{"--autostart", "on", "--gadget-dir", desktop.Root.File("my gadget"), "--browser", "tab"},
         "Autostart is on: " + entryPath + "\n",
         true},
        {{"--autostart"}, "Autostart is on: " + entryPath + "\n", true},
        {{"--autostart", "off"}, "Autostart is off\n", false},
        {{"--autostart", "off"}, "Autostart is off\n", false},
    };
    for (const TStep& step : steps) {
        std::string output;
        EXPECT_EQ(TGadgetHostProcess::RunToEnd(step.Args, &output), 0) << step.Args.size();
        EXPECT_EQ(output, step.Output);
        EXPECT_EQ(FileExists(entryPath), step.Exists) << output;
        if (!step.Exists || step.Args.size() == 1) continue;
        const std::string entry = ReadTextFile(entryPath);
        EXPECT_NE(entry.find("Exec=" + HostBinary + " --gadget-dir \"" + desktop.Root.File("my gadget") +
                             "\" --browser tab\n"),
                  std::string::npos)
            << entry;
        if (FileExists("/usr/bin/desktop-file-validate")) {
            const TProgramRun validate = RunProgram("/usr/bin/desktop-file-validate", {entryPath});
            EXPECT_EQ(validate.ExitCode, 0) << validate.Output << validate.ErrorOutput;
        }
    }
}

// A name that is not one line of text would end the Exec line and start keys of its own (a second Exec=, or
// Hidden=true): it is refused and nothing is written. Hidden and odd-looking names make a valid entry.
TEST(GadgetDesktopAutostart, FolderNamesThatAreNotOneLineOfTextAreRefusedOddOnesArriveWhole) {
    TDesktop desktop({});
    desktop.Env.Set("PATH", "/usr/bin:/bin");
    const std::string entryPath = desktop.Root.File("config/autostart/kova-gadget.desktop");
    const std::pair<std::string, const char*> cases[] = {
        {desktop.Root.File(".hidden/.kova-gadget"), nullptr},
        {desktop.Root.File("#no comment ~ [Desktop Entry] =x; 100% \"$HOME\" \\"), nullptr},
        {desktop.Root.File("x\nExec=/bin/touch /tmp/ran"), "it holds a control character"},
        {desktop.Root.File("x\nHidden=true"), "it holds a control character"},
        {desktop.Root.File("bytes\xff\xfe"), "it is not UTF-8 text"},
    };
    for (const auto& [folder, refusal] : cases) {
        SCOPED_TRACE(folder);
        DeleteFile(entryPath);
        const TProgramRun run =
            RunProgram(HostBinary, {"--autostart", "on", "--gadget-dir", folder, "--browser", "tab"}, 10000);
        EXPECT_EQ(run.ExitCode, refusal ? 1 : 0) << run.ErrorOutput;
        EXPECT_EQ(FileExists(entryPath), !refusal);
        if (refusal) {
            EXPECT_NE(run.ErrorOutput.find(refusal), std::string::npos) << run.ErrorOutput;
            continue;
        }
        const std::string entry = ReadTextFile(entryPath);
        EXPECT_NE(entry.find("\nExec=" + KovaDesktopExecArgument(HostBinary) + " --gadget-dir " +
                             KovaDesktopExecArgument(folder) + " --browser tab\n"),
                  std::string::npos)
            << entry;
        const TProgramRun validate = RunProgram("/usr/bin/desktop-file-validate", {entryPath});
        EXPECT_EQ(validate.ExitCode, 0) << validate.Output << validate.ErrorOutput;
    }
}

TEST(GadgetDesktopAutostart, ExecArgumentsAreQuotedAsDesktopEntriesNeed) {
    const std::pair<std::string, std::string> cases[] = {
        {"/usr/bin/kova-gadget", "/usr/bin/kova-gadget"},
        {"/home/a b/g", "\"/home/a b/g\""},
        {"/x/100%", "/x/100%%"},
        {"/x/$HOME", "\"/x/\\\\$HOME\""},
        {"/x/a\"b", "\"/x/a\\\\\"b\""},
        {"/x/back\\slash", "\"/x/back\\\\\\\\slash\""},
        {"", "\"\""},
    };
    for (const auto& [argument, quoted] : cases)
        EXPECT_EQ(KovaDesktopExecArgument(argument), quoted) << argument;
}
