#pragma once
// The Trading API calls of the gadget: request headers and XML bodies, and the HTTPS post with retries.

#include "ebayapi/UnitInternet.h"
#include "storage/UnitStream.h"
#include "support/UnitProxySettings.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class TCurlClient;

// The lists a GetMyeBayBuying call asks for, as one byte of flags.
using TMyeBayBuyingLists = uint8_t;
constexpr TMyeBayBuyingLists mblWatchList = 1;
constexpr TMyeBayBuyingLists mblBidList = 2;
constexpr TMyeBayBuyingLists mblWonList = 4;
constexpr TMyeBayBuyingLists mblLostList = 8;

// The deadlines every API call takes unless a subclass overrides them: the read time-out (20000 ms) and the
// overall one (60000 ms) in milliseconds. Process-wide, so that tests can keep fault runs short.
void SetAPICallDeadlines(int readTimeoutMs, int overallTimeoutMs);
int APICallReadTimeout();
int APICallOverallTimeout();

// Whether a call to the address asks for gzip answers: every server but one on this machine (localhost,
// 127.0.0.0/8, ::1), where compressing costs both ends more time than the bytes it saves.
bool AsksForCompressedAnswers(std::string_view url);

// Trading API calls this process has had answered since it started (any answer, eBay's errors included):
// eBay counts them against the application's daily call limit.
uint64_t TradingCallsAnswered();

// The user's text when the API address is not https and nothing was sent.
extern const char* const NotHttpsMessage;

// What both calls share: credentials, header lines, the XML envelope and the post with retries. One object
// serves one worker-thread run and is used by one thread at a time; its posts share one connection and ask
// for compressed answers.
class TAPICallBase {
public:
    explicit TAPICallBase(std::string serverURL);
    virtual ~TAPICallBase();
    TAPICallBase(const TAPICallBase&) = delete;
    TAPICallBase& operator=(const TAPICallBase&) = delete;

    // Copies all proxy fields into the call's own record.
    void SetProxySettings(const TProxySettings& proxySettings);
    const TProxySettings& ProxySettings() const { return *FProxySettings; }

    virtual int GetReadTimeout() const;
    // Longest time one post may take as a whole, in milliseconds.
    virtual int GetOverallTimeout() const;
    // Posts the request text with the header lines. True when a post completed with a body of at least one
    // byte; status then comes from the response code. A server URL that is not https sends nothing and
    // gives false, iyUnknown and NotHttpsMessage. Transport failures give false with the status (and
    // FailureMessage) of CurlExecutePost. An HTTP error answer (EHTTPProtocolError), a cancel
    // (EHTTPCanceledError) and other client failures are raised; status is set from the answer's code before
    // (iyUnknown when that code alone would pass for a usable answer).
    virtual bool Execute(TInternetStatus& status);
    // Writes the envelope up to and including the credentials block; every inserted value is XML-escaped.
    virtual void BuildRequestBody(const std::string& requestName, const std::string& detailLevel);
    virtual void BuildHeaders();
    // The class name the post error log shows.
    virtual const char* ClassName() const { return "TAPICallBase"; }

    std::string UserName;
    // Sent only when not empty.
    std::string Password;
    // When not empty it replaces user name and password.
    std::string Token;
    // An OAuth user access token: when not empty it goes in the header X-EBAY-API-IAF-TOKEN and the body
    // carries no credentials.
    std::string OAuthToken;
    int SiteID = 77;
    std::string CertName;
    std::string AppName;
    std::string DevName;
    int CompatibilityLevel = 0;
    // Maximum number of post attempts; below 1 means one.
    int RetryCount = 0;
    // Progress of the answer; unset by the program's own callers.
    std::function<void(int64_t count)> OnWork;
    std::function<void(int64_t total)> OnWorkBegin;
    // Set by another thread to stop a running Execute; see TCurlClient::Cancel. Not owned.
    const std::atomic<bool>* Cancel = nullptr;

    const std::string& ServerURL() const { return FServerURL; }
    const std::string& RequestText() const { return FRequestText; }
    const std::vector<std::string>& HeaderLines() const { return FHeaderLines; }
    // The body of the last Execute; owned by the call and overwritten by the next one.
    TMemoryStream& Response() { return *FResponse; }
    // 0-based number of the last attempt made.
    int Attempt() const { return FAttempt; }
    bool Succeeded() const { return FSucceeded; }
    // Entries "<class>.Post (<attempt>/<max>): <message>" of failed attempts, separated by " | ".
    const std::string& PostErrorLog() const { return FPostErrorLog; }
    // After a failed Execute: the user's text when the cause needs its own, empty when
    // InternetStatusMessage(status) fits.
    const std::string& FailureMessage() const { return FFailureMessage; }

protected:
    void Write(const std::string& piece) { FRequestText += piece; }
    void ClearRequestText() { FRequestText.clear(); }
    // "<name>value</name>" with the value XML-escaped.
    void WriteElement(const char* name, const std::string& value);

    std::vector<std::string> FHeaderLines;

private:
    std::string FRequestText;
    std::unique_ptr<TMemoryStream> FResponse;
    std::string FServerURL;
    std::unique_ptr<TProxySettings> FProxySettings;
    int FAttempt = 0;
    bool FSucceeded = false;
    std::string FPostErrorLog;
    std::string FFailureMessage;
    // Made at the first post and kept, so that the pages of a load travel over one connection.
    std::unique_ptr<TCurlClient> FClient;
    // The last answer's bytes; kept so that its memory serves the next post.
    std::string FAnswer;
};

// GetMyeBayBuying: one page of the lists asked for.
class TAPICallMyeBayBuying : public TAPICallBase {
public:
    using TAPICallBase::TAPICallBase;

    // The response stream when Execute returned true, otherwise nullptr.
    TMemoryStream* GetMyeBayBuying(TInternetStatus& status, TMyeBayBuyingLists lists);
    void BuildRequestBody(const std::string& requestName, const std::string& detailLevel) override;
    void BuildHeaders() override;
    const char* ClassName() const override { return "TAPICallMyeBayBuying"; }

    int DurationInDays = 0;
    int LostListPageNumber = 0;
    int WonListPageNumber = 0;
    int WatchListPageNumber = 0;
    int BidListPageNumber = 0;
    TMyeBayBuyingLists Lists = 0;

private:
    void WriteList(const char* name, bool withDuration, int entriesPerPage, int pageNumber);
};

// FetchToken: collects the token after the user has signed in with a secret id.
class TAPICallFetchToken : public TAPICallBase {
public:
    using TAPICallBase::TAPICallBase;

    // Sends userName as the request's user name; the response stream when Execute returned true.
    TMemoryStream* FetchToken(const std::string& userName, const std::string& secretID,
                              TInternetStatus& status);
    void BuildRequestBody(const std::string& requestName, const std::string& detailLevel) override;
    void BuildHeaders() override;
    const char* ClassName() const override { return "TAPICallFetchToken"; }

    const std::string& FetchUserName() const { return FFetchUserName; }
    std::string SecretID;
    // A session id from GetSessionID; when set it is sent instead of the secret id and the user name, as
    // eBay's sign-in with a session of its own expects.
    std::string SessionID;

private:
    std::string FFetchUserName;
};

// GetSessionID: eBay hands out the id of a sign-in session for the application's redirect name.
class TAPICallGetSessionID : public TAPICallBase {
public:
    using TAPICallBase::TAPICallBase;

    // The response stream when Execute returned true.
    TMemoryStream* GetSessionID(const std::string& ruName, TInternetStatus& status);
    // The call carries no user credentials: the application keys in the headers identify it.
    void BuildRequestBody(const std::string& requestName, const std::string& detailLevel) override;
    void BuildHeaders() override;
    const char* ClassName() const override { return "TAPICallGetSessionID"; }

    std::string RuName;
};
