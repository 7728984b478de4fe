#include "ebayapi/UnitOAuthClient.h"

#include "base/UnitUtils.h"
#include "ebayapi/UnitCurlSession.h"
#include "ebayapi/UnitKovaGadgetCalls.h"
#include "platform/UnitPlatformClock.h"
#include "support/UnitLogging.h"

#include <cctype>
#include <nlohmann/json.hpp>
#include <optional>

namespace {

const char* const SNoCode = "The pasted text holds no code: paste the whole address of the page eBay showed "
                            "after you agreed.";
const char* const SWrongState = "The pasted address belongs to another sign-in: start again with \"Retry\" "
                                "and paste the address of the page that sign-in leads to.";
const char* const SConsentRefused = "eBay did not give a code: %s";
const char* const SNotHttps = "The token address \"%s\" does not use https, so nothing was sent.";
const char* const SNoTokens = "The token answer of eBay could not be read.";

constexpr double SecondsPerDay = 86400.0;

// The decoded value of name in the query, or nullopt when the query lacks it.
std::optional<std::string> QueryParam(std::string_view query, std::string_view name) {
    while (!query.empty()) {
        const size_t end = query.find('&');
        const std::string_view pair = query.substr(0, end);
        const size_t equals = pair.find('=');
        if (pair.substr(0, equals) == name)
            return equals == std::string_view::npos ? std::string() : QueryDecode(pair.substr(equals + 1));
        if (end == std::string_view::npos) break;
        query.remove_prefix(end + 1);
    }
    return std::nullopt;
}

TDateTime EndAfter(const nlohmann::json& answer, const char* field) {
    if (!answer.contains(field) || !answer[field].is_number()) return 0;
    return NowUTC() + answer[field].get<double>() / SecondsPerDay;
}

std::string TextField(const nlohmann::json& answer, const char* field) {
    return answer.contains(field) && answer[field].is_string() ? answer[field].get<std::string>()
                                                               : std::string();
}

} // namespace

std::string BuildOAuthConsentURL(const std::string& consentURL, const std::string& appID,
                                 const std::string& ruName, const std::string& scopes,
                                 const std::string& state) {
    return consentURL + (consentURL.find('?') == std::string::npos ? "?" : "&") +
           "client_id=" + QueryEncode(appID) + "&redirect_uri=" + QueryEncode(ruName) +
           "&response_type=code&scope=" + QueryEncode(Trim(scopes)) + "&state=" + QueryEncode(state);
}

TPastedCode ReadPastedOAuthCode(const std::string& pasted, const std::string& expectedState) {
    const std::string text = Trim(pasted);
    if (text.empty()) return {"", SNoCode};
    const size_t question = text.find('?');
    // A bare code has no query; eBay's codes hold '#' and '^' but never '?', '=' or a blank.
    if (question == std::string::npos && text.find_first_of("=& ") == std::string::npos &&
        text.find("://") == std::string::npos)
        return {text, "", true};
    if (question == std::string::npos) return {"", SNoCode};
    std::string_view query = std::string_view(text).substr(question + 1);
    // eBay's codes hold '#', escaped in the address; one pasted unescaped still belongs to the code, so the
    // query is read to its end, never cut at a fragment.
    if (const std::optional<std::string> error = QueryParam(query, "error")) {
        const std::optional<std::string> description = QueryParam(query, "error_description");
        return {"", Format(SConsentRefused, {description && !description->empty() ? *description : *error})};
    }
    const std::optional<std::string> code = QueryParam(query, "code");
    if (!code || Trim(*code).empty()) return {"", SNoCode};
    if (!expectedState.empty() && QueryParam(query, "state").value_or("") != expectedState)
        return {"", SWrongState};
    return {Trim(*code), ""};
}

TOAuthTokenCall::TOAuthTokenCall(std::string tokenURL, std::string appID, std::string certID)
    : FTokenURL(std::move(tokenURL)), FAppID(std::move(appID)), FCertID(std::move(certID)) {
}

TOAuthTokenResult TOAuthTokenCall::ExchangeCode(const std::string& code, const std::string& ruName) {
    return Post("grant_type=authorization_code&code=" + QueryEncode(code) +
                    "&redirect_uri=" + QueryEncode(ruName),
                "TOAuthTokenCall.ExchangeCode");
}

TOAuthTokenResult TOAuthTokenCall::Refresh(const std::string& refreshToken, const std::string& scopes) {
    return Post("grant_type=refresh_token&refresh_token=" + QueryEncode(refreshToken) +
                    "&scope=" + QueryEncode(Trim(scopes)),
                "TOAuthTokenCall.Refresh");
}

TOAuthTokenResult TOAuthTokenCall::Post(const std::string& body, const char* caller) {
    TOAuthTokenResult result;
    // The application's CertID and the user's tokens travel here: never in clear text.
    if (!StartsText("https://", FTokenURL)) {
        result.FailureText = Format(SNotHttps, {FTokenURL});
        LogFmt("%s: %s", {caller, result.FailureText}, lmkError);
        return result;
    }
    TCurlPostRequest request;
    request.URL = FTokenURL;
    request.Body = body;
    request.HeaderLines = {"Authorization=Basic " + Base64Encode(FAppID + ":" + FCertID),
                           "Accept=application/json"};
    request.ContentType = "application/x-www-form-urlencoded";
    request.ReadTimeout = APICallReadTimeout();
    request.OverallTimeout = APICallOverallTimeout();
    request.Cancel = Cancel;
    request.ProxySettings = &FProxy;
    // A code serves once: a second post of it could only fail.
    request.RetryCount = 1;
    request.CallerClassName = "TOAuthTokenCall";

    TCurlClient client;
    std::string answer;
    try {
        const TCurlPostResult posted = CurlExecutePost(request, answer, &client);
        result.Status = posted.Status;
        if (!posted.Result) {
            result.FailureText =
                !posted.FailureMessage.empty() ? posted.FailureMessage : InternetStatusMessage(posted.Status);
            return result;
        }
    } catch (const EHTTPProtocolError& e) {
        // eBay says in the error answer's JSON what was wrong with the grant.
        result.Status = ResponseCodeToStatus(static_cast<int>(e.ResponseCode));
        if (InternetStatusSucceeded(result.Status)) result.Status = iyUnknown;
        const nlohmann::json error = nlohmann::json::parse(client.ErrorAnswer(), nullptr, false);
        const std::string code = error.is_object() ? TextField(error, "error") : std::string();
        const std::string description =
            error.is_object() ? TextField(error, "error_description") : std::string();
        result.InvalidGrant = code == "invalid_grant";
        result.InvalidScope = code == "invalid_scope";
        result.FailureText = !description.empty() ? description : !code.empty() ? code : e.what();
        LogFmt("%s: %s", {caller, result.FailureText}, lmkError);
        return result;
    } catch (const std::exception& e) {
        LogException(e, caller);
        result.FailureText = e.what();
        return result;
    }

    const nlohmann::json tokens = nlohmann::json::parse(answer, nullptr, false);
    if (!tokens.is_object() || TextField(tokens, "access_token").empty()) {
        result.FailureText = SNoTokens;
        LogFmt("%s: %s", {caller, result.FailureText}, lmkError);
        return result;
    }
    result.Tokens.AccessToken = TextField(tokens, "access_token");
    result.Tokens.AccessTokenExpires = EndAfter(tokens, "expires_in");
    result.Tokens.RefreshToken = TextField(tokens, "refresh_token");
    result.Tokens.RefreshTokenExpires = EndAfter(tokens, "refresh_token_expires_in");
    result.Succeeded = true;
    return result;
}
