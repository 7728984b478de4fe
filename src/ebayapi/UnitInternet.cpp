#include "ebayapi/UnitInternet.h"

#include "base/UnitExceptions.h"
#include "base/UnitUtils.h"
#include "ebayapi/UnitCurlSession.h"
#include "support/UnitProxySettings.h"
#include "time/UnitTimeUtils.h"

#include <utility>

namespace {

std::string FileNamePart(const std::string& url) {
    auto slash = url.find_last_of('/');
    return slash == std::string::npos ? url : url.substr(slash + 1);
}

} // namespace

TInternetIndy::TInternetIndy(IInternetProgress* progress) : FProgress(progress), FReadTimeout(20000) {
}

TInternetIndy::~TInternetIndy() = default;

std::unique_ptr<TCurlClient> TInternetIndy::CreateHTTPClient() {
    return std::make_unique<TCurlClient>();
}

void TInternetIndy::FreeHTTPClient(std::unique_ptr<TCurlClient>& client) {
    DisposeObject(client);
}

void TInternetIndy::DisposeObject(std::unique_ptr<TCurlClient>& object) {
    object.reset();
}

void TInternetIndy::DoGet(TCurlClient& client, const std::string& url, std::string& response) {
    FLastErrorClass.clear();
    FLastErrorMessage.clear();
    client.Get(url, response);
}

void TInternetIndy::GetURLText(const TProxySettings* proxySettings, const std::string& url, std::string& text,
                               TInternetStatus& status) {
    FURL = url;
    std::string response;
    std::unique_ptr<TCurlClient> client;
    bool completed = false;
    try {
        client = CreateHTTPClient();
        client->ReadTimeout = FReadTimeout;
        client->OverallTimeout = FOverallTimeout;
        client->AllowCookies = true;
        client->MaxRedirects = 5;
        client->AcceptEncoding = Trim(FAcceptEncoding);
        client->SetProxy(proxySettings);
        if (FProgress) {
            client->OnWorkBegin = [this, url](int64_t total) {
                FProgress->SetMax(total);
                FProgress->SetCaption(FileNamePart(url));
            };
            client->OnWork = [this](int64_t count) { FProgress->SetPosition(count); };
            client->OnWorkEnd = [this] { FProgress->SetPosition(100); };
        }
        client->ContentType = "text/xml";
        DoGet(*client, url, response);
        completed = true;
    } catch (const std::exception& e) {
        FLastErrorMessage = Trim(e.what());
        FLastErrorClass = ExceptionClassName(e);
    } catch (...) {
        FLastErrorMessage = "Unknown failure";
        FLastErrorClass = "Exception";
    }
    status = ResponseCodeToStatus(client ? static_cast<int>(client->ResponseCode()) : -1);
    if (completed) {
        text = std::move(response);
    } else if (InternetStatusSucceeded(status)) {
        // The answer began well but broke off (time-out, lost connection): that is no usable answer.
        status = iyUnknown;
    }
    if (client) FreeHTTPClient(client);
}

void InstallTimeRequestFetcher() {
    SetTimeRequestFetcher([](const TProxySettings* proxy, const std::string& url, std::string& text,
                             TTimeRequestStatus& status) {
        TInternetIndy indy;
        TInternetStatus result = iyUnknown;
        indy.GetURLText(proxy, url, text, result);
        status = static_cast<TTimeRequestStatus>(result);
    });
}
