#pragma once
// A thin document and node wrapper over pugixml with the few rules the system's XML code relies on: a
// node's value, get-by-name-creating, delete-by-name and the null marker of a missing attribute.

#include "base/UnitExceptions.h"

#include <bit>
#include <cstdint>
#include <cstring>
#include <emmintrin.h>
#include <iosfwd>
#include <memory>
#include <optional>
#include <pugixml.hpp>
#include <string>
#include <string_view>

// Raised by the wrapper: malformed or unreadable documents, the value of an element with children.
KOVA_DECLARE_EXCEPTION(EXMLDomError, Exception);

class TXMLNodeList;

// A handle to one node of a document; empty when a lookup found nothing. The document owns the node.
class TXMLNode {
public:
    TXMLNode() = default;
    TXMLNode(pugi::xml_node node) : FNode(node) {}

    bool IsNull() const { return !FNode; }
    explicit operator bool() const { return static_cast<bool>(FNode); }
    bool operator==(const TXMLNode& other) const { return FNode == other.FNode; }
    pugi::xml_node Raw() const { return FNode; }

    std::string NodeName() const;
    // The text of an element whose only child is text or CDATA, std::nullopt for an empty element; raises
    // EXMLDomError "Element does not contain a single text node" for anything else.
    std::optional<std::string> NodeValue() const;
    // NodeValue without a copy; the text lives as long as the node is unchanged. Inline: readers call it for
    // every field they read.
    std::optional<std::string_view> ValueView() const {
        if (!FNode) return std::nullopt;
        if (FNode.type() != pugi::node_element) return std::string_view(FNode.value());
        const pugi::xml_node first = FNode.first_child();
        if (!first) return std::nullopt;
        const pugi::xml_node_type type = first.type();
        if (first.next_sibling() || (type != pugi::node_pcdata && type != pugi::node_cdata)) NotSingleText();
        return std::string_view(first.value());
    }
    // Replaces the element's content with one text node.
    void SetNodeValue(std::string_view value);

    // The attribute's value, or std::nullopt when the element has no such attribute.
    std::optional<std::string> GetAttribute(const std::string& name) const;
    void SetAttribute(const std::string& name, std::string_view value);

    TXMLNode AddChild(const std::string& name);
    TXMLNode NextSibling() const { return TXMLNode(FNode.next_sibling()); }
    TXMLNodeList ChildNodes() const;

    // Raises what ValueView raises for an element that holds more than a single text.
    [[noreturn]] static void NotSingleText();

private:
    pugi::xml_node Require(const char* operation) const;
    pugi::xml_node FNode;
};

// The children of one element, in document order.
class TXMLNodeList {
public:
    explicit TXMLNodeList(pugi::xml_node parent) : FParent(parent) {}

    // First child element with that tag name, or an empty node.
    TXMLNode FindNode(const std::string& name) const;
    // As FindNode, but appends a new empty element when there is none.
    TXMLNode GetNodeByName(const std::string& name);
    // Removes the first child element with that tag name; false when there was none.
    bool Delete(const std::string& name);
    TXMLNode First() const { return TXMLNode(FParent.first_child()); }
    int Count() const;

private:
    pugi::xml_node FParent;
};

// An XML document. The encoding of loaded text comes from the document itself (byte order mark, byte
// pattern, declaration); UTF-8, UTF-16, UTF-32, ISO-8859-1, windows-1252 and US-ASCII are read, and a
// document in any other encoding, or with bytes its encoding does not allow, fails to load.
class TXMLDocument {
public:
    TXMLDocument();
    ~TXMLDocument();
    TXMLDocument(const TXMLDocument&) = delete;
    TXMLDocument& operator=(const TXMLDocument&) = delete;

    // Each load replaces the whole content; on failure the document is left empty and EXMLDomError raised.
    // allowInvalidUtf8 keeps a UTF-8 document whose texts hold bytes that are not UTF-8, for a caller that
    // checks its parts with IsValidUtf8Tree and drops the damaged ones; HadInvalidUtf8 then says so.
    void LoadFromXML(std::string_view bytes, bool allowInvalidUtf8 = false);
    void LoadFromStream(std::istream& stream);
    void LoadFromFile(const std::string& path);

    bool IsEmpty() const;
    bool HadInvalidUtf8() const { return FHadInvalidUtf8; }
    TXMLNode DocumentElement() const;
    // Makes a new document element, replacing any content.
    TXMLNode CreateDocumentElement(const std::string& name);

    // The document as UTF-8 text with a declaration that says so; carriage returns in texts are written as
    // references so that they read back as they were.
    std::string SaveToXML() const;
    // Replaces the file atomically: a failure leaves the old file whole.
    void SaveToFile(const std::string& path) const;

private:
    // owned, when given, may be taken over as the document's buffer.
    void Load(std::string_view bytes, std::string* owned, bool allowInvalidUtf8);

    std::unique_ptr<pugi::xml_document> FDoc;
    // The text an in-place parse keeps its names and values in; it lives as long as the content.
    std::string FBuffer;
    bool FHadInvalidUtf8 = false;
};

// True when every name, text and attribute of the subtree is UTF-8; subtrees for which skip answers true
// are not looked at. Walks without recursion, so any depth is safe.
bool IsValidUtf8Tree(const TXMLNode& root, bool (*skip)(pugi::xml_node) = nullptr);

// Decodes element text in [p, end) in place, as a load decodes it, for readers that go through a document's
// text without building the document; answers where the decoded text ends. nullptr for text that a load
// might read differently or refuse: a raw carriage return or control character, a byte that is no UTF-8, a
// reference other than the five named ones and character numbers from 1 to U+10FFFF.
char* DecodeXMLTextInPlace(char* p, char* end);
// The closing quote of an attribute value that starts at p, when a load keeps the value as it stands: no "<",
// "&" (a reference), control character (a load turns line breaks into blanks) or byte that is no UTF-8.
// nullptr for any other value and for one without its closing quote.
const char* PlainXMLAttributeValueEnd(const char* p, const char* end, char quote);

// Byte equality of short runs without a call, for readers that match names in a document's text: runs of four
// bytes and more are compared a word at a time, the last word overlapping the one before it.
inline bool SameBytes(const char* a, const char* b, size_t n) {
    auto load64 = [](const char* p) {
        uint64_t v;
        std::memcpy(&v, p, 8);
        return v;
    };
    auto load32 = [](const char* p) {
        uint32_t v;
        std::memcpy(&v, p, 4);
        return v;
    };
    if (n >= 8) {
        for (size_t i = 0; i + 8 < n; i += 8)
            if (load64(a + i) != load64(b + i)) return false;
        return load64(a + n - 8) == load64(b + n - 8);
    }
    if (n >= 4) return load32(a) == load32(b) && load32(a + n - 4) == load32(b + n - 4);
    for (; n > 0; --n)
        if (*a++ != *b++) return false;
    return true;
}

// What a reader that goes through a document's text with PlainASCIIRunEnd keeps after the text: zero bytes,
// so that a look at sixteen bytes at once never leaves the buffer and a run ends at the text's end.
constexpr size_t PlainRunPadding = 16;

// The end of the run of printable ASCII at p without "&" or "<": text that needs neither decoding nor a
// check. Most element texts are such a run up to their end tag. The text must be followed by PlainRunPadding
// zero bytes: sixteen bytes are looked at at once.
inline char* PlainASCIIRunEnd(char* p) {
    // As signed bytes, control characters and the bytes of longer UTF-8 sequences are all below the blank.
    const __m128i blank = _mm_set1_epi8(0x20), amp = _mm_set1_epi8('&'), lt = _mm_set1_epi8('<');
    for (;;) {
        const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const __m128i markup = _mm_or_si128(_mm_cmpeq_epi8(chunk, amp), _mm_cmpeq_epi8(chunk, lt));
        const __m128i stop = _mm_or_si128(_mm_cmplt_epi8(chunk, blank), markup);
        if (const int mask = _mm_movemask_epi8(stop))
            return p + std::countr_zero(static_cast<unsigned>(mask));
        p += 16;
    }
}
