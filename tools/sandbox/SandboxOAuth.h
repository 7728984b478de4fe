#pragma once
// eBay's OAuth sign-in as the sandbox plays it: the consent page, its landing page with the code, the token
// endpoint with both grants, user access tokens for the Trading API, and faults of the token endpoint.
// Every member may be called from any server thread.

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

namespace httplib {
class SSLServer;
}

// What a queued token endpoint fault does to the request it matches.
struct TSandboxOAuthFault {
    std::string Kind;  // "invalid_grant", "status" or "drop"
    std::string Grant; // "authorization_code", "refresh_token" or empty for either
    int Status = 500;
    int Times = 1;
};

// Reads a fault from the control endpoint's JSON; raises std::invalid_argument with the reason.
TSandboxOAuthFault ParseSandboxOAuthFault(const nlohmann::json& value);

class TSandboxOAuth {
public:
    // eBay's lives: a code about 5 minutes, an access token 2 hours, a refresh token 18 months.
    static constexpr int CodeSeconds = 300;
    static constexpr int DefaultAccessTokenSeconds = 7200;
    static constexpr int64_t RefreshTokenSeconds = 47304000;

    TSandboxOAuth(std::string appID, std::string certID, std::string ruName,
                  std::function<bool(const std::string& userName)> hasAccount);

    void SetAccessTokenSeconds(int seconds) { FAccessTokenSeconds = seconds; }

    // Why a consent request cannot be served (a wrong client id, redirect name or response type), or "".
    std::string ConsentRequestError(const std::string& clientID, const std::string& redirectURI,
                                    const std::string& responseType) const;
    // A new single-use code for the user and scopes, or "" without such an account.
    std::string IssueCode(const std::string& userName, const std::string& scopes);
    // The answer a code grant would give the user, without the consent; nullopt without such an account.
    std::optional<nlohmann::json> IssueTokens(const std::string& userName);

    // The token endpoint's answer: Drop closes the connection without one.
    struct TTokenAnswer {
        int Status = 200;
        nlohmann::json Body;
        bool Drop = false;
    };
    TTokenAnswer AnswerTokenRequest(const std::string& authorization, const std::string& contentType,
                                    const std::multimap<std::string, std::string>& form);

    enum class TAccessCheck { Valid, Expired, Unknown };
    // The user an access token of the Trading API's X-EBAY-API-IAF-TOKEN header belongs to.
    TAccessCheck CheckAccessToken(const std::string& token, std::string& userName) const;
    // Whether the consent behind a known access token gave the scope.
    bool AccessTokenHasScope(const std::string& token, const std::string& scope) const;

    void AddFault(const TSandboxOAuthFault& fault);
    // Moves the sandbox's OAuth clock on, so that codes and tokens age without waiting.
    void Advance(int64_t seconds);
    // {"requests": [{"grant", "status"}, ...]} of the token endpoint, oldest first.
    nlohmann::json RequestLog() const;
    // Forgets codes, tokens, faults, the clock's advance and the request log.
    void Reset();

private:
    struct TGrant {
        std::string UserName;
        std::string Scopes;
        int64_t Expires = 0; // on the OAuth clock, in seconds
        bool Used = false;
    };

    int64_t NowSeconds() const;
    static std::string NewText(const char* prefix);
    TTokenAnswer GrantAnswer(const std::string& grantType,
                             const std::multimap<std::string, std::string>& form);
    TTokenAnswer IssueTokens(const TGrant& grant, bool withRefreshToken);

    const std::string FAppID, FCertID, FRuName;
    const std::function<bool(const std::string&)> FHasAccount;
    int FAccessTokenSeconds = DefaultAccessTokenSeconds;
    mutable std::mutex FLock;
    int64_t FAdvance = 0;
    std::map<std::string, TGrant> FCodes, FAccessTokens, FRefreshTokens;
    std::vector<TSandboxOAuthFault> FFaults;
    nlohmann::json FRequests = nlohmann::json::array();
};

// The consent page (GET and POST /oauth2/authorize), the landing page (/oauth2/accepted), the token endpoint
// (POST /identity/v1/oauth2/token) and the control endpoints /sandbox/oauth/fault, /sandbox/oauth/advance,
// /sandbox/oauth/requests and /sandbox/oauth/tokens. dropConnection closes the current connection without an
// answer.
void RegisterSandboxOAuthRoutes(httplib::SSLServer& server, TSandboxOAuth& oauth,
                                std::function<void()> dropConnection);
