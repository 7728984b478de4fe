#include "base/UnitUtils.h"

#include "base/UnitExceptions.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <openssl/evp.h>

namespace {

[[noreturn]] void RaiseFormatError(std::string_view format) {
    throw EConvertError("Format '" + std::string(format) + "' invalid or incompatible with argument");
}

std::string FormatOne(const std::string& directive, char conv, const TFormatArg& arg,
                      std::string_view format) {
    char buf[512];
    int n = -1;
    const std::string f = directive + conv;
    switch (conv) {
    case 's': {
        auto* s = std::get_if<std::string>(&arg.Value);
        if (!s) RaiseFormatError(format);
        if (directive == "%") return *s;
        n = std::snprintf(buf, sizeof buf, f.c_str(), s->c_str());
        if (n >= static_cast<int>(sizeof buf)) {
            std::string big(static_cast<size_t>(n) + 1, '\0');
            std::snprintf(big.data(), big.size(), f.c_str(), s->c_str());
            big.resize(static_cast<size_t>(n));
            return big;
        }
        break;
    }
    case 'd':
    case 'u':
    case 'x':
    case 'X': {
        long long v;
        if (auto* i = std::get_if<long long>(&arg.Value))
            v = *i;
        else if (auto* u = std::get_if<unsigned long long>(&arg.Value))
            v = static_cast<long long>(*u);
        else
            RaiseFormatError(format);
        const std::string ff = directive + "ll" + (conv == 'd' ? 'd' : conv);
        n = std::snprintf(buf, sizeof buf, ff.c_str(), v);
        break;
    }
    case 'f':
    case 'g':
    case 'e': {
        double v;
        if (auto* d = std::get_if<double>(&arg.Value))
            v = *d;
        else if (auto* i = std::get_if<long long>(&arg.Value))
            v = static_cast<double>(*i);
        else
            RaiseFormatError(format);
        n = std::snprintf(buf, sizeof buf, f.c_str(), v);
        break;
    }
    default:
        RaiseFormatError(format);
    }
    if (n < 0 || n >= static_cast<int>(sizeof buf)) RaiseFormatError(format);
    return std::string(buf, static_cast<size_t>(n));
}

} // namespace

std::string Format(std::string_view format, const std::vector<TFormatArg>& args) {
    std::string out;
    out.reserve(format.size() + 16 * args.size());
    size_t next = 0;
    for (size_t i = 0; i < format.size(); ++i) {
        if (format[i] != '%') {
            out += format[i];
            continue;
        }
        if (i + 1 < format.size() && format[i + 1] == '%') {
            out += '%';
            ++i;
            continue;
        }
        size_t j = i + 1;
        while (j < format.size() && std::strchr("-+ #0123456789.", format[j]))
            ++j;
        if (j >= format.size()) RaiseFormatError(format);
        if (next >= args.size()) RaiseFormatError(format);
        out += FormatOne(std::string(format.substr(i, j - i)), format[j], args[next++], format);
        i = j;
    }
    return out;
}

std::string Format(std::string_view format, std::initializer_list<TFormatArg> args) {
    return Format(format, std::vector<TFormatArg>(args));
}

std::string TrimLeft(std::string_view s) {
    size_t b = 0;
    while (b < s.size() && static_cast<unsigned char>(s[b]) <= ' ')
        ++b;
    return std::string(s.substr(b));
}

std::string TrimRight(std::string_view s) {
    size_t e = s.size();
    while (e > 0 && static_cast<unsigned char>(s[e - 1]) <= ' ')
        --e;
    return std::string(s.substr(0, e));
}

std::string Trim(std::string_view s) {
    return TrimRight(TrimLeft(s));
}

std::string UpperCase(std::string_view s) {
    std::string r(s);
    for (char& c : r)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return r;
}

std::string LowerCase(std::string_view s) {
    std::string r(s);
    for (char& c : r)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return r;
}

bool SameText(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

bool StartsText(std::string_view prefix, std::string_view s) {
    return s.size() >= prefix.size() && SameText(prefix, s.substr(0, prefix.size()));
}

std::string StringReplaceAll(std::string_view s, std::string_view from, std::string_view to) {
    if (from.empty()) return std::string(s);
    std::string out;
    size_t pos = 0;
    for (size_t hit; (hit = s.find(from, pos)) != std::string_view::npos; pos = hit + from.size()) {
        out.append(s.substr(pos, hit - pos));
        out.append(to);
    }
    out.append(s.substr(pos));
    return out;
}

std::string IntToStr(long long v) {
    return std::to_string(v);
}

bool TryStrToInt64(std::string_view s, long long& value) {
    std::string t = Trim(s);
    std::string_view v = t;
    if (!v.empty() && v.front() == '+') v.remove_prefix(1);
    if (v.empty()) return false;
    bool hex = false;
    if (v.front() == '$') {
        hex = true;
        v.remove_prefix(1);
    } else if (v.size() > 2 && v[0] == '0' && (v[1] == 'x' || v[1] == 'X')) {
        hex = true;
        v.remove_prefix(2);
    }
    long long r = 0;
    auto [p, ec] = std::from_chars(v.data(), v.data() + v.size(), r, hex ? 16 : 10);
    if (ec != std::errc() || p != v.data() + v.size()) return false;
    value = r;
    return true;
}

long long StrToInt64Def(std::string_view s, long long def) {
    long long v;
    return TryStrToInt64(s, v) ? v : def;
}

int StrToIntDef(std::string_view s, int def) {
    long long v;
    if (!TryStrToInt64(s, v) || v < INT32_MIN || v > INT32_MAX) return def;
    return static_cast<int>(v);
}

std::string SysErrorMessage(int errorCode) {
    char buf[256];
    // GNU strerror_r returns the text, which may or may not live in buf.
    return strerror_r(errorCode, buf, sizeof buf);
}

size_t EncodeUtf8(uint32_t cp, char* out) {
    if (cp < 0x80) {
        out[0] = static_cast<char>(cp);
        return 1;
    }
    if (cp < 0x800) {
        out[0] = static_cast<char>(0xC0 | (cp >> 6));
        out[1] = static_cast<char>(0x80 | (cp & 0x3F));
        return 2;
    }
    if (cp < 0x10000) {
        out[0] = static_cast<char>(0xE0 | (cp >> 12));
        out[1] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out[2] = static_cast<char>(0x80 | (cp & 0x3F));
        return 3;
    }
    out[0] = static_cast<char>(0xF0 | (cp >> 18));
    out[1] = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out[2] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out[3] = static_cast<char>(0x80 | (cp & 0x3F));
    return 4;
}

size_t Utf8SequenceLength(std::string_view s, size_t i) {
    const auto* p = reinterpret_cast<const unsigned char*>(s.data());
    const unsigned char c = p[i];
    if (c < 0x80) return 1;
    size_t len;
    unsigned cp;
    if (c >= 0xC2 && c <= 0xDF)
        len = 2, cp = c & 0x1F;
    else if (c >= 0xE0 && c <= 0xEF)
        len = 3, cp = c & 0x0F;
    else if (c >= 0xF0 && c <= 0xF4)
        len = 4, cp = c & 0x07;
    else
        return 0;
    if (i + len > s.size()) return 0;
    for (size_t k = 1; k < len; ++k) {
        if ((p[i + k] & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (p[i + k] & 0x3F);
    }
    if ((len == 3 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) ||
        (len == 4 && (cp < 0x10000 || cp > 0x10FFFF)))
        return 0;
    return len;
}

std::string TextValueFault(std::string_view s) {
    for (size_t i = 0; i < s.size();) {
        const size_t len = Utf8SequenceLength(s, i);
        if (len == 0) return "it is not UTF-8 text";
        const auto c = static_cast<unsigned char>(s[i]);
        const bool c1 = len == 2 && c == 0xC2 && static_cast<unsigned char>(s[i + 1]) < 0xA0;
        if (c < 0x20 || c == 0x7F || c1) return "it holds a control character";
        i += len;
    }
    return "";
}

std::string CutText(std::string_view s, size_t maxChars) {
    size_t at = 0;
    for (size_t chars = 0; at < s.size(); ++chars) {
        if (chars == maxChars) return std::string(s.substr(0, at)) + "\u2026";
        at += std::max<size_t>(1, Utf8SequenceLength(s, at));
    }
    return std::string(s);
}

namespace {

// HTML and XML differ only in how they spell the apostrophe.
std::string EscapeMarkup(std::string_view s, const char* apostrophe) {
    std::string out;
    out.reserve(s.size() + s.size() / 8);
    for (char c : s) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\'':
            out += apostrophe;
            break;
        default:
            out += c;
        }
    }
    return out;
}

} // namespace

std::string HtmlEscape(std::string_view s) {
    return EscapeMarkup(s, "&#39;");
}

std::string XmlEscape(std::string_view s) {
    return EscapeMarkup(s, "&apos;");
}

std::string Base64Encode(std::string_view bytes) {
    std::string out(4 * ((bytes.size() + 2) / 3) + 1, '\0');
    const int length =
        EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                        reinterpret_cast<const unsigned char*>(bytes.data()), static_cast<int>(bytes.size()));
    out.resize(static_cast<size_t>(length));
    return out;
}

std::string QueryEncode(std::string_view value) {
    static const char Hex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(value.size());
    for (const unsigned char c : value) {
        if (std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += Hex[c >> 4];
            out += Hex[c & 15];
        }
    }
    return out;
}

namespace {
int HexDigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}
} // namespace

std::string QueryDecode(std::string_view value) {
    std::string out;
    out.reserve(value.size());
    for (size_t i = 0; i < value.size(); ++i) {
        if (value[i] == '+') {
            out += ' ';
        } else if (value[i] == '%' && i + 2 < value.size() && HexDigitValue(value[i + 1]) >= 0 &&
                   HexDigitValue(value[i + 2]) >= 0) {
            out += static_cast<char>(HexDigitValue(value[i + 1]) * 16 + HexDigitValue(value[i + 2]));
            i += 2;
        } else {
            out += value[i];
        }
    }
    return out;
}

bool IsWebAddress(std::string_view s) {
    size_t start = 0;
    while (start < s.size() && static_cast<unsigned char>(s[start]) <= 0x20)
        ++start;
    const std::string_view rest = s.substr(start);
    auto startsWith = [&](std::string_view scheme) {
        return rest.size() >= scheme.size() && SameText(rest.substr(0, scheme.size()), scheme);
    };
    return startsWith("http:") || startsWith("https:");
}
