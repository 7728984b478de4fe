// kova-gadget: serves the gadget page on 127.0.0.1 and runs the control behind it until SIGINT or SIGTERM.

#include "dialogs/FormKovaGadgetAuthorize.h"
#include "host/KovaGadgetHostOptions.h"
#include "host/KovaGadgetServer.h"
#include "host/KovaGadgetStartPage.h"
#include "platform/UnitPlatformProcess.h"

#include <csignal>
#include <iostream>
#include <pthread.h>
#include <thread>

int main(int argc, char** argv) {
    TKovaGadgetHostOptions options;
    try {
        options = ParseKovaGadgetHostOptions(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const std::exception& e) {
        std::cerr << "kova-gadget: " << e.what() << "\n" << KovaGadgetUsage << "\n";
        return 2;
    }
    if (options.Help) {
        std::cout << KovaGadgetUsage << std::endl;
        return 0;
    }

    // The signals are taken by sigwait below; every thread started from here on inherits the mask. A shell
    // starts background jobs with SIGINT ignored, and an ignored signal never reaches sigwait.
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    std::signal(SIGPIPE, SIG_IGN); // a page that goes away must not end the host

    try {
        if (options.GadgetDir.empty()) options.GadgetDir = DefaultGadgetDirectory();
        SetRuName(options.RuName);
        FillGadgetDirectory(options.GadgetDir, ShippedGadgetDirectory(ProcessExecutablePath()));
        TKovaGadgetServer server({options.Port, options.GadgetDir, options.NoBrowser});
        std::cout << "KovaGadget: " << server.PageUrl() << std::endl;
        // The browser gets the start page: its own arguments would show the secret to every local user.
        // The page goes with this scope, on a signal, a normal end or a failure of the server alike.
        std::unique_ptr<TKovaGadgetStartPage> startPage;
        if (!options.NoBrowser) startPage = OpenKovaGadgetStartPage(server.PageUrl(), std::cerr);

        std::thread signals([&server, &stopSignals] {
            int received = 0;
            sigwait(&stopSignals, &received);
            server.RequestStop();
        });
        std::exception_ptr failure;
        try {
            server.Run();
        } catch (...) {
            failure = std::current_exception();
            pthread_kill(signals.native_handle(), SIGTERM);
        }
        signals.join();
        if (failure) std::rethrow_exception(failure);
    } catch (const std::exception& e) {
        std::cerr << "kova-gadget: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
