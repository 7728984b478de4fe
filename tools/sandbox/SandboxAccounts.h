#pragma once
// Demo accounts with generated watch lists: the same seed and name give the same items, with times placed
// relative to the sandbox's start.

#include "base/UnitDateTime.h"

#include <cstdint>
#include <string>
#include <vector>

struct TSandboxShippingOption {
    std::string Service;
    double Cost = 0;
};

// One watched listing, as the Trading API describes it.
struct TSandboxItem {
    std::string ItemID;
    std::string Title;
    std::string Site;        // site code text, as the Site element carries it
    std::string Currency;    // currency code, as the currencyID attribute carries it
    std::string ListingType; // "Chinese" for auctions, "FixedPriceItem" or "StoresFixedPrice" otherwise
    std::string ViewItemURL;
    std::string GalleryURL; // empty: no gallery picture; a path: one the sandbox serves itself
    std::string Seller;
    std::string HighBidder; // empty: nobody has bid
    double CurrentPrice = 0;
    double BuyItNowPrice = 0; // 0: no buy-it-now offer
    int BidCount = 0;
    int QuantityAvailable = 1;
    std::vector<TSandboxShippingOption> Shipping; // empty: no ShippingDetails at all
    TDateTime StartTime = 0, EndTime = 0;         // GMT
};

struct TSandboxAccount {
    std::string UserName;
    // eBay's immutable user id of the account: the identity API's userId, GetUser's EIASToken, and what
    // HighBidder carries in place of the name when the sandbox answers with ids.
    std::string UserID;
    std::vector<TSandboxItem> WatchList; // ordered by end time, as the watch list is shown on the site
};

constexpr int SandboxMaxWatchListItems = 400;

// The immutable id of the account with that name (letter case aside): the same on every run.
std::string SandboxUserID(const std::string& userName);

// Generates the watch list of count items for an account; start is the sandbox's start time (GMT).
TSandboxAccount GenerateSandboxAccount(const std::string& userName, int count, uint64_t seed,
                                       TDateTime start);
