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
        return MSecsToDateTime((static_cast<int64_t>(secs) + local.tm_gmtoff + int64_t{UnixDateDelta} * 86400) *
                                   1000 + ms % 1000);
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

} // namespace

TPlatformClock& Clock() { return *GClock.load(); }

TPlatformClock* SetClock(TPlatformClock* clock) { return GClock.exchange(clock ? clock : &GSystemClock); }

TDateTime Now() { return Clock().NowLocal(); }
TDateTime NowUTC() { return Clock().NowUTC(); }
uint32_t GetTickCount() { return static_cast<uint32_t>(Clock().TickCount64()); }
uint64_t GetTickCount64() { return Clock().TickCount64(); }
void SleepMs(uint32_t milliseconds) { std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds)); }
