// The locale-independent number and date readers take text from files and from eBay's answers.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "support/UnitFormatSettings.h"
#include "time/UnitIsoTime.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    TFormatSettings settings;
    settings.DateSeparator = '.';
    settings.ShortDateFormat = "dd.mm.yyyy";
    double number;
    TDateTime when;
    if (TryStrToFloat(text, number, settings)) (void)FloatToStr(number, settings);
    if (TryStrToDateTime(text, when, settings)) (void)FormatDateTime("dd.mm.yyyy hh:nn:ss:zzz c", when, settings);
    (void)FormatDateTime(text, 45000.5, settings);
    if (TryReadIsoUTC(text, when)) (void)DateTimeToMSecs(when);
    return 0;
}
