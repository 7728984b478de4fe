// Watch list and token answers reach their parsers as untrusted bytes: neither may raise or crash, and a
// failed parse must leave a failure code stored.
#include "ebayapi/UnitXMLParser.h"
#include "items/UnitResultLst.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);

    TXMLMyEbayWatchListParser watchList;
    TDetailsList items;
    TMemoryStream page(bytes);
    const bool parsed = watchList.ParseWatchList(&page, items, true);
    if (!parsed && TXMLParserResult::IsSuccess(watchList.GetResultCode())) std::abort();
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
