#pragma once
// The format-settings record (separators, date and time formats, names) and the conversions that use it.
// Nothing here reads the C library's locale state: the record says everything.

#include "base/UnitDateTime.h"

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

struct TFormatSettings {
    uint8_t CurrencyFormat = 0;
    uint8_t NegCurrFormat = 0;
    char ThousandSeparator = ',';
    char DecimalSeparator = '.';
    uint8_t CurrencyDecimals = 2;
    char DateSeparator = '/';
    char TimeSeparator = ':';
    char ListSeparator = ',';
    std::string CurrencyString = "$";
    std::string ShortDateFormat = "MM/dd/yyyy";
    std::string LongDateFormat = "dddd, MMMM d, yyyy";
    std::string TimeAMString = "AM";
    std::string TimePMString = "PM";
    std::string ShortTimeFormat = "hh:mm";
    std::string LongTimeFormat = "hh:mm:ss";
    std::array<std::string, 12> ShortMonthNames{"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    std::array<std::string, 12> LongMonthNames{"January",   "February", "March",    "April",
                                               "May",       "June",     "July",     "August",
                                               "September", "October",  "November", "December"};
    std::array<std::string, 7> ShortDayNames{"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    std::array<std::string, 7> LongDayNames{"Sunday",   "Monday", "Tuesday", "Wednesday",
                                            "Thursday", "Friday", "Saturday"};
    uint16_t TwoDigitYearCenturyWindow = 50;
};

// A record filled from the user's locale (the platform's locale seam).
TFormatSettings UserDefaultFormatSettings();
// The process-wide record, read from the user's locale at first use.
const TFormatSettings& DefaultFormatSettings();
// Tests reload the process-wide record after changing the locale seam.
void ReloadDefaultFormatSettings();

// Delphi-style date-time formatting: d dd ddd dddd ddddd dddddd m mm mmm mmmm yy yyyy h hh n nn s ss z zzz
// t tt c am/pm a/p ampm, "/" and ":" as the record's separators, quoted text literal. "m" after an hour
// means minutes.
std::string FormatDateTime(std::string_view format, TDateTime value, const TFormatSettings& settings);

// Number in general format with at most 15 significant digits ("0" for 0, "1E20", "1,5E-5").
std::string FloatToStr(double value, const TFormatSettings& settings);
// Optional blanks, sign, digits, the record's decimal separator, digits, optional exponent, blanks.
bool TryStrToFloat(std::string_view text, double& value, const TFormatSettings& settings);
// A date in the order of the short date format with the date separator, optionally followed by a time of
// hours, minutes, optional seconds and optional milliseconds with the time separator, and AM/PM. Either part
// alone is accepted.
bool TryStrToDateTime(std::string_view text, TDateTime& value, const TFormatSettings& settings);
