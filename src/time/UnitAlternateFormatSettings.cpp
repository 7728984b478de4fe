#include "time/UnitAlternateFormatSettings.h"

#include "base/UnitUtils.h"
#include "time/UnitTimeUtils.h"

#include <cmath>

namespace {
const char* const SRemainingDays = "over %d day(s)";
const char* const SRemainingHours = "%d h %d min";
const char* const SRemainingMinutes = "%d m %d s";
const char* const SRemainingEnded = "Ended";
} // namespace

TAlternateFormatSettings::TAlternateFormatSettings(char decimalSeparator)
    : FFormatSettings(UserDefaultFormatSettings()) {
    FFormatSettings.ShortDateFormat = "dd.MM.yyyy";
    FFormatSettings.LongDateFormat = "dddd, d. MMMM yyyy";
    FFormatSettings.ShortTimeFormat = "hh:mm";
    FFormatSettings.LongTimeFormat = "hh:mm:ss";
    FFormatSettings.DateSeparator = '.';
    FFormatSettings.TimeSeparator = ':';
    if (decimalSeparator != ' ') SetDecimalSeparator(decimalSeparator);
}

void TAlternateFormatSettings::SetDecimalSeparator(char c) {
    if (c == FFormatSettings.DecimalSeparator) return;
    if (c == '.') {
        FFormatSettings.DecimalSeparator = '.';
        FFormatSettings.ThousandSeparator = ',';
    } else {
        FFormatSettings.DecimalSeparator = ',';
        FFormatSettings.ThousandSeparator = '.';
    }
}

double TAlternateFormatSettings::StrToFloatDef(std::string_view text, double def) const {
    double v;
    return TryStrToFloat(text, v, FFormatSettings) ? v : def;
}

TDateTime TAlternateFormatSettings::StrToDateTimeDef(std::string_view text, TDateTime def) const {
    TDateTime v;
    return TryStrToDateTime(text, v, FFormatSettings) ? v : def;
}

void SplitRemainingTime(TDateTime endTimeUTC, int& days, int& hours, int& minutes, int& seconds) {
    const double diff = endTimeUTC - ExactNowUTC();
    days = static_cast<int>(std::trunc(diff));
    const double rest = diff - days;
    hours = minutes = seconds = 0;
    if (rest > 0) {
        const long long ms = std::llround(rest * MSecsPerDay);
        hours = static_cast<int>(ms / 3600000);
        minutes = static_cast<int>(ms / 60000 % 60);
        seconds = static_cast<int>(ms / 1000 % 60);
    }
}

std::string RemainingTimeText(bool compact, TDateTime endTimeUTC) {
    try {
        int days, hours, minutes, seconds;
        SplitRemainingTime(endTimeUTC, days, hours, minutes, seconds);
        if (days > 0) return Format(SRemainingDays, {days});
        if (hours + minutes + seconds == 0) return SRemainingEnded;
        if (compact) {
            return hours != 0 ? Format(SRemainingHours, {hours, minutes})
                              : Format(SRemainingMinutes, {minutes, seconds});
        }
        const char sep = DefaultFormatSettings().TimeSeparator;
        return std::to_string(days * 24 + hours) + sep + PadNumber(minutes, 2, '0') + sep +
               PadNumber(seconds, 2, '0');
    } catch (...) {
        return SRemainingEnded;
    }
}

std::string PadNumber(long long number, int width, char fill) {
    std::string s = std::to_string(number);
    if (static_cast<int>(s.size()) < width) s.insert(0, static_cast<size_t>(width) - s.size(), fill);
    return s;
}
