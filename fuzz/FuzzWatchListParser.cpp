// Watch list and token answers reach their parsers as untrusted bytes: neither may raise or crash, and a
// failed parse must leave a failure code stored.
#include "ebayapi/UnitXMLParser.h"
#include "items/UnitResultLst.h"
#include "items/UnitSearchResult.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);

    TXMLMyEbayWatchListParser watchList, throughDocument;
    TDetailsList items, documentItems;
    TMemoryStream page(bytes), samePage(bytes);
    const bool parsed = watchList.ParseWatchList(&page, items, true);
    if (!parsed && TXMLParserResult::IsSuccess(watchList.GetResultCode())) std::abort();
    // A page read from its text must come out as through a loaded document (times aside: an unreadable one
    // reads as the current time).
    if (throughDocument.ParseWatchListFromDocument(&samePage, documentItems, true) != parsed ||
        throughDocument.GetResultCode() != watchList.GetResultCode() ||
        throughDocument.TotalNumberOfPages != watchList.TotalNumberOfPages ||
        documentItems.Count() != items.Count())
        std::abort();
    for (int i = 0; i < items.Count(); ++i) {
        const TSearchResultAuctionDetails &a = items.GetAuction(i), &b = documentItems.GetAuction(i);
        if (a.ArticleNumber != b.ArticleNumber || a.Description != b.Description || a.Link != b.Link ||
            a.SellerName != b.SellerName || a.HighBidder != b.HighBidder || a.GaleryLink != b.GaleryLink ||
            a.CurrencyID != b.CurrencyID || a.BidCount != b.BidCount || a.SideID != b.SideID ||
            a.Quantity != b.Quantity || a.PriceStandard != b.PriceStandard ||
            a.ShippingAmount != b.ShippingAmount || a.PriceBuyNow != b.PriceBuyNow)
            std::abort();
    }
    for (int i = 0; i < items.Count(); ++i)
        (void)items.GetAuction(i).GetCurrencySymbol();
    // The same parser again, as for the next page of one run.
    TMemoryStream again(bytes);
    (void)watchList.ParseWatchList(&again, items, false);

    TXMLeBayFetchTokenParser token;
    std::string value;
    TMemoryStream answer(bytes);
    (void)token.ParseToken(&answer, value);

    if (size < 64) (void)watchList.ConvertEbayDateTime(bytes);
    return 0;
}
