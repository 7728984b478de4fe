#include "support/SandboxProcess.h"

#include <gtest/gtest.h>
#include <httplib.h>
#include <nlohmann/json.hpp>
#include <openssl/evp.h>
#include <pugixml.hpp>

namespace {

std::string BasicAuth(const std::string& user, const std::string& password) {
    const std::string plain = user + ":" + password;
    std::string out(4 * ((plain.size() + 2) / 3) + 1, '\0');
    out.resize(EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                               reinterpret_cast<const unsigned char*>(plain.data()), plain.size()));
    return "Basic " + out;
}

// A client that trusts the sandbox's CA and nothing else, and follows no redirect.
class TOAuthClient {
public:
    explicit TOAuthClient(TSandboxProcess& sandbox) : FClient("127.0.0.1", sandbox.Port()) {
        FClient.set_ca_cert_path(sandbox.CAPath().c_str());
        FClient.enable_server_certificate_verification(true);
    }

    httplib::Result Consent(const httplib::Params& params) {
        return FClient.Get("/oauth2/authorize", params, httplib::Headers{});
    }

    // Signs in on the consent page and returns the landing address the browser is sent to.
    std::string Agree(const std::string& userName, const std::string& state,
                      const std::string& ruName = SandboxRuName, const std::string& scope = Scope) {
        auto res = FClient.Post("/oauth2/authorize", httplib::Params{{"client_id", SandboxAppID},
                                                                     {"redirect_uri", ruName},
                                                                     {"response_type", "code"},
                                                                     {"scope", scope},
                                                                     {"state", state},
                                                                     {"username", userName}});
        if (!res || res->status != 302) return "";
        return res->get_header_value("Location");
    }

    // The code of a landing address as the client hands it out: the library decodes a Location header.
    static std::string CodeOf(const std::string& landing) {
        const size_t at = landing.find("&code=");
        return landing.substr(at + 6, landing.rfind("&expires_in=") - at - 6);
    }

    httplib::Result Token(const std::string& body, const std::string& authorization = Auth()) {
        return FClient.Post("/identity/v1/oauth2/token", httplib::Headers{{"Authorization", authorization}},
                            body, "application/x-www-form-urlencoded");
    }

    httplib::Result CodeGrant(const std::string& code) {
        return Token("grant_type=authorization_code&code=" + httplib::detail::encode_query_param(code) +
                     "&redirect_uri=" + SandboxRuName);
    }

    httplib::Result RefreshGrant(const std::string& refreshToken, const std::string& scope = Scope) {
        return Token(
            "grant_type=refresh_token&refresh_token=" + httplib::detail::encode_query_param(refreshToken) +
            "&scope=" + httplib::detail::encode_query_param(scope));
    }

    static std::string Auth() { return BasicAuth(SandboxAppID, SandboxCertID); }
    static constexpr const char* Scope = "https://api.ebay.com/oauth/api_scope";

private:
    httplib::SSLClient FClient;
};

nlohmann::json Json(const httplib::Result& res) {
    return res ? nlohmann::json::parse(res->body, nullptr, false) : nlohmann::json();
}

// The error code of a Trading API answer for a watch list call with the access token in its header.
int WatchListWithAccessToken(TSandboxProcess& sandbox, const std::string& accessToken) {
    std::vector<std::string> headers = {"X-EBAY-API-COMPATIBILITY-LEVEL: 527",
                                        "X-EBAY-API-DEV-NAME: " + std::string(SandboxDevID),
                                        "X-EBAY-API-APP-NAME: " + std::string(SandboxAppID),
                                        "X-EBAY-API-CERT-NAME: " + std::string(SandboxCertID),
                                        "X-EBAY-API-SITEID: 77",
                                        "X-EBAY-API-CALL-NAME: GetMyeBayBuying",
                                        "Content-Type: text/xml"};
    if (!accessToken.empty()) headers.push_back("X-EBAY-API-IAF-TOKEN: " + accessToken);
    const THttpsReply reply = HttpsExchange(
        {sandbox.ApiUrl(), "POST",
         "<?xml version=\"1.0\" encoding=\"UTF-8\" ?><GetMyeBayBuyingRequest "
         "xmlns=\"urn:ebay:apis:eBLBaseComponents\"><WatchList><Pagination><PageNumber>1</PageNumber>"
         "</Pagination></WatchList></GetMyeBayBuyingRequest>",
         headers, sandbox.CAPath()});
    pugi::xml_document doc;
    EXPECT_TRUE(doc.load_string(reply.Body.c_str())) << reply.Body;
    return doc.document_element().first_element_by_path("Errors/ErrorCode").text().as_int(0);
}

} // namespace

TEST(SandboxOAuth, ConsentGivesASingleUseCodeForTokensThatServeTheTradingAPI) {
    TSandboxProcess sandbox({"demo:5"});
    TOAuthClient client(sandbox);

    struct TConsentCase {
        httplib::Params Params;
        int Status;
    } consents[] = {
        {{{"client_id", SandboxAppID}, {"redirect_uri", SandboxRuName}, {"response_type", "code"}}, 200},
        {{{"client_id", "other"}, {"redirect_uri", SandboxRuName}, {"response_type", "code"}}, 400},
        {{{"client_id", SandboxAppID}, {"redirect_uri", "other"}, {"response_type", "code"}}, 400},
        {{{"client_id", SandboxAppID}, {"redirect_uri", SandboxRuName}, {"response_type", "token"}}, 400},
    };
    for (const TConsentCase& c : consents) {
        auto res = client.Consent(c.Params);
        ASSERT_TRUE(res);
        EXPECT_EQ(res->status, c.Status) << res->body;
    }
    EXPECT_EQ(client.Agree("nobody", "s"), "") << "an unknown user gets the form again";

    const std::string landing = client.Agree("demo", "state 1&2");
    ASSERT_TRUE(landing.starts_with("/oauth2/accepted?state=state 1&2&code=v^1.1#")) << landing;
    EXPECT_TRUE(landing.ends_with("&expires_in=299")) << landing;
    const std::string code = TOAuthClient::CodeOf(landing);

    EXPECT_EQ(client.Token("grant_type=authorization_code&code=x", BasicAuth(SandboxAppID, "wrong"))->status,
              401);
    auto granted = client.CodeGrant(code);
    ASSERT_EQ(granted->status, 200) << granted->body;
    const nlohmann::json tokens = Json(granted);
    EXPECT_EQ(tokens["expires_in"], 7200);
    EXPECT_EQ(tokens["refresh_token_expires_in"], 47304000);
    EXPECT_EQ(tokens["token_type"], "User Access Token");
    const std::string access = tokens["access_token"], refresh = tokens["refresh_token"];
    EXPECT_EQ(WatchListWithAccessToken(sandbox, access), 0);

    auto reused = client.CodeGrant(code);
    EXPECT_EQ(reused->status, 400);
    EXPECT_EQ(Json(reused)["error"], "invalid_grant");

    auto renewed = client.RefreshGrant(refresh);
    ASSERT_EQ(renewed->status, 200) << renewed->body;
    EXPECT_FALSE(Json(renewed).contains("refresh_token"));
    EXPECT_EQ(WatchListWithAccessToken(sandbox, Json(renewed)["access_token"]), 0);
    EXPECT_EQ(
        Json(client.RefreshGrant(refresh, "https://api.ebay.com/oauth/api_scope/sell.account"))["error"],
        "invalid_scope");
    EXPECT_EQ(Json(client.RefreshGrant("unknown"))["error"], "invalid_grant");
    EXPECT_EQ(Json(client.Token("grant_type=password"))["error"], "unsupported_grant_type");

    // Neither token kind, an unknown access token and one past its end are refused as eBay refuses them.
    EXPECT_EQ(WatchListWithAccessToken(sandbox, ""), 931);
    EXPECT_EQ(WatchListWithAccessToken(sandbox, "v^1.1#unknown"), 931);
    const std::string late = TOAuthClient::CodeOf(client.Agree("demo", "s"));
    sandbox.Control("/sandbox/oauth/advance", {{"seconds", 7200}});
    EXPECT_EQ(WatchListWithAccessToken(sandbox, access), 932);
    EXPECT_EQ(Json(client.CodeGrant(late))["error"], "invalid_grant") << "a code lives five minutes";
    EXPECT_EQ(client.RefreshGrant(refresh)->status, 200) << "a refresh token lives 18 months";
}

TEST(SandboxOAuth, TokenEndpointFaultsAndShortAccessTokens) {
    TSandboxProcess sandbox({"demo:5"}, {"--access-token-seconds", "1"});
    TOAuthClient client(sandbox);
    auto granted = client.CodeGrant(TOAuthClient::CodeOf(client.Agree("demo", "s")));
    ASSERT_EQ(granted->status, 200);
    EXPECT_EQ(Json(granted)["expires_in"], 1);
    const std::string refresh = Json(granted)["refresh_token"];

    sandbox.Control("/sandbox/oauth/fault", {{"kind", "status"}, {"grant", "refresh_token"}, {"times", 2}});
    sandbox.Control("/sandbox/oauth/fault", {{"kind", "invalid_grant"}});
    sandbox.Control("/sandbox/oauth/fault", {{"kind", "drop"}});
    struct TCase {
        int Status; // 0: the connection closes without an answer
        const char* Error;
    } cases[] = {{500, "server_error"}, {500, "server_error"}, {400, "invalid_grant"}, {0, ""}, {200, ""}};
    for (const TCase& c : cases) {
        auto res = client.RefreshGrant(refresh);
        if (c.Status == 0) {
            EXPECT_FALSE(res && res->status == 200) << "a dropped request gets no answer";
            continue;
        }
        ASSERT_TRUE(res);
        EXPECT_EQ(res->status, c.Status) << res->body;
        if (*c.Error) {
            EXPECT_EQ(Json(res)["error"], c.Error);
        }
    }
    const nlohmann::json log = nlohmann::json::parse(
        HttpsExchange({sandbox.Url() + "/sandbox/oauth/requests", "GET", "", {}, sandbox.CAPath()}).Body);
    EXPECT_EQ(log["requests"].size(), 6u) << log.dump();

    EXPECT_THROW(sandbox.Control("/sandbox/oauth/fault", {{"kind", "other"}}), std::runtime_error);
    EXPECT_EQ(TSandboxProcess::RunExpectingFailure({"--state-dir", "/tmp", "--access-token-seconds", "0"}),
              2);
}

namespace {

// A Trading API answer as a document: GetUser or a watch list page, with the token in the body or, for an
// access token, in its header.
pugi::xml_document TradingAnswer(TSandboxProcess& sandbox, const std::string& call, const std::string& token,
                                 bool accessToken) {
    std::vector<std::string> headers = {"X-EBAY-API-COMPATIBILITY-LEVEL: 527",
                                        "X-EBAY-API-DEV-NAME: " + std::string(SandboxDevID),
                                        "X-EBAY-API-APP-NAME: " + std::string(SandboxAppID),
                                        "X-EBAY-API-CERT-NAME: " + std::string(SandboxCertID),
                                        "X-EBAY-API-SITEID: 77",
                                        "X-EBAY-API-CALL-NAME: " + call};
    if (accessToken) headers.push_back("X-EBAY-API-IAF-TOKEN: " + token);
    const std::string credentials = accessToken ? ""
                                                : "<RequesterCredentials><eBayAuthToken>" + token +
                                                      "</eBayAuthToken></RequesterCredentials>";
    const THttpsReply reply = HttpsExchange({sandbox.ApiUrl(), "POST",
                                             "<?xml version=\"1.0\"?><" + call +
                                                 "Request xmlns=\"urn:ebay:apis:eBLBaseComponents\">" +
                                                 credentials + "</" + call + "Request>",
                                             headers, sandbox.CAPath()});
    pugi::xml_document doc;
    EXPECT_TRUE(doc.load_string(reply.Body.c_str())) << reply.Body;
    return doc;
}

// The HighBidder values of the first watch list page.
std::vector<std::string> HighBidders(TSandboxProcess& sandbox, const std::string& token) {
    std::vector<std::string> bidders;
    const pugi::xml_document page = TradingAnswer(sandbox, "GetMyeBayBuying", token, false);
    for (const pugi::xpath_node& node : page.select_nodes("//HighBidder/UserID"))
        bidders.emplace_back(node.node().text().get());
    return bidders;
}

} // namespace

TEST(SandboxOAuth, EveryAccountHasAnImmutableIdThatGetUserTheIdentityAPIAndHighBiddersGive) {
    TSandboxProcess sandbox({"demo:5", "Kim:0"}, {"--high-bidder-ids", "on"});
    const nlohmann::json accounts = nlohmann::json::parse(
        HttpsExchange({sandbox.Url() + "/sandbox/accounts", "GET", "", {}, sandbox.CAPath()}).Body);
    ASSERT_EQ(accounts["accounts"].size(), 2u);
    EXPECT_EQ(accounts["accounts"][1]["username"], "Kim");
    EXPECT_EQ(accounts["highBidderIds"], true);
    const std::string demoId = sandbox.UserID("demo"), kimId = sandbox.UserID("Kim");
    EXPECT_NE(demoId, kimId);
    TSandboxProcess again(std::vector<std::string>{"demo:1"});
    EXPECT_EQ(again.UserID("demo"), demoId) << "the same on every run";

    // GetUser names the token's user: UserID its name, EIASToken its id, with either kind of token.
    TOAuthClient client(sandbox);
    const std::string withIdentity = "https://api.ebay.com/oauth/api_scope "
                                     "https://api.ebay.com/oauth/api_scope/commerce.identity.readonly";
    const std::string access = Json(client.CodeGrant(
        TOAuthClient::CodeOf(client.Agree("Kim", "s", SandboxRuName, withIdentity))))["access_token"];
    const std::string narrow =
        Json(client.CodeGrant(TOAuthClient::CodeOf(client.Agree("Kim", "s"))))["access_token"];
    for (const bool oauth : {false, true}) {
        const pugi::xml_document user =
            TradingAnswer(sandbox, "GetUser", oauth ? access : sandbox.Token("demo"), oauth);
        const pugi::xml_node node = user.document_element().child("User");
        EXPECT_EQ(std::string(node.child_value("UserID")), oauth ? "Kim" : "demo");
        EXPECT_EQ(std::string(node.child_value("EIASToken")), oauth ? kimId : demoId);
    }
    EXPECT_EQ(TradingAnswer(sandbox, "GetUser", "unknown", false)
                  .document_element()
                  .first_element_by_path("Errors/ErrorCode")
                  .text()
                  .as_int(),
              931);

    // The identity API wants its scope in the access token, as eBay does.
    struct TCase {
        std::string Authorization;
        int Status;
    } cases[] = {
        {"Bearer " + access, 200}, {"Bearer " + narrow, 403}, {"Bearer v^1.1#unknown", 401}, {"", 401}};
    for (const TCase& c : cases) {
        std::vector<std::string> headers;
        if (!c.Authorization.empty()) headers.push_back("Authorization: " + c.Authorization);
        const THttpsReply reply = HttpsExchange(
            {sandbox.Url() + "/commerce/identity/v1/user/", "GET", "", headers, sandbox.CAPath()});
        EXPECT_EQ(reply.Status, c.Status) << c.Authorization << ": " << reply.Body;
        const nlohmann::json body = nlohmann::json::parse(reply.Body, nullptr, false);
        if (c.Status == 200) {
            EXPECT_EQ(body["username"], "Kim");
            EXPECT_EQ(body["userId"], kimId);
        } else {
            EXPECT_FALSE(body["errors"][0]["message"].get<std::string>().empty()) << reply.Body;
        }
    }

    // HighBidder carries the ids from the start (the switch) and the names again once told (the endpoint).
    const std::string token = sandbox.Token("demo");
    sandbox.Control("/sandbox/item", {{"username", "demo"}, {"index", 0}, {"highBidder", "demo"}});
    sandbox.Control("/sandbox/item", {{"username", "demo"}, {"index", 1}, {"highBidder", "Kim"}});
    std::vector<std::string> bidders = HighBidders(sandbox, token);
    ASSERT_GE(bidders.size(), 2u);
    EXPECT_EQ(bidders[0], demoId);
    EXPECT_EQ(bidders[1], kimId);
    sandbox.Control("/sandbox/accounts/ids", {{"highBidderIds", false}});
    bidders = HighBidders(sandbox, token);
    EXPECT_EQ(bidders[0], "demo");
    EXPECT_EQ(bidders[1], "Kim");
    sandbox.Reset();
    EXPECT_EQ(HighBidders(sandbox, sandbox.Token("demo")).at(0), demoId)
        << "a reset brings back the command line's setting";
    EXPECT_EQ(TSandboxProcess::RunExpectingFailure({"--state-dir", "/tmp", "--high-bidder-ids", "yes"}), 2);
}
