#include "watchlist/UnitKovaThreads.h"

#include "base/UnitExceptions.h"
#include "base/UnitUtils.h"
#include "ebayapi/UnitKovaGadgetCalls.h"
#include "ebayapi/UnitOAuthClient.h"
#include "ebayapi/UnitXMLParser.h"
#include "items/UnitResultLst.h"
#include "platform/UnitPlatformClock.h"
#include "storage/UnitKovaDat.h"
#include "storage/UnitKovaIniFile.h"
#include "support/UnitLogging.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <optional>
#include <thread>

namespace {

const TKovaGadgetDat& RequireGadgetDat(const char* location) {
    const TKovaGadgetDat* dat = GadgetDat();
    if (!dat) throw Exception(std::string(location) + ": the application data are not loaded");
    return *dat;
}

void FillCredentials(TAPICallBase& call, const TDatEbayAPI& api, const char* location) {
    call.DevName = api.APIDevID;
    call.AppName = api.APIAppID;
    call.CertName = api.APICertID;
    TIniFileManager* settings = IniFileManager();
    if (!settings) throw Exception(std::string(location) + ": the settings are not loaded");
    call.SetProxySettings(settings->GetProxySettings());
}

// An HTTP error answer arrives as an exception with the status already set from its code; a failure that
// left the status usable is still a failure.
TInternetStatus FailedStatus(TInternetStatus status) {
    return InternetStatusSucceeded(status) ? iyUnknown : status;
}

} // namespace

TEbayAccountLookup LookUpSignedInAccount(bool useOAuth, const std::string& token,
                                         const std::string& accessToken, const std::atomic<bool>* cancel) {
    try {
        const TKovaGadgetDat& dat = RequireGadgetDat("LookUpSignedInAccount");
        TIniFileManager* settings = IniFileManager();
        if (!settings) throw Exception("LookUpSignedInAccount: the settings are not loaded");
        if (useOAuth)
            return LookUpAccountWithIdentity(dat.SignIn().OAUTHIDENTITYURL, accessToken,
                                             settings->GetProxySettings(), cancel);
        TAPICallGetUser call(dat.EbayAPI().APIServerProduction);
        FillCredentials(call, dat.EbayAPI(), "LookUpSignedInAccount");
        call.Token = token;
        call.CompatibilityLevel = 527;
        call.SiteID = dat.EbayAPI().APISiteID;
        call.RetryCount = dat.EbayAPI().APICountRetryPostOnFail;
        call.Cancel = cancel;
        return LookUpAccountWithGetUser(call);
    } catch (const std::exception& e) {
        LogException(e, "LookUpSignedInAccount");
        TEbayAccountLookup failed;
        failed.FailureText = e.what();
        return failed;
    }
}

std::atomic<int> TThreadBase::FLiveCount{0};

TThreadBase::TThreadBase() {
    ++FLiveCount;
}

TThreadBase::~TThreadBase() {
    --FLiveCount;
}

int TThreadBase::LiveCount() {
    return FLiveCount.load();
}

// TThreadGetMyEbayWatchlist

TThreadGetMyEbayWatchlist::TThreadGetMyEbayWatchlist() : FItems(std::make_unique<TDetailsList>()) {
    // The manager learns the end through FOnFinished; the notification only lets the thread free itself.
    OnTerminate = [](TThread&) {};
}

TThreadGetMyEbayWatchlist::~TThreadGetMyEbayWatchlist() {
    TerminateAndWait();
}

std::unique_ptr<TDetailsList> TThreadGetMyEbayWatchlist::TakeItems() {
    auto items = std::move(FItems);
    FItems = std::make_unique<TDetailsList>();
    return items;
}

// One page's outcome as its call left it; the worker reads the answers in page order.
struct TThreadGetMyEbayWatchlist::TPageAnswer {
    TInternetStatus Status = iyOK;
    // Set when the call returned an answer.
    std::unique_ptr<TMemoryStream> Response;
    std::string FailureMessage;
    // Raised by the call; the worker logs it when it comes to the page, so that the log keeps page order.
    std::exception_ptr Error;
};

// Fetches the pages first to last on threads of their own, one thread per call, so that as many pages are
// on their way at once as there are calls; the worker takes the answers in page order.
class TThreadGetMyEbayWatchlist::TPageFetchers {
public:
    TPageFetchers(const TThreadGetMyEbayWatchlist& owner, const std::vector<TAPICallMyeBayBuying*>& calls,
                  int first, int last)
        : FOwner(owner), FNext(first), FLast(last) {
        try {
            for (TAPICallMyeBayBuying* call : calls)
                FThreads.emplace_back([this, call] { Run(*call); });
        } catch (...) {
            JoinAll();
            throw;
        }
    }
    ~TPageFetchers() { JoinAll(); }
    TPageFetchers(const TPageFetchers&) = delete;
    TPageFetchers& operator=(const TPageFetchers&) = delete;

    int Last() const {
        std::lock_guard guard(FLock);
        return FLast;
    }

    // The answer of a page up to Last, or nullopt as soon as canceled() says so.
    std::optional<TPageAnswer> Take(int page, const std::function<bool()>& canceled) {
        std::unique_lock lock(FLock);
        for (;;) {
            if (auto it = FAnswers.find(page); it != FAnswers.end()) {
                TPageAnswer answer = std::move(it->second);
                FAnswers.erase(it);
                return answer;
            }
            if (canceled()) return std::nullopt;
            // The cancel flag has no way to wake this wait: look at it often enough to stop well in time.
            FReady.wait_for(lock, std::chrono::milliseconds(50));
        }
    }

private:
    void Run(TAPICallMyeBayBuying& call) {
        for (;;) {
            int page = 0;
            {
                std::lock_guard guard(FLock);
                if (FNext > FLast || FOwner.FStopFetching) return;
                page = FNext++;
            }
            TPageAnswer answer = FOwner.FetchPage(call, page);
            {
                std::lock_guard guard(FLock);
                FAnswers.emplace(page, std::move(answer));
            }
            FReady.notify_all();
        }
    }
    void JoinAll() {
        {
            std::lock_guard guard(FLock);
            FLast = std::min(FLast, FNext - 1);
        }
        for (std::thread& thread : FThreads)
            thread.join();
        FThreads.clear();
    }

    const TThreadGetMyEbayWatchlist& FOwner;
    mutable std::mutex FLock;
    std::condition_variable FReady;
    int FNext;
    int FLast;
    std::map<int, TPageAnswer> FAnswers;
    std::vector<std::thread> FThreads;
};

bool TThreadGetMyEbayWatchlist::PrepareCall() {
    return PrepareCall(*FAPICall);
}

bool TThreadGetMyEbayWatchlist::PrepareCall(TAPICallMyeBayBuying& call) {
    try {
        const TDatEbayAPI& api = RequireGadgetDat("TThreadGetMyEbayWatchlist.PrepareCall").EbayAPI();
        FillCredentials(call, api, "TThreadGetMyEbayWatchlist.PrepareCall");
        if (FUseOAuth)
            call.OAuthToken = FOAuth.AccessToken;
        else
            call.Token = FToken;
        call.CompatibilityLevel = 527;
        call.SiteID = api.APISiteID;
        call.DurationInDays = 90;
        call.RetryCount = api.APICountRetryPostOnFail;
        return true;
    } catch (const std::exception& e) {
        LogException(e, "TThreadGetMyEbayWatchlist.PrepareCall");
        return false;
    }
}

TThreadGetMyEbayWatchlist::TPageAnswer TThreadGetMyEbayWatchlist::FetchPage(TAPICallMyeBayBuying& call,
                                                                            int page) const {
    TPageAnswer answer;
    call.WatchListPageNumber = page;
    try {
        if (TMemoryStream* response = call.GetMyeBayBuying(answer.Status, mblWatchList)) {
            answer.Response = std::make_unique<TMemoryStream>();
            answer.Response->ReplaceContent(response->Bytes());
        }
    } catch (...) {
        answer.Error = std::current_exception();
        answer.Status = FailedStatus(answer.Status);
    }
    answer.FailureMessage = call.FailureMessage();
    return answer;
}

std::vector<TAPICallMyeBayBuying*> TThreadGetMyEbayWatchlist::FetchingCalls(int count) {
    // Each extra call opens a connection of its own; the first page's call brings the one it has.
    while (static_cast<int>(FMoreCalls.size()) + 1 < count) {
        auto call = std::make_unique<TAPICallMyeBayBuying>(FAPICall->ServerURL());
        if (!PrepareCall(*call)) break;
        FMoreCalls.push_back(std::move(call));
    }
    std::vector<TAPICallMyeBayBuying*> calls{FAPICall.get()};
    for (const auto& call : FMoreCalls)
        if (static_cast<int>(calls.size()) < count) calls.push_back(call.get());
    for (TAPICallMyeBayBuying* call : calls)
        call->Cancel = &FStopFetching;
    return calls;
}

void TThreadGetMyEbayWatchlist::RequestPages() {
    FParseSucceeded = false;
    FItems->Clear();
    FRequestLoopStarted = true;
    FAPICall->Cancel = FCancel.get();
    // The outcome of a load with a failed page is that failure, even when later pages succeed: otherwise
    // the page would show an incomplete list as a complete one.
    TInternetStatus firstCallFailure = iyOK;
    std::string firstCallFailureText;
    bool parseFailed = false;
    TParserResultCode firstParseFailure = TParserResultCode::prNotEvaluated;
    std::string firstParseFailureText;
    bool incomplete = false;
    const auto canceled = [this] { return Terminated() || *FCancel; };
    // The first page tells the page count; the pages after it are fetched side by side and read in order.
    std::unique_ptr<TPageFetchers> fetchers;
    // Whatever ends the loop, pages still on their way are of no use any more: stop them before the
    // fetchers are joined.
    struct TStopFetching {
        std::atomic<bool>& Flag;
        ~TStopFetching() { Flag = true; }
    } stopFetching{FStopFetching};
    int page = 0;
    int pageCount = 1;
    while (page < pageCount) {
        if (canceled()) {
            FCanceled = true;
            break;
        }
        // The page count comes from the answer: a count past any real watch list must not drive the load.
        if (page == MaxPages) {
            Log(Format("The watch list announces %d pages; the load stops after %d", {pageCount, MaxPages}),
                lmkWarning);
            incomplete = true;
            break;
        }
        ++page;
        FPagesRequested = page;
        TPageAnswer answer;
        if (page == 1) {
            answer = FetchPage(*FAPICall, page);
        } else {
            if (!fetchers || page > fetchers->Last()) {
                // A later page may announce more pages than the first did; the fetchers of the earlier
                // count have delivered all they had to.
                fetchers.reset();
                const int last = std::min(pageCount, MaxPages);
                fetchers = std::make_unique<TPageFetchers>(
                    *this, FetchingCalls(std::min(MaxParallelPages, last - page + 1)), page, last);
            }
            std::optional<TPageAnswer> taken = fetchers->Take(page, canceled);
            if (!taken) {
                FCanceled = true;
                break;
            }
            answer = std::move(*taken);
        }
        if (answer.Error && !*FCancel) LogException(answer.Error, "TThreadGetMyEbayWatchlist.Execute");
        if (*FCancel) {
            FCanceled = true;
            break;
        }
        const TInternetStatus status = answer.Status;
        FCallSucceeded = InternetStatusSucceeded(status);
        if (FCallSucceeded) {
            const int before = FItems->Count();
            FParseSucceeded = FParser->ParseWatchList(answer.Response.get(), *FItems, true);
            FParserResult = FParser->GetResultCode();
            if (!FParseSucceeded && !parseFailed) {
                parseFailed = true;
                firstParseFailure = FParserResult;
                firstParseFailureText = FParser->ResultMessage();
                FApiErrorNumber = FParser->ErrorNumber();
            }
            // A page without items ends the list; only the first may be empty, later ones were announced.
            if (FParseSucceeded && FItems->Count() == before) {
                if (page > 1) {
                    Log(Format("Page %d of the watch list brought no items", {page}), lmkWarning);
                    incomplete = true;
                }
                break;
            }
        } else {
            FErrorCode = status;
            if (firstCallFailure == iyOK) {
                firstCallFailure = status;
                firstCallFailureText = answer.FailureMessage;
            }
        }
        pageCount = FParser->TotalNumberOfPages;
    }
    FStopFetching = true;
    fetchers.reset();
    if (firstCallFailure != iyOK) {
        FCallSucceeded = false;
        FErrorCode = firstCallFailure;
        FErrorText = firstCallFailureText;
    } else if (parseFailed) {
        FParseSucceeded = false;
        FParserResult = firstParseFailure;
        FErrorText = firstParseFailureText;
    } else if (incomplete) {
        FParseSucceeded = false;
        FParserResult = TParserResultCode::prDataParseFailed;
    }
    if (firstCallFailure == iyOK && !FParseSucceeded && FErrorText.empty())
        FErrorText = GetParserResultMessage(TParserResultCode::prDataParseFailed);
    FComplete = !FCanceled && FCallSucceeded && FParseSucceeded;
}

void TThreadGetMyEbayWatchlist::Execute() {
    if (Terminated()) return;
    try {
        const TKovaGadgetDat& dat = RequireGadgetDat("TThreadGetMyEbayWatchlist.Execute");
        FAPICall = std::make_unique<TAPICallMyeBayBuying>(dat.EbayAPI().APIServerProduction);
        FParser = std::make_unique<TXMLMyEbayWatchListParser>();
        FCallSucceeded = false;
        if ((!FUseOAuth || RenewAccessToken()) && PrepareCall()) {
            // The account is asked for beside the pages, so that the load takes no longer for it.
            std::thread lookup;
            if (FLookUpAccount)
                lookup = std::thread([this, accessToken = FOAuth.AccessToken] {
                    FAccountLookup = LookUpSignedInAccount(FUseOAuth, FToken, accessToken, FCancel.get());
                });
            struct TJoin {
                std::thread& Thread;
                ~TJoin() {
                    if (Thread.joinable()) Thread.join();
                }
            } join{lookup};
            RequestPages();
        }
    } catch (const std::exception& e) {
        LogException(e, "TThreadGetMyEbayWatchlist.Execute");
    }
    FMoreCalls.clear();
    FAPICall.reset();
    FParser.reset();
    // Without a single request the load has failed all the same, and the page must say so.
    if (!FRequestLoopStarted && FErrorCode == iyOK) FErrorCode = iyUnknown;
    try {
        if (FOnFinished) FOnFinished(*this);
    } catch (const std::exception& e) {
        LogException(e, "TThreadGetMyEbayWatchlist.Execute");
    }
    Terminate();
}

bool TThreadGetMyEbayWatchlist::RenewAccessToken() {
    if (!FOAuth.AccessTokenDue(NowUTC(), RenewMarginSeconds)) return true;
    // The pages after the first go out side by side: renewing here, before the first, renews once per load.
    const TKovaGadgetDat& dat = RequireGadgetDat("TThreadGetMyEbayWatchlist.RenewAccessToken");
    TOAuthTokenCall call(dat.SignIn().OAUTHTOKENURL, dat.EbayAPI().APIAppID, dat.EbayAPI().APICertID);
    TIniFileManager* settings = IniFileManager();
    if (!settings) throw Exception("TThreadGetMyEbayWatchlist.RenewAccessToken: the settings are not loaded");
    call.SetProxySettings(settings->GetProxySettings());
    call.Cancel = FCancel.get();
    // Access tokens carry the identity scope, so that the account can be asked for; a consent given before
    // the gadget asked for that scope renews with the scopes it gave.
    TOAuthTokenResult renewed = call.Refresh(FOAuth.RefreshToken, dat.SignIn().ConsentScopes());
    if (renewed.InvalidScope && !*FCancel)
        renewed = call.Refresh(FOAuth.RefreshToken, dat.SignIn().OAUTHSCOPES);
    if (renewed.Succeeded) {
        FOAuth.AccessToken = renewed.Tokens.AccessToken;
        FOAuth.AccessTokenExpires = renewed.Tokens.AccessTokenExpires;
        FOAuthRenewed = true;
        return true;
    }
    if (*FCancel) {
        FCanceled = true;
        return false;
    }
    FErrorCode = renewed.Status == iyOK ? iyUnknown : renewed.Status;
    FOAuthRevoked = renewed.InvalidGrant;
    if (renewed.InvalidGrant) {
        Log("The OAuth refresh token was refused (" + renewed.FailureText + "); the user must sign in again",
            lmkError);
        FOAuth = {};
        FErrorText = GetParserResultMessage(TParserResultCode::prTokenExpired);
    } else {
        FErrorText = renewed.FailureText;
    }
    return false;
}

// TThreadFetchOAuthTokens

void TThreadFetchOAuthTokens::Execute() {
    try {
        const TKovaGadgetDat& dat = RequireGadgetDat("TThreadFetchOAuthTokens.Execute");
        TIniFileManager* settings = IniFileManager();
        if (!settings) throw Exception("TThreadFetchOAuthTokens.Execute: the settings are not loaded");
        TOAuthTokenCall call(dat.SignIn().OAUTHTOKENURL, dat.EbayAPI().APIAppID, dat.EbayAPI().APICertID);
        call.SetProxySettings(settings->GetProxySettings());
        const TOAuthTokenResult result = call.ExchangeCode(FCode, FRuName);
        FCallSucceeded = result.Succeeded;
        FParseSucceeded = result.Succeeded;
        FErrorCode = result.Succeeded ? iyOK : result.Status == iyOK ? iyUnknown : result.Status;
        FErrorText = result.FailureText;
        FInvalidGrant = result.InvalidGrant;
        FTokens = result.Tokens;
        if (result.Succeeded) FAccountLookup = LookUpSignedInAccount(true, "", FTokens.AccessToken, nullptr);
    } catch (const std::exception& e) {
        LogException(e, "TThreadFetchOAuthTokens.Execute");
        FCallSucceeded = false;
        FErrorCode = iyUnknown;
        FErrorText = e.what();
    }
}

// TThreadFetchToken

TThreadFetchToken::TThreadFetchToken() = default;

TThreadFetchToken::~TThreadFetchToken() {
    TerminateAndWait();
}

bool TThreadFetchToken::PrepareCall() {
    try {
        const TDatEbayAPI& api = RequireGadgetDat("TThreadFetchToken.PrepareCall").EbayAPI();
        FillCredentials(*FAPICall, api, "TThreadFetchToken.PrepareCall");
        FAPICall->UserName = FUserName;
        FAPICall->CompatibilityLevel = 459;
        FAPICall->RetryCount = api.APICountRetryPostOnFail;
        return true;
    } catch (const std::exception& e) {
        LogException(e, "TThreadFetchToken.PrepareCall");
        return false;
    }
}

void TThreadFetchToken::Execute() {
    if (Terminated()) return;
    struct TFreeCall {
        TThreadFetchToken& Thread;
        ~TFreeCall() {
            Thread.FAPICall.reset();
            Thread.FParser.reset();
            Thread.Terminate();
        }
    } freeCall{*this};
    FAPICall = std::make_unique<TAPICallFetchToken>(
        RequireGadgetDat("TThreadFetchToken.Execute").EbayAPI().APIServerProduction);
    FParser = std::make_unique<TXMLeBayFetchTokenParser>();
    FCallSucceeded = false;
    if (!PrepareCall()) return;
    FParseSucceeded = false;
    TInternetStatus status = iyOK;
    TMemoryStream* response = nullptr;
    try {
        FAPICall->SessionID = FSessionID;
        response = FAPICall->FetchToken(FUserName, FSecretID, status);
    } catch (const std::exception& e) {
        LogException(e, "TThreadFetchToken.Execute");
        status = FailedStatus(status);
    }
    FCallSucceeded = InternetStatusSucceeded(status);
    if (FCallSucceeded) {
        FParseSucceeded = FParser->ParseToken(response, FToken);
        FParserResult = FParser->GetResultCode();
        // eBay's own text says why it gave no token; the wizard shows it.
        if (!FParseSucceeded) FErrorText = FParser->ResultMessage();
        if (FParseSucceeded) FAccountLookup = LookUpSignedInAccount(false, FToken, "", nullptr);
    } else {
        FErrorCode = status;
        FErrorText = FAPICall->FailureMessage();
    }
}

// TThreadGetSessionID

TThreadGetSessionID::TThreadGetSessionID() = default;

TThreadGetSessionID::~TThreadGetSessionID() {
    TerminateAndWait();
}

bool TThreadGetSessionID::PrepareCall() {
    try {
        const TDatEbayAPI& api = RequireGadgetDat("TThreadGetSessionID.PrepareCall").EbayAPI();
        FillCredentials(*FAPICall, api, "TThreadGetSessionID.PrepareCall");
        // The same level as FetchToken, whose flow this call begins.
        FAPICall->CompatibilityLevel = 459;
        FAPICall->RetryCount = api.APICountRetryPostOnFail;
        return true;
    } catch (const std::exception& e) {
        LogException(e, "TThreadGetSessionID.PrepareCall");
        return false;
    }
}

void TThreadGetSessionID::Execute() {
    if (Terminated()) return;
    struct TFreeCall {
        TThreadGetSessionID& Thread;
        ~TFreeCall() {
            Thread.FAPICall.reset();
            Thread.FParser.reset();
            Thread.Terminate();
        }
    } freeCall{*this};
    FCallSucceeded = false;
    try {
        FAPICall = std::make_unique<TAPICallGetSessionID>(
            RequireGadgetDat("TThreadGetSessionID.Execute").EbayAPI().APIServerProduction);
    } catch (const std::exception& e) {
        LogException(e, "TThreadGetSessionID.Execute");
        FErrorCode = iyUnknown;
        return;
    }
    FParser = std::make_unique<TXMLeBaySessionIDParser>();
    if (!PrepareCall()) {
        FErrorCode = iyUnknown;
        return;
    }
    FParseSucceeded = false;
    TInternetStatus status = iyOK;
    TMemoryStream* response = nullptr;
    try {
        response = FAPICall->GetSessionID(FRuName, status);
    } catch (const std::exception& e) {
        LogException(e, "TThreadGetSessionID.Execute");
        status = FailedStatus(status);
    }
    FCallSucceeded = InternetStatusSucceeded(status);
    if (FCallSucceeded) {
        FParseSucceeded = FParser->ParseSessionID(response, FSessionID);
        FParserResult = FParser->GetResultCode();
        if (!FParseSucceeded) FErrorText = FParser->ResultMessage();
    } else {
        FErrorCode = status;
        FErrorText = FAPICall->FailureMessage();
    }
}
