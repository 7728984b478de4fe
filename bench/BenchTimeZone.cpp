// UTCToLocal against the C library's localtime_r on the same 10000 instants, in Europe/Berlin.
#include "time/UnitTimeUtils.h"

#include <benchmark/benchmark.h>
#include <cstdlib>
#include <ctime>
#include <vector>

namespace {

constexpr int InstantCount = 10000;

// Instants spread over firstYear to lastYear, a little more than 52 minutes apart in a single year.
std::vector<time_t> Instants(int firstYear, int lastYear) {
    tm first{};
    first.tm_year = firstYear - 1900;
    first.tm_mday = 1;
    tm last = first;
    last.tm_year = lastYear + 1 - 1900;
    const time_t start = timegm(&first), span = timegm(&last) - start;
    std::vector<time_t> result;
    for (int k = 0; k < InstantCount; ++k)
        result.push_back(start + span * k / InstantCount + k % 60);
    return result;
}

void UseBerlin() {
    setenv("TZ", "Europe/Berlin", 1);
    tzset();
}

void BM_LocaltimeR(benchmark::State& state) {
    UseBerlin();
    const auto instants = Instants(2026, 2026);
    for (auto _ : state) {
        for (const time_t t : instants) {
            tm local{};
            localtime_r(&t, &local);
            benchmark::DoNotOptimize(local);
        }
    }
    state.SetItemsProcessed(state.iterations() * InstantCount);
}

void BM_LocaltimeRToDateTime(benchmark::State& state) {
    UseBerlin();
    const auto instants = Instants(2026, 2026);
    for (auto _ : state) {
        for (const time_t t : instants) {
            tm local{};
            localtime_r(&t, &local);
            benchmark::DoNotOptimize(EncodeDateTime(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                                                    local.tm_hour, local.tm_min, local.tm_sec, 0));
        }
    }
    state.SetItemsProcessed(state.iterations() * InstantCount);
}

void BM_UTCToLocal(benchmark::State& state) {
    UseBerlin();
    TTimeZoneUtils utils;
    std::vector<TDateTime> instants;
    for (const time_t t : Instants(2026, 2026))
        instants.push_back(UnixToDateTime(t));
    for (auto _ : state) {
        for (const TDateTime t : instants)
            benchmark::DoNotOptimize(utils.UTCToLocal(t));
    }
    state.SetItemsProcessed(state.iterations() * InstantCount);
}

// Instants of alternating years, so that the year's transitions are computed on every call.
void BM_UTCToLocalAlternatingYears(benchmark::State& state) {
    UseBerlin();
    TTimeZoneUtils utils;
    std::vector<TDateTime> instants;
    const auto early = Instants(2025, 2025), late = Instants(2027, 2027);
    for (int k = 0; k < InstantCount; ++k)
        instants.push_back(UnixToDateTime(k % 2 ? late[k] : early[k]));
    for (auto _ : state) {
        for (const TDateTime t : instants)
            benchmark::DoNotOptimize(utils.UTCToLocal(t));
    }
    state.SetItemsProcessed(state.iterations() * InstantCount);
}

} // namespace

BENCHMARK(BM_LocaltimeR)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LocaltimeRToDateTime)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_UTCToLocal)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_UTCToLocalAlternatingYears)->Unit(benchmark::kMicrosecond);
