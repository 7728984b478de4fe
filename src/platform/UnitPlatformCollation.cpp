#include "platform/UnitPlatformCollation.h"

#include <locale.h>
#include <wchar.h>
#include <wctype.h>

namespace {

// Collation from the user's environment; character classes from C.UTF-8 because every text here is UTF-8,
// whatever code set the user's locale names.
locale_t CollationLocale() {
    static const locale_t loc = [] {
        locale_t base = newlocale(LC_ALL_MASK, "C.UTF-8", static_cast<locale_t>(0));
        if (!base) base = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
        if (locale_t user = newlocale(LC_COLLATE_MASK, "", base)) return user;
        return base;
    }();
    return loc;
}

// Code points of a UTF-8 text; a byte that starts no valid sequence stands for U+FFFD.
std::wstring DecodeUtf8(std::string_view s) {
    std::wstring out;
    out.reserve(s.size());
    const auto* p = reinterpret_cast<const unsigned char*>(s.data());
    const size_t n = s.size();
    size_t i = 0;
    while (i < n) {
        const unsigned char c = p[i];
        size_t len = 0;
        unsigned cp = 0;
        if (c < 0x80)
            len = 1, cp = c;
        else if (c >= 0xC2 && c <= 0xDF)
            len = 2, cp = c & 0x1F;
        else if (c >= 0xE0 && c <= 0xEF)
            len = 3, cp = c & 0x0F;
        else if (c >= 0xF0 && c <= 0xF4)
            len = 4, cp = c & 0x07;
        bool valid = len != 0 && i + len <= n;
        for (size_t k = 1; valid && k < len; ++k) {
            valid = (p[i + k] & 0xC0) == 0x80;
            cp = (cp << 6) | (p[i + k] & 0x3F);
        }
        if (valid && ((len == 3 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) ||
                      (len == 4 && (cp < 0x10000 || cp > 0x10FFFF))))
            valid = false;
        if (!valid) {
            out += static_cast<wchar_t>(0xFFFD);
            ++i;
            continue;
        }
        // wcsxfrm stops at a terminator, so an embedded one would hide the rest of the text.
        if (cp != 0) out += static_cast<wchar_t>(cp);
        i += len;
    }
    return out;
}

} // namespace

std::wstring FoldTextCase(std::string_view text) {
    const locale_t loc = CollationLocale();
    std::wstring folded = DecodeUtf8(text);
    for (wchar_t& c : folded)
        c = static_cast<wchar_t>(towlower_l(static_cast<wint_t>(c), loc));
    return folded;
}

std::wstring LocaleTextSortKey(std::string_view text) {
    const locale_t loc = CollationLocale();
    const std::wstring folded = FoldTextCase(text);
    const size_t len = wcsxfrm_l(nullptr, folded.c_str(), 0, loc);
    std::wstring key(len, L'\0');
    wcsxfrm_l(key.data(), folded.c_str(), len + 1, loc);
    return key;
}

int CompareTextInLocale(std::string_view a, std::string_view b) {
    return LocaleTextSortKey(a).compare(LocaleTextSortKey(b));
}
