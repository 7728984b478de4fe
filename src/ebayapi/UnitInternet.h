#pragma once
// The small GET transport. The transport vocabulary (outcomes, their user messages) sits below the curl
// client in UnitInternetStatus, which this header brings along for the callers of both.

#include "ebayapi/UnitInternetStatus.h"

#include <cstdint>
#include <memory>
#include <string>

class TProxySettings;
class TCurlClient;

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
