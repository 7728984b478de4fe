#include "host/KovaGadgetHost.h"

#include "dialogs/FormKovaGadgetAuthorize.h"
#include "host/KovaGadgetAutostart.h"
#include "host/KovaGadgetBrowser.h"
#include "host/KovaGadgetLock.h"
#include "host/KovaGadgetServer.h"
#include "platform/UnitPlatformEnvironment.h"
#include "platform/UnitPlatformFiles.h"
#include "platform/UnitPlatformProcess.h"
#include "time/UnitTimeUtils.h"

#include <atomic>
#include <charconv>
#include <csignal>
#include <ctime>
#include <filesystem>
#include <iostream>
#include <pthread.h>
#include <thread>

namespace {

// A later start is answered within this; the second process is done well within two seconds.
constexpr int HandOverWaitMs = 1500;

int WindowGraceMs() {
    const std::string text = GetEnvironmentVariable(KovaWindowGraceVariable).value_or("");
    int value = 0;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || result.ec != std::errc() || result.ptr != text.data() + text.size() || value <= 0)
        return KovaWindowGraceMs;
    return value;
}

void ApplyClockError() {
    const std::string text = GetEnvironmentVariable(KovaClockErrorVariable).value_or("");
    long long value = 0;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || result.ec != std::errc() || result.ptr != text.data() + text.size()) return;
    GetExactTime().SetClockError(static_cast<double>(value));
}

// choice: this start's browser choice; a host started with --browser none still shows its page to a later
// start, as the menu entry's.
int HandOver(const std::string& gadgetDir, const std::string& heldBy, const std::string& choice) {
    if (!heldBy.empty()) {
        std::cerr << "kova-gadget: the gadget folder \"" << gadgetDir << "\" is locked by another user ("
                  << heldBy << "): a host of yours cannot run on it" << std::endl;
        return 1;
    }
    const auto page = AskKovaGadgetHostToOpen(gadgetDir, HandOverWaitMs, choice);
    if (!page) {
        std::cerr << "kova-gadget: a host runs on \"" << gadgetDir
                  << "\" already but does not answer; it alone may write that folder" << std::endl;
        return 1;
    }
    std::cout << "KovaGadget: " << *page << std::endl;
    std::cerr << "kova-gadget: a host runs on \"" << gadgetDir << "\" already; it opens its page"
              << std::endl;
    return 0;
}

void Serve(TKovaGadgetServer& server, const sigset_t& stopSignals) {
    // The host may also end by itself (its window gone): this thread looks for a signal in short waits.
    std::atomic<bool> ended{false};
    std::thread signals([&server, &stopSignals, &ended] {
        const timespec wait{0, 100 * 1000 * 1000};
        while (!ended) {
            if (sigtimedwait(&stopSignals, nullptr, &wait) > 0) return server.RequestStop();
        }
    });
    std::exception_ptr failure;
    try {
        server.Run();
    } catch (...) {
        failure = std::current_exception();
    }
    ended = true;
    signals.join();
    if (failure) std::rethrow_exception(failure);
}

} // namespace

int RunKovaGadgetHost(TKovaGadgetHostOptions options) {
    // The signals are taken by sigtimedwait; every thread started from here on inherits the mask. A shell
    // starts background jobs with SIGINT ignored, and an ignored signal is never delivered.
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    std::signal(SIGPIPE, SIG_IGN); // a page that goes away must not end the host
    // The host idles between loads: what a load freed goes back to the system.
    KeepAllocatorThresholdsFixed();
    ApplyClockError();

    try {
        const bool defaultFolder = options.GadgetDir.empty();
        if (defaultFolder) options.GadgetDir = DefaultGadgetDirectory();
        SetRuName(options.RuName);
        FillGadgetDirectory(options.GadgetDir, ""); // the folder alone, for the lock
        // Two hosts must never write one folder: the lock decides, whatever a dead host left behind, and
        // a later start writes nothing into it.
        std::string heldBy;
        const auto lock = TKovaGadgetLock::TryTake(options.GadgetDir, heldBy);
        if (!lock) {
            const std::string kept = KeptKovaBrowserChoice(options.GadgetDir);
            return HandOver(options.GadgetDir, heldBy,
                            !options.Browser.empty() ? options.Browser
                            : kept.empty()           ? "app"
                                                     : kept);
        }
        FillGadgetDirectory(options.GadgetDir, ShippedGadgetDirectory(ProcessExecutablePath()));
        KeepKovaGadgetFolderPrivate(options.GadgetDir, defaultFolder, std::cerr);

        const std::string choice = KovaBrowserChoice(options.GadgetDir, options.Browser, std::cerr);
        TKovaGadgetServerOptions serverOptions;
        serverOptions.Port = options.Port;
        serverOptions.GadgetDir = options.GadgetDir;
        serverOptions.PageOpensUrls = choice == "none";
        // Probed before the server, so that an app window's host knows its life from the start.
        const TKovaAppWindow window{options.AppWindowProfile, options.AppWindowArguments};
        if (KovaBrowserLaunch(choice, "", window).AppWindow) serverOptions.HostGraceMs = WindowGraceMs();
        TKovaGadgetServer server(serverOptions);
        std::cout << "KovaGadget: " << server.PageUrl() << std::endl;
        // Start pages go with this scope, on a signal, a normal end or a failure of the server alike.
        TKovaGadgetBrowser browser(choice, server.PageUrl(), std::cerr, window);
        browser.Open();
        if (!lock->Listen([&browser, &server](const std::string& later) {
                browser.Open(later);
                return server.PageUrl();
            }))
            std::cerr << "kova-gadget: a later start on this folder cannot reach this host: "
                      << lock->Unreachable() << std::endl;
        // The socket's answers use the browser and the server: they stop before those go.
        struct TListening {
            TKovaGadgetLock& Lock;
            ~TListening() { Lock.StopListening(); }
        } listening{*lock};
        Serve(server, stopSignals);
    } catch (const std::exception& e) {
        std::cerr << "kova-gadget: " << e.what() << "\n";
        return 1;
    }
    return 0;
}

int RunKovaGadgetAutostart(const TKovaGadgetHostOptions& options, std::ostream& out) {
    try {
        const std::string path = KovaAutostartPath();
        if (options.Autostart == "show") {
            if (!path.empty() && FileExists(path))
                out << "Autostart is on: " << path << std::endl;
            else
                out << "Autostart is off" << std::endl;
            return 0;
        }
        std::string browser = options.Browser;
        if (browser.empty() && !options.GadgetDir.empty()) browser = KeptKovaBrowserChoice(options.GadgetDir);
        if (browser.empty()) browser = KeptKovaBrowserChoice(DefaultGadgetDirectory());
        const std::string folder =
            options.GadgetDir.empty()
                ? ""
                : std::filesystem::absolute(options.GadgetDir).lexically_normal().string();
        const std::string entry = KovaAutostartEntry(ProcessExecutablePath(), folder, browser);
        SetKovaAutostart(options.Autostart == "on", entry);
        out << (options.Autostart == "on" ? "Autostart is on: " + path : "Autostart is off") << std::endl;
        return 0;
    } catch (const std::exception& e) {
        std::cerr << "kova-gadget: " << e.what() << "\n";
        return 1;
    }
}
