#pragma once
// The one place where libcurl is set up: global initialisation, the TLS rules, the proxy rule, time-outs
// and the classification of failures that the transports turn into outcomes.

#include "base/UnitExceptions.h"
#include "ebayapi/UnitInternetStatus.h"
#include "support/UnitProxySettings.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// What went wrong in an exchange, as the callers must tell failures apart.
enum class THTTPFailureKind {
    HTTPError,           // the server answered with an error code (400 or above)
    Timeout,             // connect or read time-out
    Socket,              // no connection, host not found, connection lost
    Proxy,               // the proxy refused or failed the tunnel
    ProxyAuthentication, // the proxy wants (other) credentials for the tunnel
    TLSSetup,            // the TLS context could not be built (CA file unreadable, library failure)
    TLS,                 // handshake or certificate verification failed
    Canceled,            // the caller's cancel flag stopped the exchange
    Other
};

// A failure of the HTTP client; the subclasses carry the kind in their class name for the logs.
class EHTTPClientError : public Exception {
public:
    EHTTPClientError(std::string message, THTTPFailureKind kind, int curlCode, long responseCode)
        : Exception(std::move(message)), Kind(kind), CurlCode(curlCode), ResponseCode(responseCode) {}
    const char* ClassName() const noexcept override { return "EHTTPClientError"; }
    THTTPFailureKind Kind;
    int CurlCode;
    // The response code of the exchange, -1 when there was no answer.
    long ResponseCode;
};
KOVA_DECLARE_EXCEPTION(EHTTPProtocolError, EHTTPClientError);
KOVA_DECLARE_EXCEPTION(EHTTPTimeoutError, EHTTPClientError);
KOVA_DECLARE_EXCEPTION(EHTTPSocketError, EHTTPClientError);
KOVA_DECLARE_EXCEPTION(EHTTPProxyError, EHTTPClientError);
KOVA_DECLARE_EXCEPTION(EHTTPProxyAuthenticationError, EHTTPClientError);
KOVA_DECLARE_EXCEPTION(ETLSSetupError, EHTTPClientError);
KOVA_DECLARE_EXCEPTION(ETLSError, EHTTPClientError);
KOVA_DECLARE_EXCEPTION(EHTTPCanceledError, EHTTPClientError);

// Initialises libcurl once per process; safe from any thread.
void CurlGlobalInit();

// One HTTP client: an easy handle with its options. Cookies, when allowed, live as long as the client, and
// so does its connection: the next exchange with the same server reuses it (and its TLS session), and one
// that the server has closed meanwhile is opened again without a word.
// TLS always requires 1.2 or newer and verifies certificate and host name against the system's store plus
// the PEM file named by KOVA_EXTRA_CA_FILE; nothing here can turn verification off.
class TCurlClient {
public:
    TCurlClient();
    ~TCurlClient();
    TCurlClient(const TCurlClient&) = delete;
    TCurlClient& operator=(const TCurlClient&) = delete;

    // Longest wait for the connection or for the next byte, in milliseconds.
    int ReadTimeout = 20000;
    // Longest time a whole exchange may take, in milliseconds; 0 or less sets no limit. The read time-out
    // alone lets a server that sends a byte now and then hold an exchange open for ever.
    int OverallTimeout = 60000;
    // When set and true (also when it turns true during an exchange), the exchange sends nothing more and
    // ends within 200 ms with EHTTPCanceledError. Not owned; another thread sets it to stop a transfer.
    const std::atomic<bool>* Cancel = nullptr;
    // 0 follows no redirect.
    int MaxRedirects = 0;
    bool AllowCookies = false;
    std::string ContentType;
    // Sent as the Accept-Encoding header when not blank; the body is not decoded.
    std::string AcceptEncoding;
    // Asks for a gzip answer and hands out the decoded body; takes the place of AcceptEncoding.
    bool AcceptCompressed = false;
    // Extra request header lines "Name: value"; a line without a value goes out as an empty header.
    std::vector<std::string> HeaderLines;

    // The proxy is used only when UsesProxy is set; credentials go out (Basic) only when
    // NeedsAuthentication is set as well. nullptr means no proxy. The values are copied.
    void SetProxy(const TProxySettings* proxySettings);

    // Progress: the announced total, the bytes received so far, the end of the exchange.
    std::function<void(int64_t total)> OnWorkBegin;
    std::function<void(int64_t count)> OnWork;
    std::function<void()> OnWorkEnd;

    // Both raise an EHTTPClientError subclass on failure, EHTTPProtocolError for an answer of 400 or above;
    // response is changed only when the exchange succeeded.
    void Get(const std::string& url, std::string& response);
    void Post(const std::string& url, const std::string& body, std::string& response);

    // The response code of the last exchange, -1 when there was none.
    long ResponseCode() const { return FResponseCode; }
    // The body of the last exchange when it ended with an answer of 400 or above (EHTTPProtocolError), for
    // servers that say in it what went wrong.
    const std::string& ErrorAnswer() const { return FBuffer; }

private:
    struct TTransfer;
    void Perform(const std::string& url, const std::string* body, std::string& response);
    void ApplyOptions(TTransfer& transfer, const std::string& url, const std::string* body);
    [[noreturn]] void RaiseFailure(int curlCode, const std::string& detail);

    void* FEasy;
    void* FMulti;
    bool FUsesProxy = false;
    TProxySettings FProxy;
    long FResponseCode = -1;
    std::string FStatusLine;
    std::string FBuffer;
};

// What a post with retries needs besides the client settings.
struct TCurlPostRequest {
    std::string URL;
    std::string Body;
    // "Name=value" lines; each goes out with its first "=" replaced by ": ".
    std::vector<std::string> HeaderLines;
    std::string ContentType = "text/xml";
    int ReadTimeout = 20000;
    int OverallTimeout = 60000;
    // See TCurlClient::Cancel; a canceled post is neither retried nor mapped to a status.
    const std::atomic<bool>* Cancel = nullptr;
    const TProxySettings* ProxySettings = nullptr;
    // Maximum number of attempts; below 1 means one.
    int RetryCount = 0;
    // Class name shown in the post error log.
    std::string CallerClassName;
    // Asks for a gzip answer; the response is the decoded body.
    bool AcceptCompressed = false;
    std::function<void(int64_t total)> OnWorkBegin;
    std::function<void(int64_t count)> OnWork;
};

struct TCurlPostResult {
    // A post completed and the answer holds at least one byte.
    bool Result = false;
    TInternetStatus Status = iyUnknown;
    // Entries of failed attempts, separated by " | ".
    std::string PostErrorLog;
    int Attempts = 0;
    // The user's text when the cause needs one of its own (a lost connection, a certificate or handshake
    // failure); empty when InternetStatusMessage(Status) fits.
    std::string FailureMessage;
};

extern const char* const ConnectionLostMessage;
extern const char* const CertificateFailureMessage;
extern const char* const SecureConnectionFailureMessage;

// The API post: follows no redirect; retries only a TLS set-up failure or a failure raised outside the HTTP
// client, logging each as "<class>.Post (<attempt>/<max>): <message>". A time-out ends it with
// iyRequestTimeout, refused proxy credentials with iyProxyAuthenticationRequired, a proxy failure with
// iyProxy. A socket failure gives iyProxy when a proxy is in use, otherwise iyUnknown (with
// ConnectionLostMessage when the connection broke after it was made); a failed TLS handshake gives
// iyUnknown with CertificateFailureMessage or SecureConnectionFailureMessage. Each of these is logged as an
// error "<class>.Post: <reason>". An HTTP error answer (EHTTPProtocolError), a cancel (EHTTPCanceledError)
// and any other client failure are raised to the caller. response is emptied first. A client given by the
// caller is set up from the request and keeps its connection for the caller's next post; without one the
// post makes a client of its own.
TCurlPostResult CurlExecutePost(const TCurlPostRequest& request, std::string& response,
                                TCurlClient* client = nullptr);
