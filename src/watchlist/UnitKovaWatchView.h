#pragma once
// The order and the filter the user chose for the watch list: the words that name the orders, the
// title filter, and the positions of the list's items in the order they are shown.

#include "base/UnitDateTime.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

class TDetailsList;
class TSearchResultAuctionDetails;

enum class TKovaSortOrder {
    Ending,    // running auctions by end time, the soonest first; items without an end, then ended ones
    Price,     // price, lowest first
    PriceDesc, // price, highest first
    Bids,      // most bids first
    Title,     // title in the user's collation
    Reminders, // items with a reminder first
    Ebay       // the order eBay gives
};

// The word kept in the settings and sent by the page ("ending", "price", ...), and back; nullopt for a
// word that names no order.
const char* KovaSortOrderWord(TKovaSortOrder order);
std::optional<TKovaSortOrder> KovaSortOrderFromWord(std::string_view word);
// Every word, "ending, price, ...", for error messages.
std::string KovaSortOrderWords();

bool KovaItemEnded(const TSearchResultAuctionDetails& item, TDateTime nowUTC);

// Whether the title holds every word of the filter, in any order and any case; an empty filter keeps all.
class TKovaTitleFilter {
public:
    explicit TKovaTitleFilter(std::string_view filter);
    bool Keeps(std::string_view title) const;
    bool Empty() const { return FWords.empty(); }

private:
    std::vector<std::wstring> FWords;
};

// The positions of the items the filter keeps, in the order chosen. Items equal in the chosen key keep the
// "ending" order among them, and items equal in that the order eBay gave.
std::vector<int> KovaViewOrder(const TDetailsList& items, TKovaSortOrder order, std::string_view filter,
                               TDateTime nowUTC);
