#pragma once
// The live list beside the control's members: GET /api/items (what the page counts down and marks),
// GET and PUT /api/view (the order and filter of the rows), and the outbid and ended notices as desktop
// notifications and events.

#include "base/UnitDateTime.h"
#include "platform/UnitPlatformNotifications.h"

#include <functional>
#include <nlohmann/json.hpp>
#include <string>

class TKovaWatchList;
struct TKovaNotice;

struct TKovaLiveAnswer {
    int Status = 200;
    nlohmann::json Body;
};

// A date-time (UTC) as ISO 8601 text with milliseconds, "2026-12-08T14:03:07.123Z"; null when not set.
nlohmann::json KovaIsoUTCMs(TDateTime value);

// Main thread. list is null while no control has been initialised: no items then.
TKovaLiveAnswer KovaItemsGet(TKovaWatchList* list, TDateTime nowUTC);
// Checks a PUT body before it goes to the main thread: empty when sound, else the reason for a 400.
std::string CheckKovaViewBody(const nlohmann::json& body);
TKovaLiveAnswer KovaViewGet(TKovaWatchList* list);
TKovaLiveAnswer KovaViewPut(TKovaWatchList* list, const nlohmann::json& body);

// Text cut to at most maxBytes of whole UTF-8 characters, with "…" where it was cut.
std::string KovaCapText(const std::string& text, size_t maxBytes);

// Gives the notices of the finished loads: a desktop notification ("Outbid: TITLE", "Won: TITLE",
// "Ended: TITLE") whose "Open" action opens the item's page, and the page's "outbid" or "ended" event.
class TKovaNoticeDelivery {
public:
    using TPublish = std::function<void(const std::string& event, const std::string& data)>;
    explicit TKovaNoticeDelivery(TPublish publish);

    // Main thread; nothing without a list.
    void Deliver(TKovaWatchList* list);

private:
    void Give(const TKovaNotice& notice);

    TPublish FPublish;
    TPlatformNotifications FNotifications;
    bool FNoBusLogged = false;
};
