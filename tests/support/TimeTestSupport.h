#pragma once
// Helpers for time tests: a scoped TZ, elapsed wall time and ISO texts as date-times.

#include "time/UnitIsoTime.h"

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <stdexcept>
#include <string>

// Sets TZ (or unsets it for std::nullopt) for its lifetime, telling the C library each time.
class TScopedTZ {
public:
    explicit TScopedTZ(const std::optional<std::string>& value) {
        if (const char* old = std::getenv("TZ")) FOld = old;
        Set(value);
    }
    ~TScopedTZ() { Set(FOld); }
    TScopedTZ(const TScopedTZ&) = delete;
    TScopedTZ& operator=(const TScopedTZ&) = delete;

private:
    static void Set(const std::optional<std::string>& value) {
        if (value)
            setenv("TZ", value->c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }
    std::optional<std::string> FOld;
};

inline int64_t ElapsedMs(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - since)
        .count();
}

// An ISO 8601 UTC text ("2030-01-02T18:00:00Z") as a date-time; the test fails on any other text.
inline TDateTime Utc(const char* text) {
    TDateTime value = 0;
    if (!TryReadIsoUTC(text, value)) throw std::invalid_argument(std::string("not an ISO UTC time: ") + text);
    return value;
}
