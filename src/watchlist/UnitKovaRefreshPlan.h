#pragma once
// When the next automatic refresh runs: the user's interval, a refresh a minute while an auction is about
// to end and one right after each end, all within a daily budget of eBay calls, and nothing while eBay's
// call limit stands. eBay counts calls per day from midnight Pacific time.

#include "base/UnitDateTime.h"

#include <string>
#include <vector>

// The UTC moment the eBay day that holds utc began, and the one the next begins (midnight Pacific time,
// with its daylight saving time).
TDateTime EbayDayStart(TDateTime utc);
TDateTime NextEbayDay(TDateTime utc);
// The Pacific date of that day, "YYYY-MM-DD".
std::string EbayDayKey(TDateTime utc);

// The calls of one eBay day and eBay's call limit, as the settings keep them across restarts.
struct TKovaCallCount {
    std::string Day;      // EbayDayKey of the day counted
    int Calls = 0;        // calls answered that day
    std::string LimitDay; // the eBay day on which eBay refused further calls (518)

    // Starts the count afresh when utc lies in another eBay day than the one counted.
    void Roll(TDateTime utc);
    bool Limited(TDateTime utc) const { return !LimitDay.empty() && LimitDay == EbayDayKey(utc); }
};

enum class TRefreshMode {
    Off,      // no automatic refresh
    Interval, // the user's interval
    Endings,  // an auction ends soon, or has just ended
    Slowed,   // the interval would pass the day's budget: spread evenly over the rest of the day
    Budget,   // the day's budget is spent: the next eBay day
    Limit     // eBay's call limit: the next eBay day
};

struct TRefreshPlanInput {
    TDateTime NowUTC = 0;
    bool Automatic = false;
    int IntervalMinutes = 0;
    bool FollowEndings = true;
    // When the last load (automatic or the user's) started; the control's start before any.
    TDateTime LastLoadUTC = 0;
    // The end times of the items on the list (UTC; 0 for none).
    std::vector<TDateTime> EndTimesUTC;
    TKovaCallCount Calls;
    int Budget = 4000;
    // The calls one load takes (its pages), as the last load took them.
    int CallsPerLoad = 1;
    // The machine has just woken: one refresh at once.
    bool Woke = false;
};

struct TRefreshPlan {
    TRefreshMode Mode = TRefreshMode::Off;
    TDateTime NextUTC = 0; // 0: none
    // The even spacing the budget allows for the rest of the day, in seconds (Slowed).
    double GapSeconds = 0;
};

TRefreshPlan PlanNextRefresh(const TRefreshPlanInput& input);

// Within this much of an end the list refreshes once a minute; this long after an end it refreshes once
// more, so that eBay has the final price.
constexpr double EndingSoonSeconds = 600;
constexpr double AfterEndSeconds = 10;
