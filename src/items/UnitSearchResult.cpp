#include "items/UnitSearchResult.h"

#include "base/UnitUtils.h"
#include "items/UnitSiteCurrencyTables.h"
#include "support/UnitFormatSettings.h"
#include "time/UnitAlternateFormatSettings.h"
#include "time/UnitTimeUtils.h"

#include <charconv>
#include <cmath>

namespace {

const char* const SNoValue = "-";
constexpr float ZeroPriceTolerance = 0.0001f;

} // namespace

// Cents are rounded half away from zero, as prices are; a single times 100 is exact in a double.
std::string PriceValueText(float value) {
    const double cents = std::round(static_cast<double>(value) * 100.0);
    char buf[64];
    const auto [end, ec] =
        std::to_chars(buf, buf + sizeof buf, std::fabs(cents), std::chars_format::fixed, 0);
    std::string digits = ec == std::errc() ? std::string(buf, end) : std::string("0");
    if (!std::isfinite(cents)) return digits;
    if (digits.size() < 3) digits.insert(0, 3 - digits.size(), '0');
    digits.insert(digits.size() - 2, 1, DefaultFormatSettings().DecimalSeparator);
    return cents < 0 ? "-" + digits : digits;
}

float TCustomSearchResultAuction::GetCurrentPrice() const {
    if (std::fabs(PriceStandard - 0.0f) <= ZeroPriceTolerance && BuyNow) return PriceBuyNow;
    return PriceStandard;
}

float TCustomSearchResultAuction::GetTotalPrice() const {
    const float price = PriceStandard > 0 ? PriceStandard : PriceBuyNow;
    return price + ShippingAmount;
}

float TCustomSearchResultAuction::GetPriceWithShipping() const {
    return PriceStandard + ShippingAmount;
}

TDateTime TCustomSearchResultAuction::GetEndTimeLocal() const {
    return GetTimeZoneUtils().UTCToLocal(EndTime);
}

TDateTime TCustomSearchResultAuction::GetStartTimeLocal() const {
    return GetTimeZoneUtils().UTCToLocal(StartTime);
}

std::string TCustomSearchResultAuction::GetCurrencySymbol() const {
    return CurrencySymbol(CurrencyID);
}

std::string TCustomSearchResultAuction::GetPriceText() const {
    if (GetCurrentPrice() == 0 && !BuyNow) return SNoValue;
    const float value = PriceStandard > 0 || !BuyNow ? PriceStandard : PriceBuyNow;
    return PriceValueText(value) + " " + GetCurrencySymbol();
}

std::string TCustomSearchResultAuction::GetBuyNowPriceText() const {
    // An auction with a buy-it-now option has its price too; only a fixed-price offer falls back.
    if (PriceBuyNow > 0) return PriceValueText(PriceBuyNow) + " " + GetCurrencySymbol();
    if (!BuyNow) return SNoValue;
    return PriceValueText(PriceStandard) + " " + GetCurrencySymbol();
}

std::string TCustomSearchResultAuction::GetShippingCostsText() const {
    return PriceValueText(ShippingAmount) + " " + GetCurrencySymbol();
}

std::string TCustomSearchResultAuction::GetRemainingTimeText(bool compact) const {
    if (NeverEnding || EndTime == 0) return SNoValue;
    // Compared in UTC: the local end time differs from the local time now by an extra hour when a clock
    // change lies between them.
    return RemainingTimeText(compact, EndTime);
}

std::string TCustomSearchResultAuction::GetBidCountText() const {
    return IntToStr(BidCount);
}
