#include "platform/UnitPlatformFiles.h"
#include "platform/UnitPlatformTimeZone.h"
#include "support/KovaTestSupport.h"
#include "support/TimeTestSupport.h"

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <gtest/gtest.h>
#include <optional>

namespace {

const std::string ZoneDir = "/usr/share/zoneinfo";

TSystemTime Rule(int month, int day, int dayOfWeek, int hour, int minute = 0, int second = 0) {
    TSystemTime r;
    r.wMonth = month;
    r.wDay = day;
    r.wDayOfWeek = dayOfWeek;
    r.wHour = hour;
    r.wMinute = minute;
    r.wSecond = second;
    return r;
}

TTimeZoneInformation Parsed(const std::string& rule, int year = 2026) {
    TTimeZoneInformation info;
    EXPECT_TRUE(ParsePosixTimeZoneRule(rule, year, info)) << rule;
    return info;
}

} // namespace

TEST(PlatformTimeZone, PosixRulesBecomeWeekdayRules) {
    const TTimeZoneInformation cet = Parsed("CET-1CEST,M3.5.0,M10.5.0/3");
    EXPECT_EQ(-60, cet.Bias);
    EXPECT_EQ(0, cet.StandardBias);
    EXPECT_EQ(-60, cet.DaylightBias);
    EXPECT_EQ("CET", cet.StandardName);
    EXPECT_EQ("CEST", cet.DaylightName);
    EXPECT_EQ(Rule(3, 5, 0, 2), cet.DaylightDate);
    EXPECT_EQ(Rule(10, 5, 0, 3), cet.StandardDate);

    const TTimeZoneInformation india = Parsed("IST-5:30");
    EXPECT_EQ(-330, india.Bias);
    EXPECT_EQ(0, india.DaylightDate.wMonth);
    EXPECT_EQ(0, india.StandardDate.wMonth);

    // Daylight saving below standard time, and a daylight name without its own offset or rule.
    EXPECT_EQ(60, Parsed("IST-1GMT0,M10.5.0,M3.5.0/1").DaylightBias);
    const TTimeZoneInformation us = Parsed("EST5EDT");
    EXPECT_EQ(300, us.Bias);
    EXPECT_EQ(-60, us.DaylightBias);
    EXPECT_EQ(Rule(3, 2, 0, 2), us.DaylightDate);
    EXPECT_EQ(Rule(11, 1, 0, 2), us.StandardDate);
}

TEST(PlatformTimeZone, TransitionTimesOutsideTheDayAreKept) {
    EXPECT_EQ(Rule(3, 5, 0, -1), Parsed("<-02>2<-01>,M3.5.0/-1,M10.5.0/0").DaylightDate);
    EXPECT_EQ(Rule(3, 4, 4, 26), Parsed("IST-2IDT,M3.4.4/26,M10.5.0").DaylightDate);
    EXPECT_EQ(Rule(4, 1, 0, -1, -30), Parsed("XST3XDT,M4.1.0/-1:30,M10.1.0/167").DaylightDate);
    EXPECT_EQ(Rule(10, 1, 0, 167), Parsed("XST3XDT,M4.1.0/-1:30,M10.1.0/167").StandardDate);
}

TEST(PlatformTimeZone, DayOfYearRulesMatchTheirDateInTheCurrentYear) {
    // J79 is March 20 in every year, a Friday in 2026; 79 counts from 0 with February 29, March 21 in 2026.
    const TTimeZoneInformation julian = Parsed("XST-3:30XDT,J79/24,J263/24", 2026);
    EXPECT_EQ(Rule(3, 3, 5, 24), julian.DaylightDate);
    EXPECT_EQ(Rule(9, 3, 0, 24), julian.StandardDate); // September 20, 2026 is the third Sunday
    const TTimeZoneInformation zeroBased = Parsed("XST-3:30XDT,79,365", 2026);
    EXPECT_EQ(Rule(3, 3, 6, 2), zeroBased.DaylightDate);
    EXPECT_EQ(Rule(12, 5, 4, 2), zeroBased.StandardDate); // day 365 of a common year is its last, a Thursday
}

TEST(PlatformTimeZone, MalformedRulesAreRefused) {
    for (const char* rule : {"", "CE-1", "CET", "CET-1CEST,M13.1.0,M10.5.0", "CET-1CEST,M3.6.0,M10.5.0",
                             "CET-1CEST,M3.5.7,M10.5.0", "CET-1CEST,M3.5.0", "CET-1CEST,M3.5.0,M10.5.0/168",
                             "CET-25", "CET-1CEST,M3.5.0,M10.5.0,", "CET-1 junk", "<CET-1", "CET-1:60",
                             "XST3XDT,J0,J365", "XST3XDT,366,1", "CET-1CEST,M3.5.0/2:,M10.5.0"}) {
        TTimeZoneInformation info;
        info.Bias = 12345;
        EXPECT_FALSE(ParsePosixTimeZoneRule(rule, 2026, info)) << rule;
        EXPECT_EQ(12345, info.Bias) << rule;
    }
}

TEST(PlatformTimeZone, EveryZoneOfTheTzDatabaseReads) {
    int zones = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(ZoneDir)) {
        if (!entry.is_regular_file()) continue;
        std::string data = ReadFileBytes(entry.path().string());
        if (data.rfind("TZif", 0) != 0) continue;
        TTimeZoneInformation info;
        std::string warning;
        EXPECT_TRUE(ZoneInformationFromTZif(data, 2026, info, warning)) << entry.path() << ": " << warning;
        // Only the leap-second variants come without a footer rule.
        if (!warning.empty()) {
            EXPECT_NE(std::string::npos, entry.path().string().find("/right/"))
                << entry.path() << ": " << warning;
        }
        ++zones;
    }
    EXPECT_GT(zones, 300);
    // Without a footer rule the last standard offset holds, not a daylight offset listed up to 2037.
    std::string leapSeconds;
    if (!TryReadFileBytes(ZoneDir + "/right/Europe/Berlin", leapSeconds)) GTEST_SKIP() << "no right/ zones";
    TTimeZoneInformation info;
    std::string warning;
    EXPECT_TRUE(ZoneInformationFromTZif(leapSeconds, 2026, info, warning));
    EXPECT_EQ(-60, info.Bias);
    EXPECT_FALSE(warning.empty());
}

TEST(PlatformTimeZone, DamagedZoneDataGivesUTCAndAReason) {
    const std::string berlin = ReadFileBytes(ZoneDir + "/Europe/Berlin");
    const size_t footer = berlin.rfind("\nCET");
    ASSERT_NE(std::string::npos, footer);
    std::string badFooter = berlin.substr(0, footer) + "\nCET-1CEST,M3.5.0\n";
    std::string hugeCounts = berlin;
    for (size_t k = 32; k < 44; ++k)
        hugeCounts[k] = '\xff';
    std::string secondHeaderCut = berlin.substr(0, footer - 10);
    std::string noFooterEnd = berlin.substr(0, berlin.size() - 1);
    // The 64-bit block follows the 32-bit one; its transition times, then their type indexes, follow its
    // header.
    const auto count = [&berlin](size_t at) {
        return static_cast<size_t>(
            static_cast<uint8_t>(berlin[at]) << 24 | static_cast<uint8_t>(berlin[at + 1]) << 16 |
            static_cast<uint8_t>(berlin[at + 2]) << 8 | static_cast<uint8_t>(berlin[at + 3]));
    };
    const size_t second =
        44 + count(32) * 5 + count(36) * 6 + count(40) + count(28) * 8 + count(24) + count(20);
    const size_t times = second + 44, transitions = count(second + 32);
    ASSERT_GT(transitions, 2u);
    std::string unknownType = berlin;
    unknownType[times + transitions * 8 + 1] = '\xf0';
    std::string timesGoingBack = berlin;
    timesGoingBack.replace(times + 8, 8, berlin.substr(times, 8));

    for (const auto& [what, data] : std::initializer_list<std::pair<const char*, std::string>>{
             {"empty", ""},
             {"not TZif", "TZjf" + berlin.substr(4)},
             {"truncated", berlin.substr(0, 100)},
             {"huge counts", hugeCounts},
             {"cut before the footer", secondHeaderCut},
             {"unterminated footer", noFooterEnd},
             {"unreadable footer", badFooter},
             {"transition to a type the file lacks", unknownType},
             {"transition times going back", timesGoingBack}}) {
        TTimeZoneInformation info;
        info.Bias = 77;
        std::string warning;
        EXPECT_FALSE(ZoneInformationFromTZif(data, 2026, info, warning)) << what;
        EXPECT_EQ(0, info.Bias) << what;
        EXPECT_EQ(0, info.DaylightDate.wMonth) << what;
        EXPECT_FALSE(warning.empty()) << what;
    }

    // A version 1 file has no footer at all: its last local time type holds.
    std::string version1 = berlin;
    version1[4] = '\0';
    TTimeZoneInformation info;
    std::string warning;
    EXPECT_TRUE(ZoneInformationFromTZif(version1, 2026, info, warning));
    EXPECT_EQ(-60, info.Bias);
    EXPECT_FALSE(warning.empty());
}

TEST(PlatformTimeZone, TheComputersZoneFollowsTZ) {
    TTempDir dir;
    const std::string garbage = dir.Write("garbage", "not a zone file");
    const std::string copy = dir.Write("kolkata", ReadFileBytes(ZoneDir + "/Asia/Kolkata"));
    struct TCase {
        std::optional<std::string> TZ;
        int Bias;
        bool Daylight, Warns;
    };
    for (const TCase& c :
         {TCase{"Europe/Berlin", -60, true, false}, TCase{":America/New_York", 300, true, false},
          TCase{copy, -330, false, false}, TCase{"NZST-12NZDT,M9.5.0,M4.1.0/3", -720, true, false},
          TCase{"", 0, false, false}, TCase{"Nowhere/Atlantis", 0, false, true},
          TCase{garbage, 0, false, true}}) {
        TScopedTZ tz(c.TZ);
        std::string warning;
        const TTimeZoneInformation info = GetTimeZoneInformation(warning);
        EXPECT_EQ(c.Bias, info.Bias) << *c.TZ;
        EXPECT_EQ(c.Daylight, info.DaylightDate.wMonth != 0) << *c.TZ;
        EXPECT_EQ(c.Warns, !warning.empty()) << *c.TZ << ": " << warning;
    }
}

TEST(PlatformTimeZone, WindowsZoneNamesMapToTheTzDatabase) {
    EXPECT_EQ("Europe/Berlin", WindowsZoneToIana("W. Europe Standard Time"));
    EXPECT_EQ("Europe/Berlin", WindowsZoneToIana("w. europe standard time"));
    EXPECT_EQ("Australia/Sydney", WindowsZoneToIana("AUS Eastern Standard Time"));
    EXPECT_EQ("", WindowsZoneToIana("W. Europe"));
    EXPECT_EQ("", WindowsZoneToIana(""));

    TTimeZoneInformation info;
    std::string warning;
    ASSERT_TRUE(GetNamedTimeZoneInformation("W. Europe Standard Time", info, warning));
    EXPECT_TRUE(warning.empty());
    EXPECT_FALSE(info.Listed.empty()) << "the file's transitions come along";
    info.Listed.clear();
    info.FirstUtOffset = 0;
    info.FirstIsDaylight = false;
    EXPECT_EQ(Parsed("CET-1CEST,M3.5.0,M10.5.0/3"), info);
    EXPECT_FALSE(GetNamedTimeZoneInformation("Atlantis Standard Time", info, warning));
}
