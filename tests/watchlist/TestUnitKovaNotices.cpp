#include "items/UnitResultLst.h"
#include "platform/UnitPlatformFiles.h"
#include "support/KovaTestSupport.h"
#include "watchlist/UnitKovaNotices.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

constexpr double Now = 46000.5;
constexpr double Minute = 1.0 / 1440;
constexpr double PreviousLoad = Now - 5 * Minute;

struct TState {
    const char* HighBidder;
    float Price;
    int Bids;
    double Ends; // minutes from now
};

std::unique_ptr<TDetailsList> ListOf(const TState& state) {
    auto list = std::make_unique<TDetailsList>();
    auto item = std::make_unique<TSearchResultAuctionDetails>();
    item->ArticleNumber = "110";
    item->Description = "Brass lamp";
    item->Link = "https://www.example/itm/110";
    item->HighBidder = state.HighBidder;
    item->PriceStandard = state.Price;
    item->CurrencyID = 1;
    item->BidCount = state.Bids;
    item->EndTime = Now + state.Ends * Minute;
    list->Add(std::move(item));
    return list;
}

const TKovaHighBidderTest IsMe = [](const TSearchResultAuctionDetails& item) {
    return item.HighBidder == "me";
};

std::string Kinds(const TKovaLoadNews& news) {
    std::string kinds;
    for (const TKovaNotice& notice : news.Notices) {
        kinds += notice.Kind == TKovaNotice::TKind::Outbid ? "outbid" : "ended";
        if (notice.Won) kinds += *notice.Won ? "(won)" : "(lost)";
        kinds += ";";
    }
    return kinds;
}

TEST(KovaNotices, ALoadGivesEachNoticeOnceAndMarksWhatChanged) {
    const struct {
        const char* What;
        TState Before, After;
        bool MarkHighBidder;
        double PreviousLoadUTC;
        const char* Notices;
    } cases[] = {
        {"outbid on a running auction",
         {"me", 10, 3, 30},
         {"rival", 11, 4, 30},
         true,
         PreviousLoad,
         "outbid;"},
        {"marking high bidders off", {"me", 10, 3, 30}, {"rival", 11, 4, 30}, false, PreviousLoad, ""},
        {"still the high bidder", {"me", 10, 3, 30}, {"me", 11, 4, 30}, true, PreviousLoad, ""},
        {"outbid as it ended: ended alone",
         {"me", 10, 3, 2},
         {"rival", 11, 4, -1},
         true,
         PreviousLoad,
         "ended(lost);"},
        {"won", {"me", 10, 3, 2}, {"me", 10, 3, -1}, true, PreviousLoad, "ended(won);"},
        {"ended, high bidders not marked",
         {"me", 10, 3, 2},
         {"me", 10, 3, -1},
         false,
         PreviousLoad,
         "ended;"},
        {"ended before the previous load", {"me", 10, 3, -10}, {"me", 10, 3, -10}, true, PreviousLoad, ""},
        {"previous load unknown", {"me", 10, 3, 2}, {"me", 10, 3, -1}, true, 0, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.What);
        TKovaNoticeLog log;
        const auto before = ListOf(c.Before), after = ListOf(c.After);
        const TKovaLoadNews news =
            CompareLoads(*before, c.PreviousLoadUTC, *after, Now, IsMe, c.MarkHighBidder, log);
        EXPECT_EQ(Kinds(news), c.Notices);
        // The same two loads again (a restart that kept the log) give nothing new.
        EXPECT_EQ(Kinds(CompareLoads(*before, c.PreviousLoadUTC, *after, Now, IsMe, c.MarkHighBidder, log)),
                  "");
    }

    TKovaNoticeLog log;
    const TKovaLoadNews outbid = CompareLoads(*ListOf({"me", 10, 3, 30}), PreviousLoad,
                                              *ListOf({"rival", 11, 4, 30}), Now, IsMe, true, log);
    ASSERT_EQ(outbid.Notices.size(), 1u);
    EXPECT_EQ(outbid.Notices[0].Title, "Brass lamp");
    EXPECT_EQ(outbid.Notices[0].Url, "https://www.example/itm/110");
    EXPECT_EQ(outbid.Notices[0].Price, KovaShownPrice(ListOf({"rival", 11, 4, 30})->GetAuction(0)));
    EXPECT_FALSE(outbid.Notices[0].TimeLeft.empty());
    const TKovaItemChange& change = outbid.Changes.at("110");
    EXPECT_TRUE(change.Price && change.Bids);
    EXPECT_EQ(change.PricePrevious, KovaShownPrice(ListOf({"me", 10, 3, 30})->GetAuction(0)));
    EXPECT_EQ(change.SeenUTC, Now);
    // The user bids again and is outbid once more: that is news again.
    EXPECT_EQ(Kinds(CompareLoads(*ListOf({"me", 12, 5, 20}), PreviousLoad, *ListOf({"rival", 13, 6, 20}), Now,
                                 IsMe, true, log)),
              "outbid;");
    const TKovaLoadNews bidsOnly = CompareLoads(*ListOf({"rival", 10, 3, 30}), PreviousLoad,
                                                *ListOf({"rival", 10, 4, 30}), Now, IsMe, true, log);
    EXPECT_FALSE(bidsOnly.Changes.at("110").Price);
    EXPECT_TRUE(bidsOnly.Changes.at("110").PricePrevious.empty());
    EXPECT_TRUE(CompareLoads(*ListOf({"rival", 10, 3, 30}), PreviousLoad, *ListOf({"rival", 10, 3, 30}), Now,
                             IsMe, true, log)
                    .Changes.empty());
}

TEST(KovaNotices, TheLogSurvivesARestartAndForgetsItemsThatLeftTheList) {
    TTempDir dir;
    const std::string path = dir.File(TKovaNoticeLog::FileName);
    {
        TKovaNoticeLog log;
        log.Load(path);
        EXPECT_EQ(log.LastLoadUTC(), 0);
        log.Add("ended 110");
        log.Add("outbid 110 4");
        log.Add("ended 999");
        log.SetLastLoadUTC(Now);
        log.Save({"110"});
    }
    struct stat info {};
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    TKovaNoticeLog again;
    again.Load(path);
    EXPECT_TRUE(again.Given("ended 110"));
    EXPECT_TRUE(again.Given("outbid 110 4"));
    EXPECT_FALSE(again.Given("ended 999"));
    EXPECT_NEAR(again.LastLoadUTC(), Now, 1e-9);
    // A damaged file is an empty log, not a failure.
    dir.Write(TKovaNoticeLog::FileName, "\x01\x02 lastLoad nonsense\nlastLoad x\n");
    TKovaNoticeLog damaged;
    damaged.Load(path);
    EXPECT_EQ(damaged.LastLoadUTC(), 0);
}

} // namespace
