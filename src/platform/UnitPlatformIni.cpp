#include "platform/UnitPlatformIni.h"

#include "base/UnitUtils.h"
#include "platform/UnitPlatformFiles.h"

#include <optional>
#include <string_view>

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string_view TrimBlanks(std::string_view s) {
    while (!s.empty() && IsBlank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back()))
        s.remove_suffix(1);
    return s;
}

bool IsQuote(char c) {
    return c == '"' || c == '\'';
}

// One line of the file: [Begin, End) is its text without the line break, Next the start of the next line.
struct TLine {
    size_t Begin = 0, End = 0, Next = 0;
};

// Walks the lines of a file's text; a final line without a line break counts as a line.
class TLineReader {
public:
    explicit TLineReader(std::string_view text) : FText(text) {
        // A byte order mark in front of the first line is not part of a section or key name.
        if (FText.substr(0, 3) == "\xEF\xBB\xBF") FPos = 3;
    }
    bool Next(TLine& line) {
        if (FPos >= FText.size()) return false;
        const size_t nl = FText.find('\n', FPos);
        line.Begin = FPos;
        line.Next = nl == std::string_view::npos ? FText.size() : nl + 1;
        line.End = nl == std::string_view::npos ? FText.size() : nl;
        if (line.End > line.Begin && FText[line.End - 1] == '\r') --line.End;
        FPos = line.Next;
        return true;
    }
    std::string_view Text(const TLine& line) const { return FText.substr(line.Begin, line.End - line.Begin); }

private:
    std::string_view FText;
    size_t FPos = 0;
};

// The section name of a header line, or nullopt when the line is no header.
std::optional<std::string_view> SectionHeader(std::string_view line) {
    line = TrimBlanks(line);
    if (line.empty() || line.front() != '[') return std::nullopt;
    line.remove_prefix(1);
    const size_t close = line.find(']');
    return TrimBlanks(close == std::string_view::npos ? line : line.substr(0, close));
}

// Where a key sits in the text, as far as it was found.
struct TKeyLocation {
    bool SectionFound = false;
    bool KeyFound = false;
    TLine KeyLine;         // valid when KeyFound
    size_t ValueBegin = 0; // offset of the text after "=" when KeyFound
    size_t AppendAt = 0;   // where a new key of the section goes: after its last non-blank line
    // The line before AppendAt lacks its '\n' (the file's last line; a lone '\r' does not end a line).
    bool AppendNeedsBreak = false;
};

TKeyLocation Locate(std::string_view text, std::string_view section, std::string_view ident) {
    TKeyLocation loc;
    TLineReader reader(text);
    TLine line;
    bool inSection = false;
    while (reader.Next(line)) {
        const std::string_view lineText = reader.Text(line);
        if (const auto header = SectionHeader(lineText)) {
            if (inSection) break; // only the first section of the name counts
            if (SameText(*header, section)) {
                inSection = loc.SectionFound = true;
                loc.AppendAt = line.Next;
                loc.AppendNeedsBreak = text[line.Next - 1] != '\n';
            }
            continue;
        }
        if (!inSection) continue;
        if (!TrimBlanks(lineText).empty()) {
            loc.AppendAt = line.Next;
            loc.AppendNeedsBreak = text[line.Next - 1] != '\n';
        }
        const size_t eq = lineText.find('=');
        if (eq == std::string_view::npos) continue;
        if (SameText(TrimBlanks(lineText.substr(0, eq)), ident)) {
            loc.KeyFound = true;
            loc.KeyLine = line;
            loc.ValueBegin = line.Begin + eq + 1;
            return loc;
        }
    }
    return loc;
}

// Cuts to at most MaxValueLength bytes without splitting a UTF-8 sequence at the cut.
std::string CutValue(std::string_view value) {
    size_t n = TIniFile::MaxValueLength;
    if (value.size() <= n) return std::string(value);
    auto continuation = [&](size_t i) { return (static_cast<unsigned char>(value[i]) & 0xC0) == 0x80; };
    size_t lead = n;
    for (int back = 0; back < 3 && lead > 0 && continuation(lead); ++back)
        --lead;
    if (lead < n && static_cast<unsigned char>(value[lead]) >= 0xC0) n = lead;
    return std::string(value.substr(0, n));
}

std::string StoredValue(std::string_view raw) {
    raw = TrimBlanks(raw);
    if (raw.size() >= 2 && IsQuote(raw.front()) && raw.back() == raw.front())
        raw = raw.substr(1, raw.size() - 2);
    return CutValue(raw);
}

// The text after "=" that reads back as value: blanks at either end or a quote at either end would be taken
// away by the reader, so such values are written inside double quotes.
std::string EncodeValue(const std::string& value) {
    if (value.empty()) return value;
    const char first = value.front(), last = value.back();
    if (IsBlank(first) || IsBlank(last) || IsQuote(first) || IsQuote(last)) return '"' + value + '"';
    return value;
}

bool HasLineBreak(std::string_view s) {
    return s.find_first_of("\r\n") != std::string_view::npos;
}

// The line break style of the file, so that added lines match the ones already there.
std::string_view LineBreakOf(std::string_view text) {
    const size_t nl = text.find('\n');
    return nl != std::string_view::npos && nl > 0 && text[nl - 1] == '\r' ? "\r\n" : "\n";
}

// The break that ends an unfinished last line: after a lone '\r', which the reader already takes away, only
// "\n" keeps the line's value as it reads.
std::string_view BreakAfter(std::string_view text, size_t end, std::string_view br) {
    return end > 0 && text[end - 1] == '\r' ? "\n" : br;
}

} // namespace

std::string TIniFile::ReadString(const std::string& section, const std::string& ident,
                                 const std::string& def) const {
    std::string text;
    if (!TryReadFileBytes(FFileName, text)) return def;
    const TKeyLocation loc = Locate(text, section, ident);
    if (!loc.KeyFound) return def;
    return StoredValue(std::string_view(text).substr(loc.ValueBegin, loc.KeyLine.End - loc.ValueBegin));
}

bool TIniFile::ValueExists(const std::string& section, const std::string& ident) const {
    std::string text;
    return TryReadFileBytes(FFileName, text) && Locate(text, section, ident).KeyFound;
}

void TIniFile::WriteString(const std::string& section, const std::string& ident, const std::string& value) {
    const std::string failure = Format("Unable to write in %s", {FFileName});
    // A line break would end the line early and let the rest pose as keys or sections of its own.
    if (HasLineBreak(section) || HasLineBreak(ident) || HasLineBreak(value))
        throw EIniFileException(failure + ": a line break cannot be stored");
    if (TrimBlanks(ident).empty() || ident.find('=') != std::string::npos ||
        TrimBlanks(ident).front() == '[' || section.find(']') != std::string::npos)
        throw EIniFileException(failure + ": invalid section or key name");

    std::lock_guard lock(FWriteLock);
    std::string text;
    if (!TryReadFileBytes(FFileName, text)) {
        // Rewriting a file that exists but cannot be read would drop every other setting in it.
        if (FileExists(FFileName) || DirectoryExists(FFileName)) throw EIniFileException(failure);
        text.clear();
    }
    const std::string_view br = LineBreakOf(text);
    const std::string keyLine = ident + "=" + EncodeValue(value);
    const TKeyLocation loc = Locate(text, section, ident);
    std::string updated;
    if (loc.KeyFound) {
        updated = text.substr(0, loc.KeyLine.Begin) + keyLine + text.substr(loc.KeyLine.End);
    } else if (loc.SectionFound) {
        updated = text.substr(0, loc.AppendAt);
        if (loc.AppendNeedsBreak) updated += BreakAfter(text, loc.AppendAt, br);
        updated += keyLine;
        updated += br;
        updated += text.substr(loc.AppendAt);
    } else {
        updated = text;
        if (!updated.empty() && updated.back() != '\n') updated += BreakAfter(text, text.size(), br);
        updated += "[" + section + "]";
        updated += br;
        updated += keyLine;
        updated += br;
    }
    try {
        WriteFileAtomic(FFileName, updated, TFileAccess::OwnerOnly, TFileKeep::Durable);
    } catch (const Exception&) {
        throw EIniFileException(failure);
    }
}

void TIniFile::DeleteKey(const std::string& section, const std::string& ident) {
    std::lock_guard lock(FWriteLock);
    std::string text;
    if (!TryReadFileBytes(FFileName, text)) return;
    const TKeyLocation loc = Locate(text, section, ident);
    if (!loc.KeyFound) return;
    try {
        WriteFileAtomic(FFileName, text.substr(0, loc.KeyLine.Begin) + text.substr(loc.KeyLine.Next),
                        TFileAccess::OwnerOnly, TFileKeep::Durable);
    } catch (const Exception&) {
        // Deleting only ever puts a default back; when it fails the old value stays readable, as callers
        // expect.
    }
}
