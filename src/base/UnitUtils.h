#pragma once
// Small shared string routines in the style the rest of the system expects.

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

// One argument of Format: an integer, a floating-point number or a text, as Delphi's "array of const".
struct TFormatArg {
    std::variant<long long, unsigned long long, double, std::string> Value;
    TFormatArg(int v) : Value(static_cast<long long>(v)) {}
    TFormatArg(long v) : Value(static_cast<long long>(v)) {}
    TFormatArg(long long v) : Value(v) {}
    TFormatArg(unsigned v) : Value(static_cast<unsigned long long>(v)) {}
    TFormatArg(unsigned long v) : Value(static_cast<unsigned long long>(v)) {}
    TFormatArg(unsigned long long v) : Value(v) {}
    TFormatArg(double v) : Value(v) {}
    TFormatArg(const char* v) : Value(std::string(v ? v : "")) {}
    TFormatArg(std::string v) : Value(std::move(v)) {}
    TFormatArg(std::string_view v) : Value(std::string(v)) {}
};

// printf-like formatting with %s, %d, %u, %x, %f, %g, %e (flags, width and precision allowed) and %%.
// A directive that does not match its argument, or a missing argument, raises EConvertError.
std::string Format(std::string_view format, std::initializer_list<TFormatArg> args);
std::string Format(std::string_view format, const std::vector<TFormatArg>& args);

std::string Trim(std::string_view s); // drops leading and trailing characters up to and including blank
std::string TrimLeft(std::string_view s);
std::string TrimRight(std::string_view s);
std::string UpperCase(std::string_view s); // ASCII letters only, as the system compares names
std::string LowerCase(std::string_view s);
bool SameText(std::string_view a, std::string_view b);
bool StartsText(std::string_view prefix, std::string_view s);
std::string StringReplaceAll(std::string_view s, std::string_view from, std::string_view to);
std::string IntToStr(long long v);
int StrToIntDef(std::string_view s, int def);
long long StrToInt64Def(std::string_view s, long long def);
bool TryStrToInt64(std::string_view s, long long& value);
std::string SysErrorMessage(int errorCode);

// Length of the well-formed UTF-8 sequence that starts at s[i] (overlong forms, surrogates and values above
// U+10FFFF are not well-formed), or 0. A zero byte counts as a sequence of length 1.
size_t Utf8SequenceLength(std::string_view s, size_t i);
// Why the text cannot be a one-line value typed by a user: "it is not UTF-8 text" or "it holds a control
// character" (a line end, a NUL, any C0 or C1 control or DEL); empty when it can.
std::string TextValueFault(std::string_view s);
// The text cut to at most maxChars code points at a character's border, with "…" in place of what was cut;
// bytes that are not UTF-8 count one each.
std::string CutText(std::string_view s, size_t maxChars);
// Writes the code point (up to U+10FFFF; a surrogate as the three bytes of its value) as UTF-8 at out and
// answers how many bytes it took, 1 to 4.
size_t EncodeUtf8(uint32_t cp, char* out);

// Text made safe for HTML element content and attribute values.
std::string HtmlEscape(std::string_view s);
// True for an http or https address (any case, after any blanks or control characters a browser skips):
// the only addresses taken from eBay's answers that may become links or image sources.
bool IsWebAddress(std::string_view s);
// Text made safe for XML element content and attribute values.
std::string XmlEscape(std::string_view s);
// Bytes in standard base64 with padding, as HTTP's Basic authorisation carries them.
std::string Base64Encode(std::string_view bytes);
// A value as a URL query carries it: letters, digits and "-._~" stay, every other byte becomes %XX.
std::string QueryEncode(std::string_view value);
// A query value decoded: %XX escapes and '+' for a blank, as browsers write them.
std::string QueryDecode(std::string_view value);
