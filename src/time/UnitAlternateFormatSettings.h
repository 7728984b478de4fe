#pragma once
// A private number and date format record, independent of the process-wide locale settings, and the
// remaining-time texts of auction end times.

#include "support/UnitFormatSettings.h"

#include <string>
#include <string_view>

class TAlternateFormatSettings {
public:
    // A blank keeps the locale's decimal separator.
    explicit TAlternateFormatSettings(char decimalSeparator = ' ');
    virtual ~TAlternateFormatSettings() = default;

    void GetFormatSettings(TFormatSettings& settings) const { settings = FFormatSettings; }
    const TFormatSettings& FormatSettings() const { return FFormatSettings; }
    double StrToFloatDef(std::string_view text, double def) const;
    TDateTime StrToDateTimeDef(std::string_view text, TDateTime def) const;

    // "." gives decimal "." and thousands ","; any other character decimal "," and thousands ".";
    // the current separator changes nothing.
    void SetDecimalSeparator(char c);
    void SetDateSeparator(char c) { FFormatSettings.DateSeparator = c; }
    void SetTimeSeparator(char c) { FFormatSettings.TimeSeparator = c; }
    void SetShortDateFormat(const std::string& f) { FFormatSettings.ShortDateFormat = f; }
    void SetShortTimeFormat(const std::string& f) { FFormatSettings.ShortTimeFormat = f; }
    void SetLongTimeFormat(const std::string& f) { FFormatSettings.LongTimeFormat = f; }

private:
    TFormatSettings FFormatSettings;
};

// The time from the exact time now to an end time, both in UTC: local clock readings jump by an hour at a
// clock change, so a difference of two of them is an hour off around it.
void SplitRemainingTime(TDateTime endTimeUTC, int& days, int& hours, int& minutes, int& seconds);
// "over %d day(s)", "%d h %d min", "%d m %d s", the clock form, or "Ended".
std::string RemainingTimeText(bool compact, TDateTime endTimeUTC);
std::string PadNumber(long long number, int width, char fill);
