#pragma once
// The owning lists of search results: the general result list with its sort types, and the list of auction
// items that the watch list manager keeps and the local item file loads and saves.

#include "base/UnitExceptions.h"
#include "items/UnitSearchResult.h"

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

KOVA_DECLARE_EXCEPTION(EInvalidCast, Exception);
KOVA_DECLARE_EXCEPTION(EAssertionFailed, Exception);
KOVA_DECLARE_EXCEPTION(EAbstractError, Exception);

// How Sort orders a list. Values 26 to 37, 40 and 41 order other kinds of search results by fields auction
// items do not have: on auction items they keep the list as it is. Every value not named here and outside
// those ranges is rejected by Sort.
enum class TResultSortType : uint8_t {
    stCurrentPriceAscending = 0,
    stCurrentPriceDescending = 1,
    stBuyNowPriceAscending = 2,
    stBuyNowPriceDescending = 3,
    stDescriptionAscending = 4,
    stDescriptionDescending = 5,
    stBidCountAscending = 6,
    stBidCountDescending = 7,
    stEndTimeAscending = 8,
    stEndTimeDescending = 9,
    stArticleNumberAscending = 10,
    stArticleNumberDescending = 11,
    stGaleryPicFirst = 12,
    stGaleryPicLast = 13,
    stBuyNowPriceAscendingToo = 14,
    stBuyNowLast = 15,
    stRemindedFirst = 16,
    stRemindedLast = 17,
    stMarketPlaceAscending = 18,
    stMarketPlaceDescending = 19,
    stShippingAscending = 20,
    stShippingDescending = 21,
    stPriceWithShippingAscending = 22,
    stPriceWithShippingDescending = 23,
    stPriorityAscending = 24,
    stPriorityDescending = 25,
    stFirstOtherResultType = 26,
    stLastOtherResultType = 37,
    stArticleNumberLocaleAscending = 38,
    stArticleNumberLocaleDescending = 39,
    stOtherResultType40 = 40,
    stOtherResultType41 = 41,
    stFreetextDescending = 60,
    stFreetextAscending = 61,
    stStartTimeAscending = 62,
    stStartTimeDescending = 63,
    stTotalPriceAscending = 64,
    stTotalPriceDescending = 65,
    stPositiveFeedBAscending = 66,
    stPositiveFeedBDescending = 67,
};

// An owning list of search results. OnDeleted follows the deletion of each non-null entry, after its object
// has been freed; the pointer it carries identifies the freed object and must not be dereferenced.
class TObjectListEx {
public:
    using TDeletedEvent = std::function<void(TObjectListEx& sender, const TSearchResult* item)>;

    TDeletedEvent OnDeleted;

    TObjectListEx() = default;
    ~TObjectListEx();
    TObjectListEx(const TObjectListEx&) = delete;
    TObjectListEx& operator=(const TObjectListEx&) = delete;

    int Count() const { return static_cast<int>(FList.size()); }
    int Add(std::unique_ptr<TSearchResult> item);
    // Raises EListError "List index out of bounds (n)" outside 0 to Count - 1.
    TSearchResult* Items(int index) const;
    void Delete(int index);
    // Deletes every entry, the last one first.
    void Clear();
    // Puts the entry at order[i] to position i; order must be a permutation of 0 to Count - 1.
    void Permute(const std::vector<int>& order);

private:
    std::vector<std::unique_ptr<TSearchResult>> FList;
};

// A list of search results, owned by the list: whatever leaves it is freed.
class TResultList {
public:
    using TItemDeletedEvent = std::function<void(TResultList& sender)>;

    // Follows every deletion of an item from Items.
    TItemDeletedEvent OnItemDeleted;

    TResultList();
    virtual ~TResultList();
    TResultList(const TResultList&) = delete;
    TResultList& operator=(const TResultList&) = delete;

    TObjectListEx& Items() { return FItems; }
    const TObjectListEx& Items() const { return FItems; }

    // Appends the item and takes it over. Raises EListError for an empty pointer: sorting and look-ups
    // read every entry.
    void Add(std::unique_ptr<TSearchResult> item);
    void Clear();
    int Count() const { return FItems.Count(); }

    // Raises "not implemented" here.
    virtual bool LoadFromFile(const std::string& path);
    // No kind of list reads itself from a stream; this one raises EAbstractError.
    virtual bool LoadFromStream(std::istream& stream);
    // Orders Items by the sort type; items that compare equal keep their order. Raises EAssertionFailed
    // "Unsupported sorting routine!" for an unhandled type and EInvalidCast when an entry is no auction
    // item; the list is unchanged then.
    virtual void Sort(TResultSortType sortType);
    // The same order for the items at the given positions, without moving them: the positions come back
    // sorted, ties in the order given. Raises as Sort does.
    std::vector<int> SortOrder(TResultSortType sortType, std::vector<int> order) const;
    // Does nothing here.
    virtual void SaveToFile(const std::string& path);

private:
    TObjectListEx FItems;
};

// The auction items of the watch list, loaded from and saved to the local item file.
class TDetailsList : public TResultList {
public:
    // Appends the items stored in the file; false when it is missing or no XML, the list unchanged then.
    bool LoadFromFile(const std::string& path) override;
    // Raises "not implemented".
    bool LoadFromStream(std::istream& stream) override;
    // Replaces the file with all items; errors pass to the caller and leave the previous file whole.
    void SaveToFile(const std::string& path) override;

    // Raises "Invalid list index: TDetailsList.GetAuction" for an index not less than Count, EListError for
    // a negative one and EInvalidCast for an entry that is no auction item.
    TSearchResultAuctionDetails& GetAuction(int index) const;
    // The first item with exactly that item number, or nullptr.
    TSearchResultAuctionDetails* FindByArticleNumber(std::string_view articleNumber) const;
};
