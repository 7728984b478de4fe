#pragma once
// The fixed tables between eBay's site and currency codes, the numeric ids the items keep, and the names and
// symbols shown for them. They live below the API parsers so that the item model can reach them too.

#include <string>
#include <string_view>

// Site id and currency id taken when a code is not in the tables.
constexpr int DefaultSiteID = 77;
constexpr int DefaultCurrencyID = 7;

// Turns the Trading API's code texts into the numeric ids of the older interface. Class functions only.
class TLegacyAPIToNewAPIValueConverter {
public:
    TLegacyAPIToNewAPIValueConverter() = delete;

    // Exact, case-sensitive; any other text, the empty one included, gives DefaultSiteID.
    static int SiteCodeToSiteID(std::string_view siteCode);
    // Exact, case-sensitive; any other text, the empty one included, gives DefaultCurrencyID.
    static int CurrencyCodeToCurrencyID(std::string_view currencyCode);
};

// The market place name of a site id; "eBay" for an id without a name of its own.
std::string SiteIDToName(int siteID);
// The symbol shown after prices of a currency id; the euro sign for an id without a symbol of its own.
std::string CurrencySymbol(int currencyID);
