#include "items/UnitResultLst.h"
#include "watchlist/UnitKovaWatchView.h"

#include <gtest/gtest.h>

namespace {

constexpr double Now = 46000.5;
constexpr double Hour = 1.0 / 24;

struct TRow {
    const char* Id;
    const char* Title;
    float Price;
    int Currency;
    int Bids;
    double Ends; // hours from now; negative: ended
    int RemindType;
};

// eBay's order: A B C D E F. Equal prices in two currencies (A, B, E, F), equal titles but for case (A, D),
// equal bid counts (B, C; E, F), two ended auctions (C, E) and an item without an end time (F).
const TRow Rows[] = {
    {"A", "Brass lamp", 10, 1, 2, 2, 0},
    {"B", "alpha clock", 10, 3, 5, 1, 2},
    {"C", "Clock radio", 3, 1, 5, -1, 0},
    {"D", "brass Lamp", 25, 1, 0, 0.5, 0},
    {"E", "Lamp shade \xC3\x96l", 10, 1, 1, -2, 1},
    {"F", "Brass bell", 10, 1, 1, 0, 0},
};

void Fill(TDetailsList& list) {
    for (const TRow& row : Rows) {
        auto item = std::make_unique<TSearchResultAuctionDetails>();
        item->ArticleNumber = row.Id;
        item->Description = row.Title;
        item->PriceStandard = row.Price;
        item->CurrencyID = row.Currency;
        item->BidCount = row.Bids;
        // 0 hours: an item without an end time.
        item->EndTime = row.Ends == 0 ? 0 : Now + row.Ends * Hour;
        item->RemindType = static_cast<TRemindType>(row.RemindType);
        list.Add(std::move(item));
    }
}

std::string Ids(const TDetailsList& list, const std::vector<int>& order) {
    std::string ids;
    for (int i : order)
        ids += list.GetAuction(i).ArticleNumber;
    return ids;
}

TEST(KovaWatchView, EachOrderAndFilterGivesTheRowsAsTheUserExpects) {
    TDetailsList list;
    Fill(list);
    const struct {
        const char* Sort;
        const char* Filter;
        const char* Expected;
    } cases[] = {
        // Running by end time, the ended ones after them.
        {"ending", "", "DBAFEC"},
        // Ties keep the ending order, whatever the currency.
        {"price", "", "CBAFED"},
        {"price-desc", "", "DBAFEC"},
        {"bids", "", "BCAFED"},
        // "Brass lamp" and "brass Lamp" are equal: the one ending first comes first.
        {"title", "", "BFDACE"},
        {"reminders", "", "BEDAFC"},
        {"ebay", "", "ABCDEF"},
        // Every word, any order, any case, letters beyond ASCII too; blanks around do not count.
        {"ending", "  LAMP brass ", "DA"},
        {"ebay", "lamp", "ADE"},
        {"title", "\xC3\xB6L", "E"},
        {"ending", "lamp clock", ""},
    };
    for (const auto& c : cases) {
        const auto order = KovaSortOrderFromWord(c.Sort);
        ASSERT_TRUE(order) << c.Sort;
        EXPECT_EQ(KovaSortOrderWord(*order), std::string(c.Sort));
        EXPECT_EQ(Ids(list, KovaViewOrder(list, *order, c.Filter, Now)), c.Expected)
            << c.Sort << " with filter \"" << c.Filter << "\"";
    }
    for (const char* word : {"", "Price", "price ", "newest", "ending,price"})
        EXPECT_FALSE(KovaSortOrderFromWord(word)) << '"' << word << '"';
    EXPECT_EQ(KovaSortOrderWords(), "ending, price, price-desc, bids, title, reminders, ebay");
}

TEST(KovaWatchView, TheListsOwnSortMovesNothingButItsItemsOrder) {
    // The view orders positions; Sort on the list itself still orders the items in place.
    TDetailsList list;
    Fill(list);
    EXPECT_EQ(Ids(list, list.SortOrder(TResultSortType::stBidCountDescending, {4, 3, 2})), "CED");
    EXPECT_EQ(list.GetAuction(0).ArticleNumber, "A");
    list.Sort(TResultSortType::stCurrentPriceDescending);
    EXPECT_EQ(Ids(list, {0, 1, 2, 3, 4}), "DABEF");
    EXPECT_THROW(list.SortOrder(static_cast<TResultSortType>(42), {0}), EAssertionFailed);
}

} // namespace
