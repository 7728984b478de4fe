#include "ebayapi/UnitXMLParser.h"

#include "base/UnitUtils.h"
#include "items/UnitResultLst.h"
#include "items/UnitSearchResult.h"
#include "items/UnitSiteCurrencyTables.h"
#include "platform/UnitPlatformClock.h"
#include "support/UnitLogging.h"
#include "time/UnitIsoTime.h"

#include <cmath>
#include <limits>

namespace {

// The whole stream from position 0, without a copy when it is a memory stream.
std::string_view StreamBytes(TStream& stream, std::string& buffer) {
    if (auto* memory = dynamic_cast<TMemoryStream*>(&stream)) {
        memory->SetPosition(memory->Size());
        return memory->Bytes();
    }
    buffer = stream.ReadAllBytes();
    return buffer;
}

// A short excerpt of network text that is safe in a log line.
std::string Printable(std::string_view text) {
    std::string shown(text.substr(0, 40));
    for (char& c : shown)
        if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7f) c = '?';
    return shown;
}

bool IsWatchListItem(pugi::xml_node node) {
    return std::string_view(node.name()) == "Item" && std::string_view(node.parent().name()) == "ItemArray";
}

// A price as the items keep it; a number beyond single precision counts as unreadable, like any other.
float ToSingle(double value) {
    if (!std::isfinite(value) || std::fabs(value) > std::numeric_limits<float>::max()) return 0;
    return static_cast<float>(value);
}

} // namespace

// TXMLeBayApiResultParser

TXMLeBayApiResultParser::TXMLeBayApiResultParser() : FXMLDoc(std::make_unique<TXMLDocument>()) {
    FormatSettings->SetDecimalSeparator('.');
    FormatSettings->SetDateSeparator('-');
    FormatSettings->SetTimeSeparator(':');
    FormatSettings->SetShortDateFormat("yyyyy-mm-dd");
}

TXMLeBayApiResultParser::~TXMLeBayApiResultParser() = default;

void TXMLeBayApiResultParser::StoreResult(TParserResultCode code, const std::string& message,
                                          int errorNumber) {
    if (FResultCode != TParserResultCode::prNotEvaluated && !TXMLParserResult::IsSuccess(FResultCode)) return;
    FResultCode = code;
    FResultMessage = message;
    FErrorNumber = TXMLParserResult::IsSuccess(code) ? 0 : errorNumber;
}

void TXMLeBayApiResultParser::StoreDataParseFailure() {
    StoreResult(TParserResultCode::prDataParseFailed,
                GetParserResultMessage(TParserResultCode::prDataParseFailed));
}

bool TXMLeBayApiResultParser::LoadedInvalidUtf8() const {
    return FXMLDoc->HadInvalidUtf8();
}

bool TXMLeBayApiResultParser::LoadResponse(TStream& stream, bool allowDamagedTexts) {
    FRootNode = TXMLNode();
    stream.SetPosition(0);
    std::string buffer;
    FXMLDoc->LoadFromXML(StreamBytes(stream, buffer), allowDamagedTexts);
    FRootNode = FXMLDoc->DocumentElement();

    TEbayAPIXMLErrorParser errors;
    errors.ParseErrors(FRootNode);
    const TParserResultCode code = errors.GetResultCode();
    StoreResult(code, errors.GetResultMessage(), errors.ErrorCode());
    return TXMLParserResult::IsSuccess(code);
}

TParserResultCode TXMLeBayApiResultParser::GetResultCode() {
    if (FResultCode == TParserResultCode::prNotEvaluated) {
        TEbayAPIXMLErrorParser errors;
        errors.ParseErrors(FRootNode);
        StoreResult(errors.GetResultCode(), errors.GetResultMessage(), errors.ErrorCode());
    }
    return FResultCode;
}

TDateTime TXMLeBayApiResultParser::ConvertEbayDateTime(std::string_view text) const {
    TDateTime result;
    if (TryReadIsoUTC(text, result)) return result;
    // The text comes from the network: a short, printable excerpt is enough to find it in the answer.
    Log("eBay time \"" + Printable(text) + "\" cannot be read; using the current time", lmkWarning);
    return Now();
}

std::string TXMLeBayApiResultParser::SiteIDToName(int siteID) const {
    return ::SiteIDToName(siteID);
}

// TXMLMyEbayWatchListParser

namespace {

// The children of an Item that the page maps, in the order eBay sends them.
enum TItemChild {
    icBuyItNowPrice,
    icItemID,
    icListingDetails,
    icListingType,
    icPictureDetails,
    icQuantityAvailable,
    icSeller,
    icSellingStatus,
    icShippingDetails,
    icSite,
    icTitle,
    icCount
};
const char* const ItemChildNames[icCount] = {
    "BuyItNowPrice", "ItemID",        "ListingDetails",  "ListingType", "PictureDetails", "QuantityAvailable",
    "Seller",        "SellingStatus", "ShippingDetails", "Site",        "Title",
};

enum TListingChild { lcStartTime, lcEndTime, lcViewItemURL, lcCount };
const char* const ListingChildNames[lcCount] = {"StartTime", "EndTime", "ViewItemURL"};

enum TStatusChild { scBidCount, scCurrentPrice, scHighBidder, scCount };
const char* const StatusChildNames[scCount] = {"BidCount", "CurrentPrice", "HighBidder"};

// An item's mapped elements in a loaded document. Each container's children are looked at once.
class TDocumentItemFields {
public:
    explicit TDocumentItemFields(const TXMLNode& item) {
        const TChildElements c(item, ItemChildNames, icCount);
        FNodes[pfBuyItNowPrice] = c[icBuyItNowPrice];
        FNodes[pfItemID] = c[icItemID];
        FNodes[pfListingType] = c[icListingType];
        FNodes[pfSite] = c[icSite];
        FNodes[pfTitle] = c[icTitle];
        FNodes[pfQuantityAvailable] = c[icQuantityAvailable];
        if ((FNodes[pfListingDetails] = c[icListingDetails])) {
            const TChildElements l(FNodes[pfListingDetails], ListingChildNames, lcCount);
            FNodes[pfStartTime] = l[lcStartTime];
            FNodes[pfEndTime] = l[lcEndTime];
            FNodes[pfViewItemURL] = l[lcViewItemURL];
        }
        if ((FNodes[pfSeller] = c[icSeller]))
            FNodes[pfSellerUserID] = TParserBaseXML::Child(FNodes[pfSeller], "UserID");
        if ((FNodes[pfSellingStatus] = c[icSellingStatus])) {
            const TChildElements st(FNodes[pfSellingStatus], StatusChildNames, scCount);
            FNodes[pfBidCount] = st[scBidCount];
            FNodes[pfCurrentPrice] = st[scCurrentPrice];
            if ((FNodes[pfHighBidder] = st[scHighBidder]))
                FNodes[pfHighBidderUserID] = TParserBaseXML::Child(FNodes[pfHighBidder], "UserID");
        }
        if ((FNodes[pfShippingDetails] = c[icShippingDetails]))
            if ((FNodes[pfShippingServiceOptions] =
                     TParserBaseXML::Child(FNodes[pfShippingDetails], "ShippingServiceOptions")))
                FNodes[pfShippingServiceCost] =
                    TParserBaseXML::Child(FNodes[pfShippingServiceOptions], "ShippingServiceCost");
        if ((FNodes[pfPictureDetails] = c[icPictureDetails]))
            FNodes[pfGalleryURL] = TParserBaseXML::Child(FNodes[pfPictureDetails], "GalleryURL");
    }
    bool Has(TPageItemField f) const { return !FNodes[f].IsNull(); }
    std::string_view Text(TPageItemField f) const { return TParserBaseXML::TextView(FNodes[f]); }
    std::string_view Currency() const {
        return TParserBaseXML::AttrView(FNodes[pfCurrentPrice], "currencyID");
    }

private:
    TXMLNode FNodes[pfItemFieldCount];
};

// The same elements as a scan of the page's text found them.
class TScannedItemFields {
public:
    explicit TScannedItemFields(const TScannedItem& item) : FFields(item.Fields) {}
    bool Has(TPageItemField f) const { return FFields[f].Present; }
    std::string_view Text(TPageItemField f) const {
        if (FFields[f].HasElements) TXMLNode::NotSingleText();
        return TrimView(FFields[f].Text);
    }
    std::string_view Currency() const { return FFields[pfCurrencyID].Text; }
    // What a document gives as the ItemID's text, for the log line of an item that is left out.
    std::string_view ItemIDValue() const { return FFields[pfItemID].Text; }

private:
    const TScannedElement* FFields;
};

} // namespace

float TXMLMyEbayWatchListParser::ReadSingle(std::string_view text) const {
    double value;
    return TryTextToFloat(text, DecimalSeparator(), value) ? ToSingle(value) : 0;
}

// The fields are read in the order of the mapping, so that a damaged field and an unreadable time give the
// same log lines whichever reader found them.
template <class TFields>
void TXMLMyEbayWatchListParser::ReadItemFields(const TFields& f, TSearchResultAuctionDetails& item) {
    item.ArticleNumber = f.Text(pfItemID);
    item.Description = f.Text(pfTitle);
    if (f.Has(pfListingDetails)) {
        item.EndTime = ConvertEbayDateTime(f.Text(pfEndTime));
        item.StartTime = ConvertEbayDateTime(f.Text(pfStartTime));
        item.Link = f.Text(pfViewItemURL);
    }
    item.ListingType = f.Text(pfListingType);
    // A fixed-price listing is bought at its price, never bid on: the page shows it that way.
    item.BuyNow = item.ListingType == "FixedPriceItem" || item.ListingType == "StoresFixedPrice";
    if (f.Has(pfSeller)) item.SellerName = f.Text(pfSellerUserID);

    if (f.Has(pfSellingStatus)) {
        item.PriceStandard = ReadSingle(f.Text(pfCurrentPrice));
        item.CurrencyID = TLegacyAPIToNewAPIValueConverter::CurrencyCodeToCurrencyID(f.Currency());
        item.BidCount = TextToIntDef(f.Text(pfBidCount), 0);
        if (f.Has(pfHighBidder)) item.HighBidder = f.Text(pfHighBidderUserID);
    }
    item.PriceBuyNow = ReadSingle(f.Text(pfBuyItNowPrice));

    // Only the first shipping option counts: eBay lists the cheapest service first.
    if (f.Has(pfShippingDetails) && f.Has(pfShippingServiceOptions))
        item.ShippingAmount = ReadSingle(f.Text(pfShippingServiceCost));

    item.SideID = TLegacyAPIToNewAPIValueConverter::SiteCodeToSiteID(f.Text(pfSite));
    item.MarketPlaceName = SiteIDToName(item.SideID);
    item.Quantity = TextToIntDef(f.Text(pfQuantityAvailable), 0);
    if (f.Has(pfPictureDetails)) item.GaleryLink = f.Text(pfGalleryURL);
    item.HasGaleryPic = !item.GaleryLink.empty();
}

void TXMLMyEbayWatchListParser::ReadItem(const TXMLNode& node, TSearchResultAuctionDetails& item) {
    ReadItemFields(TDocumentItemFields(node), item);
}

bool TXMLMyEbayWatchListParser::ParseWatchList(TStream* stream, TResultList& list, bool append) {
    FPageReadFromText = false;
    if (stream) {
        try {
            stream->SetPosition(0);
            std::string buffer;
            FPageReadFromText = FScan.Scan(StreamBytes(*stream, buffer)) && ReadScannedPage(list, append);
        } catch (const Exception&) {
            // A stream that cannot be read fails through the document, with the outcome stored as ever.
        }
    }
    return FPageReadFromText || ParseWatchListFromDocument(stream, list, append);
}

// A page the scan read is taken here when a loaded document would read it as a success with its items;
// false, with nothing changed, leaves every other outcome to the document.
bool TXMLMyEbayWatchListParser::ReadScannedPage(TResultList& list, bool append) {
    const TScannedElement& ack = FScan.Root(rfAck);
    const TScannedElement& pages = FScan.Root(rfTotalNumberOfPages);
    const bool hasList = FScan.Root(rfWatchList).Present;
    if (FScan.RootName() != "GetMyeBayBuyingResponse" || FScan.Root(rfErrors).Present || ack.HasElements ||
        SameText(TrimView(ack.Text), "Failure") || pages.HasElements ||
        (hasList && !FScan.Root(rfItemArray).Present))
        return false;

    // From here on the page reads as its document would: a success without an error block.
    FRootNode = TXMLNode();
    StoreResult(TParserResultCode::prNoError, GetParserResultMessage(TParserResultCode::prNoError));
    if (!append) list.Clear();
    TotalNumberOfPages = hasList ? TextToIntDef(pages.Text, 0) : 0;
    for (int i = 0; i < FScan.ItemCount(); ++i) {
        auto item = std::make_unique<TSearchResultAuctionDetails>();
        const TScannedItemFields fields(FScan.Item(i));
        try {
            ReadItemFields(fields, *item);
        } catch (const Exception& e) {
            Log("Watch list item \"" + Printable(fields.ItemIDValue()) + "\" left out: " + e.Message(),
                lmkWarning);
            continue;
        }
        list.Add(std::move(item));
    }
    return true;
}

bool TXMLMyEbayWatchListParser::ParseWatchListFromDocument(TStream* stream, TResultList& list, bool append) {
    try {
        if (!stream) throw EXMLDomError("No response stream");
        if (!LoadResponse(*stream, true)) return false;
        // Damaged text costs only the item that holds it; anywhere else it makes the page unreadable.
        if (LoadedInvalidUtf8() && !IsValidUtf8Tree(FRootNode, &IsWatchListItem))
            throw EXMLDomError("Text that is not UTF-8 outside the items");
        if (!append) list.Clear();
    } catch (const Exception&) {
        StoreDataParseFailure();
        // Unreadable bytes are a failed page, not an empty success: the caller must not show a list for it.
        return false;
    }

    try {
        // eBay leaves out the containers of an empty list: no WatchList, or one without an ItemArray.
        const TXMLNode watchList = Child(FRootNode, "WatchList");
        if (!watchList) {
            // Another call's answer is no watch list at all, empty or not.
            if (!SameText(FRootNode.NodeName(), "GetMyeBayBuyingResponse")) {
                StoreDataParseFailure();
                return false;
            }
            TotalNumberOfPages = 0;
            return true;
        }
        const TXMLNode pagination = Child(watchList, "PaginationResult");
        TotalNumberOfPages = ReadChildInteger(pagination, "TotalNumberOfPages", 0);

        const TXMLNode itemArray = Child(watchList, "ItemArray");
        if (!itemArray) {
            // Only a list that says it holds no entries may lack its items; one that counts entries lost
            // them.
            const int entries = ReadChildInteger(pagination, "TotalNumberOfEntries", -1);
            if (!pagination || entries == 0 || (entries < 0 && TotalNumberOfPages == 0)) return true;
            StoreDataParseFailure();
            return false;
        }
        const bool checkTexts = LoadedInvalidUtf8();
        for (pugi::xml_node node = Child(itemArray, "Item").Raw(); node; node = node.next_sibling()) {
            if (node.type() != pugi::node_element) continue;
            auto item = std::make_unique<TSearchResultAuctionDetails>();
            try {
                if (checkTexts && !IsValidUtf8Tree(TXMLNode(node)))
                    throw EXMLDomError("its text is not UTF-8");
                ReadItem(TXMLNode(node), *item);
            } catch (const Exception& e) {
                Log("Watch list item \"" + Printable(node.child_value("ItemID")) +
                        "\" left out: " + e.Message(),
                    lmkWarning);
                continue;
            }
            list.Add(std::move(item));
        }
        return true;
    } catch (const Exception&) {
        StoreDataParseFailure();
        return false;
    }
}

// TXMLeBayFetchTokenParser

bool TXMLeBayFetchTokenParser::ParseToken(TStream* stream, std::string& token) {
    try {
        if (!stream) throw EXMLDomError("No response stream");
        if (!LoadResponse(*stream)) return false;
        const std::string value = ReadChildText(FRootNode, "eBayAuthToken");
        // Storing an empty token as a success would sign the user out while saying all went well.
        if (value.empty()) {
            StoreDataParseFailure();
            return false;
        }
        token = value;
        return true;
    } catch (const Exception&) {
        // The token thread has no handler of its own: an exception leaving it would end the process.
        StoreDataParseFailure();
        return false;
    }
}

// TXMLeBaySessionIDParser

bool TXMLeBaySessionIDParser::ParseSessionID(TStream* stream, std::string& sessionID) {
    try {
        if (!stream) throw EXMLDomError("No response stream");
        if (!LoadResponse(*stream)) return false;
        const std::string value = Trim(ReadChildText(FRootNode, "SessionID"));
        // Without an id there is no session to sign in to: the caller falls back to a secret id of its own.
        if (value.empty()) {
            StoreDataParseFailure();
            return false;
        }
        sessionID = value;
        return true;
    } catch (const Exception&) {
        StoreDataParseFailure();
        return false;
    }
}
