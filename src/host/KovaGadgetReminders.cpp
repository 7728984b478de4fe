#include "host/KovaGadgetReminders.h"

#include "host/KovaGadgetServerCalls.h"
#include "platform/UnitPlatformClock.h"
#include "platform/UnitPlatformMainThread.h"
#include "platform/UnitPlatformShell.h"
#include "storage/UnitKovaIniFile.h"
#include "support/UnitLogging.h"
#include "watchlist/UnitKovaWatchList.h"

#include <cmath>
#include <ctime>

namespace {

using json = nlohmann::json;

constexpr int MaxType = 6;
constexpr const char* TypeRule = "\"remindType\" must be an integer from 0 (off) to 6 (1 day before the end)";
constexpr const char* DefaultRule = "\"default\" must be an integer from 0 (off) to 6 (1 day before the end)";

json StateJson(const TReminderState& state) {
    return {{"itemId", state.ItemId},
            {"remindType", state.RemindType},
            {"remindTime", KovaIsoUTC(state.RemindTime)},
            {"reminded", state.Reminded}};
}

bool InRange(const json& value) {
    return value.is_number_integer() && value.get<int64_t>() >= 0 && value.get<int64_t>() <= MaxType;
}

} // namespace

json KovaIsoUTC(TDateTime value) {
    if (value <= 0) return nullptr;
    const std::time_t seconds = static_cast<std::time_t>(std::llround((value - 25569.0) * 86400.0));
    std::tm parts{};
    if (!gmtime_r(&seconds, &parts)) return nullptr;
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
    return text;
}

std::string CheckKovaRemindersBody(const json& body) {
    if (!body.is_object()) return "the body must be a JSON object";
    if (body.contains("default")) {
        if (body.size() != 1) return "give \"default\" alone, or \"itemId\" with \"remindType\"";
        return InRange(body["default"]) ? "" : DefaultRule;
    }
    if (!body.contains("itemId") || !body["itemId"].is_string() || body["itemId"].get<std::string>().empty())
        return "\"itemId\" must be an item number of the watch list";
    if (!body.contains("remindType") || !InRange(body["remindType"])) return TypeRule;
    return "";
}

TKovaRemindersAnswer KovaRemindersGet(TKovaWatchList* list) {
    TIniFileManager* settings = IniFileManager();
    json items = json::array();
    if (list)
        for (const TReminderState& state : list->Reminders())
            items.push_back(StateJson(state));
    return {200,
            {{"default", settings ? settings->Watchlist().AuctionsRemindDefault() : 0}, {"items", items}}};
}

TKovaRemindersAnswer KovaRemindersPut(TKovaWatchList* list, const json& body) {
    if (body.contains("default")) {
        TIniFileManager* settings = IniFileManager();
        if (!settings) return {409, {{"error", "the control is not initialised; call Init first"}}};
        settings->Watchlist().SetAuctionsRemindDefault(body["default"].get<int>());
        return {200, {{"result", {{"default", settings->Watchlist().AuctionsRemindDefault()}}}}};
    }
    if (!list) return {409, {{"error", "the control is not initialised; call Init first"}}};
    const std::string itemId = body["itemId"].get<std::string>();
    const auto state = list->SetReminder(itemId, body["remindType"].get<int>());
    if (!state) return {404, {{"error", "the watch list has no item \"" + itemId + "\""}}};
    return {200, {{"result", StateJson(*state)}}};
}

TKovaReminderDelivery::TKovaReminderDelivery(TPublish publish) : FPublish(std::move(publish)) {
}

void TKovaReminderDelivery::Deliver(TKovaWatchList* list) {
    if (!list) return;
    const TDateTime next = list->NextRemindTime();
    if (next == 0 || next > NowUTC()) return;
    try {
        for (const TDueReminder& due : list->TakeDueReminders(NowUTC()))
            Give(due);
    } catch (const std::exception& e) {
        LogException(e, "TKovaReminderDelivery.Deliver");
    }
}

void TKovaReminderDelivery::Give(const TDueReminder& due) {
    if (due.Ended) {
        Log("Reminder for item " + due.ItemId + " dropped: the auction ended before it could be given",
            lmkInfo);
        return;
    }
    TPlatformNotification note;
    note.AppName = "KovaGadget";
    note.AppIcon = "kova-gadget";
    note.Summary = due.Title;
    note.Body = due.Price + " \u2013 " + due.TimeLeft;
    if (!due.Url.empty()) note.Actions = {{"default", "Open"}};
    // The address is opened on the main thread, where the shell's handler (maybe the page) lives.
    const auto open = [url = due.Url](const std::string& action) {
        if (action == "default" && !url.empty()) MainThreadQueue().Post([url] { ShellOpen(url); });
    };
    std::string error;
    const bool notified = FNotifications.Notify(note, open, error);
    if (!notified && !FNoBusLogged) {
        // Said once: without a notification service every reminder shows in the page alone.
        Log("Reminders show in the page only: " + error, lmkWarning);
        FNoBusLogged = true;
    }
    FPublish("reminder", DumpKovaJson({{"itemId", due.ItemId},
                                       {"title", due.Title},
                                       {"price", due.Price},
                                       {"timeLeft", due.TimeLeft},
                                       {"url", due.Url},
                                       {"notified", notified}}));
}

void TKovaReminderTicker::Start(std::function<void()> tick, int intervalMs) {
    Stop();
    FStop = false;
    FThread = std::thread([this, tick = std::move(tick), intervalMs] {
        std::unique_lock lock(FLock);
        while (!FWake.wait_for(lock, std::chrono::milliseconds(intervalMs), [this] { return FStop; }))
            tick();
    });
}

void TKovaReminderTicker::Stop() {
    {
        std::lock_guard lock(FLock);
        FStop = true;
    }
    FWake.notify_all();
    if (FThread.joinable()) FThread.join();
}
