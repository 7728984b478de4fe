#pragma once
// A watch list page read straight from its text: the elements the page parser maps, found as a loaded
// document would find them (the first of each name under its parent), without building the document.

#include <string>
#include <string_view>
#include <vector>

// The elements of an Item that the page parser maps; a container counts by its presence.
enum TPageItemField {
    pfBuyItNowPrice,
    pfItemID,
    pfListingDetails,
    pfStartTime,
    pfEndTime,
    pfViewItemURL,
    pfListingType,
    pfSeller,
    pfSellerUserID,
    pfSellingStatus,
    pfBidCount,
    pfCurrentPrice,
    // The currencyID attribute of CurrentPrice.
    pfCurrencyID,
    pfHighBidder,
    pfHighBidderUserID,
    pfShippingDetails,
    pfShippingServiceOptions,
    pfShippingServiceCost,
    pfSite,
    pfTitle,
    pfPictureDetails,
    pfGalleryURL,
    pfQuantityAvailable,
    pfItemFieldCount
};

// The elements around the items.
enum TPageRootField {
    rfAck,
    rfErrors,
    rfWatchList,
    rfPaginationResult,
    rfTotalNumberOfPages,
    rfTotalNumberOfEntries,
    rfItemArray,
    rfRootFieldCount
};

// One element as a loaded document holds it.
struct TScannedElement {
    bool Present = false;
    // It holds child elements, so it has no single text.
    bool HasElements = false;
    // The decoded text with its blanks; empty when there is none. An attribute's value for pfCurrencyID.
    std::string_view Text;
};

struct TScannedItem {
    TScannedElement Fields[pfItemFieldCount];
};

// Which elements of a parent are looked for, and where they are kept.
struct TPageScanSchema;

// Reads pages in the plain form eBay writes them. The texts live until the next scan and as long as the
// scanned bytes.
class TWatchListPageScan {
public:
    // True for a well-formed page whose every part is in that form: an optional UTF-8 declaration, one
    // root element, elements with attributes and texts, blanks between them, under 64 levels deep, the items
    // the only elements of the ItemArray. False for anything else (comments, CDATA, processing
    // instructions, a document type, text beside child elements, a raw carriage return or control character
    // in a text, a reference other than the five named ones and character numbers, an "&", "<" or control
    // character in an attribute value, bytes that are no UTF-8) and for what is not well-formed: a loaded
    // document decides then.
    bool Scan(std::string_view bytes);

    std::string_view RootName() const { return FRootName; }
    const TScannedElement& Root(TPageRootField field) const { return FRoot[field]; }
    int ItemCount() const { return FItemCount; }
    const TScannedItem& Item(int index) const { return FItems[static_cast<size_t>(index)]; }

private:
    bool Content(std::string_view rootName);
    bool Name(std::string_view& name);
    bool Attributes(bool wanted, std::string_view wantedName, TScannedElement* attribute, bool& empty);
    TScannedElement* NewItem();

    // Texts with references, decoded; the others are views of the scanned bytes.
    std::string FDecoded;
    size_t FDecodedUsed = 0;
    const char* FPos = nullptr;
    const char* FEnd = nullptr;
    std::string_view FRootName;
    TScannedElement FRoot[rfRootFieldCount];
    std::vector<TScannedItem> FItems;
    int FItemCount = 0;
};
