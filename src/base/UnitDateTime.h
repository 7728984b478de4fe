#pragma once
// The shared date-time type: days since 30.12.1899 as a double, the fraction being the time of day.

#include <cstdint>

using TDateTime = double;

constexpr double HoursPerDay = 24.0;
constexpr double MinsPerDay = 24.0 * 60.0;
constexpr double SecsPerDay = 24.0 * 60.0 * 60.0;
constexpr double MSecsPerDay = 24.0 * 60.0 * 60.0 * 1000.0;
constexpr int64_t MSecsPerDayInt = 86400000;
// Days from 30.12.1899 to 01.01.1970.
constexpr int UnixDateDelta = 25569;

bool IsLeapYear(int year);
int DaysInMonth(int year, int month);

bool TryEncodeDate(int year, int month, int day, TDateTime& result);
bool TryEncodeTime(int hour, int min, int sec, int msec, TDateTime& result);
TDateTime EncodeDate(int year, int month, int day);         // raises EConvertError when invalid
TDateTime EncodeTime(int hour, int min, int sec, int msec); // raises EConvertError when invalid
TDateTime EncodeDateTime(int year, int month, int day, int hour, int min, int sec, int msec);
bool TryEncodeDateTime(int year, int month, int day, int hour, int min, int sec, int msec, TDateTime& result);

// Splits a value into its calendar fields, the milliseconds rounded to nearest.
void DecodeDate(TDateTime value, int& year, int& month, int& day);
void DecodeTime(TDateTime value, int& hour, int& min, int& sec, int& msec);
void DecodeDateTime(TDateTime value, int& year, int& month, int& day, int& hour, int& min, int& sec,
                    int& msec);
// 1 = Sunday ... 7 = Saturday.
int DayOfWeek(TDateTime value);

// Whole milliseconds since 30.12.1899 00:00, rounded to nearest, and back.
int64_t DateTimeToMSecs(TDateTime value);
TDateTime MSecsToDateTime(int64_t msecs);

TDateTime UnixToDateTime(int64_t seconds);
