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
std::string Printable(const std::string& text) {
    std::string shown = text.substr(0, 40);
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

TDateTime TXMLeBayApiResultParser::ConvertEbayDateTime(const std::string& text) const {
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

void TXMLMyEbayWatchListParser::ReadItem(const TXMLNode& node, TSearchResultAuctionDetails& item) {
    item.ArticleNumber = ReadChildText(node, "ItemID");
    item.Description = ReadChildText(node, "Title");

    if (const TXMLNode details = Child(node, "ListingDetails")) {
        item.EndTime = ConvertEbayDateTime(ReadChildText(details, "EndTime"));
        item.StartTime = ConvertEbayDateTime(ReadChildText(details, "StartTime"));
        item.Link = ReadChildText(details, "ViewItemURL");
    }
    item.ListingType = ReadChildText(node, "ListingType");
    // A fixed-price listing is bought at its price, never bid on: the page shows it that way.
    item.BuyNow = item.ListingType == "FixedPriceItem" || item.ListingType == "StoresFixedPrice";
    if (const TXMLNode seller = Child(node, "Seller")) item.SellerName = ReadChildText(seller, "UserID");

    if (const TXMLNode status = Child(node, "SellingStatus")) {
        const TXMLNode price = Child(status, "CurrentPrice");
        item.PriceStandard = ToSingle(ReadFloat(price, 0));
        item.CurrencyID =
            TLegacyAPIToNewAPIValueConverter::CurrencyCodeToCurrencyID(ReadAttrText(price, "currencyID"));
        item.BidCount = ReadChildInteger(status, "BidCount", 0);
        if (const TXMLNode bidder = Child(status, "HighBidder"))
            item.HighBidder = ReadChildText(bidder, "UserID");
    }
    item.PriceBuyNow = ToSingle(ReadChildFloat(node, "BuyItNowPrice", 0));

    // Only the first shipping option counts: eBay lists the cheapest service first.
    if (const TXMLNode shipping = Child(node, "ShippingDetails"))
        if (const TXMLNode option = Child(shipping, "ShippingServiceOptions"))
            item.ShippingAmount = ToSingle(ReadChildFloat(option, "ShippingServiceCost", 0));

    item.SideID = TLegacyAPIToNewAPIValueConverter::SiteCodeToSiteID(ReadChildText(node, "Site"));
    item.MarketPlaceName = SiteIDToName(item.SideID);
    item.Quantity = ReadChildInteger(node, "QuantityAvailable", 0);
    if (const TXMLNode picture = Child(node, "PictureDetails"))
        item.GaleryLink = ReadChildText(picture, "GalleryURL");
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
