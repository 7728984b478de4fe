#include "platform/UnitPlatformLocale.h"

#include <langinfo.h>
#include <locale.h>
#include <mutex>

namespace {

std::mutex GLock;
std::optional<TPlatformLocale> GOverride;

// A separator of more than one byte (a narrow no-break space, say) falls back to a plain one.
char SingleChar(const char* text, char fallback) {
    return text && text[0] && !text[1] && static_cast<unsigned char>(text[0]) < 0x80 ? text[0] : fallback;
}

// Turns a strftime date format such as "%d.%m.%Y" into the day/month/year order and its separator.
void ReadDateFormat(const char* fmt, TPlatformLocale& out) {
    std::string order;
    char sep = 0;
    for (const char* p = fmt; p && *p; ++p) {
        if (*p == '%' && p[1]) {
            ++p;
            if (*p == 'd' || *p == 'e')
                order += 'd';
            else if (*p == 'm')
                order += 'm';
            else if (*p == 'y' || *p == 'Y')
                order += 'y';
        } else if (!sep && !order.empty() && *p != ' ') {
            sep = *p;
        }
    }
    if (order.size() != 3) return;
    if (sep) out.DateSeparator = sep;
    std::string f;
    for (char c : order) {
        if (!f.empty()) f += '/';
        f += c == 'd' ? "dd" : c == 'm' ? "MM" : "yyyy";
    }
    out.ShortDateFormat = f;
}

TPlatformLocale ReadLocale() {
    TPlatformLocale out;
    locale_t loc = newlocale(LC_ALL_MASK, "", static_cast<locale_t>(0));
    if (!loc) loc = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
    if (!loc) return out;
    out.DecimalSeparator = SingleChar(nl_langinfo_l(RADIXCHAR, loc), '.');
    out.ThousandSeparator = SingleChar(nl_langinfo_l(THOUSEP, loc), out.DecimalSeparator == ',' ? '.' : ',');
    if (out.ThousandSeparator == out.DecimalSeparator)
        out.ThousandSeparator = out.DecimalSeparator == ',' ? '.' : ',';
    ReadDateFormat(nl_langinfo_l(D_FMT, loc), out);
    const char* tfmt = nl_langinfo_l(T_FMT, loc);
    for (const char* p = tfmt; p && *p; ++p) {
        if (*p == '%' && p[1]) {
            ++p;
            continue;
        }
        if (*p != ' ') {
            out.TimeSeparator = *p;
            break;
        }
    }
    for (int i = 0; i < 12; ++i) {
        out.ShortMonthNames[i] = nl_langinfo_l(static_cast<nl_item>(ABMON_1 + i), loc);
        out.LongMonthNames[i] = nl_langinfo_l(static_cast<nl_item>(MON_1 + i), loc);
    }
    for (int i = 0; i < 7; ++i) {
        out.ShortDayNames[i] = nl_langinfo_l(static_cast<nl_item>(ABDAY_1 + i), loc);
        out.LongDayNames[i] = nl_langinfo_l(static_cast<nl_item>(DAY_1 + i), loc);
    }
    freelocale(loc);
    return out;
}

} // namespace

TPlatformLocale UserDefaultLocale() {
    std::lock_guard lock(GLock);
    if (GOverride) return *GOverride;
    // Opening a locale costs tens of microseconds and every XML reader asks for it: read it once.
    static const TPlatformLocale environmentLocale = ReadLocale();
    return environmentLocale;
}

void SetUserDefaultLocaleForTesting(std::optional<TPlatformLocale> locale) {
    std::lock_guard lock(GLock);
    GOverride = std::move(locale);
}
