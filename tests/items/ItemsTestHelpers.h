#pragma once
// Helpers shared by the item tests: a locale switch and items with every field set.

#include "items/UnitSearchResult.h"
#include "platform/UnitPlatformLocale.h"
#include "support/UnitFormatSettings.h"

#include <memory>
#include <string>

// The user's locale with the given decimal separator while it lives.
struct TScopedDecimalSeparator {
    explicit TScopedDecimalSeparator(char decimal) {
        TPlatformLocale l;
        l.DecimalSeparator = decimal;
        l.ThousandSeparator = decimal == ',' ? '.' : ',';
        SetUserDefaultLocaleForTesting(l);
        ReloadDefaultFormatSettings();
    }
    ~TScopedDecimalSeparator() {
        SetUserDefaultLocaleForTesting(std::nullopt);
        ReloadDefaultFormatSettings();
    }
};

inline std::unique_ptr<TSearchResultAuctionDetails> MakeAuction(const std::string& articleNumber) {
    auto item = std::make_unique<TSearchResultAuctionDetails>();
    item->ArticleNumber = articleNumber;
    return item;
}

// An item whose every field differs from its default; seed varies the values between items.
inline std::unique_ptr<TSearchResultAuctionDetails> MakeFullAuction(int seed) {
    auto i = MakeAuction("1100" + std::to_string(seed));
    const std::string s = std::to_string(seed);
    i->BidCount = 3 + seed;
    i->BuyNow = seed % 2 == 0;
    i->Category = 1234 + seed;
    i->CurrencyID = 7;
    i->Description = "Grüner Teekessel <Édition> & \"Zubehör\" №" + s;
    i->EndTime = 46000.5 + seed + 0.123 / 86400;
    i->GaleryLink = "https://i.example.com/g" + s + ".jpg?w=140&h=140";
    i->HasGaleryPic = true;
    i->HasPic = true;
    i->Link = "https://www.example.com/itm/" + s + "?hash=item&var=" + s;
    i->MinimumToBid = 20.49f;
    i->PictureFilename = "pic" + s + ".jpg";
    i->PriceBuyNow = 49.95f + seed;
    i->PriceStandard = 19.99f + seed;
    i->Quantity = 2;
    i->SideID = 77;
    i->MarketPlaceName = "eBay (DE)";
    i->MarketPlaceID = 5;
    i->NeverEnding = true;
    i->FullKey = "key-" + s;
    i->FeedBack = 512;
    i->StartTime = 45990.25;
    i->PositiveFeedB = 99.7f;
    i->ShippingAmount = 4.9f;
    i->ListingType = "Chinese";
    i->Location = "Köln";
    i->MemberSince = 40000.75;
    i->Priority = 4;
    i->QuestionLink = "https://contact.example.com/ask?item=" + s;
    i->Region = "Nordrhein-Westfalen";
    i->Reminded = true;
    i->RemindTime = 46000.25 + 0.5 / 86400;
    i->RemindType = 6;
    i->SellerName = "händler_" + s;
    i->Stars = 4.5f;
    i->LastUpdate = 46001.125;
    i->RelatedGroup = 9007199254740993LL + seed;
    i->ShippingTo = "DE, AT & CH";
    i->Freetext = "Notiz: < 50 € bieten";
    i->SkypeID = "skype." + s;
    i->SkypeContactOption = 3;
    i->HighBidder = "b***r" + s;
    i->DetailImageLink = "https://i.example.com/big" + s + ".jpg";
    i->DetailGalleryLinks = {"https://i.example.com/1.jpg", "https://i.example.com/2.jpg"};
    return i;
}
