#include "ebayapi/UnitWatchListPageScan.h"

#include "base/UnitUtils.h"
#include "items/UnitXMLDom.h"

#include <bit>
#include <cstring>

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

// The blanks of XML, which a load drops when a text holds nothing else.
bool IsBlank(char c) {
    return c == ' ' || c == '\n' || c == '\t' || c == '\r';
}

// Names in ASCII only; any other name leaves the page to the document.
struct TNameChars {
    bool Start[256] = {};
    bool Next[256] = {};
    constexpr TNameChars() {
        for (int c = 0; c < 256; ++c) {
            Start[c] = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == ':';
            Next[c] = Start[c] || (c >= '0' && c <= '9') || c == '-' || c == '.';
        }
    }
};
constexpr TNameChars NameChars;

char* SkipBlanks(char* p, char* const end) {
    // Indentation is a line break and a run of spaces: the spaces are passed eight at a time.
    constexpr uint64_t Spaces = 0x2020202020202020ULL;
    for (;;) {
        while (end - p >= 8) {
            uint64_t w;
            std::memcpy(&w, p, 8);
            const uint64_t other = w ^ Spaces;
            if (other != 0) {
                // The first byte in memory is the lowest one on the little-endian machines this runs on.
                static_assert(std::endian::native == std::endian::little);
                p += std::countr_zero(other) / 8;
                break;
            }
            p += 8;
        }
        if (p == end || !IsBlank(*p)) return p;
        ++p;
    }
}

// The end of the name at p, p itself when none starts there. The scanned text ends in a zero byte, which is
// no name character, so a name cannot run past it.
char* NameEnd(char* p) {
    if (!NameChars.Start[static_cast<unsigned char>(*p)]) return p;
    ++p;
    while (NameChars.Next[static_cast<unsigned char>(*p)])
        ++p;
    return p;
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
    FBuffer.assign(bytes);
    FPos = FBuffer.data();
    FEnd = FPos + FBuffer.size();
    FItemCount = 0;
    for (TScannedElement& e : FRoot)
        e = TScannedElement();
    const std::string_view declaration = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>";
    if (std::string_view(FPos, FBuffer.size()).substr(0, declaration.size()) == declaration)
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
    char* const end = NameEnd(FPos);
    if (end == FPos) return false;
    name = std::string_view(FPos, static_cast<size_t>(end - FPos));
    FPos = end;
    return true;
}

// The rest of a start tag after its name; the first attribute of the wanted name goes to attribute.
bool TWatchListPageScan::Attributes(bool wanted, std::string_view wantedName, TScannedElement* attribute,
                                    bool& empty) {
    for (;;) {
        char* const blanks = FPos;
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
        char* const value = FPos;
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
    char* p = FPos;
    char* const end = FEnd;
    while (depth > 0) {
        TOpenElement& e = open[depth - 1];
        char* q = SkipBlanks(p, end);
        if (q < end && *q != '<') {
            // Blanks alone are no text to a load; anything else is kept whole, blanks included.
            if (e.HasText) return false;
            char* lt = PlainASCIIRunEnd(q);
            char* textEnd = lt;
            if (*lt != '<') {
                lt = static_cast<char*>(std::memchr(lt, '<', static_cast<size_t>(end - lt)));
                textEnd = lt ? DecodeXMLTextInPlace(p, lt) : nullptr;
                if (!textEnd) return false;
            }
            e.Text = std::string_view(p, static_cast<size_t>(textEnd - p));
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
        char* const nameStart = ++p;
        p = NameEnd(nameStart);
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
