#pragma once
// kova-gadget's server on a thread of its own (its main thread) with a page's event stream, a clock the
// test moves, and a local item file written from a table: the host's reminder and refresh tests share them.

#include "EventStreamClient.h"
#include "host/KovaGadgetServer.h"
#include "platform/UnitPlatformClock.h"

#include <atomic>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

// The system clock moved by an offset the test sets; ticks stay real, so the host's waits still end. A jump
// of more than a minute looks to the host like a machine that slept.
class TShiftedClock : public TPlatformClock {
public:
    TShiftedClock() : FSystem(Clock()) { FPrevious = SetClock(this); }
    ~TShiftedClock() override { SetClock(FPrevious); }
    TDateTime NowLocal() override { return FSystem.NowLocal() + FOffset.load(); }
    TDateTime NowUTC() override { return FSystem.NowUTC() + FOffset.load(); }
    uint64_t TickCount64() override { return FSystem.TickCount64(); }
    void SetUTC(TDateTime utc) { FOffset = utc - FSystem.NowUTC(); }
    void Advance(double days) { FOffset = FOffset.load() + days; }

private:
    TPlatformClock& FSystem;
    TPlatformClock* FPrevious;
    std::atomic<double> FOffset{0};
};

class TInProcessHost {
public:
    explicit TInProcessHost(const std::string& dir);
    ~TInProcessHost();
    // One JSON exchange with the secret: the status (0 when there was no answer) and the parsed body.
    std::pair<int, nlohmann::json> Send(const std::string& method, const std::string& path,
                                        const nlohmann::json& body = nullptr);
    bool Init();
    // Calls a member of the control ("method" unless told) and returns its answer's "result".
    nlohmann::json Call(const std::string& member, const std::string& kind = "method");
    // Waits until the control's load has ended (IsWorking false), at most 30 s.
    bool AwaitIdle();
    bool Saw(const std::string& event);

    TKovaGadgetServer Server;

private:
    std::thread FMain;

public:
    std::unique_ptr<TEventStreamClient> Stream;
};

// Writes "watchlist.dat" with items (id, end time UTC, RemindType, Reminded), titled "Lamp ID".
void WriteReminderItems(const std::string& path,
                        const std::vector<std::tuple<std::string, double, int, bool>>& items);
