// The bridge between the page and the control, in one run: IsWorking as the page polls it, a POST to
// /api/call through kova-gadget's server (checks, JSON, a round trip through the main thread's queue and the
// control), against a bare cpp-httplib endpoint on loopback that answers the same JSON at once. Both take
// the same requests from one kept-alive client.
#include "../tests/support/KovaTestSupport.cpp"
#include "host/KovaGadgetServer.h"
#include "platform/UnitPlatformMainThread.h"
#include "storage/UnitKovaDatFile.h"

#include <benchmark/benchmark.h>
#include <httplib.h>
#include <stdexcept>
#include <thread>

namespace {

constexpr const char* IsWorkingCall = R"({"member":"IsWorking","kind":"get"})";
constexpr const char* IsWorkingAnswer = R"({"result":false})";

// kova-gadget's server on a thread of its own, with an initialised control.
class TBenchHost {
public:
    TBenchHost() : FServer(Options(FDir)), FMain([this] { FServer.Run(); }) {
        httplib::Client client("127.0.0.1", FServer.Port());
        auto res = client.Post("/api/call", Headers(), R"({"member":"Init","kind":"method","args":[""]})",
                               "application/json");
        if (!res || res->status != 200) throw std::runtime_error("Init through the host failed");
    }
    ~TBenchHost() {
        FServer.RequestStop();
        FMain.join();
        SetMainThread();
    }
    int Port() const { return FServer.Port(); }
    httplib::Headers Headers() const { return {{"X-Kova-Secret", FServer.Secret()}}; }

private:
    static TKovaGadgetServerOptions Options(const TTempDir& dir) {
        dir.Write("KovaDat.dat", PackKovaDat("<KOVADAT><COMMON/><EBAYAPI/></KOVADAT>"));
        return {0, dir.Path(), true};
    }
    TTempDir FDir;
    TKovaGadgetServer FServer;
    std::thread FMain;
};

// A cpp-httplib server that answers every call with the same JSON, configured as the host's.
class TBareEndpoint {
public:
    TBareEndpoint() {
        FServer.set_tcp_nodelay(true);
        FServer.set_keep_alive_max_count(100);
        FServer.Post("/api/call", [](const httplib::Request&, httplib::Response& res) {
            res.set_content(IsWorkingAnswer, "application/json");
        });
        FPort = FServer.bind_to_any_port("127.0.0.1");
        FThread = std::thread([this] { FServer.listen_after_bind(); });
        while (!FServer.is_running())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ~TBareEndpoint() {
        FServer.stop();
        FThread.join();
    }
    int Port() const { return FPort; }

private:
    httplib::Server FServer;
    std::thread FThread;
    int FPort = 0;
};

void PollIsWorking(benchmark::State& state, int port, const httplib::Headers& headers) {
    httplib::Client client("127.0.0.1", port);
    client.set_keep_alive(true);
    client.set_tcp_nodelay(true);
    for (auto _ : state) {
        auto res = client.Post("/api/call", headers, IsWorkingCall, "application/json");
        if (!res || res->status != 200 || res->body != IsWorkingAnswer) {
            state.SkipWithError("IsWorking was not answered false");
            break;
        }
    }
}

void BM_IsWorkingThroughKovaGadget(benchmark::State& state) {
    static TBenchHost host;
    PollIsWorking(state, host.Port(), host.Headers());
}
BENCHMARK(BM_IsWorkingThroughKovaGadget)->Unit(benchmark::kMicrosecond);

void BM_IsWorkingBareHttplibEndpoint(benchmark::State& state) {
    static TBareEndpoint endpoint;
    PollIsWorking(state, endpoint.Port(), {});
}
BENCHMARK(BM_IsWorkingBareHttplibEndpoint)->Unit(benchmark::kMicrosecond);

} // namespace
