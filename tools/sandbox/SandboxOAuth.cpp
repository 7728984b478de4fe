#include "SandboxOAuth.h"

#include "base/UnitUtils.h"
#include "platform/UnitPlatformClock.h"

#include <cctype>
#include <httplib.h>
#include <openssl/rand.h>
#include <optional>
#include <set>
#include <sstream>
#include <stdexcept>

namespace {

const char* const TokenType = "User Access Token";
// What the gadget's consent asks for: the API and, to tell whose sign-in it is, the identity.
const char* const DefaultScopes =
    "https://api.ebay.com/oauth/api_scope https://api.ebay.com/oauth/api_scope/commerce.identity.readonly";

std::string FormValue(const std::multimap<std::string, std::string>& form, const std::string& name) {
    auto it = form.find(name);
    return it == form.end() ? std::string() : it->second;
}

std::set<std::string> ScopeSet(const std::string& scopes) {
    std::set<std::string> set;
    std::istringstream words(scopes);
    for (std::string word; words >> word;)
        set.insert(word);
    return set;
}

TSandboxOAuth::TTokenAnswer Error(int status, const char* error, const std::string& description) {
    return {status, {{"error", error}, {"error_description", description}}, false};
}

std::string Page(const std::string& title, const std::string& content) {
    return "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\"><title>" + HtmlEscape(title) +
           "</title></head>\n<body style=\"font-family:sans-serif;max-width:32em;margin:3em auto\">\n<h1>" +
           HtmlEscape(title) + "</h1>\n" + content + "\n</body></html>\n";
}

std::string Hidden(const char* name, const std::string& value) {
    return std::string("<input type=\"hidden\" name=\"") + name + "\" value=\"" + HtmlEscape(value) + "\">\n";
}

std::string ConsentForm(const httplib::Request& req, const std::string& message) {
    std::string content;
    if (!message.empty())
        content += "<p class=\"error\" style=\"color:#b00\">" + HtmlEscape(message) + "</p>\n";
    content += "<p>Sign in to grant the application <b>" + HtmlEscape(req.get_param_value("redirect_uri")) +
               "</b> access to your eBay account (scopes: " + HtmlEscape(req.get_param_value("scope")) +
               ").</p>\n<form method=\"post\" action=\"/oauth2/authorize\">\n";
    for (const char* name : {"client_id", "redirect_uri", "response_type", "scope", "state"})
        content += Hidden(name, req.get_param_value(name));
    content += "<p><label for=\"username\">User ID</label><br>"
               "<input type=\"text\" id=\"username\" name=\"username\" autofocus></p>\n"
               "<p><button type=\"submit\" name=\"agree\" value=\"1\">I agree</button></p>\n</form>";
    return Page("Sign in", content);
}

void SendJson(httplib::Response& res, int status, const nlohmann::json& value) {
    res.status = status;
    res.set_content(value.dump(2, ' ', false, nlohmann::json::error_handler_t::replace), "application/json");
}

std::optional<nlohmann::json> ReadJsonObject(const httplib::Request& req, httplib::Response& res) {
    nlohmann::json value = nlohmann::json::parse(req.body, nullptr, false);
    if (value.is_discarded() || !value.is_object()) {
        SendJson(res, 400, {{"error", "the body must be a JSON object"}});
        return std::nullopt;
    }
    return value;
}

} // namespace

TSandboxOAuthFault ParseSandboxOAuthFault(const nlohmann::json& value) {
    TSandboxOAuthFault fault;
    if (!value.contains("kind") || !value["kind"].is_string())
        throw std::invalid_argument("\"kind\" must be invalid_grant, status or drop");
    fault.Kind = value["kind"].get<std::string>();
    if (fault.Kind != "invalid_grant" && fault.Kind != "status" && fault.Kind != "drop")
        throw std::invalid_argument("\"kind\" must be invalid_grant, status or drop");
    if (value.contains("grant")) {
        if (!value["grant"].is_string()) throw std::invalid_argument("\"grant\" must be a string");
        fault.Grant = value["grant"].get<std::string>();
        if (!fault.Grant.empty() && fault.Grant != "authorization_code" && fault.Grant != "refresh_token")
            throw std::invalid_argument("\"grant\" must be authorization_code or refresh_token");
    }
    const auto number = [&value](const char* name, int low, int high, int fallback) {
        if (!value.contains(name)) return fallback;
        if (!value[name].is_number_integer() || value[name].get<int>() < low || value[name].get<int>() > high)
            throw std::invalid_argument(std::string("\"") + name + "\" must be a number from " +
                                        std::to_string(low) + " to " + std::to_string(high));
        return value[name].get<int>();
    };
    fault.Status = number("status", 100, 599, 500);
    fault.Times = number("times", 1, 1000000, 1);
    return fault;
}

TSandboxOAuth::TSandboxOAuth(std::string appID, std::string certID, std::string ruName,
                             std::function<bool(const std::string&)> hasAccount)
    : FAppID(std::move(appID)), FCertID(std::move(certID)), FRuName(std::move(ruName)),
      FHasAccount(std::move(hasAccount)) {
}

int64_t TSandboxOAuth::NowSeconds() const {
    return static_cast<int64_t>(GetTickCount64() / 1000) + FAdvance;
}

std::string TSandboxOAuth::NewText(const char* prefix) {
    unsigned char random[24];
    if (RAND_bytes(random, sizeof random) != 1) throw std::runtime_error("no random bytes");
    std::string text = Base64Encode(std::string(reinterpret_cast<char*>(random), sizeof random));
    for (char& c : text)
        if (c == '/') c = '_';
    return prefix + text;
}

std::string TSandboxOAuth::ConsentRequestError(const std::string& clientID, const std::string& redirectURI,
                                               const std::string& responseType) const {
    if (clientID != FAppID) return "The client_id \"" + clientID + "\" is not known.";
    if (redirectURI != FRuName)
        return "The redirect_uri \"" + redirectURI + "\" is not this application's RuName.";
    if (responseType != "code") return "The response_type must be \"code\".";
    return "";
}

std::string TSandboxOAuth::IssueCode(const std::string& userName, const std::string& scopes) {
    if (Trim(userName).empty() || !FHasAccount(userName)) return "";
    // eBay's codes start like this one and carry '#' and '^', which the landing address escapes.
    const std::string code = NewText("v^1.1#i^1#r^1#p^3#f^0#I^3#t^");
    std::lock_guard lock(FLock);
    FCodes[code] = {userName, scopes, NowSeconds() + CodeSeconds, false};
    return code;
}

std::optional<nlohmann::json> TSandboxOAuth::IssueTokens(const std::string& userName) {
    if (Trim(userName).empty() || !FHasAccount(userName)) return std::nullopt;
    std::lock_guard lock(FLock);
    return IssueTokens({userName, DefaultScopes, 0, false}, true).Body;
}

TSandboxOAuth::TTokenAnswer TSandboxOAuth::IssueTokens(const TGrant& grant, bool withRefreshToken) {
    const std::string access = NewText("v^1.1#i^1#f^0#p^3#r^0#I^3#t^H4sI");
    const int64_t now = NowSeconds();
    FAccessTokens[access] = {grant.UserName, grant.Scopes, now + FAccessTokenSeconds, false};
    nlohmann::json body = {
        {"access_token", access}, {"expires_in", FAccessTokenSeconds}, {"token_type", TokenType}};
    if (withRefreshToken) {
        const std::string refresh = NewText("v^1.1#i^1#r^1#I^3#f^0#p^3#t^Ul4x");
        FRefreshTokens[refresh] = {grant.UserName, grant.Scopes, now + RefreshTokenSeconds, false};
        body["refresh_token"] = refresh;
        body["refresh_token_expires_in"] = RefreshTokenSeconds;
    }
    return {200, body, false};
}

TSandboxOAuth::TTokenAnswer TSandboxOAuth::GrantAnswer(const std::string& grantType,
                                                       const std::multimap<std::string, std::string>& form) {
    const int64_t now = NowSeconds();
    if (grantType == "authorization_code") {
        auto it = FCodes.find(FormValue(form, "code"));
        if (FormValue(form, "redirect_uri") != FRuName)
            return Error(400, "invalid_grant",
                         "the redirect_uri does not match the one of the authorization");
        if (it == FCodes.end() || it->second.Used || it->second.Expires <= now) {
            // A code serves once: a second try, even a good one, ends it for good.
            if (it != FCodes.end()) it->second.Used = true;
            return Error(400, "invalid_grant",
                         "the provided authorization grant code is invalid or was issued to another client");
        }
        it->second.Used = true;
        return IssueTokens(it->second, true);
    }
    if (grantType == "refresh_token") {
        auto it = FRefreshTokens.find(FormValue(form, "refresh_token"));
        if (it == FRefreshTokens.end() || it->second.Expires <= now)
            return Error(
                400, "invalid_grant",
                "the provided authorization refresh token is invalid or was issued to another client");
        const std::set<std::string> granted = ScopeSet(it->second.Scopes);
        for (const std::string& scope : ScopeSet(FormValue(form, "scope")))
            if (!granted.contains(scope))
                return Error(
                    400, "invalid_scope",
                    "the requested scope is invalid, unknown, malformed, or exceeds the scope granted "
                    "to the client");
        return IssueTokens(it->second, false);
    }
    return Error(400, "unsupported_grant_type",
                 "grant type in request is not supported by the authorization server");
}

TSandboxOAuth::TTokenAnswer
TSandboxOAuth::AnswerTokenRequest(const std::string& authorization, const std::string& contentType,
                                  const std::multimap<std::string, std::string>& form) {
    const std::string grantType = FormValue(form, "grant_type");
    std::lock_guard lock(FLock);
    TTokenAnswer answer;
    auto fault = FFaults.begin();
    while (fault != FFaults.end() && !fault->Grant.empty() && fault->Grant != grantType)
        ++fault;
    if (fault != FFaults.end()) {
        if (fault->Kind == "drop")
            answer.Drop = true;
        else if (fault->Kind == "status")
            answer = {
                fault->Status, {{"error", "server_error"}, {"error_description", "sandbox fault"}}, false};
        else
            answer =
                Error(400, "invalid_grant", "the provided authorization grant is invalid (sandbox fault)");
        if (--fault->Times <= 0) FFaults.erase(fault);
    } else if (authorization != "Basic " + Base64Encode(FAppID + ":" + FCertID)) {
        answer = Error(401, "invalid_client", "client authentication failed");
    } else if (!StartsText("application/x-www-form-urlencoded", contentType)) {
        answer = Error(400, "invalid_request", "the request must be application/x-www-form-urlencoded");
    } else {
        answer = GrantAnswer(grantType, form);
    }
    FRequests.push_back({{"grant", grantType}, {"status", answer.Drop ? 0 : answer.Status}});
    return answer;
}

TSandboxOAuth::TAccessCheck TSandboxOAuth::CheckAccessToken(const std::string& token,
                                                            std::string& userName) const {
    std::lock_guard lock(FLock);
    auto it = FAccessTokens.find(Trim(token));
    if (it == FAccessTokens.end()) return TAccessCheck::Unknown;
    if (it->second.Expires <= NowSeconds()) return TAccessCheck::Expired;
    userName = it->second.UserName;
    return TAccessCheck::Valid;
}

bool TSandboxOAuth::AccessTokenHasScope(const std::string& token, const std::string& scope) const {
    std::lock_guard lock(FLock);
    auto it = FAccessTokens.find(Trim(token));
    return it != FAccessTokens.end() && ScopeSet(it->second.Scopes).contains(scope);
}

void TSandboxOAuth::AddFault(const TSandboxOAuthFault& fault) {
    std::lock_guard lock(FLock);
    FFaults.push_back(fault);
}

void TSandboxOAuth::Advance(int64_t seconds) {
    std::lock_guard lock(FLock);
    FAdvance += seconds;
}

nlohmann::json TSandboxOAuth::RequestLog() const {
    std::lock_guard lock(FLock);
    return {{"requests", FRequests}};
}

void TSandboxOAuth::Reset() {
    std::lock_guard lock(FLock);
    FAdvance = 0;
    FCodes.clear();
    FAccessTokens.clear();
    FRefreshTokens.clear();
    FFaults.clear();
    FRequests = nlohmann::json::array();
}

void RegisterSandboxOAuthRoutes(httplib::SSLServer& server, TSandboxOAuth& oauth,
                                std::function<void()> dropConnection) {
    server.Get("/oauth2/authorize", [&oauth](const httplib::Request& req, httplib::Response& res) {
        const std::string error =
            oauth.ConsentRequestError(req.get_param_value("client_id"), req.get_param_value("redirect_uri"),
                                      req.get_param_value("response_type"));
        if (!error.empty()) {
            res.status = 400;
            res.set_content(Page("Sign in", "<p class=\"error\">" + HtmlEscape(error) + "</p>"),
                            "text/html; charset=utf-8");
            return;
        }
        res.set_content(ConsentForm(req, ""), "text/html; charset=utf-8");
    });

    server.Post("/oauth2/authorize", [&oauth](const httplib::Request& req, httplib::Response& res) {
        const std::string error =
            oauth.ConsentRequestError(req.get_param_value("client_id"), req.get_param_value("redirect_uri"),
                                      req.get_param_value("response_type"));
        const std::string code = error.empty() ? oauth.IssueCode(Trim(req.get_param_value("username")),
                                                                 req.get_param_value("scope"))
                                               : "";
        if (code.empty()) {
            res.status = error.empty() ? 403 : 400;
            res.set_content(ConsentForm(req, error.empty()
                                                 ? "Your user ID is not known. Please check it and try again."
                                                 : error),
                            "text/html; charset=utf-8");
            return;
        }
        // eBay sends the browser to the page registered for the RuName; the sandbox's own stands in for it.
        res.set_redirect("/oauth2/accepted?state=" + QueryEncode(req.get_param_value("state")) + "&code=" +
                         QueryEncode(code) + "&expires_in=" + std::to_string(TSandboxOAuth::CodeSeconds - 1));
    });

    server.Get("/oauth2/accepted", [](const httplib::Request&, httplib::Response& res) {
        res.set_content(
            Page("Thank you",
                 "<p>You have agreed to grant access. Copy the address of this page into the gadget's "
                 "wizard, then close this window.</p>"),
            "text/html; charset=utf-8");
    });

    server.Post("/identity/v1/oauth2/token",
                [&oauth, dropConnection](const httplib::Request& req, httplib::Response& res) {
                    std::multimap<std::string, std::string> form(req.params.begin(), req.params.end());
                    const TSandboxOAuth::TTokenAnswer answer = oauth.AnswerTokenRequest(
                        req.get_header_value("Authorization"), req.get_header_value("Content-Type"), form);
                    if (answer.Drop) {
                        dropConnection();
                        res.set_header("Connection", "close");
                    }
                    SendJson(res, answer.Status, answer.Body);
                });

    server.Post("/sandbox/oauth/fault", [&oauth](const httplib::Request& req, httplib::Response& res) {
        auto body = ReadJsonObject(req, res);
        if (!body) return;
        try {
            oauth.AddFault(ParseSandboxOAuthFault(*body));
        } catch (const std::invalid_argument& e) {
            return SendJson(res, 400, {{"error", e.what()}});
        }
        SendJson(res, 200, {{"ok", true}});
    });

    server.Post("/sandbox/oauth/advance", [&oauth](const httplib::Request& req, httplib::Response& res) {
        auto body = ReadJsonObject(req, res);
        if (!body) return;
        if (!body->contains("seconds") || !(*body)["seconds"].is_number_integer() ||
            (*body)["seconds"].get<int64_t>() < 0)
            return SendJson(res, 400, {{"error", "\"seconds\" must be a number of 0 or more"}});
        oauth.Advance((*body)["seconds"].get<int64_t>());
        SendJson(res, 200, {{"ok", true}});
    });

    server.Post("/sandbox/oauth/tokens", [&oauth](const httplib::Request& req, httplib::Response& res) {
        auto body = ReadJsonObject(req, res);
        if (!body) return;
        const std::string userName = body->contains("username") && (*body)["username"].is_string()
                                         ? (*body)["username"].get<std::string>()
                                         : "";
        const std::optional<nlohmann::json> tokens = oauth.IssueTokens(userName);
        if (!tokens) return SendJson(res, 404, {{"error", "no account \"" + userName + "\""}});
        SendJson(res, 200, *tokens);
    });

    server.Get("/sandbox/oauth/requests", [&oauth](const httplib::Request&, httplib::Response& res) {
        SendJson(res, 200, oauth.RequestLog());
    });
}
