#pragma once
// Zone information records: the computer's zone and the zones of the Windows zone list, read from the
// POSIX rule in the footer of TZif files (tzfile(5)).

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// A transition rule. wMonth 0: no transition. wYear 0: the wDay-th (5 = last) wDayOfWeek (0 = Sunday) of
// wMonth, every year; otherwise that absolute date in wYear only. wHour may lie outside 0..23 (down to -167,
// up to 167) for rules whose moment is given relative to a neighbouring day, such as "/25" or "/-1".
struct TSystemTime {
    int wYear = 0;
    int wMonth = 0;
    int wDayOfWeek = 0;
    int wDay = 0;
    int wHour = 0;
    int wMinute = 0;
    int wSecond = 0;
    int wMilliseconds = 0;
    bool operator==(const TSystemTime&) const = default;
};

// A change of the offset listed in a zone's data: from the UTC moment At (seconds since 1970) on, local time
// is UTC + UtOffset seconds.
struct TListedTransition {
    int64_t At = 0;
    int32_t UtOffset = 0;
    bool IsDaylight = false;
    bool operator==(const TListedTransition&) const = default;
};

// Biases in minutes, UTC = local + Bias (+ StandardBias or DaylightBias).
struct TTimeZoneInformation {
    int Bias = 0;
    std::string StandardName;
    TSystemTime StandardDate;
    int StandardBias = 0;
    std::string DaylightName;
    TSystemTime DaylightDate;
    int DaylightBias = 0;
    // The transitions a zone file lists, ascending; before the first one FirstUtOffset applies. They decide
    // every moment up to the last of them, because a zone's listed years may differ from its rule (a
    // rule cannot describe them); the rule above applies only after the last. Empty for a rule alone.
    std::vector<TListedTransition> Listed;
    int32_t FirstUtOffset = 0;
    bool FirstIsDaylight = false;
    bool operator==(const TTimeZoneInformation&) const = default;
};

// Reads a POSIX TZ rule ("CET-1CEST,M3.5.0,M10.5.0/3"). Day-of-year forms (Jn, n) have no yearly weekday
// rule to match; they become the weekday rule that gives their date in currentYear. False when the text
// is not a rule.
bool ParsePosixTimeZoneRule(std::string_view rule, int currentYear, TTimeZoneInformation& info);

// Reads the contents of a TZif file. Without a footer rule the zone keeps the offset of its last local time
// type, without daylight saving. False (with the reason in warning and UTC in info) when the data cannot
// be used; true with a warning when only the fallback applies.
bool ZoneInformationFromTZif(std::string_view data, int currentYear, TTimeZoneInformation& info,
                             std::string& warning);

// The computer's zone: the zone of $TZ (a zone name, a file path or a POSIX rule) or of /etc/localtime.
// Zone data that cannot be read give UTC without daylight saving and a text in warning.
TTimeZoneInformation GetTimeZoneInformation(std::string& warning);

// The IANA zone for a name of the Windows zone list (compared without regard to case), or "".
std::string WindowsZoneToIana(std::string_view windowsName);

// The zone of a Windows zone name from the tz database; false when the name is not in the zone list. Zone
// data that cannot be read give UTC without daylight saving and a text in warning.
bool GetNamedTimeZoneInformation(std::string_view windowsName, TTimeZoneInformation& info,
                                 std::string& warning);
