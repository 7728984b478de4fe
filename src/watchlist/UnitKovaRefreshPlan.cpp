#include "watchlist/UnitKovaRefreshPlan.h"

#include "platform/UnitPlatformTimeZone.h"
#include "time/UnitTimeUtils.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

constexpr double Hour = 1.0 / 24;
constexpr double Minute = 1.0 / 1440;
constexpr double SecondDays = 1.0 / 86400;

// eBay's time, Pacific time, as the POSIX rule of the tz database gives it.
const TTimeZoneInformation& Pacific() {
    static const TTimeZoneInformation zone = [] {
        TTimeZoneInformation info;
        ParsePosixTimeZoneRule("PST8PDT,M3.2.0,M11.1.0", 2000, info);
        return info;
    }();
    return zone;
}

// Pacific time less UTC at a UTC moment. The transitions are read on the clock of the time before them.
double PacificOffset(TDateTime utc) {
    int year = 0, month = 0, day = 0;
    DecodeDate(utc, year, month, day);
    const TTimeZoneInformation& zone = Pacific();
    const TZoneTransitions changes = GetTransitions(zone, year);
    const double standard = (zone.Bias + zone.StandardBias) * Minute;
    const double daylight = (zone.Bias + zone.DaylightBias) * Minute;
    const bool summer = utc >= changes.DaylightStart + standard && utc < changes.StandardStart + daylight;
    return summer ? -daylight : -standard;
}

// The Pacific date (a whole TDateTime) that holds utc.
double PacificDate(TDateTime utc) {
    return std::floor(utc + PacificOffset(utc));
}

// Midnight of a Pacific date in UTC. Clocks change at 2:00, so 7:00 UTC of that date still has midnight's
// offset.
TDateTime MidnightUTC(double pacificDate) {
    return pacificDate - PacificOffset(pacificDate + 7 * Hour);
}

double Seconds(TDateTime from, TDateTime to) {
    return (to - from) * 86400;
}

} // namespace

TDateTime EbayDayStart(TDateTime utc) {
    return MidnightUTC(PacificDate(utc));
}

TDateTime NextEbayDay(TDateTime utc) {
    return MidnightUTC(PacificDate(utc) + 1);
}

std::string EbayDayKey(TDateTime utc) {
    int year = 0, month = 0, day = 0;
    DecodeDate(PacificDate(utc), year, month, day);
    char text[16];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d", year, month, day);
    return text;
}

void TKovaCallCount::Roll(TDateTime utc) {
    const std::string today = EbayDayKey(utc);
    if (Day == today) return;
    // A count of a later day than the clock's (the clock went back) is not the count of today either.
    Day = today;
    Calls = 0;
}

TRefreshPlan PlanNextRefresh(const TRefreshPlanInput& in) {
    TRefreshPlan plan;
    if (!in.Automatic || in.IntervalMinutes <= 0) return plan;
    const TDateTime now = in.NowUTC;
    if (in.Calls.Limited(now)) {
        plan.Mode = TRefreshMode::Limit;
        plan.NextUTC = NextEbayDay(now);
        return plan;
    }

    plan.Mode = TRefreshMode::Interval;
    TDateTime next = in.LastLoadUTC + in.IntervalMinutes / 1440.0;
    if (in.FollowEndings) {
        for (const TDateTime end : in.EndTimesUTC) {
            if (end <= 0) continue;
            TDateTime candidate = 0;
            if (end > now && Seconds(now, end) <= EndingSoonSeconds)
                candidate = in.LastLoadUTC + 60 * SecondDays;
            // An end the last load did not see yet: once, right after it.
            if (end > in.LastLoadUTC)
                candidate = candidate == 0 ? end + AfterEndSeconds * SecondDays
                                           : std::min(candidate, end + AfterEndSeconds * SecondDays);
            if (candidate != 0 && candidate < next) {
                next = candidate;
                plan.Mode = TRefreshMode::Endings;
            }
        }
    }
    if (in.Woke) next = std::min(next, now);

    // The budget is spread evenly over what is left of the day; the user's own calls count against it too.
    const TDateTime dayEnd = NextEbayDay(now);
    const int perLoad = std::max(in.CallsPerLoad, 1);
    TKovaCallCount calls = in.Calls;
    calls.Roll(now);
    const int loadsLeft = std::max(in.Budget - calls.Calls, 0) / perLoad;
    if (loadsLeft == 0) {
        plan.Mode = TRefreshMode::Budget;
        plan.NextUTC = dayEnd;
        return plan;
    }
    // Slowed only when the budget's spacing is wider than the pace chosen above, not merely later than a
    // moment that has passed (after a sleep, say).
    const double gap = Seconds(now, dayEnd) / loadsLeft;
    const TDateTime spread = std::max(in.LastLoadUTC, EbayDayStart(now)) + gap * SecondDays;
    if (gap > Seconds(in.LastLoadUTC, next) && spread > next) {
        next = spread;
        plan.Mode = TRefreshMode::Slowed;
        plan.GapSeconds = gap;
    }
    plan.NextUTC = std::max(next, in.LastLoadUTC);
    return plan;
}
