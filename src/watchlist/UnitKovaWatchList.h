#pragma once
// The watch list manager: the items in memory with their paging state, the load on a worker thread and its
// completion, the result and details files, and the local item file.

#include "ebayapi/UnitInternet.h"
#include "storage/UnitEbayAccount.h"
#include "storage/UnitOAuthTokens.h"
#include "watchlist/UnitKovaNotices.h"
#include "watchlist/UnitKovaReminders.h"
#include "watchlist/UnitKovaWatchView.h"

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

class TDetailsList;
class TEbayLogInInfo;
class TSearchResultAuctionDetails;
class TThreadGetMyEbayWatchlist;

// Owns the user's watch list. Every operation but ThreadFinished runs on the main thread; ThreadFinished
// runs on the worker, which fills a list of its own that replaces the manager's list there. One lock keeps
// the list, the page index and the user name consistent between the two.
class TKovaWatchList {
public:
    static constexpr int PageSize = 5;

    TKovaWatchList();
    // Waits for a running load first: its completion handler refers to this object.
    ~TKovaWatchList();
    TKovaWatchList(const TKovaWatchList&) = delete;
    TKovaWatchList& operator=(const TKovaWatchList&) = delete;

    // Told on the worker thread, before the busy flag clears, that eBay refused a token as invalid,
    // expired or revoked.
    using TTokenRejectedEvent = std::function<void(const std::string& token)>;
    // Set before the first load; the callback must outlive the manager's loads.
    void SetOnTokenRejected(TTokenRejectedEvent event) { FOnTokenRejected = std::move(event); }
    // Told on the worker thread when an OAuth load changed the tokens it started with: renewed, refused
    // (after is empty) or an access token eBay would not take (after lacks it, so the next load renews).
    using TOAuthTokensEvent = std::function<void(const TOAuthTokens& before, const TOAuthTokens& after)>;
    void SetOnOAuthTokens(TOAuthTokensEvent event) { FOnOAuthTokens = std::move(event); }
    // Told on the worker thread when the first load of the manager learnt from eBay whose sign-in the token
    // is: the user name the load ran for, and the account.
    using TAccountEvent = std::function<void(const std::string& userName, const TEbayAccount& account)>;
    void SetOnAccount(TAccountEvent event) { FOnAccount = std::move(event); }

    // Starts a worker thread that loads the list with the login info's token; does nothing while busy. The
    // first load also asks eBay whose sign-in it is, unless the login info learnt that in this run already.
    void StartLoading(const TEbayLogInInfo& logInInfo);
    // Stops a running load at once, aborting its transfer; the list stays as it was. WaitWhileBusy then
    // returns within moments.
    void CancelLoading();
    // The completion handler; runs on the finished worker thread and clears the busy flag last.
    void ThreadFinished(TThreadGetMyEbayWatchlist& thread);
    bool IsBusy() const { return FBusy; }
    // The last load that finished: its number (0 before the first), when it started, the eBay calls it
    // took, eBay's ErrorCode that made it fail (518: the call limit), 0 when none did, and whether it
    // replaced the list (every page came).
    struct TLoadOutcome {
        uint64_t Number = 0;
        TDateTime StartedUTC = 0;
        int Calls = 0;
        int ApiError = 0;
        bool Succeeded = false;
    };
    TLoadOutcome LastLoad() const;
    // Returns when no load runs; on the main thread it keeps the main queue answered meanwhile.
    void WaitWhileBusy();

    int LastPageIndex() const;
    void NextPage();
    void PrevPage();
    void FirstPage();
    void LastPage();

    // Renders the message, when not empty, above the current page (or "No auctions available" when the list
    // is empty) into the result file. Raises when the file cannot be written; the previous file then stays
    // whole.
    void WriteResultFile(const std::string& message);
    // A message that stands above every page written from now on until it is set empty; a change rewrites
    // the result file at once (raising when it cannot be written).
    void SetNotice(const std::string& notice);
    // Writes the current page again with the messages it shows, so that remaining times are those of now.
    void RewriteResultFile();
    std::string Notice() const;
    // Writes "details.html" from "detailsTemp.html" for the item; false when it is not in the list. Raises
    // when the template cannot be read or the file cannot be written.
    bool BuildDetailsFile(const std::string& articleNumber);
    void LoadLocalItems();
    void SaveLocalItems();

    // Reminders on the items (UnitKovaReminders); a successful load carries them over by item number.
    std::vector<TReminderState> Reminders() const;
    // Sets the item's reminder anew (not yet given), saves the local item file and rewrites the result file;
    // nothing for an item number not in the list. Raises when the result file cannot be written.
    std::optional<TReminderState> SetReminder(const std::string& articleNumber, int remindType);
    // Marks the reminders due by then as given and saves the local item file when there were any.
    std::vector<TDueReminder> TakeDueReminders(TDateTime nowUTC);
    TDateTime NextRemindTime() const;
    // The end times of the items (UTC), for refreshes that follow the endings.
    std::vector<TDateTime> EndTimes() const;

    // The order and filter the rows follow; the order is kept in the settings, the filter only while the
    // program runs.
    struct TView {
        TKovaSortOrder Sort = TKovaSortOrder::Ending;
        std::string Filter;
    };
    TView View() const;
    // Sets what is given, goes back to the first page and rewrites the result file (raising when it cannot
    // be written; the view has changed then all the same).
    void SetView(std::optional<TKovaSortOrder> sort, std::optional<std::string> filter);

    // One item as the page counts its time down and marks what changed, in the order of the rows.
    struct TItemState {
        std::string ItemId, Title, Price;
        TDateTime EndTime = 0; // 0: none (or never ending)
        TDateTime RemindTime = 0;
        bool Reminded = false, HighBidder = false, Ended = false;
        int Bids = 0;
        // Set while a change of the last loads is under a minute old.
        bool PriceChanged = false, BidsChanged = false;
        std::string PricePrevious;
    };
    std::vector<TItemState> ItemStates(TDateTime nowUTC) const;
    // The outbid and ended notices of the loads since the last call, each given once.
    std::vector<TKovaNotice> TakeNotices();

    static std::string InternetStatusMessage(TInternetStatus status);

    std::string HomeDirectory() const;
    void SetHomeDirectory(const std::string& value);
    std::string ResultFileName() const;
    void SetResultFileName(const std::string& value);
    std::string UserName() const;
    void SetUserName(const std::string& value);
    // The account whose immutable id marks the user's bids beside the user name.
    TEbayAccount Account() const;
    void SetAccount(const TEbayAccount& value);
    // Whether the item's high bidder is the user: the user name, or the account's name or immutable id, which
    // eBay gives in its place for some applications: the one test the rows, the page's item states and the
    // outbid notices share. The caller holds the manager's lock (rendering does).
    bool IsHighBidder(const TSearchResultAuctionDetails& item) const;
    int PageIndex() const;
    int ItemCount() const;

private:
    int LastPageIndexLocked() const;
    void SaveLocalItemsLocked();
    void WriteResultFileLocked(const std::string& message);
    void RenderResults(std::vector<std::string>& lines, const std::string& message);
    void RenderNavigation(std::vector<std::string>& lines) const;
    std::string RenderItem(int index, int position, bool markHighBidder) const;
    // Orders and filters the items anew, as the rows show them.
    void RebuildViewLocked();
    // Compares a complete load with the list it replaces, keeping its changes and notices.
    void TakeNewsLocked(const TDetailsList& loaded);
    // Runs a paging step under the lock and writes the page when it moved; logs failures under location.
    template <typename TStep> void Page(const char* location, TStep step);

    mutable std::mutex FLock;
    std::unique_ptr<TDetailsList> FItems;
    int FPageIndex = 0;
    std::string FResultFileName;
    std::string FHomeDirectory;
    std::string FUserName;
    TEbayAccount FAccount;
    // Whether a load asked eBay for the account already: once per run is enough.
    bool FAccountLookupTried = false;
    // The failure of the last load, shown above the list it kept until a load succeeds.
    std::string FLoadMessage;
    std::string FNotice;
    std::shared_ptr<std::atomic<bool>> FCancel;
    std::atomic<bool> FBusy{false};
    TDateTime FLoadStartedUTC = 0;
    uint64_t FCallsAtLoadStart = 0;
    TLoadOutcome FLastLoad;
    TView FView;
    // Positions in FItems of the rows, in their order.
    std::vector<int> FRows;
    std::map<std::string, TKovaItemChange> FChanges;
    std::vector<TKovaNotice> FNotices;
    TKovaNoticeLog FNoticeLog;
    TTokenRejectedEvent FOnTokenRejected;
    TOAuthTokensEvent FOnOAuthTokens;
    TAccountEvent FOnAccount;
};
