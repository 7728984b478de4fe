#include "items/UnitXMLReaderAndWriter.h"

#include "base/UnitUtils.h"
#include "items/UnitParserBaseXML.h"
#include "items/UnitResultLst.h"
#include "items/UnitSearchResult.h"
#include "platform/UnitPlatformFiles.h"

#include <array>
#include <bit>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <emmintrin.h>
#include <utility>
#include <vector>

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

// Length of the valid UTF-8 sequence at s[i], or 0; a zero byte is not valid in the file.
size_t Utf8SequenceAt(std::string_view s, size_t i) {
    return s[i] == '\0' ? 0 : Utf8SequenceLength(s, i);
}

// XML 1.0 cannot hold the control characters below U+0020 other than tab, line feed and carriage return, not
// even as references. Each is stored as the private-use mark U+E000 followed by U+E000 plus its code, and a
// U+E000 of the text itself as two marks, so that the file stays valid and the text reads back the same.
const char* const ControlMark = "\xEE\x80\x80"; // U+E000
constexpr size_t ControlMarkSize = 3;

bool IsControlXmlCannotHold(unsigned char c) {
    return c < 0x20 && c != '\t' && c != '\n' && c != '\r';
}

// The character U+E000 + code (code below 0x20) in UTF-8.
std::string MarkedCode(unsigned char code) {
    return std::string{'\xEE', '\x80', static_cast<char>(0x80 | code)};
}

// True when the file holds the text as it is: UTF-8 without U+E000 and without control characters that
// XML cannot hold. Most texts are so, and are then stored without a copy.
bool IsFileTextAsIs(std::string_view s) {
    for (size_t i = 0; i < s.size();) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        if (c >= 0x20 && c < 0x80) {
            ++i;
            continue;
        }
        if (c < 0x20) {
            if (c == 0 || IsControlXmlCannotHold(c)) return false;
            ++i;
            continue;
        }
        const size_t len = Utf8SequenceLength(s, i);
        if (len == 0 || s.substr(i, len) == ControlMark) return false;
        i += len;
    }
    return true;
}

// Text as the file can hold it. A byte that is no UTF-8 would make the whole file unreadable on the next
// load, so it becomes U+FFFD; a zero byte would cut the rest of the text off, so it goes.
std::string FileText(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size();) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        if (c != 0 && IsControlXmlCannotHold(c)) {
            out += ControlMark;
            out += MarkedCode(c);
            ++i;
            continue;
        }
        if (const size_t len = Utf8SequenceAt(s, i)) {
            const std::string_view sequence = s.substr(i, len);
            if (sequence == ControlMark) out += ControlMark;
            out.append(sequence);
            i += len;
            continue;
        }
        if (c != '\0') out += "\xEF\xBF\xBD";
        ++i;
    }
    return out;
}

// The text FileText stored, from the file's text. Files of earlier versions hold no marks; a mark that is not
// followed by a stored code stays as it is.
std::string TextOfFile(std::string_view s) {
    if (s.find(ControlMark) == std::string_view::npos) return std::string(s);
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size();) {
        if (s.compare(i, ControlMarkSize, ControlMark) == 0 && i + 2 * ControlMarkSize <= s.size()) {
            const std::string_view next(s.data() + i + ControlMarkSize, ControlMarkSize);
            const unsigned char code = static_cast<unsigned char>(next[2]) & 0x3F;
            if (next == ControlMark) {
                out += ControlMark;
                i += 2 * ControlMarkSize;
                continue;
            }
            if (code != 0 && IsControlXmlCannotHold(code) && next == MarkedCode(code)) {
                out += static_cast<char>(code);
                i += 2 * ControlMarkSize;
                continue;
            }
        }
        out += s[i];
        ++i;
    }
    return out;
}

// The elements of an item, in the order they are written.
enum TItemElement {
    ieDescription,
    ieMarketPlaceID,
    ieMarketPlaceName,
    ieCategory,
    ieBuyNow,
    ieBidCount,
    ieHasPic,
    ieHasGaleryPic,
    iePictureFilename,
    ieEndTime,
    iePriceStandard,
    iePriceBuyNow,
    ieArticleNumber,
    ieLink,
    ieGaleryLink,
    ieCurrencyID,
    ieQuantity,
    ieSideID,
    ieMinimumToBid,
    ieShippingAmount,
    ieShippingTo,
    ieStars,
    ieRegion,
    ieLocation,
    ieFeedBack,
    iePositiveFeedB,
    ieMemberSince,
    ieQuestionLink,
    ieSellerName,
    ieReminded,
    ieRemindType,
    ieRemindTime,
    iePriority,
    ieNeverEnding,
    ieDetailImageLink,
    ieDetailGalleryLinks,
    ieRelatedGroup,
    ieFullKey,
    ieLastUpdate,
    ieFreetext,
    ieSkypeID,
    ieSkypeContactOption,
    ieHighBidder,
    ieCount
};

const char* const ItemElementNames[ieCount] = {
    "Description",     "MarketPlaceID",
    "MarketPlaceName", "Category",
    "BuyNow",          "BidCount",
    "HasPic",          "HasGaleryPic",
    "PictureFilename", "EndTime",
    "PriceStandard",   "PriceBuyNow",
    "ArticleNumber",   "Link",
    "GaleryLink",      "CurrencyID",
    "Quantity",        "SideID",
    "MinimumToBid",    "ShippingAmount",
    "ShippingTo",      "Stars",
    "Region",          "Location",
    "FeedBack",        "PositiveFeedB",
    "MemberSince",     "QuestionLink",
    "SellerName",      "Reminded",
    "RemindType",      "RemindTime",
    "Priority",        "NeverEnding",
    "DetailImageLink", "DetailGalleryLinks",
    "RelatedGroup",    "FullKey",
    "LastUpdate",      "Freetext",
    "SkypeID",         "SkypeContactOption",
    "HighBidder",
};

// Fills the item from its elements' texts, each without surrounding blanks and "" for a missing element,
// whichever reader found them: texts(e) gives the text of element e.
template <class TTexts>
void ReadAuctionTexts(const TTexts& texts, const TFormatSettings& fs, TSearchResultAuctionDetails& item) {
    auto text = [&](TItemElement e) { return TextOfFile(texts(e)); };
    auto integer = [&](TItemElement e) { return TextToIntDef(texts(e), 0); };
    auto boolean = [&](TItemElement e) { return TextToBoolean(texts(e), false); };
    auto single = [&](TItemElement e) {
        double value;
        return ToSingle(TryTextToFloat(texts(e), fs.DecimalSeparator, value) ? value : 0);
    };
    auto dateTime = [&](TItemElement e) {
        TDateTime value;
        return TryTextToDateTime(texts(e), value, fs) ? value : 0;
    };

    item.Description = text(ieDescription);
    item.MarketPlaceID = integer(ieMarketPlaceID);
    item.MarketPlaceName = text(ieMarketPlaceName);
    item.Category = integer(ieCategory);
    item.BuyNow = boolean(ieBuyNow);
    item.BidCount = integer(ieBidCount);
    item.HasPic = boolean(ieHasPic);
    item.HasGaleryPic = boolean(ieHasGaleryPic);
    item.PictureFilename = text(iePictureFilename);
    item.EndTime = dateTime(ieEndTime);
    item.PriceStandard = single(iePriceStandard);
    item.PriceBuyNow = single(iePriceBuyNow);
    item.ArticleNumber = text(ieArticleNumber);
    item.Link = text(ieLink);
    item.GaleryLink = text(ieGaleryLink);
    item.CurrencyID = integer(ieCurrencyID);
    item.Quantity = integer(ieQuantity);
    item.SideID = integer(ieSideID);
    item.MinimumToBid = single(ieMinimumToBid);
    item.ShippingAmount = single(ieShippingAmount);
    item.ShippingTo = text(ieShippingTo);
    item.Stars = single(ieStars);
    item.Region = text(ieRegion);
    item.Location = text(ieLocation);
    item.FeedBack = integer(ieFeedBack);
    item.PositiveFeedB = single(iePositiveFeedB);
    item.MemberSince = dateTime(ieMemberSince);
    item.QuestionLink = text(ieQuestionLink);
    item.SellerName = text(ieSellerName);
    item.Reminded = boolean(ieReminded);
    const int remindType = integer(ieRemindType);
    item.RemindType =
        remindType >= 0 && remindType <= MaxRemindType ? static_cast<TRemindType>(remindType) : 0;
    item.RemindTime = dateTime(ieRemindTime);
    // A missing or unreadable priority is 0 here, not the 1 a new item starts with.
    item.Priority = integer(iePriority);
    item.NeverEnding = boolean(ieNeverEnding);
    item.DetailImageLink = text(ieDetailImageLink);
    SplitTextLines(texts(ieDetailGalleryLinks), item.DetailGalleryLinks, GalleryLinkSeparator);
    for (std::string& link : item.DetailGalleryLinks)
        if (link.find(ControlMark) != std::string::npos) link = TextOfFile(link);
    long long group;
    item.RelatedGroup = TryTextToInt64(texts(ieRelatedGroup), group) ? group : 0;
    item.FullKey = text(ieFullKey);
    item.LastUpdate = dateTime(ieLastUpdate);
    item.Freetext = text(ieFreetext);
    item.SkypeID = text(ieSkypeID);
    const int skypeOption = integer(ieSkypeContactOption);
    item.SkypeContactOption = skypeOption >= 0 && skypeOption <= MaxSkypeContactOption
                                  ? static_cast<TSkypeContactOption>(skypeOption)
                                  : 0;
    item.HighBidder = text(ieHighBidder);
}

using TAuctionItems = std::vector<std::unique_ptr<TSearchResultAuctionDetails>>;

// Reads a file in the form WriteList writes straight from its text, without building a document: the
// declaration, "Reminder", and "Auction" elements that hold every item element in order, each with text
// only. Building the document took longer than reading the items out of it. Anything else, and anything
// the document reader might read differently (a carriage return, a reference it leaves as it is, a byte
// that is no UTF-8), makes Read answer false, and the document reader then reads the file. Texts are
// decoded in place.
class TWrittenFormReader {
public:
    // The bytes get the zero padding that PlainASCIIRunEnd reads into.
    explicit TWrittenFormReader(std::string& bytes)
        : FPos(Padded(bytes)), FEnd(FPos + bytes.size() - PlainRunPadding) {}

    bool Read(const TFormatSettings& fs, TAuctionItems& items) {
        if (!Skip("<?xml version=\"1.0\" encoding=\"UTF-8\"?>")) return false;
        SkipBlanks();
        if (!Skip("<Reminder")) return false;
        if (!Skip("/>")) {
            if (!Skip(">")) return false;
            std::string_view texts[ieCount];
            for (;;) {
                SkipBlanks();
                if (Skip("</Reminder>")) break;
                if (!Skip("<Auction ArticleID=\"") || !SkipAttributeValue() || !Skip(">")) return false;
                for (int e = 0; e < ieCount; ++e) {
                    SkipBlanks();
                    if (!ReadElement(ElementNames()[e], texts[e])) return false;
                }
                SkipBlanks();
                if (!Skip("</Auction>")) return false;
                auto item = std::make_unique<TSearchResultAuctionDetails>();
                ReadAuctionTexts([&](TItemElement e) { return texts[e]; }, fs, *item);
                items.push_back(std::move(item));
            }
        }
        SkipBlanks();
        return FPos == FEnd;
    }

private:
    static char* Padded(std::string& bytes) {
        bytes.append(PlainRunPadding, '\0');
        return bytes.data();
    }

    static const std::string_view* ElementNames() {
        static const auto names = [] {
            std::array<std::string_view, ieCount> n;
            for (int e = 0; e < ieCount; ++e)
                n[e] = ItemElementNames[e];
            return n;
        }();
        return names.data();
    }

    bool Skip(std::string_view s) {
        if (static_cast<size_t>(FEnd - FPos) < s.size() || std::memcmp(FPos, s.data(), s.size()) != 0)
            return false;
        FPos += s.size();
        return true;
    }

    // The blanks the document reader drops between elements.
    void SkipBlanks() {
        while (FPos < FEnd && (*FPos == ' ' || *FPos == '\n' || *FPos == '\t' || *FPos == '\r'))
            ++FPos;
    }

    // The value is not read, only checked as the document reader would, up to and past its closing quote.
    bool SkipAttributeValue() {
        const char* const close = PlainXMLAttributeValueEnd(FPos, FEnd, '"');
        if (!close) return false;
        FPos += close - FPos + 1;
        return true;
    }

    // <name>text</name>, <name></name> or <name/>.
    bool ReadElement(std::string_view name, std::string_view& text) {
        char* p = FPos;
        if (static_cast<size_t>(FEnd - p) < name.size() + 3 || p[0] != '<' ||
            !SameBytes(p + 1, name.data(), name.size()))
            return false;
        p += 1 + name.size();
        if (p[0] == '/' && p[1] == '>') {
            FPos = p + 2;
            text = {};
            return true;
        }
        if (*p != '>') return false;
        char* const start = p + 1;
        char* close = PlainASCIIRunEnd(start);
        char* end = close;
        if (*close != '<') {
            close = static_cast<char*>(std::memchr(close, '<', static_cast<size_t>(FEnd - close)));
            end = close ? DecodeXMLTextInPlace(start, close) : nullptr;
        }
        if (!end || static_cast<size_t>(FEnd - close) < name.size() + 3 || close[1] != '/' ||
            !SameBytes(close + 2, name.data(), name.size()) || close[2 + name.size()] != '>')
            return false;
        FPos = close + 3 + name.size();
        text = TrimView(std::string_view(start, static_cast<size_t>(end - start)));
        return true;
    }

    char* FPos;
    char* const FEnd;
};

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
    std::string bytes;
    if (!FileExists(path) || !TryReadFileBytes(path, bytes)) return false;
    TParserBaseXML reader;
    reader.SetDecimalSeparator(FileDecimalSeparator);
    reader.ResetFormats();
    TAuctionItems items;
    bool read = false;
    try {
        read = TWrittenFormReader(bytes).Read(reader.GetFormatSettings().FormatSettings(), items);
    } catch (const std::exception&) {
        // The document reader decides about a file the direct one could not finish.
    }
    if (!read) return ReadListFromDocument(path, list);
    for (auto& item : items)
        list.Add(std::move(item));
    return true;
}

bool TXMLReaderAndWriterRemindList::ReadListFromDocument(const std::string& path, TResultList& list) {
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

// Each element is the first child of its name; a missing one reads as its default. (An element holding
// child elements raises, which drops the item.) The Auction's children are looked at once, not once per name.
void TXMLReaderAndWriterRemindList::ReadAuction(TParserBaseXML& r, TXMLNode auction,
                                                TSearchResultAuctionDetails& item) {
    // Text beside the items has no fields to read: it is no item.
    if (auction.Raw().type() != pugi::node_element) throw EXMLDomError("ReadAuction: the node is no element");
    const TChildElements a(auction, ItemElementNames, ieCount);
    ReadAuctionTexts([&](TItemElement e) { return TParserBaseXML::TextView(a[e]); },
                     r.GetFormatSettings().FormatSettings(), item);
}

// The items go straight into the file's text, written exactly as the DOM prints a document built of them
// (raw, UTF-8): building that document took longer than all the rest of a save.
void TXMLReaderAndWriterRemindList::WriteList(const std::string& path, TResultList& list) {
    auto* details = dynamic_cast<TDetailsList*>(&list);
    if (!details) throw EInvalidCast("Invalid class typecast");
    TXMLReaderAndWriter::WriteList(path, list);
    TWriterBaseXML writer;
    writer.SetDecimalSeparator(FileDecimalSeparator);
    writer.ResetFormats();
    writer.OmitDefaults = false;
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    if (details->Count() == 0) {
        xml += "<Reminder/>";
    } else {
        // About what a stored item takes, so that the text rarely has to move while it grows.
        xml.reserve(xml.size() + static_cast<size_t>(details->Count()) * 2048);
        xml += "<Reminder>";
        for (int i = 0; i < details->Count(); ++i)
            WriteAuction(writer, xml, details->GetAuction(i));
        xml += "</Reminder>";
    }
    WriteFileAtomic(path, xml, TFileAccess::OwnerOnly, TFileKeep::Durable);
}

namespace {

// The length of the run at the start of s that is written as it stands: printable ASCII without "&", "<",
// ">" and the quote. Most stored texts are such a run to their end, found sixteen bytes at a time.
size_t PlainTextRun(std::string_view s) {
    // As signed bytes, control characters and the bytes of longer UTF-8 sequences are all below the blank.
    const __m128i blank = _mm_set1_epi8(0x20), amp = _mm_set1_epi8('&'), lt = _mm_set1_epi8('<'),
                  gt = _mm_set1_epi8('>'), quote = _mm_set1_epi8('"');
    size_t i = 0;
    for (; i + 16 <= s.size(); i += 16) {
        const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s.data() + i));
        const __m128i stop =
            _mm_or_si128(_mm_or_si128(_mm_cmplt_epi8(c, blank), _mm_cmpeq_epi8(c, amp)),
                         _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(c, lt), _mm_cmpeq_epi8(c, gt)),
                                      _mm_cmpeq_epi8(c, quote)));
        if (const unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(stop)))
            return i + static_cast<size_t>(std::countr_zero(mask));
    }
    for (; i < s.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        if (c < 0x20 || c >= 0x80 || c == '&' || c == '<' || c == '>' || c == '"') return i;
    }
    return s.size();
}

// Text as the DOM prints it: the markup characters as references; control characters, carriage returns
// included, as character references, so that they read back as they were.
void AppendEscaped(std::string& out, std::string_view s, bool attribute) {
    size_t run = 0;
    for (size_t i = 0; i < s.size(); ++i) {
        i += PlainTextRun(s.substr(i));
        if (i == s.size()) break;
        const unsigned char c = static_cast<unsigned char>(s[i]);
        const char* entity = nullptr;
        if (c == '&')
            entity = "&amp;";
        else if (c == '<')
            entity = "&lt;";
        else if (c == '>' && !attribute)
            entity = "&gt;";
        else if (c == '"' && attribute)
            entity = "&quot;";
        else if (c >= 0x20 || (!attribute && (c == '\t' || c == '\n')))
            continue;
        out.append(s, run, i - run);
        run = i + 1;
        if (entity) {
            out += entity;
        } else {
            out += "&#";
            out += static_cast<char>('0' + c / 10);
            out += static_cast<char>('0' + c % 10);
            out += ';';
        }
    }
    out.append(s, run, s.size() - run);
}

// Each element's tags, made once: a save writes them 17 000 times for a full list.
struct TElementTags {
    std::string Open[ieCount], Close[ieCount], Empty[ieCount];
    TElementTags() {
        for (int e = 0; e < ieCount; ++e) {
            const std::string name(ItemElementNames[e]);
            Open[e] = '<' + name + '>';
            Close[e] = "</" + name + '>';
            Empty[e] = '<' + name + "/>";
        }
    }
};
const TElementTags& Tags() {
    static const TElementTags tags;
    return tags;
}

// plain: value needs no reference (PlainTextRun covers it).
void AppendElement(std::string& out, TItemElement e, std::string_view value, bool plain = false) {
    const TElementTags& tags = Tags();
    if (value.empty()) {
        out += tags.Empty[e];
        return;
    }
    const std::string& open = tags.Open[e];
    const std::string& close = tags.Close[e];
    if (plain) {
        // One growth and three copies instead of three appends: this runs 17 000 times for a full list.
        const size_t at = out.size();
        out.resize(at + open.size() + value.size() + close.size());
        char* p = out.data() + at;
        std::memcpy(p, open.data(), open.size());
        std::memcpy(p += open.size(), value.data(), value.size());
        std::memcpy(p + value.size(), close.data(), close.size());
        return;
    }
    out += open;
    AppendEscaped(out, value, false);
    out += close;
}

} // namespace

void TXMLReaderAndWriterRemindList::WriteAuction(TWriterBaseXML& w, std::string& out,
                                                 const TSearchResultAuctionDetails& item) {
    const TFormatSettings& fs = w.GetFormatSettings().FormatSettings();
    std::string value;
    auto text = [&](TItemElement e, const std::string& v) {
        if (PlainTextRun(v) == v.size())
            AppendElement(out, e, v, true);
        else if (IsFileTextAsIs(v))
            AppendElement(out, e, v);
        else
            AppendElement(out, e, FileText(v));
    };
    auto int64 = [&](TItemElement e, int64_t v) {
        char digits[24];
        const char* end = std::to_chars(digits, digits + sizeof digits, v).ptr;
        AppendElement(out, e, std::string_view(digits, static_cast<size_t>(end - digits)), true);
    };
    auto integer = [&](TItemElement e, int v) { int64(e, v); };
    auto boolean = [&](TItemElement e, bool v) { AppendElement(out, e, v ? "True" : "False", true); };
    auto single = [&](TItemElement e, float v) {
        value.clear();
        AppendFloatText(value, static_cast<double>(v), fs.DecimalSeparator);
        AppendElement(out, e, value, true);
    };
    auto dateTime = [&](TItemElement e, TDateTime v) {
        value.clear();
        AppendDateTimeText(value, v, fs);
        AppendElement(out, e, value, PlainTextRun(value) == value.size());
    };

    out += '<';
    out += AuctionElement;
    out += ' ';
    out += ArticleIDAttribute;
    out += "=\"";
    AppendEscaped(out, FileText(item.ArticleNumber), true);
    out += "\">";
    text(ieDescription, item.Description);
    integer(ieMarketPlaceID, item.MarketPlaceID);
    text(ieMarketPlaceName, item.MarketPlaceName);
    integer(ieCategory, item.Category);
    boolean(ieBuyNow, item.BuyNow);
    integer(ieBidCount, item.BidCount);
    boolean(ieHasPic, item.HasPic);
    boolean(ieHasGaleryPic, item.HasGaleryPic);
    text(iePictureFilename, item.PictureFilename);
    dateTime(ieEndTime, item.EndTime);
    // The price shown, so that a buy-it-now offer without a standard price keeps its price after a reload.
    single(iePriceStandard, item.GetCurrentPrice());
    single(iePriceBuyNow, item.PriceBuyNow);
    text(ieArticleNumber, item.ArticleNumber);
    text(ieLink, item.Link);
    text(ieGaleryLink, item.GaleryLink);
    integer(ieCurrencyID, item.CurrencyID);
    integer(ieQuantity, item.Quantity);
    integer(ieSideID, item.SideID);
    single(ieMinimumToBid, item.MinimumToBid);
    single(ieShippingAmount, item.ShippingAmount);
    text(ieShippingTo, item.ShippingTo);
    single(ieStars, item.Stars);
    text(ieRegion, item.Region);
    text(ieLocation, item.Location);
    integer(ieFeedBack, item.FeedBack);
    single(iePositiveFeedB, item.PositiveFeedB);
    dateTime(ieMemberSince, item.MemberSince);
    text(ieQuestionLink, item.QuestionLink);
    text(ieSellerName, item.SellerName);
    boolean(ieReminded, item.Reminded);
    integer(ieRemindType, item.RemindType);
    dateTime(ieRemindTime, item.RemindTime);
    integer(iePriority, item.Priority);
    boolean(ieNeverEnding, item.NeverEnding);
    text(ieDetailImageLink, item.DetailImageLink);
    text(ieDetailGalleryLinks,
         StringReplaceAll(Trim(LinesToText(item.DetailGalleryLinks)), "\n", GalleryLinkSeparator));
    int64(ieRelatedGroup, item.RelatedGroup);
    text(ieFullKey, item.FullKey);
    dateTime(ieLastUpdate, item.LastUpdate);
    text(ieFreetext, item.Freetext);
    text(ieSkypeID, item.SkypeID);
    integer(ieSkypeContactOption, item.SkypeContactOption);
    text(ieHighBidder, item.HighBidder);
    out += "</";
    out += AuctionElement;
    out += '>';
}
