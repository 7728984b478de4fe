#include "items/UnitXMLDom.h"

#include "base/UnitUtils.h"
#include "platform/UnitPlatformFiles.h"

#include <cstdint>
#include <cstring>
#include <istream>
#include <iterator>
#include <utility>

namespace {

const char* const SNotSingleTextNode = "Element does not contain a single text node";

enum class TByteLayout { Bytes8, Utf8Bom, Utf16LE, Utf16BE, Utf32LE, Utf32BE };

bool StartsWithBytes(std::string_view s, std::string_view prefix) {
    return s.substr(0, prefix.size()) == prefix;
}

TByteLayout DetectLayout(std::string_view b) {
    using namespace std::string_view_literals;
    if (StartsWithBytes(b, "\x00\x00\xFE\xFF"sv) || StartsWithBytes(b, "\x00\x00\x00<"sv))
        return TByteLayout::Utf32BE;
    if (StartsWithBytes(b, "\xFF\xFE\x00\x00"sv) || StartsWithBytes(b, "<\x00\x00\x00"sv))
        return TByteLayout::Utf32LE;
    if (StartsWithBytes(b, "\xEF\xBB\xBF"sv)) return TByteLayout::Utf8Bom;
    if (StartsWithBytes(b, "\xFE\xFF"sv) || StartsWithBytes(b, "\x00<"sv)) return TByteLayout::Utf16BE;
    if (StartsWithBytes(b, "\xFF\xFE"sv) || StartsWithBytes(b, "<\x00"sv)) return TByteLayout::Utf16LE;
    return TByteLayout::Bytes8;
}

// The encoding named by the declaration of an ASCII-compatible document, or "" when it names none.
std::string DeclaredEncoding(std::string_view b) {
    if (!StartsWithBytes(b, "<?xml")) return "";
    const size_t end = b.find("?>");
    const std::string_view decl = b.substr(0, end);
    const size_t key = decl.find("encoding");
    if (key == std::string_view::npos) return "";
    size_t i = key + 8;
    while (i < decl.size() && (decl[i] == ' ' || decl[i] == '\t' || decl[i] == '\r' || decl[i] == '\n'))
        ++i;
    if (i >= decl.size() || decl[i] != '=') return "";
    ++i;
    while (i < decl.size() && (decl[i] == ' ' || decl[i] == '\t' || decl[i] == '\r' || decl[i] == '\n'))
        ++i;
    if (i >= decl.size() || (decl[i] != '"' && decl[i] != '\'')) return "";
    const size_t close = decl.find(decl[i], i + 1);
    if (close == std::string_view::npos) return "";
    return std::string(decl.substr(i + 1, close - i - 1));
}

bool IsOneOf(const std::string& name, std::initializer_list<const char*> names) {
    for (const char* n : names)
        if (SameText(name, n)) return true;
    return false;
}

// Offset of the first byte that breaks UTF-8 (overlong forms, surrogates and values above U+10FFFF
// included), or npos.
size_t InvalidUtf8At(std::string_view s) {
    for (size_t i = 0; i < s.size();) {
        // Answers and item files are mostly ASCII: such bytes are passed over 32 at a time.
        while (i + 32 <= s.size()) {
            uint64_t block[4];
            std::memcpy(block, s.data() + i, 32);
            if ((block[0] | block[1] | block[2] | block[3]) & 0x8080808080808080ULL) break;
            i += 32;
        }
        while (i + 8 <= s.size()) {
            uint64_t block;
            std::memcpy(&block, s.data() + i, 8);
            if (block & 0x8080808080808080ULL) break;
            i += 8;
        }
        if (i >= s.size()) break;
        const auto c = static_cast<unsigned char>(s[i]);
        if (c < 0x80) {
            ++i;
            continue;
        }
        // Two-byte letters (most accented Latin ones) are checked here; the rest by the general rule.
        if (c >= 0xC2 && c <= 0xDF && i + 1 < s.size() &&
            (static_cast<unsigned char>(s[i + 1]) & 0xC0) == 0x80) {
            i += 2;
            continue;
        }
        const size_t len = Utf8SequenceLength(s, i);
        if (len == 0) return i;
        i += len;
    }
    return std::string_view::npos;
}

// The reference at p, written at out: the five named ones and character numbers from 1 to U+10FFFF, in
// UTF-8 as pugixml writes them. Answers the position after it, nullptr for any other.
char* DecodeReference(char* p, char* const end, char*& out) {
    static constexpr std::pair<std::string_view, char> Named[] = {
        {"&lt;", '<'}, {"&gt;", '>'}, {"&amp;", '&'}, {"&quot;", '"'}, {"&apos;", '\''}};
    const std::string_view rest(p, static_cast<size_t>(end - p));
    for (const auto& [name, c] : Named)
        if (rest.substr(0, name.size()) == name) {
            *out++ = c;
            return p + name.size();
        }
    if (rest.size() < 4 || rest[1] != '#') return nullptr;
    const bool hex = rest[2] == 'x';
    size_t i = hex ? 3 : 2;
    uint32_t code = 0;
    const size_t first = i;
    for (; i < rest.size() && rest[i] != ';'; ++i) {
        const char d = rest[i];
        uint32_t digit;
        if (d >= '0' && d <= '9')
            digit = static_cast<uint32_t>(d - '0');
        else if (hex && (d | ' ') >= 'a' && (d | ' ') <= 'f')
            digit = static_cast<uint32_t>((d | ' ') - 'a' + 10);
        else
            return nullptr;
        code = code * (hex ? 16 : 10) + digit;
        if (code > 0x10FFFF) return nullptr;
    }
    if (i == first || i == rest.size() || code == 0) return nullptr;
    out += EncodeUtf8(code, out);
    return p + i + 1;
}

// windows-1252 differs from ISO-8859-1 only in 0x80..0x9F; the five unassigned bytes stay unassigned.
std::string Windows1252ToUtf8(std::string_view s) {
    static const unsigned short High[32] = {0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                            0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
                                            0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                            0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};
    std::string out;
    out.reserve(s.size() + s.size() / 8);
    for (size_t i = 0; i < s.size(); ++i) {
        const auto c = static_cast<unsigned char>(s[i]);
        unsigned cp = c;
        if (c >= 0x80 && c <= 0x9F) {
            cp = High[c - 0x80];
            if (cp == 0)
                throw EXMLDomError(Format("Byte $%.2x at offset %u is not a windows-1252 character", {c, i}));
        }
        char utf8[4];
        out.append(utf8, EncodeUtf8(cp, utf8));
    }
    return out;
}

// A failed parse leaves no partial tree behind. Documents are parsed as fragments so that text beside the
// root, which pugixml would otherwise drop silently, can be refused like a missing or second root.
void Check(pugi::xml_document& doc, const pugi::xml_parse_result& result) {
    std::string problem;
    if (!result) {
        problem = Format("%s at offset %d", {result.description(), static_cast<long long>(result.offset)});
    } else {
        int elements = 0;
        for (pugi::xml_node n = doc.first_child(); n; n = n.next_sibling()) {
            if (n.type() == pugi::node_element)
                ++elements;
            else if (n.type() == pugi::node_pcdata || n.type() == pugi::node_cdata)
                problem = "Text outside the root element";
        }
        if (elements == 0 && problem.empty()) problem = "The document has no root element";
        if (elements > 1) problem = "More than one root element";
    }
    if (problem.empty()) return;
    doc.reset();
    throw EXMLDomError(problem);
}

} // namespace

// TXMLNode

pugi::xml_node TXMLNode::Require(const char* operation) const {
    if (!FNode) throw EXMLDomError(Format("%s: the node does not exist", {operation}));
    return FNode;
}

std::string TXMLNode::NodeName() const {
    return FNode.name();
}

std::optional<std::string> TXMLNode::NodeValue() const {
    const std::optional<std::string_view> value = ValueView();
    if (!value) return std::nullopt;
    return std::string(*value);
}

void TXMLNode::NotSingleText() {
    throw EXMLDomError(SNotSingleTextNode);
}

void TXMLNode::SetNodeValue(std::string_view value) {
    pugi::xml_node node = Require("SetNodeValue");
    if (node.type() == pugi::node_pcdata || node.type() == pugi::node_cdata) {
        node.set_value(value.data(), value.size());
        return;
    }
    while (node.first_child())
        node.remove_child(node.first_child());
    // An empty value leaves an empty element, which reads as null now and after a reload alike.
    if (!value.empty()) node.append_child(pugi::node_pcdata).set_value(value.data(), value.size());
}

std::optional<std::string> TXMLNode::GetAttribute(const std::string& name) const {
    const pugi::xml_attribute attr = FNode.attribute(name.c_str());
    if (!attr) return std::nullopt;
    return std::string(attr.value());
}

void TXMLNode::SetAttribute(const std::string& name, std::string_view value) {
    pugi::xml_node node = Require("SetAttribute");
    pugi::xml_attribute attr = node.attribute(name.c_str());
    if (!attr) attr = node.append_attribute(name.c_str());
    attr.set_value(value.data(), value.size());
}

TXMLNode TXMLNode::AddChild(const std::string& name) {
    pugi::xml_node child = Require("AddChild").append_child(name.c_str());
    if (!child) throw EXMLDomError(Format("AddChild: cannot add the element \"%s\"", {name}));
    return TXMLNode(child);
}

TXMLNodeList TXMLNode::ChildNodes() const {
    return TXMLNodeList(FNode);
}

// TXMLNodeList

TXMLNode TXMLNodeList::FindNode(const std::string& name) const {
    return TXMLNode(FParent.child(name.c_str()));
}

TXMLNode TXMLNodeList::GetNodeByName(const std::string& name) {
    if (pugi::xml_node found = FParent.child(name.c_str())) return TXMLNode(found);
    return TXMLNode(FParent).AddChild(name);
}

bool TXMLNodeList::Delete(const std::string& name) {
    pugi::xml_node found = FParent.child(name.c_str());
    return found && FParent.remove_child(found);
}

int TXMLNodeList::Count() const {
    int n = 0;
    for (pugi::xml_node c = FParent.first_child(); c; c = c.next_sibling())
        ++n;
    return n;
}

// TXMLDocument

TXMLDocument::TXMLDocument() : FDoc(std::make_unique<pugi::xml_document>()) {
}
TXMLDocument::~TXMLDocument() = default;

void TXMLDocument::LoadFromXML(std::string_view bytes, bool allowInvalidUtf8) {
    Load(bytes, nullptr, allowInvalidUtf8);
}

void TXMLDocument::Load(std::string_view bytes, std::string* owned, bool allowInvalidUtf8) {
    FDoc->reset();
    FHadInvalidUtf8 = false;
    const unsigned options = pugi::parse_default | pugi::parse_declaration | pugi::parse_fragment;
    const TByteLayout layout = DetectLayout(bytes);
    if (layout != TByteLayout::Bytes8 && layout != TByteLayout::Utf8Bom) {
        const bool wide16 = layout == TByteLayout::Utf16LE || layout == TByteLayout::Utf16BE;
        const pugi::xml_encoding enc = layout == TByteLayout::Utf16LE   ? pugi::encoding_utf16_le
                                       : layout == TByteLayout::Utf16BE ? pugi::encoding_utf16_be
                                       : layout == TByteLayout::Utf32LE ? pugi::encoding_utf32_le
                                                                        : pugi::encoding_utf32_be;
        Check(*FDoc, FDoc->load_buffer(bytes.data(), bytes.size(), options, enc));
        // The bytes fix the encoding; a declaration naming another one means the document is not what it
        // says.
        const pugi::xml_node decl = FDoc->first_child();
        const std::string declared =
            decl.type() == pugi::node_declaration ? decl.attribute("encoding").value() : std::string();
        const bool fits =
            declared.empty() || (wide16 ? IsOneOf(declared, {"UTF-16", "UTF-16LE", "UTF-16BE", "UCS-2"})
                                        : IsOneOf(declared, {"UTF-32", "UTF-32LE", "UTF-32BE", "UCS-4"}));
        if (!fits) {
            FDoc->reset();
            throw EXMLDomError(Format("The document declares the encoding \"%s\" but is written in %s",
                                      {declared, wide16 ? "UTF-16" : "UTF-32"}));
        }
        return;
    }
    std::string_view body = bytes;
    if (layout == TByteLayout::Utf8Bom) body.remove_prefix(3);
    const std::string declared = DeclaredEncoding(body);
    std::string converted;
    pugi::xml_encoding enc = pugi::encoding_utf8;
    bool copied = false;
    if (declared.empty() || IsOneOf(declared, {"UTF-8", "UTF8"})) {
        if (!owned) {
            // The copy that the parse needs anyway is made first, so that the check reads it from the cache.
            FBuffer.assign(body);
            body = FBuffer;
            copied = true;
        }
        if (size_t at = InvalidUtf8At(body); at != std::string_view::npos) {
            if (!allowInvalidUtf8)
                throw EXMLDomError(Format("Invalid UTF-8 byte sequence at offset %u", {at}));
            FHadInvalidUtf8 = true;
        }
    } else if (layout == TByteLayout::Utf8Bom) {
        throw EXMLDomError(Format(
            "The document declares the encoding \"%s\" but starts with a UTF-8 byte order mark", {declared}));
    } else if (IsOneOf(declared, {"US-ASCII", "ASCII"})) {
        for (size_t i = 0; i < body.size(); ++i)
            if (static_cast<unsigned char>(body[i]) >= 0x80)
                throw EXMLDomError(Format("Byte at offset %u is not US-ASCII", {i}));
    } else if (IsOneOf(declared,
                       {"ISO-8859-1", "ISO8859-1", "ISO_8859-1", "latin1", "l1", "ISO-IR-100", "CP819"})) {
        enc = pugi::encoding_latin1;
    } else if (IsOneOf(declared, {"windows-1252", "cp1252"})) {
        converted = Windows1252ToUtf8(body);
        body = converted;
    } else {
        throw EXMLDomError(Format("The encoding \"%s\" is not supported", {declared}));
    }
    if (enc == pugi::encoding_utf8 && converted.empty()) {
        // UTF-8 is parsed where it lies: in the caller's buffer when it may be taken over, otherwise in a
        // copy of the document's own that keeps its room from one load to the next.
        size_t offset = 0;
        if (owned) {
            offset = static_cast<size_t>(body.data() - owned->data());
            FBuffer = std::move(*owned);
        } else if (!copied) {
            FBuffer.assign(body);
        }
        Check(*FDoc, FDoc->load_buffer_inplace(FBuffer.data() + offset, body.size(), options, enc));
        return;
    }
    Check(*FDoc, FDoc->load_buffer(body.data(), body.size(), options, enc));
}

bool IsValidUtf8Tree(const TXMLNode& root, bool (*skip)(pugi::xml_node)) {
    const pugi::xml_node top = root.Raw();
    pugi::xml_node node = top;
    while (node) {
        bool descend = !(skip && node != top && skip(node));
        if (descend) {
            if (InvalidUtf8At(node.name()) != std::string_view::npos ||
                InvalidUtf8At(node.value()) != std::string_view::npos)
                return false;
            for (pugi::xml_attribute a = node.first_attribute(); a; a = a.next_attribute())
                if (InvalidUtf8At(a.name()) != std::string_view::npos ||
                    InvalidUtf8At(a.value()) != std::string_view::npos)
                    return false;
        }
        if (descend && node.first_child()) {
            node = node.first_child();
            continue;
        }
        while (node && node != top && !node.next_sibling())
            node = node.parent();
        if (!node || node == top) break;
        node = node.next_sibling();
    }
    return true;
}

char* DecodeXMLTextInPlace(char* p, char* const end) {
    // Printable ASCII without references, the bulk of a file, is passed over eight bytes at a time.
    constexpr uint64_t Ones = 0x0101010101010101ULL, Highs = 0x8080808080808080ULL;
    while (end - p >= 8) {
        uint64_t w;
        std::memcpy(&w, p, 8);
        const uint64_t amp = w ^ (Ones * '&');
        // A byte below 0x20, an "&" or a byte of a longer UTF-8 sequence sets a high bit here.
        if ((((w - Ones * 0x20) & ~w) | ((amp - Ones) & ~amp) | w) & Highs) break;
        p += 8;
    }
    char* out = p;
    while (p < end) {
        const auto c = static_cast<unsigned char>(*p);
        if ((c >= 0x20 && c < 0x80 && c != '&') || c == '\t' || c == '\n') {
            *out++ = *p++;
            continue;
        }
        if (c >= 0x80) {
            const size_t len = Utf8SequenceLength(std::string_view(p, static_cast<size_t>(end - p)), 0);
            if (len == 0) return nullptr;
            std::memmove(out, p, len);
            out += len;
            p += len;
            continue;
        }
        if (c != '&') return nullptr;
        p = DecodeReference(p, end, out);
        if (!p) return nullptr;
    }
    return out;
}

const char* PlainXMLAttributeValueEnd(const char* p, const char* end, char quote) {
    while (p < end && *p != quote) {
        const auto c = static_cast<unsigned char>(*p);
        if (c == '<' || c == '&' || c < 0x20) return nullptr;
        if (c < 0x80) {
            ++p;
            continue;
        }
        const size_t len = Utf8SequenceLength(std::string_view(p, static_cast<size_t>(end - p)), 0);
        if (len == 0) return nullptr;
        p += len;
    }
    return p < end ? p : nullptr;
}

void TXMLDocument::LoadFromStream(std::istream& stream) {
    std::string bytes{std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>()};
    if (stream.bad()) {
        FDoc->reset();
        throw EXMLDomError("The stream could not be read");
    }
    LoadFromXML(bytes);
}

void TXMLDocument::LoadFromFile(const std::string& path) {
    std::string bytes;
    if (!TryReadFileBytes(path, bytes)) {
        FDoc->reset();
        throw EXMLDomError(Format("The file \"%s\" could not be read", {path}));
    }
    try {
        Load(bytes, &bytes, false);
    } catch (const EXMLDomError& e) {
        throw EXMLDomError(Format("%s: %s", {path, e.Message()}));
    }
}

bool TXMLDocument::IsEmpty() const {
    return !FDoc->first_child();
}

TXMLNode TXMLDocument::DocumentElement() const {
    return TXMLNode(FDoc->document_element());
}

TXMLNode TXMLDocument::CreateDocumentElement(const std::string& name) {
    FDoc->reset();
    pugi::xml_node root = FDoc->append_child(name.c_str());
    if (!root) throw EXMLDomError(Format("CreateDocumentElement: cannot add the element \"%s\"", {name}));
    return TXMLNode(root);
}

namespace {
// Collects the printed document in one string, without a stream's locale and buffer layers.
class TStringXMLWriter : public pugi::xml_writer {
public:
    explicit TStringXMLWriter(std::string& out) : FOut(out) {}
    void write(const void* data, size_t size) override { FOut.append(static_cast<const char*>(data), size); }

private:
    std::string& FOut;
};
} // namespace

std::string TXMLDocument::SaveToXML() const {
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    TStringXMLWriter out(xml);
    for (pugi::xml_node n = FDoc->first_child(); n; n = n.next_sibling()) {
        if (n.type() == pugi::node_declaration) continue;
        n.print(out, "", pugi::format_raw, pugi::encoding_utf8);
    }
    // A raw carriage return in a text would come back as a line feed, as every XML reader normalises line
    // ends; as a reference it survives. Attribute values already hold it as one, and the raw output has no
    // other line ends, so every raw one here belongs to a text.
    if (xml.find('\r') == std::string::npos) return xml;
    std::string escaped;
    escaped.reserve(xml.size() + 16);
    for (const char c : xml) {
        if (c == '\r')
            escaped += "&#13;";
        else
            escaped += c;
    }
    return escaped;
}

void TXMLDocument::SaveToFile(const std::string& path) const {
    WriteFileAtomic(path, SaveToXML(), TFileAccess::OwnerOnly, TFileKeep::Durable);
}
