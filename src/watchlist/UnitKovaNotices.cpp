#include "watchlist/UnitKovaNotices.h"

#include "base/UnitUtils.h"
#include "items/UnitResultLst.h"
#include "platform/UnitPlatformFiles.h"
#include "support/UnitLogging.h"
#include "watchlist/UnitKovaReminders.h"
#include "watchlist/UnitKovaWatchView.h"

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <unordered_map>

namespace {

constexpr const char* FileHeader = "# KovaGadget: notices given";
constexpr const char* LastLoadKey = "lastLoad ";

std::string OutbidKey(const TSearchResultAuctionDetails& item) {
    return "outbid " + item.ArticleNumber + " " + IntToStr(item.BidCount);
}

std::string EndedKey(const TSearchResultAuctionDetails& item) {
    return "ended " + item.ArticleNumber;
}

// The item id of a key: its second word.
std::string KeyItem(const std::string& key) {
    const size_t start = key.find(' ');
    if (start == std::string::npos) return "";
    const size_t end = key.find(' ', start + 1);
    return key.substr(start + 1, end == std::string::npos ? std::string::npos : end - start - 1);
}

TKovaNotice MakeNotice(TKovaNotice::TKind kind, const TSearchResultAuctionDetails& item) {
    const std::string url = TrackedLink(item.Link);
    return {kind,
            item.ArticleNumber,
            item.Description,
            KovaShownPrice(item),
            item.GetRemainingTimeText(true),
            IsWebAddress(url) ? url : std::string(),
            std::nullopt};
}

} // namespace

std::string KovaShownPrice(const TSearchResultAuctionDetails& item) {
    return item.BuyNow ? item.GetBuyNowPriceText() : item.GetPriceText();
}

void TKovaNoticeLog::Load(const std::string& path) {
    FPath = path;
    FGiven.clear();
    FLastLoadUTC = 0;
    try {
        if (!FileExists(path)) return;
        std::istringstream lines(ReadFileBytes(path));
        for (std::string line; std::getline(lines, line);) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (line.empty() || line[0] == '#') continue;
            if (line.rfind(LastLoadKey, 0) == 0) {
                char* end = nullptr;
                const std::string value = line.substr(std::char_traits<char>::length(LastLoadKey));
                const double time = std::strtod(value.c_str(), &end);
                if (end && *end == '\0' && time > 0) FLastLoadUTC = time;
            } else if (!KeyItem(line).empty()) {
                FGiven.insert(line);
            }
        }
    } catch (const std::exception& e) {
        LogException(e, "TKovaNoticeLog.Load");
    }
}

void TKovaNoticeLog::Save(const std::set<std::string>& listedItems) {
    if (FPath.empty()) return;
    for (auto it = FGiven.begin(); it != FGiven.end();)
        it = listedItems.count(KeyItem(*it)) ? std::next(it) : FGiven.erase(it);
    std::string text = std::string(FileHeader) + "\n";
    if (FLastLoadUTC > 0) {
        char number[40];
        std::snprintf(number, sizeof number, "%.9f", FLastLoadUTC);
        text += LastLoadKey + std::string(number) + "\n";
    }
    for (const std::string& key : FGiven)
        text += key + "\n";
    WriteFileAtomic(FPath, text, TFileAccess::OwnerOnly, TFileKeep::Durable);
}

TKovaLoadNews CompareLoads(const TDetailsList& previous, TDateTime previousLoadUTC,
                           const TDetailsList& loaded, TDateTime nowUTC,
                           const TKovaHighBidderTest& isHighBidder, bool markHighBidder,
                           TKovaNoticeLog& log) {
    std::unordered_map<std::string, const TSearchResultAuctionDetails*> before;
    before.reserve(static_cast<size_t>(previous.Count()));
    for (int i = 0; i < previous.Count(); ++i) {
        const TSearchResultAuctionDetails& item = previous.GetAuction(i);
        before.emplace(item.ArticleNumber, &item);
    }
    TKovaLoadNews news;
    for (int i = 0; i < loaded.Count(); ++i) {
        const TSearchResultAuctionDetails& item = loaded.GetAuction(i);
        const auto found = before.find(item.ArticleNumber);
        if (found == before.end()) continue;
        const TSearchResultAuctionDetails& was = *found->second;

        const std::string price = KovaShownPrice(item), pricePrevious = KovaShownPrice(was);
        if (price != pricePrevious || item.BidCount != was.BidCount) {
            TKovaItemChange& change = news.Changes[item.ArticleNumber];
            change.Price = price != pricePrevious;
            change.Bids = item.BidCount != was.BidCount;
            if (change.Price) change.PricePrevious = pricePrevious;
            change.SeenUTC = nowUTC;
        }

        const bool ended = KovaItemEnded(item, nowUTC);
        if (markHighBidder && !ended && isHighBidder(was) && !isHighBidder(item) &&
            !log.Given(OutbidKey(item))) {
            log.Add(OutbidKey(item));
            news.Notices.push_back(MakeNotice(TKovaNotice::TKind::Outbid, item));
        }
        const bool ranBefore = previousLoadUTC > 0 && !KovaItemEnded(was, previousLoadUTC);
        if (ended && ranBefore && !log.Given(EndedKey(item))) {
            log.Add(EndedKey(item));
            TKovaNotice notice = MakeNotice(TKovaNotice::TKind::Ended, item);
            if (markHighBidder) notice.Won = isHighBidder(item);
            news.Notices.push_back(std::move(notice));
        }
    }
    return news;
}
