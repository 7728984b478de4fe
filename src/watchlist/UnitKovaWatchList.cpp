#include "watchlist/UnitKovaWatchList.h"

#include "base/UnitExceptions.h"
#include "base/UnitUtils.h"
#include "ebayapi/UnitKovaGadgetCalls.h"
#include "items/UnitResultLst.h"
#include "platform/UnitPlatformClock.h"
#include "platform/UnitPlatformFiles.h"
#include "platform/UnitPlatformMainThread.h"
#include "platform/UnitPlatformProcess.h"
#include "storage/UnitKovaDat.h"
#include "storage/UnitKovaIniFile.h"
#include "storage/UnitKovaeBayLogin.h"
#include "support/UnitFormatSettings.h"
#include "support/UnitLogging.h"
#include "time/UnitTimeUtils.h"
#include "watchlist/UnitHtmlTemplate.h"
#include "watchlist/UnitKovaThreads.h"

#include <algorithm>
#include <iterator>
#include <set>
#include <utility>

namespace {

constexpr const char* ItemPiece1 =
    R"HTML(<div id="result%COUNTER%" class=result style="background-image:url('images/%BACKGROUNDIMG%');" )HTML"
    R"HTML(onMouseOver="onLink('result%COUNTER%', '%ARTICLENR%', '%ISHIGHBIDDER%');" )HTML"
    R"HTML(onMouseOut="outLink('result%COUNTER%', '%ISHIGHBIDDER%');"><table cellpadding=0 cellspacing=0 )HTML"
    R"HTML(width="120"><tr><td rowspan=3 width=31>)HTML";
constexpr const char* ItemPiece2 =
    R"HTML(<img src="%IMAGEURL%" width=21 height=21 alt="%DESCRIPTION%" hspace=5>)HTML";
constexpr const char* ItemPiece3 =
    R"HTML(</td><td valign=bottom colspan=2><div style="width:89px; height:12px; text-overflow:ellipsis;)HTML"
    R"HTML(overflow:hidden; white-space:nowrap;"><a href="%URL%" >%DESCRIPTION%</a></div></td></tr><tr><td>)HTML"
    R"HTML(%PRICE%</td><td align="right" rowspan=2><a href="javascript:onOpenDetails('%ARTICLENR%');"> )HTML"
    R"HTML(<img src="images/infoIcon.png" width=12 height=12 alt="Details"></a>  </td></tr><tr><td )HTML"
    R"HTML(%CLASSENDTIME%>%ENDTIME%</td></tr></table></div>)HTML";

constexpr const char* MessageLine = R"HTML(<div id="Message" class=message>%MessageText%</div>)HTML";
constexpr const char* NoAuctionsMessage = "<B> No auctions available</B>";
constexpr const char* LoadErrorMessage = "<B>Error loading Watchlist: %s</B>";

constexpr const char* NavigationLines[] = {
    R"HTML(<div id=navi>)HTML",
    R"HTML(<div id=beginDiv><img src="images/begin.png" width=15 height=15 onclick="firstPage();" )HTML"
    R"HTML(onMouseOver="onImg('begin');" onMouseOut="outImg('begin');" id=begin></div>)HTML",
    R"HTML(<div id=backDiv><img src="images/back.png" width=15 height=15 onclick="prevPage();" )HTML"
    R"HTML(onMouseOver="onImg('back');" onMouseOut="outImg('back');" id=back></div>)HTML",
    R"HTML(<div id=nextDiv><img src="images/next.png" width=15 height=15 onclick="nextPage();" )HTML"
    R"HTML(onMouseOver="onImg('next');" onMouseOut="outImg('next');" id=next></div>)HTML",
    R"HTML(<div id=endDiv><img src="images/end.png" width=15 height=15 onclick="lastPage();" )HTML"
    R"HTML(onMouseOver="onImg('end');" onMouseOut="outImg('end');" id=end></div>)HTML",
    R"HTML(<div id=pageNumber>)HTML",
};

// Reminder times below this number mark the end time red.
constexpr double RedEndTimeLimit = 3600000;

// eBay's answers for a token that is invalid (931), expired (932) or revoked (16110).
bool IsTokenRejection(TParserResultCode code) {
    return code == TParserResultCode::prTokenInvalid || code == TParserResultCode::prTokenExpired ||
           code == TParserResultCode::prError16110;
}

std::string TokenRejectedMessage(TParserResultCode code) {
    const std::string text = GetParserResultMessage(code);
    return text.empty() ? GetParserResultMessage(TParserResultCode::prTokenExpired) : text;
}

bool MarkHighBidderSetting() {
    TIniFileManager* settings = IniFileManager();
    return settings ? settings->Watchlist().AuctionsMarkHighbidder() : true;
}

TKovaSortOrder SortOrderSetting() {
    TIniFileManager* settings = IniFileManager();
    if (!settings) return TKovaSortOrder::Ending;
    return KovaSortOrderFromWord(settings->Watchlist().AuctionsSortOrder()).value_or(TKovaSortOrder::Ending);
}

int RemindDefaultSetting() {
    TIniFileManager* settings = IniFileManager();
    return settings ? settings->Watchlist().AuctionsRemindDefault() : 0;
}

std::string ReminderTimeText(double remindTime) {
    try {
        return FormatDateTime("c", remindTime, DefaultFormatSettings());
    } catch (const std::exception&) {
        return FloatToStr(remindTime, DefaultFormatSettings());
    }
}

// An address from the answer that is no web address never reaches the page: a link loses its target, an
// image falls back to the blank picture.
std::string ImageOr(const std::string& value, const char* fallback) {
    return Trim(value).empty() || !IsWebAddress(value) ? std::string(fallback) : value;
}

std::string WithoutLinkUnlessWeb(std::string text, const std::string& link) {
    if (!IsWebAddress(link)) text = StringReplaceAll(text, R"( href="%URL%")", "");
    return text;
}

} // namespace

TKovaWatchList::TKovaWatchList() : FItems(std::make_unique<TDetailsList>()) {
    FView.Sort = SortOrderSetting();
}

TKovaWatchList::~TKovaWatchList() {
    CancelLoading();
    WaitWhileBusy();
}

void TKovaWatchList::CancelLoading() {
    std::lock_guard lock(FLock);
    if (FBusy && FCancel) *FCancel = true;
}

std::string TKovaWatchList::InternetStatusMessage(TInternetStatus status) {
    return ::InternetStatusMessage(status);
}

void TKovaWatchList::StartLoading(const TEbayLogInInfo& logInInfo) {
    if (FBusy) return;
    try {
        auto thread = std::make_unique<TThreadGetMyEbayWatchlist>();
        FBusy = true;
        SetUserName(Trim(logInInfo.UserName));
        SetAccount(logInInfo.Account);
        thread->FLookUpAccount = !FAccountLookupTried && !logInInfo.AccountCurrent;
        FAccountLookupTried = FAccountLookupTried || thread->FLookUpAccount;
        thread->FreeOnTerminate = true;
        thread->FToken = logInInfo.Token;
        const TKovaGadgetDat* dat = GadgetDat();
        thread->FUseOAuth = dat && dat->SignIn().UsesOAuth();
        thread->FOAuth = logInInfo.OAuth;
        thread->FOAuthAtStart = logInInfo.OAuth;
        {
            std::lock_guard lock(FLock);
            FCancel = thread->FCancel;
            FLoadStartedUTC = NowUTC();
            FCallsAtLoadStart = TradingCallsAnswered();
        }
        thread->FOnFinished = [this](TThreadGetMyEbayWatchlist& finished) { ThreadFinished(finished); };
        thread->Start();
        // From here on the thread frees itself.
        thread.release();
    } catch (const std::exception& e) {
        LogException(e, "TKovaGetWatchList.Execute");
        // No thread will ever end this load: end it here, and let the page say it failed.
        if (FBusy) {
            try {
                std::lock_guard lock(FLock);
                WriteResultFileLocked(
                    Format(LoadErrorMessage, {HtmlEscape(InternetStatusMessage(iyUnknown))}));
            } catch (const std::exception& inner) {
                LogException(inner, "TKovaGetWatchList.Execute");
            }
            FBusy = false;
        }
    }
}

void TKovaWatchList::ThreadFinished(TThreadGetMyEbayWatchlist& thread) {
    try {
        bool succeeded = false;
        bool tokenRejected = false;
        if (thread.FCallSucceeded) {
            if (thread.FParseSucceeded) {
                succeeded = true;
            } else {
                Log("XMLParser.GetWatchList() not successful", lmkError);
                tokenRejected = IsTokenRejection(thread.FParserResult);
                switch (static_cast<int>(thread.FParserResult)) {
                case 1:
                    Log("No error message from parser", lmkWarning);
                    break;
                case 5:
                    Log("ErrorNodes not completely parsed", lmkWarning);
                    break;
                case 8:
                    Log("Token is no longer valid. Member must repeat the autorization process.", lmkError);
                    break;
                case 2:
                case 3:
                case 4:
                case 6:
                case 7:
                case 9:
                case 10:
                    Log("Unknown Parsing Error", lmkError);
                    break;
                default:
                    break;
                }
            }
        }
        std::lock_guard lock(FLock);
        std::optional<TEbayAccount> learnt;
        if (thread.FLookUpAccount && !thread.Canceled()) {
            const TEbayAccountLookup& lookup = thread.FAccountLookup;
            if (lookup.Succeeded) {
                learnt = lookup.Account;
                FAccount = lookup.Account;
                if (!lookup.Account.Name.empty() && !SameText(lookup.Account.Name, FUserName))
                    Log("The token belongs to the eBay user " + lookup.Account.Name + ", not " + FUserName,
                        lmkWarning);
            } else {
                // The account saved at the last sign-in keeps marking the user's bids.
                Log("The eBay account could not be looked up; the saved one stays. " + lookup.FailureText,
                    lmkWarning);
            }
        }
        if (thread.Canceled()) {
            // The gadget is closing: the list and the page stay as they were.
            Log("The watch list load was stopped", lmkInfo);
        } else if (succeeded && thread.Complete()) {
            // Only a load that got every page replaces the list, and with it the local item file; eBay's
            // answer knows nothing of reminders, so they come over from the list it replaces.
            std::unique_ptr<TDetailsList> loaded = thread.TakeItems();
            CarryOverReminders(*FItems, *loaded, RemindDefaultSetting());
            TakeNewsLocked(*loaded);
            FItems = std::move(loaded);
            RebuildViewLocked();
            FLoadMessage.clear();
            WriteResultFileLocked("");
        } else {
            // A refused token leaves no transport message; the page must still say why nothing loaded.
            std::string text = thread.FErrorText;
            if (tokenRejected)
                text = TokenRejectedMessage(thread.FParserResult);
            else if (text.empty())
                text = InternetStatusMessage(thread.FErrorCode);
            if (text.empty()) text = GetParserResultMessage(TParserResultCode::prDataParseFailed);
            FLoadMessage = Format(LoadErrorMessage, {HtmlEscape(text)});
            WriteResultFileLocked(FLoadMessage);
            Log("Error loading watchlist. " + text, lmkInfo);
        }
        FLastLoad = {FLastLoad.Number + 1, FLoadStartedUTC,
                     static_cast<int>(TradingCallsAnswered() - FCallsAtLoadStart),
                     thread.Canceled() || (succeeded && thread.Complete()) ? 0 : thread.FApiErrorNumber,
                     !thread.Canceled() && succeeded && thread.Complete()};
        if (learnt && FOnAccount) FOnAccount(FUserName, *learnt);
        if (tokenRejected && FOnTokenRejected && !thread.FUseOAuth) FOnTokenRejected(thread.FToken);
        if (thread.FUseOAuth && FOnOAuthTokens) {
            TOAuthTokens after = thread.FOAuth;
            if (tokenRejected) {
                after.AccessToken.clear();
                after.AccessTokenExpires = 0;
            }
            if (thread.FOAuthRenewed || thread.FOAuthRevoked || tokenRejected)
                FOnOAuthTokens(thread.FOAuthAtStart, after);
        }
    } catch (const std::exception& e) {
        LogException(e, "TKovaGetWatchList.Execute");
    }
    FBusy = false;
    // A main thread that waits for the end of the load notices it at once.
    MainThreadQueue().Wake();
    // The load's pages, the list it replaced and the page fetchers' buffers are gone; without this their
    // pages stay with the host until the next load (a megabyte or more for a few hundred items). Done once
    // the load is seen to have ended, so that nobody waits for it.
    ReturnFreedMemoryToSystem();
}

void TKovaWatchList::WaitWhileBusy() {
    try {
        if (IsMainThread()) {
            MainThreadQueue().RunUntil([this] { return !FBusy; });
            return;
        }
        while (FBusy)
            SleepMs(100);
    } catch (...) {
    }
}

int TKovaWatchList::LastPageIndexLocked() const {
    const int count = static_cast<int>(FRows.size());
    if (count % PageSize == 0) return std::max(0, count / PageSize - 1);
    return count / PageSize;
}

int TKovaWatchList::LastPageIndex() const {
    std::lock_guard lock(FLock);
    return LastPageIndexLocked();
}

template <typename TStep> void TKovaWatchList::Page(const char* location, TStep step) {
    try {
        std::lock_guard lock(FLock);
        if (step()) WriteResultFileLocked(FLoadMessage);
    } catch (const std::exception& e) {
        LogException(e, location);
    }
}

void TKovaWatchList::NextPage() {
    Page("TKovaGetWatchList.NextPage", [this] {
        const int last = LastPageIndexLocked();
        if (last == FPageIndex) return false;
        FPageIndex = std::min(FPageIndex + 1, last);
        return true;
    });
}

void TKovaWatchList::PrevPage() {
    Page("TKovaGetWatchList.PrevPage", [this] {
        if (FPageIndex == 0) return false;
        FPageIndex = std::max(FPageIndex - 1, 0);
        return true;
    });
}

void TKovaWatchList::FirstPage() {
    Page("TKovaGetWatchList.FirstPage", [this] {
        if (FPageIndex == 0) return false;
        FPageIndex = 0;
        return true;
    });
}

void TKovaWatchList::LastPage() {
    Page("TKovaGetWatchList.LastPage", [this] {
        const int last = LastPageIndexLocked();
        if (last == FPageIndex) return false;
        FPageIndex = last;
        return true;
    });
}

void TKovaWatchList::WriteResultFile(const std::string& message) {
    std::lock_guard lock(FLock);
    WriteResultFileLocked(message);
}

void TKovaWatchList::SetNotice(const std::string& notice) {
    std::lock_guard lock(FLock);
    if (FNotice == notice) return;
    FNotice = notice;
    WriteResultFileLocked(FLoadMessage);
}

TKovaWatchList::TLoadOutcome TKovaWatchList::LastLoad() const {
    std::lock_guard lock(FLock);
    return FLastLoad;
}

void TKovaWatchList::RewriteResultFile() {
    std::lock_guard lock(FLock);
    // Auctions may have ended since: the ending order puts them after the running ones.
    RebuildViewLocked();
    WriteResultFileLocked(FLoadMessage);
}

std::string TKovaWatchList::Notice() const {
    std::lock_guard lock(FLock);
    return FNotice;
}

void TKovaWatchList::WriteResultFileLocked(const std::string& message) {
    std::vector<std::string> lines;
    RenderResults(lines, message);
    WriteFileAtomic(FResultFileName, JoinLinesCRLF(lines), TFileAccess::OwnerOnly, TFileKeep::Rebuilt);
}

void TKovaWatchList::RenderResults(std::vector<std::string>& lines, const std::string& message) {
    FPageIndex = std::min(FPageIndex, LastPageIndexLocked());
    lines.emplace_back("<div id=results>");
    // The messages are the system's own markup, built from escaped values.
    if (FRows.empty()) lines.push_back(FillTemplate(MessageLine, {{"%MessageText%", NoAuctionsMessage}}));
    for (const std::string* text : {static_cast<const std::string*>(&FNotice), &message})
        if (!text->empty()) lines.push_back(FillTemplate(MessageLine, {{"%MessageText%", *text}}));
    int itemLines = 0;
    const bool markHighBidder = MarkHighBidderSetting();
    const int end = std::min(FPageIndex * PageSize + PageSize, static_cast<int>(FRows.size()));
    for (int position = FPageIndex * PageSize; position < end; ++position) {
        lines.push_back(RenderItem(FRows[static_cast<size_t>(position)], position, markHighBidder));
        ++itemLines;
    }
    lines.emplace_back("</div>");
    if (itemLines > 0) RenderNavigation(lines);
}

std::string TKovaWatchList::RenderItem(int index, int position, bool markHighBidder) const {
    const TSearchResultAuctionDetails& item = FItems->GetAuction(index);
    const bool highBidder = markHighBidder && IsHighBidder(item);
    std::string classEndTime;
    const double remindTime = item.RemindTime;
    if (remindTime > 0 && remindTime < RedEndTimeLimit) {
        classEndTime = "class=red";
        Log(ReminderTimeText(remindTime), lmkInfo);
        Log("ReminderTime < 1 Stunde", lmkInfo);
    } else {
        Log("ReminderTime > 1 Stunde", lmkInfo);
    }
    const std::string articleNumber = HtmlEscape(ScriptStringText(item.ArticleNumber));
    const std::string pieces =
        WithoutLinkUnlessWeb(std::string(ItemPiece1) + ItemPiece2 + ItemPiece3, item.Link);
    return FillTemplate(
        pieces, {
                    {"%IMAGEURL%", HtmlEscape(item.HasGaleryPic ? ImageOr(item.GaleryLink, "images/blind.gif")
                                                                : "images/blind.gif")},
                    {"%DESCRIPTION%", HtmlEscape(item.Description)},
                    {"%ENDTIME%", HtmlEscape(item.GetRemainingTimeText(true))},
                    {"%PRICE%", HtmlEscape(item.BuyNow ? item.GetBuyNowPriceText() : item.GetPriceText())},
                    {"%ARTICLENR%", articleNumber},
                    {"%URL%", HtmlEscape(TrackedLink(item.Link))},
                    {"%COUNTER%", IntToStr(position)},
                    {"%ISHIGHBIDDER%", highBidder ? "true" : "false"},
                    {"%BACKGROUNDIMG%", highBidder ? "resultWinner.png" : "result.png"},
                    {"%CLASSENDTIME%", classEndTime},
                });
}

void TKovaWatchList::RenderNavigation(std::vector<std::string>& lines) const {
    lines.insert(lines.end(), std::begin(NavigationLines), std::end(NavigationLines));
    lines.push_back(IntToStr(FPageIndex + 1) + "/" + IntToStr(LastPageIndexLocked() + 1));
    lines.emplace_back("</div>");
    lines.emplace_back("</div>");
}

bool TKovaWatchList::BuildDetailsFile(const std::string& articleNumber) {
    std::lock_guard lock(FLock);
    if (FItems->Count() == 0) return false;
    const TSearchResultAuctionDetails* item = FItems->FindByArticleNumber(articleNumber);
    if (!item) return false;
    const std::string templateText = WithoutLinkUnlessWeb(
        JoinLinesCRLF(SplitLines(ReadFileBytes(FHomeDirectory + "detailsTemp.html"))), item->Link);
    const std::string filled = FillTemplate(
        templateText,
        {
            {"%URL%", HtmlEscape(TrackedLink(item->Link))},
            {"%TITLE%", HtmlEscape(item->Description)},
            {"%IMAGEURL%", HtmlEscape(ImageOr(item->GaleryLink, "../images/blind.gif"))},
            {"%PRICE%", HtmlEscape(item->GetPriceText())},
            {"%BIDS%", HtmlEscape(item->GetBidCountText())},
            {"%PRICEBUYNOW%", HtmlEscape(item->GetBuyNowPriceText())},
            {"%SHIPPINGCOSTS%", HtmlEscape(item->GetShippingCostsText())},
            {"%HIGHBIDDER%", HtmlEscape(Trim(item->HighBidder).empty() ? "-" : item->HighBidder)},
            {"%SELLER%", HtmlEscape(item->SellerName)},
            {"%REMAININGTIME%", HtmlEscape(item->GetRemainingTimeText(true))},
            {"%BIDORBUY%", item->BuyNow ? "buy" : "bid"},
        });
    WriteFileAtomic(FHomeDirectory + "details.html", JoinLinesCRLF(SplitLines(filled)),
                    TFileAccess::OwnerOnly, TFileKeep::Rebuilt);
    return true;
}

void TKovaWatchList::LoadLocalItems() {
    try {
        std::lock_guard lock(FLock);
        const std::string path = FHomeDirectory + "watchlist.dat";
        if (FItems && FileExists(path)) FItems->LoadFromFile(path);
    } catch (const std::exception&) {
        Log("Error loading local auctions.", lmkError);
    }
    std::lock_guard lock(FLock);
    FNoticeLog.Load(FHomeDirectory + TKovaNoticeLog::FileName);
    RebuildViewLocked();
}

void TKovaWatchList::SaveLocalItems() {
    std::lock_guard lock(FLock);
    SaveLocalItemsLocked();
}

void TKovaWatchList::SaveLocalItemsLocked() {
    try {
        if (FItems) FItems->SaveToFile(FHomeDirectory + "watchlist.dat");
    } catch (const std::exception&) {
        Log("Error saving auctions to local partition.", lmkError);
    }
}

std::vector<TReminderState> TKovaWatchList::Reminders() const {
    std::lock_guard lock(FLock);
    return ListReminders(*FItems);
}

std::optional<TReminderState> TKovaWatchList::SetReminder(const std::string& articleNumber, int remindType) {
    std::lock_guard lock(FLock);
    TSearchResultAuctionDetails* item = FItems->FindByArticleNumber(articleNumber);
    if (!item) return std::nullopt;
    item->RemindType = static_cast<TRemindType>(std::clamp(remindType, 0, int{MaxRemindType}));
    item->RemindTime = RemindTimeFor(item->EndTime, item->RemindType);
    item->Reminded = false;
    SaveLocalItemsLocked();
    if (FView.Sort == TKovaSortOrder::Reminders) RebuildViewLocked();
    // The end time of an item with a reminder shows red.
    WriteResultFileLocked(FLoadMessage);
    return TReminderState{item->ArticleNumber, item->RemindType, item->RemindTime, item->Reminded};
}

std::vector<TDueReminder> TKovaWatchList::TakeDueReminders(TDateTime nowUTC) {
    std::lock_guard lock(FLock);
    std::vector<TDueReminder> due = ::TakeDueReminders(*FItems, nowUTC);
    // Saved at once, so that a restart never gives a reminder twice.
    if (!due.empty()) SaveLocalItemsLocked();
    return due;
}

TDateTime TKovaWatchList::NextRemindTime() const {
    std::lock_guard lock(FLock);
    return ::NextRemindTime(*FItems);
}

std::vector<TDateTime> TKovaWatchList::EndTimes() const {
    std::lock_guard lock(FLock);
    std::vector<TDateTime> ends;
    ends.reserve(FItems->Count());
    for (int i = 0; i < FItems->Count(); ++i)
        ends.push_back(FItems->GetAuction(i).EndTime);
    return ends;
}

void TKovaWatchList::RebuildViewLocked() {
    try {
        FRows = KovaViewOrder(*FItems, FView.Sort, FView.Filter, ExactNowUTC());
    } catch (const std::exception& e) {
        // Only an entry that is no auction item gets here; the rows then follow the list.
        LogException(e, "TKovaWatchList.RebuildView");
        FRows.resize(static_cast<size_t>(FItems->Count()));
        for (size_t i = 0; i < FRows.size(); ++i)
            FRows[i] = static_cast<int>(i);
    }
}

void TKovaWatchList::TakeNewsLocked(const TDetailsList& loaded) {
    const TDateTime now = ExactNowUTC();
    const TKovaHighBidderTest isHighBidder = [this](const TSearchResultAuctionDetails& item) {
        return IsHighBidder(item);
    };
    TKovaLoadNews news = CompareLoads(*FItems, FNoticeLog.LastLoadUTC(), loaded, now, isHighBidder,
                                      MarkHighBidderSetting(), FNoticeLog);
    // Changes older than a minute are no news; those of this load replace them.
    std::erase_if(FChanges,
                  [now](const auto& entry) { return now - entry.second.SeenUTC >= KovaChangeShownDays; });
    for (auto& [itemId, change] : news.Changes)
        FChanges[itemId] = std::move(change);
    FNotices.insert(FNotices.end(), std::make_move_iterator(news.Notices.begin()),
                    std::make_move_iterator(news.Notices.end()));
    FNoticeLog.SetLastLoadUTC(now);
    std::set<std::string> listed;
    for (int i = 0; i < loaded.Count(); ++i)
        listed.insert(loaded.GetAuction(i).ArticleNumber);
    try {
        // Before the notices go out: a restart must not give them again.
        FNoticeLog.Save(listed);
    } catch (const std::exception& e) {
        LogException(e, "TKovaWatchList.SaveNotices");
    }
}

TKovaWatchList::TView TKovaWatchList::View() const {
    std::lock_guard lock(FLock);
    return FView;
}

void TKovaWatchList::SetView(std::optional<TKovaSortOrder> sort, std::optional<std::string> filter) {
    std::lock_guard lock(FLock);
    if (sort) {
        FView.Sort = *sort;
        if (TIniFileManager* settings = IniFileManager())
            settings->Watchlist().SetAuctionsSortOrder(KovaSortOrderWord(*sort));
    }
    if (filter) FView.Filter = *filter;
    RebuildViewLocked();
    FPageIndex = 0;
    WriteResultFileLocked(FLoadMessage);
}

std::vector<TKovaWatchList::TItemState> TKovaWatchList::ItemStates(TDateTime nowUTC) const {
    std::lock_guard lock(FLock);
    const bool markHighBidder = MarkHighBidderSetting();
    std::vector<TItemState> states;
    states.reserve(FRows.size());
    for (const int index : FRows) {
        const TSearchResultAuctionDetails& item = FItems->GetAuction(index);
        TItemState state;
        state.ItemId = item.ArticleNumber;
        state.Title = item.Description;
        state.Price = KovaShownPrice(item);
        state.EndTime = item.NeverEnding ? 0 : item.EndTime;
        state.RemindTime = item.RemindType != 0 ? item.RemindTime : 0;
        state.Reminded = item.Reminded;
        state.HighBidder = markHighBidder && IsHighBidder(item);
        state.Ended = KovaItemEnded(item, nowUTC);
        state.Bids = item.BidCount;
        const auto change = FChanges.find(item.ArticleNumber);
        if (change != FChanges.end() && nowUTC - change->second.SeenUTC < KovaChangeShownDays) {
            state.PriceChanged = change->second.Price;
            state.BidsChanged = change->second.Bids;
            state.PricePrevious = change->second.PricePrevious;
        }
        states.push_back(std::move(state));
    }
    return states;
}

std::vector<TKovaNotice> TKovaWatchList::TakeNotices() {
    std::lock_guard lock(FLock);
    return std::exchange(FNotices, {});
}

std::string TKovaWatchList::HomeDirectory() const {
    std::lock_guard lock(FLock);
    return FHomeDirectory;
}

void TKovaWatchList::SetHomeDirectory(const std::string& value) {
    std::lock_guard lock(FLock);
    FHomeDirectory = value;
}

std::string TKovaWatchList::ResultFileName() const {
    std::lock_guard lock(FLock);
    return FResultFileName;
}

void TKovaWatchList::SetResultFileName(const std::string& value) {
    std::lock_guard lock(FLock);
    FResultFileName = value;
}

std::string TKovaWatchList::UserName() const {
    std::lock_guard lock(FLock);
    return FUserName;
}

void TKovaWatchList::SetUserName(const std::string& value) {
    std::lock_guard lock(FLock);
    FUserName = value;
}

TEbayAccount TKovaWatchList::Account() const {
    std::lock_guard lock(FLock);
    return FAccount;
}

void TKovaWatchList::SetAccount(const TEbayAccount& value) {
    std::lock_guard lock(FLock);
    FAccount = value;
}

bool TKovaWatchList::IsHighBidder(const TSearchResultAuctionDetails& item) const {
    return IsUsersBidderID(item.HighBidder, FUserName, FAccount);
}

int TKovaWatchList::PageIndex() const {
    std::lock_guard lock(FLock);
    return FPageIndex;
}

int TKovaWatchList::ItemCount() const {
    std::lock_guard lock(FLock);
    return FItems->Count();
}
