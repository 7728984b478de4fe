#include "platform/UnitPlatformTimeZone.h"

#include "base/UnitDateTime.h"
#include "platform/UnitPlatformClock.h"
#include "platform/UnitPlatformEnvironment.h"
#include "platform/UnitPlatformFiles.h"

#include <cmath>
#include <cstdint>
#include <optional>

namespace {

const char* const DefaultZoneDirectory = "/usr/share/zoneinfo";
const char* const DefaultLocalZoneFile = "/etc/localtime";
// Zone files of the tz database stay below 10 KB with a footer rule and below 100 KB without.
constexpr int64_t MaxZoneFileSize = 1 << 20;

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}
bool IsAlpha(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

class TRuleScanner {
public:
    explicit TRuleScanner(std::string_view text) : FText(text) {}

    bool AtEnd() const { return FPos >= FText.size(); }
    char Peek() const { return AtEnd() ? '\0' : FText[FPos]; }
    bool Accept(char c) {
        if (AtEnd() || FText[FPos] != c) return false;
        ++FPos;
        return true;
    }

    // "<-03>" (quoted, letters, digits and signs) or three or more letters.
    bool Name(std::string& name) {
        name.clear();
        if (Accept('<')) {
            while (!AtEnd() && (IsAlpha(Peek()) || IsDigit(Peek()) || Peek() == '+' || Peek() == '-'))
                name += FText[FPos++];
            return Accept('>') && name.size() >= 3;
        }
        while (!AtEnd() && IsAlpha(Peek()))
            name += FText[FPos++];
        return name.size() >= 3;
    }

    bool Number(int& value, int maxDigits) {
        int digits = 0;
        value = 0;
        while (!AtEnd() && IsDigit(Peek()) && digits < maxDigits) {
            value = value * 10 + (FText[FPos++] - '0');
            ++digits;
        }
        return digits > 0 && !(digits == maxDigits && IsDigit(Peek()));
    }

    // [+|-]hh[:mm[:ss]] in seconds.
    bool Clock(int& seconds, int maxHours) {
        int sign = 1;
        if (Accept('-'))
            sign = -1;
        else
            Accept('+');
        int h = 0, m = 0, s = 0;
        if (!Number(h, 3) || h > maxHours) return false;
        if (Accept(':')) {
            if (!Number(m, 2) || m > 59) return false;
            if (Accept(':') && (!Number(s, 2) || s > 59)) return false;
        }
        seconds = sign * (h * 3600 + m * 60 + s);
        return true;
    }

    bool StartsClock() const { return IsDigit(Peek()) || Peek() == '+' || Peek() == '-'; }

private:
    std::string_view FText;
    size_t FPos = 0;
};

// The yearly weekday rule that falls on month/day in the given year: exact in that year, within a week
// in others.
void WeekdayRuleFor(int year, int month, int day, TSystemTime& rule) {
    rule.wMonth = month;
    rule.wDayOfWeek = DayOfWeek(EncodeDate(year, month, day)) - 1;
    rule.wDay = day + 7 > DaysInMonth(year, month) ? 5 : (day - 1) / 7 + 1;
}

bool TransitionRule(TRuleScanner& scanner, int currentYear, TSystemTime& rule) {
    rule = TSystemTime{};
    int timeOfDay = 2 * 3600;
    if (scanner.Accept('M')) {
        int m, w, d;
        if (!scanner.Number(m, 2) || m < 1 || m > 12 || !scanner.Accept('.') || !scanner.Number(w, 1) ||
            w < 1 || w > 5 || !scanner.Accept('.') || !scanner.Number(d, 1) || d > 6)
            return false;
        rule.wMonth = m;
        rule.wDay = w;
        rule.wDayOfWeek = d;
    } else if (scanner.Accept('J')) {
        // Day 1 to 365, February 29 never counted: the same month and day in every year.
        static const int FirstDay[12] = {1, 32, 60, 91, 121, 152, 182, 213, 244, 274, 305, 335};
        int n;
        if (!scanner.Number(n, 3) || n < 1 || n > 365) return false;
        int month = 12;
        while (FirstDay[month - 1] > n)
            --month;
        WeekdayRuleFor(currentYear, month, n - FirstDay[month - 1] + 1, rule);
    } else if (IsDigit(scanner.Peek())) {
        // Day 0 to 365 counting February 29.
        int n;
        if (!scanner.Number(n, 3) || n > 365) return false;
        const int lastDay = IsLeapYear(currentYear) ? 365 : 364;
        int year, month, day;
        DecodeDate(EncodeDate(currentYear, 1, 1) + std::min(n, lastDay), year, month, day);
        WeekdayRuleFor(currentYear, month, day, rule);
    } else {
        return false;
    }
    if (scanner.Accept('/') && !scanner.Clock(timeOfDay, 167)) return false;
    rule.wHour = timeOfDay / 3600;
    rule.wMinute = timeOfDay / 60 % 60;
    rule.wSecond = timeOfDay % 60;
    return true;
}

// POSIX offsets count west of Greenwich, as the record's biases do; the record holds whole minutes.
int OffsetMinutes(int seconds) {
    return static_cast<int>(std::lround(seconds / 60.0));
}

TTimeZoneInformation UTCZone() {
    TTimeZoneInformation info;
    info.StandardName = "UTC";
    return info;
}

class TByteReader {
public:
    explicit TByteReader(std::string_view data) : FData(data) {}
    bool Has(uint64_t pos, uint64_t count) const {
        return pos <= FData.size() && count <= FData.size() - pos;
    }
    uint32_t U32(uint64_t pos) const {
        uint32_t v = 0;
        for (int k = 0; k < 4; ++k)
            v = v << 8 | static_cast<uint8_t>(FData[pos + k]);
        return v;
    }
    uint8_t U8(uint64_t pos) const { return static_cast<uint8_t>(FData[pos]); }
    std::string_view Sub(uint64_t pos, uint64_t count) const { return FData.substr(pos, count); }

private:
    std::string_view FData;
};

struct TTZifBlock {
    uint64_t Start = 0; // first byte after the header
    uint32_t IsUtCnt = 0, IsStdCnt = 0, LeapCnt = 0, TimeCnt = 0, TypeCnt = 0, CharCnt = 0;
    uint64_t Size(int timeSize) const {
        return uint64_t{TimeCnt} * timeSize + TimeCnt + uint64_t{TypeCnt} * 6 + CharCnt +
               uint64_t{LeapCnt} * (timeSize + 4) + IsStdCnt + IsUtCnt;
    }
};

bool ReadTZifHeader(const TByteReader& reader, uint64_t pos, TTZifBlock& block, char& version) {
    if (!reader.Has(pos, 44) || reader.Sub(pos, 4) != "TZif") return false;
    version = static_cast<char>(reader.U8(pos + 4));
    block.IsUtCnt = reader.U32(pos + 20);
    block.IsStdCnt = reader.U32(pos + 24);
    block.LeapCnt = reader.U32(pos + 28);
    block.TimeCnt = reader.U32(pos + 32);
    block.TypeCnt = reader.U32(pos + 36);
    block.CharCnt = reader.U32(pos + 40);
    block.Start = pos + 44;
    return block.TypeCnt > 0;
}

// The standard time of the last transition into one, as a fixed zone. Files without a rule list their
// transitions up to 2037, so the very last one may well start a daylight period.
bool LastStandardTimeType(const TByteReader& reader, const TTZifBlock& block, int timeSize,
                          TTimeZoneInformation& info) {
    const uint64_t indexes = block.Start + uint64_t{block.TimeCnt} * timeSize;
    const uint64_t types = indexes + block.TimeCnt;
    const uint64_t chars = types + uint64_t{block.TypeCnt} * 6;
    uint32_t type = 0;
    for (uint32_t k = block.TimeCnt; k > 0; --k) {
        const uint32_t candidate = reader.U8(indexes + k - 1);
        if (candidate < block.TypeCnt && reader.U8(types + uint64_t{candidate} * 6 + 4) == 0) {
            type = candidate;
            break;
        }
    }
    const int32_t utOffset = static_cast<int32_t>(reader.U32(types + uint64_t{type} * 6));
    const uint8_t nameIndex = reader.U8(types + uint64_t{type} * 6 + 5);
    info = TTimeZoneInformation{};
    info.Bias = -OffsetMinutes(utOffset);
    if (nameIndex < block.CharCnt) {
        const std::string_view names = reader.Sub(chars + nameIndex, block.CharCnt - nameIndex);
        info.StandardName = std::string(names.substr(0, names.find('\0')));
    }
    return true;
}

// The transition list of a data block; false when an entry names a local time type the block lacks.
bool ReadListedTransitions(const TByteReader& reader, const TTZifBlock& block, int timeSize,
                           TTimeZoneInformation& info) {
    const uint64_t indexes = block.Start + uint64_t{block.TimeCnt} * timeSize;
    const uint64_t types = indexes + block.TimeCnt;
    const auto offsetOf = [&](uint32_t type) {
        return static_cast<int32_t>(reader.U32(types + uint64_t{type} * 6));
    };
    const auto daylightOf = [&](uint32_t type) { return reader.U8(types + uint64_t{type} * 6 + 4) != 0; };
    info.Listed.clear();
    info.Listed.reserve(block.TimeCnt);
    for (uint32_t k = 0; k < block.TimeCnt; ++k) {
        const uint32_t type = reader.U8(indexes + k);
        if (type >= block.TypeCnt) return false;
        const uint64_t pos = block.Start + uint64_t{k} * timeSize;
        const int64_t at = timeSize == 8
                               ? static_cast<int64_t>(uint64_t{reader.U32(pos)} << 32 | reader.U32(pos + 4))
                               : int64_t{static_cast<int32_t>(reader.U32(pos))};
        // Times must ascend; a list that does not cannot be searched and is damaged.
        if (!info.Listed.empty() && at <= info.Listed.back().At) return false;
        info.Listed.push_back({at, offsetOf(type), daylightOf(type)});
    }
    // Before the first transition the first local time type applies.
    info.FirstUtOffset = offsetOf(0);
    info.FirstIsDaylight = daylightOf(0);
    return true;
}

std::string ZoneDirectory() {
    const auto dir = GetEnvironmentVariable("TZDIR");
    return dir && !dir->empty() ? *dir : DefaultZoneDirectory;
}

int CurrentYear() {
    int y, m, d;
    DecodeDate(NowUTC(), y, m, d);
    return y;
}

void ReadZoneFile(const std::string& path, TTimeZoneInformation& info, std::string& warning) {
    std::string data;
    // Only a regular file of plausible size: TZ may name a device or anything else.
    const int64_t size = PlatformFileSize(path);
    if (!FileExists(path) || size < 0 || size > MaxZoneFileSize || !TryReadFileBytes(path, data)) {
        warning = "Time zone file " + path + " cannot be read; using UTC";
        info = UTCZone();
        return;
    }
    std::string why;
    ZoneInformationFromTZif(data, CurrentYear(), info, why);
    if (!why.empty()) warning = "Time zone file " + path + ": " + why;
}

} // namespace

bool ParsePosixTimeZoneRule(std::string_view rule, int currentYear, TTimeZoneInformation& info) {
    TRuleScanner scanner(rule);
    TTimeZoneInformation result;
    int stdOffset;
    if (!scanner.Name(result.StandardName) || !scanner.Clock(stdOffset, 24)) return false;
    result.Bias = OffsetMinutes(stdOffset);
    if (scanner.AtEnd()) {
        info = result;
        return true;
    }
    int dstOffset = stdOffset - 3600;
    if (!scanner.Name(result.DaylightName)) return false;
    if (scanner.StartsClock() && !scanner.Clock(dstOffset, 24)) return false;
    result.DaylightBias = OffsetMinutes(dstOffset) - result.Bias;
    if (scanner.AtEnd()) {
        // No rule given: the C library's default, the rule of the United States.
        scanner = TRuleScanner(",M3.2.0,M11.1.0");
    }
    if (!scanner.Accept(',') || !TransitionRule(scanner, currentYear, result.DaylightDate) ||
        !scanner.Accept(',') || !TransitionRule(scanner, currentYear, result.StandardDate) ||
        !scanner.AtEnd())
        return false;
    info = result;
    return true;
}

bool ZoneInformationFromTZif(std::string_view data, int currentYear, TTimeZoneInformation& info,
                             std::string& warning) {
    const TByteReader reader(data);
    TTZifBlock block;
    char version;
    if (!ReadTZifHeader(reader, 0, block, version) || !reader.Has(block.Start, block.Size(4))) {
        warning = "no valid TZif data; using UTC";
        info = UTCZone();
        return false;
    }
    int timeSize = 4;
    std::optional<std::string_view> footer;
    if (version >= '2') {
        char version2;
        TTZifBlock block2;
        const uint64_t second = block.Start + block.Size(4);
        if (!ReadTZifHeader(reader, second, block2, version2) || !reader.Has(block2.Start, block2.Size(8))) {
            warning = "damaged TZif data; using UTC";
            info = UTCZone();
            return false;
        }
        block = block2;
        timeSize = 8;
        const uint64_t footerStart = block.Start + block.Size(8);
        const std::string_view rest = data.substr(footerStart);
        const size_t end = rest.size() > 1 && rest[0] == '\n' ? rest.find('\n', 1) : std::string_view::npos;
        if (end == std::string_view::npos) {
            warning = "TZif footer missing; using UTC";
            info = UTCZone();
            return false;
        }
        footer = rest.substr(1, end - 1);
    }
    TTimeZoneInformation listed;
    if (!ReadListedTransitions(reader, block, timeSize, listed)) {
        warning = "damaged TZif transitions; using UTC";
        info = UTCZone();
        return false;
    }
    const auto keepListed = [&listed](TTimeZoneInformation& zone) {
        zone.Listed = std::move(listed.Listed);
        zone.FirstUtOffset = listed.FirstUtOffset;
        zone.FirstIsDaylight = listed.FirstIsDaylight;
    };
    if (footer && !footer->empty()) {
        if (ParsePosixTimeZoneRule(*footer, currentYear, info)) {
            keepListed(info);
            return true;
        }
        warning = "TZif footer rule \"" + std::string(*footer) + "\" cannot be read; using UTC";
        info = UTCZone();
        return false;
    }
    if (!LastStandardTimeType(reader, block, timeSize, info)) {
        warning = "damaged TZif data; using UTC";
        info = UTCZone();
        return false;
    }
    keepListed(info);
    warning = "TZif data without a rule for future times; after its last listed transition using the last "
              "standard offset without daylight saving";
    return true;
}

TTimeZoneInformation GetTimeZoneInformation(std::string& warning) {
    warning.clear();
    TTimeZoneInformation info;
    const auto tz = GetEnvironmentVariable("TZ");
    if (!tz) {
        ReadZoneFile(DefaultLocalZoneFile, info, warning);
        return info;
    }
    std::string name = *tz;
    if (!name.empty() && name[0] == ':') name.erase(0, 1);
    // An empty TZ means UTC to the C library as well.
    if (name.empty()) return UTCZone();
    const std::string path = name[0] == '/' ? name : ZoneDirectory() + "/" + name;
    if (!FileExists(path) && ParsePosixTimeZoneRule(name, CurrentYear(), info)) return info;
    ReadZoneFile(path, info, warning);
    return info;
}

bool GetNamedTimeZoneInformation(std::string_view windowsName, TTimeZoneInformation& info,
                                 std::string& warning) {
    warning.clear();
    const std::string iana = WindowsZoneToIana(windowsName);
    if (iana.empty()) return false;
    ReadZoneFile(ZoneDirectory() + "/" + iana, info, warning);
    return true;
}
