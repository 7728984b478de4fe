// The GET transport against libcurl alone: 200 fetches of a 20 KB body from a loopback server per iteration.
// GetURLText builds a client per call (no connection or cookie survives a call); the baseline reuses one
// easy handle and with it the connection.
#include "../tests/support/LoopbackServer.h"
#include "ebayapi/UnitCurlSession.h"
#include "ebayapi/UnitInternet.h"

#include <benchmark/benchmark.h>
#include <curl/curl.h>

namespace {

constexpr int FetchesPerIteration = 200;
const std::string Body(20 * 1024, 'k');

TLoopbackServer& Server() {
    static TLoopbackServer* server = [] {
        auto* s = new TLoopbackServer;
        // Without it a kept-alive connection waits for delayed acknowledgements between header and body.
        s->Server.set_tcp_nodelay(true);
        s->Server.Get("/body", [](const httplib::Request&, httplib::Response& res) {
            res.set_content(Body, "text/plain");
        });
        s->Start();
        return s;
    }();
    return *server;
}

size_t Collect(char* data, size_t size, size_t count, void* user) {
    static_cast<std::string*>(user)->append(data, size * count);
    return size * count;
}

void BM_GetURLText(benchmark::State& state) {
    const std::string url = Server().URL("/body");
    for (auto _ : state) {
        for (int i = 0; i < FetchesPerIteration; ++i) {
            TInternetIndy indy;
            std::string text;
            TInternetStatus status = iyUnknown;
            indy.GetURLText(nullptr, url, text, status);
            if (status != iyOK || text.size() != Body.size()) state.SkipWithError("fetch failed");
            benchmark::DoNotOptimize(text);
        }
    }
}

void BM_CurlReusedHandle(benchmark::State& state) {
    const std::string url = Server().URL("/body");
    CurlGlobalInit();
    CURL* easy = curl_easy_init();
    std::string text;
    curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &Collect);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &text);
    curl_easy_setopt(easy, CURLOPT_PROXY, "");
    for (auto _ : state) {
        for (int i = 0; i < FetchesPerIteration; ++i) {
            text.clear();
            long code = 0;
            if (curl_easy_perform(easy) != CURLE_OK ||
                curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &code) != CURLE_OK || code != 200 ||
                text.size() != Body.size())
                state.SkipWithError("fetch failed");
            benchmark::DoNotOptimize(text);
        }
    }
    curl_easy_cleanup(easy);
}

} // namespace

BENCHMARK(BM_GetURLText)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3)
    ->Repetitions(7)
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_CurlReusedHandle)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3)
    ->Repetitions(7)
    ->ReportAggregatesOnly(true);
