#include "ebayapi/UnitEbayAccountCalls.h"

#include "base/UnitUtils.h"
#include "ebayapi/UnitCurlSession.h"
#include "support/UnitLogging.h"

#include <nlohmann/json.hpp>

namespace {

const char* const SAccountMismatch = "This sign-in belongs to the eBay user %s, not %s.";
const char* const SLookupFailed = "eBay did not say whose sign-in this is: %s";
const char* const SNoAccount = "eBay's answer names no user.";
const char* const SNotHttps = "The identity address \"%s\" does not use https, so nothing was sent.";

std::string TextField(const nlohmann::json& answer, const char* field) {
    return answer.is_object() && answer.contains(field) && answer[field].is_string()
               ? Trim(answer[field].get<std::string>())
               : std::string();
}

TEbayAccountLookup Failed(const std::string& cause) {
    TEbayAccountLookup lookup;
    lookup.FailureText = Format(SLookupFailed, {cause});
    return lookup;
}

// eBay's REST errors: {"errors": [{"message": ...}]}; an OAuth gateway also answers {"error_description"}.
std::string RestErrorText(const std::string& body) {
    const nlohmann::json error = nlohmann::json::parse(body, nullptr, false);
    if (error.is_object() && error.contains("errors") && error["errors"].is_array() &&
        !error["errors"].empty()) {
        const std::string message = TextField(error["errors"][0], "message");
        if (!message.empty()) return message;
    }
    return TextField(error, "error_description");
}

} // namespace

bool AccountDiffers(const TEbayAccount& account, const std::string& userName) {
    return !account.Name.empty() && !SameText(account.Name, Trim(userName));
}

std::string AccountMismatchText(const TEbayAccount& account, const std::string& userName) {
    return Format(SAccountMismatch, {account.Name, Trim(userName)});
}

// TAPICallGetUser

void TAPICallGetUser::BuildHeaders() {
    TAPICallBase::BuildHeaders();
    FHeaderLines.push_back("X-EBAY-API-CALL-NAME=GetUser");
}

void TAPICallGetUser::BuildRequestBody(const std::string& requestName, const std::string& detailLevel) {
    TAPICallBase::BuildRequestBody(requestName, detailLevel);
    Write("</" + requestName + ">");
}

TMemoryStream* TAPICallGetUser::GetUser(TInternetStatus& status) {
    BuildRequestBody("GetUserRequest", "");
    BuildHeaders();
    return Execute(status) ? &Response() : nullptr;
}

// TXMLeBayGetUserParser

bool TXMLeBayGetUserParser::ParseUser(TStream* stream, TEbayAccount& account) {
    try {
        if (!stream) throw EXMLDomError("No response stream");
        if (!LoadResponse(*stream)) return false;
        const TXMLNode user = FRootNode.ChildNodes().FindNode("User");
        TEbayAccount read;
        if (user) {
            read.Name = Trim(ReadChildText(user, "UserID"));
            read.ID = Trim(ReadChildText(user, "EIASToken"));
        }
        if (read.Empty()) {
            StoreDataParseFailure();
            return false;
        }
        account = read;
        return true;
    } catch (const Exception&) {
        StoreDataParseFailure();
        return false;
    }
}

TEbayAccountLookup LookUpAccountWithGetUser(TAPICallGetUser& call) {
    TInternetStatus status = iyOK;
    TMemoryStream* response = nullptr;
    try {
        response = call.GetUser(status);
    } catch (const std::exception& e) {
        LogException(e, "LookUpAccountWithGetUser");
        return Failed(!call.FailureMessage().empty()    ? call.FailureMessage()
                      : InternetStatusSucceeded(status) ? std::string(e.what())
                                                        : InternetStatusMessage(status));
    }
    if (!response)
        return Failed(!call.FailureMessage().empty() ? call.FailureMessage() : InternetStatusMessage(status));
    TXMLeBayGetUserParser parser;
    TEbayAccountLookup lookup;
    if (!parser.ParseUser(response, lookup.Account)) {
        const std::string cause = parser.ResultMessage();
        return Failed(cause.empty() ? GetParserResultMessage(TParserResultCode::prDataParseFailed) : cause);
    }
    lookup.Succeeded = true;
    return lookup;
}

TEbayAccountLookup LookUpAccountWithIdentity(const std::string& identityURL, const std::string& accessToken,
                                             const TProxySettings& proxy, const std::atomic<bool>* cancel) {
    // The access token travels here: never in clear text.
    if (!StartsText("https://", identityURL)) {
        LogFmt("LookUpAccountWithIdentity: %s", {Format(SNotHttps, {identityURL})}, lmkError);
        return Failed(Format(SNotHttps, {identityURL}));
    }
    TCurlClient client;
    client.ReadTimeout = APICallReadTimeout();
    client.OverallTimeout = APICallOverallTimeout();
    client.Cancel = cancel;
    client.SetProxy(&proxy);
    client.AcceptCompressed = AsksForCompressedAnswers(identityURL);
    client.HeaderLines = {"Authorization: Bearer " + accessToken, "Accept: application/json"};
    std::string answer;
    try {
        client.Get(identityURL, answer);
    } catch (const EHTTPProtocolError& e) {
        const std::string text = RestErrorText(client.ErrorAnswer());
        LogFmt("LookUpAccountWithIdentity: %s", {text.empty() ? std::string(e.what()) : text}, lmkError);
        return Failed(text.empty() ? std::string(e.what()) : text);
    } catch (const std::exception& e) {
        LogException(e, "LookUpAccountWithIdentity");
        return Failed(e.what());
    }
    const nlohmann::json user = nlohmann::json::parse(answer, nullptr, false);
    TEbayAccountLookup lookup;
    lookup.Account.ID = TextField(user, "userId");
    lookup.Account.Name = TextField(user, "username");
    // For some applications eBay gives the immutable id in place of the name: then the name is not known.
    if (lookup.Account.Name == lookup.Account.ID) lookup.Account.Name.clear();
    if (lookup.Account.ID.empty()) return Failed(SNoAccount);
    lookup.Succeeded = true;
    return lookup;
}
