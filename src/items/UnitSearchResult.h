#pragma once
// One watched eBay listing: its fields as eBay and the local item file give them, a few derived values, and
// the texts the result page and the details file print.

#include "base/UnitDateTime.h"

#include <cstdint>
#include <string>
#include <vector>

// A string list, one entry per line (the same type the XML base fills).
using TStringLines = std::vector<std::string>;

// Kinds of reminder (0 to 6) and of Skype contact (0 to 3): the system only keeps them.
using TRemindType = uint8_t;
using TSkypeContactOption = uint8_t;
constexpr TRemindType MaxRemindType = 6;
constexpr TSkypeContactOption MaxSkypeContactOption = 3;

// Root of all search results; lists own them through this type.
class TSearchResult {
public:
    TSearchResult() = default;
    virtual ~TSearchResult() = default;
    TSearchResult(const TSearchResult&) = delete;
    TSearchResult& operator=(const TSearchResult&) = delete;
};

// The listing fields, its derived values and display texts. Every field starts zero, empty or false. Times
// are UTC; prices single precision.
class TCustomSearchResultAuction : public TSearchResult {
public:
    std::string ArticleNumber;
    int BidCount = 0;
    bool BuyNow = false;
    int Category = 0;
    int CurrencyID = 0;
    std::string Description;
    TDateTime EndTime = 0;
    std::string GaleryLink;
    bool HasGaleryPic = false;
    bool HasPic = false;
    std::string Link;
    float MinimumToBid = 0;
    std::string PictureFilename;
    float PriceBuyNow = 0;
    float PriceStandard = 0;
    int Quantity = 0;
    int SideID = 0;
    std::string MarketPlaceName;
    int MarketPlaceID = 0;
    bool NeverEnding = false;
    std::string FullKey;
    int FeedBack = 0;
    TDateTime StartTime = 0;
    float PositiveFeedB = 0;
    float ShippingAmount = 0;
    std::string ListingType;

    // The buy-now price for a buy-it-now offer without a standard price, otherwise the standard price.
    float GetCurrentPrice() const;
    // The standard price when there is one, otherwise the buy-now price; plus shipping.
    float GetTotalPrice() const;
    float GetPriceWithShipping() const;
    TDateTime GetEndTimeLocal() const;
    TDateTime GetStartTimeLocal() const;
    std::string GetCurrencySymbol() const;
    // "-" for an item without any price; otherwise "12,50 €" with the user's decimal separator.
    std::string GetPriceText() const;
    // The buy-it-now price whenever it is above 0; otherwise the standard price of a buy-it-now offer, and
    // "-" for any other item.
    std::string GetBuyNowPriceText() const;
    std::string GetShippingCostsText() const;
    // "-" for a never-ending item or one without an end time; otherwise the remaining time until the end.
    std::string GetRemainingTimeText(bool compact) const;
    std::string GetBidCountText() const;
};

class TSearchResultAuction : public TCustomSearchResultAuction {};

// The item every part of the system creates and stores: the listing plus seller, reminder and detail fields.
class TSearchResultAuctionDetails : public TSearchResultAuction {
public:
    std::string Location;
    TDateTime MemberSince = 0;
    int Priority = 1;
    std::string QuestionLink;
    std::string Region;
    bool Reminded = false;
    TDateTime RemindTime = 0;
    TRemindType RemindType = 0;
    std::string SellerName;
    float Stars = 0;
    TDateTime LastUpdate = 0;
    int64_t RelatedGroup = 0;
    std::string ShippingTo;
    std::string Freetext;
    std::string SkypeID;
    TSkypeContactOption SkypeContactOption = 0;
    std::string HighBidder;
    std::string DetailImageLink;
    TStringLines DetailGalleryLinks;
};

// A price as the result page shows it: two decimals, the user's decimal separator, no grouping.
std::string PriceValueText(float value);
