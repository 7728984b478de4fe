#include "base/UnitDateTime.h"
#include "base/UnitUtils.h"
#include "ebayapi/UnitXMLParser.h"
#include "items/UnitResultLst.h"
#include "items/UnitSiteCurrencyTables.h"
#include "platform/UnitPlatformLocale.h"
#include "support/KovaTestSupport.h"
#include "support/UnitFormatSettings.h"

#include <cmath>
#include <gtest/gtest.h>
#include <sstream>

namespace {

using Code = TParserResultCode;

TMemoryStream Answer(const std::string& name) {
    return TMemoryStream(ReadTextFile(std::string(KOVA_TEST_DATA_DIR) + "/ebayapi/" + name));
}

TDateTime At(int year, int month, int day, int hour, int minute, int second) {
    return EncodeDate(year, month, day) + EncodeTime(hour, minute, second, 0);
}

// A list that already holds one item, to see whether a parse touched it.
struct TPrefilledList {
    TDetailsList List;
    TPrefilledList() {
        auto item = std::make_unique<TSearchResultAuctionDetails>();
        item->ArticleNumber = "already there";
        List.Add(std::move(item));
    }
};

// A German user: decimal comma, day-first dates with full stops, while it lives.
struct TScopedGermanLocale {
    TScopedGermanLocale() {
        TPlatformLocale l;
        l.DecimalSeparator = ',';
        l.ThousandSeparator = '.';
        l.DateSeparator = '.';
        l.ShortDateFormat = "dd.MM.yyyy";
        SetUserDefaultLocaleForTesting(l);
        ReloadDefaultFormatSettings();
    }
    ~TScopedGermanLocale() {
        SetUserDefaultLocaleForTesting(std::nullopt);
        ReloadDefaultFormatSettings();
    }
};

} // namespace

TEST(XMLMyEbayWatchListParser, ReadsEveryMappedFieldOfARealPage) {
    TManualClock clock(At(2009, 3, 14, 10, 0, 0), At(2009, 3, 14, 9, 0, 0));
    TXMLMyEbayWatchListParser parser;
    TDetailsList list;
    TMemoryStream page = Answer("watchlist_page1_of3.xml");
    page.SetPosition(page.Size());

    ASSERT_TRUE(parser.ParseWatchList(&page, list, true));
    EXPECT_EQ(parser.GetResultCode(), Code::prNoError);
    EXPECT_EQ(parser.TotalNumberOfPages, 3);
    ASSERT_EQ(list.Count(), 4);

    const TSearchResultAuctionDetails& full = list.GetAuction(0);
    EXPECT_EQ(full.ArticleNumber, "110039437821");
    EXPECT_EQ(full.Description, "Leica M6 & Summicron 50mm <mint> – Füße, 日本製");
    EXPECT_DOUBLE_EQ(full.StartTime, At(2009, 3, 8, 18, 30, 0));
    EXPECT_DOUBLE_EQ(full.EndTime, At(2009, 3, 15, 18, 30, 0)) << "GMT as sent, no conversion";
    EXPECT_EQ(full.Link, "http://cgi.ebay.com/ws/eBayISAPI.dll?ViewItem&item=110039437821");
    EXPECT_EQ(full.ListingType, "Chinese");
    EXPECT_FALSE(full.BuyNow) << "an auction, even with a buy-it-now price";
    EXPECT_EQ(full.SellerName, "camera_corner");
    EXPECT_FLOAT_EQ(full.PriceStandard, 88.0f);
    EXPECT_EQ(full.CurrencyID, 1);
    EXPECT_EQ(full.BidCount, 7);
    EXPECT_EQ(full.HighBidder, "b***r");
    EXPECT_FLOAT_EQ(full.PriceBuyNow, 149.5f);
    EXPECT_FLOAT_EQ(full.ShippingAmount, 4.9f) << "first shipping option only";
    EXPECT_EQ(full.SideID, 0);
    EXPECT_EQ(full.MarketPlaceName, "eBay (US)");
    EXPECT_EQ(full.Quantity, 1);
    EXPECT_EQ(full.GaleryLink, "http://thumbs.ebaystatic.com/pict/110039437821.jpg");
    EXPECT_TRUE(full.HasGaleryPic);

    // Without its containers an item keeps a new item's values, whatever the item before it had.
    const TSearchResultAuctionDetails& bare = list.GetAuction(1);
    EXPECT_EQ(bare.Description, "Bare listing");
    EXPECT_EQ(bare.EndTime, 0);
    EXPECT_EQ(bare.SellerName, "");
    EXPECT_EQ(bare.CurrencyID, 0);
    EXPECT_EQ(bare.ShippingAmount, 0);
    EXPECT_EQ(bare.SideID, 77) << "a site outside the table";
    EXPECT_EQ(bare.MarketPlaceName, "eBay (DE)");
    EXPECT_FALSE(bare.HasGaleryPic);

    const TSearchResultAuctionDetails& uk = list.GetAuction(2);
    EXPECT_DOUBLE_EQ(uk.StartTime, At(2009, 3, 14, 10, 0, 0)) << "unreadable time: current local time";
    EXPECT_DOUBLE_EQ(uk.EndTime, At(2009, 12, 24, 23, 59, 59));
    EXPECT_EQ(uk.SellerName, "tea_&_more");
    EXPECT_EQ(uk.CurrencyID, 3);
    EXPECT_EQ(uk.SideID, 3);
    EXPECT_EQ(uk.MarketPlaceName, "eBay (UK)");
    EXPECT_EQ(uk.ShippingAmount, 0) << "ShippingDetails without an option";
    EXPECT_EQ(uk.GaleryLink, "");
    EXPECT_FALSE(uk.HasGaleryPic);
    EXPECT_EQ(uk.Quantity, 12);
    EXPECT_TRUE(uk.BuyNow) << uk.ListingType;

    const TSearchResultAuctionDetails& odd = list.GetAuction(3);
    EXPECT_EQ(odd.Description, "Spaces around");
    EXPECT_EQ(odd.BidCount, 0) << "not a number";
    EXPECT_EQ(odd.PriceStandard, 0) << "a comma is no decimal separator here";
    EXPECT_EQ(odd.CurrencyID, 7) << "price without currencyID";
    EXPECT_EQ(odd.PriceBuyNow, 0) << "beyond single precision";
    EXPECT_EQ(odd.SideID, 211);
    EXPECT_EQ(odd.MarketPlaceName, "eBay (PH)");
}

TEST(XMLMyEbayWatchListParser, AppendsOrReplacesAndIgnoresTheUserLocale) {
    TScopedGermanLocale german;
    TXMLMyEbayWatchListParser parser;
    TPrefilledList prefilled;
    TMemoryStream page = Answer("watchlist_page1_of3.xml");
    ASSERT_TRUE(parser.ParseWatchList(&page, prefilled.List, true));
    ASSERT_TRUE(parser.ParseWatchList(&page, prefilled.List, true));
    EXPECT_EQ(prefilled.List.Count(), 9);
    EXPECT_EQ(prefilled.List.GetAuction(0).ArticleNumber, "already there");
    EXPECT_EQ(prefilled.List.GetAuction(5).ArticleNumber, "110039437821");

    ASSERT_TRUE(parser.ParseWatchList(&page, prefilled.List, false));
    EXPECT_EQ(prefilled.List.Count(), 4);
    const TSearchResultAuctionDetails& first = prefilled.List.GetAuction(0);
    EXPECT_EQ(first.ArticleNumber, "110039437821");
    EXPECT_FLOAT_EQ(first.PriceBuyNow, 149.5f);
    EXPECT_FLOAT_EQ(first.ShippingAmount, 4.9f);
    EXPECT_DOUBLE_EQ(first.EndTime, At(2009, 3, 15, 18, 30, 0));
}

TEST(XMLMyEbayWatchListParser, OutcomeOfEachKindOfAnswer) {
    struct TCase {
        const char* File;
        bool Result;
        Code Expected;
        int Added;
        int Pages;
    };
    const TCase cases[] = {
        {"watchlist_empty.xml", true, Code::prNoError, 0, 0},
        {"watchlist_warning.xml", true, Code::prApiWarning, 1, 1},
        {"watchlist_empty_pagination_only.xml", true, Code::prNoError, 0, 0},
        {"watchlist_empty_element.xml", true, Code::prNoError, 0, 0},
        {"watchlist_absent.xml", true, Code::prNoError, 0, 0},
        {"watchlist_no_itemarray.xml", false, Code::prDataParseFailed, 0, 2},
        {"fetchtoken_success.xml", false, Code::prDataParseFailed, 0, 0},
        {"token_invalid.xml", false, Code::prTokenInvalid, 0, 0},
        {"token_expired.xml", false, Code::prTokenExpired, 0, 0},
        {"code_17_older_layout.xml", false, Code::prError17, 0, 0},
        {"code_16110.xml", false, Code::prError16110, 0, 0},
        {"errors_only_classification.xml", false, Code::prApiError, 0, 0},
        {"unknown_root.xml", false, Code::prUnknownRoot, 0, 0},
        {"not_xml.txt", false, Code::prDataParseFailed, 0, 0},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.File);
        TXMLMyEbayWatchListParser parser;
        TPrefilledList prefilled;
        TMemoryStream answer = Answer(c.File);
        EXPECT_EQ(parser.ParseWatchList(&answer, prefilled.List, true), c.Result);
        EXPECT_EQ(parser.GetResultCode(), c.Expected);
        EXPECT_EQ(prefilled.List.Count(), 1 + c.Added);
        EXPECT_EQ(prefilled.List.GetAuction(0).ArticleNumber, "already there");
        EXPECT_EQ(parser.TotalNumberOfPages, c.Pages);
    }

    TXMLMyEbayWatchListParser noStream;
    TDetailsList list;
    EXPECT_FALSE(noStream.ParseWatchList(nullptr, list, false));
    EXPECT_EQ(noStream.GetResultCode(), Code::prDataParseFailed);
    EXPECT_EQ(noStream.ResultMessage(), "The results could not be parsed.");
}

TEST(XMLMyEbayWatchListParser, AnItemThatCannotBeReadIsLeftOutAndTheRestOfThePageCounts) {
    const std::string badBytes = "Caf\xE9 \xFF";
    auto page = [](const std::string& secondTitle, const std::string& version) {
        return TMemoryStream(
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?><GetMyeBayBuyingResponse><Ack>Success"
            "</Ack><Version>" +
            version +
            "</Version><WatchList><ItemArray><Item><ItemID>1</ItemID><Title>First</Title></Item>"
            "<Item><ItemID>2</ItemID><Title>" +
            secondTitle +
            "</Title></Item><Item><ItemID>3</ItemID><Title>Third</Title></Item></ItemArray>"
            "</WatchList></GetMyeBayBuyingResponse>");
    };
    struct TCase {
        const char* Name;
        TMemoryStream Answer;
        bool Result;
        std::vector<std::string> Kept;
    };
    TCase cases[] = {
        {"markup inside a title",
         Answer("watchlist_damaged_item.xml"),
         true,
         {"Read before the damage", "Never reached"}},
        {"a title that is not UTF-8", page(badBytes, "527"), true, {"First", "Third"}},
        {"bytes that are not UTF-8 outside the items", page("Second", badBytes), false, {}},
    };
    for (TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TXMLMyEbayWatchListParser parser;
        TDetailsList list;
        EXPECT_EQ(parser.ParseWatchList(&c.Answer, list, true), c.Result);
        std::vector<std::string> kept;
        for (int i = 0; i < list.Count(); ++i)
            kept.push_back(list.GetAuction(i).Description);
        EXPECT_EQ(kept, c.Kept);
        if (!c.Result) {
            EXPECT_EQ(parser.GetResultCode(), Code::prDataParseFailed);
        }
    }
}

TEST(XMLMyEbayWatchListParser, TheFirstFailureOfARunStaysStored) {
    TXMLMyEbayWatchListParser parser;
    TDetailsList list;
    auto parse = [&](const char* file) {
        TMemoryStream answer = Answer(file);
        return parser.ParseWatchList(&answer, list, true);
    };
    EXPECT_TRUE(parse("watchlist_page1_of3.xml"));
    EXPECT_TRUE(parse("watchlist_warning.xml"));
    EXPECT_EQ(parser.GetResultCode(), Code::prApiWarning) << "a success replaces a success";
    EXPECT_EQ(parser.ResultMessage(), "Error on API call (Input data for tag <WatchList.Sort> is invalid.).");

    EXPECT_FALSE(parse("token_expired.xml"));
    EXPECT_EQ(parser.GetResultCode(), Code::prTokenExpired);
    EXPECT_TRUE(parse("watchlist_empty.xml")) << "the page's own verdict is returned";
    EXPECT_FALSE(parse("not_xml.txt"));
    EXPECT_FALSE(parse("watchlist_no_itemarray.xml"));
    EXPECT_EQ(parser.GetResultCode(), Code::prTokenExpired);
    EXPECT_EQ(parser.ResultMessage(), "The token for using the eBay API is no longer valid.");
    EXPECT_EQ(parser.TotalNumberOfPages, 2) << "each page with a page count overwrites it";
}

TEST(XMLeBayApiResultParser, ConvertsEbayTimesAsGMTAndFallsBackToNow) {
    TManualClock clock(At(2020, 1, 2, 3, 4, 5), At(2020, 1, 2, 2, 4, 5));
    TXMLeBayApiResultParser parser;
    EXPECT_DOUBLE_EQ(parser.ConvertEbayDateTime("2009-03-15T18:30:00.000Z"), At(2009, 3, 15, 18, 30, 0));
    EXPECT_DOUBLE_EQ(parser.ConvertEbayDateTime("2000-02-29T00:00:59.999Z"), At(2000, 2, 29, 0, 0, 59));
    for (const char* bad : {"", "Z", "2009-13-15T18:30:00.000Z", "15.03.2009 18:30:00.000", "soon"})
        EXPECT_DOUBLE_EQ(parser.ConvertEbayDateTime(bad), At(2020, 1, 2, 3, 4, 5)) << bad;
    EXPECT_EQ(parser.SiteIDToName(3), "eBay (UK)");
    EXPECT_EQ(parser.SiteIDToName(1), "eBay");
}

TEST(XMLeBayFetchTokenParser, ReadsTheTokenOrLeavesItAlone) {
    TXMLeBayFetchTokenParser parser;
    std::string token = "before";
    TMemoryStream good = Answer("fetchtoken_success.xml");
    ASSERT_TRUE(parser.ParseToken(&good, token));
    EXPECT_TRUE(token.starts_with("AgAAAA**") && token.ends_with("AAMAAA**p1Jq&x<y")) << token;
    EXPECT_EQ(parser.GetResultCode(), Code::prNoError);

    struct TCase {
        const char* File;
        Code Expected;
    };
    for (const TCase& c :
         {TCase{"token_invalid.xml", Code::prTokenInvalid}, TCase{"code_16110.xml", Code::prError16110},
          TCase{"not_xml.txt", Code::prDataParseFailed}}) {
        SCOPED_TRACE(c.File);
        TXMLeBayFetchTokenParser failing;
        std::string kept = "kept";
        TMemoryStream answer = Answer(c.File);
        EXPECT_FALSE(failing.ParseToken(&answer, kept));
        EXPECT_EQ(kept, "kept");
        EXPECT_EQ(failing.GetResultCode(), c.Expected);
    }
    const std::string head = "<FetchTokenResponse><Ack>Success</Ack>";
    for (const std::string& body :
         {head + "</FetchTokenResponse>", head + "<eBayAuthToken> </eBayAuthToken></FetchTokenResponse>"}) {
        SCOPED_TRACE(body);
        TXMLeBayFetchTokenParser tokenless;
        std::string kept = "kept";
        TMemoryStream answer(body);
        EXPECT_FALSE(tokenless.ParseToken(&answer, kept));
        EXPECT_EQ(kept, "kept");
        EXPECT_EQ(tokenless.GetResultCode(), Code::prDataParseFailed);
    }
    TXMLeBayFetchTokenParser unused;
    EXPECT_EQ(unused.GetResultCode(), Code::prUnknownRoot) << "nothing loaded is no known answer";

    TXMLeBayFetchTokenParser none;
    std::string kept = "kept";
    EXPECT_FALSE(none.ParseToken(nullptr, kept));
    EXPECT_EQ(none.GetResultCode(), Code::prDataParseFailed);
}

TEST(XMLeBaySessionIDParser, AnAnswerWithoutASessionIdIsAFailure) {
    const std::string head =
        "<?xml version=\"1.0\"?><GetSessionIDResponse xmlns=\"urn:ebay:apis:eBLBaseComponents\">"
        "<Ack>Success</Ack>";
    struct TCase {
        std::string Body;
        bool Succeeds;
        std::string SessionID;
        Code Expected;
    };
    for (const TCase& c : {TCase{head + "<SessionID> abc-123 </SessionID></GetSessionIDResponse>", true,
                                 "abc-123", Code::prNoError},
                           TCase{head + "<SessionID></SessionID></GetSessionIDResponse>", false, "kept",
                                 Code::prDataParseFailed},
                           TCase{head + "</GetSessionIDResponse>", false, "kept", Code::prDataParseFailed},
                           TCase{"<GetSessionIDResponse", false, "kept", Code::prDataParseFailed}}) {
        SCOPED_TRACE(c.Body);
        TXMLeBaySessionIDParser parser;
        TMemoryStream answer(c.Body);
        std::string sessionId = "kept";
        EXPECT_EQ(parser.ParseSessionID(&answer, sessionId), c.Succeeds);
        EXPECT_EQ(sessionId, c.SessionID);
        EXPECT_EQ(parser.GetResultCode(), c.Expected);
    }
}

TEST(XMLMyEbayWatchListParser, FixedPriceListingsAreBuyItNowOffers) {
    struct TCase {
        const char* ListingType;
        bool BuyNow;
    };
    const TCase cases[] = {{"FixedPriceItem", true}, {"StoresFixedPrice", true}, {"Chinese", false},
                           {"AdType", false},        {"fixedpriceitem", false},  {"", false}};
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.ListingType);
        TMemoryStream answer(
            std::string("<GetMyeBayBuyingResponse><Ack>Success</Ack><WatchList><ItemArray><Item>"
                        "<ItemID>1</ItemID><ListingType>") +
            c.ListingType + "</ListingType></Item></ItemArray></WatchList></GetMyeBayBuyingResponse>");
        TXMLMyEbayWatchListParser parser;
        TDetailsList list;
        ASSERT_TRUE(parser.ParseWatchList(&answer, list, false));
        ASSERT_EQ(list.Count(), 1);
        EXPECT_EQ(list.GetAuction(0).BuyNow, c.BuyNow);
    }
}

// Each item's children are looked at once: whatever their order, of two children with one name the first
// counts, and a later one is never read, even when it could not be.
TEST(XMLMyEbayWatchListParser, FirstChildOfEachNameInAnyOrder) {
    TMemoryStream page(
        "<GetMyeBayBuyingResponse><Ack>Success</Ack><WatchList><ItemArray><Item>"
        "<QuantityAvailable>4</QuantityAvailable><Title> T1 </Title><Unknown/><Title>T2<b/></Title>"
        "<SellingStatus><HighBidder><UserID>hb</UserID></HighBidder><CurrentPrice currencyID=\"USD\">2.5"
        "</CurrentPrice><BidCount>3</BidCount><CurrentPrice currencyID=\"EUR\">9<b/></CurrentPrice>"
        "</SellingStatus><ListingDetails><ViewItemURL>u</ViewItemURL><EndTime>2009-03-15T18:30:00.000Z"
        "</EndTime><EndTime>x<b/></EndTime></ListingDetails><ListingDetails><ViewItemURL>v</ViewItemURL>"
        "</ListingDetails><ItemID>1</ItemID><ItemID>2</ItemID><BuyItNowPrice>7.5</BuyItNowPrice>"
        "<Site>US</Site><Site>Germany</Site></Item></ItemArray></WatchList></GetMyeBayBuyingResponse>");
    TXMLMyEbayWatchListParser parser;
    TDetailsList list;
    ASSERT_TRUE(parser.ParseWatchList(&page, list, true));
    ASSERT_EQ(list.Count(), 1);
    const TSearchResultAuctionDetails& item = list.GetAuction(0);
    EXPECT_EQ(item.ArticleNumber, "1");
    EXPECT_EQ(item.Description, "T1");
    EXPECT_EQ(item.Quantity, 4);
    EXPECT_FLOAT_EQ(item.PriceStandard, 2.5f);
    EXPECT_EQ(item.CurrencyID, TLegacyAPIToNewAPIValueConverter::CurrencyCodeToCurrencyID("USD"));
    EXPECT_EQ(item.BidCount, 3);
    EXPECT_EQ(item.HighBidder, "hb");
    EXPECT_EQ(item.Link, "u");
    EXPECT_DOUBLE_EQ(item.EndTime, At(2009, 3, 15, 18, 30, 0));
    EXPECT_FLOAT_EQ(item.PriceBuyNow, 7.5f);
    EXPECT_EQ(item.SideID, TLegacyAPIToNewAPIValueConverter::SiteCodeToSiteID("US"));
}

namespace {

// Everything a page parse leaves behind, to hold the two ways of reading a page to the same outcome.
std::string Outcome(TXMLMyEbayWatchListParser& parser, bool result, const TDetailsList& list) {
    std::ostringstream out;
    out.precision(17);
    out << result << ' ' << static_cast<int>(parser.GetResultCode()) << " [" << parser.ResultMessage() << "] "
        << parser.TotalNumberOfPages << '\n';
    for (int n = 0; n < list.Count(); ++n) {
        const TSearchResultAuctionDetails& i = list.GetAuction(n);
        out << '[' << i.ArticleNumber << "][" << i.Description << "][" << i.Link << "][" << i.ListingType
            << "][" << i.SellerName << "][" << i.HighBidder << "][" << i.MarketPlaceName << "]["
            << i.GaleryLink << "] " << i.EndTime << ' ' << i.StartTime << ' ' << i.BuyNow << i.HasGaleryPic
            << ' ' << i.PriceStandard << ' ' << i.CurrencyID << ' ' << i.BidCount << ' ' << i.PriceBuyNow
            << ' ' << i.ShippingAmount << ' ' << i.SideID << ' ' << i.Quantity << '\n';
    }
    return out.str();
}

} // namespace

// A page in the plain form eBay writes is read straight from its text, any other through a loaded document;
// both ways must come to the same outcome for every page, and the direct way must be taken for plain pages.
TEST(XMLMyEbayWatchListParser, PagesReadFromTheirTextEndAsThroughTheDocument) {
    TManualClock clock(At(2009, 3, 14, 10, 0, 0), At(2009, 3, 14, 9, 0, 0));
    const std::string page =
        ReadTextFile(std::string(KOVA_TEST_DATA_DIR) + "/ebayapi/watchlist_page1_of3.xml");
    auto replaced = [&](const std::string& from, const std::string& to) {
        return StringReplaceAll(page, from, to);
    };
    const std::string title = "<Title>Leica M6 &amp; Summicron 50mm &lt;mint&gt; – Füße, 日本製</Title>";
    std::string deep = "<Quantity>1</Quantity>";
    for (int i = 0; i < 70; ++i)
        deep = "<Deep>" + deep + "</Deep>";
    std::vector<std::pair<std::string, bool>> cases = {
        {page, true},
        {replaced("\n", "\r\n"), true},
        {replaced("<?xml version=\"1.0\" encoding=\"UTF-8\"?>", ""), true},
        {replaced(title, "<Title> &#65;&#x20AC;&#x1F600; &quot;x&apos; </Title>"), true},
        {replaced("<ItemID>110039437821</ItemID>", "<ItemID><x>1</x></ItemID><ItemID>2</ItemID>"), true},
        {replaced("<ItemID>110039437821</ItemID>", "<ItemID> \n </ItemID>"), true},
        {replaced("currencyID=\"USD\">88.0", "currencyID='EUR' currencyID=\"GBP\" >88.0"), true},
        {replaced("<StartTime>2009-03-08T18:30:00.000Z", "<StartTime>yesterday"), true},
        {replaced("<Ack>Success</Ack>", "<Ack>Warning</Ack>"), true},
        {replaced("<Item>", "<Item/><Item>"), true},
        {replaced("<Quantity>1</Quantity>", deep), false},
        {replaced("<Ack>Success</Ack>", "<Ack>Failure</Ack>"), false},
        {replaced("<Ack>Success</Ack>", "<Ack>Success</Ack><Errors><ShortMessage>s</ShortMessage></Errors>"),
         false},
        {replaced(title, "<Title><!-- c -->x</Title>"), false},
        {replaced(title, "<Title><![CDATA[x & <y>]]></Title>"), false},
        {replaced(title, "<Title>a<b/>c</Title>"), false},
        {replaced(title, "<Title>a\rb</Title>"), false},
        {replaced(title, "<Title>&unknown;&#0;</Title>"), false},
        {replaced(title, "<Title>caf\xE9</Title>"), false},
        {replaced("</Title>", "</Title >"), false},
        {replaced("<ItemArray>", "<ItemArray><Other/>"), false},
        {replaced("currencyID=\"USD\">88.0", "currencyID=\"U&amp;D\">88.0"), false},
        {replaced("<TotalNumberOfPages>3", "<TotalNumberOfPages><x/>3"), false},
        {replaced("GetMyeBayBuyingResponse", "GetMyeBaySellingResponse"), false},
        {replaced("encoding=\"UTF-8\"", "encoding=\"utf-8\""), false},
        {page.substr(0, page.size() / 2), false},
        {page + "text", false},
    };
    for (const char* name :
         {"watchlist_absent.xml", "watchlist_damaged_item.xml", "watchlist_empty.xml",
          "watchlist_empty_element.xml", "watchlist_empty_pagination_only.xml", "watchlist_no_itemarray.xml",
          "watchlist_warning.xml", "token_expired.xml", "unknown_root.xml", "not_xml.txt"})
        cases.emplace_back(ReadTextFile(std::string(KOVA_TEST_DATA_DIR) + "/ebayapi/" + name), false);
    for (const auto& [bytes, plain] : cases) {
        SCOPED_TRACE(bytes.substr(0, 600));
        TXMLMyEbayWatchListParser direct, throughDocument;
        TPrefilledList a, b;
        TMemoryStream first(bytes), second(bytes);
        const bool result = direct.ParseWatchList(&first, a.List, false);
        EXPECT_EQ(Outcome(direct, result, a.List),
                  Outcome(throughDocument, throughDocument.ParseWatchListFromDocument(&second, b.List, false),
                          b.List));
        if (plain) {
            EXPECT_TRUE(direct.PageReadFromText());
        }
    }
}
