// A whole 400-item load through the control (LoadWatchlist until IsWorking turns false, with the result file
// written) against the four raw posts of the same pages through libcurl alone, both against the sandbox
// over HTTPS; the call object alone in between; the time to render and save one result page; and the
// control's load when every answer takes 100 ms, as over a real network.
#include <iostream>
// The launcher reports an abnormal sandbox exit to the test that ran it; a benchmark has no test, so the
// report goes to standard error instead of into GoogleTest, which benchmarks do not link.
#include <gtest/gtest.h>
#undef ADD_FAILURE
#define ADD_FAILURE() std::cerr << "\n"
#include "../tests/support/ChildProcess.cpp"
#include "../tests/support/GadgetTestDirectory.cpp"
#include "../tests/support/KovaTestSupport.cpp"
#include "../tests/support/SandboxProcess.cpp"
#undef ADD_FAILURE
#include "ebayapi/UnitKovaGadgetCalls.h"
#include "ebayapi/UnitXMLParser.h"
#include "host/KovaGadgetUnit.h"
#include "items/UnitResultLst.h"
#include "platform/UnitPlatformMainThread.h"
#include "watchlist/UnitKovaWatchList.h"

#include <benchmark/benchmark.h>
#include <cstdlib>

namespace {

constexpr int Items = 400;
constexpr int Pages = 4;

struct TBenchWorld {
    explicit TBenchWorld(int latencyMs)
        : LatencyMs(latencyMs),
          Sandbox({"bench:" + std::to_string(Items)}, {"--latency-ms", std::to_string(latencyMs)}) {
        setenv("KOVA_EXTRA_CA_FILE", Sandbox.CAPath().c_str(), 1);
        SetMainThread();
        Token = Sandbox.Token("bench");
        Dir.SaveLogInData("bench", "secret", Token);
        Gadget.Init(Dir.Home());
    }
    ~TBenchWorld() {
        Gadget.Terminate();
        Sandbox.Stop();
    }

    const int LatencyMs;
    TSandboxProcess Sandbox;
    TGadgetTestDirectory Dir{SandboxGadget(Sandbox)};
    TKovaGadget Gadget;
    std::string Token;
};

// One world at a time: the control's application data and settings are the process's own. A benchmark
// that wants another latency ends the world before it.
TBenchWorld& World(int latencyMs = 0) {
    static std::unique_ptr<TBenchWorld> world;
    static bool cleanupRegistered = false;
    if (!world || world->LatencyMs != latencyMs) {
        world.reset();
        world = std::make_unique<TBenchWorld>(latencyMs);
    }
    if (!cleanupRegistered) {
        cleanupRegistered = true;
        // Only the sandbox process must not outlive the program; the rest is left to the end on purpose.
        std::atexit([] {
            if (world) world->Sandbox.Stop();
            (void)world.release();
        });
    }
    return *world;
}

std::string WatchListBody(const std::string& token, int page) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\" ?><GetMyeBayBuyingRequest "
           "xmlns=\"urn:ebay:apis:eBLBaseComponents\"><DetailLevel>ReturnAll</"
           "DetailLevel><RequesterCredentials>"
           "<eBayAuthToken>" +
           token +
           "</eBayAuthToken></RequesterCredentials><FavoriteSearches><Include>0</Include></FavoriteSearches>"
           "<FavoriteSellers><Include>0</Include></FavoriteSellers><WatchList><Pagination><EntriesPerPage>100"
           "</EntriesPerPage><PageNumber>" +
           std::to_string(page) + "</PageNumber></Pagination></WatchList></GetMyeBayBuyingRequest>";
}

// sort and filter: the rows' order and filter for every load of the run.
void ControlLoad(benchmark::State& state, int latencyMs, TKovaSortOrder sort = TKovaSortOrder::Ebay,
                 const std::string& filter = "") {
    TBenchWorld& world = World(latencyMs);
    world.Gadget.WatchList()->SetView(sort, filter);
    for (auto _ : state) {
        world.Gadget.LoadWatchlist();
        if (!MainThreadQueue().RunUntil([&] { return !world.Gadget.IsWorking(); }, 60000))
            state.SkipWithError("load did not end");
    }
    if (world.Gadget.WatchList()->ItemCount() != Items) state.SkipWithError("load incomplete");
}

// The rows in eBay's order, unfiltered: the work of a load before the user could choose.
void BM_ControlLoad400(benchmark::State& state) {
    ControlLoad(state, 0);
}
// Nine samples of fifteen loads: a load's threads and the sandbox share the machine's cores, and with three
// one busy moment could decide the median. The raw posts it is measured against take as many.
BENCHMARK(BM_ControlLoad400)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(15)->Repetitions(9);

// The same load sorted by title (the costliest order: a collation key per title) and filtered by a letter
// most titles hold, so that nearly every item is matched and sorted.
void BM_ControlLoad400SortedFiltered(benchmark::State& state) {
    ControlLoad(state, 0, TKovaSortOrder::Title, "E");
}
BENCHMARK(BM_ControlLoad400SortedFiltered)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(15)
    ->Repetitions(9);

void RawPosts400(benchmark::State& state, bool gzip) {
    TBenchWorld& world = World();
    std::vector<std::string> headers{"X-EBAY-API-COMPATIBILITY-LEVEL: 527",
                                     std::string("X-EBAY-API-DEV-NAME: ") + SandboxDevID,
                                     std::string("X-EBAY-API-APP-NAME: ") + SandboxAppID,
                                     std::string("X-EBAY-API-CERT-NAME: ") + SandboxCertID,
                                     "X-EBAY-API-SITEID: 77",
                                     "X-EBAY-API-CALL-NAME: GetMyeBayBuying",
                                     "Content-Type: text/xml"};
    // The server compresses as it would for a client elsewhere; the answer is left compressed.
    if (gzip) headers.push_back("Accept-Encoding: gzip");
    for (auto _ : state) {
        for (int page = 1; page <= Pages; ++page) {
            const THttpsReply reply =
                HttpsExchange({world.Sandbox.ApiUrl(), "POST", WatchListBody(world.Token, page), headers,
                               world.Sandbox.CAPath()});
            if (reply.Status != 200) state.SkipWithError("post failed");
            benchmark::DoNotOptimize(reply.Body.data());
        }
    }
}
void BM_RawPosts400(benchmark::State& state) {
    RawPosts400(state, false);
}
BENCHMARK(BM_RawPosts400)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(15)->Repetitions(9);

// The same posts asking for gzip answers, as the control does from a server elsewhere: what compression
// costs both ends.
void BM_RawPosts400Gzip(benchmark::State& state) {
    RawPosts400(state, true);
}
BENCHMARK(BM_RawPosts400Gzip)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(15)->Repetitions(9);

// The same four pages through the system's call object, without (0) and with (1) parsing: splits the
// control's time into transport, parsing and the rest.
void BM_CallObjectPosts400(benchmark::State& state) {
    TBenchWorld& world = World();
    for (auto _ : state) {
        TAPICallMyeBayBuying call(world.Sandbox.ApiUrl());
        SignForSandbox(call, world.Token);
        TXMLMyEbayWatchListParser parser;
        TDetailsList list;
        for (int page = 1; page <= Pages; ++page) {
            call.WatchListPageNumber = page;
            TInternetStatus status = iyOK;
            TMemoryStream* response = call.GetMyeBayBuying(status, mblWatchList);
            if (!response) state.SkipWithError("post failed");
            if (state.range(0)) parser.ParseWatchList(response, list, true);
        }
    }
}
BENCHMARK(BM_CallObjectPosts400)
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(15)
    ->Repetitions(3);

// The view alone: 400 loaded items ordered by title and filtered by a letter most titles hold, the work the
// sorted and filtered load adds to each load.
void BM_ViewOrder400(benchmark::State& state) {
    TBenchWorld& world = World();
    TKovaWatchList& watchList = *world.Gadget.WatchList();
    if (watchList.ItemCount() != Items) {
        world.Gadget.LoadWatchlist();
        MainThreadQueue().RunUntil([&] { return !world.Gadget.IsWorking(); }, 60000);
    }
    watchList.SaveLocalItems();
    TDetailsList list;
    list.LoadFromFile(world.Dir.File("watchlist.dat"));
    for (auto _ : state)
        benchmark::DoNotOptimize(KovaViewOrder(list, TKovaSortOrder::Title, "E", NowUTC()));
}
BENCHMARK(BM_ViewOrder400)->Unit(benchmark::kMicrosecond)->Repetitions(3);

void BM_RenderResultPage(benchmark::State& state) {
    TBenchWorld& world = World();
    TKovaWatchList& list = *world.Gadget.WatchList();
    if (list.ItemCount() == 0) {
        world.Gadget.LoadWatchlist();
        MainThreadQueue().RunUntil([&] { return !world.Gadget.IsWorking(); }, 60000);
    }
    for (auto _ : state)
        list.WriteResultFile("");
}
BENCHMARK(BM_RenderResultPage)->Unit(benchmark::kMicrosecond)->Repetitions(3);

// The same load when every answer takes 100 ms, as over a real network: page 1, then the other three at
// once, make about two round trips.
void BM_ControlLoad400Latency100(benchmark::State& state) {
    ControlLoad(state, 100);
}
BENCHMARK(BM_ControlLoad400Latency100)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(5)
    ->Repetitions(3);

} // namespace
