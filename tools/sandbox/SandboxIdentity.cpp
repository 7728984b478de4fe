#include "SandboxIdentity.h"

#include "base/UnitUtils.h"

#include <httplib.h>

namespace {

void SendJson(httplib::Response& res, int status, const nlohmann::json& value) {
    res.status = status;
    res.set_content(value.dump(2, ' ', false, nlohmann::json::error_handler_t::replace), "application/json");
}

// eBay's REST error answer.
void SendRestError(httplib::Response& res, int status, int errorId, const char* message,
                   const char* longMessage) {
    SendJson(res, status,
             {{"errors",
               {{{"errorId", errorId},
                 {"domain", "OAuth"},
                 {"category", "REQUEST"},
                 {"message", message},
                 {"longMessage", longMessage}}}}});
}

} // namespace

void RegisterSandboxIdentityRoutes(httplib::SSLServer& server, TSandboxService& service) {
    server.Get("/commerce/identity/v1/user/", [&service](const httplib::Request& req,
                                                         httplib::Response& res) {
        const std::string authorization = req.get_header_value("Authorization");
        const std::string token = StartsText("Bearer ", authorization) ? Trim(authorization.substr(7)) : "";
        std::string userName;
        if (token.empty() ||
            service.OAuth().CheckAccessToken(token, userName) != TSandboxOAuth::TAccessCheck::Valid)
            return SendRestError(
                res, 401, 1001, "Invalid access token",
                "Invalid access token. Check the value of the Authorization HTTP request header.");
        if (!service.OAuth().AccessTokenHasScope(token, SandboxIdentityScope))
            return SendRestError(res, 403, 1100, "Access denied",
                                 "Insufficient permissions to fulfill the request.");
        const TSandboxAccount* account = service.FindAccount(userName);
        if (!account)
            return SendRestError(res, 401, 1001, "Invalid access token", "The token's user is not known.");
        SendJson(res, 200,
                 {{"userId", account->UserID},
                  {"username", account->UserName},
                  {"accountType", "INDIVIDUAL"},
                  {"registrationMarketplaceId", "EBAY_DE"},
                  {"status", "CONFIRMED"}});
    });

    server.Get("/sandbox/accounts", [&service](const httplib::Request&, httplib::Response& res) {
        nlohmann::json list = service.AccountList();
        list["highBidderIds"] = service.HighBidderIds();
        SendJson(res, 200, list);
    });

    server.Post("/sandbox/accounts/ids", [&service](const httplib::Request& req, httplib::Response& res) {
        const nlohmann::json body = nlohmann::json::parse(req.body, nullptr, false);
        if (!body.is_object() || !body.contains("highBidderIds") || !body["highBidderIds"].is_boolean())
            return SendJson(res, 400, {{"error", "the body must be {\"highBidderIds\": true or false}"}});
        service.SetHighBidderIds(body["highBidderIds"].get<bool>());
        SendJson(res, 200, {{"ok", true}});
    });
}
