#include "items/UnitResultLst.h"
#include "platform/UnitPlatformFiles.h"
#include "storage/UnitKovaDat.h"
#include "storage/UnitKovaDatFile.h"
#include "storage/UnitKovaIniFile.h"
#include "support/KovaTestSupport.h"
#include "watchlist/UnitHtmlTemplate.h"
#include "watchlist/UnitKovaWatchList.h"

#include <gtest/gtest.h>

namespace {

struct TItemFields {
    std::string ArticleNumber;
    std::string Title = "Item";
    std::string HighBidder;
    bool BuyNow = false;
    bool HasGaleryPic = true;
    std::string GaleryLink = "https://pics.example/1.jpg";
    double RemindTime = 0;
    std::string Link = "";
};

TItemFields Plain(const std::string& articleNumber) {
    TItemFields f;
    f.ArticleNumber = articleNumber;
    return f;
}

std::unique_ptr<TSearchResultAuctionDetails> MakeItem(const TItemFields& f) {
    auto item = std::make_unique<TSearchResultAuctionDetails>();
    item->ArticleNumber = f.ArticleNumber;
    item->Description = f.Title;
    item->Link = f.Link.empty() ? "https://www.example/itm/" + f.ArticleNumber + "?a=1&b=2" : f.Link;
    item->HighBidder = f.HighBidder;
    item->BuyNow = f.BuyNow;
    item->PriceStandard = f.BuyNow ? 0 : 12.5f;
    item->PriceBuyNow = f.BuyNow ? 30 : 0;
    item->BidCount = 3;
    item->HasGaleryPic = f.HasGaleryPic;
    item->GaleryLink = f.GaleryLink;
    item->RemindTime = f.RemindTime;
    item->SellerName = "seller<1>";
    item->EndTime = 46000;
    return item;
}

// The page's line for one item, assembled from the fragment's fixed pieces.
std::string ItemLine(int counter, const std::string& article, bool highBidder, const std::string& image,
                     const std::string& title, const std::string& url, const std::string& price,
                     const std::string& endClass, const std::string& endTime) {
    const std::string c = std::to_string(counter), hb = highBidder ? "true" : "false";
    return "<div id=\"result" + c + "\" class=result style=\"background-image:url('images/" +
           (highBidder ? "resultWinner.png" : "result.png") + "');\" onMouseOver=\"onLink('result" + c +
           "', '" + article + "', '" + hb + "');\" onMouseOut=\"outLink('result" + c + "', '" + hb +
           "');\"><table cellpadding=0 cellspacing=0 width=\"120\"><tr><td rowspan=3 width=31><img src=\"" +
           image + "\" width=21 height=21 alt=\"" + title +
           "\" hspace=5></td><td valign=bottom colspan=2><div "
           "style=\"width:89px; height:12px; text-overflow:ellipsis;overflow:hidden; "
           "white-space:nowrap;\"><a "
           "href=\"" +
           url + "\" >" + title + "</a></div></td></tr><tr><td>" + price +
           "</td><td align=\"right\" rowspan=2><a href=\"javascript:onOpenDetails('" + article +
           "');\"> <img src=\"images/infoIcon.png\" width=12 height=12 alt=\"Details\"></a>  "
           "</td></tr><tr><td " +
           endClass + ">" + endTime + "</td></tr></table></div>";
}

std::vector<std::string> NavigationLines(const std::string& pageNumber) {
    return {"<div id=navi>",
            "<div id=beginDiv><img src=\"images/begin.png\" width=15 height=15 onclick=\"firstPage();\" "
            "onMouseOver=\"onImg('begin');\" onMouseOut=\"outImg('begin');\" id=begin></div>",
            "<div id=backDiv><img src=\"images/back.png\" width=15 height=15 onclick=\"prevPage();\" "
            "onMouseOver=\"onImg('back');\" onMouseOut=\"outImg('back');\" id=back></div>",
            "<div id=nextDiv><img src=\"images/next.png\" width=15 height=15 onclick=\"nextPage();\" "
            "onMouseOver=\"onImg('next');\" onMouseOut=\"outImg('next');\" id=next></div>",
            "<div id=endDiv><img src=\"images/end.png\" width=15 height=15 onclick=\"lastPage();\" "
            "onMouseOver=\"onImg('end');\" onMouseOut=\"outImg('end');\" id=end></div>",
            "<div id=pageNumber>",
            pageNumber,
            "</div>",
            "</div>"};
}

// The file's lines; fails when a line does not end in CR LF.
std::vector<std::string> FileLines(const std::string& path) {
    const std::string text = ReadTextFile(path);
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        const size_t end = text.find("\r\n", start);
        if (end == std::string::npos) {
            ADD_FAILURE() << "last line without CR LF in " << path;
            break;
        }
        EXPECT_EQ(text.find('\n', start), end + 1) << "bare LF in " << path;
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

class WatchListTest : public ::testing::Test {
protected:
    void SetUp() override {
        Home = Dir.Path() + "/";
        Dir.Write("KovaDat.dat", PackKovaDat("<KOVADAT><COMMON><TRACKER>https://track.example/?u=</TRACKER>"
                                             "</COMMON><EBAYAPI></EBAYAPI></KOVADAT>"));
        LoadGadgetDat(Home, "");
        InitIniFileManager("KovaGadget.ini", Home);
        List.SetHomeDirectory(Home);
        List.SetResultFileName(Home + "result.txt");
    }
    void TearDown() override {
        SetWriteFaultForTesting(nullptr);
        FreeIniFileManager();
        FreeGadgetDat();
    }

    // Puts the items into the local item file and loads them as the control does at start.
    void Fill(const std::vector<TItemFields>& fields) {
        TDetailsList items;
        for (const auto& f : fields)
            items.Add(MakeItem(f));
        items.SaveToFile(Home + "watchlist.dat");
        const int before = List.ItemCount();
        List.LoadLocalItems(); // appends, as the item list does
        ASSERT_EQ(List.ItemCount(), before + static_cast<int>(fields.size()));
    }
    void FillPlain(int count) {
        std::vector<TItemFields> fields;
        for (int i = 0; i < count; ++i)
            fields.push_back(Plain(std::to_string(1000 + i)));
        Fill(fields);
    }
    std::string Result() const { return ReadTextFile(Home + "result.txt"); }

    TManualClock Clock{45999.5, 45999.5};
    TTempDir Dir;
    std::string Home;
    TKovaWatchList List;
};

TEST_F(WatchListTest, ThirdPageOfTwelveShowsItsItemsEscapedWithMarksAndNavigation) {
    std::vector<TItemFields> fields;
    for (int i = 0; i < 10; ++i)
        fields.push_back(Plain(std::to_string(2000 + i)));
    fields.push_back({"2010", "Lamp \"%PRICE%\" <script>&", "Kim", false, false, "", 1000});
    fields.push_back({"2011", "Radio", "kim", true, true, "https://pics.example/a.jpg?x=1&y=2", 3600000});
    Fill(fields);
    List.SetUserName("Kim");
    List.LastPage();
    ASSERT_EQ(List.PageIndex(), 2);

    TDetailsList stored;
    stored.LoadFromFile(Home + "watchlist.dat");
    const auto& lamp = stored.GetAuction(10);
    const auto& radio = stored.GetAuction(11);
    std::vector<std::string> expected{"<div id=results>"};
    expected.push_back(ItemLine(10, "2010", true, "images/blind.gif",
                                "Lamp &quot;%PRICE%&quot; &lt;script&gt;&amp;",
                                "https://track.example/?u=https://www.example/itm/2010?a=1&amp;b=2",
                                lamp.GetPriceText(), "class=red", lamp.GetRemainingTimeText(true)));
    expected.push_back(ItemLine(11, "2011", false, "https://pics.example/a.jpg?x=1&amp;y=2", "Radio",
                                "https://track.example/?u=https://www.example/itm/2011?a=1&amp;b=2",
                                radio.GetBuyNowPriceText(), "", radio.GetRemainingTimeText(true)));
    expected.push_back("</div>");
    for (const auto& line : NavigationLines("3/3"))
        expected.push_back(line);
    EXPECT_EQ(FileLines(Home + "result.txt"), expected);
    EXPECT_NE(lamp.GetPriceText(), radio.GetBuyNowPriceText());

    // Without the setting, or without a user name, nobody is marked.
    IniFileManager()->Watchlist().SetAuctionsMarkHighbidder(false);
    List.WriteResultFile("");
    EXPECT_EQ(Result().find("resultWinner.png"), std::string::npos);
    IniFileManager()->Watchlist().SetAuctionsMarkHighbidder(true);
    List.SetUserName("");
    List.WriteResultFile("");
    EXPECT_EQ(Result().find("'true'"), std::string::npos);
}

TEST_F(WatchListTest, MessagesStandAboveTheItems) {
    const std::string error = "<B>Error loading Watchlist: x</B>";
    const std::string noAuctions = "<div id=\"Message\" class=message><B> No auctions available</B></div>";
    List.WriteResultFile("");
    EXPECT_EQ(Result(), "<div id=results>\r\n" + noAuctions + "\r\n</div>\r\n");
    List.WriteResultFile(error);
    EXPECT_EQ(FileLines(Home + "result.txt"),
              (std::vector<std::string>{"<div id=results>", noAuctions,
                                        "<div id=\"Message\" class=message>" + error + "</div>", "</div>"}));
    FillPlain(3);
    List.WriteResultFile(error);
    const auto lines = FileLines(Home + "result.txt");
    ASSERT_EQ(lines.size(), 6u + NavigationLines("1/1").size());
    EXPECT_EQ(lines[1], "<div id=\"Message\" class=message>" + error + "</div>");
    EXPECT_EQ(lines[2].rfind("<div id=\"result0\"", 0), 0u);
    EXPECT_EQ(lines[5], "</div>");
}

TEST_F(WatchListTest, OnlyWebAddressesFromTheAnswerBecomeLinksOrPictures) {
    const std::vector<std::string> unsafe = {"javascript:alert(1)", " \t\x01JavaScript:alert(1)",
                                             "data:text/html,<b>x</b>", "VBScript:msgbox(1)",
                                             "jav\tascript:x"};
    std::vector<TItemFields> fields;
    for (size_t i = 0; i < unsafe.size(); ++i) {
        fields.push_back(Plain(std::to_string(4000 + i)));
        fields.back().Link = fields.back().GaleryLink = unsafe[i];
    }
    fields.push_back(Plain("4100"));
    fields.back().Link = fields.back().GaleryLink = "\x01 HTTPS://pics.example/b.jpg";
    Fill(fields);
    Dir.Write("detailsTemp.html", "<a href=\"%URL%\">%TITLE%</a><img src=\"%IMAGEURL%\">");

    List.WriteResultFile("");
    for (const std::string& line : FileLines(Home + "result.txt")) {
        if (line.rfind("<div id=\"result", 0) != 0) continue;
        EXPECT_NE(line.find("<img src=\"images/blind.gif\""), std::string::npos) << line;
        EXPECT_NE(line.find("<a >Item</a>"), std::string::npos) << line;
    }
    for (size_t i = 0; i < unsafe.size(); ++i) {
        ASSERT_TRUE(List.BuildDetailsFile(std::to_string(4000 + i)));
        EXPECT_EQ(ReadTextFile(Home + "details.html"), "<a>Item</a><img src=\"../images/blind.gif\">\r\n");
    }
    List.NextPage();
    EXPECT_NE(Result().find("<img src=\"\x01 HTTPS://pics.example/b.jpg\""), std::string::npos);
    ASSERT_TRUE(List.BuildDetailsFile("4100"));
    EXPECT_NE(ReadTextFile(Home + "details.html").find("<a href=\"https://track.example/?u=\x01 HTTPS://"),
              std::string::npos);
}

TEST_F(WatchListTest, PagingMovesWithinTheListAndWritesOnlyWhenThePageMoves) {
    EXPECT_EQ(List.LastPageIndex(), 0);
    for (auto step : {&TKovaWatchList::NextPage, &TKovaWatchList::PrevPage, &TKovaWatchList::FirstPage,
                      &TKovaWatchList::LastPage})
        (List.*step)();
    EXPECT_FALSE(FileExists(Home + "result.txt")) << "an empty list has nowhere to page";

    FillPlain(5);
    EXPECT_EQ(List.LastPageIndex(), 0);
    FillPlain(1); // appended: 6 items
    EXPECT_EQ(List.LastPageIndex(), 1);
    FillPlain(5); // 11 items
    EXPECT_EQ(List.LastPageIndex(), 2);

    List.NextPage();
    EXPECT_EQ(List.PageIndex(), 1);
    EXPECT_NE(Result().find("<div id=\"result5\""), std::string::npos);
    EXPECT_NE(Result().find("\r\n2/3\r\n"), std::string::npos);
    List.LastPage();
    EXPECT_NE(Result().find("\r\n3/3\r\n"), std::string::npos);
    EXPECT_NE(Result().find("<div id=\"result10\""), std::string::npos);

    std::remove((Home + "result.txt").c_str());
    List.NextPage();
    List.LastPage();
    EXPECT_FALSE(FileExists(Home + "result.txt")) << "paging at the end must not rewrite the page";

    List.PrevPage();
    EXPECT_EQ(List.PageIndex(), 1);
    List.FirstPage();
    EXPECT_EQ(List.PageIndex(), 0);
    EXPECT_NE(Result().find("\r\n1/3\r\n"), std::string::npos);
}

TEST_F(WatchListTest, AFailedWriteKeepsThePreviousResultFile) {
    FillPlain(7);
    List.NextPage();
    const std::string before = Result();
    SetWriteFaultForTesting([](const std::string&) { return true; });
    List.PrevPage(); // logged, not raised
    EXPECT_THROW(List.WriteResultFile(""), std::exception);
    SetWriteFaultForTesting(nullptr);
    EXPECT_EQ(Result(), before);
}

TEST_F(WatchListTest, DetailsFileFillsTheTemplateForOneItem) {
    Fill({{"3000", "Clock & <b>%PRICE%</b>", " ", true, true, "  "}, {"3001", "Vase", "Ann"}});
    Dir.Write("detailsTemp.html",
              "<h1>%TITLE%</h1>\n<a href=\"%URL%\">%TITLE%</a>\r<img src=\"%IMAGEURL%\">\n"
              "%PRICE%|%BIDS%|%PRICEBUYNOW%|%SHIPPINGCOSTS%|%HIGHBIDDER%|%SELLER%|"
              "%REMAININGTIME%|%BIDORBUY%|%price%");
    TDetailsList stored;
    stored.LoadFromFile(Home + "watchlist.dat");
    const auto& clock = stored.GetAuction(0);

    ASSERT_TRUE(List.BuildDetailsFile("3000"));
    EXPECT_EQ(ReadTextFile(Home + "details.html"),
              "<h1>Clock &amp; &lt;b&gt;%PRICE%&lt;/b&gt;</h1>\r\n"
              "<a href=\"https://track.example/?u=https://www.example/itm/3000?a=1&amp;b=2\">"
              "Clock &amp; &lt;b&gt;%PRICE%&lt;/b&gt;</a>\r\n<img src=\"../images/blind.gif\">\r\n" +
                  clock.GetPriceText() + "|" + clock.GetBidCountText() + "|" + clock.GetBuyNowPriceText() +
                  "|" + clock.GetShippingCostsText() + "|-|seller&lt;1&gt;|" +
                  clock.GetRemainingTimeText(true) + "|buy|%price%\r\n");

    ASSERT_TRUE(List.BuildDetailsFile("3001"));
    const std::string vase = ReadTextFile(Home + "details.html");
    EXPECT_NE(vase.find("|-|"), std::string::npos) << "no buy-it-now price";
    EXPECT_NE(vase.find("|Ann|"), std::string::npos);
    EXPECT_NE(vase.find("|bid|"), std::string::npos);
    EXPECT_NE(vase.find("src=\"https://pics.example/1.jpg\""), std::string::npos);

    EXPECT_FALSE(List.BuildDetailsFile("300"));
    EXPECT_FALSE(List.BuildDetailsFile("3000 "));
    EXPECT_EQ(ReadTextFile(Home + "details.html"), vase) << "an unknown item leaves the file alone";

    std::remove((Home + "detailsTemp.html").c_str());
    EXPECT_THROW(List.BuildDetailsFile("3000"), std::exception);
    EXPECT_EQ(ReadTextFile(Home + "details.html"), vase);
}

TEST_F(WatchListTest, DetailsOfAnEmptyListAreRefused) {
    Dir.Write("detailsTemp.html", "%TITLE%");
    EXPECT_FALSE(List.BuildDetailsFile(""));
    EXPECT_FALSE(FileExists(Home + "details.html"));
}

TEST_F(WatchListTest, LocalItemsLoadQuietlyAndAFailedSaveKeepsTheFile) {
    List.LoadLocalItems();
    EXPECT_EQ(List.ItemCount(), 0) << "no file, no items";
    Dir.Write("watchlist.dat", "not xml at all");
    List.LoadLocalItems();
    EXPECT_EQ(List.ItemCount(), 0);

    FillPlain(4);
    const std::string saved = ReadTextFile(Home + "watchlist.dat");
    SetWriteFaultForTesting([](const std::string&) { return true; });
    List.SaveLocalItems(); // logged, not raised
    SetWriteFaultForTesting(nullptr);
    EXPECT_EQ(ReadTextFile(Home + "watchlist.dat"), saved);

    TKovaWatchList restarted;
    restarted.SetHomeDirectory(Home);
    restarted.LoadLocalItems();
    EXPECT_EQ(restarted.ItemCount(), 4);
}

TEST(TrackedLinkTest, PutsTheTrackerInFrontOnlyWhenThereIsOne) {
    TTempDir dir;
    dir.Write("KovaDat.dat", PackKovaDat("<KOVADAT><COMMON><TRACKER></TRACKER></COMMON></KOVADAT>"));
    LoadGadgetDat(dir.Path() + "/", "");
    EXPECT_EQ(TrackedLink("https://e.example/1"), "https://e.example/1");
    FreeGadgetDat();
}

TEST(HtmlTemplateTest, FillsInOnePassAndKeepsUnknownOrUnclosedSigns) {
    const TTemplateValues values{{"%A%", "%B%"}, {"%B%", "b"}};
    EXPECT_EQ(FillTemplate("%A%-%B%-%C%-100%%B%-50%", values), "%B%-b-%C%-100%b-50%");
    EXPECT_EQ(FillTemplate("", values), "");
    EXPECT_EQ(ScriptStringText("12 ab-_.'\\\"%<"), "12 ab-_.\\x27\\x5C\\x22\\x25\\x3C");
    EXPECT_EQ(SplitLines("a\r\nb\nc\rd"), (std::vector<std::string>{"a", "b", "c", "d"}));
    EXPECT_EQ(SplitLines("a\n\nb\n"), (std::vector<std::string>{"a", "", "b"}));
}

} // namespace
