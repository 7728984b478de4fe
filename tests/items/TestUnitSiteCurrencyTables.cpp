#include "items/UnitSiteCurrencyTables.h"

#include <gtest/gtest.h>

using Conv = TLegacyAPIToNewAPIValueConverter;

TEST(SiteCurrencyTables, SiteCodesGiveTheirIdAndName) {
    const struct {
        const char* Code;
        int ID;
        const char* Name;
    } sites[] = {
        {"Germany", 77, "eBay (DE)"},
        {"US", 0, "eBay (US)"},
        {"Canada", 2, "eBay (CA)"},
        {"UK", 3, "eBay (UK)"},
        {"GB", 3, "eBay (UK)"},
        {"Australia", 15, "eBay (AU)"},
        {"Austria", 16, "eBay (AT)"},
        {"Belgium_French", 23, "eBay (BEFR)"},
        {"France", 71, "eBay (FR)"},
        {"Italy", 101, "eBay (IT)"},
        {"Belgium_Dutch", 123, "eBay (BENL)"},
        {"Netherlands", 146, "eBay (NL)"},
        {"Spain", 186, "eBay (ES)"},
        {"Switzerland", 193, "eBay (CH)"},
        {"Taiwan", 196, "eBay (TW)"},
        {"eBayMotors", 100, "eBay Motors"},
        {"HongKong", 201, "eBay (HK)"},
        {"Singapore", 216, "eBay (SG)"},
        {"India", 203, "eBay (IN)"},
        {"China", 223, "eBay (CN)"},
        {"Ireland", 205, "eBay (IE)"},
        {"Malaysia", 207, "eBay (MY)"},
        {"Phillippines", 211, "eBay (PH)"},
        {"Philippines", 211, "eBay (PH)"},
        {"Poland", 212, "eBay (PL)"},
        {"Sweden", 218, "eBay (SE)"},
    };
    for (const auto& s : sites) {
        EXPECT_EQ(Conv::SiteCodeToSiteID(s.Code), s.ID) << s.Code;
        EXPECT_EQ(SiteIDToName(s.ID), s.Name) << s.Code;
    }
}

TEST(SiteCurrencyTables, UnknownSitesFallBack) {
    for (const char* code : {"", "germany", "GERMANY", "Philipines", "philippines", " US", "US ", "Canada\n"})
        EXPECT_EQ(Conv::SiteCodeToSiteID(code), 77) << '"' << code << '"';
    for (int id : {1, -1, 4, 78, 210, 224, 1000})
        EXPECT_EQ(SiteIDToName(id), "eBay") << id;
}

TEST(SiteCurrencyTables, CurrencyCodesGiveTheirIdAndSymbol) {
    const struct {
        const char* Code;
        int ID;
        const char* Symbol;
    } currencies[] = {
        {"USD", 1, "$"},    {"CAD", 2, "C $"},   {"GBP", 3, "£"},    {"AUD", 5, "AU $"},  {"EUR", 7, "€"},
        {"CHF", 13, "CHF"}, {"RMB", 14, "RMB"},  {"HK", 22, "HK $"}, {"PHP", 34, "PHP"},  {"ZL", 35, "ZL"},
        {"KR", 38, "KR"},   {"SGD", 39, "S$"},   {"TW", 41, "NT $"}, {"HKD", 22, "HK $"}, {"PLN", 35, "ZL"},
        {"SEK", 38, "KR"},  {"TWD", 41, "NT $"}, {"CNY", 14, "RMB"}, {"INR", 44, "INR"},  {"MYR", 46, "RM"},
    };
    for (const auto& c : currencies) {
        EXPECT_EQ(Conv::CurrencyCodeToCurrencyID(c.Code), c.ID) << c.Code;
        EXPECT_EQ(CurrencySymbol(c.ID), c.Symbol) << c.Code;
    }
}

TEST(SiteCurrencyTables, UnknownCurrenciesShowTheEuro) {
    for (const char* code : {"", "usd", "EUR ", "JPY", "XXX"})
        EXPECT_EQ(Conv::CurrencyCodeToCurrencyID(code), 7) << '"' << code << '"';
    for (int id : {0, 4, 6, 8, 45, 47, -7, 255})
        EXPECT_EQ(CurrencySymbol(id), "€") << id;
}
