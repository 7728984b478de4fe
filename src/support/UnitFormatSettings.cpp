#include "support/UnitFormatSettings.h"

#include "base/UnitUtils.h"
#include "platform/UnitPlatformClock.h"
#include "platform/UnitPlatformLocale.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <memory>
#include <mutex>
#include <vector>

namespace {

std::mutex GDefaultLock;
TFormatSettings* GDefault = nullptr;

std::string Pad(int v, int width) {
    std::string s = std::to_string(v);
    while (static_cast<int>(s.size()) < width)
        s.insert(s.begin(), '0');
    return s;
}

char Up(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

void Append(std::string& out, std::string_view format, TDateTime value, const TFormatSettings& fs, int depth);

void AppendToken(std::string& out, std::string_view format, size_t& i, bool& lastWasHour, TDateTime value,
                 const TFormatSettings& fs, int depth) {
    int y, mo, d, h, n, s, z;
    DecodeDateTime(value, y, mo, d, h, n, s, z);
    const char c = format[i];
    const char u = Up(c);
    size_t run = 1;
    while (i + run < format.size() && Up(format[i + run]) == u)
        ++run;
    auto take = [&](size_t count) { i += count; };

    if (c == '"' || c == '\'') {
        const size_t end = format.find(c, i + 1);
        const size_t stop = end == std::string_view::npos ? format.size() : end;
        out.append(format.substr(i + 1, stop - i - 1));
        i = stop == format.size() ? stop : stop + 1;
        return;
    }
    if (StartsText("am/pm", format.substr(i))) {
        out += h < 12 ? "am" : "pm";
        take(5);
        return;
    }
    if (StartsText("a/p", format.substr(i))) {
        out += h < 12 ? "a" : "p";
        take(3);
        return;
    }
    if (StartsText("ampm", format.substr(i))) {
        out += h < 12 ? fs.TimeAMString : fs.TimePMString;
        take(4);
        return;
    }
    const bool twelveHour = [&] {
        std::string rest = LowerCase(format.substr(i));
        return rest.find("am/pm") != std::string::npos || rest.find("a/p") != std::string::npos ||
               rest.find("ampm") != std::string::npos;
    }();
    bool hourToken = false;
    switch (u) {
    case 'Y':
        out += run <= 2 ? Pad(y % 100, 2) : Pad(y, 4);
        take(run);
        break;
    case 'M':
        if (lastWasHour) {
            out += run == 1 ? std::to_string(n) : Pad(n, 2);
            take(run > 2 ? 2 : run);
        } else if (run == 1) {
            out += std::to_string(mo);
            take(1);
        } else if (run == 2) {
            out += Pad(mo, 2);
            take(2);
        } else if (run == 3) {
            out += fs.ShortMonthNames[mo - 1];
            take(3);
        } else {
            out += fs.LongMonthNames[mo - 1];
            take(4);
        }
        break;
    case 'D':
        if (run == 1)
            out += std::to_string(d);
        else if (run == 2)
            out += Pad(d, 2);
        else if (run == 3)
            out += fs.ShortDayNames[DayOfWeek(value) - 1];
        else if (run == 4)
            out += fs.LongDayNames[DayOfWeek(value) - 1];
        else if (run == 5 && depth < 2)
            Append(out, fs.ShortDateFormat, value, fs, depth + 1);
        else if (depth < 2)
            Append(out, fs.LongDateFormat, value, fs, depth + 1);
        take(run > 6 ? 6 : run);
        break;
    case 'H': {
        int hh = h;
        if (twelveHour) {
            hh = h % 12;
            if (hh == 0) hh = 12;
        }
        out += run == 1 ? std::to_string(hh) : Pad(hh, 2);
        take(run > 2 ? 2 : run);
        hourToken = true;
        break;
    }
    case 'N':
        out += run == 1 ? std::to_string(n) : Pad(n, 2);
        take(run > 2 ? 2 : run);
        break;
    case 'S':
        out += run == 1 ? std::to_string(s) : Pad(s, 2);
        take(run > 2 ? 2 : run);
        break;
    case 'Z':
        out += run < 3 ? std::to_string(z) : Pad(z, 3);
        take(run < 3 ? 1 : 3);
        break;
    case 'T':
        if (depth < 2) Append(out, run == 1 ? fs.ShortTimeFormat : fs.LongTimeFormat, value, fs, depth + 1);
        take(run > 2 ? 2 : run);
        break;
    case 'C':
        if (depth < 2) {
            Append(out, fs.ShortDateFormat, value, fs, depth + 1);
            if (h != 0 || n != 0 || s != 0 || z != 0) {
                out += ' ';
                Append(out, fs.LongTimeFormat, value, fs, depth + 1);
            }
        }
        take(1);
        break;
    case '/':
        out += fs.DateSeparator;
        take(1);
        return;
    case ':':
        out += fs.TimeSeparator;
        take(1);
        return;
    default:
        out += c;
        take(1);
        return; // literals keep the hour context, as "hh:mm" and "hh.mm" both mean minutes
    }
    lastWasHour = hourToken;
}

void Append(std::string& out, std::string_view format, TDateTime value, const TFormatSettings& fs,
            int depth) {
    bool lastWasHour = false;
    for (size_t i = 0; i < format.size();)
        AppendToken(out, format, i, lastWasHour, value, fs, depth);
}

// The order of day, month and year that a short date format names, such as "dmy".
std::string DateOrder(std::string_view shortDate) {
    std::string order;
    for (char c : shortDate) {
        const char u = Up(c);
        if ((u == 'D' || u == 'M' || u == 'Y') && order.find(static_cast<char>(u + 32)) == std::string::npos)
            order += static_cast<char>(u + 32);
    }
    return order.size() == 3 ? order : "mdy";
}

bool ReadNumber(std::string_view t, size_t& i, int& value, int& digits) {
    digits = 0;
    long v = 0;
    while (i < t.size() && t[i] >= '0' && t[i] <= '9' && digits < 9) {
        v = v * 10 + (t[i] - '0');
        ++i;
        ++digits;
    }
    value = static_cast<int>(v);
    return digits > 0;
}

// An empty AM or PM text never matches, so a record without them reads 24-hour times only.
bool StartsWithMarker(std::string_view marker, std::string_view s) {
    return !marker.empty() && StartsText(marker, s);
}

void SkipBlanks(std::string_view t, size_t& i) {
    while (i < t.size() && t[i] == ' ')
        ++i;
}

bool ScanDate(std::string_view t, size_t& i, TDateTime& date, const TFormatSettings& fs) {
    int parts[3], widths[3], count = 0;
    const size_t start = i;
    for (; count < 3; ++count) {
        size_t j = i;
        if (count > 0) {
            if (j >= t.size() || t[j] != fs.DateSeparator) break;
            ++j;
        }
        int w;
        if (!ReadNumber(t, j, parts[count], w)) break;
        widths[count] = w;
        i = j;
    }
    if (count < 2) {
        i = start;
        return false;
    }
    const std::string order = DateOrder(fs.ShortDateFormat);
    int y = 0, m = 0, d = 0, yWidth = 4;
    if (count == 2) {
        int cy, cm, cd;
        DecodeDate(Now(), cy, cm, cd);
        y = cy;
        // Two parts: day and month in the format's order.
        const bool dayFirst = order.find('d') < order.find('m');
        d = dayFirst ? parts[0] : parts[1];
        m = dayFirst ? parts[1] : parts[0];
    } else {
        for (int k = 0; k < 3; ++k) {
            if (order[k] == 'd')
                d = parts[k];
            else if (order[k] == 'm')
                m = parts[k];
            else {
                y = parts[k];
                yWidth = widths[k];
            }
        }
        if (yWidth <= 2) {
            int cy, cm, cd;
            DecodeDate(Now(), cy, cm, cd);
            int century = cy - fs.TwoDigitYearCenturyWindow;
            y += century / 100 * 100;
            if (fs.TwoDigitYearCenturyWindow > 0 && y < century) y += 100;
        }
    }
    if (!TryEncodeDate(y, m, d, date)) {
        i = start;
        return false;
    }
    return true;
}

bool ScanTime(std::string_view t, size_t& i, TDateTime& time, const TFormatSettings& fs) {
    const size_t start = i;
    int h, n = 0, s = 0, z = 0, w;
    if (!ReadNumber(t, i, h, w)) return false;
    if (i < t.size() && t[i] == fs.TimeSeparator) {
        ++i;
        if (!ReadNumber(t, i, n, w)) {
            i = start;
            return false;
        }
        if (i < t.size() && t[i] == fs.TimeSeparator) {
            ++i;
            if (!ReadNumber(t, i, s, w)) {
                i = start;
                return false;
            }
            if (i < t.size() && (t[i] == fs.DecimalSeparator || t[i] == '.')) {
                ++i;
                if (!ReadNumber(t, i, z, w) || w > 3) {
                    i = start;
                    return false;
                }
                for (; w < 3; ++w)
                    z *= 10;
            }
        }
    } else {
        // A lone number is no time unless AM/PM follows.
        size_t j = i;
        SkipBlanks(t, j);
        if (!(StartsWithMarker(fs.TimeAMString, t.substr(j)) || StartsWithMarker(fs.TimePMString, t.substr(j)) ||
              StartsText("am", t.substr(j)) || StartsText("pm", t.substr(j)))) {
            i = start;
            return false;
        }
    }
    size_t j = i;
    SkipBlanks(t, j);
    auto rest = t.substr(j);
    const bool am = StartsWithMarker(fs.TimeAMString, rest) || StartsText("am", rest);
    const bool pm = !am && (StartsWithMarker(fs.TimePMString, rest) || StartsText("pm", rest));
    if (am || pm) {
        if (h < 1 || h > 12) {
            i = start;
            return false;
        }
        if (am && h == 12) h = 0;
        if (pm && h < 12) h += 12;
        const size_t len = am ? (StartsWithMarker(fs.TimeAMString, rest) ? fs.TimeAMString.size() : 2)
                              : (StartsWithMarker(fs.TimePMString, rest) ? fs.TimePMString.size() : 2);
        i = j + len;
    }
    if (!TryEncodeTime(h, n, s, z, time)) {
        i = start;
        return false;
    }
    return true;
}

} // namespace

TFormatSettings UserDefaultFormatSettings() {
    const TPlatformLocale loc = UserDefaultLocale();
    TFormatSettings fs;
    fs.DecimalSeparator = loc.DecimalSeparator;
    fs.ThousandSeparator = loc.ThousandSeparator;
    fs.DateSeparator = loc.DateSeparator;
    fs.TimeSeparator = loc.TimeSeparator;
    fs.ShortDateFormat = loc.ShortDateFormat;
    fs.LongTimeFormat = loc.LongTimeFormat;
    for (int i = 0; i < 12; ++i) {
        if (!loc.ShortMonthNames[i].empty()) fs.ShortMonthNames[i] = loc.ShortMonthNames[i];
        if (!loc.LongMonthNames[i].empty()) fs.LongMonthNames[i] = loc.LongMonthNames[i];
    }
    for (int i = 0; i < 7; ++i) {
        if (!loc.ShortDayNames[i].empty()) fs.ShortDayNames[i] = loc.ShortDayNames[i];
        if (!loc.LongDayNames[i].empty()) fs.LongDayNames[i] = loc.LongDayNames[i];
    }
    return fs;
}

const TFormatSettings& DefaultFormatSettings() {
    std::lock_guard lock(GDefaultLock);
    if (!GDefault) GDefault = new TFormatSettings(UserDefaultFormatSettings());
    return *GDefault;
}

void ReloadDefaultFormatSettings() {
    std::lock_guard lock(GDefaultLock);
    // The old record is kept alive: callers may still hold a reference to it.
    static std::vector<std::unique_ptr<TFormatSettings>> retired;
    if (GDefault) retired.emplace_back(GDefault);
    GDefault = new TFormatSettings(UserDefaultFormatSettings());
}

std::string FormatDateTime(std::string_view format, TDateTime value, const TFormatSettings& settings) {
    std::string out;
    Append(out, format.empty() ? std::string_view("c") : format, value, settings, 0);
    return out;
}

std::string FloatToStr(double value, const TFormatSettings& settings) {
    if (value == 0) return "0";
    if (std::isnan(value)) return "NAN";
    if (std::isinf(value)) return value > 0 ? "INF" : "-INF";
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.15g", value);
    std::string s = buf;
    std::string mant = s, exp;
    const auto e = s.find('e');
    if (e != std::string::npos) {
        mant = s.substr(0, e);
        int ev = std::atoi(s.c_str() + e + 1);
        exp = "E" + std::to_string(ev);
    }
    for (char& c : mant)
        if (c == '.') c = settings.DecimalSeparator;
    return mant + exp;
}

bool TryStrToFloat(std::string_view text, double& value, const TFormatSettings& settings) {
    std::string t = Trim(text);
    std::string norm;
    size_t i = 0;
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) norm += t[i++];
    size_t digits = 0;
    while (i < t.size() && t[i] >= '0' && t[i] <= '9')
        norm += t[i++], ++digits;
    if (i < t.size() && t[i] == settings.DecimalSeparator) {
        norm += '.';
        ++i;
        while (i < t.size() && t[i] >= '0' && t[i] <= '9')
            norm += t[i++], ++digits;
    }
    if (digits == 0) return false;
    if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
        norm += 'e';
        ++i;
        if (i < t.size() && (t[i] == '+' || t[i] == '-')) norm += t[i++];
        size_t expDigits = 0;
        while (i < t.size() && t[i] >= '0' && t[i] <= '9')
            norm += t[i++], ++expDigits;
        if (expDigits == 0) return false;
    }
    if (i != t.size()) return false;
    const char* b = norm.c_str();
    if (*b == '+') ++b;
    double v;
    auto [p, ec] = std::from_chars(b, norm.c_str() + norm.size(), v);
    if (ec != std::errc() || p != norm.c_str() + norm.size() || !std::isfinite(v)) return false;
    value = v;
    return true;
}

bool TryStrToDateTime(std::string_view text, TDateTime& value, const TFormatSettings& settings) {
    const std::string t = Trim(text);
    if (t.empty()) return false;
    size_t i = 0;
    TDateTime date = 0, time = 0;
    const bool hasDate = ScanDate(t, i, date, settings);
    if (hasDate) {
        if (i < t.size()) {
            size_t j = i;
            SkipBlanks(t, j);
            if (j == i) return false;
            i = j;
            if (!ScanTime(t, i, time, settings)) return false;
        }
    } else if (!ScanTime(t, i, time, settings)) {
        return false;
    }
    SkipBlanks(t, i);
    if (i != t.size()) return false;
    value = date < 0 ? date - time : date + time;
    return true;
}
