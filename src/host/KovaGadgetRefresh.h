#pragma once
// Automatic refreshes, run by the host for every page at once: the user's interval, refreshes that follow
// the endings, eBay's daily call budget and call limit, and a wake from sleep. The page hears of them as
// "load", "schedule" and "listchanged" events and reads the plan from GET /api/schedule.

#include "watchlist/UnitKovaRefreshPlan.h"

#include <cstdint>
#include <functional>
#include <nlohmann/json.hpp>
#include <string>

class TKovaWatchList;

class TKovaRefreshScheduler {
public:
    using TPublish = std::function<void(const std::string& event, const std::string& data)>;
    explicit TKovaRefreshScheduler(TPublish publish);

    // A wall clock that moved this much further than the monotonic one means the machine slept.
    static constexpr uint64_t WakeGapMs = 60000;

    // Every tick, on the main thread. list is null while no control runs; idle says that no call and no
    // dialog is under way, and startLoad starts a load as the page's refresh button does.
    void Tick(TKovaWatchList* list, bool idle, const std::function<void()>& startLoad);
    // The plan as GET /api/schedule and the "schedule" event give it.
    nlohmann::json State() const { return FState; }

private:
    void Started(TDateTime now);
    void AccountCalls(TDateTime now);
    void SaveCount();
    void Finished(const TKovaWatchList& list, TDateTime now);
    void Woke(TKovaWatchList& list);
    void PublishState(const TRefreshPlanInput& input, const TRefreshPlan& plan);

    TPublish FPublish;
    bool FInTick = false;
    bool FHadList = false;
    TDateTime FLastWall = 0;
    uint64_t FLastTickMs = 0;
    bool FWoke = false;
    uint64_t FSeenLoads = 0;
    uint64_t FSeenCalls = 0;
    TDateTime FLastLoad = 0;
    int FCallsPerLoad = 1;
    TKovaCallCount FCount;
    nlohmann::json FState = {{"mode", "off"}, {"next", nullptr}, {"text", ""}};
};
