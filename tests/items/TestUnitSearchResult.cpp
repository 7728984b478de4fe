#include "ItemsTestHelpers.h"
#include "KovaTestSupport.h"
#include "items/UnitSearchResult.h"
#include "time/UnitTimeUtils.h"

#include <gtest/gtest.h>

namespace {
constexpr double Minute = 1.0 / 1440;
}

TEST(SearchResult, CurrentAndTotalPrices) {
    TSearchResultAuctionDetails i;
    EXPECT_EQ(i.Priority, 1);
    EXPECT_EQ(i.GetCurrentPrice() + i.GetTotalPrice(), 0);
    i.PriceBuyNow = 30;
    i.BuyNow = true;
    i.PriceStandard = 0.00005f;
    EXPECT_EQ(i.GetCurrentPrice(), 30) << "a standard price within 0.0001 of 0 counts as none";
    i.PriceStandard = 0.0002f;
    EXPECT_EQ(i.GetCurrentPrice(), 0.0002f);
    i.PriceStandard = 0;
    i.BuyNow = false;
    EXPECT_EQ(i.GetCurrentPrice(), 0) << "without buy-now the standard price counts, even 0";

    i.ShippingAmount = 4.5f;
    EXPECT_EQ(i.GetTotalPrice(), 34.5f);
    EXPECT_EQ(i.GetPriceWithShipping(), 4.5f);
    i.PriceStandard = 10;
    EXPECT_EQ(i.GetTotalPrice(), 14.5f);
    EXPECT_EQ(i.GetPriceWithShipping(), 14.5f);
    // Single-precision sums: 19.99f + 4.9f rounded to a single, not the double sum.
    i.PriceStandard = 19.99f;
    i.ShippingAmount = 4.9f;
    EXPECT_EQ(i.GetTotalPrice(), 19.99f + 4.9f);
}

TEST(SearchResult, PriceTextsFollowTheLocaleSeparator) {
    TSearchResultAuctionDetails i;
    i.CurrencyID = 1;
    {
        TScopedDecimalSeparator dot('.');
        EXPECT_EQ(i.GetPriceText(), "-");
        EXPECT_EQ(i.GetBuyNowPriceText(), "-");
        EXPECT_EQ(i.GetShippingCostsText(), "0.00 $");

        i.BuyNow = true;
        i.PriceBuyNow = 25;
        EXPECT_EQ(i.GetPriceText(), "25.00 $");
        EXPECT_EQ(i.GetBuyNowPriceText(), "25.00 $");

        i.PriceStandard = 12.5f;
        i.PriceBuyNow = 0;
        EXPECT_EQ(i.GetPriceText(), "12.50 $");
        EXPECT_EQ(i.GetBuyNowPriceText(), "12.50 $") << "falls back to the standard price";
    }
    TScopedDecimalSeparator comma(',');
    i.CurrencyID = 7;
    i.BuyNow = false;
    i.PriceStandard = 19.99f;
    i.ShippingAmount = 1234.5f;
    EXPECT_EQ(i.GetPriceText(), "19,99 €");
    EXPECT_EQ(i.GetShippingCostsText(), "1234,50 €") << "no thousands grouping";
    EXPECT_EQ(i.GetBuyNowPriceText(), "-");
    i.PriceBuyNow = 30;
    EXPECT_EQ(i.GetBuyNowPriceText(), "30,00 €") << "an auction's buy-it-now option shows its price";
    i.PriceBuyNow = 0;
    i.CurrencyID = 4;
    EXPECT_EQ(i.GetCurrencySymbol(), "€");
    i.CurrencyID = 41;
    EXPECT_EQ(i.GetPriceText(), "19,99 NT $");
    EXPECT_EQ(PriceValueText(0.005f), "0,00") << "the single lies below 0.005";
    EXPECT_EQ(PriceValueText(12.125f), "12,13") << "an exact half cent rounds up";
    EXPECT_EQ(PriceValueText(-12.125f), "-12,13");
    EXPECT_EQ(PriceValueText(-0.001f), "0,00");
    EXPECT_EQ(PriceValueText(-3.5f), "-3,50");
}

TEST(SearchResult, RemainingTimeCountsInUTCAndEndTimeLocalConverts) {
    TSearchResultAuctionDetails i;
    i.BidCount = 12;
    EXPECT_EQ(i.GetBidCountText(), "12");
    EXPECT_EQ(i.GetRemainingTimeText(true), "-") << "no end time";

    i.EndTime = EncodeDateTime(2026, 7, 1, 12, 0, 0, 0);
    const TDateTime localEnd = GetTimeZoneUtils().UTCToLocal(i.EndTime);
    EXPECT_EQ(i.GetEndTimeLocal(), localEnd);
    {
        TManualClock clock(localEnd - 125 * Minute, i.EndTime - 125 * Minute);
        EXPECT_EQ(i.GetRemainingTimeText(true), "2 h 5 min");
    }
    TManualClock clock(localEnd - 3.5, i.EndTime - 3.5);
    EXPECT_EQ(i.GetRemainingTimeText(true), "over 3 day(s)");
    i.NeverEnding = true;
    EXPECT_EQ(i.GetRemainingTimeText(true), "-");

    i.StartTime = i.EndTime - 7;
    EXPECT_EQ(i.GetStartTimeLocal(), GetTimeZoneUtils().UTCToLocal(i.StartTime));
}
