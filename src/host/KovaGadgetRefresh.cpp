#include "host/KovaGadgetRefresh.h"

#include "ebayapi/UnitKovaGadgetCalls.h"
#include "host/KovaGadgetReminders.h"
#include "host/KovaGadgetServerCalls.h"
#include "platform/UnitPlatformClock.h"
#include "storage/UnitKovaIniFile.h"
#include "support/UnitFormatSettings.h"
#include "support/UnitLogging.h"
#include "watchlist/UnitKovaWatchList.h"

#include <algorithm>
#include <cmath>

namespace {

using json = nlohmann::json;

// eBay's answer when the application's calls of the day are used up.
constexpr int CallLimitError = 518;

const char* ModeName(TRefreshMode mode) {
    switch (mode) {
    case TRefreshMode::Interval:
        return "interval";
    case TRefreshMode::Endings:
        return "endings";
    case TRefreshMode::Slowed:
        return "slowed";
    case TRefreshMode::Budget:
        return "budget";
    case TRefreshMode::Limit:
        return "limit";
    case TRefreshMode::Off:
        break;
    }
    return "off";
}

// A UTC moment as the local clock time the user reads.
std::string LocalClock(TDateTime utc) {
    return FormatDateTime("hh:nn", utc + (Now() - NowUTC()), DefaultFormatSettings());
}

// What the page's status line shows under "Updated HH:MM", short for the gadget's narrow bar, and the
// sentence its tooltip gives.
std::pair<std::string, std::string> PlanTexts(const TRefreshPlanInput& in, const TRefreshPlan& plan) {
    const std::string budget = std::to_string(in.Budget);
    const std::string minutes = std::to_string(in.IntervalMinutes);
    switch (plan.Mode) {
    case TRefreshMode::Interval:
        return {"every " + minutes + " min", "Refreshes every " + minutes + " min."};
    case TRefreshMode::Endings:
        return {"every min: auction ending",
                "Refreshes every minute while an auction ends within 10 minutes, and right after each end."};
    case TRefreshMode::Slowed: {
        const std::string every = std::to_string(static_cast<int>(std::ceil(plan.GapSeconds / 60)));
        return {"every " + every + " min (call budget)",
                "Refreshes every " + every + " min to stay within " + budget + " eBay calls a day (" +
                    std::to_string(in.Calls.Calls) + " used today)."};
    }
    case TRefreshMode::Budget:
        return {"calls used: resumes " + LocalClock(plan.NextUTC),
                "Today's " + budget + " eBay calls are used; automatic refreshes resume at " +
                    LocalClock(plan.NextUTC) + ", when eBay's day begins."};
    case TRefreshMode::Limit:
        return {"eBay call limit: resumes " + LocalClock(plan.NextUTC),
                "eBay's call limit is reached; automatic refreshes resume at " + LocalClock(plan.NextUTC) +
                    ", when eBay's day begins. The refresh button still loads."};
    case TRefreshMode::Off:
        break;
    }
    return {"", ""};
}

} // namespace

TKovaRefreshScheduler::TKovaRefreshScheduler(TPublish publish)
    : FPublish(std::move(publish)), FSeenCalls(TradingCallsAnswered()) {
}

void TKovaRefreshScheduler::Tick(TKovaWatchList* list, bool idle, const std::function<void()>& startLoad) {
    // A load that opens a dialog keeps the main thread's queue turning, and with it the ticks.
    if (FInTick) return;
    FInTick = true;
    struct TLeave {
        bool& Flag;
        ~TLeave() { Flag = false; }
    } leave{FInTick};

    const TDateTime now = NowUTC();
    const uint64_t tickMs = GetTickCount64();
    const bool woke =
        FLastTickMs != 0 && (now - FLastWall) * 86400000.0 > double(tickMs - FLastTickMs) + WakeGapMs;
    FLastWall = now;
    FLastTickMs = tickMs;
    if (!list) {
        FHadList = false;
        return;
    }
    TIniFileManager* settings = IniFileManager();
    if (!FHadList) Started(now);
    AccountCalls(now);
    if (list->LastLoad().Number != FSeenLoads) Finished(*list, now);
    if (woke) Woke(*list);

    TRefreshPlanInput input;
    input.NowUTC = now;
    if (settings) {
        const TIniFileSectionWatchlist& watchlist = settings->Watchlist();
        input.Automatic = watchlist.AuctionsAutomaticRefresh();
        input.IntervalMinutes = watchlist.AuctionsRefreshTime();
        input.FollowEndings = watchlist.AuctionsRefreshNearEnd();
        input.Budget = watchlist.AuctionsCallBudget();
    }
    input.LastLoadUTC = FLastLoad;
    input.EndTimesUTC = list->EndTimes();
    input.Calls = FCount;
    input.CallsPerLoad = FCallsPerLoad;
    input.Woke = FWoke;
    const TRefreshPlan plan = PlanNextRefresh(input);
    if (plan.Mode == TRefreshMode::Off) FWoke = false;
    PublishState(input, plan);
    if (plan.NextUTC == 0 || now < plan.NextUTC || !idle || list->IsBusy()) return;

    FWoke = false;
    // A load that cannot start (no login data, a dialog the user cancels) waits for the next turn too.
    FLastLoad = now;
    startLoad();
    if (list->IsBusy()) FPublish("load", DumpKovaJson({{"state", "started"}, {"automatic", true}}));
}

void TKovaRefreshScheduler::Started(TDateTime now) {
    FHadList = true;
    FLastLoad = now;
    FSeenLoads = 0;
    FCallsPerLoad = 1;
    FCount = {};
    if (TIniFileManager* settings = IniFileManager()) {
        const TIniFileSectionCallBudget& stored = settings->CallBudget();
        FCount = {stored.Day(), stored.Calls(), stored.LimitDay()};
    }
    FCount.Roll(now);
}

void TKovaRefreshScheduler::AccountCalls(TDateTime now) {
    const uint64_t calls = TradingCallsAnswered();
    const std::string day = FCount.Day;
    FCount.Roll(now);
    const bool rolled = FCount.Day != day;
    if (calls == FSeenCalls && !rolled) return;
    FCount.Calls += static_cast<int>(calls - FSeenCalls);
    FSeenCalls = calls;
    SaveCount();
}

void TKovaRefreshScheduler::SaveCount() {
    TIniFileManager* settings = IniFileManager();
    if (!settings) return;
    try {
        settings->CallBudget().Store(FCount.Day, FCount.Calls, FCount.LimitDay);
    } catch (const std::exception& e) {
        LogException(e, "TKovaRefreshScheduler.SaveCount");
    }
}

void TKovaRefreshScheduler::Finished(const TKovaWatchList& list, TDateTime now) {
    const TKovaWatchList::TLoadOutcome outcome = list.LastLoad();
    FSeenLoads = outcome.Number;
    FLastLoad = std::max(FLastLoad, outcome.StartedUTC);
    if (outcome.Calls > 0) FCallsPerLoad = outcome.Calls;
    if (outcome.ApiError == CallLimitError && !FCount.Limited(now)) {
        FCount.LimitDay = EbayDayKey(now);
        SaveCount();
        Log("eBay's call limit is reached: no automatic refresh until eBay's next day begins at " +
                LocalClock(NextEbayDay(now)),
            lmkWarning);
    }
    FPublish(
        "load",
        DumpKovaJson({{"state", "finished"}, {"number", outcome.Number}, {"succeeded", outcome.Succeeded}}));
}

void TKovaRefreshScheduler::Woke(TKovaWatchList& list) {
    Log("The clock jumped ahead (the machine slept): remaining times are shown anew", lmkInfo);
    FWoke = true;
    try {
        list.RewriteResultFile();
        FPublish("listchanged", "{}");
    } catch (const std::exception& e) {
        LogException(e, "TKovaRefreshScheduler.Woke");
    }
}

void TKovaRefreshScheduler::PublishState(const TRefreshPlanInput& input, const TRefreshPlan& plan) {
    const auto [text, detail] = PlanTexts(input, plan);
    json state = {{"mode", ModeName(plan.Mode)},
                  {"next", KovaIsoUTC(plan.NextUTC)},
                  {"text", text},
                  {"detail", detail},
                  {"callsToday", input.Calls.Calls},
                  {"budget", input.Budget}};
    // The page hears of a change of what it shows, not of every tick.
    const bool changed = state["mode"] != FState["mode"] || state["text"] != FState["text"];
    FState = std::move(state);
    if (changed) FPublish("schedule", DumpKovaJson(FState));
}
