#pragma once
// The page's reminders beside the control's members: GET and PUT /api/reminders, and the delivery of due
// reminders as desktop notifications and "reminder" events.

#include "base/UnitDateTime.h"
#include "platform/UnitPlatformNotifications.h"

#include <condition_variable>
#include <functional>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>

class TKovaWatchList;
struct TDueReminder;

struct TKovaRemindersAnswer {
    int Status = 200;
    nlohmann::json Body;
};

// A date-time (UTC) as ISO 8601 text, "2030-01-01T11:45:00Z"; null when not set.
nlohmann::json KovaIsoUTC(TDateTime value);

// Checks a PUT body before it goes to the main thread: empty when sound, else the reason for a 400.
std::string CheckKovaRemindersBody(const nlohmann::json& body);
// Main thread. list is null while no control has been initialised.
TKovaRemindersAnswer KovaRemindersGet(TKovaWatchList* list);
TKovaRemindersAnswer KovaRemindersPut(TKovaWatchList* list, const nlohmann::json& body);

// Gives the reminders that have come due: a desktop notification whose "Open" action opens the item's page,
// and the page's "reminder" event. Main thread; publish may be called from any thread.
class TKovaReminderDelivery {
public:
    using TPublish = std::function<void(const std::string& event, const std::string& data)>;
    explicit TKovaReminderDelivery(TPublish publish);

    // Gives every reminder due by the clock's time now (the clock seam); those of ended items are dropped
    // with a log line. Nothing without a list.
    void Deliver(TKovaWatchList* list);

private:
    void Give(const TDueReminder& due);

    TPublish FPublish;
    TPlatformNotifications FNotifications;
    bool FNoBusLogged = false;
};

// Calls tick from a thread of its own every interval until it is destroyed; the host's tick posts the
// delivery to the main thread, which reads the clock seam, so a test that moves the clock sees it at once.
class TKovaReminderTicker {
public:
    TKovaReminderTicker() = default;
    ~TKovaReminderTicker() { Stop(); }
    TKovaReminderTicker(const TKovaReminderTicker&) = delete;
    TKovaReminderTicker& operator=(const TKovaReminderTicker&) = delete;

    void Start(std::function<void()> tick, int intervalMs = 1000);
    void Stop();

private:
    std::mutex FLock;
    std::condition_variable FWake;
    bool FStop = false;
    std::thread FThread;
};
