#include "base/UnitDateTime.h"
#include "support/UnitFormatSettings.h"

#include <gtest/gtest.h>

TEST(UnitDateTime, EncodesAndDecodesCalendarDatesExactly) {
    EXPECT_EQ(EncodeDate(1899, 12, 30), 0.0);
    EXPECT_EQ(EncodeDate(1970, 1, 1), 25569.0);
    EXPECT_EQ(EncodeDate(2000, 2, 29), 36585.0);
    EXPECT_THROW(EncodeDate(2001, 2, 29), std::exception);
    EXPECT_THROW(EncodeTime(24, 0, 0, 0), std::exception);

    // Every millisecond of a day survives the double and comes back rounded to nearest.
    for (int ms = 0; ms < 86400000; ms += 7919) {
        const TDateTime v = EncodeDate(2026, 12, 7) + ms / MSecsPerDay;
        int y, m, d, h, n, s, z;
        DecodeDateTime(v, y, m, d, h, n, s, z);
        ASSERT_EQ(((h * 60 + n) * 60 + s) * 1000 + z, ms);
        ASSERT_EQ(y * 10000 + m * 100 + d, 20261207);
    }
    // The last millisecond before midnight rounds into the next day only when it is that close.
    int y, m, d, h, n, s, z;
    DecodeDateTime(EncodeDate(2024, 12, 31) + 0.9999999999, y, m, d, h, n, s, z);
    EXPECT_EQ(y * 10000 + m * 100 + d, 20250101);
    EXPECT_EQ(h + n + s + z, 0);
    EXPECT_EQ(DayOfWeek(EncodeDate(2026, 12, 6)), 1); // a Sunday
    EXPECT_EQ(DateTimeToMSecs(MSecsToDateTime(3600123)), 3600123);
}

TEST(UnitDateTime, FormatsTheStampAndFileForms) {
    TFormatSettings fs;
    fs.TimeSeparator = ':';
    fs.DateSeparator = '.';
    const TDateTime v = EncodeDateTime(2026, 12, 6, 15, 3, 9, 7);
    EXPECT_EQ(FormatDateTime("dd.mm.yyyy hh:nn:ss:zzz", v, fs), "06.12.2026 15:03:09:007");
    EXPECT_EQ(FormatDateTime("dd/mm/yyyy", v, fs), "06.12.2026");
    EXPECT_EQ(FormatDateTime("hh:mm:ss", v, fs), "15:03:09");
    EXPECT_EQ(FormatDateTime("dddd, d. MMMM yyyy", v, fs), "Sunday, 6. December 2026");
}
