#include "ebayapi/UnitKovaGadgetCalls.h"

#include "base/UnitUtils.h"
#include "ebayapi/UnitCurlSession.h"
#include "support/UnitLogging.h"

#include <arpa/inet.h>
#include <atomic>
#include <netinet/in.h>

const char* const NotHttpsMessage =
    "Internet error! The eBay API address does not use https, so the request was not sent.";

namespace {

std::atomic<int> GReadTimeoutMs{20000};
std::atomic<int> GOverallTimeoutMs{60000};
std::atomic<uint64_t> GTradingCallsAnswered{0};

// The token and the credentials travel in the body: they must never go out in clear text.
bool UsesHttps(const std::string& url) {
    constexpr std::string_view scheme = "https://";
    return url.size() > scheme.size() && StartsText(scheme, url);
}

} // namespace

bool AsksForCompressedAnswers(std::string_view url) {
    const size_t scheme = url.find("://");
    std::string_view host = scheme == std::string_view::npos ? url : url.substr(scheme + 3);
    host = host.substr(0, host.find_first_of("/?#"));
    if (const size_t at = host.rfind('@'); at != std::string_view::npos) host.remove_prefix(at + 1);
    if (host.starts_with('[')) {
        host = host.substr(1, host.find(']') - 1);
    } else {
        host = host.substr(0, host.find(':'));
    }
    const std::string name(host);
    if (SameText(name, "localhost")) return false;
    unsigned char address[16];
    if (inet_pton(AF_INET, name.c_str(), address) == 1) return address[0] != 127;
    if (inet_pton(AF_INET6, name.c_str(), address) == 1)
        return !IN6_IS_ADDR_LOOPBACK(reinterpret_cast<const in6_addr*>(address));
    return true;
}

void SetAPICallDeadlines(int readTimeoutMs, int overallTimeoutMs) {
    GReadTimeoutMs = readTimeoutMs;
    GOverallTimeoutMs = overallTimeoutMs;
}

int APICallReadTimeout() {
    return GReadTimeoutMs.load();
}

int APICallOverallTimeout() {
    return GOverallTimeoutMs.load();
}

TAPICallBase::TAPICallBase(std::string serverURL)
    : FResponse(std::make_unique<TMemoryStream>()), FServerURL(std::move(serverURL)),
      FProxySettings(std::make_unique<TProxySettings>()) {
}

TAPICallBase::~TAPICallBase() = default;

int TAPICallBase::GetReadTimeout() const {
    return GReadTimeoutMs.load();
}

int TAPICallBase::GetOverallTimeout() const {
    return GOverallTimeoutMs.load();
}

void TAPICallBase::SetProxySettings(const TProxySettings& proxySettings) {
    FProxySettings->Assign(&proxySettings);
}

void TAPICallBase::WriteElement(const char* name, const std::string& value) {
    FRequestText += '<';
    FRequestText += name;
    FRequestText += '>';
    FRequestText += XmlEscape(value);
    FRequestText += "</";
    FRequestText += name;
    FRequestText += '>';
}

void TAPICallBase::BuildHeaders() {
    FHeaderLines.clear();
    FHeaderLines.push_back("X-EBAY-API-COMPATIBILITY-LEVEL=" + IntToStr(CompatibilityLevel));
    FHeaderLines.push_back("X-EBAY-API-SESSION-CERTIFICATE=" + DevName + ";" + AppName + ";" + CertName);
    FHeaderLines.push_back("X-EBAY-API-DEV-NAME=" + DevName);
    FHeaderLines.push_back("X-EBAY-API-APP-NAME=" + AppName);
    FHeaderLines.push_back("X-EBAY-API-CERT-NAME=" + CertName);
    FHeaderLines.push_back("X-EBAY-API-SITEID=" + IntToStr(SiteID));
    if (!OAuthToken.empty()) FHeaderLines.push_back("X-EBAY-API-IAF-TOKEN=" + OAuthToken);
    // eBay's servers have always received this line as a header of its own; it is kept as sent.
    FHeaderLines.push_back("&Content-Type=text/xml");
}

void TAPICallBase::BuildRequestBody(const std::string& requestName, const std::string& detailLevel) {
    FRequestText.clear();
    Write("<?xml version=\"1.0\" encoding=\"UTF-8\" ?>");
    Write("<" + requestName + " xmlns=\"urn:ebay:apis:eBLBaseComponents\">");
    if (!Trim(detailLevel).empty()) WriteElement("DetailLevel", detailLevel);
    // The OAuth token travels in its header; eBay takes the call's user from it.
    if (!OAuthToken.empty()) return;
    Write("<RequesterCredentials>");
    if (!Token.empty()) {
        WriteElement("eBayAuthToken", Token);
    } else {
        WriteElement("Username", UserName);
        if (!Password.empty()) WriteElement("Password", Password);
    }
    Write("</RequesterCredentials>");
}

uint64_t TradingCallsAnswered() {
    return GTradingCallsAnswered.load(std::memory_order_relaxed);
}

bool TAPICallBase::Execute(TInternetStatus& status) {
    FAttempt = 0;
    FSucceeded = false;
    FPostErrorLog.clear();
    FFailureMessage.clear();
    FResponse->Clear();
    if (!UsesHttps(FServerURL)) {
        LogFmt("%s.Execute: the API address \"%s\" does not use https; nothing was sent",
               {ClassName(), FServerURL}, lmkError);
        FFailureMessage = NotHttpsMessage;
        status = iyUnknown;
        return false;
    }

    TCurlPostRequest request;
    request.URL = FServerURL;
    request.Body = FRequestText;
    request.HeaderLines = FHeaderLines;
    request.ContentType = "text/xml";
    request.ReadTimeout = GetReadTimeout();
    request.OverallTimeout = GetOverallTimeout();
    request.Cancel = Cancel;
    request.ProxySettings = FProxySettings.get();
    request.RetryCount = RetryCount;
    request.CallerClassName = ClassName();
    request.OnWork = OnWork;
    request.OnWorkBegin = OnWorkBegin;
    request.AcceptCompressed = AsksForCompressedAnswers(FServerURL);

    std::string& answer = FAnswer;
    TCurlPostResult result;
    try {
        if (!FClient) FClient = std::make_unique<TCurlClient>();
        result = CurlExecutePost(request, answer, FClient.get());
    } catch (const EHTTPClientError& e) {
        // A transfer canceled after a good status line is no usable answer either.
        status = ResponseCodeToStatus(static_cast<int>(e.ResponseCode));
        if (InternetStatusSucceeded(status)) status = iyUnknown;
        throw;
    }
    FAttempt = result.Attempts > 0 ? result.Attempts - 1 : 0;
    FPostErrorLog = result.PostErrorLog;
    FFailureMessage = result.FailureMessage;
    status = result.Status;
    // The core reports a completed post only through its answer: a body arrived, or a usable status that it
    // would have turned into iyUnknown after a failed attempt.
    FSucceeded = !answer.empty() || InternetStatusSucceeded(status);
    if (FSucceeded) GTradingCallsAnswered.fetch_add(1, std::memory_order_relaxed);
    if (result.Result) FResponse->ReplaceContent(answer);
    return result.Result;
}

// TAPICallMyeBayBuying

void TAPICallMyeBayBuying::BuildHeaders() {
    TAPICallBase::BuildHeaders();
    FHeaderLines.push_back("X-EBAY-API-CALL-NAME=GetMyeBayBuying");
}

void TAPICallMyeBayBuying::WriteList(const char* name, bool withDuration, int entriesPerPage,
                                     int pageNumber) {
    Write(std::string("<") + name + ">");
    if (withDuration) Write("<DurationInDays>" + IntToStr(DurationInDays) + "</DurationInDays>");
    Write("<Pagination>");
    Write("<EntriesPerPage>" + IntToStr(entriesPerPage) + "</EntriesPerPage>");
    Write("<PageNumber>" + IntToStr(pageNumber) + "</PageNumber>");
    Write("</Pagination>");
    Write(std::string("</") + name + ">");
}

void TAPICallMyeBayBuying::BuildRequestBody(const std::string& requestName, const std::string& detailLevel) {
    TAPICallBase::BuildRequestBody(requestName, detailLevel);
    Write("<FavoriteSearches><Include>0</Include></FavoriteSearches>");
    Write("<FavoriteSellers><Include>0</Include></FavoriteSellers>");
    if (Lists & mblLostList) WriteList("LostList", true, 200, LostListPageNumber);
    if (Lists & mblWonList) WriteList("WonList", true, 200, WonListPageNumber);
    if (Lists & mblBidList) WriteList("BidList", false, 200, BidListPageNumber);
    if (Lists & mblWatchList) WriteList("WatchList", false, 100, WatchListPageNumber);
    Write("</" + requestName + ">");
}

TMemoryStream* TAPICallMyeBayBuying::GetMyeBayBuying(TInternetStatus& status, TMyeBayBuyingLists lists) {
    Lists = lists;
    BuildRequestBody("GetMyeBayBuyingRequest", "ReturnAll");
    BuildHeaders();
    return Execute(status) ? &Response() : nullptr;
}

// TAPICallFetchToken

void TAPICallFetchToken::BuildHeaders() {
    TAPICallBase::BuildHeaders();
    FHeaderLines.push_back("X-EBAY-API-CALL-NAME=FetchToken");
}

void TAPICallFetchToken::BuildRequestBody(const std::string& requestName, const std::string& detailLevel) {
    if (!SessionID.empty()) {
        // A session of eBay's own names the user that signed in: no credentials of ours go with it.
        ClearRequestText();
        Write("<?xml version=\"1.0\" encoding=\"UTF-8\" ?>");
        Write("<" + requestName + " xmlns=\"urn:ebay:apis:eBLBaseComponents\">");
        WriteElement("SessionID", SessionID);
        Write("</" + requestName + ">");
        return;
    }
    TAPICallBase::BuildRequestBody(requestName, detailLevel);
    WriteElement("SecretID", SecretID);
    Write("</" + requestName + ">");
}

TMemoryStream* TAPICallFetchToken::FetchToken(const std::string& userName, const std::string& secretID,
                                              TInternetStatus& status) {
    FFetchUserName = userName;
    SecretID = secretID;
    BuildRequestBody("FetchTokenRequest", "");
    BuildHeaders();
    return Execute(status) ? &Response() : nullptr;
}

// TAPICallGetSessionID

void TAPICallGetSessionID::BuildHeaders() {
    TAPICallBase::BuildHeaders();
    FHeaderLines.push_back("X-EBAY-API-CALL-NAME=GetSessionID");
}

void TAPICallGetSessionID::BuildRequestBody(const std::string& requestName,
                                            const std::string& /*detailLevel*/) {
    ClearRequestText();
    Write("<?xml version=\"1.0\" encoding=\"UTF-8\" ?>");
    Write("<" + requestName + " xmlns=\"urn:ebay:apis:eBLBaseComponents\">");
    WriteElement("RuName", RuName);
    Write("</" + requestName + ">");
}

TMemoryStream* TAPICallGetSessionID::GetSessionID(const std::string& ruName, TInternetStatus& status) {
    RuName = ruName;
    BuildRequestBody("GetSessionIDRequest", "");
    BuildHeaders();
    return Execute(status) ? &Response() : nullptr;
}
