#include "items/UnitParserBaseXML.h"

#include "base/UnitUtils.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// The value of the two digits at text[at].
int TwoDigits(std::string_view text, size_t at) {
    return (text[at] - '0') * 10 + (text[at + 1] - '0');
}

// "dd.mm.yyyy" or "dd.mm.yyyy hh:mm:ss" with the record's separators; false for any other shape, which the
// general reader then takes.
bool IsStoredDateTimeShape(std::string_view t, const TFormatSettings& fs) {
    if (t.size() != 10 && t.size() != 19) return false;
    static const char Shape[] = "00.00.0000 00:00:00";
    for (size_t i = 0; i < t.size(); ++i) {
        const char want = Shape[i] == '.' ? fs.DateSeparator : Shape[i] == ':' ? fs.TimeSeparator : Shape[i];
        if (want == '0' ? !IsDigit(t[i]) : t[i] != want) return false;
    }
    return true;
}

} // namespace

// The one conversion that follows the user's locale: a numeric boolean is read with its decimal separator.
// The words hold no digit, so no locale reads them as a number: they are looked at first, as written first.
bool TextToBoolean(std::string_view text, bool def) {
    if (text == "True") return true;
    if (text == "False") return false;
    if (SameText(text, "True")) return true;
    if (SameText(text, "False")) return false;
    double number;
    if (TryStrToFloat(text, number, DefaultFormatSettings())) return number != 0;
    return def;
}

bool TryTextToFloat(std::string_view text, char decimalSeparator, double& value) {
    const std::string_view t = TrimView(text);
    // The text in the form from_chars reads: no "+" in front, "." as the decimal point.
    char local[64];
    std::string large;
    char* norm = local;
    if (t.size() >= sizeof local) {
        large.resize(t.size());
        norm = large.data();
    }
    size_t n = 0, i = 0, digits = 0, fractionDigits = 0;
    uint64_t mantissa = 0;
    bool negative = false;
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) {
        negative = t[i] == '-';
        if (negative) norm[n++] = '-';
        ++i;
    }
    for (; i < t.size() && IsDigit(t[i]); ++i, ++digits) {
        norm[n++] = t[i];
        mantissa = mantissa * 10 + static_cast<uint64_t>(t[i] - '0');
    }
    if (i < t.size() && t[i] == decimalSeparator) {
        norm[n++] = '.';
        for (++i; i < t.size() && IsDigit(t[i]); ++i, ++digits, ++fractionDigits) {
            norm[n++] = t[i];
            mantissa = mantissa * 10 + static_cast<uint64_t>(t[i] - '0');
        }
    }
    if (digits == 0) return false;
    // Up to 15 digits and no exponent: the digits and the power of ten are both exact doubles, so one
    // correctly rounded division gives what from_chars gives, at a fraction of its cost (prices are such).
    if (i == t.size() && digits <= 15) {
        static constexpr double PowersOfTen[16] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                                   1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
        const double v = static_cast<double>(mantissa) / PowersOfTen[fractionDigits];
        value = negative ? -v : v;
        return true;
    }
    if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
        norm[n++] = 'e';
        ++i;
        if (i < t.size() && (t[i] == '+' || t[i] == '-')) norm[n++] = t[i++];
        size_t expDigits = 0;
        for (; i < t.size() && IsDigit(t[i]); ++i, ++expDigits)
            norm[n++] = t[i];
        if (expDigits == 0) return false;
    }
    if (i != t.size()) return false;
    double v;
    const auto [end, ec] = std::from_chars(norm, norm + n, v);
    if (ec != std::errc() || end != norm + n || !std::isfinite(v)) return false;
    value = v;
    return true;
}

bool TryTextToInt64(std::string_view text, long long& value) {
    std::string_view v = TrimView(text);
    if (!v.empty() && v.front() == '+') v.remove_prefix(1);
    if (v.empty()) return false;
    int base = 10;
    if (v.front() == '$') {
        base = 16;
        v.remove_prefix(1);
    } else if (v.size() > 2 && v[0] == '0' && (v[1] == 'x' || v[1] == 'X')) {
        base = 16;
        v.remove_prefix(2);
    }
    long long r = 0;
    const auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), r, base);
    if (ec != std::errc() || end != v.data() + v.size()) return false;
    value = r;
    return true;
}

int TextToIntDef(std::string_view text, int def) {
    long long v;
    if (!TryTextToInt64(text, v) || v < INT32_MIN || v > INT32_MAX) return def;
    return static_cast<int>(v);
}

bool TryTextToDateTime(std::string_view text, TDateTime& value, const TFormatSettings& settings) {
    const std::string_view t = TrimView(text);
    if (!IsStoredDateTimeShape(t, settings) ||
        (settings.ShortDateFormat != "dd.mm.yyyy" && !SameText(settings.ShortDateFormat, "dd.mm.yyyy")))
        return TryStrToDateTime(t, value, settings);
    TDateTime date, time = 0;
    if (!TryEncodeDate(TwoDigits(t, 6) * 100 + TwoDigits(t, 8), TwoDigits(t, 3), TwoDigits(t, 0), date))
        return false;
    if (t.size() == 19 && !TryEncodeTime(TwoDigits(t, 11), TwoDigits(t, 14), TwoDigits(t, 17), 0, time))
        return false;
    value = date < 0 ? date - time : date + time;
    return true;
}

void AppendFloatText(std::string& out, double value, char decimalSeparator) {
    if (value == 0) {
        out += '0';
        return;
    }
    if (std::isnan(value) || std::isinf(value)) {
        out += std::isnan(value) ? "NAN" : value > 0 ? "INF" : "-INF";
        return;
    }
    // The "%.15g" of the C locale, which to_chars gives without a locale.
    char buf[64];
    const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::general, 15);
    const std::string_view text(buf, static_cast<size_t>(end - buf));
    const size_t e = text.find('e');
    for (const char c : text.substr(0, e))
        out += c == '.' ? decimalSeparator : c;
    if (e == std::string_view::npos) return;
    int exponent = 0;
    const std::string_view digits = text.substr(e + 2);
    std::from_chars(digits.data(), digits.data() + digits.size(), exponent);
    out += 'E';
    if (text[e + 1] == '-' && exponent != 0) out += '-';
    out += std::to_string(exponent);
}

void AppendDateTimeText(std::string& out, TDateTime value, const TFormatSettings& settings) {
    int y, mo, d, h, n, s, z;
    DecodeDateTime(value, y, mo, d, h, n, s, z);
    if (y < 1 || y > 9999 || !SameText(settings.ShortDateFormat, "dd.mm.yyyy") ||
        !SameText(settings.LongTimeFormat, "hh:mm:ss")) {
        out += FormatDateTime(settings.ShortDateFormat, value, settings);
        if (h != 0 || n != 0 || s != 0) {
            out += ' ';
            out += FormatDateTime(settings.LongTimeFormat, value, settings);
        }
        return;
    }
    // What FormatDateTime writes for these two formats: "." is a literal there, ":" the time separator. The
    // text is made in place and appended once: a save writes four of them per item.
    char text[19] = {};
    auto two = [&](int at, int v) {
        text[at] = static_cast<char>('0' + v / 10);
        text[at + 1] = static_cast<char>('0' + v % 10);
    };
    two(0, d);
    text[2] = '.';
    two(3, mo);
    text[5] = '.';
    two(6, y / 100);
    two(8, y % 100);
    if (h == 0 && n == 0 && s == 0) {
        out.append(text, 10);
        return;
    }
    text[10] = ' ';
    two(11, h);
    text[13] = settings.TimeSeparator;
    two(14, n);
    text[16] = settings.TimeSeparator;
    two(17, s);
    out.append(text, 19);
}

namespace {

// Hexadecimal digits read as 32 bits, so "$FFFFFFFF" is -1 as the stored colour values expect.
int HexToInteger(std::string_view text) {
    if (text.empty() || text.size() > 8) return 0;
    uint32_t v = 0;
    for (char c : text) {
        int d;
        if (c >= '0' && c <= '9')
            d = c - '0';
        else if (c >= 'a' && c <= 'f')
            d = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            d = c - 'A' + 10;
        else
            return 0;
        v = v << 4 | static_cast<uint32_t>(d);
    }
    return static_cast<int>(v);
}

} // namespace

TCurrency TCurrency::FromDouble(double value) {
    const double scaled = std::nearbyint(value * 10000.0);
    if (!(std::fabs(scaled) < 9223372036854775808.0))
        throw EConvertError(
            Format("'%s' is not a valid currency value", {FloatToStr(value, TFormatSettings())}));
    return TCurrency{static_cast<int64_t>(scaled)};
}

TStringLines TextToLines(std::string_view text) {
    TStringLines lines;
    size_t start = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\r' && text[i] != '\n') continue;
        lines.emplace_back(text.substr(start, i - start));
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
        start = i + 1;
    }
    if (start < text.size()) lines.emplace_back(text.substr(start));
    return lines;
}

std::string LinesToText(const TStringLines& lines) {
    std::string text;
    for (const std::string& line : lines) {
        text += line;
        text += '\n';
    }
    return text;
}

namespace {
size_t IndexOfName(const TStringLines& lines, std::string_view name) {
    for (size_t i = 0; i < lines.size(); ++i) {
        const size_t eq = lines[i].find('=');
        if (eq != std::string::npos && SameText(std::string_view(lines[i]).substr(0, eq), name)) return i;
    }
    return std::string::npos;
}
} // namespace

void SetLinesValue(TStringLines& lines, std::string_view name, std::string_view value) {
    const size_t i = IndexOfName(lines, name);
    if (value.empty()) {
        if (i != std::string::npos) lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(i));
        return;
    }
    std::string entry = std::string(name) + "=" + std::string(value);
    if (i != std::string::npos)
        lines[i] = std::move(entry);
    else
        lines.push_back(std::move(entry));
}

std::string LinesValue(const TStringLines& lines, std::string_view name) {
    const size_t i = IndexOfName(lines, name);
    return i == std::string::npos ? std::string() : lines[i].substr(lines[i].find('=') + 1);
}

// TParserOrWriterBaseXML

TParserOrWriterBaseXML::TParserOrWriterBaseXML()
    : FormatSettings(std::make_unique<TAlternateFormatSettings>('.')) {
    ResetFormats();
}

void TParserOrWriterBaseXML::SetDecimalSeparator(char c) {
    FormatSettings->SetDecimalSeparator(c);
}

void TParserOrWriterBaseXML::ResetFormats() {
    FormatSettings->SetDateSeparator('.');
    FormatSettings->SetTimeSeparator(':');
    FormatSettings->SetShortDateFormat("dd.mm.yyyy");
    FormatSettings->SetShortTimeFormat("hh:mm");
    FormatSettings->SetLongTimeFormat("hh:mm:ss");
}

// TParserBaseXML

std::string_view TParserBaseXML::AttrView(const TXMLNode& node, const std::string& attrName) {
    return node.Raw().attribute(attrName.c_str()).value();
}

TXMLNode TParserBaseXML::Child(const TXMLNode& parent, const std::string& childName) {
    if (parent.IsNull()) return TXMLNode();
    return parent.ChildNodes().FindNode(childName);
}

bool TParserBaseXML::AttributeEquals(const std::string& attrName, std::string_view expected,
                                     const TXMLNode& node) {
    return SameText(ReadAttrText(node, attrName), expected);
}

std::string TParserBaseXML::ReadAttrText(const TXMLNode& node, const std::string& attrName) {
    return node.GetAttribute(attrName).value_or(std::string());
}

double TParserBaseXML::ReadAttrFloat(const TXMLNode& node, const std::string& attrName, double def) {
    double value;
    return TryTextToFloat(AttrView(node, attrName), DecimalSeparator(), value) ? value : def;
}

int TParserBaseXML::ReadAttrInteger(const TXMLNode& node, const std::string& attrName, int def) {
    return TextToIntDef(AttrView(node, attrName), def);
}

int TParserBaseXML::ReadAttrInteger(const TXMLNode& node, const std::string& attrName) {
    return ReadAttrInteger(node, attrName, 0);
}

bool TParserBaseXML::ReadAttrBoolean(const TXMLNode& node, const std::string& attrName) {
    return TextToBoolean(AttrView(node, attrName), false);
}

std::string TParserBaseXML::ReadText(const TXMLNode& node) {
    return std::string(TextView(node));
}

double TParserBaseXML::ReadFloat(const TXMLNode& node, double def) {
    double value;
    return TryTextToFloat(TextView(node), DecimalSeparator(), value) ? value : def;
}

int TParserBaseXML::ReadInteger(const TXMLNode& node, int def) {
    return TextToIntDef(TextView(node), def);
}

int TParserBaseXML::ReadHexInteger(const TXMLNode& node) {
    const std::string text = StringReplaceAll(TextView(node), "#", "$");
    // A text without "$" is read as if it had one in front.
    if (text.find('$') == std::string::npos) return HexToInteger(text);
    return text.front() == '$' ? HexToInteger(std::string_view(text).substr(1)) : 0;
}

int64_t TParserBaseXML::ReadInt64(const TXMLNode& node, int64_t def) {
    long long value;
    return TryTextToInt64(TextView(node), value) ? value : def;
}

int64_t TParserBaseXML::ReadInt64(const TXMLNode& node) {
    return ReadInt64(node, 0);
}

bool TParserBaseXML::ReadBoolean(const TXMLNode& node) {
    return TextToBoolean(TextView(node), false);
}

bool TParserBaseXML::ReadTextIn(const TXMLNode& node, const std::vector<std::string>& values) {
    if (values.empty()) return false;
    const std::string text = ReadText(node);
    for (const std::string& v : values)
        if (v == text) return true;
    return false;
}

TDateTime TParserBaseXML::ReadDateTime(const TXMLNode& node) {
    return ReadDateTime(node, FormatSettings->FormatSettings());
}

TDateTime TParserBaseXML::ReadDateTime(const TXMLNode& node, const TFormatSettings& settings) {
    TDateTime value;
    return TryTextToDateTime(TextView(node), value, settings) ? value : 0;
}

TCurrency TParserBaseXML::ReadCurrency(const TXMLNode& node) {
    return TCurrency::FromDouble(ReadFloat(node, 0));
}

char TParserBaseXML::ReadChar(const TXMLNode& node) {
    const std::optional<std::string> value = node.NodeValue();
    return value && !value->empty() ? value->front() : '\0';
}

void SplitTextLines(std::string_view text, TStringLines& list, std::string_view separator) {
    if (separator.size() != 1 || separator[0] == '\r' || separator[0] == '\n') {
        list = TextToLines(separator.empty() ? std::string(text) : StringReplaceAll(text, separator, "\n"));
        return;
    }
    // A one-character separator is a line break of its own: the lines are cut from the text in one pass,
    // as if each separator had been replaced by LF first (so CR before a separator is one break too).
    const char sep = separator[0];
    list.clear();
    size_t start = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c != '\r' && c != '\n' && c != sep) continue;
        list.emplace_back(text.substr(start, i - start));
        if (c == '\r' && i + 1 < text.size() && (text[i + 1] == '\n' || text[i + 1] == sep)) ++i;
        start = i + 1;
    }
    if (start < text.size()) list.emplace_back(text.substr(start));
}

void TParserBaseXML::ReadStrings(const TXMLNode& node, TStringLines& list, std::string_view separator) {
    SplitTextLines(TextView(node), list, separator);
}

void TParserBaseXML::ReadChildStrings(const TXMLNode& parent, const std::string& childName,
                                      TStringLines& list, std::string_view separator) {
    ReadStrings(Child(parent, childName), list, separator);
}

void TParserBaseXML::ReadNodeList(const TXMLNode& node, TStringLines& list, bool nameValue) {
    list.clear();
    if (node.IsNull()) return;
    // Only element children count: text between them has no tag name to key an entry by.
    for (TXMLNode child = node.ChildNodes().First(); child; child = child.NextSibling()) {
        if (child.Raw().type() != pugi::node_element) continue;
        if (nameValue)
            SetLinesValue(list, child.NodeName(), ReadText(child));
        else
            list.push_back(ReadText(child));
    }
}

void TParserBaseXML::ReadChildNodeList(const TXMLNode& parent, const std::string& childName,
                                       TStringLines& list, bool nameValue) {
    ReadNodeList(Child(parent, childName), list, nameValue);
}

std::string TParserBaseXML::ReadChildText(const TXMLNode& parent, const std::string& childName) {
    return ReadText(Child(parent, childName));
}

double TParserBaseXML::ReadChildFloat(const TXMLNode& parent, const std::string& childName, double def) {
    return ReadFloat(Child(parent, childName), def);
}

int TParserBaseXML::ReadChildInteger(const TXMLNode& parent, const std::string& childName, int def) {
    return ReadInteger(Child(parent, childName), def);
}

int64_t TParserBaseXML::ReadChildInt64(const TXMLNode& parent, const std::string& childName, int64_t def) {
    return ReadInt64(Child(parent, childName), def);
}

int TParserBaseXML::ReadChildHexInteger(const TXMLNode& parent, const std::string& childName) {
    return ReadHexInteger(Child(parent, childName));
}

int64_t TParserBaseXML::ReadChildInt64(const TXMLNode& parent, const std::string& childName) {
    return ReadInt64(Child(parent, childName));
}

bool TParserBaseXML::ReadChildBoolean(const TXMLNode& parent, const std::string& childName) {
    return ReadBoolean(Child(parent, childName));
}

bool TParserBaseXML::ReadChildTextIn(const TXMLNode& parent, const std::string& childName,
                                     const std::vector<std::string>& values) {
    return ReadTextIn(Child(parent, childName), values);
}

TDateTime TParserBaseXML::ReadChildDateTime(const TXMLNode& parent, const std::string& childName) {
    return ReadDateTime(Child(parent, childName));
}

TDateTime TParserBaseXML::ReadChildDateTime(const TXMLNode& parent, const std::string& childName,
                                            const TFormatSettings& settings) {
    return ReadDateTime(Child(parent, childName), settings);
}

TCurrency TParserBaseXML::ReadChildCurrency(const TXMLNode& parent, const std::string& childName) {
    return ReadCurrency(Child(parent, childName));
}

// TChildElements

namespace {
// Most names differ in their first letter, which is tried inline; libc's strcmp compares the rest of a
// likely match many bytes at a time.
inline bool SameName(const char* a, const char* b) {
    return *a == *b && (*a == '\0' || std::strcmp(a + 1, b + 1) == 0);
}
} // namespace

TChildElements::TChildElements(const TXMLNode& parent, const char* const* names, int count) {
    if (count > MaxNames) throw EXMLDomError("TChildElements: too many names");
    std::fill_n(FNodes, count, nullptr);
    int next = 0;
    for (pugi::xml_node c = parent.Raw().first_child(); c; c = c.next_sibling()) {
        // Only elements have names in the documents loaded here; texts have an empty one.
        const char* name = c.name();
        if (*name == '\0') continue;
        for (int k = 0; k < count; ++k) {
            const int i = next + k < count ? next + k : next + k - count;
            if (!SameName(name, names[i])) continue;
            if (!FNodes[i]) FNodes[i] = c.internal_object();
            next = i + 1;
            break;
        }
    }
}

// TWriterBaseXML

void TWriterBaseXML::SetText(TXMLNode node, std::string_view text) {
    if (node) node.SetNodeValue(text);
}

void TWriterBaseXML::WriteString(TXMLNode node, const std::string& name, std::string_view value,
                                 std::string_view def) {
    if (OmitDefaults && SameText(value, def)) {
        if (node) node.ChildNodes().Delete(name);
        return;
    }
    node.AddChild(name).SetNodeValue(value);
}

// The default's text is only needed when it may drop the value; the item file writes every value.
void TWriterBaseXML::WriteInteger(TXMLNode node, const std::string& name, int value, int def) {
    WriteInt64(node, name, value, def);
}

void TWriterBaseXML::WriteInt64(TXMLNode node, const std::string& name, int64_t value, int64_t def) {
    char text[24], defText[24];
    const char* end = std::to_chars(text, text + sizeof text, value).ptr;
    const char* defEnd = OmitDefaults ? std::to_chars(defText, defText + sizeof defText, def).ptr : defText;
    WriteString(node, name, std::string_view(text, static_cast<size_t>(end - text)),
                std::string_view(defText, static_cast<size_t>(defEnd - defText)));
}

void TWriterBaseXML::WriteFloat(TXMLNode node, const std::string& name, double value, double def) {
    std::string text, defText;
    AppendFloatText(text, value, DecimalSeparator());
    if (OmitDefaults) AppendFloatText(defText, def, DecimalSeparator());
    WriteString(node, name, text, defText);
}

std::string TWriterBaseXML::DateTimeToText(TDateTime value, const TFormatSettings& settings) {
    std::string text;
    AppendDateTimeText(text, value, settings);
    return text;
}

void TWriterBaseXML::WriteDateTime(TXMLNode node, const std::string& name, TDateTime value, TDateTime def) {
    WriteDateTime(node, name, value, FormatSettings->FormatSettings(), def);
}

void TWriterBaseXML::WriteDateTime(TXMLNode node, const std::string& name, TDateTime value,
                                   const TFormatSettings& settings, TDateTime def) {
    WriteString(node, name, DateTimeToText(value, settings),
                OmitDefaults ? DateTimeToText(def, settings) : std::string());
}

void TWriterBaseXML::WriteBoolean(TXMLNode node, const std::string& name, bool value, bool useWords,
                                  bool def) {
    auto text = [useWords](bool b) -> const char* {
        if (useWords) return b ? "True" : "False";
        return b ? "-1" : "0";
    };
    WriteString(node, name, text(value), text(def));
}

void TWriterBaseXML::WriteStrings(TXMLNode node, const TStringLines& list, std::string_view separator) {
    if (list.empty()) return;
    SetText(node, StringReplaceAll(Trim(LinesToText(list)), "\n", separator));
}

void TWriterBaseXML::WriteChildStrings(TXMLNode node, const std::string& name, const TStringLines& list,
                                       std::string_view separator) {
    if (list.empty()) return;
    WriteString(node, name, StringReplaceAll(Trim(LinesToText(list)), "\n", separator), "");
}
