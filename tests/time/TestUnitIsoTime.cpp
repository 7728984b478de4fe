#include "ebayapi/UnitXMLParser.h"
#include "support/KovaTestSupport.h"
#include "support/UnitLogging.h"
#include "time/UnitIsoTime.h"

#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>
#include <random>

namespace {

TDateTime At(int y, int m, int d, int h, int n, int s, int ms = 0) {
    return EncodeDateTime(y, m, d, h, n, s, ms);
}

} // namespace

TEST(EbayTimes, ReadExactlyInEveryIsoSpellingOrFallBackToNowWithALogLine) {
    const TDateTime now = At(2020, 1, 2, 3, 4, 5);
    TManualClock clock(now, At(2020, 1, 2, 2, 4, 5));
    TTempDir dir;
    const std::string log = dir.File("times.log");
    StartLogging(lgAll, lgtrgtToFile, log);
    TXMLeBayApiResultParser parser;
    const TDateTime evening = At(2026, 12, 2, 18, 30, 0);
    struct TCase {
        const char* Text;
        TDateTime Expected; // 0: the fallback
    };
    const TCase cases[] = {
        {"2026-12-02T18:30:00.000Z", evening},
        {"2026-12-02T18:30:00Z", evening}, // was read as 18:03
        {"2026-12-02T18:30:00.5Z", evening},
        {"2026-12-02T18:30:00,999999Z", evening},
        {"2026-12-02T19:30:00+01:00", evening},
        {"2026-12-02T19:30:00.000+0100", evening},
        {"2026-12-02T13:00:00-05:30", evening},
        {"2026-12-02T20:30:00+02", evening},
        {"2026-12-03T00:15:00+05:45", evening},
        {"2000-02-29T00:00:59.999Z", At(2000, 2, 29, 0, 0, 59)},
        {"2026-12-31T23:30:00-01:00", At(2027, 1, 1, 0, 30, 0)}, // the offset moves the year
        {"", 0},
        {"Z", 0},
        {"2026-12-02T18:30:00", 0}, // no zone: the moment is unknown
        {"2026-12-02 18:30:00Z", 0},
        {"2026-12-02T18:30Z", 0},
        {"2026-12-02T18:30:00.Z", 0},
        {"2026-12-02T18:30:00+1:00", 0},
        {"2026-12-02T18:30:00+01:", 0},
        {"2026-12-02T18:30:00+24:00", 0},
        {"2026-12-02T18:30:00Zjunk", 0},
        {"2026-13-02T18:30:00Z", 0},
        {"2026-12-02T24:00:00Z", 0},
        {"15.03.2009 18:30:00.000", 0},
    };
    int fallbacks = 0;
    for (const TCase& c : cases) {
        const TDateTime expected = c.Expected == 0 ? now : c.Expected;
        EXPECT_EQ(DateTimeToMSecs(parser.ConvertEbayDateTime(c.Text)), DateTimeToMSecs(expected)) << c.Text;
        TDateTime direct = -1;
        EXPECT_EQ(TryReadIsoUTC(c.Text, direct), c.Expected != 0) << c.Text;
        fallbacks += c.Expected == 0;
    }
    EXPECT_EQ(parser.ConvertEbayDateTime(std::string("2026-12-02\nT18:30:00Z") + std::string(100, 'x')), now);
    ++fallbacks;
    StopLogging(true);

    const std::string logged = ReadTextFile(log);
    size_t lines = 0;
    for (size_t at = logged.find("cannot be read; using the current time"); at != std::string::npos;
         at = logged.find("cannot be read; using the current time", at + 1))
        ++lines;
    EXPECT_EQ(lines, static_cast<size_t>(fallbacks)) << logged;
    EXPECT_NE(logged.find("eBay time \"2026-12-02T18:30:00\" cannot be read"), std::string::npos) << logged;
    EXPECT_EQ(logged.find("xxxxxxxxxxxxxxxxxxxxxxxxxxxxxx"), std::string::npos)
        << "network text is cut short";
}

// Any valid time and offset in years 1 to 9999, before 1899 included, reads as the encoded local time less
// its offset does.
TEST(EbayTimes, ReadLikeTheEncodedLocalTimeLessItsOffset) {
    std::mt19937 random(11);
    for (int n = 0; n < 20000; ++n) {
        const int y = 1 + static_cast<int>(random() % 9999), m = 1 + static_cast<int>(random() % 12);
        const int d = 1 + static_cast<int>(random() % DaysInMonth(y, m)), h = static_cast<int>(random() % 24);
        const int i = static_cast<int>(random() % 60), s = static_cast<int>(random() % 60);
        const int offset = static_cast<int>(random() % 1440) - 720;
        char text[48];
        std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.123%c%02d:%02d", y, m, d, h, i, s,
                      offset < 0 ? '-' : '+', std::abs(offset) / 60, std::abs(offset) % 60);
        TDateTime read = 0;
        ASSERT_TRUE(TryReadIsoUTC(text, read)) << text;
        const TDateTime expected = MSecsToDateTime(DateTimeToMSecs(At(y, m, d, h, i, s)) - offset * 60000LL);
        ASSERT_EQ(read, expected) << text;
    }
}
