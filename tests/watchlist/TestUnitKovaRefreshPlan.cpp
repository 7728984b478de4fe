#include "support/TimeTestSupport.h"
#include "watchlist/UnitKovaRefreshPlan.h"

#include <algorithm>
#include <gtest/gtest.h>

namespace {

constexpr double Second = 1.0 / 86400;
constexpr double Minute = 60 * Second;

::testing::AssertionResult SameMoment(TDateTime a, TDateTime b) {
    if (std::abs(a - b) < 0.5 * Second) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "apart by " << (a - b) / Second << " s";
}

TKovaCallCount Count(const char* day, int calls, const char* limitDay = "") {
    return {day, calls, limitDay};
}

TEST(EbayDay, BeginsAtMidnightPacificTimeWithItsDaylightSavingTime) {
    const struct {
        const char* At;
        const char* Day;
        const char* Start;
        const char* Next;
    } cases[] = {
        {"2026-12-08T07:59:59Z", "2026-12-07", "2026-12-07T08:00:00Z", "2026-12-08T08:00:00Z"},
        {"2026-12-08T08:00:00Z", "2026-12-08", "2026-12-08T08:00:00Z", "2026-12-09T08:00:00Z"},
        {"2026-07-01T06:59:00Z", "2026-06-30", "2026-06-30T07:00:00Z", "2026-07-01T07:00:00Z"},
        {"2026-07-01T07:00:00Z", "2026-07-01", "2026-07-01T07:00:00Z", "2026-07-02T07:00:00Z"},
        // Clocks go forward on 8 March 2026 and back on 1 November 2026: those days last 23 and 25 hours.
        {"2026-03-08T12:00:00Z", "2026-03-08", "2026-03-08T08:00:00Z", "2026-03-09T07:00:00Z"},
        {"2026-11-01T12:00:00Z", "2026-11-01", "2026-11-01T07:00:00Z", "2026-11-02T08:00:00Z"},
        {"2027-01-01T07:30:00Z", "2026-12-31", "2026-12-31T08:00:00Z", "2027-01-01T08:00:00Z"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.At);
        EXPECT_EQ(EbayDayKey(Utc(c.At)), c.Day);
        EXPECT_TRUE(SameMoment(EbayDayStart(Utc(c.At)), Utc(c.Start)));
        EXPECT_TRUE(SameMoment(NextEbayDay(Utc(c.At)), Utc(c.Next)));
    }
    TKovaCallCount count = Count("2026-12-07", 3999, "2026-12-07");
    EXPECT_TRUE(count.Limited(Utc("2026-12-08T07:59:59Z")));
    count.Roll(Utc("2026-12-08T07:59:59Z"));
    EXPECT_EQ(count.Calls, 3999) << "the same eBay day";
    EXPECT_FALSE(count.Limited(Utc("2026-12-08T08:00:00Z")));
    count.Roll(Utc("2026-12-08T08:00:00Z"));
    EXPECT_EQ(count.Day, "2026-12-08");
    EXPECT_EQ(count.Calls, 0);
}

TEST(RefreshPlan, ChoosesTheNextRefreshByIntervalEndingsBudgetAndLimit) {
    // 10:00 Pacific: 14 hours of eBay's day are left.
    const TDateTime now = Utc("2026-12-08T18:00:00Z");
    const TDateTime last = now - 2 * Minute;
    const auto in = [&](bool automatic, int interval, std::vector<TDateTime> ends = {},
                        TKovaCallCount calls = {}, int perLoad = 1, bool follow = true, bool woke = false) {
        TRefreshPlanInput input;
        input.NowUTC = now;
        input.Automatic = automatic;
        input.IntervalMinutes = interval;
        input.FollowEndings = follow;
        input.LastLoadUTC = last;
        input.EndTimesUTC = std::move(ends);
        input.Calls = std::move(calls);
        input.CallsPerLoad = perLoad;
        input.Woke = woke;
        return input;
    };
    const TDateTime nextDay = Utc("2026-12-09T08:00:00Z");
    const struct {
        const char* What;
        TRefreshPlanInput Input;
        TRefreshMode Mode;
        TDateTime Next;
    } cases[] = {
        {"automatic refresh off", in(false, 5), TRefreshMode::Off, 0},
        {"an interval of 0", in(true, 0), TRefreshMode::Off, 0},
        {"the interval", in(true, 5), TRefreshMode::Interval, last + 5 * Minute},
        {"an end in 20 min is not near", in(true, 5, {now + 20 * Minute}), TRefreshMode::Interval,
         last + 5 * Minute},
        {"an end within 10 min: every minute", in(true, 5, {now + 9 * Minute}), TRefreshMode::Endings,
         last + Minute},
        {"an end within 10 min, endings not followed", in(true, 5, {now + 9 * Minute}, {}, 1, false),
         TRefreshMode::Interval, last + 5 * Minute},
        {"an end the last load did not see: right after it", in(true, 30, {now - 30 * Second}),
         TRefreshMode::Endings, now - 20 * Second},
        {"an end the last load saw", in(true, 30, {last - Second}), TRefreshMode::Interval,
         last + 30 * Minute},
        {"woken", in(true, 30, {}, {}, 1, true, true), TRefreshMode::Interval, now},
        // 14 h left; 40 calls of 4 = 10 loads, one every 84 min.
        {"the budget slows the interval", in(true, 5, {}, Count("2026-12-08", 3960), 4), TRefreshMode::Slowed,
         last + 84 * Minute},
        {"the budget slows the endings too", in(true, 5, {now + Minute}, Count("2026-12-08", 3960), 4),
         TRefreshMode::Slowed, last + 84 * Minute},
        {"yesterday's calls do not count", in(true, 5, {}, Count("2026-12-07", 3999), 4),
         TRefreshMode::Interval, last + 5 * Minute},
        {"the budget is spent", in(true, 5, {}, Count("2026-12-08", 3997), 4), TRefreshMode::Budget, nextDay},
        {"eBay's call limit", in(true, 5, {}, Count("2026-12-08", 10, "2026-12-08")), TRefreshMode::Limit,
         nextDay},
        {"yesterday's call limit", in(true, 5, {}, Count("2026-12-08", 10, "2026-12-07")),
         TRefreshMode::Interval, last + 5 * Minute},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.What);
        const TRefreshPlan plan = PlanNextRefresh(c.Input);
        EXPECT_EQ(plan.Mode, c.Mode);
        EXPECT_TRUE(SameMoment(plan.NextUTC, c.Next));
    }
}

// A day of eBay's, refreshed every minute with four pages a load (5 760 calls at that pace): the loads
// stay within the budget of 4 000, evenly spaced from the first minutes to the last.
TEST(RefreshPlan, ADayOfOneMinuteRefreshesWithFourPagesStaysWithinTheBudgetSpreadOverTheDay) {
    const TDateTime dayStart = Utc("2026-12-08T08:00:00Z");
    const TDateTime dayEnd = NextEbayDay(dayStart);
    TRefreshPlanInput input;
    input.NowUTC = dayStart;
    input.Automatic = true;
    input.IntervalMinutes = 1;
    input.LastLoadUTC = dayStart - 5 * Minute;
    input.Calls.Roll(dayStart);
    input.CallsPerLoad = 4;
    std::vector<TDateTime> loads;
    // The host looks every second; a load takes the clock to its planned moment.
    while (true) {
        const TRefreshPlan plan = PlanNextRefresh(input);
        ASSERT_NE(plan.NextUTC, 0);
        const TDateTime at = std::max(input.NowUTC, plan.NextUTC);
        if (at >= dayEnd) break;
        loads.push_back(at);
        input.NowUTC = at;
        input.LastLoadUTC = at;
        input.Calls.Calls += 4;
        // the user's own refresh at noon takes its calls from the same budget
        if (loads.size() == 500) input.Calls.Calls += 4;
    }
    EXPECT_LE(input.Calls.Calls, 4000);
    EXPECT_GE(input.Calls.Calls, 3990) << "the budget is used, not hoarded";
    ASSERT_GE(loads.size(), 2u);
    EXPECT_LT(loads.front() - dayStart, 2 * Minute);
    EXPECT_LT(dayEnd - loads.back(), 2 * Minute);
    double shortest = 1, longest = 0;
    for (size_t i = 1; i < loads.size(); ++i) {
        shortest = std::min(shortest, loads[i] - loads[i - 1]);
        longest = std::max(longest, loads[i] - loads[i - 1]);
    }
    EXPECT_GE(shortest, Minute - 0.5 * Second) << "never faster than the interval";
    EXPECT_LT(longest / shortest, 1.1) << "evenly spread";

    // The next day starts with a fresh budget at the same pace.
    input.NowUTC = dayEnd + Second;
    const TRefreshPlan next = PlanNextRefresh(input);
    EXPECT_EQ(next.Mode, TRefreshMode::Slowed);
    EXPECT_TRUE(SameMoment(next.NextUTC, dayEnd + 86.4 * Second));
}

} // namespace
