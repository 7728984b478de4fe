#include "ebayapi/UnitXMLParser.h"

#include "items/UnitResultLst.h"
#include "items/UnitSearchResult.h"
#include "items/UnitSiteCurrencyTables.h"
#include "platform/UnitPlatformClock.h"
#include "support/UnitLogging.h"
#include "support/UnitUtils.h"
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

void TXMLeBayApiResultParser::StoreResult(TParserResultCode code, const std::string& message) {
    if (FResultCode != TParserResultCode::prNotEvaluated && !TXMLParserResult::IsSuccess(FResultCode)) return;
    FResultCode = code;
    FResultMessage = message;
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
    StoreResult(code, errors.GetResultMessage());
    return TXMLParserResult::IsSuccess(code);
}

TParserResultCode TXMLeBayApiResultParser::GetResultCode() {
    if (FResultCode == TParserResultCode::prNotEvaluated) {
        TEbayAPIXMLErrorParser errors;
        errors.ParseErrors(FRootNode);
        StoreResult(errors.GetResultCode(), errors.GetResultMessage());
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

} // namespace

float TXMLMyEbayWatchListParser::ReadSingle(const TXMLNode& node) {
    double value;
    return TryTextToFloat(TextView(node), DecimalSeparator(), value) ? ToSingle(value) : 0;
}

// Each container's children are looked at once; the fields are then read in the order of the mapping, so that
// a damaged field and an unreadable time give the same log lines as ever.
void TXMLMyEbayWatchListParser::ReadItem(const TXMLNode& node, TSearchResultAuctionDetails& item) {
    const TChildElements c(node, ItemChildNames, icCount);
    item.ArticleNumber = TextView(c[icItemID]);
    item.Description = TextView(c[icTitle]);

    if (const TXMLNode details = c[icListingDetails]) {
        const TChildElements l(details, ListingChildNames, lcCount);
        item.EndTime = ConvertEbayDateTime(TextView(l[lcEndTime]));
        item.StartTime = ConvertEbayDateTime(TextView(l[lcStartTime]));
        item.Link = TextView(l[lcViewItemURL]);
    }
    item.ListingType = TextView(c[icListingType]);
    // A fixed-price listing is bought at its price, never bid on: the page shows it that way.
    item.BuyNow = item.ListingType == "FixedPriceItem" || item.ListingType == "StoresFixedPrice";
    if (const TXMLNode seller = c[icSeller]) item.SellerName = TextView(Child(seller, "UserID"));

    if (const TXMLNode status = c[icSellingStatus]) {
        const TChildElements st(status, StatusChildNames, scCount);
        const TXMLNode price = st[scCurrentPrice];
        item.PriceStandard = ReadSingle(price);
        item.CurrencyID =
            TLegacyAPIToNewAPIValueConverter::CurrencyCodeToCurrencyID(AttrView(price, "currencyID"));
        item.BidCount = TextToIntDef(TextView(st[scBidCount]), 0);
        if (const TXMLNode bidder = st[scHighBidder]) item.HighBidder = TextView(Child(bidder, "UserID"));
    }
    item.PriceBuyNow = ReadSingle(c[icBuyItNowPrice]);

    // Only the first shipping option counts: eBay lists the cheapest service first.
    if (const TXMLNode shipping = c[icShippingDetails])
        if (const TXMLNode option = Child(shipping, "ShippingServiceOptions"))
            item.ShippingAmount = ReadSingle(Child(option, "ShippingServiceCost"));

    item.SideID = TLegacyAPIToNewAPIValueConverter::SiteCodeToSiteID(TextView(c[icSite]));
    item.MarketPlaceName = SiteIDToName(item.SideID);
    item.Quantity = TextToIntDef(TextView(c[icQuantityAvailable]), 0);
    if (const TXMLNode picture = c[icPictureDetails])
        item.GaleryLink = TextView(Child(picture, "GalleryURL"));
    item.HasGaleryPic = !item.GaleryLink.empty();
}

bool TXMLMyEbayWatchListParser::ParseWatchList(TStream* stream, TResultList& list, bool append) {
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
