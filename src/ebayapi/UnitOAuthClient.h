#pragma once
// eBay's OAuth for a desktop program: the consent address, the code the user brings back from the landing
// page, and the token endpoint's two grants over the same transport, proxy and TLS rules as the API calls.

#include "ebayapi/UnitInternet.h"
#include "storage/UnitOAuthTokens.h"
#include "support/UnitProxySettings.h"

#include <atomic>
#include <string>

// The consent address: consentURL with client_id, redirect_uri (the RuName), response_type=code, the
// space-separated scopes and state, each escaped for a query.
std::string BuildOAuthConsentURL(const std::string& consentURL, const std::string& appID,
                                 const std::string& ruName, const std::string& scopes,
                                 const std::string& state);

// What the user pasted: the landing page's address (its query must carry code, and state when the
// wizard sent one) or a bare code. Returns the code; an empty one with why when there is none.
struct TPastedCode {
    std::string Code;
    std::string Error;
    // A code pasted without the address around it: no state tells which sign-in it came from.
    bool Bare = false;
};
TPastedCode ReadPastedOAuthCode(const std::string& pasted, const std::string& expectedState);

// One answer of the token endpoint.
struct TOAuthTokenResult {
    bool Succeeded = false;
    // eBay's "invalid_grant": the code or refresh token is used, expired or revoked.
    bool InvalidGrant = false;
    // eBay's "invalid_scope": a refresh asked for a scope the consent did not give.
    bool InvalidScope = false;
    TInternetStatus Status = iyUnknown;
    // The user's text for a failure: eBay's error_description (or error), else the transport's text.
    std::string FailureText;
    // On success: the access token with its end, and for a code the refresh token with its end; the ends
    // are computed from expires_in against NowUTC.
    TOAuthTokens Tokens;
};

// The token endpoint of the application data, called with the application's AppID and CertID (Basic).
class TOAuthTokenCall {
public:
    TOAuthTokenCall(std::string tokenURL, std::string appID, std::string certID);

    void SetProxySettings(const TProxySettings& proxySettings) { FProxy.Assign(&proxySettings); }
    // Set by another thread to stop a running request. Not owned.
    const std::atomic<bool>* Cancel = nullptr;

    // grant_type=authorization_code: posted once, as a code serves once.
    TOAuthTokenResult ExchangeCode(const std::string& code, const std::string& ruName);
    // grant_type=refresh_token: the answer carries a new access token; the refresh token stays.
    TOAuthTokenResult Refresh(const std::string& refreshToken, const std::string& scopes);

private:
    TOAuthTokenResult Post(const std::string& body, const char* caller);

    std::string FTokenURL, FAppID, FCertID;
    TProxySettings FProxy;
};
