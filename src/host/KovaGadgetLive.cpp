#include "host/KovaGadgetLive.h"

#include "base/UnitUtils.h"
#include "host/KovaGadgetServerCalls.h"
#include "platform/UnitPlatformMainThread.h"
#include "platform/UnitPlatformShell.h"
#include "support/UnitLogging.h"
#include "watchlist/UnitKovaWatchList.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>

namespace {

using json = nlohmann::json;

// A typed filter is a few words; this keeps a runaway paste from being matched against every title.
constexpr size_t MaxFilterBytes = 1000;
// Desktop notifications show a line or two: a listing title may be 80 characters, or far more in tests.
constexpr size_t MaxSummaryBytes = 120;
constexpr size_t MaxBodyBytes = 240;

json ViewJson(const TKovaWatchList::TView& view) {
    return {{"sort", KovaSortOrderWord(view.Sort)}, {"filter", view.Filter}};
}

json ItemJson(const TKovaWatchList::TItemState& state) {
    json changed = json::array();
    if (state.PriceChanged) changed.push_back("price");
    if (state.BidsChanged) changed.push_back("bids");
    return {{"itemId", state.ItemId},
            {"title", state.Title},
            {"endTime", KovaIsoUTCMs(state.EndTime)},
            {"remindTime", KovaIsoUTCMs(state.RemindTime)},
            {"reminded", state.Reminded},
            {"highBidder", state.HighBidder},
            {"ended", state.Ended},
            {"price", state.Price},
            {"bids", state.Bids},
            {"changed", changed},
            {"pricePrevious", state.PriceChanged ? json(state.PricePrevious) : json(nullptr)}};
}

} // namespace

json KovaIsoUTCMs(TDateTime value) {
    if (value <= 0) return nullptr;
    const long long ms = std::llround((value - 25569.0) * 86400000.0);
    const std::time_t seconds = static_cast<std::time_t>(ms >= 0 ? ms / 1000 : (ms - 999) / 1000);
    std::tm parts{};
    if (!gmtime_r(&seconds, &parts)) return nullptr;
    char text[40];
    const size_t length = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &parts);
    std::snprintf(text + length, sizeof text - length, ".%03dZ", static_cast<int>(ms - seconds * 1000LL));
    return text;
}

TKovaLiveAnswer KovaItemsGet(TKovaWatchList* list, TDateTime nowUTC) {
    json items = json::array();
    if (list)
        for (const TKovaWatchList::TItemState& state : list->ItemStates(nowUTC))
            items.push_back(ItemJson(state));
    return {200, {{"now", KovaIsoUTCMs(nowUTC)}, {"items", std::move(items)}}};
}

std::string CheckKovaViewBody(const json& body) {
    if (!body.is_object()) return "the body must be a JSON object";
    for (const auto& [key, value] : body.items())
        if (key != "sort" && key != "filter")
            return "unknown key \"" + key + "\": give \"sort\" and/or \"filter\"";
    if (body.contains("sort")) {
        if (!body["sort"].is_string()) return "\"sort\" must be one of " + KovaSortOrderWords();
        const std::string word = body["sort"].get<std::string>();
        if (!KovaSortOrderFromWord(word))
            return "unknown sort order \"" + KovaCapText(word, 40) + "\": use one of " + KovaSortOrderWords();
    }
    if (body.contains("filter")) {
        if (!body["filter"].is_string()) return "\"filter\" must be a text";
        if (body["filter"].get<std::string>().size() > MaxFilterBytes)
            return "\"filter\" is longer than " + std::to_string(MaxFilterBytes) + " bytes";
    }
    return "";
}

TKovaLiveAnswer KovaViewGet(TKovaWatchList* list) {
    if (list) return {200, ViewJson(list->View())};
    return {200, ViewJson(TKovaWatchList::TView{})};
}

TKovaLiveAnswer KovaViewPut(TKovaWatchList* list, const json& body) {
    if (!list) return {409, {{"error", "the control is not initialised; call Init first"}}};
    std::optional<TKovaSortOrder> sort;
    std::optional<std::string> filter;
    if (body.contains("sort")) sort = KovaSortOrderFromWord(body["sort"].get<std::string>());
    if (body.contains("filter")) filter = body["filter"].get<std::string>();
    try {
        list->SetView(sort, filter);
    } catch (const std::exception& e) {
        return {500, {{"error", e.what()}}};
    }
    return {200, ViewJson(list->View())};
}

std::string KovaCapText(const std::string& text, size_t maxBytes) {
    if (text.size() <= maxBytes) return text;
    const std::string ellipsis = "\u2026";
    size_t end = 0;
    while (end < text.size()) {
        const size_t length = std::max<size_t>(1, Utf8SequenceLength(text, end));
        if (end + length + ellipsis.size() > maxBytes) break;
        end += length;
    }
    return text.substr(0, end) + ellipsis;
}

TKovaNoticeDelivery::TKovaNoticeDelivery(TPublish publish) : FPublish(std::move(publish)) {
}

void TKovaNoticeDelivery::Deliver(TKovaWatchList* list) {
    if (!list) return;
    try {
        for (const TKovaNotice& notice : list->TakeNotices())
            Give(notice);
    } catch (const std::exception& e) {
        LogException(e, "TKovaNoticeDelivery.Deliver");
    }
}

void TKovaNoticeDelivery::Give(const TKovaNotice& notice) {
    const bool outbid = notice.Kind == TKovaNotice::TKind::Outbid;
    const char* heading = outbid ? "Outbid: " : notice.Won.value_or(false) ? "Won: " : "Ended: ";
    TPlatformNotification note;
    note.AppName = "KovaGadget";
    note.AppIcon = "kova-gadget";
    note.Summary = KovaCapText(heading + notice.Title, MaxSummaryBytes);
    note.Body =
        KovaCapText(outbid ? notice.Price + " \u2013 " + notice.TimeLeft : notice.Price, MaxBodyBytes);
    if (!notice.Url.empty()) note.Actions = {{"default", "Open"}};
    const auto open = [url = notice.Url](const std::string& action) {
        if (action == "default" && !url.empty()) MainThreadQueue().Post([url] { ShellOpen(url); });
    };
    std::string error;
    const bool notified = FNotifications.Notify(note, open, error);
    if (!notified && !FNoBusLogged) {
        Log("Outbid and ended notices show in the page only: " + error, lmkWarning);
        FNoBusLogged = true;
    }
    json data = {
        {"itemId", notice.ItemId}, {"title", notice.Title}, {"price", notice.Price}, {"url", notice.Url}};
    if (outbid)
        data["timeLeft"] = notice.TimeLeft;
    else
        data["won"] = notice.Won ? json(*notice.Won) : json(nullptr);
    data["notified"] = notified;
    FPublish(outbid ? "outbid" : "ended", DumpKovaJson(data));
}
