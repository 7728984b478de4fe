#include "items/UnitSiteCurrencyTables.h"

#include <gtest/gtest.h>

using Conv = TLegacyAPIToNewAPIValueConverter;

TEST(SiteCurrencyTables, SiteCodes) {
    const std::pair<const char*, const char*> sites[] = {
        {"Philippines", "eBay (PH)"},
        {"Phillippines", "eBay (PH)"},
        {"UK", "eBay (UK)"},
        {"GB", "eBay (UK)"},
        {"US", "eBay (US)"},
        {"Canada", "eBay (CA)"},
        {"CanadaFrench", "eBay (CAFR)"},
        {"eBayMotors", "eBay Motors"},
        {"Belgium_Dutch", "eBay (BENL)"},
        {"Sweden", "eBay (SE)"},
        {"Germany", "eBay (DE)"},
    };
    for (const auto& [code, name] : sites)
        EXPECT_EQ(SiteIDToName(Conv::SiteCodeToSiteID(code)), name) << code;
    EXPECT_EQ(Conv::SiteCodeToSiteID("Philippines"), 211);
    EXPECT_EQ(Conv::SiteCodeToSiteID("US"), 0);
    EXPECT_EQ(Conv::SiteCodeToSiteID("CanadaFrench"), 210);
    for (const char* code :
         {"", "germany", "philippines", "Philipines", " US", "US ", "canadafrench", "Canada_French"})
        EXPECT_EQ(Conv::SiteCodeToSiteID(code), 77) << '"' << code << '"';
    for (int id : {1, -1, 78, 209, 1000})
        EXPECT_EQ(SiteIDToName(id), "eBay") << id;
}

TEST(SiteCurrencyTables, CurrencyCodes) {
    // The ISO codes of current answers beside the older short codes they stand for.
    const std::pair<const char*, const char*> same[] = {
        {"HKD", "HK"}, {"PLN", "ZL"}, {"SEK", "KR"}, {"TWD", "TW"}, {"CNY", "RMB"}};
    for (const auto& [iso, old] : same)
        EXPECT_EQ(Conv::CurrencyCodeToCurrencyID(iso), Conv::CurrencyCodeToCurrencyID(old)) << iso;
    const std::pair<const char*, const char*> symbols[] = {
        {"USD", "$"},   {"CAD", "C $"}, {"GBP", "£"},   {"AUD", "AU $"}, {"EUR", "€"},
        {"CHF", "CHF"}, {"RMB", "RMB"}, {"HK", "HK $"}, {"PHP", "PHP"},  {"ZL", "ZL"},
        {"KR", "KR"},   {"SGD", "S$"},  {"TW", "NT $"}, {"INR", "INR"},  {"MYR", "RM"},
    };
    for (const auto& [code, symbol] : symbols)
        EXPECT_EQ(CurrencySymbol(Conv::CurrencyCodeToCurrencyID(code)), symbol) << code;
    EXPECT_EQ(Conv::CurrencyCodeToCurrencyID("TW"), 41);
    EXPECT_EQ(Conv::CurrencyCodeToCurrencyID("INR"), 44);
    for (const char* code : {"", "usd", "EUR ", "JPY"})
        EXPECT_EQ(Conv::CurrencyCodeToCurrencyID(code), 7) << '"' << code << '"';
    for (int id : {0, 4, 45, -7})
        EXPECT_EQ(CurrencySymbol(id), "€") << id;
}
