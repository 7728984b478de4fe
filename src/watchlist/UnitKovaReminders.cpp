#include "watchlist/UnitKovaReminders.h"

#include "base/UnitUtils.h"
#include "items/UnitResultLst.h"
#include "storage/UnitKovaDat.h"

#include <unordered_map>

namespace {

// The lead of each RemindType in minutes, type 0 (off) first.
constexpr int RemindLeadMinutes[] = {0, 5, 15, 30, 60, 180, 1440};

bool KnownType(int remindType) {
    return remindType > 0 && remindType < static_cast<int>(std::size(RemindLeadMinutes));
}

bool HasEnded(const TSearchResultAuctionDetails& item, TDateTime nowUTC) {
    return !item.NeverEnding && item.EndTime != 0 && item.EndTime <= nowUTC;
}

} // namespace

std::string TrackedLink(const std::string& link) {
    const TKovaGadgetDat* dat = GadgetDat();
    return dat ? dat->Common().TRACKER + link : link;
}

TDateTime RemindTimeFor(TDateTime endTimeUTC, int remindType) {
    if (!KnownType(remindType) || endTimeUTC == 0) return 0;
    return endTimeUTC - RemindLeadMinutes[remindType] / 1440.0;
}

void CarryOverReminders(const TDetailsList& previous, TDetailsList& loaded, int defaultType) {
    std::unordered_map<std::string, const TSearchResultAuctionDetails*> byId;
    for (int i = 0; i < previous.Count(); ++i) {
        const TSearchResultAuctionDetails& item = previous.GetAuction(i);
        byId.emplace(item.ArticleNumber, &item);
    }
    for (int i = 0; i < loaded.Count(); ++i) {
        TSearchResultAuctionDetails& item = loaded.GetAuction(i);
        const auto found = byId.find(item.ArticleNumber);
        if (found == byId.end()) {
            // Only an item the list did not have yet takes the default: one whose reminder the user switched
            // off keeps it off.
            item.RemindType = KnownType(defaultType) ? static_cast<TRemindType>(defaultType) : 0;
            item.Reminded = false;
        } else {
            item.RemindType = found->second->RemindType;
            item.Reminded = found->second->Reminded;
        }
        item.RemindTime = RemindTimeFor(item.EndTime, item.RemindType);
    }
}

std::vector<TReminderState> ListReminders(const TDetailsList& list) {
    std::vector<TReminderState> reminders;
    for (int i = 0; i < list.Count(); ++i) {
        const TSearchResultAuctionDetails& item = list.GetAuction(i);
        if (item.RemindType > 0)
            reminders.push_back({item.ArticleNumber, item.RemindType, item.RemindTime, item.Reminded});
    }
    return reminders;
}

std::vector<TDueReminder> TakeDueReminders(TDetailsList& list, TDateTime nowUTC) {
    std::vector<TDueReminder> due;
    for (int i = 0; i < list.Count(); ++i) {
        TSearchResultAuctionDetails& item = list.GetAuction(i);
        if (item.RemindType == 0 || item.Reminded || item.RemindTime == 0 || item.RemindTime > nowUTC)
            continue;
        item.Reminded = true;
        const std::string url = TrackedLink(item.Link);
        due.push_back({item.ArticleNumber, item.Description,
                       item.BuyNow ? item.GetBuyNowPriceText() : item.GetPriceText(),
                       item.GetRemainingTimeText(true), IsWebAddress(url) ? url : std::string(),
                       HasEnded(item, nowUTC)});
    }
    return due;
}

TDateTime NextRemindTime(const TDetailsList& list) {
    TDateTime next = 0;
    for (int i = 0; i < list.Count(); ++i) {
        const TSearchResultAuctionDetails& item = list.GetAuction(i);
        if (item.RemindType == 0 || item.Reminded || item.RemindTime == 0) continue;
        if (next == 0 || item.RemindTime < next) next = item.RemindTime;
    }
    return next;
}
