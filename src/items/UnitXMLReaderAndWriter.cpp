#include "items/UnitXMLReaderAndWriter.h"

#include "items/UnitParserBaseXML.h"
#include "items/UnitResultLst.h"
#include "items/UnitSearchResult.h"
#include "platform/UnitPlatformFiles.h"
#include "support/UnitUtils.h"

#include <cfloat>
#include <cmath>

namespace {

const char* const EmptyItemFile = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<Reminder>\r\n</Reminder>";
const char* const AuctionElement = "Auction";
const char* const ArticleIDAttribute = "ArticleID";
// The stored form of the gallery links: one text, the links joined by this separator.
const char* const GalleryLinkSeparator = "?";
const char FileDecimalSeparator = ',';

// The nearest single; beyond the single range the infinity of that sign, which a plain conversion leaves
// undefined.
float ToSingle(double value) {
    if (value > FLT_MAX) return INFINITY;
    if (value < -FLT_MAX) return -INFINITY;
    return static_cast<float>(value);
}

// Length of the valid UTF-8 sequence at s[i], or 0.
size_t Utf8SequenceAt(std::string_view s, size_t i) {
    const auto* p = reinterpret_cast<const unsigned char*>(s.data());
    const unsigned char c = p[i];
    size_t len;
    unsigned cp;
    if (c < 0x80) return c == 0 ? 0 : 1;
    if (c >= 0xC2 && c <= 0xDF)
        len = 2, cp = c & 0x1F;
    else if (c >= 0xE0 && c <= 0xEF)
        len = 3, cp = c & 0x0F;
    else if (c >= 0xF0 && c <= 0xF4)
        len = 4, cp = c & 0x07;
    else
        return 0;
    if (i + len > s.size()) return 0;
    for (size_t k = 1; k < len; ++k) {
        if ((p[i + k] & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (p[i + k] & 0x3F);
    }
    if ((len == 3 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) ||
        (len == 4 && (cp < 0x10000 || cp > 0x10FFFF)))
        return 0;
    return len;
}

// Text as the file can hold it. A byte that is no UTF-8 would make the whole file unreadable on the next
// load, so it becomes U+FFFD; a zero byte would cut the rest of the text off, so it goes.
std::string FileText(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size();) {
        if (const size_t len = Utf8SequenceAt(s, i)) {
            out.append(s.substr(i, len));
            i += len;
            continue;
        }
        if (s[i] != '\0') out += "\xEF\xBF\xBD";
        ++i;
    }
    return out;
}

// Elements missing from an Auction are created empty in the loaded document and read as their defaults.
TXMLNode Element(TXMLNode auction, const char* name) {
    return auction.ChildNodes().GetNodeByName(name);
}

} // namespace

// TXMLReaderAndWriter

TXMLReaderAndWriter::TXMLReaderAndWriter() : FDocument(std::make_unique<TXMLDocument>()) {
}

TXMLReaderAndWriter::~TXMLReaderAndWriter() = default;

bool TXMLReaderAndWriter::ReadList(const std::string& path, TResultList&) {
    if (!FileExists(path)) return false;
    try {
        FDocument->LoadFromFile(path);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

// No empty file is created ahead of the save: the save replaces the file in one step, and a failing one
// must leave the previous file whole.
void TXMLReaderAndWriter::WriteList(const std::string&, TResultList&) {
    auto document = std::make_unique<TXMLDocument>();
    document->LoadFromXML(EmptyItemFile);
    FDocument = std::move(document);
    FRoot = FDocument->DocumentElement();
}

// TXMLReaderAndWriterRemindList

bool TXMLReaderAndWriterRemindList::ReadList(const std::string& path, TResultList& list) {
    if (!TXMLReaderAndWriter::ReadList(path, list)) return false;
    TParserBaseXML reader;
    reader.SetDecimalSeparator(FileDecimalSeparator);
    reader.ResetFormats();
    FRoot = FDocument->DocumentElement();
    // Every sibling after the first Auction is taken as an item, whatever its name.
    for (TXMLNode node = FRoot.ChildNodes().FindNode(AuctionElement); node; node = node.NextSibling()) {
        try {
            auto item = std::make_unique<TSearchResultAuctionDetails>();
            ReadAuction(reader, node, *item);
            list.Add(std::move(item));
        } catch (const std::exception&) {
            // An item that cannot be read is dropped; the others still count.
        }
    }
    return true;
}

void TXMLReaderAndWriterRemindList::ReadAuction(TParserBaseXML& r, TXMLNode a,
                                                TSearchResultAuctionDetails& item) {
    item.Description = r.ReadText(Element(a, "Description"));
    item.MarketPlaceID = r.ReadInteger(Element(a, "MarketPlaceID"), 0);
    item.MarketPlaceName = r.ReadText(Element(a, "MarketPlaceName"));
    item.Category = r.ReadInteger(Element(a, "Category"), 0);
    item.BuyNow = r.ReadBoolean(Element(a, "BuyNow"));
    item.BidCount = r.ReadInteger(Element(a, "BidCount"), 0);
    item.HasPic = r.ReadBoolean(Element(a, "HasPic"));
    item.HasGaleryPic = r.ReadBoolean(Element(a, "HasGaleryPic"));
    item.PictureFilename = r.ReadText(Element(a, "PictureFilename"));
    item.EndTime = r.ReadDateTime(Element(a, "EndTime"));
    item.PriceStandard = ToSingle(r.ReadFloat(Element(a, "PriceStandard"), 0));
    item.PriceBuyNow = ToSingle(r.ReadFloat(Element(a, "PriceBuyNow"), 0));
    item.ArticleNumber = r.ReadText(Element(a, "ArticleNumber"));
    item.Link = r.ReadText(Element(a, "Link"));
    item.GaleryLink = r.ReadText(Element(a, "GaleryLink"));
    item.CurrencyID = r.ReadInteger(Element(a, "CurrencyID"), 0);
    item.Quantity = r.ReadInteger(Element(a, "Quantity"), 0);
    item.SideID = r.ReadInteger(Element(a, "SideID"), 0);
    item.MinimumToBid = ToSingle(r.ReadFloat(Element(a, "MinimumToBid"), 0));
    item.ShippingAmount = ToSingle(r.ReadFloat(Element(a, "ShippingAmount"), 0));
    item.ShippingTo = r.ReadText(Element(a, "ShippingTo"));
    item.Stars = ToSingle(r.ReadFloat(Element(a, "Stars"), 0));
    item.Region = r.ReadText(Element(a, "Region"));
    item.Location = r.ReadText(Element(a, "Location"));
    item.FeedBack = r.ReadInteger(Element(a, "FeedBack"), 0);
    item.PositiveFeedB = ToSingle(r.ReadFloat(Element(a, "PositiveFeedB"), 0));
    item.MemberSince = r.ReadDateTime(Element(a, "MemberSince"));
    item.QuestionLink = r.ReadText(Element(a, "QuestionLink"));
    item.SellerName = r.ReadText(Element(a, "SellerName"));
    item.Reminded = r.ReadBoolean(Element(a, "Reminded"));
    const int remindType = r.ReadInteger(Element(a, "RemindType"), 0);
    item.RemindType =
        remindType >= 0 && remindType <= MaxRemindType ? static_cast<TRemindType>(remindType) : 0;
    item.RemindTime = r.ReadDateTime(Element(a, "RemindTime"));
    // A missing or unreadable priority is 0 here, not the 1 a new item starts with.
    item.Priority = r.ReadInteger(Element(a, "Priority"), 0);
    item.NeverEnding = r.ReadBoolean(Element(a, "NeverEnding"));
    item.DetailImageLink = r.ReadText(Element(a, "DetailImageLink"));
    r.ReadStrings(Element(a, "DetailGalleryLinks"), item.DetailGalleryLinks, GalleryLinkSeparator);
    item.RelatedGroup = r.ReadInt64(Element(a, "RelatedGroup"), 0);
    item.FullKey = r.ReadText(Element(a, "FullKey"));
    item.LastUpdate = r.ReadDateTime(Element(a, "LastUpdate"));
    item.Freetext = r.ReadText(Element(a, "Freetext"));
    item.SkypeID = r.ReadText(Element(a, "SkypeID"));
    const int skypeOption = r.ReadInteger(Element(a, "SkypeContactOption"), 0);
    item.SkypeContactOption = skypeOption >= 0 && skypeOption <= MaxSkypeContactOption
                                  ? static_cast<TSkypeContactOption>(skypeOption)
                                  : 0;
    item.HighBidder = r.ReadChildText(a, "HighBidder");
}

void TXMLReaderAndWriterRemindList::WriteList(const std::string& path, TResultList& list) {
    auto* details = dynamic_cast<TDetailsList*>(&list);
    if (!details) throw EInvalidCast("Invalid class typecast");
    TXMLReaderAndWriter::WriteList(path, list);
    TWriterBaseXML writer;
    writer.SetDecimalSeparator(FileDecimalSeparator);
    writer.ResetFormats();
    writer.OmitDefaults = false;
    for (int i = 0; i < details->Count(); ++i) {
        const TSearchResultAuctionDetails& item = details->GetAuction(i);
        TXMLNode auction = FRoot.AddChild(AuctionElement);
        auction.SetAttribute(ArticleIDAttribute, FileText(item.ArticleNumber));
        WriteAuction(writer, auction, item);
    }
    FDocument->SaveToFile(path);
}

void TXMLReaderAndWriterRemindList::WriteAuction(TWriterBaseXML& w, TXMLNode a,
                                                 const TSearchResultAuctionDetails& item) {
    auto text = [&](const char* name, const std::string& value) {
        w.WriteString(a, name, FileText(value), "");
    };
    auto integer = [&](const char* name, int value) { w.WriteInteger(a, name, value, 0); };
    auto boolean = [&](const char* name, bool value) { w.WriteBoolean(a, name, value, true, false); };
    auto single = [&](const char* name, float value) {
        w.WriteFloat(a, name, static_cast<double>(value), 0);
    };
    auto dateTime = [&](const char* name, TDateTime value) { w.WriteDateTime(a, name, value, 0); };

    text("Description", item.Description);
    integer("MarketPlaceID", item.MarketPlaceID);
    text("MarketPlaceName", item.MarketPlaceName);
    integer("Category", item.Category);
    boolean("BuyNow", item.BuyNow);
    integer("BidCount", item.BidCount);
    boolean("HasPic", item.HasPic);
    boolean("HasGaleryPic", item.HasGaleryPic);
    text("PictureFilename", item.PictureFilename);
    dateTime("EndTime", item.EndTime);
    // The price shown, so that a buy-it-now offer without a standard price keeps its price after a reload.
    single("PriceStandard", item.GetCurrentPrice());
    single("PriceBuyNow", item.PriceBuyNow);
    text("ArticleNumber", item.ArticleNumber);
    text("Link", item.Link);
    text("GaleryLink", item.GaleryLink);
    integer("CurrencyID", item.CurrencyID);
    integer("Quantity", item.Quantity);
    integer("SideID", item.SideID);
    single("MinimumToBid", item.MinimumToBid);
    single("ShippingAmount", item.ShippingAmount);
    text("ShippingTo", item.ShippingTo);
    single("Stars", item.Stars);
    text("Region", item.Region);
    text("Location", item.Location);
    integer("FeedBack", item.FeedBack);
    single("PositiveFeedB", item.PositiveFeedB);
    dateTime("MemberSince", item.MemberSince);
    text("QuestionLink", item.QuestionLink);
    text("SellerName", item.SellerName);
    boolean("Reminded", item.Reminded);
    integer("RemindType", item.RemindType);
    dateTime("RemindTime", item.RemindTime);
    integer("Priority", item.Priority);
    boolean("NeverEnding", item.NeverEnding);
    text("DetailImageLink", item.DetailImageLink);
    text("DetailGalleryLinks",
         StringReplaceAll(Trim(LinesToText(item.DetailGalleryLinks)), "\n", GalleryLinkSeparator));
    w.WriteInt64(a, "RelatedGroup", item.RelatedGroup, 0);
    text("FullKey", item.FullKey);
    dateTime("LastUpdate", item.LastUpdate);
    text("Freetext", item.Freetext);
    text("SkypeID", item.SkypeID);
    integer("SkypeContactOption", item.SkypeContactOption);
    text("HighBidder", item.HighBidder);
}
