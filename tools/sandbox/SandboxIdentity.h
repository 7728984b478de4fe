#pragma once
// Who is who at the sandbox: eBay's identity API for OAuth access tokens, the list of accounts with their
// immutable ids, and the switch that makes HighBidder carry those ids in place of names.

#include "SandboxService.h"

namespace httplib {
class SSLServer;
}

// The scope the identity API wants in the access token.
constexpr const char* SandboxIdentityScope =
    "https://api.ebay.com/oauth/api_scope/commerce.identity.readonly";

// GET /commerce/identity/v1/user/ (bearer access token), GET /sandbox/accounts and POST
// /sandbox/accounts/ids.
void RegisterSandboxIdentityRoutes(httplib::SSLServer& server, TSandboxService& service);
