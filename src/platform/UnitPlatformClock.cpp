#include "platform/UnitPlatformClock.h"

#include <atomic>
#include <chrono>
#include <ctime>
#include <thread>

namespace {

class TSystemClock : public TPlatformClock {
public:
    TDateTime NowLocal() override {
        auto now = std::chrono::system_clock::now();
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count();
        const time_t secs = static_cast<time_t>(ms / 1000);
        struct tm local {};
        localtime_r(&secs, &local);
        return MSecsToDateTime(
            (static_cast<int64_t>(secs) + local.tm_gmtoff + int64_t{UnixDateDelta} * 86400) * 1000 +
            ms % 1000);
    }
    TDateTime NowUTC() override {
        auto now = std::chrono::system_clock::now();
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count();
        return MSecsToDateTime(ms + int64_t{UnixDateDelta} * MSecsPerDayInt);
    }
    uint64_t TickCount64() override {
        return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                         std::chrono::steady_clock::now().time_since_epoch())
                                         .count());
    }
};

TSystemClock GSystemClock;
std::atomic<TPlatformClock*> GClock{&GSystemClock};
// Calls on the installed clock that are under way: a test's clock may end while the logging thread stamps a
// line with it, so a replaced clock is handed back only once no call is still inside it.
std::atomic<int> GClockCalls{0};

template <class TCall> auto CallClock(TCall call) {
    GClockCalls.fetch_add(1);
    struct TDone {
        ~TDone() { GClockCalls.fetch_sub(1); }
    } done;
    return call(*GClock.load());
}

} // namespace

TPlatformClock& Clock() {
    return *GClock.load();
}

TPlatformClock* SetClock(TPlatformClock* clock) {
    TPlatformClock* previous = GClock.exchange(clock ? clock : &GSystemClock);
    while (GClockCalls.load() != 0)
        std::this_thread::yield();
    return previous;
}

TDateTime Now() {
    return CallClock([](TPlatformClock& clock) { return clock.NowLocal(); });
}
TDateTime NowUTC() {
    return CallClock([](TPlatformClock& clock) { return clock.NowUTC(); });
}
uint32_t GetTickCount() {
    return static_cast<uint32_t>(GetTickCount64());
}
uint64_t GetTickCount64() {
    return CallClock([](TPlatformClock& clock) { return clock.TickCount64(); });
}
void SleepMs(uint32_t milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}
