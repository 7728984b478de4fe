#include "ebayapi/UnitWatchListPageScan.h"

#include "base/UnitUtils.h"
#include "items/UnitXMLDom.h"

#include <bit>
#include <cstring>
#include <emmintrin.h>

struct TPageScanSchema {
    constexpr TPageScanSchema(std::string_view name, int field, const TPageScanSchema* children = nullptr,
                              int childCount = 0, bool items = false, int attributeField = -1,
                              std::string_view attributeName = {})
        : Name(name), Field(field), Children(children), ChildCount(childCount), Items(items),
          AttributeField(attributeField), AttributeName(attributeName) {}

    std::string_view Name;
    // Where the element is kept in its record; -1 for an item, which has a record of its own.
    int Field;
    const TPageScanSchema* Children;
    int ChildCount;
    // Its child elements are the items.
    bool Items;
    // An attribute kept in the field AttributeField (-1 for none).
    int AttributeField;
    std::string_view AttributeName;
};

namespace {

// Deeper pages are left to the document, which needs no stack for them.
constexpr int MaxDepth = 64;

template <size_t N> constexpr int CountOf(const TPageScanSchema (&)[N]) {
    return static_cast<int>(N);
}

// In the order eBay sends them, so that each name is usually found at the first try.
constexpr TPageScanSchema ListingDetails[] = {
    {"StartTime", pfStartTime}, {"EndTime", pfEndTime}, {"ViewItemURL", pfViewItemURL}};
constexpr TPageScanSchema SellerUser[] = {{"UserID", pfSellerUserID}};
constexpr TPageScanSchema BidderUser[] = {{"UserID", pfHighBidderUserID}};
constexpr TPageScanSchema SellingStatus[] = {
    {"BidCount", pfBidCount},
    {"CurrentPrice", pfCurrentPrice, nullptr, 0, false, pfCurrencyID, "currencyID"},
    {"HighBidder", pfHighBidder, BidderUser, CountOf(BidderUser)}};
constexpr TPageScanSchema ShippingOption[] = {{"ShippingServiceCost", pfShippingServiceCost}};
constexpr TPageScanSchema ShippingDetails[] = {
    {"ShippingServiceOptions", pfShippingServiceOptions, ShippingOption, CountOf(ShippingOption)}};
constexpr TPageScanSchema PictureDetails[] = {{"GalleryURL", pfGalleryURL}};
constexpr TPageScanSchema ItemChildren[] = {
    {"BuyItNowPrice", pfBuyItNowPrice},
    {"ItemID", pfItemID},
    {"ListingDetails", pfListingDetails, ListingDetails, CountOf(ListingDetails)},
    {"ListingType", pfListingType},
    {"Seller", pfSeller, SellerUser, CountOf(SellerUser)},
    {"SellingStatus", pfSellingStatus, SellingStatus, CountOf(SellingStatus)},
    {"ShippingDetails", pfShippingDetails, ShippingDetails, CountOf(ShippingDetails)},
    {"Site", pfSite},
    {"Title", pfTitle},
    {"PictureDetails", pfPictureDetails, PictureDetails, CountOf(PictureDetails)},
    {"QuantityAvailable", pfQuantityAvailable},
};
constexpr TPageScanSchema ItemSchema = {"Item", -1, ItemChildren, CountOf(ItemChildren)};

constexpr TPageScanSchema Pagination[] = {{"TotalNumberOfPages", rfTotalNumberOfPages},
                                          {"TotalNumberOfEntries", rfTotalNumberOfEntries}};
constexpr TPageScanSchema WatchList[] = {
    {"PaginationResult", rfPaginationResult, Pagination, CountOf(Pagination)},
    {"ItemArray", rfItemArray, nullptr, 0, true}};
constexpr TPageScanSchema RootChildren[] = {
    {"Ack", rfAck}, {"Errors", rfErrors}, {"WatchList", rfWatchList, WatchList, CountOf(WatchList)}};
constexpr TPageScanSchema RootSchema = {"", -1, RootChildren, CountOf(RootChildren)};

// Names in ASCII only; any other name leaves the page to the document. The bytes that may start one; those
// that may follow are tested in NameEnd.
struct TNameChars {
    bool Start[256] = {};
    constexpr TNameChars() {
        for (int c = 0; c < 256; ++c)
            Start[c] = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == ':';
    }
};
constexpr TNameChars NameChars;

// Sets of bytes tested sixteen at a time; the last few bytes of the text one by one, since the scan reads the
// caller's bytes where they are.
struct TByteSets {
    static __m128i Load(const char* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
    static __m128i Is(__m128i chunk, char c) { return _mm_cmpeq_epi8(chunk, _mm_set1_epi8(c)); }
    // lo <= c <= hi for bytes below 0x80; the others are negative as signed bytes and never in range.
    static __m128i InRange(__m128i chunk, char lo, char hi) {
        return _mm_and_si128(_mm_cmpgt_epi8(chunk, _mm_set1_epi8(static_cast<char>(lo - 1))),
                             _mm_cmplt_epi8(chunk, _mm_set1_epi8(static_cast<char>(hi + 1))));
    }
    // The first byte from p on that is not in the set, or end; inSet tests sixteen bytes, one tests one.
    template <class TSixteen, class TOne>
    static const char* FirstOutside(const char* p, const char* end, TSixteen inSet, TOne one) {
        for (; end - p >= 16; p += 16) {
            const unsigned outside = ~static_cast<unsigned>(_mm_movemask_epi8(inSet(Load(p)))) & 0xFFFFu;
            if (outside) return p + std::countr_zero(outside);
        }
        while (p < end && one(static_cast<unsigned char>(*p)))
            ++p;
        return p;
    }
};

// The blanks of XML, which a load drops when a text holds nothing else.
const char* SkipBlanks(const char* p, const char* end) {
    return TByteSets::FirstOutside(
        p, end,
        [](__m128i c) {
            return _mm_or_si128(_mm_or_si128(TByteSets::Is(c, ' '), TByteSets::Is(c, '\n')),
                                _mm_or_si128(TByteSets::Is(c, '\t'), TByteSets::Is(c, '\r')));
        },
        [](unsigned char c) { return c == ' ' || c == '\n' || c == '\t' || c == '\r'; });
}

// The end of the name at p, p itself when none starts there.
const char* NameEnd(const char* p, const char* end) {
    if (p == end || !NameChars.Start[static_cast<unsigned char>(*p)]) return p;
    return TByteSets::FirstOutside(
        p + 1, end,
        [](__m128i c) {
            // Letters of either case; "-", ".", digits and ":" without the "/" among them; "_".
            const __m128i letter = TByteSets::InRange(_mm_or_si128(c, _mm_set1_epi8(0x20)), 'a', 'z');
            const __m128i around = _mm_andnot_si128(TByteSets::Is(c, '/'), TByteSets::InRange(c, '-', ':'));
            return _mm_or_si128(_mm_or_si128(letter, around), TByteSets::Is(c, '_'));
        },
        [](unsigned char c) {
            return NameChars.Start[c] || (c >= '0' && c <= '9') || c == '-' || c == '.';
        });
}

// Printable ASCII without "&" or "<": text that needs neither decoding nor a check.
const char* PlainRunEnd(const char* p, const char* end) {
    return TByteSets::FirstOutside(
        p, end,
        [](__m128i c) {
            // As signed bytes, control characters and the bytes of UTF-8 sequences are below the blank.
            const __m128i stop = _mm_or_si128(_mm_cmplt_epi8(c, _mm_set1_epi8(0x20)),
                                              _mm_or_si128(TByteSets::Is(c, '&'), TByteSets::Is(c, '<')));
            return _mm_xor_si128(stop, _mm_set1_epi8(-1));
        },
        [](unsigned char c) { return c >= 0x20 && c < 0x80 && c != '&' && c != '<'; });
}

bool SameName(std::string_view a, std::string_view b) {
    return a.size() == b.size() && SameBytes(a.data(), b.data(), a.size());
}

const TPageScanSchema* FindChild(const TPageScanSchema* schema, std::string_view name, int& next) {
    if (!schema) return nullptr;
    for (int k = 0; k < schema->ChildCount; ++k) {
        const int i = next + k < schema->ChildCount ? next + k : next + k - schema->ChildCount;
        if (SameName(schema->Children[i].Name, name)) {
            next = i + 1;
            return &schema->Children[i];
        }
    }
    return nullptr;
}

} // namespace

bool TWatchListPageScan::Scan(std::string_view bytes) {
    FPos = bytes.data();
    FEnd = FPos + bytes.size();
    // Decoded texts never take more room than their source.
    if (FDecoded.size() < bytes.size()) FDecoded.resize(bytes.size());
    FDecodedUsed = 0;
    FItemCount = 0;
    for (TScannedElement& e : FRoot)
        e = TScannedElement();
    const std::string_view declaration = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>";
    if (bytes.substr(0, declaration.size()) == declaration)
        FPos += declaration.size();
    FPos = SkipBlanks(FPos, FEnd);
    if (FPos == FEnd || *FPos != '<') return false;
    ++FPos;
    bool empty;
    if (!Name(FRootName) || !Attributes(false, {}, nullptr, empty)) return false;
    if (!empty && !Content(FRootName)) return false;
    FPos = SkipBlanks(FPos, FEnd);
    return FPos == FEnd;
}

bool TWatchListPageScan::Name(std::string_view& name) {
    const char* const end = NameEnd(FPos, FEnd);
    if (end == FPos) return false;
    name = std::string_view(FPos, static_cast<size_t>(end - FPos));
    FPos = end;
    return true;
}

// The rest of a start tag after its name; the first attribute of the wanted name goes to attribute.
bool TWatchListPageScan::Attributes(bool wanted, std::string_view wantedName, TScannedElement* attribute,
                                    bool& empty) {
    for (;;) {
        const char* const blanks = FPos;
        FPos = SkipBlanks(FPos, FEnd);
        if (FPos == FEnd) return false;
        if (*FPos == '>') {
            ++FPos;
            empty = false;
            return true;
        }
        if (*FPos == '/') {
            if (FEnd - FPos < 2 || FPos[1] != '>') return false;
            FPos += 2;
            empty = true;
            return true;
        }
        std::string_view name;
        if (FPos == blanks || !Name(name)) return false;
        FPos = SkipBlanks(FPos, FEnd);
        if (FPos == FEnd || *FPos != '=') return false;
        ++FPos;
        FPos = SkipBlanks(FPos, FEnd);
        if (FPos == FEnd || (*FPos != '"' && *FPos != '\'')) return false;
        const char quote = *FPos++;
        const char* const value = FPos;
        // A load would turn references and line breaks in a value into other text: the document decides.
        const char* const close = PlainXMLAttributeValueEnd(FPos, FEnd, quote);
        if (!close) return false;
        FPos += close - FPos;
        if (wanted && !attribute->Present && name == wantedName)
            *attribute = {true, false, std::string_view(value, static_cast<size_t>(FPos - value))};
        ++FPos;
    }
}

TScannedElement* TWatchListPageScan::NewItem() {
    if (static_cast<size_t>(FItemCount) == FItems.size()) FItems.emplace_back();
    TScannedItem& item = FItems[static_cast<size_t>(FItemCount++)];
    for (TScannedElement& e : item.Fields)
        e = TScannedElement();
    return item.Fields;
}

// The content of the element just opened, up to and past its end tag. Children that the schema names are
// kept in record, the first of each name only; self receives the element's own text.
namespace {

// One open element: where its children are kept and what it holds so far.
struct TOpenElement {
    std::string_view Name;
    // The element's own schema: which children are looked for (nullptr: none).
    const TPageScanSchema* Schema;
    TScannedElement* Record;
    // Where the element's own text goes (nullptr: nowhere).
    TScannedElement* Self;
    int Next;
    bool HasText;
    bool HasElements;
    std::string_view Text;
};

} // namespace

// The content of the root element, just opened, up to and past its end tag: one loop over the text, with
// the open elements on a stack of MaxDepth. Children that an element's schema names are kept in its record,
// the first of each name only.
bool TWatchListPageScan::Content(std::string_view rootName) {
    TOpenElement open[MaxDepth];
    int depth = 1;
    open[0] = {rootName, &RootSchema, FRoot, nullptr, 0, false, false, {}};
    const char* p = FPos;
    const char* const end = FEnd;
    while (depth > 0) {
        TOpenElement& e = open[depth - 1];
        const char* q = SkipBlanks(p, end);
        if (q < end && *q != '<') {
            // Blanks alone are no text to a load; anything else is kept whole, blanks included.
            if (e.HasText) return false;
            const char* lt = PlainRunEnd(q, end);
            if (lt == end) return false;
            if (*lt == '<') {
                e.Text = std::string_view(p, static_cast<size_t>(lt - p));
            } else {
                lt = static_cast<const char*>(std::memchr(lt, '<', static_cast<size_t>(end - lt)));
                if (!lt) return false;
                // References are decoded in a copy: the scanned bytes are the caller's.
                char* const copy = FDecoded.data() + FDecodedUsed;
                std::memcpy(copy, p, static_cast<size_t>(lt - p));
                const char* const textEnd = DecodeXMLTextInPlace(copy, copy + (lt - p));
                if (!textEnd) return false;
                e.Text = std::string_view(copy, static_cast<size_t>(textEnd - copy));
                FDecodedUsed += static_cast<size_t>(textEnd - copy);
            }
            e.HasText = true;
            q = lt;
        }
        p = q;
        if (end - p < 2) return false;
        if (p[1] == '/') {
            const size_t n = e.Name.size();
            if (static_cast<size_t>(end - p) < n + 3 || !SameBytes(p + 2, e.Name.data(), n) ||
                p[2 + n] != '>')
                return false;
            p += 3 + n;
            // Text beside child elements is rare enough to leave to the document.
            if (e.HasText && e.HasElements) return false;
            if (e.Self) {
                e.Self->HasElements = e.HasElements;
                e.Self->Text = e.Text;
            }
            --depth;
            continue;
        }
        const char* const nameStart = ++p;
        p = NameEnd(nameStart, end);
        if (p == nameStart) return false;
        const std::string_view name(nameStart, static_cast<size_t>(p - nameStart));
        e.HasElements = true;
        const TPageScanSchema* child;
        TScannedElement* childRecord = e.Record;
        if (e.Schema && e.Schema->Items) {
            // Every element of the item array is an item to the parser, whatever its name: only Items here.
            if (!SameName(name, "Item")) return false;
            child = &ItemSchema;
            childRecord = NewItem();
        } else {
            child = FindChild(e.Schema, name, e.Next);
            if (child && e.Record[child->Field].Present) child = nullptr;
        }
        TScannedElement* const slot = child && child->Field >= 0 ? &e.Record[child->Field] : nullptr;
        bool empty;
        if (p < end && *p == '>') {
            ++p;
            empty = false;
        } else {
            FPos = p;
            const bool attribute = child && child->AttributeField >= 0;
            if (!Attributes(attribute, child ? child->AttributeName : std::string_view(),
                            attribute ? &e.Record[child->AttributeField] : nullptr, empty))
                return false;
            p = FPos;
        }
        if (slot) slot->Present = true;
        if (empty) continue;
        if (depth == MaxDepth) return false;
        open[depth++] = {name, child, childRecord, slot, 0, false, false, {}};
    }
    FPos = p;
    return true;
}
