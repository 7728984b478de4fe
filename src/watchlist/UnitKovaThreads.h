#pragma once
// The worker threads of the Trading API calls: the watch list load, the token fetch and the sign-in session.

#include "ebayapi/UnitEbayAccountCalls.h"
#include "ebayapi/UnitInternet.h"
#include "ebayapi/UnitNewAPIXMLErrorParser.h"
#include "platform/UnitPlatformThread.h"
#include "storage/UnitOAuthTokens.h"

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class TAPICallMyeBayBuying;
class TAPICallFetchToken;
class TAPICallGetSessionID;
class TXMLMyEbayWatchListParser;
class TXMLeBayFetchTokenParser;
class TXMLeBaySessionIDParser;
class TDetailsList;

// Asks eBay whose sign-in a token is: the identity API for an OAuth access token, else GetUser with the
// design's token, with the application data's addresses and keys and the settings' proxy. Never raises.
TEbayAccountLookup LookUpSignedInAccount(bool useOAuth, const std::string& token,
                                         const std::string& accessToken, const std::atomic<bool>* cancel);

// A worker created suspended that holds the outcome its starter reads when it has finished.
class TThreadBase : public TThread {
public:
    TThreadBase();
    ~TThreadBase() override;

    // Worker threads alive in the process; a host waits for none to be left before it ends.
    static int LiveCount();

    bool FParseSucceeded = false;
    TInternetStatus FErrorCode = iyOK;
    bool FCallSucceeded = false;
    TParserResultCode FParserResult = TParserResultCode::prNotEvaluated;
    // The user's text for a failure whose cause InternetStatusMessage(FErrorCode) does not name, or for a
    // failed parse; empty when the status says it all.
    std::string FErrorText;
    // eBay's ErrorCode of that failed parse (518: the call limit is reached); 0 when none.
    int FApiErrorNumber = 0;

private:
    static std::atomic<int> FLiveCount;
};

// Loads every page of the user's watch list into a list of its own and hands it over at the end.
class TThreadGetMyEbayWatchlist : public TThreadBase {
public:
    using TFinishedEvent = std::function<void(TThreadGetMyEbayWatchlist& thread)>;

    TThreadGetMyEbayWatchlist();
    ~TThreadGetMyEbayWatchlist() override;

    // A load reads at most this many pages: a watch list holds a few hundred items, 100 to a page.
    static constexpr int MaxPages = 10;
    // After the first page has told the page count, this many pages at most are on their way at once.
    static constexpr int MaxParallelPages = 4;

    std::string FToken;
    // An OAuth login: FOAuth's access token goes with every call, renewed first when it ends within
    // RenewMarginSeconds. FOAuthRenewed or FOAuthRevoked then tell the starter what became of FOAuth.
    static constexpr int RenewMarginSeconds = 300;
    bool FUseOAuth = false;
    TOAuthTokens FOAuth;
    // What FOAuth held when the load started, for the starter to tell whether a newer sign-in came since.
    TOAuthTokens FOAuthAtStart;
    bool FOAuthRenewed = false;
    // eBay answered invalid_grant for the refresh token: the user must sign in again.
    bool FOAuthRevoked = false;
    // Asks eBay whose sign-in the token is, beside the pages; FAccountLookup holds the answer.
    bool FLookUpAccount = false;
    TEbayAccountLookup FAccountLookup;
    // Called on this thread as the last step of Execute, whatever happened.
    TFinishedEvent FOnFinished;
    // Set by the starter; when it turns true the load stops, aborting a running transfer.
    std::shared_ptr<std::atomic<bool>> FCancel = std::make_shared<std::atomic<bool>>(false);

    // Every page arrived and was read, and the last one said no more follow: only such a load may replace the
    // list the user has.
    bool Complete() const { return FComplete; }
    // The load was stopped through FCancel.
    bool Canceled() const { return FCanceled; }

    // True once the list was cleared for the first page: only then does the list describe this load.
    bool RequestLoopStarted() const { return FRequestLoopStarted; }
    int PagesRequested() const { return FPagesRequested; }
    // The items this load produced; the thread keeps an empty list.
    std::unique_ptr<TDetailsList> TakeItems();

protected:
    void Execute() override;
    bool PrepareCall();

private:
    struct TPageAnswer;
    // Renews a due access token once, before any page is asked for; false when the load cannot go on.
    bool RenewAccessToken();
    class TPageFetchers;
    void RequestPages();
    bool PrepareCall(TAPICallMyeBayBuying& call);
    TPageAnswer FetchPage(TAPICallMyeBayBuying& call, int page) const;
    // The calls of the pages after the first, made on first need; FAPICall is the first of them.
    std::vector<TAPICallMyeBayBuying*> FetchingCalls(int count);

    std::unique_ptr<TAPICallMyeBayBuying> FAPICall;
    std::vector<std::unique_ptr<TAPICallMyeBayBuying>> FMoreCalls;
    // Stops the transfers of the pages after the first: the load was canceled or needs no more pages.
    std::atomic<bool> FStopFetching{false};
    std::unique_ptr<TXMLMyEbayWatchListParser> FParser;
    std::unique_ptr<TDetailsList> FItems;
    bool FRequestLoopStarted = false;
    int FPagesRequested = 0;
    bool FComplete = false;
    bool FCanceled = false;
};

// Collects the token after the user has signed in on eBay's page; the starter reads FToken in its
// end-of-thread notification.
class TThreadFetchToken : public TThreadBase {
public:
    TThreadFetchToken();
    ~TThreadFetchToken() override;

    std::string FUserName;
    std::string FToken;
    std::string FSecretID;
    // Set when the sign-in ran in a session that GetSessionID handed out; it then replaces the secret id.
    std::string FSessionID;
    // After a token came: whose it is (GetUser).
    TEbayAccountLookup FAccountLookup;

protected:
    void Execute() override;
    bool PrepareCall();

private:
    std::unique_ptr<TAPICallFetchToken> FAPICall;
    std::unique_ptr<TXMLeBayFetchTokenParser> FParser;
};

// Exchanges the code of an OAuth consent for the user's tokens; the starter reads FTokens, or FErrorText and
// FInvalidGrant, in its end-of-thread notification.
class TThreadFetchOAuthTokens : public TThreadBase {
public:
    std::string FCode;
    std::string FRuName;
    TOAuthTokens FTokens;
    // eBay answered invalid_grant: the code was used, has expired or belongs to another sign-in.
    bool FInvalidGrant = false;
    // After tokens came: whose they are (the identity API).
    TEbayAccountLookup FAccountLookup;

protected:
    void Execute() override;
};

// Asks eBay for a sign-in session id for the redirect name; the starter reads FSessionID in its
// end-of-thread notification.
class TThreadGetSessionID : public TThreadBase {
public:
    TThreadGetSessionID();
    ~TThreadGetSessionID() override;

    std::string FRuName;
    std::string FSessionID;

protected:
    void Execute() override;
    bool PrepareCall();

private:
    std::unique_ptr<TAPICallGetSessionID> FAPICall;
    std::unique_ptr<TXMLeBaySessionIDParser> FParser;
};
