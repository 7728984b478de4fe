// What one Log call costs the caller while other threads log at once, against a bare mutex-protected push
// onto a deque (the least any queued logger can do).
#include <benchmark/benchmark.h>

#include <deque>
#include <filesystem>
#include <mutex>
#include <string>

#include "platform/UnitPlatformProcess.h"
#include "support/UnitLogging.h"

namespace {

void StartOnce() {
    static bool started = [] {
        // Level lgAll with the list target only: the logging thread writes nothing to disk meanwhile.
        SetProcessCommandLineForTesting(std::vector<std::string>{"bench"});
        StartLogging(lgAll, lgtrgtToList,
                     (std::filesystem::temp_directory_path() / "kova-bench-logging.log").string());
        return true;
    }();
    (void)started;
}

std::mutex GBareLock;
std::deque<std::string> GBareQueue;

void BM_Log(benchmark::State& state) {
    StartOnce();
    const std::string text = "TKovaWatchList.ThreadFinished: page 3 of 4 loaded, 100 items";
    for (auto _ : state) Log(text, lmkInfo);
}

void BM_BareMutexDequePush(benchmark::State& state) {
    const std::string text = "TKovaWatchList.ThreadFinished: page 3 of 4 loaded, 100 items";
    for (auto _ : state) {
        std::string entry;
        entry.reserve(text.size() + 1);
        entry += '0';
        entry += text;
        std::lock_guard lock(GBareLock);
        GBareQueue.push_back(std::move(entry));
    }
    if (state.thread_index() == 0) {
        std::lock_guard lock(GBareLock);
        GBareQueue.clear();
    }
}

} // namespace

BENCHMARK(BM_Log)->Threads(1)->Threads(4)->Iterations(200000)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_BareMutexDequePush)->Threads(1)->Threads(4)->Iterations(200000)->Repetitions(5)->ReportAggregatesOnly(true);
