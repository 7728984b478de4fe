#include "KovaTestSupport.h"
#include "platform/UnitPlatformLocale.h"
#include "time/UnitAlternateFormatSettings.h"

#include <gtest/gtest.h>

namespace {

constexpr double Hour = 1.0 / 24;
constexpr double Second = 1.0 / 86400;

struct Locale {
    explicit Locale(char decimal, char thousand, char time = ':') {
        TPlatformLocale l;
        l.DecimalSeparator = decimal;
        l.ThousandSeparator = thousand;
        l.TimeSeparator = time;
        SetUserDefaultLocaleForTesting(l);
        ReloadDefaultFormatSettings();
    }
    ~Locale() {
        SetUserDefaultLocaleForTesting(std::nullopt);
        ReloadDefaultFormatSettings();
    }
};

} // namespace

TEST(RemainingTime, TextsAtTheirBoundaries) {
    const TDateTime now = EncodeDateTime(2026, 12, 7, 10, 0, 0, 0);
    TManualClock clock(now);
    Locale locale('.', ',', '.');
    EXPECT_EQ(RemainingTimeText(true, now + 26 * Hour), "over 1 day(s)");
    EXPECT_EQ(RemainingTimeText(true, now + 48 * Hour), "over 2 day(s)");
    EXPECT_EQ(RemainingTimeText(true, now + 24 * Hour - Second), "23 h 59 min");
    const TDateTime t3 = now + 3 * Hour + (12 * 60 + 40.6) * Second;
    EXPECT_EQ(RemainingTimeText(true, t3), "3 h 12 min");
    EXPECT_EQ(RemainingTimeText(false, t3), "3.12.40"); // the locale's time separator
    const TDateTime t5 = now + (5 * 60 + 7) * Second;
    EXPECT_EQ(RemainingTimeText(true, t5), "5 m 7 s");
    EXPECT_EQ(RemainingTimeText(false, t5), "0.05.07");
    EXPECT_EQ(RemainingTimeText(true, now + 0.4 * Second), "Ended");
    EXPECT_EQ(RemainingTimeText(true, now + 1 * Second), "0 m 1 s");
    EXPECT_EQ(RemainingTimeText(true, now - 5 * Hour), "Ended");
    EXPECT_EQ(RemainingTimeText(true, now - 3), "Ended");
    EXPECT_EQ(RemainingTimeText(true, now), "Ended");

    int d, h, m, s;
    SplitRemainingTime(now + 1 + 2 * Hour + 3.6 * Second, d, h, m, s);
    EXPECT_EQ(d * 1000000 + h * 10000 + m * 100 + s, 1020003); // milliseconds are dropped
    EXPECT_EQ(PadNumber(7, 3, '0'), "007");
    EXPECT_EQ(PadNumber(1234, 2, '0'), "1234");
}

TEST(AlternateFormatSettings, SeparatorRules) {
    {
        Locale german(',', ' ');
        TAlternateFormatSettings same(',');
        EXPECT_EQ(same.FormatSettings().DecimalSeparator, ',');
        EXPECT_EQ(same.FormatSettings().ThousandSeparator, ' '); // unchanged: already the locale's
        TAlternateFormatSettings dot('.');
        EXPECT_EQ(dot.FormatSettings().ThousandSeparator, ',');
        TAlternateFormatSettings blank;
        EXPECT_EQ(blank.FormatSettings().DecimalSeparator, ',');
    }
    Locale english('.', ',');
    TAlternateFormatSettings other(';');
    EXPECT_EQ(other.FormatSettings().DecimalSeparator, ',');
    EXPECT_EQ(other.FormatSettings().ThousandSeparator, '.');
    other.SetDecimalSeparator('.');
    EXPECT_EQ(other.FormatSettings().ThousandSeparator, ',');

    TFormatSettings copy;
    other.GetFormatSettings(copy);
    EXPECT_EQ(copy.ShortDateFormat, "dd.MM.yyyy");
    EXPECT_EQ(copy.LongDateFormat, "dddd, d. MMMM yyyy");
    EXPECT_EQ(copy.ShortTimeFormat + "|" + copy.LongTimeFormat, "hh:mm|hh:mm:ss");
    EXPECT_EQ(std::string() + copy.DateSeparator + copy.TimeSeparator, ".:");
}

TEST(AlternateFormatSettings, ReadsNumbersAndDatesWithItsOwnRecord) {
    Locale german(',', '.');
    TAlternateFormatSettings dot('.');
    EXPECT_EQ(dot.StrToFloatDef("12.50", -1), 12.5);
    EXPECT_EQ(dot.StrToFloatDef(" -1.5E3 ", -1), -1500);
    EXPECT_EQ(dot.StrToFloatDef("", 7), 7);
    EXPECT_EQ(dot.StrToFloatDef("12,5", 7), 7);
    EXPECT_EQ(dot.StrToFloatDef("1,250.5", 7), 7); // no thousands separators
    TAlternateFormatSettings comma(',');
    EXPECT_EQ(comma.StrToFloatDef("12,5", 7), 12.5);

    EXPECT_EQ(dot.StrToDateTimeDef("24.12.2009 18:30:00", -1), EncodeDateTime(2009, 12, 24, 18, 30, 0, 0));
    EXPECT_EQ(dot.StrToDateTimeDef("24.12.2009", -1), EncodeDate(2009, 12, 24));
    EXPECT_EQ(dot.StrToDateTimeDef("30.12.1899", -1), 0);
    EXPECT_EQ(dot.StrToDateTimeDef("31.02.2009", -1), -1);
    EXPECT_EQ(dot.StrToDateTimeDef("24.12.2009 25:00", -1), -1);
    EXPECT_EQ(dot.StrToDateTimeDef("garbage", -1), -1);

    TFormatSettings noMarkers;
    noMarkers.TimeAMString = noMarkers.TimePMString = "";
    noMarkers.ShortDateFormat = "mm-dd-yyyy";
    noMarkers.DateSeparator = '-';
    TDateTime noon;
    ASSERT_TRUE(TryStrToDateTime("12-07-2026 12:00:00", noon, noMarkers));
    EXPECT_EQ(noon, EncodeDateTime(2026, 12, 7, 12, 0, 0, 0)); // empty AM/PM texts mark nothing
    ASSERT_TRUE(TryStrToDateTime("12-07-2026 15:30", noon, noMarkers));
    EXPECT_EQ(noon, EncodeDateTime(2026, 12, 7, 15, 30, 0, 0));

    TAlternateFormatSettings api('.');
    api.SetShortDateFormat("yyyyy-mm-dd");
    api.SetDateSeparator('-');
    EXPECT_EQ(api.StrToDateTimeDef("2026-12-07 08:09:10.250", -1),
              EncodeDateTime(2026, 12, 7, 8, 9, 10, 250));
}
