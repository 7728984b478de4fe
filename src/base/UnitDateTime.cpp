#include "base/UnitDateTime.h"

#include "base/UnitExceptions.h"

#include <cmath>

namespace {

// Days since 1970-01-01 of a proleptic Gregorian date (H. Hinnant's algorithm).
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void CivilFromDays(int64_t z, int& year, int& month, int& day) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t y = static_cast<int64_t>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    year = static_cast<int>(y + (month <= 2));
}

// Whole days and milliseconds of the day; before 1899 the date counts down while the time counts up.
void SplitValue(TDateTime value, int64_t& days, int64_t& msOfDay) {
    double whole = std::trunc(value);
    msOfDay = std::llround(std::fabs(value - whole) * MSecsPerDay);
    days = static_cast<int64_t>(whole);
    if (msOfDay >= MSecsPerDayInt) {
        msOfDay -= MSecsPerDayInt;
        days += value < 0 ? -1 : 1;
    }
}

} // namespace

bool IsLeapYear(int year) {
    return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
}

int DaysInMonth(int year, int month) {
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12) return 0;
    return month == 2 && IsLeapYear(year) ? 29 : days[month - 1];
}

bool TryEncodeDate(int year, int month, int day, TDateTime& result) {
    if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month))
        return false;
    result = static_cast<double>(
        DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) + UnixDateDelta);
    return true;
}

bool TryEncodeTime(int hour, int min, int sec, int msec, TDateTime& result) {
    if (hour < 0 || hour > 23 || min < 0 || min > 59 || sec < 0 || sec > 59 || msec < 0 || msec > 999)
        return false;
    result = (hour * 3600000.0 + min * 60000.0 + sec * 1000.0 + msec) / MSecsPerDay;
    return true;
}

TDateTime EncodeDate(int year, int month, int day) {
    TDateTime r;
    if (!TryEncodeDate(year, month, day, r)) throw EConvertError("Invalid argument to date encode");
    return r;
}

TDateTime EncodeTime(int hour, int min, int sec, int msec) {
    TDateTime r;
    if (!TryEncodeTime(hour, min, sec, msec, r)) throw EConvertError("Invalid argument to time encode");
    return r;
}

bool TryEncodeDateTime(int year, int month, int day, int hour, int min, int sec, int msec,
                       TDateTime& result) {
    TDateTime date, time;
    if (!TryEncodeDate(year, month, day, date) || !TryEncodeTime(hour, min, sec, msec, time)) return false;
    result = date < 0 ? date - time : date + time;
    return true;
}

TDateTime EncodeDateTime(int year, int month, int day, int hour, int min, int sec, int msec) {
    TDateTime r;
    if (!TryEncodeDateTime(year, month, day, hour, min, sec, msec, r))
        throw EConvertError("Invalid argument to date encode");
    return r;
}

void DecodeDateTime(TDateTime value, int& year, int& month, int& day, int& hour, int& min, int& sec,
                    int& msec) {
    int64_t days, ms;
    SplitValue(value, days, ms);
    CivilFromDays(days - UnixDateDelta, year, month, day);
    hour = static_cast<int>(ms / 3600000);
    min = static_cast<int>(ms / 60000 % 60);
    sec = static_cast<int>(ms / 1000 % 60);
    msec = static_cast<int>(ms % 1000);
}

void DecodeDate(TDateTime value, int& year, int& month, int& day) {
    int h, n, s, z;
    DecodeDateTime(value, year, month, day, h, n, s, z);
}

void DecodeTime(TDateTime value, int& hour, int& min, int& sec, int& msec) {
    int y, m, d;
    DecodeDateTime(value, y, m, d, hour, min, sec, msec);
}

int DayOfWeek(TDateTime value) {
    int64_t days, ms;
    SplitValue(value, days, ms);
    // 30.12.1899 was a Saturday.
    return static_cast<int>(((days + 6) % 7 + 7) % 7) + 1;
}

int64_t DateTimeToMSecs(TDateTime value) {
    int64_t days, ms;
    SplitValue(value, days, ms);
    return days < 0 || value < 0 ? days * MSecsPerDayInt - ms : days * MSecsPerDayInt + ms;
}

TDateTime MSecsToDateTime(int64_t msecs) {
    if (msecs >= 0)
        return static_cast<double>(msecs / MSecsPerDayInt) +
               static_cast<double>(msecs % MSecsPerDayInt) / MSecsPerDay;
    const int64_t a = -msecs;
    return -(static_cast<double>(a / MSecsPerDayInt) + static_cast<double>(a % MSecsPerDayInt) / MSecsPerDay);
}

TDateTime UnixToDateTime(int64_t seconds) {
    return MSecsToDateTime((seconds + int64_t{UnixDateDelta} * 86400) * 1000);
}
