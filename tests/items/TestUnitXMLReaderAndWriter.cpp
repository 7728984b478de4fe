#include "ItemsTestHelpers.h"
#include "KovaTestSupport.h"
#include "base/UnitUtils.h"
#include "items/UnitResultLst.h"
#include "items/UnitXMLReaderAndWriter.h"
#include "platform/UnitPlatformFiles.h"

#include <gtest/gtest.h>
#include <pugixml.hpp>
#include <sstream>
#include <tuple>

namespace {

const char* const ElementOrder[] = {
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

// What the file keeps of an item: texts without surrounding blanks, times without milliseconds, the price
// shown as the standard price; no start time and no listing type.
auto Texts(const TSearchResultAuctionDetails& i) {
    return std::vector<std::string>{i.ArticleNumber,   i.Description,     i.GaleryLink, i.Link,
                                    i.PictureFilename, i.MarketPlaceName, i.FullKey,    i.Location,
                                    i.QuestionLink,    i.Region,          i.SellerName, i.ShippingTo,
                                    i.Freetext,        i.SkypeID,         i.HighBidder, i.DetailImageLink,
                                    i.ListingType};
}
auto Numbers(const TSearchResultAuctionDetails& i) {
    return std::tuple(i.BidCount, i.BuyNow, i.Category, i.CurrencyID, i.HasGaleryPic, i.HasPic,
                      i.MinimumToBid, i.PriceBuyNow, i.GetCurrentPrice(), i.Quantity, i.SideID,
                      i.MarketPlaceID, i.NeverEnding, i.FeedBack, i.PositiveFeedB, i.ShippingAmount,
                      i.Priority, i.Reminded, i.RemindType, i.Stars, i.RelatedGroup, i.SkypeContactOption,
                      i.DetailGalleryLinks);
}
auto Times(const TSearchResultAuctionDetails& i) {
    auto seconds = [](TDateTime t) { return DateTimeToMSecs(t) / 1000 * 1000; };
    return std::vector<int64_t>{seconds(i.EndTime), seconds(i.MemberSince), seconds(i.RemindTime),
                                seconds(i.LastUpdate), seconds(i.StartTime)};
}

void ExpectStoredFieldsSurvive(const TSearchResultAuctionDetails& w, const TSearchResultAuctionDetails& r) {
    std::vector<std::string> texts = Texts(w);
    for (std::string& t : texts)
        t = Trim(t);
    texts.back() = "";
    EXPECT_EQ(Texts(r), texts);
    EXPECT_EQ(Numbers(r), Numbers(w));
    std::vector<int64_t> times = Times(w);
    times.back() = 0;
    EXPECT_EQ(Times(r), times);
    EXPECT_EQ(r.PriceStandard, w.GetCurrentPrice());
    for (TDateTime t : {r.EndTime, r.MemberSince, r.RemindTime, r.LastUpdate})
        EXPECT_EQ(DateTimeToMSecs(t) % 1000, 0);
}

std::string ElementText(const std::string& file, int auction, const char* name) {
    pugi::xml_document doc;
    doc.load_file(file.c_str());
    pugi::xml_node a = doc.child("Reminder").child("Auction");
    for (int i = 0; i < auction; ++i)
        a = a.next_sibling("Auction");
    return a.child(name).text().get();
}

std::string Auction(const std::string& children) {
    return "<Auction>" + children + "</Auction>";
}

std::string ItemFile(const std::string& body) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<Reminder>" + body + "</Reminder>";
}

} // namespace

TEST(XMLReaderAndWriter, ItemsSurviveASaveAndALoad) {
    TTempDir dir;
    const std::string path = dir.File("watchlist.dat");
    TDetailsList written;
    for (int n = 0; n < 3; ++n)
        written.Add(MakeFullAuction(n));
    auto& first = written.GetAuction(0);
    first.Description = "  \t" + first.Description + "  ";
    first.DetailGalleryLinks = {"https://i.example.com/a.jpg", "", "https://i.example.com/b.jpg"};
    first.EndTime = EncodeDateTime(2026, 12, 24, 23, 59, 59, 999);
    auto& second = written.GetAuction(1);
    second.PriceStandard = 0;
    second.BuyNow = true;
    second.PriceBuyNow = 25;
    second.RelatedGroup = -1;
    second.DetailGalleryLinks.clear();
    written.GetAuction(2).Priority = 0;
    written.SaveToFile(path);

    TDetailsList read;
    ASSERT_TRUE(read.LoadFromFile(path));
    ASSERT_EQ(read.Count(), 3);
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE("item " + std::to_string(i));
        ExpectStoredFieldsSurvive(written.GetAuction(i), read.GetAuction(i));
    }
    EXPECT_EQ(read.GetAuction(1).PriceStandard, 25) << "the price shown is stored";

    // Loading appends.
    ASSERT_TRUE(read.LoadFromFile(path));
    EXPECT_EQ(read.Count(), 6);
    EXPECT_EQ(read.GetAuction(3).ArticleNumber, written.GetAuction(0).ArticleNumber);
}

TEST(XMLReaderAndWriter, StoredFormOfTheValues) {
    TTempDir dir;
    const std::string path = dir.File("watchlist.dat");
    TScopedDecimalSeparator dot('.');
    TDetailsList list;
    auto item = MakeFullAuction(1);
    item->PriceStandard = 12.5f;
    item->MinimumToBid = 0;
    item->ShippingAmount = 19.99f;
    item->EndTime = EncodeDateTime(2009, 12, 24, 18, 30, 0, 456);
    item->LastUpdate = EncodeDate(2009, 12, 24);
    item->MemberSince = 0;
    item->BuyNow = false;
    item->ArticleNumber = "11<&>";
    list.Add(std::move(item));
    list.Add(MakeAuction("2"));
    list.SaveToFile(path);

    pugi::xml_document doc;
    ASSERT_TRUE(doc.load_file(path.c_str()));
    const pugi::xml_node auction = doc.child("Reminder").child("Auction");
    EXPECT_STREQ(auction.attribute("ArticleID").value(), "11<&>");
    std::vector<std::string> names;
    for (pugi::xml_node c = auction.first_child(); c; c = c.next_sibling())
        names.push_back(c.name());
    EXPECT_EQ(names, std::vector<std::string>(std::begin(ElementOrder), std::end(ElementOrder)));

    EXPECT_EQ(ElementText(path, 0, "PriceStandard"), "12,5") << "a comma whatever the user's locale";
    EXPECT_EQ(ElementText(path, 0, "MinimumToBid"), "0");
    EXPECT_EQ(ElementText(path, 0, "ShippingAmount"), "19,9899997711182") << "the single widened, 15 digits";
    EXPECT_EQ(ElementText(path, 0, "EndTime"), "24.12.2009 18:30:00");
    EXPECT_EQ(ElementText(path, 0, "LastUpdate"), "24.12.2009");
    EXPECT_EQ(ElementText(path, 0, "MemberSince"), "30.12.1899");
    EXPECT_EQ(ElementText(path, 0, "BuyNow"), "False");
    EXPECT_EQ(ElementText(path, 0, "HasPic"), "True");
    EXPECT_EQ(ElementText(path, 0, "DetailGalleryLinks"),
              "https://i.example.com/1.jpg?https://i.example.com/2.jpg");
    EXPECT_EQ(ElementText(path, 1, "DetailGalleryLinks"), "");
    EXPECT_TRUE(auction.next_sibling("Auction").child("DetailGalleryLinks"))
        << "an empty list still has its element";
    EXPECT_EQ(ElementText(path, 1, "Priority"), "1");

    // Read back under a locale that uses the comma itself.
    TScopedDecimalSeparator comma(',');
    TDetailsList read;
    ASSERT_TRUE(read.LoadFromFile(path));
    ASSERT_EQ(read.Count(), 2);
    EXPECT_EQ(read.GetAuction(0).PriceStandard, 12.5f);
    EXPECT_EQ(read.GetAuction(0).ShippingAmount, 19.99f);
    EXPECT_EQ(read.GetAuction(0).ArticleNumber, "11<&>");
}

TEST(XMLReaderAndWriter, ReadsTheStoredSample) {
    TDetailsList list;
    ASSERT_TRUE(list.LoadFromFile(KOVA_TEST_DATA_DIR "/items/watchlist_two_items.dat"));
    ASSERT_EQ(list.Count(), 2);
    const auto& a = list.GetAuction(0);
    EXPECT_EQ(a.Description, "Kupferkessel, 2 l – wie neu");
    EXPECT_EQ(a.PriceStandard, 12.5f);
    EXPECT_EQ(a.ShippingAmount, 4.9f);
    EXPECT_EQ(a.EndTime, EncodeDateTime(2026, 12, 24, 18, 30, 5, 0));
    EXPECT_EQ(a.LastUpdate, EncodeDate(2026, 12, 1));
    EXPECT_EQ(a.MemberSince, 0);
    EXPECT_EQ(a.Link, "https://www.example.com/itm/250123456789?hash=item3a&x=1");
    EXPECT_EQ(a.DetailGalleryLinks,
              (TStringLines{"https://i.example.com/1.jpg", "https://i.example.com/2.jpg"}));
    EXPECT_EQ(a.HighBidder, "k***a");
    EXPECT_TRUE(a.HasGaleryPic);
    EXPECT_EQ(a.Priority, 1);

    const auto& b = list.GetAuction(1);
    EXPECT_EQ(b.ArticleNumber, "250987654321") << "the ArticleID attribute is not read";
    EXPECT_TRUE(b.BuyNow) << "booleans in any letter case";
    EXPECT_EQ(b.PriceStandard, 99.95f);
    EXPECT_EQ(b.RemindType, 0) << "9 is out of range";
    EXPECT_EQ(b.SkypeContactOption, 0) << "4 is out of range";
    EXPECT_EQ(b.Priority, 0) << "a missing priority reads 0";
    EXPECT_EQ(b.RelatedGroup, -9007199254740993LL);
    EXPECT_EQ(b.HighBidder, "");
    EXPECT_EQ(b.EndTime, EncodeDate(2027, 1, 1));
}

TEST(XMLReaderAndWriter, ElementsThatAreNotItems) {
    TTempDir dir;
    TDetailsList list;
    // Every sibling after the first Auction is an item, whatever its name; one that cannot be read is
    // skipped.
    const std::string mixed = ItemFile(
        "<Other/>" + Auction("<ArticleNumber>1</ArticleNumber><Priority>5</Priority>") + "<Other></Other>" +
        Auction("<ArticleNumber>2</ArticleNumber><Description>a<b/>c</Description>") +
        Auction("<ArticleNumber>3</ArticleNumber><RemindType>6</RemindType>"
                "<SkypeContactOption>3</SkypeContactOption>") +
        "stray text" + Auction("<ArticleNumber>4</ArticleNumber>"));
    ASSERT_TRUE(list.LoadFromFile(dir.Write("mixed.dat", mixed)));
    ASSERT_EQ(list.Count(), 4);
    EXPECT_EQ(list.GetAuction(0).ArticleNumber, "1");
    EXPECT_EQ(list.GetAuction(0).Priority, 5);
    const auto& empty = list.GetAuction(1);
    EXPECT_EQ(empty.ArticleNumber, "");
    EXPECT_EQ(empty.Priority, 0);
    EXPECT_EQ(empty.EndTime, 0);
    EXPECT_TRUE(empty.DetailGalleryLinks.empty());
    EXPECT_EQ(list.GetAuction(2).ArticleNumber, "3");
    EXPECT_EQ(list.GetAuction(2).RemindType, 6);
    EXPECT_EQ(list.GetAuction(2).SkypeContactOption, 3);
    EXPECT_EQ(list.GetAuction(3).ArticleNumber, "4");

    // Values that do not convert read as their defaults; the file's decimal separator is the comma.
    TDetailsList odd;
    ASSERT_TRUE(odd.LoadFromFile(
        dir.Write("odd.dat", ItemFile(Auction("<Priority>x</Priority><PriceStandard>12.5</PriceStandard>"
                                              "<Stars>1e400</Stars><RemindType>-1</RemindType>")))));
    ASSERT_EQ(odd.Count(), 1);
    EXPECT_EQ(odd.GetAuction(0).Priority, 0);
    EXPECT_EQ(odd.GetAuction(0).PriceStandard, 0);
    EXPECT_EQ(odd.GetAuction(0).RemindType, 0);

    // Elements in any order; of two with one name the first counts.
    TDetailsList shuffled;
    ASSERT_TRUE(shuffled.LoadFromFile(dir.Write(
        "shuffled.dat", ItemFile(Auction("<HighBidder>h</HighBidder><Priority>7</Priority><Description>first"
                                         "</Description><Unknown/><Description>second</Description>"
                                         "<ArticleNumber>9</ArticleNumber><Priority>8</Priority>")))));
    ASSERT_EQ(shuffled.Count(), 1);
    EXPECT_EQ(shuffled.GetAuction(0).Priority, 7);
    EXPECT_EQ(shuffled.GetAuction(0).Description, "first");
    EXPECT_EQ(shuffled.GetAuction(0).ArticleNumber, "9");
    EXPECT_EQ(shuffled.GetAuction(0).HighBidder, "h");

    TDetailsList none;
    EXPECT_TRUE(none.LoadFromFile(dir.Write("none.dat", ItemFile("<Other><Auction/></Other>"))));
    EXPECT_EQ(none.Count(), 0);
}

TEST(XMLReaderAndWriter, UnreadableFilesChangeNothing) {
    TTempDir dir;
    TDetailsList list;
    list.Add(MakeAuction("kept"));
    const std::string good = ItemFile(Auction("<ArticleNumber>1</ArticleNumber>"));
    const std::string cases[] = {
        "",
        "not xml at all",
        good.substr(0, good.size() - 5),
        ItemFile(Auction("<ArticleNumber>1</ArticleNumber>")) + "<Second/>",
        "<?xml version=\"1.0\" "
        "encoding=\"UTF-8\"?><Reminder><Auction><Description>\xC3(</Description></Auction>"
        "</Reminder>",
    };
    for (const std::string& bytes : cases) {
        EXPECT_FALSE(list.LoadFromFile(dir.Write("bad.dat", bytes))) << bytes;
        EXPECT_EQ(list.Count(), 1) << bytes;
    }
    EXPECT_FALSE(list.LoadFromFile(dir.File("missing.dat")));
    EXPECT_FALSE(list.LoadFromFile(dir.Path())) << "a folder is no item file";
    EXPECT_EQ(list.Count(), 1);
    EXPECT_EQ(list.GetAuction(0).ArticleNumber, "kept");
}

TEST(XMLReaderAndWriter, EmptyListAndSplitGalleryLinks) {
    TTempDir dir;
    const std::string path = dir.File("watchlist.dat");
    TDetailsList empty;
    empty.SaveToFile(path);
    pugi::xml_document doc;
    ASSERT_TRUE(doc.load_file(path.c_str()));
    EXPECT_FALSE(doc.child("Reminder").first_child());
    TDetailsList read;
    EXPECT_TRUE(read.LoadFromFile(path));
    EXPECT_EQ(read.Count(), 0);

    // The stored form joins the links with "?", so a link holding one comes back in two parts.
    TDetailsList list;
    auto item = MakeAuction("1");
    item->DetailGalleryLinks = {"https://i.example.com/x.jpg?size=big", "https://i.example.com/y.jpg"};
    list.Add(std::move(item));
    list.SaveToFile(path);
    ASSERT_TRUE(read.LoadFromFile(path));
    EXPECT_EQ(read.GetAuction(0).DetailGalleryLinks,
              (TStringLines{"https://i.example.com/x.jpg", "size=big", "https://i.example.com/y.jpg"}));
}

TEST(XMLReaderAndWriter, TextsTheFileCannotHoldStillLeaveAReadableFile) {
    TTempDir dir;
    const std::string path = dir.File("watchlist.dat");
    TDetailsList list;
    auto item = MakeAuction("1\xFF");
    item->Description = std::string("Latin-1 \xE9t\xE9 and a zero ") + '\0' + "byte";
    item->SellerName = "bell\x07tab\there";
    list.Add(std::move(item));
    list.Add(MakeAuction("2"));
    list.SaveToFile(path);

    TDetailsList read;
    ASSERT_TRUE(read.LoadFromFile(path));
    ASSERT_EQ(read.Count(), 2);
    EXPECT_EQ(read.GetAuction(0).ArticleNumber, "1\xEF\xBF\xBD");
    EXPECT_EQ(read.GetAuction(0).Description, "Latin-1 \xEF\xBF\xBDt\xEF\xBF\xBD and a zero byte");
    EXPECT_EQ(read.GetAuction(0).SellerName, "bell\x07tab\there");
}

TEST(XMLReaderAndWriter, CarriageReturnsAndControlCharactersMakeAValidFileAndReadBackTheSame) {
    const std::string texts[] = {
        "line one\r\nline two",
        "old style\rline end",
        "bell\x07 and escape\x1B inside",
        "\x01leading and trailing\x1F",
        "form\x0C feed and vertical\x0B tab",
        "private \xEE\x80\x80 mark \xEE\x80\x81 and \xEE\x80\x80\x01 kept",
    };
    for (const std::string& text : texts) {
        SCOPED_TRACE(text);
        TTempDir dir;
        const std::string path = dir.File("watchlist.dat");
        TDetailsList list;
        auto item = MakeAuction("1");
        item->Description = text;
        item->SellerName = text;
        item->Freetext = text;
        list.Add(std::move(item));
        list.SaveToFile(path);

        // XML 1.0 allows no control character other than tab, line feed and carriage return, neither raw nor
        // as a reference, and a raw carriage return would read back as a line feed.
        const std::string bytes = ReadFileBytes(path);
        for (const char c : bytes)
            EXPECT_TRUE(static_cast<unsigned char>(c) >= 0x20 || c == '\t' || c == '\n') << int(c);
        for (size_t at = bytes.find("&#"); at != std::string::npos; at = bytes.find("&#", at + 2)) {
            const int code = std::atoi(bytes.c_str() + at + 2);
            EXPECT_TRUE(code == 9 || code == 10 || code == 13 || code >= 0x20) << code;
        }

        TDetailsList read;
        ASSERT_TRUE(read.LoadFromFile(path));
        ASSERT_EQ(read.Count(), 1);
        EXPECT_EQ(read.GetAuction(0).Description, text);
        EXPECT_EQ(read.GetAuction(0).SellerName, text);
        EXPECT_EQ(read.GetAuction(0).Freetext, text);
    }
}

TEST(XMLReaderAndWriter, AFailedSaveKeepsThePreviousFile) {
    TTempDir dir;
    const std::string path = dir.File("watchlist.dat");
    TDetailsList list;
    list.Add(MakeFullAuction(1));
    list.SaveToFile(path);
    const std::string before = ReadTextFile(path);
    ASSERT_FALSE(before.empty());

    list.Add(MakeFullAuction(2));
    SetWriteFaultForTesting([](const std::string&) { return true; });
    EXPECT_THROW(list.SaveToFile(path), EStreamError);
    SetWriteFaultForTesting(nullptr);
    EXPECT_EQ(ReadTextFile(path), before);

    EXPECT_THROW(list.SaveToFile(dir.File("no-such-folder/watchlist.dat")), EStreamError);
    EXPECT_FALSE(FileExists(dir.File("no-such-folder/watchlist.dat")));

    TResultList plain;
    TXMLReaderAndWriterRemindList writer;
    EXPECT_THROW(writer.WriteList(path, plain), EInvalidCast);
    EXPECT_EQ(ReadTextFile(path), before);
}

// The file's text is written directly; it must stay byte for byte what the DOM prints for the same items
// (markup and quotes as references, control characters and carriage returns as character references,
// empty texts as empty elements), or files would change with every save.
TEST(XMLReaderAndWriter, TheSavedFileIsWhatItsDocumentPrints) {
    TTempDir dir;
    const std::string path = dir.File("watchlist.dat");
    TDetailsList list;
    auto odd = MakeFullAuction(1);
    odd->ArticleNumber = "a\"b<c>d&e'f\tg\r\nh\x01i";
    odd->Description = "x<y>&\"z\" 'q'\r\n\ttab \x1f ]]> \xEE\x80\x80 end";
    odd->Link = "";
    odd->DetailGalleryLinks.clear();
    odd->PriceStandard = -3.4e38f;
    odd->Stars = 1e-45f;
    odd->EndTime = -700000.75;
    odd->MemberSince = 2958465.9999999;
    list.Add(std::move(odd));
    list.Add(MakeAuction(""));
    // Each byte that needs a reference or a look, at the start, on either side of a sixteen-byte boundary
    // and at the end of a text, in an element and in the attribute.
    for (const std::string special :
         {"&", "<", ">", "\"", "'", "\x01", "\t", "\r", "\n", "\xC3\xA9", "\xFF"}) {
        for (const size_t at : {0, 15, 16, 17, 31, 40}) {
            const std::string text = std::string(at, 'a') + special + std::string(40 - at, 'b');
            auto item = MakeAuction(text);
            item->Description = text;
            list.Add(std::move(item));
        }
    }
    list.SaveToFile(path);

    const std::string file = ReadTextFile(path);
    pugi::xml_document doc;
    ASSERT_TRUE(doc.load_buffer(file.data(), file.size()));
    std::ostringstream printed;
    printed << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    doc.document_element().print(printed, "", pugi::format_raw, pugi::encoding_utf8);
    EXPECT_EQ(file, StringReplaceAll(printed.str(), "\r", "&#13;"));
}

namespace {

// Every field of every item, exactly, in one text: what two readers must agree on.
std::string AllFields(const TDetailsList& list) {
    std::ostringstream out;
    out.precision(17);
    for (int n = 0; n < list.Count(); ++n) {
        const TSearchResultAuctionDetails& i = list.GetAuction(n);
        for (const std::string& t : Texts(i))
            out << '[' << t << ']';
        for (const std::string& t : {i.ShippingTo, i.Freetext, i.SkypeID})
            out << '[' << t << ']';
        for (const std::string& link : i.DetailGalleryLinks)
            out << '{' << link << '}';
        out << i.BidCount << i.BuyNow << ' ' << i.Category << ' ' << i.CurrencyID << i.HasGaleryPic
            << i.HasPic << ' ' << i.MinimumToBid << ' ' << i.PriceBuyNow << ' ' << i.PriceStandard << ' '
            << i.Quantity << ' ' << i.SideID << ' ' << i.MarketPlaceID << i.NeverEnding << ' ' << i.FeedBack
            << ' ' << i.PositiveFeedB << ' ' << i.ShippingAmount << ' ' << i.Priority << i.Reminded
            << int(i.RemindType) << ' ' << i.Stars << ' ' << i.RelatedGroup << int(i.SkypeContactOption)
            << ' ' << i.EndTime << ' ' << i.MemberSince << ' ' << i.RemindTime << ' ' << i.LastUpdate << '\n';
    }
    return out.str();
}

} // namespace

// A file in the written form is read straight from its text; any other goes through the document. Both ways
// must give the same items, whatever the file holds, and the direct way must be taken for what a save writes.
TEST(XMLReaderAndWriter, TheWrittenFormIsReadDirectlyWithTheDocumentsResult) {
    TTempDir dir;
    TDetailsList written;
    for (int n = 0; n < 3; ++n)
        written.Add(MakeFullAuction(n));
    auto& odd = written.GetAuction(1);
    odd.Description = " \t<a href=\"x\">&amp;</a> 'q' \r\n line\rend \x01 \xEE\x80\x80 \xF0\x9F\x98\x80 ]]> ";
    odd.SellerName = "\xEE\x80\x80\x02";
    odd.DetailGalleryLinks = {"a\x03", "", "b"};
    odd.Link = "";
    odd.EndTime = -700000.75;
    written.Add(MakeAuction(""));
    const std::string saved = dir.Write("saved.dat", "");
    written.SaveToFile(saved);
    const std::string text = ReadFileBytes(saved);

    auto replaced = [&](const std::string& from, const std::string& to) {
        return StringReplaceAll(text, from, to);
    };
    const std::string endTime = "<EndTime>09.12.2025 12:00:00</EndTime>";
    const std::pair<std::string, bool> cases[] = {
        {text, true},
        {replaced("?>\n<Reminder>", "?>\r\n <Reminder>\n"), true},
        {replaced("</Description>", "&#65;&#x20ac;&#x1F600;&#xD800;&#1114111;</Description>"), true},
        {replaced("<Link/>", "<Link></Link>"), true},
        {replaced("<Category>", " \n<Category>"), true},
        {replaced("<Category>", "<!-- c --><Category>"), false},
        {replaced(endTime, "<EndTime>09.12.2025 12:00:00\r</EndTime>"), false},
        {replaced(endTime, "<EndTime>&#32;09.12.2025 12:00:00&#0;</EndTime>"), false},
        {replaced("</Description>", "&unknown;&#X41;&#;&#x110000;&#99999999999;&amp</Description>"), false},
        {replaced(endTime, ""), false},
        {replaced(endTime, endTime + endTime), false},
        {replaced("<Auction ArticleID", "<Auction Other=\"&quot;\" ArticleID"), false},
        {replaced("ArticleID=\"11000\"", "ArticleID=\"a<b\""), false},
        {replaced("<Link/>", "<Link />"), false},
        {replaced("</Reminder>", "</Reminder> stray"), false},
        {replaced("</Reminder>", "</Reminder><Second/>"), false},
        {replaced("Teekessel", "Teekessel \xC3("), false},
        {text.substr(0, text.size() - 3), false},
        {"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Reminder/>\n", true},
        {"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<Reminder>\r\n</Reminder>", true},
    };
    for (const auto& [bytes, direct] : cases) {
        SCOPED_TRACE(bytes.substr(0, 400));
        const std::string path = dir.Write("case.dat", bytes);
        TXMLReaderAndWriterRemindList reader, documentReader;
        TDetailsList read, throughDocument;
        const bool ok = reader.ReadList(path, read);
        EXPECT_EQ(ok, documentReader.ReadListFromDocument(path, throughDocument));
        EXPECT_EQ(AllFields(read), AllFields(throughDocument));
        EXPECT_EQ(ok && reader.Document().IsEmpty(), direct);
    }
}
