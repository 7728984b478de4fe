#include "time/UnitIsoTime.h"

namespace {

class TIsoScanner {
public:
    explicit TIsoScanner(std::string_view text) : FText(text) {}

    bool AtEnd() const { return FPos >= FText.size(); }
    bool Accept(char c) {
        if (AtEnd() || FText[FPos] != c) return false;
        ++FPos;
        return true;
    }
    bool AcceptDigit() {
        if (AtEnd() || FText[FPos] < '0' || FText[FPos] > '9') return false;
        ++FPos;
        return true;
    }
    // Exactly count digits.
    bool Digits(int count, int& value) {
        value = 0;
        for (int k = 0; k < count; ++k) {
            if (AtEnd() || FText[FPos] < '0' || FText[FPos] > '9') return false;
            value = value * 10 + (FText[FPos++] - '0');
        }
        return true;
    }

private:
    std::string_view FText;
    size_t FPos = 0;
};

// "Z", or "+hh", "+hhmm", "+hh:mm" (or "-"), as minutes east of UTC.
bool ZoneOffset(TIsoScanner& scanner, int& minutesEast) {
    minutesEast = 0;
    if (scanner.Accept('Z')) return true;
    int sign;
    if (scanner.Accept('+'))
        sign = 1;
    else if (scanner.Accept('-'))
        sign = -1;
    else
        return false;
    int hours, minutes = 0;
    if (!scanner.Digits(2, hours)) return false;
    if (!scanner.AtEnd()) {
        scanner.Accept(':');
        if (!scanner.Digits(2, minutes)) return false;
    }
    if (hours > 23 || minutes > 59) return false;
    minutesEast = sign * (hours * 60 + minutes);
    return true;
}

} // namespace

bool TryReadIsoUTC(std::string_view text, TDateTime& utc) {
    TIsoScanner scanner(text);
    int year, month, day, hour, minute, second;
    if (!scanner.Digits(4, year) || !scanner.Accept('-') || !scanner.Digits(2, month) ||
        !scanner.Accept('-') || !scanner.Digits(2, day) || !scanner.Accept('T') || !scanner.Digits(2, hour) ||
        !scanner.Accept(':') || !scanner.Digits(2, minute) || !scanner.Accept(':') ||
        !scanner.Digits(2, second))
        return false;
    if (scanner.Accept('.') || scanner.Accept(',')) {
        if (!scanner.AcceptDigit()) return false;
        while (scanner.AcceptDigit()) {
        }
    }
    int minutesEast;
    if (!ZoneOffset(scanner, minutesEast) || !scanner.AtEnd()) return false;
    TDateTime date, time;
    if (!TryEncodeDate(year, month, day, date) || !TryEncodeTime(hour, minute, second, 0, time)) return false;
    // Whole milliseconds keep the result free of the rounding a day fraction would add. They are counted
    // as DateTimeToMSecs counts those of the encoded local time, without the round trip through a double.
    const auto days = static_cast<int64_t>(date);
    const int64_t ms = ((hour * 60 + minute) * 60 + second) * int64_t{1000};
    const int64_t local = days < 0 ? days * MSecsPerDayInt - ms : days * MSecsPerDayInt + ms;
    utc = MSecsToDateTime(local - int64_t{minutesEast} * 60000);
    return true;
}
