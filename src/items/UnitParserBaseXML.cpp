#include "items/UnitParserBaseXML.h"

#include "support/UnitUtils.h"

#include <cmath>

namespace {

// The one conversion that follows the user's locale: a numeric boolean is read with its decimal separator.
bool TextToBoolean(std::string_view text, bool def) {
    double number;
    if (TryStrToFloat(text, number, DefaultFormatSettings())) return number != 0;
    if (SameText(text, "True")) return true;
    if (SameText(text, "False")) return false;
    return def;
}

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
    return FormatSettings->StrToFloatDef(ReadAttrText(node, attrName), def);
}

int TParserBaseXML::ReadAttrInteger(const TXMLNode& node, const std::string& attrName, int def) {
    return StrToIntDef(ReadAttrText(node, attrName), def);
}

int TParserBaseXML::ReadAttrInteger(const TXMLNode& node, const std::string& attrName) {
    return ReadAttrInteger(node, attrName, 0);
}

bool TParserBaseXML::ReadAttrBoolean(const TXMLNode& node, const std::string& attrName) {
    return TextToBoolean(ReadAttrText(node, attrName), false);
}

std::string TParserBaseXML::ReadText(const TXMLNode& node) {
    const std::optional<std::string> value = node.NodeValue();
    return value ? Trim(*value) : std::string();
}

double TParserBaseXML::ReadFloat(const TXMLNode& node, double def) {
    return FormatSettings->StrToFloatDef(ReadText(node), def);
}

int TParserBaseXML::ReadInteger(const TXMLNode& node, int def) {
    return StrToIntDef(ReadText(node), def);
}

int TParserBaseXML::ReadHexInteger(const TXMLNode& node) {
    std::string text = StringReplaceAll(ReadText(node), "#", "$");
    if (text.find('$') == std::string::npos) text.insert(0, "$");
    return text.front() == '$' ? HexToInteger(std::string_view(text).substr(1)) : 0;
}

int64_t TParserBaseXML::ReadInt64(const TXMLNode& node, int64_t def) {
    return StrToInt64Def(ReadText(node), def);
}

int64_t TParserBaseXML::ReadInt64(const TXMLNode& node) {
    return ReadInt64(node, 0);
}

bool TParserBaseXML::ReadBoolean(const TXMLNode& node) {
    return TextToBoolean(ReadText(node), false);
}

bool TParserBaseXML::ReadTextIn(const TXMLNode& node, const std::vector<std::string>& values) {
    if (values.empty()) return false;
    const std::string text = ReadText(node);
    for (const std::string& v : values)
        if (v == text) return true;
    return false;
}

TDateTime TParserBaseXML::ReadDateTime(const TXMLNode& node) {
    return FormatSettings->StrToDateTimeDef(ReadText(node), 0);
}

TDateTime TParserBaseXML::ReadDateTime(const TXMLNode& node, const TFormatSettings& settings) {
    const TFormatSettings copy = settings;
    TDateTime value;
    return TryStrToDateTime(ReadText(node), value, copy) ? value : 0;
}

TCurrency TParserBaseXML::ReadCurrency(const TXMLNode& node) {
    return TCurrency::FromDouble(ReadFloat(node, 0));
}

char TParserBaseXML::ReadChar(const TXMLNode& node) {
    const std::optional<std::string> value = node.NodeValue();
    return value && !value->empty() ? value->front() : '\0';
}

void TParserBaseXML::ReadStrings(const TXMLNode& node, TStringLines& list, std::string_view separator) {
    const std::string text = ReadText(node);
    list = TextToLines(separator.empty() ? text : StringReplaceAll(text, separator, "\n"));
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

void TWriterBaseXML::WriteInteger(TXMLNode node, const std::string& name, int value, int def) {
    WriteString(node, name, IntToStr(value), IntToStr(def));
}

void TWriterBaseXML::WriteInt64(TXMLNode node, const std::string& name, int64_t value, int64_t def) {
    WriteString(node, name, IntToStr(value), IntToStr(def));
}

void TWriterBaseXML::WriteFloat(TXMLNode node, const std::string& name, double value, double def) {
    const TFormatSettings& fs = FormatSettings->FormatSettings();
    WriteString(node, name, FloatToStr(value, fs), FloatToStr(def, fs));
}

std::string TWriterBaseXML::DateTimeToText(TDateTime value, const TFormatSettings& settings) {
    int h, n, s, z;
    DecodeTime(value, h, n, s, z);
    std::string text = FormatDateTime(settings.ShortDateFormat, value, settings);
    if (h != 0 || n != 0 || s != 0) text += " " + FormatDateTime(settings.LongTimeFormat, value, settings);
    return text;
}

void TWriterBaseXML::WriteDateTime(TXMLNode node, const std::string& name, TDateTime value, TDateTime def) {
    WriteDateTime(node, name, value, FormatSettings->FormatSettings(), def);
}

void TWriterBaseXML::WriteDateTime(TXMLNode node, const std::string& name, TDateTime value,
                                   const TFormatSettings& settings, TDateTime def) {
    const TFormatSettings copy = settings;
    WriteString(node, name, DateTimeToText(value, copy), DateTimeToText(def, copy));
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
