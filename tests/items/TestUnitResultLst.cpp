#include "ItemsTestHelpers.h"
#include "base/UnitUtils.h"
#include "items/UnitResultLst.h"
#include "support/TimeTestSupport.h"

#include <functional>
#include <gtest/gtest.h>
#include <sstream>

namespace {

using enum TResultSortType;
using TSetter = std::function<void(TSearchResultAuctionDetails&, int)>;

constexpr double Millisecond = 1.0 / 86400000;

// Counts its destructions, so that tests see each item freed exactly once.
struct TCountedAuction : TSearchResultAuctionDetails {
    explicit TCountedAuction(int& freed) : Freed(freed) {}
    ~TCountedAuction() override { ++Freed; }
    int& Freed;
};

// A search result of another kind.
struct TOtherResult : TSearchResult {};

// A list whose items carry the numbers 0, 1, 2, ... as item numbers.
void Fill(TDetailsList& list, int count, const TSetter& set = nullptr, const std::vector<int>& values = {}) {
    for (int n = 0; n < count; ++n) {
        auto item = MakeAuction(std::to_string(n));
        if (set) set(*item, values[static_cast<size_t>(n)]);
        list.Add(std::move(item));
    }
}

std::string Order(const TDetailsList& list) {
    std::string order;
    for (int i = 0; i < list.Count(); ++i)
        order += (i ? "," : "") + list.GetAuction(i).ArticleNumber;
    return order;
}

std::string SortedOrder(TResultSortType type, const TSetter& set, const std::vector<int>& values) {
    TDetailsList list;
    Fill(list, static_cast<int>(values.size()), set, values);
    list.Sort(type);
    return Order(list);
}

template <typename T> std::string MessageOf(T&& call) {
    try {
        call();
    } catch (const Exception& e) {
        return std::string(e.ClassName()) + ": " + e.Message();
    }
    return "no error";
}

} // namespace

TEST(ResultLst, LookUpsAndTheirErrors) {
    TDetailsList list;
    EXPECT_EQ(list.FindByArticleNumber("1"), nullptr);
    EXPECT_EQ(MessageOf([&] { list.GetAuction(0); }),
              "EListError: Invalid list index: TDetailsList.GetAuction");
    for (const char* n : {" 123", "123", "123"})
        list.Add(MakeAuction(n));
    EXPECT_EQ(list.FindByArticleNumber("123"), &list.GetAuction(1)) << "the first match wins";
    EXPECT_EQ(list.FindByArticleNumber("123 "), nullptr);
    EXPECT_EQ(MessageOf([&] { list.GetAuction(3); }),
              "EListError: Invalid list index: TDetailsList.GetAuction");
    EXPECT_EQ(MessageOf([&] { list.GetAuction(-1); }), "EListError: List index out of bounds (-1)");

    EXPECT_EQ(MessageOf([&] { list.Add(nullptr); }), "EListError: TResultList.Add: the item is missing");
    list.Add(std::make_unique<TOtherResult>());
    EXPECT_EQ(MessageOf([&] { list.GetAuction(3); }), "EInvalidCast: Invalid class typecast");
    EXPECT_EQ(MessageOf([&] { list.FindByArticleNumber("x"); }), "EInvalidCast: Invalid class typecast");
    EXPECT_EQ(MessageOf([&] { list.Sort(stArticleNumberDescending); }),
              "EInvalidCast: Invalid class typecast");
    EXPECT_EQ(list.GetAuction(0).ArticleNumber, " 123") << "a failed sort moves nothing";
    EXPECT_EQ(list.Count(), 4);

    std::istringstream in("x");
    EXPECT_EQ(MessageOf([&] { list.LoadFromStream(in); }), "Exception: not implemented");
    TResultList plain;
    EXPECT_EQ(MessageOf([&] { plain.LoadFromFile("/nonexistent"); }), "Exception: not implemented");
    EXPECT_EQ(MessageOf([&] { plain.LoadFromStream(in); }), "EAbstractError: Abstract Error");
}

TEST(ResultLst, ItemsAreFreedOnceWithNotice) {
    int freed = 0, notices = 0;
    {
        TDetailsList list;
        list.OnItemDeleted = [&](TResultList& sender) {
            EXPECT_EQ(&sender, &list);
            ++notices;
        };
        for (int n = 0; n < 3; ++n)
            list.Add(std::make_unique<TCountedAuction>(freed));
        list.Clear();
        EXPECT_EQ(list.Count(), 0);
        EXPECT_EQ(freed, 3);
        EXPECT_EQ(notices, 3);

        for (int n = 0; n < 2; ++n)
            list.Add(std::make_unique<TCountedAuction>(freed));
        list.Sort(stCurrentPriceDescending);
        EXPECT_EQ(freed, 3) << "sorting frees nothing";
    }
    EXPECT_EQ(freed, 5) << "the list frees what it still holds";
    EXPECT_EQ(notices, 5);

    TObjectListEx raw;
    std::vector<const TSearchResult*> deleted;
    raw.OnDeleted = [&](TObjectListEx&, const TSearchResult* item) { deleted.push_back(item); };
    raw.Add(nullptr);
    raw.Add(std::make_unique<TCountedAuction>(freed));
    const TSearchResult* second = raw.Items(1);
    raw.Delete(0);
    raw.Delete(0);
    EXPECT_EQ(deleted, std::vector<const TSearchResult*>{second}) << "empty entries raise no notice";
}

TEST(ResultLst, NumberSortsInBothDirections) {
    const struct {
        TResultSortType Ascending, Descending;
        TSetter Set;
    } numberSorts[] = {
        {stCurrentPriceAscending, stCurrentPriceDescending, [](auto& i, int v) { i.PriceStandard = v; }},
        {stBuyNowPriceAscending, stBuyNowPriceDescending, [](auto& i, int v) { i.PriceBuyNow = v; }},
        {stBuyNowPriceAscendingToo, stBuyNowPriceDescending, [](auto& i, int v) { i.PriceBuyNow = v; }},
        {stBidCountAscending, stBidCountDescending, [](auto& i, int v) { i.BidCount = v; }},
        {stShippingAscending, stShippingDescending, [](auto& i, int v) { i.ShippingAmount = v; }},
        {stPriorityAscending, stPriorityDescending, [](auto& i, int v) { i.Priority = v; }},
        {stPriceWithShippingAscending, stPriceWithShippingDescending,
         [](auto& i, int v) {
             // The sum decides, not either part.
             i.PriceStandard = static_cast<float>(2 * v);
             i.ShippingAmount = static_cast<float>(-v);
         }},
        {stTotalPriceAscending, stTotalPriceDescending, [](auto& i, int v) { i.PriceStandard = v; }},
        {stPositiveFeedBAscending, stPositiveFeedBDescending, [](auto& i, int v) { i.PositiveFeedB = v; }},
        {stEndTimeAscending, stEndTimeDescending, [](auto& i, int v) { i.EndTime = 46000 + v; }},
        {stStartTimeAscending, stStartTimeDescending,
         [](auto& i, int v) { i.StartTime = 46000 + v / 1000.0; }},
    };
    for (const auto& s : numberSorts) {
        const int ascending = static_cast<int>(s.Ascending);
        EXPECT_EQ(SortedOrder(s.Ascending, s.Set, {5, 2, 9, -1}), "3,1,0,2") << "type " << ascending;
        EXPECT_EQ(SortedOrder(s.Descending, s.Set, {5, 2, 9, -1}), "2,0,1,3") << "type " << ascending;
    }
    // The current price takes the buy-now price of an offer without a standard price.
    EXPECT_EQ(SortedOrder(stCurrentPriceAscending,
                          [](auto& i, int v) {
                              i.BuyNow = v < 0;
                              i.PriceBuyNow = 7;
                              i.PriceStandard = v < 0 ? 0 : v;
                          },
                          {5, -1, 9}),
              "0,1,2");
    // The total price takes the buy-now price when there is no standard price.
    EXPECT_EQ(SortedOrder(stTotalPriceAscending,
                          [](auto& i, int v) {
                              i.PriceStandard = v < 0 ? 0 : v;
                              i.PriceBuyNow = 7;
                          },
                          {5, -1, 9}),
              "0,1,2");
}

TEST(ResultLst, FlagSortsGroupTheItems) {
    const std::vector<int> flags{0, 1, 0, 1, 1};
    const struct {
        TResultSortType Type;
        TSetter Set;
        bool SetFirst;
    } flagSorts[] = {
        {stGaleryPicFirst, [](auto& i, int v) { i.HasGaleryPic = v; }, true},
        {stGaleryPicLast, [](auto& i, int v) { i.HasGaleryPic = v; }, false},
        {stBuyNowLast, [](auto& i, int v) { i.BuyNow = v; }, false},
        {stRemindedFirst, [](auto& i, int v) { i.Reminded = v; }, true},
        {stRemindedLast, [](auto& i, int v) { i.Reminded = v; }, false},
    };
    for (const auto& s : flagSorts) {
        TDetailsList list;
        Fill(list, 5, s.Set, flags);
        list.Sort(s.Type);
        std::string groups;
        for (int i = 0; i < list.Count(); ++i)
            groups += flags[static_cast<size_t>(std::stoi(list.GetAuction(i).ArticleNumber))] ? 'S' : '-';
        EXPECT_EQ(groups, s.SetFirst ? "SSS--" : "--SSS") << "type " << static_cast<int>(s.Type);
    }
}

TEST(ResultLst, TolerantComparisonsTreatNearValuesAsEqual) {
    // Items that compare equal keep their order, so a pair inside the tolerance stays as it was.
    auto total = [](auto& i, int v) { i.PriceStandard = v / 1000.0f; };
    EXPECT_EQ(SortedOrder(stTotalPriceAscending, total, {100005, 100000}), "0,1") << "100.005 equals 100.00";
    EXPECT_EQ(SortedOrder(stTotalPriceAscending, total, {100020, 100000}), "1,0") << "100.02 is more";
    EXPECT_EQ(SortedOrder(stCurrentPriceAscending, total, {100005, 100000}), "1,0")
        << "plain numbers are exact";
    auto feedback = [](auto& i, int v) { i.PositiveFeedB = v / 100000.0f; };
    EXPECT_EQ(SortedOrder(stPositiveFeedBAscending, feedback, {5, 0}), "0,1") << "within 0.0001 near 0";
    EXPECT_EQ(SortedOrder(stPositiveFeedBAscending, feedback, {30, 0}), "1,0");

    auto end = [](auto& i, int v) { i.EndTime = 46000.5 + v * Millisecond / 4; };
    EXPECT_EQ(SortedOrder(stEndTimeAscending, end, {3, 0}), "0,1") << "less than a millisecond apart";
    EXPECT_EQ(SortedOrder(stEndTimeAscending, end, {8, 0}), "1,0") << "two milliseconds apart";
    auto start = [](auto& i, int v) { i.StartTime = 46000.5 + v * Millisecond / 4; };
    EXPECT_EQ(SortedOrder(stStartTimeDescending, start, {0, 3}), "0,1");
    {
        // 00:30 UTC on 25 October 2026 reads 02:30 in Berlin, 01:10 UTC reads 02:10: later, though it reads
        // earlier.
        TScopedTZ berlin("Europe/Berlin");
        auto autumn = [](auto& i, int v) { i.EndTime = EncodeDate(2026, 10, 25) + v / 1440.0; };
        EXPECT_EQ(SortedOrder(stEndTimeAscending, autumn, {70, 30}), "1,0");
    }

    // A chain of near values is no ordering the standard sorts accept; the sort must still finish whole.
    TDetailsList list;
    for (int n = 0; n < 500; ++n) {
        auto item = MakeAuction(std::to_string(n));
        item->PriceStandard = 100.0f + static_cast<float>((n * 7919) % 500) * 0.004f;
        list.Add(std::move(item));
    }
    list.Sort(stTotalPriceAscending);
    ASSERT_EQ(list.Count(), 500);
    for (int i = 1; i < list.Count(); ++i)
        EXPECT_LE(list.GetAuction(i - 1).GetTotalPrice(), list.GetAuction(i).GetTotalPrice() + 0.0101f);
}

TEST(ResultLst, TextSortsAsciiAgainstLocale) {
    using TTextSetter = void (*)(TSearchResultAuctionDetails&, const std::string&);
    // The items carry their original position in Location, as the texts may be item numbers.
    auto sorted = [](TResultSortType type, TTextSetter set, const std::vector<std::string>& texts) {
        TDetailsList list;
        for (size_t n = 0; n < texts.size(); ++n) {
            auto item = MakeAuction("");
            item->Location = std::to_string(n);
            set(*item, texts[n]);
            list.Add(std::move(item));
        }
        list.Sort(type);
        std::string order;
        for (int i = 0; i < list.Count(); ++i)
            order += (i ? "," : "") + list.GetAuction(i).Location;
        return order;
    };
    const std::vector<std::string> texts{"b3", "  Äz", "_1", "äa", "A2"};
    TTextSetter description = [](auto& i, const std::string& t) { i.Description = t; };
    TTextSetter freetext = [](auto& i, const std::string& t) { i.Freetext = Trim(t); };
    TTextSetter marketPlace = [](auto& i, const std::string& t) { i.MarketPlaceName = t; };
    TTextSetter number = [](auto& i, const std::string& t) { i.ArticleNumber = Trim(t); };

    // Locale text: case-insensitive for every letter, punctuation before letters; the title is trimmed.
    EXPECT_EQ(sorted(stDescriptionAscending, description, texts), "2,4,0,3,1");
    EXPECT_EQ(sorted(stDescriptionDescending, description, texts), "1,3,0,4,2");
    EXPECT_EQ(sorted(stFreetextAscending, freetext, texts), "2,4,0,3,1");
    EXPECT_EQ(sorted(stFreetextDescending, freetext, texts), "1,3,0,4,2");
    EXPECT_EQ(sorted(stArticleNumberLocaleAscending, number, texts), "2,4,0,3,1");
    EXPECT_EQ(sorted(stArticleNumberLocaleDescending, number, texts), "1,3,0,4,2");
    // ASCII text: only a to z folded, so "_" sorts after the letters and "Ä" before "ä" whatever follows.
    EXPECT_EQ(sorted(stMarketPlaceAscending, marketPlace, texts), "4,0,2,1,3");
    EXPECT_EQ(sorted(stMarketPlaceDescending, marketPlace, texts), "3,1,2,0,4");
    EXPECT_EQ(sorted(stArticleNumberAscending, number, texts), "4,0,2,1,3");
    EXPECT_EQ(sorted(stArticleNumberAscending, number, {"10", "9", "1", "x10", "X1"}), "2,0,1,4,3")
        << "a prefix sorts first";
    EXPECT_EQ(sorted(stArticleNumberDescending, number, {"10", "9", "1", "x10", "X1"}), "3,4,1,0,2");
}

TEST(ResultLst, SortTypesOfOtherResultsAndUnsupportedOnes) {
    for (int type = 0; type < 256; ++type) {
        TDetailsList list;
        Fill(list, 3, [](auto& i, int v) { i.PriceStandard = v; }, {3, 1, 2});
        const std::string message = MessageOf([&] { list.Sort(static_cast<TResultSortType>(type)); });
        const bool unsupported = (type >= 42 && type <= 59) || type >= 68;
        if (unsupported) {
            EXPECT_EQ(message, "EAssertionFailed: Unsupported sorting routine! (UnitSearchResultList)")
                << type;
            EXPECT_EQ(Order(list), "0,1,2") << type;
        } else {
            EXPECT_EQ(message, "no error") << type;
        }
        if ((type >= 26 && type <= 37) || type == 40 || type == 41) {
            EXPECT_EQ(Order(list), "0,1,2") << type;
        }
    }
}
