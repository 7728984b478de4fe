#include "platform/UnitPlatformMonotonic.h"

#include <chrono>

uint64_t MonotonicMs() {
    using namespace std::chrono;
    return static_cast<uint64_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}
