#pragma once
// A small SNTP client (RFC 4330) over UDP.

#include "base/UnitDateTime.h"

#include <cstdint>
#include <string>

constexpr uint16_t SntpDefaultPort = 123;

// Asks the server for the time. server is an IPv4 address or host name, optionally followed by ":port".
// Returns the server's time now as UTC, corrected by half the round trip, or 0 when no usable answer
// arrived within timeoutMs (kiss-of-death, unsynchronised server, an answer to another request, a
// truncated packet). Never raises.
TDateTime SntpQueryUTC(const std::string& server, uint32_t timeoutMs);

// The NTP timestamp (seconds since 1900 in the high 32 bits, fraction in the low ones) as a date-time,
// in the era that RFC 4330 assigns by the high bit, and back.
TDateTime NtpTimestampToDateTime(uint64_t timestamp);
uint64_t DateTimeToNtpTimestamp(TDateTime value);
