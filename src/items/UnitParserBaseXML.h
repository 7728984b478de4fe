#pragma once
// Typed, locale-independent reading and writing of XML element texts and attribute values: every XML
// reader of the system derives from TParserBaseXML, every writer uses TWriterBaseXML.

#include "items/UnitXMLDom.h"
#include "support/UnitFormatSettings.h"
#include "time/UnitAlternateFormatSettings.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// A fixed-point amount held as a count of ten-thousandths.
struct TCurrency {
    int64_t Scaled = 0;
    double AsDouble() const { return static_cast<double>(Scaled) / 10000.0; }
    bool operator==(const TCurrency&) const = default;
    // Rounds to the nearest ten-thousandth; raises EConvertError outside the currency range.
    static TCurrency FromDouble(double value);
};

// A string list: one entry per line; name-value entries are "name=value" lines.
using TStringLines = std::vector<std::string>;

// Splits text at line breaks (CR, LF or CR LF) into lines; a final line break ends the last line.
TStringLines TextToLines(std::string_view text);
// The lines, each followed by a line break.
std::string LinesToText(const TStringLines& lines);
// Sets the entry "name=value" (names compared without letter case); an empty value removes it.
void SetLinesValue(TStringLines& lines, std::string_view name, std::string_view value);
// The value of the entry with that name, or "".
std::string LinesValue(const TStringLines& lines, std::string_view name);

// The conversions of the typed readers and writers, on text views and without building a string or a format
// record per value; each gives exactly what the general format-record conversion gives for the same text.
// Blanks and control characters around the text are ignored.
inline std::string_view TrimView(std::string_view s) {
    size_t b = 0, e = s.size();
    while (b < e && static_cast<unsigned char>(s[b]) <= ' ')
        ++b;
    while (e > b && static_cast<unsigned char>(s[e - 1]) <= ' ')
        --e;
    return s.substr(b, e - b);
}
// A float with the given decimal separator (see TryStrToFloat).
bool TryTextToFloat(std::string_view text, char decimalSeparator, double& value);
// Decimal digits, or hexadecimal after "$" or "0x" (see TryStrToInt64).
bool TryTextToInt64(std::string_view text, long long& value);
int TextToIntDef(std::string_view text, int def);
// "True" and "False" in any letter case, or a number (not 0 is true) in the user's format; def otherwise.
bool TextToBoolean(std::string_view text, bool def);
// The text split at every separator and line break into the whole list (see ReadStrings).
void SplitTextLines(std::string_view text, TStringLines& list, std::string_view separator);
// The record's date and time (see TryStrToDateTime); the stored forms "dd.mm.yyyy" and "dd.mm.yyyy hh:mm:ss"
// are read directly.
bool TryTextToDateTime(std::string_view text, TDateTime& value, const TFormatSettings& settings);
// FloatToStr of the value with that decimal separator, appended to out.
void AppendFloatText(std::string& out, double value, char decimalSeparator);
// The date, and " hh:mm:ss" unless the time is midnight, in the record's short date and long time formats.
void AppendDateTimeText(std::string& out, TDateTime value, const TFormatSettings& settings);

// The format state shared by readers and writers; each object has its own, so threads never share one.
class TParserOrWriterBaseXML {
public:
    TParserOrWriterBaseXML();
    virtual ~TParserOrWriterBaseXML() = default;
    TParserOrWriterBaseXML(const TParserOrWriterBaseXML&) = delete;
    TParserOrWriterBaseXML& operator=(const TParserOrWriterBaseXML&) = delete;

    // "." gives decimal "." and thousands ","; any other character decimal "," and thousands ".".
    void SetDecimalSeparator(char c);
    // Date separator ".", time separator ":", "dd.mm.yyyy", "hh:mm", "hh:mm:ss"; the decimal separator stays.
    void ResetFormats();
    const TAlternateFormatSettings& GetFormatSettings() const { return *FormatSettings; }

protected:
    char DecimalSeparator() const { return FormatSettings->FormatSettings().DecimalSeparator; }

    std::unique_ptr<TAlternateFormatSettings> FormatSettings;
};

// Reads typed values from element texts and attributes. A missing node or child is no error: texts read
// as "", numbers as the caller's default. The value of an element holding child elements raises
// EXMLDomError, which passes to the caller.
class TParserBaseXML : public TParserOrWriterBaseXML {
public:
    // Attribute reads need an existing node; a missing one reads as an absent attribute.
    virtual bool AttributeEquals(const std::string& attrName, std::string_view expected,
                                 const TXMLNode& node);
    virtual std::string ReadAttrText(const TXMLNode& node, const std::string& attrName);
    virtual double ReadAttrFloat(const TXMLNode& node, const std::string& attrName, double def);
    virtual int ReadAttrInteger(const TXMLNode& node, const std::string& attrName, int def);
    virtual int ReadAttrInteger(const TXMLNode& node, const std::string& attrName);
    virtual bool ReadAttrBoolean(const TXMLNode& node, const std::string& attrName);

    // The node's value without leading and trailing blanks and control characters.
    virtual std::string ReadText(const TXMLNode& node);
    virtual double ReadFloat(const TXMLNode& node, double def);
    virtual int ReadInteger(const TXMLNode& node, int def);
    // "#FF8000", "FF8000" and "$FF8000" all read as $FF8000; 0 when the text is no hexadecimal number.
    virtual int ReadHexInteger(const TXMLNode& node);
    virtual int64_t ReadInt64(const TXMLNode& node, int64_t def);
    virtual int64_t ReadInt64(const TXMLNode& node);
    virtual bool ReadBoolean(const TXMLNode& node);
    // True when the text equals one of the strings exactly.
    virtual bool ReadTextIn(const TXMLNode& node, const std::vector<std::string>& values);
    virtual TDateTime ReadDateTime(const TXMLNode& node);
    virtual TDateTime ReadDateTime(const TXMLNode& node, const TFormatSettings& settings);
    // Raises EConvertError for a number outside the currency range.
    virtual TCurrency ReadCurrency(const TXMLNode& node);
    // The first character of the untrimmed value, '\0' when there is none.
    virtual char ReadChar(const TXMLNode& node);
    // The text, split at every separator, becomes the whole list.
    virtual void ReadStrings(const TXMLNode& node, TStringLines& list, std::string_view separator);
    virtual void ReadChildStrings(const TXMLNode& parent, const std::string& childName, TStringLines& list,
                                  std::string_view separator);
    // One line per child element, or with nameValue one "tag=text" entry per child with a text.
    virtual void ReadNodeList(const TXMLNode& node, TStringLines& list, bool nameValue);
    virtual void ReadChildNodeList(const TXMLNode& parent, const std::string& childName, TStringLines& list,
                                   bool nameValue);
    virtual std::string ReadChildText(const TXMLNode& parent, const std::string& childName);
    virtual double ReadChildFloat(const TXMLNode& parent, const std::string& childName, double def);
    virtual int ReadChildInteger(const TXMLNode& parent, const std::string& childName, int def);
    virtual int64_t ReadChildInt64(const TXMLNode& parent, const std::string& childName, int64_t def);
    virtual int ReadChildHexInteger(const TXMLNode& parent, const std::string& childName);
    virtual int64_t ReadChildInt64(const TXMLNode& parent, const std::string& childName);
    virtual bool ReadChildBoolean(const TXMLNode& parent, const std::string& childName);
    virtual bool ReadChildTextIn(const TXMLNode& parent, const std::string& childName,
                                 const std::vector<std::string>& values);
    virtual TDateTime ReadChildDateTime(const TXMLNode& parent, const std::string& childName);
    virtual TDateTime ReadChildDateTime(const TXMLNode& parent, const std::string& childName,
                                        const TFormatSettings& settings);
    virtual TCurrency ReadChildCurrency(const TXMLNode& parent, const std::string& childName);

    // The first child element with that name, without creating one; empty when the parent is.
    static TXMLNode Child(const TXMLNode& parent, const std::string& childName);
    static TXMLNode Child(const TXMLNode& parent, const char* childName) {
        return TXMLNode(parent.Raw().child(childName));
    }
    // ReadText without a copy: valid while the document is unchanged. Raises as ReadText does.
    static std::string_view TextView(const TXMLNode& node) {
        const std::optional<std::string_view> value = node.ValueView();
        return value ? TrimView(*value) : std::string_view();
    }
    // The attribute's value, "" when the node or the attribute is missing.
    static std::string_view AttrView(const TXMLNode& node, const std::string& attrName);
    static std::string_view AttrView(const TXMLNode& node, const char* attrName) {
        return node.Raw().attribute(attrName).value();
    }
};

// The first child element of each of a fixed set of names, found in one pass over the parent's children
// instead of one search per name. Names are tried from the one after the last found, so children in the
// order of the names cost one comparison each. The names must outlive the object.
class TChildElements {
public:
    static constexpr int MaxNames = 48;
    TChildElements(const TXMLNode& parent, const char* const* names, int count);
    // The child of names[index], or an empty node.
    TXMLNode operator[](int index) const { return TXMLNode(pugi::xml_node(FNodes[index])); }

private:
    // Plain pointers, so that the table costs no constructor calls into the library.
    pugi::xml_node_struct* FNodes[MaxNames];
};

// Writes typed values as child elements. With OmitDefaults a value equal to its default leaves no element.
class TWriterBaseXML : public TParserOrWriterBaseXML {
public:
    bool OmitDefaults = true;

    // Does nothing when the node is missing.
    void SetText(TXMLNode node, std::string_view text);
    // Appends a new child element (never updates one in place) unless OmitDefaults drops the value; a dropped
    // value also removes an existing child of that name.
    void WriteString(TXMLNode node, const std::string& name, std::string_view value, std::string_view def);
    void WriteInteger(TXMLNode node, const std::string& name, int value, int def);
    void WriteInt64(TXMLNode node, const std::string& name, int64_t value, int64_t def);
    // General format, at most 15 significant digits, the object's decimal separator.
    void WriteFloat(TXMLNode node, const std::string& name, double value, double def);
    // "dd.mm.yyyy", followed by " hh:mm:ss" unless the time is midnight; milliseconds are dropped.
    void WriteDateTime(TXMLNode node, const std::string& name, TDateTime value, TDateTime def);
    void WriteDateTime(TXMLNode node, const std::string& name, TDateTime value,
                       const TFormatSettings& settings, TDateTime def);
    // "True"/"False" with useWords, "-1"/"0" without.
    void WriteBoolean(TXMLNode node, const std::string& name, bool value, bool useWords, bool def);
    // The lines joined with the separator become the node's text; an empty list writes nothing.
    virtual void WriteStrings(TXMLNode node, const TStringLines& list, std::string_view separator);
    virtual void WriteChildStrings(TXMLNode node, const std::string& name, const TStringLines& list,
                                   std::string_view separator);

    static std::string DateTimeToText(TDateTime value, const TFormatSettings& settings);
};
