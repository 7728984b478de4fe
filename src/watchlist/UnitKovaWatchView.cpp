#include "watchlist/UnitKovaWatchView.h"

#include "items/UnitResultLst.h"
#include "platform/UnitPlatformCollation.h"

#include <algorithm>

namespace {

struct TSortWord {
    TKovaSortOrder Order;
    const char* Word;
};

using enum TKovaSortOrder;

constexpr TSortWord SortWords[] = {
    {Ending, "ending"},       {Price, "price"}, {PriceDesc, "price-desc"}, {Bids, "bids"}, {Title, "title"},
    {Reminders, "reminders"}, {Ebay, "ebay"},
};

// The list's own order for each choice that has one; ending and reminders are built around them.
std::optional<TResultSortType> ListSortType(TKovaSortOrder order) {
    switch (order) {
    case Price:
        return TResultSortType::stCurrentPriceAscending;
    case PriceDesc:
        return TResultSortType::stCurrentPriceDescending;
    case Bids:
        return TResultSortType::stBidCountDescending;
    case Title:
        return TResultSortType::stDescriptionAscending;
    default:
        return std::nullopt;
    }
}

} // namespace

const char* KovaSortOrderWord(TKovaSortOrder order) {
    for (const TSortWord& word : SortWords)
        if (word.Order == order) return word.Word;
    return "ending";
}

std::optional<TKovaSortOrder> KovaSortOrderFromWord(std::string_view word) {
    for (const TSortWord& entry : SortWords)
        if (word == entry.Word) return entry.Order;
    return std::nullopt;
}

std::string KovaSortOrderWords() {
    std::string words;
    for (const TSortWord& entry : SortWords)
        words += (words.empty() ? "" : ", ") + std::string(entry.Word);
    return words;
}

bool KovaItemEnded(const TSearchResultAuctionDetails& item, TDateTime nowUTC) {
    return !item.NeverEnding && item.EndTime != 0 && item.EndTime <= nowUTC;
}

TKovaTitleFilter::TKovaTitleFilter(std::string_view filter) {
    const std::wstring folded = FoldTextCase(filter);
    size_t at = 0;
    while (at < folded.size()) {
        const size_t start = folded.find_first_not_of(L" \t\r\n", at);
        if (start == std::wstring::npos) break;
        const size_t end = std::min(folded.find_first_of(L" \t\r\n", start), folded.size());
        FWords.push_back(folded.substr(start, end - start));
        at = end;
    }
}

bool TKovaTitleFilter::Keeps(std::string_view title) const {
    if (FWords.empty()) return true;
    const std::wstring folded = FoldTextCase(title);
    return std::all_of(FWords.begin(), FWords.end(), [&folded](const std::wstring& word) {
        return folded.find(word) != std::wstring::npos;
    });
}

std::vector<int> KovaViewOrder(const TDetailsList& items, TKovaSortOrder order, std::string_view filter,
                               TDateTime nowUTC) {
    const TKovaTitleFilter titles(filter);
    std::vector<int> positions;
    positions.reserve(static_cast<size_t>(items.Count()));
    for (int i = 0; i < items.Count(); ++i)
        if (titles.Empty() || titles.Keeps(items.GetAuction(i).Description)) positions.push_back(i);
    if (order == Ebay) return positions;

    // Every other order breaks its ties by the ending order, so equal prices or titles show the auction
    // that ends first first; the sorts below are stable. Items without an end come after the running ones
    // with an end, the ended ones last.
    positions = items.SortOrder(TResultSortType::stEndTimeAscending, std::move(positions));
    const auto rank = [&](int i) {
        const TSearchResultAuctionDetails& item = items.GetAuction(i);
        if (item.NeverEnding || item.EndTime == 0) return 1;
        return KovaItemEnded(item, nowUTC) ? 2 : 0;
    };
    std::stable_sort(positions.begin(), positions.end(), [&](int a, int b) { return rank(a) < rank(b); });
    if (const auto type = ListSortType(order)) return items.SortOrder(*type, std::move(positions));
    if (order == Reminders)
        std::stable_partition(positions.begin(), positions.end(),
                              [&](int i) { return items.GetAuction(i).RemindType != 0; });
    return positions;
}
