#pragma once
// The transport vocabulary of the client (outcomes, their user messages) and the small GET transport.

#include <array>
#include <cstdint>
#include <memory>
#include <string>

class TProxySettings;
class TCurlClient;

// The outcome of every network operation. Values below iyNon are usable answers.
enum TInternetStatus : uint8_t {
    iyOK,
    iyCreated,
    iyAccepted,
    iyNon,
    iyNoContent,
    iyResetContent,
    iyPartialContent,
    iyMovedPermanently,
    iyMovedTemporarily,
    iySeeOther,
    iyNotModified,
    iyUseProxy,
    iyBadRequest,
    iyUnauthorized,
    iyForbidden,
    iyNotFound,
    iyMethodNotAllowed,
    iyNotAcceptable,
    iyProxyAuthenticationRequired,
    iyRequestTimeout,
    iyConflict,
    iyGone,
    iyLengthRequired,
    iyPreconditionFailed,
    iyRequestEntityToLong,
    iyURITooLong,
    iyUnsupportedMediaType,
    iyInternalServerError,
    iyNotImplemented,
    iyBadGateway,
    iyServiceUnavailable,
    iyGatewayTimeout,
    iyHTTPNotSupported,
    iyProxy,
    iyUnknown,
    iyFailedTargetFileWrite
};

enum TDownloadState : uint8_t {
    dsNotStarted,
    dsStarted,
    dsSuccessful,
    dsFailedURLNotFound,
    dsFailedCanceled,
    dsFailedUnknownError,
    dsFailedTargetFileWrite
};

extern const std::array<const char*, 7> DownloadStateNames;
extern const std::array<const char*, 36> InternetStatusNames;

// The HTTP response code of the last exchange as an outcome; a code outside the table (also "no response")
// is iyUnknown.
TInternetStatus ResponseCodeToStatus(int responseCode);

// True for the outcomes callers may read an answer from.
inline bool InternetStatusSucceeded(TInternetStatus status) {
    return status < iyNon;
}

// The text the user sees for an outcome; empty for iyOK.
std::string InternetStatusMessage(TInternetStatus status);

// Receives the progress of a GET; optional.
class IInternetProgress {
public:
    virtual ~IInternetProgress() = default;
    virtual void SetMax(int64_t maximum) = 0;
    virtual void SetPosition(int64_t position) = 0;
    virtual void SetCaption(const std::string& caption) = 0;
};

// Fetches one URL into a text with GET; every call uses a client of its own, so nothing survives a call
// except the URL and the last error.
class TInternetIndy {
public:
    explicit TInternetIndy(IInternetProgress* progress = nullptr);
    virtual ~TInternetIndy();
    TInternetIndy(const TInternetIndy&) = delete;
    TInternetIndy& operator=(const TInternetIndy&) = delete;

    // Never raises for network or HTTP failures. On a failure text keeps what the caller passed in and
    // LastErrorClass/LastErrorMessage describe it.
    void GetURLText(const TProxySettings* proxySettings, const std::string& url, std::string& text,
                    TInternetStatus& status);

    const std::string& LastErrorClass() const { return FLastErrorClass; }
    const std::string& LastErrorMessage() const { return FLastErrorMessage; }
    const std::string& URL() const { return FURL; }
    const std::string& AcceptEncoding() const { return FAcceptEncoding; }
    void SetAcceptEncoding(const std::string& value) { FAcceptEncoding = value; }
    int ReadTimeout() const { return FReadTimeout; }
    void SetReadTimeout(int milliseconds) { FReadTimeout = milliseconds; }
    // Longest time a whole GET may take, in milliseconds (60000 unless changed); 0 or less sets no limit.
    int OverallTimeout() const { return FOverallTimeout; }
    void SetOverallTimeout(int milliseconds) { FOverallTimeout = milliseconds; }

protected:
    virtual std::unique_ptr<TCurlClient> CreateHTTPClient();
    virtual void FreeHTTPClient(std::unique_ptr<TCurlClient>& client);
    virtual void DisposeObject(std::unique_ptr<TCurlClient>& object);
    virtual void DoGet(TCurlClient& client, const std::string& url, std::string& response);

private:
    std::string FLastErrorClass;
    std::string FLastErrorMessage;
    IInternetProgress* FProgress;
    std::string FURL;
    std::string FAcceptEncoding;
    int FReadTimeout;
    int FOverallTimeout = 60000;
};

// Lets the time module's time request fetch its URL through TInternetIndy (the time module sits below the
// transport and takes the fetch as a function). Called once at start-up by the control.
void InstallTimeRequestFetcher();
