#pragma once
// Who a sign-in belongs to: the Trading API's GetUser for the design's token, eBay's identity API for an
// OAuth access token. Both give the account's user name and its immutable id.

#include "ebayapi/UnitKovaGadgetCalls.h"
#include "ebayapi/UnitXMLParser.h"
#include "storage/UnitEbayAccount.h"
#include "support/UnitProxySettings.h"

#include <atomic>
#include <string>

// The outcome of one lookup.
struct TEbayAccountLookup {
    bool Succeeded = false;
    TEbayAccount Account;
    // The user's text for a failure.
    std::string FailureText;
};

// The wizard's reason when the account of a sign-in is not the user of the login data: both names.
std::string AccountMismatchText(const TEbayAccount& account, const std::string& userName);
// Whether eBay named the account with a user name other than userName (letter case aside). An account
// without a name (eBay gave only an id) differs from nobody.
bool AccountDiffers(const TEbayAccount& account, const std::string& userName);

// GetUser without a UserID: eBay answers with the user the token (or OAuth access token) belongs to.
class TAPICallGetUser : public TAPICallBase {
public:
    using TAPICallBase::TAPICallBase;

    // The response stream when Execute returned true.
    TMemoryStream* GetUser(TInternetStatus& status);
    void BuildRequestBody(const std::string& requestName, const std::string& detailLevel) override;
    void BuildHeaders() override;
    const char* ClassName() const override { return "TAPICallGetUser"; }
};

// The User block of the GetUser answer.
class TXMLeBayGetUserParser : public TXMLeBayApiResultParser {
public:
    // True with the account (User/UserID, User/EIASToken) for a successful answer that names at least
    // one of them; false (code 3 for an answer without them or bytes that are no XML) otherwise.
    bool ParseUser(TStream* stream, TEbayAccount& account);
};

// Posts the prepared call and reads its answer.
TEbayAccountLookup LookUpAccountWithGetUser(TAPICallGetUser& call);

// GET identityURL with the access token as bearer; username and userId of the answer. The URL must be https.
TEbayAccountLookup LookUpAccountWithIdentity(const std::string& identityURL, const std::string& accessToken,
                                             const TProxySettings& proxy, const std::atomic<bool>* cancel);
