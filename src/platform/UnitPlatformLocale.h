#pragma once
// The user's locale as the format settings need it: separators, date and time orders, month and day names.

#include <array>
#include <optional>
#include <string>

struct TPlatformLocale {
    char DecimalSeparator = '.';
    char ThousandSeparator = ',';
    char DateSeparator = '/';
    char TimeSeparator = ':';
    std::string ShortDateFormat = "MM/dd/yyyy";
    std::string LongTimeFormat = "hh:mm:ss";
    std::array<std::string, 12> ShortMonthNames;
    std::array<std::string, 12> LongMonthNames;
    std::array<std::string, 7> ShortDayNames; // Sunday first
    std::array<std::string, 7> LongDayNames;
};

// The locale that the environment names (LC_ALL, LC_NUMERIC, LC_TIME, LANG), or C when it names none that
// is installed.
TPlatformLocale UserDefaultLocale();

// Tests stand in for the user's locale; std::nullopt restores it.
void SetUserDefaultLocaleForTesting(std::optional<TPlatformLocale> locale);
