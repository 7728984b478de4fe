#pragma once
// What a load tells beyond the list itself: the items whose price or bid count changed since the previous
// load, and the notices it gives once (the user was outbid, an auction ended), remembered in a file of the
// gadget folder so that a restart never gives one again.

#include "base/UnitDateTime.h"

#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

class TDetailsList;
class TSearchResultAuctionDetails;

// How long a change stays marked after the load that saw it.
constexpr double KovaChangeShownDays = 1.0 / 1440;

// An item's price or bid count that differs from the previous load's.
struct TKovaItemChange {
    bool Price = false;
    bool Bids = false;
    std::string PricePrevious; // the price text shown before; set when Price is
    TDateTime SeenUTC = 0;     // the exact time of the load that saw it
};

struct TKovaNotice {
    enum class TKind { Outbid, Ended };
    TKind Kind = TKind::Outbid;
    std::string ItemId;
    std::string Title;
    std::string Price;
    std::string TimeLeft;
    std::string Url;
    // Ended only: whether the user won; nullopt when high bidders are not to be marked.
    std::optional<bool> Won;
};

// The notices given so far and the time of the load the kept list came from, kept in a small line file
// that the gadget writes atomically and owner-only (it names the user's items).
class TKovaNoticeLog {
public:
    static constexpr const char* FileName = "KovaNotices.dat";

    // Reads the file; a missing or unreadable one is an empty log.
    void Load(const std::string& path);
    // Writes the log, keeping only the notices of the items still listed; raises when it cannot be written,
    // the previous file staying whole.
    void Save(const std::set<std::string>& listedItems);
    bool Given(const std::string& key) const { return FGiven.count(key) != 0; }
    void Add(const std::string& key) { FGiven.insert(key); }
    TDateTime LastLoadUTC() const { return FLastLoadUTC; }
    void SetLastLoadUTC(TDateTime value) { FLastLoadUTC = value; }

private:
    std::string FPath;
    TDateTime FLastLoadUTC = 0;
    std::set<std::string> FGiven;
};

struct TKovaLoadNews {
    std::map<std::string, TKovaItemChange> Changes;
    std::vector<TKovaNotice> Notices;
};

using TKovaHighBidderTest = std::function<bool(const TSearchResultAuctionDetails&)>;

// Compares a load with the list it replaces. Outbid: the user was the high bidder of an auction that runs
// still and no longer is (once per outbidding bid count); ended: an auction that ran at the previous load
// (previousLoadUTC, 0 when unknown: none) has ended (once per item). markHighBidder off gives no outbid
// notices and leaves Won unset. The notices given are added to the log.
TKovaLoadNews CompareLoads(const TDetailsList& previous, TDateTime previousLoadUTC,
                           const TDetailsList& loaded, TDateTime nowUTC,
                           const TKovaHighBidderTest& isHighBidder, bool markHighBidder, TKovaNoticeLog& log);

// The price text a row shows for the item.
std::string KovaShownPrice(const TSearchResultAuctionDetails& item);
