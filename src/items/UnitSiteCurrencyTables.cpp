#include "items/UnitSiteCurrencyTables.h"

#include <string_view>

namespace {

// Views, so that a look-up compares lengths first instead of measuring every code it passes.
struct TCodeToID {
    std::string_view Code;
    int ID;
};

struct TIDToText {
    int ID;
    const char* Text;
};

// "Philippines" is how the Trading API spells the site; the older spelling stays for stored answers.
constexpr TCodeToID SiteCodes[] = {
    {"Germany", 77},       {"US", 0},           {"Canada", 2},
    {"CanadaFrench", 210}, {"UK", 3},           {"GB", 3},
    {"Australia", 15},     {"Austria", 16},     {"Belgium_French", 23},
    {"France", 71},        {"Italy", 101},      {"Belgium_Dutch", 123},
    {"Netherlands", 146},  {"Spain", 186},      {"Switzerland", 193},
    {"Taiwan", 196},       {"eBayMotors", 100}, {"HongKong", 201},
    {"Singapore", 216},    {"India", 203},      {"China", 223},
    {"Ireland", 205},      {"Malaysia", 207},   {"Phillippines", 211},
    {"Philippines", 211},  {"Poland", 212},     {"Sweden", 218},
};

constexpr TIDToText SiteNames[] = {
    {0, "eBay (US)"},     {2, "eBay (CA)"},     {3, "eBay (UK)"},   {15, "eBay (AU)"},    {16, "eBay (AT)"},
    {23, "eBay (BEFR)"},  {71, "eBay (FR)"},    {77, "eBay (DE)"},  {100, "eBay Motors"}, {101, "eBay (IT)"},
    {123, "eBay (BENL)"}, {146, "eBay (NL)"},   {186, "eBay (ES)"}, {193, "eBay (CH)"},   {196, "eBay (TW)"},
    {201, "eBay (HK)"},   {210, "eBay (CAFR)"}, {203, "eBay (IN)"}, {205, "eBay (IE)"},   {207, "eBay (MY)"},
    {211, "eBay (PH)"},   {212, "eBay (PL)"},   {216, "eBay (SG)"}, {218, "eBay (SE)"},   {223, "eBay (CN)"},
};
const char* const SiteNameOther = "eBay";

// The short codes of the older interface come first; the ISO codes after them are what current answers carry.
constexpr TCodeToID CurrencyCodes[] = {
    {"USD", 1},  {"CAD", 2},  {"GBP", 3},  {"AUD", 5},  {"EUR", 7},  {"CHF", 13}, {"RMB", 14},
    {"HK", 22},  {"PHP", 34}, {"ZL", 35},  {"KR", 38},  {"SGD", 39}, {"TW", 41},  {"HKD", 22},
    {"PLN", 35}, {"SEK", 38}, {"TWD", 41}, {"CNY", 14}, {"INR", 44}, {"MYR", 46},
};

// User-interface texts: the symbol printed after a price.
constexpr TIDToText CurrencySymbols[] = {
    {1, "$"},    {2, "C $"}, {3, "£"},   {5, "AU $"}, {7, "€"},     {13, "CHF"}, {14, "RMB"}, {22, "HK $"},
    {34, "PHP"}, {35, "ZL"}, {38, "KR"}, {39, "S$"},  {41, "NT $"}, {44, "INR"}, {46, "RM"},
};
const char* const CurrencySymbolOther = "€";

template <size_t N> int LookUpCode(const TCodeToID (&table)[N], std::string_view code, int def) {
    for (const TCodeToID& entry : table)
        if (code == entry.Code) return entry.ID;
    return def;
}

template <size_t N> const char* LookUpID(const TIDToText (&table)[N], int id, const char* def) {
    for (const TIDToText& entry : table)
        if (id == entry.ID) return entry.Text;
    return def;
}

} // namespace

int TLegacyAPIToNewAPIValueConverter::SiteCodeToSiteID(std::string_view siteCode) {
    return LookUpCode(SiteCodes, siteCode, DefaultSiteID);
}

int TLegacyAPIToNewAPIValueConverter::CurrencyCodeToCurrencyID(std::string_view currencyCode) {
    return LookUpCode(CurrencyCodes, currencyCode, DefaultCurrencyID);
}

std::string SiteIDToName(int siteID) {
    return LookUpID(SiteNames, siteID, SiteNameOther);
}

std::string CurrencySymbol(int currencyID) {
    return LookUpID(CurrencySymbols, currencyID, CurrencySymbolOther);
}
