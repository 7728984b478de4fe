// kova-sandbox: a local stand-in for the eBay Trading API and sign-in page, for tests and the demo.

#include "SandboxCertificates.h"
#include "SandboxOptions.h"
#include "SandboxServer.h"
#include "SandboxService.h"
#include "platform/UnitPlatformClock.h"
#include "platform/UnitPlatformFiles.h"

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <pthread.h>
#include <thread>

int main(int argc, char** argv) {
    TSandboxOptions options;
    try {
        options = ParseSandboxOptions(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const std::exception& e) {
        std::cerr << "kova-sandbox: " << e.what() << "\n" << SandboxUsage << "\n";
        return 2;
    }
    if (options.Help) {
        std::cout << SandboxUsage << "\n";
        return 0;
    }

    // The signals are taken by sigwait below; every thread started from here on inherits the mask.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    std::signal(SIGPIPE, SIG_IGN); // a client that hangs up must not end the server

    try {
        std::filesystem::create_directories(options.StateDir);
        const TSandboxCertificates certificates = TSandboxCertificates::Generate();
        WriteFileAtomic(options.StateDir + "/ca.pem", certificates.CAPem());
        // A browser of the demo's own trusts exactly this server's key, and nothing else, by its pin.
        WriteFileAtomic(options.StateDir + "/server-key-pin.txt", certificates.ServerKeyPin() + "\n");
        const TDateTime start = NowUTC();
        TSandboxService service(options.Accounts, options.Seed, options.Keys, start, options.RuName);
        for (TSandboxItemChange change : options.ItemEnds) {
            change.EndTime = start + *change.EndTime / 86400.0;
            if (!service.ChangeItem(change))
                throw std::invalid_argument("--item-ends names no account \"" + change.UserName + "\"");
        }
        for (const TSandboxOutbid& outbid : options.Outbids)
            if (!service.HasAccount(outbid.UserName))
                throw std::invalid_argument("--item-outbid names no account \"" + outbid.UserName + "\"");
        service.OAuth().SetAccessTokenSeconds(options.AccessTokenSeconds);
        service.SetHighBidderIdsAtStart(options.HighBidderIds);
        TSandboxServer server(service, certificates, options.LatencyMs);
        const int port = server.Bind(options.Port);
        service.ServePicturesFrom("https://127.0.0.1:" + std::to_string(port));
        std::thread serving([&server] { server.Run(); });
        server.WaitUntilServing();
        std::cout << "https://127.0.0.1:" << port << std::endl;
        TSandboxOutbidTimer outbids(service, options.Outbids, start);

        int received = 0;
        sigwait(&stopSignals, &received);
        server.Stop();
        serving.join();
    } catch (const std::exception& e) {
        std::cerr << "kova-sandbox: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
