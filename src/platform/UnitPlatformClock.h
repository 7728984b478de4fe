#pragma once
// The clock seam: local and UTC date-time now and a millisecond tick counter; tests install their own.

#include "base/UnitDateTime.h"

#include <cstdint>

class TPlatformClock {
public:
    virtual ~TPlatformClock() = default;
    virtual TDateTime NowLocal() = 0;
    virtual TDateTime NowUTC() = 0;
    // Milliseconds since an arbitrary start, never going back.
    virtual uint64_t TickCount64() = 0;
};

// The process-wide clock; the system clock unless a test installed another.
TPlatformClock& Clock();
// Installs a clock (not owned); nullptr restores the system clock. Returns the previous one.
TPlatformClock* SetClock(TPlatformClock* clock);

TDateTime Now();
TDateTime NowUTC();
uint32_t GetTickCount(); // wraps after 49.7 days, as callers of a 32-bit tick count expect
uint64_t GetTickCount64();
void SleepMs(uint32_t milliseconds);
