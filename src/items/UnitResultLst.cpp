#include "items/UnitResultLst.h"

#include "base/UnitUtils.h"
#include "platform/UnitPlatformCollation.h"

#include <algorithm>
#include <cmath>

namespace {

const char* const SNotImplemented = "not implemented";
const char* const SAbstractError = "Abstract Error";
const char* const SInvalidCast = "Invalid class typecast";
const char* const SListIndexError = "List index out of bounds (%d)";
const char* const SInvalidAuctionIndex = "Invalid list index: TDetailsList.GetAuction";
const char* const SNilItem = "TResultList.Add: the item is missing";
const char* const SUnsupportedSort = "Unsupported sorting routine! (UnitSearchResultList)";

using TItem = TSearchResultAuctionDetails;

enum class TCompareKind : uint8_t {
    Number,              // equal only when exactly equal
    NumberWithTolerance, // equal within 0.0001, or 0.0001 of the smaller magnitude
    Time,                // equal when less than one millisecond apart
    LocaleText,          // case-insensitive, the user's collation
    AsciiText,           // only a to z folded to upper case
    Flag,                // 1 for a set flag, 0 otherwise, compared as numbers
    KeepOrder,           // sort types of other kinds of search results
};

struct TSortKey {
    double Number = 0;
    std::string Text;
    std::wstring LocaleKey;
};

struct TSortRule {
    TResultSortType Type;
    TCompareKind Kind;
    bool Descending;
    double (*NumberKey)(const TItem&);
    std::string (*TextKey)(const TItem&);
};

double CurrentPrice(const TItem& i) {
    return i.GetCurrentPrice();
}
double BuyNowPrice(const TItem& i) {
    return i.PriceBuyNow;
}
double BidCount(const TItem& i) {
    return i.BidCount;
}
// Times sort in UTC: local times repeat an hour when the clocks go back.
double EndTimeUTC(const TItem& i) {
    return i.EndTime;
}
double StartTimeUTC(const TItem& i) {
    return i.StartTime;
}
double HasGaleryPic(const TItem& i) {
    return i.HasGaleryPic ? 1 : 0;
}
double BuyNow(const TItem& i) {
    return i.BuyNow ? 1 : 0;
}
double Reminded(const TItem& i) {
    return i.Reminded ? 1 : 0;
}
double Shipping(const TItem& i) {
    return i.ShippingAmount;
}
double PriceWithShipping(const TItem& i) {
    return i.GetPriceWithShipping();
}
double Priority(const TItem& i) {
    return i.Priority;
}
double TotalPrice(const TItem& i) {
    return i.GetTotalPrice();
}
double PositiveFeedB(const TItem& i) {
    return i.PositiveFeedB;
}
std::string Description(const TItem& i) {
    return Trim(i.Description);
}
std::string ArticleNumber(const TItem& i) {
    return i.ArticleNumber;
}
std::string MarketPlaceName(const TItem& i) {
    return Trim(i.MarketPlaceName);
}
std::string Freetext(const TItem& i) {
    return i.Freetext;
}

using enum TResultSortType;
using enum TCompareKind;

// A flag sorted descending puts the items whose flag is set first.
const TSortRule SortRules[] = {
    {stCurrentPriceAscending, Number, false, CurrentPrice, nullptr},
    {stCurrentPriceDescending, Number, true, CurrentPrice, nullptr},
    {stBuyNowPriceAscending, Number, false, BuyNowPrice, nullptr},
    {stBuyNowPriceDescending, Number, true, BuyNowPrice, nullptr},
    {stDescriptionAscending, LocaleText, false, nullptr, Description},
    {stDescriptionDescending, LocaleText, true, nullptr, Description},
    {stBidCountAscending, Number, false, BidCount, nullptr},
    {stBidCountDescending, Number, true, BidCount, nullptr},
    {stEndTimeAscending, Time, false, EndTimeUTC, nullptr},
    {stEndTimeDescending, Time, true, EndTimeUTC, nullptr},
    {stArticleNumberAscending, AsciiText, false, nullptr, ArticleNumber},
    {stArticleNumberDescending, AsciiText, true, nullptr, ArticleNumber},
    {stGaleryPicFirst, Flag, true, HasGaleryPic, nullptr},
    {stGaleryPicLast, Flag, false, HasGaleryPic, nullptr},
    {stBuyNowPriceAscendingToo, Number, false, BuyNowPrice, nullptr},
    {stBuyNowLast, Flag, false, BuyNow, nullptr},
    {stRemindedFirst, Flag, true, Reminded, nullptr},
    {stRemindedLast, Flag, false, Reminded, nullptr},
    {stMarketPlaceAscending, AsciiText, false, nullptr, MarketPlaceName},
    {stMarketPlaceDescending, AsciiText, true, nullptr, MarketPlaceName},
    {stShippingAscending, Number, false, Shipping, nullptr},
    {stShippingDescending, Number, true, Shipping, nullptr},
    {stPriceWithShippingAscending, Number, false, PriceWithShipping, nullptr},
    {stPriceWithShippingDescending, Number, true, PriceWithShipping, nullptr},
    {stPriorityAscending, Number, false, Priority, nullptr},
    {stPriorityDescending, Number, true, Priority, nullptr},
    {stArticleNumberLocaleAscending, LocaleText, false, nullptr, ArticleNumber},
    {stArticleNumberLocaleDescending, LocaleText, true, nullptr, ArticleNumber},
    {stOtherResultType40, KeepOrder, false, nullptr, nullptr},
    {stOtherResultType41, KeepOrder, false, nullptr, nullptr},
    {stFreetextDescending, LocaleText, true, nullptr, Freetext},
    {stFreetextAscending, LocaleText, false, nullptr, Freetext},
    {stStartTimeAscending, Time, false, StartTimeUTC, nullptr},
    {stStartTimeDescending, Time, true, StartTimeUTC, nullptr},
    {stTotalPriceAscending, NumberWithTolerance, false, TotalPrice, nullptr},
    {stTotalPriceDescending, NumberWithTolerance, true, TotalPrice, nullptr},
    {stPositiveFeedBAscending, NumberWithTolerance, false, PositiveFeedB, nullptr},
    {stPositiveFeedBDescending, NumberWithTolerance, true, PositiveFeedB, nullptr},
};

const TSortRule KeepOrderRule{stFirstOtherResultType, KeepOrder, false, nullptr, nullptr};

const TSortRule* FindSortRule(TResultSortType type) {
    if (type >= stFirstOtherResultType && type <= stLastOtherResultType) return &KeepOrderRule;
    for (const TSortRule& rule : SortRules)
        if (rule.Type == type) return &rule;
    return nullptr;
}

int CompareNumbers(double a, double b) {
    return a < b ? -1 : a > b ? 1 : 0;
}

int CompareWithTolerance(double a, double b) {
    const double tolerance = std::max(0.0001, 0.0001 * std::min(std::fabs(a), std::fabs(b)));
    return std::fabs(a - b) <= tolerance ? 0 : CompareNumbers(a, b);
}

int CompareTimes(double a, double b) {
    return std::fabs(a - b) < 1.0 / MSecsPerDay ? 0 : CompareNumbers(a, b);
}

char AsciiUpper(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

int CompareAsciiText(const std::string& a, const std::string& b) {
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        const auto ca = static_cast<unsigned char>(AsciiUpper(a[i]));
        const auto cb = static_cast<unsigned char>(AsciiUpper(b[i]));
        if (ca != cb) return ca < cb ? -1 : 1;
    }
    return CompareNumbers(static_cast<double>(a.size()), static_cast<double>(b.size()));
}

int CompareKeys(TCompareKind kind, const TSortKey& a, const TSortKey& b) {
    switch (kind) {
    case Number:
    case Flag:
        return CompareNumbers(a.Number, b.Number);
    case NumberWithTolerance:
        return CompareWithTolerance(a.Number, b.Number);
    case Time:
        return CompareTimes(a.Number, b.Number);
    case LocaleText:
        return a.LocaleKey.compare(b.LocaleKey);
    case AsciiText:
        return CompareAsciiText(a.Text, b.Text);
    case KeepOrder:
        break;
    }
    return 0;
}

// A stable bottom-up merge sort. The tolerant comparisons are not transitive, which the standard sorts do
// not allow; merging only ever compares within the two runs, so any comparison result is safe here.
template <typename TCompare> void MergeSort(std::vector<int>& order, TCompare compare) {
    const size_t n = order.size();
    std::vector<int> merged(n);
    for (size_t width = 1; width < n; width *= 2) {
        for (size_t lo = 0; lo < n; lo += 2 * width) {
            const size_t mid = std::min(lo + width, n);
            const size_t hi = std::min(lo + 2 * width, n);
            size_t i = lo, j = mid, k = lo;
            while (i < mid && j < hi)
                merged[k++] = compare(order[j], order[i]) < 0 ? order[j++] : order[i++];
            while (i < mid)
                merged[k++] = order[i++];
            while (j < hi)
                merged[k++] = order[j++];
        }
        order.swap(merged);
    }
}

TItem& AsAuction(TSearchResult* entry) {
    auto* item = dynamic_cast<TItem*>(entry);
    if (!item) throw EInvalidCast(SInvalidCast);
    return *item;
}

} // namespace

// TObjectListEx

TObjectListEx::~TObjectListEx() {
    Clear();
}

int TObjectListEx::Add(std::unique_ptr<TSearchResult> item) {
    FList.push_back(std::move(item));
    return Count() - 1;
}

TSearchResult* TObjectListEx::Items(int index) const {
    if (index < 0 || index >= Count()) throw EListError(Format(SListIndexError, {index}));
    return FList[static_cast<size_t>(index)].get();
}

void TObjectListEx::Delete(int index) {
    Items(index);
    std::unique_ptr<TSearchResult> item = std::move(FList[static_cast<size_t>(index)]);
    FList.erase(FList.begin() + index);
    const TSearchResult* freed = item.get();
    item.reset();
    if (freed && OnDeleted) OnDeleted(*this, freed);
}

void TObjectListEx::Clear() {
    while (!FList.empty())
        Delete(Count() - 1);
}

void TObjectListEx::Permute(const std::vector<int>& order) {
    std::vector<std::unique_ptr<TSearchResult>> sorted;
    sorted.reserve(order.size());
    for (int index : order)
        sorted.push_back(std::move(FList[static_cast<size_t>(index)]));
    FList.swap(sorted);
}

// TResultList

TResultList::TResultList() {
    FItems.OnDeleted = [this](TObjectListEx&, const TSearchResult*) {
        if (OnItemDeleted) OnItemDeleted(*this);
    };
}

// The items go while the list is still whole, so a deletion handler sees a valid sender.
TResultList::~TResultList() {
    FItems.Clear();
}

void TResultList::Add(std::unique_ptr<TSearchResult> item) {
    if (!item) throw EListError(SNilItem);
    FItems.Add(std::move(item));
}

void TResultList::Clear() {
    FItems.Clear();
}

bool TResultList::LoadFromFile(const std::string&) {
    throw Exception(SNotImplemented);
}

bool TResultList::LoadFromStream(std::istream&) {
    throw EAbstractError(SAbstractError);
}

void TResultList::Sort(TResultSortType sortType) {
    std::vector<int> order(static_cast<size_t>(Count()));
    for (int i = 0; i < Count(); ++i)
        order[static_cast<size_t>(i)] = i;
    order = SortOrder(sortType, std::move(order));
    FItems.Permute(order);
}

std::vector<int> TResultList::SortOrder(TResultSortType sortType, std::vector<int> order) const {
    const TSortRule* rule = FindSortRule(sortType);
    if (!rule) throw EAssertionFailed(SUnsupportedSort);
    if (rule->Kind == KeepOrder) return order;

    // Each key is taken once: a sort compares every item many times, and end times go through the zone
    // conversion.
    const int n = Count();
    std::vector<TSortKey> keys(static_cast<size_t>(n));
    for (int i : order) {
        const TItem& item = AsAuction(FItems.Items(i));
        TSortKey& key = keys[static_cast<size_t>(i)];
        if (rule->NumberKey) key.Number = rule->NumberKey(item);
        if (rule->TextKey) key.Text = rule->TextKey(item);
        if (rule->Kind == LocaleText) key.LocaleKey = LocaleTextSortKey(key.Text);
    }
    const TCompareKind kind = rule->Kind;
    const bool descending = rule->Descending;
    MergeSort(order, [&](int a, int b) {
        const TSortKey& ka = keys[static_cast<size_t>(a)];
        const TSortKey& kb = keys[static_cast<size_t>(b)];
        return descending ? CompareKeys(kind, kb, ka) : CompareKeys(kind, ka, kb);
    });
    return order;
}

void TResultList::SaveToFile(const std::string&) {
}

// TDetailsList (its LoadFromFile and SaveToFile are in UnitDetailsListFile.cpp)

bool TDetailsList::LoadFromStream(std::istream&) {
    throw Exception(SNotImplemented);
}

TSearchResultAuctionDetails& TDetailsList::GetAuction(int index) const {
    if (index >= Count()) throw EListError(SInvalidAuctionIndex);
    return AsAuction(Items().Items(index));
}

TSearchResultAuctionDetails* TDetailsList::FindByArticleNumber(std::string_view articleNumber) const {
    for (int i = 0; i < Count(); ++i) {
        TSearchResultAuctionDetails& item = GetAuction(i);
        if (item.ArticleNumber == articleNumber) return &item;
    }
    return nullptr;
}
