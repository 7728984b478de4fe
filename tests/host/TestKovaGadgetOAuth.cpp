// ctest-labels: threaded
#include "base/UnitUtils.h"
#include "dialogs/FormKovaGadgetAuthorize.h"
#include "ebayapi/UnitKovaGadgetCalls.h"
#include "ebayapi/UnitOAuthClient.h"
#include "host/KovaGadgetDemo.h"
#include "host/KovaGadgetHostOptions.h"
#include "host/KovaGadgetUnit.h"
#include "platform/UnitPlatformClock.h"
#include "platform/UnitPlatformEnvironment.h"
#include "platform/UnitPlatformFiles.h"
#include "platform/UnitPlatformMainThread.h"
#include "platform/UnitPlatformProcess.h"
#include "platform/UnitPlatformRunProgram.h"
#include "storage/UnitEbayAccount.h"
#include "storage/UnitKovaDat.h"
#include "storage/UnitKovaeBayLogin.h"
#include "support/GadgetTestDirectory.h"
#include "support/RecordingOpener.h"
#include "support/SandboxProcess.h"
#include "support/ScriptedFormHost.h"
#include "watchlist/UnitKovaThreads.h"
#include "watchlist/UnitKovaWatchList.h"

#include <csignal>
#include <curl/curl.h>
#include <gtest/gtest.h>
#include <sstream>

namespace {

constexpr double SecondsPerDay = 86400.0;
const char* const RefusedText = "The token for using the eBay API is no longer valid.";

// The scopes the wizard's consent asks for, escaped: the API and the identity.
const std::string ConsentScopes =
    "https%3A%2F%2Fapi.ebay.com%2Foauth%2Fapi_scope%20https%3A%2F%2Fapi.ebay.com%2F"
    "oauth%2Fapi_scope%2Fcommerce.identity.readonly";

size_t KeepLocation(char* data, size_t size, size_t count, void* target) {
    const std::string line(data, size * count);
    if (line.rfind("Location: ", 0) == 0 || line.rfind("location: ", 0) == 0)
        *static_cast<std::string*>(target) = line.substr(10, line.find_last_not_of("\r\n") - 9);
    return size * count;
}

size_t Discard(char*, size_t size, size_t count, void*) {
    return size * count;
}

// Signs the user in on the sandbox's consent page and returns the landing address as a browser shows it.
std::string AgreeOnConsentPage(TSandboxProcess& sandbox, const std::string& userName,
                               const std::string& state, const std::string& scopes = ConsentScopes) {
    CURL* curl = curl_easy_init();
    const std::string url = sandbox.Url() + "/oauth2/authorize";
    std::string form = std::string("client_id=") + SandboxAppID + "&redirect_uri=" + SandboxRuName +
                       "&response_type=code&scope=" + scopes + "&state=" + state + "&username=" + userName;
    std::string location;
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, form.c_str());
    curl_easy_setopt(curl, CURLOPT_CAINFO, sandbox.CAPath().c_str());
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, KeepLocation);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, &location);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, Discard);
    EXPECT_EQ(curl_easy_perform(curl), CURLE_OK);
    curl_easy_cleanup(curl);
    return location.empty() ? "" : sandbox.Url() + location;
}

TOAuthTokenCall SandboxTokenCall(const TSandboxProcess& sandbox, const std::string& certID = SandboxCertID) {
    return TOAuthTokenCall(sandbox.Url() + "/identity/v1/oauth2/token", SandboxAppID, certID);
}

// Fresh tokens of the user, as a finished sign-in leaves them.
TOAuthTokens SignedIn(TSandboxProcess& sandbox, const std::string& userName,
                      const std::string& scopes = ConsentScopes) {
    const std::string code =
        ReadPastedOAuthCode(AgreeOnConsentPage(sandbox, userName, "s", scopes), "s").Code;
    const TOAuthTokenResult result = SandboxTokenCall(sandbox).ExchangeCode(code, SandboxRuName);
    EXPECT_TRUE(result.Succeeded) << result.FailureText;
    return result.Tokens;
}

int TokenRequests(TSandboxProcess& sandbox, const std::string& grant) {
    const nlohmann::json log = nlohmann::json::parse(
        HttpsExchange({sandbox.Url() + "/sandbox/oauth/requests", "GET", "", {}, sandbox.CAPath()}).Body);
    int count = 0;
    for (const auto& request : log["requests"])
        count += request["grant"] == grant;
    return count;
}

} // namespace

TEST(OAuthPastedCode, ReadsTheCodeOfALandingAddressOrABareOne) {
    struct TCase {
        const char* Pasted;
        const char* State;
        const char* Code;
        const char* ErrorStart;
    } cases[] = {
        {"https://h/oauth2/accepted?state=ab%20c&code=v%5E1.1%23i%5E1%2Bx&expires_in=299", "ab c",
         "v^1.1#i^1+x", ""},
        {"  https://h/accepted?code=v%5E1.1%23i&expires_in=299&state=S \n", "S", "v^1.1#i", ""},
        {"https://h/accepted?code=plain+code&state=S", "S", "plain code", ""},
        {"v^1.1#i^1#r^1#p^3#f^0#I^3#t^Ybmj", "S", "v^1.1#i^1#r^1#p^3#f^0#I^3#t^Ybmj", ""},
        {"https://h/accepted?state=other&code=c", "S", "", "The pasted address belongs to another sign-in"},
        {"https://h/accepted?code=c", "S", "", "The pasted address belongs to another sign-in"},
        {"https://h/accepted?state=S&expires_in=299", "S", "", "The pasted text holds no code"},
        {"https://www.ebay.com/", "S", "", "The pasted text holds no code"},
        {"", "S", "", "The pasted text holds no code"},
        {"https://h/declined?error=access_denied&error_description=The+user+declined", "S", "",
         "eBay did not give a code: The user declined"},
    };
    for (const TCase& c : cases) {
        const TPastedCode read = ReadPastedOAuthCode(c.Pasted, c.State);
        EXPECT_EQ(read.Code, c.Code) << c.Pasted;
        EXPECT_EQ(read.Error.rfind(c.ErrorStart, 0), 0u) << c.Pasted << ": " << read.Error;
    }
    EXPECT_EQ(
        BuildOAuthConsentURL("https://a/oauth2/authorize", "App 1", "Ru-Name", " s1 s2 ", "ST"),
        "https://a/oauth2/authorize?client_id=App%201&redirect_uri=Ru-Name&response_type=code&scope=s1%20s2"
        "&state=ST");
}

class OAuthTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        Sandbox = new TSandboxProcess({"seven:7", "big:400"});
        Short = new TSandboxProcess({"big:400"}, {"--access-token-seconds", "30"});
        // The extra CA file trusts both sandboxes.
        CAs = new TTempDir;
        setenv("KOVA_EXTRA_CA_FILE",
               CAs->Write("ca.pem", ReadTextFile(Sandbox->CAPath()) + ReadTextFile(Short->CAPath())).c_str(),
               1);
    }
    static void TearDownTestSuite() {
        delete Sandbox;
        delete Short;
        delete CAs;
        Sandbox = Short = nullptr;
        CAs = nullptr;
        unsetenv("KOVA_EXTRA_CA_FILE");
    }
    void SetUp() override {
        SetMainThread();
        Sandbox->Reset();
        Short->Reset();
    }
    void TearDown() override {
        if (Gadget.WatchList()) Gadget.Terminate();
        EXPECT_TRUE(MainThreadQueue().RunUntil([] { return TThreadBase::LiveCount() == 0; }, 30000));
    }
    // A user who keeps login data and signed in with OAuth, then the control started.
    void Start(TGadgetTestDirectory& dir, TSandboxProcess& sandbox, const std::string& account) {
        dir.SaveLogInData(account, "secret", "");
        SaveOAuthTokens(dir.File("eboauth.dat"), account, SignedIn(sandbox, account));
        Gadget.Init(dir.Home());
        ASSERT_NE(Gadget.WatchList(), nullptr);
    }
    void Load() {
        Gadget.LoadWatchlist();
        ASSERT_TRUE(MainThreadQueue().RunUntil([this] { return !Gadget.IsWorking(); }, 60000));
        MainThreadQueue().ProcessPending();
    }

    static TSandboxProcess* Sandbox;
    static TSandboxProcess* Short;
    static TTempDir* CAs;
    TRecordingOpener Opener;
    TKovaGadget Gadget;
};

TSandboxProcess* OAuthTest::Sandbox = nullptr;
TSandboxProcess* OAuthTest::Short = nullptr;
TTempDir* OAuthTest::CAs = nullptr;

TEST_F(OAuthTest, TheTokenEndpointGivesTokensOrSaysWhyNot) {
    const std::string code = ReadPastedOAuthCode(AgreeOnConsentPage(*Sandbox, "seven", "s"), "s").Code;
    ASSERT_FALSE(code.empty());
    const TOAuthTokenResult wrongKeys = SandboxTokenCall(*Sandbox, "wrong").ExchangeCode(code, SandboxRuName);
    EXPECT_FALSE(wrongKeys.Succeeded);
    EXPECT_FALSE(wrongKeys.InvalidGrant);
    EXPECT_EQ(wrongKeys.FailureText, "client authentication failed");

    const TDateTime before = NowUTC();
    const TOAuthTokenResult granted = SandboxTokenCall(*Sandbox).ExchangeCode(code, SandboxRuName);
    ASSERT_TRUE(granted.Succeeded) << granted.FailureText;
    EXPECT_NEAR((granted.Tokens.AccessTokenExpires - before) * SecondsPerDay, 7200, 5);
    EXPECT_NEAR((granted.Tokens.RefreshTokenExpires - before) * SecondsPerDay, 47304000, 5);
    EXPECT_FALSE(granted.Tokens.RefreshToken.empty());

    struct TCase {
        const char* Name;
        nlohmann::json Fault; // queued first when not null
        bool ExchangeCode;    // else a refresh
        bool Succeeded, InvalidGrant;
        const char* Text;
    } cases[] = {
        {"reused code", nullptr, true, false, true,
         "the provided authorization grant code is invalid or was issued to another client"},
        {"server error", {{"kind", "status"}}, false, false, false, "sandbox fault"},
        {"dropped", {{"kind", "drop"}}, false, false, false, ""},
        {"refused refresh", {{"kind", "invalid_grant"}}, false, false, true, ""},
        {"renewed", nullptr, false, true, false, ""},
    };
    for (const TCase& c : cases) {
        if (!c.Fault.is_null()) Sandbox->Control("/sandbox/oauth/fault", c.Fault);
        const TOAuthTokenResult result =
            c.ExchangeCode
                ? SandboxTokenCall(*Sandbox).ExchangeCode(code, SandboxRuName)
                : SandboxTokenCall(*Sandbox).Refresh(granted.Tokens.RefreshToken, TDatSignIn::DefaultScopes);
        EXPECT_EQ(result.Succeeded, c.Succeeded) << c.Name << ": " << result.FailureText;
        EXPECT_EQ(result.InvalidGrant, c.InvalidGrant) << c.Name;
        if (*c.Text) {
            EXPECT_EQ(result.FailureText, c.Text) << c.Name;
        }
        EXPECT_EQ(result.FailureText.empty(), c.Succeeded) << c.Name;
    }

    TOAuthTokenCall clear("http://127.0.0.1:1/token", SandboxAppID, SandboxCertID);
    EXPECT_EQ(clear.Refresh("r", "s").FailureText,
              "The token address \"http://127.0.0.1:1/token\" does not use https, so nothing was sent.");
}

TEST_F(OAuthTest, AnOAuthLoginSendsItsAccessTokenInTheHeaderAndRenewsItOnlyWhenDue) {
    TGadgetTestDirectory dir(SandboxOAuthGadget(*Sandbox));
    Start(dir, *Sandbox, "seven");
    EXPECT_EQ(FilePermissions(dir.File("eboauth.dat")), 0600);
    Load();
    EXPECT_NE(ReadTextFile(dir.File("result.txt")).find("<div id=\"result0\""), std::string::npos)
        << ReadTextFile(dir.File("result.txt"));
    const nlohmann::json requests = Sandbox->Requests();
    ASSERT_EQ(requests.size(), 1u);
    const std::string access = Gadget.LogInInfo()->OAuth.AccessToken;
    EXPECT_EQ(requests[0]["headers"]["X-EBAY-API-IAF-TOKEN"], access);
    EXPECT_EQ(requests[0]["body"].get<std::string>().find("RequesterCredentials"), std::string::npos);
    EXPECT_EQ(TokenRequests(*Sandbox, "refresh_token"), 0) << "a token two hours from its end is not renewed";

    // The start's lookup named the account, which is kept beside the tokens and goes with them.
    EXPECT_EQ(LoadEbayAccount(dir.File("ebaccount.dat"), "seven").ID, Sandbox->UserID("seven"));
    // "Delete saved data now" takes the tokens with the login data.
    Gadget.LogInInfo()->Clear();
    EXPECT_FALSE(FileExists(dir.File("eboauth.dat")));
    EXPECT_FALSE(FileExists(dir.File("ebaccount.dat")));
    EXPECT_TRUE(Gadget.LogInInfo()->OAuth.Empty());
}

TEST_F(OAuthTest, AShortLivedAccessTokenIsRenewedOnceWhileFourPagesAreFetched) {
    TGadgetTestDirectory dir(SandboxOAuthGadget(*Short));
    Start(dir, *Short, "big");
    const TOAuthTokens before = LoadOAuthTokens(dir.File("eboauth.dat"), "big");
    for (int load = 1; load <= 2; ++load) {
        Load();
        const nlohmann::json requests = Short->Requests();
        ASSERT_EQ(requests.size(), 4u * load);
        EXPECT_EQ(TokenRequests(*Short, "refresh_token"), load) << "one renewal per load, not per page";
        const std::string access = Gadget.LogInInfo()->OAuth.AccessToken;
        EXPECT_NE(access, before.AccessToken);
        for (size_t i = requests.size() - 4; i < requests.size(); ++i)
            EXPECT_EQ(requests[i]["headers"]["X-EBAY-API-IAF-TOKEN"], access) << i;
        const TOAuthTokens saved = LoadOAuthTokens(dir.File("eboauth.dat"), "big");
        EXPECT_EQ(saved, Gadget.LogInInfo()->OAuth) << "the renewed token is saved with the login data";
        EXPECT_EQ(saved.RefreshToken, before.RefreshToken);
    }
    EXPECT_EQ(ReadTextFile(dir.File("result.txt")).find("Error"), std::string::npos);
}

TEST_F(OAuthTest, ARefusedRenewalClearsTheTokensAndTheNextLoadRunsTheWizard) {
    TGadgetTestDirectory dir(SandboxOAuthGadget(*Short));
    Start(dir, *Short, "big");
    Short->Control("/sandbox/oauth/fault", {{"kind", "invalid_grant"}});
    Load();
    EXPECT_NE(ReadTextFile(dir.File("result.txt")).find(RefusedText), std::string::npos);
    EXPECT_TRUE(Gadget.LogInInfo()->OAuth.Empty());
    EXPECT_FALSE(FileExists(dir.File("eboauth.dat")));
    EXPECT_EQ(Short->Requests().size(), 0u) << "no page is asked for without a token";

    TScriptedFormHost host;
    host.Then([](TForm& form) { EXPECT_EQ(form.Caption, "Authorise Gadget on eBay"); });
    Load();
    EXPECT_EQ(host.Shown, std::vector<std::string>{"Authorise Gadget on eBay"});

    // A failed renewal of another kind keeps the tokens for the next load.
    TGadgetTestDirectory again(SandboxOAuthGadget(*Short));
    Gadget.Terminate();
    Start(again, *Short, "big");
    Short->Control("/sandbox/oauth/fault", {{"kind", "status"}, {"status", 503}});
    Load();
    EXPECT_FALSE(Gadget.LogInInfo()->OAuth.Empty());
    EXPECT_TRUE(FileExists(again.File("eboauth.dat")));
    EXPECT_NE(ReadTextFile(again.File("result.txt")).find("sandbox fault"), std::string::npos);
}

namespace {

// The state of the consent address the wizard opened last; fails the test when it opened none.
std::string OpenedConsentState(const TRecordingOpener& opener, const TSandboxProcess& sandbox, size_t count) {
    EXPECT_TRUE(MainThreadQueue().RunUntil([&] { return opener.Opened().size() >= count; }, 10000));
    const std::vector<std::string> opened = opener.Opened();
    if (opened.size() < count) return "";
    const std::string& url = opened[count - 1];
    EXPECT_EQ(url.rfind(sandbox.Url() + "/oauth2/authorize?client_id=" + SandboxAppID + "&redirect_uri=" +
                            SandboxRuName + "&response_type=code&scope=" + ConsentScopes + "&state=",
                        0),
              0u)
        << url;
    return url.substr(url.find("&state=") + 7);
}

// Pastes the text, clicks "Verify Now" and waits for the failure or success panel.
void PasteAndVerify(TfrmKovaGadgetAuthorize& wizard, const std::string& text) {
    ASSERT_TRUE(wizard.edtLandingAddress.Visible);
    wizard.SetText("edtLandingAddress", text);
    ASSERT_TRUE(wizard.Click("btnVerify"));
    ASSERT_TRUE(MainThreadQueue().RunUntil([&] { return wizard.pnlFinished.Visible; }, 30000));
}

} // namespace

TEST_F(OAuthTest, ANewUserSignsInOnTheConsentPageAndPastesTheLandingAddress) {
    TGadgetTestDirectory dir(SandboxOAuthGadget(*Sandbox));
    Gadget.Init(dir.Home());
    TScriptedFormHost host;
    host.Then([](TForm& form) {
        form.SetText("edteBayUsername", "seven");
        form.SetText("edtEbayPassword", "secret");
        form.SelectItem("cmbxEbayLoginDataAction", 1);
        form.Click("btnOk");
    });
    host.Then([&](TForm& form) {
        auto& wizard = static_cast<TfrmKovaGadgetAuthorize&>(form);
        EXPECT_FALSE(wizard.pnlSecondStep.Visible) << "the address is asked for on the second step";
        ASSERT_TRUE(wizard.Click("btnAuthorize"));
        EXPECT_TRUE(wizard.pnlSecondStep.Visible);
        EXPECT_EQ(wizard.lblLandingAddress.Caption,
                  "Paste the address of the page eBay showed after you agreed");
        EXPECT_EQ(wizard.ActiveControl, "edtLandingAddress");
        const std::string state = OpenedConsentState(Opener, *Sandbox, 1);
        PasteAndVerify(wizard, AgreeOnConsentPage(*Sandbox, "seven", state));
        EXPECT_EQ(wizard.lblFinishedTitle.Caption, "Process succeeded.");
        EXPECT_TRUE(form.Click("btnCancel")); // "&Close" now
    });
    Load();
    EXPECT_NE(ReadTextFile(dir.File("result.txt")).find("<div id=\"result0\""), std::string::npos);
    EXPECT_EQ(host.Shown, (std::vector<std::string>{"My eBay - LogIn Data", "Authorise Gadget on eBay"}));
    EXPECT_EQ(FilePermissions(dir.File("eboauth.dat")), 0600);
    EXPECT_EQ(LoadOAuthTokens(dir.File("eboauth.dat"), "seven"), Gadget.LogInInfo()->OAuth);
    EXPECT_TRUE(Gadget.LogInInfo()->Token.empty()) << "no token of the design's flow";
    ASSERT_EQ(Sandbox->Requests().size(), 1u);
    EXPECT_EQ(Sandbox->Requests()[0]["call"], "GetMyeBayBuying") << "no GetSessionID or FetchToken";
}

TEST_F(OAuthTest, EveryFailedVerifyNamesItsCauseAndRetryLeadsToASignIn) {
    TGadgetTestDirectory dir(SandboxOAuthGadget(*Sandbox));
    dir.SaveLogInData("seven", "secret", "");
    Gadget.Init(dir.Home());
    TScriptedFormHost host;
    host.Then([&](TForm& form) {
        auto& wizard = static_cast<TfrmKovaGadgetAuthorize&>(form);
        ASSERT_TRUE(wizard.Click("btnAuthorize"));
        size_t opened = 1;
        std::string state = OpenedConsentState(Opener, *Sandbox, opened);
        const std::string spentLanding = AgreeOnConsentPage(*Sandbox, "seven", state);
        ASSERT_TRUE(SandboxTokenCall(*Sandbox)
                        .ExchangeCode(ReadPastedOAuthCode(spentLanding, state).Code, SandboxRuName)
                        .Succeeded);
        struct TCase {
            std::string Pasted;
            const char* Cause;
            bool ConsentAgain; // Retry opens the consent page again: the code was spent
            // When set, the wizard's own consent given by this user is pasted: its address, or its code
            // alone.
            const char* Signer = nullptr;
            bool Bare = false;
        } cases[] = {
            {"https://www.ebay.com/", "Reason: The pasted text holds no code", false},
            {AgreeOnConsentPage(*Sandbox, "seven", "another"),
             "Reason: The pasted address belongs to another", false},
            {spentLanding,
             "Reason: the provided authorization grant code is invalid or was issued to another client",
             true},
            {"v^1.1#i^1#nonsense", "Reason: the provided authorization grant code is invalid", true},
            // Tokens of another account, with this wizard's state or as a bare code, are not kept.
            {"", "Reason: This sign-in belongs to the eBay user big, not seven.", true, "big"},
            {"", "Reason: This sign-in belongs to the eBay user big, not seven.", true, "big", true},
        };
        for (const TCase& c : cases) {
            const std::string landing = c.Signer ? AgreeOnConsentPage(*Sandbox, c.Signer, state) : "";
            PasteAndVerify(wizard, !c.Signer ? c.Pasted
                                   : c.Bare  ? ReadPastedOAuthCode(landing, state).Code
                                             : landing);
            EXPECT_EQ(wizard.lblFinishedTitle.Caption, "Authorization not completed.") << c.Pasted;
            EXPECT_TRUE(wizard.lblFailureCause.Visible);
            EXPECT_EQ(wizard.lblFailureCause.Caption.rfind(c.Cause, 0), 0u) << wizard.lblFailureCause.Caption;
            EXPECT_EQ(Gadget.AuthErrorText().empty(), false);
            ASSERT_TRUE(wizard.Click("btnRetry"));
            EXPECT_TRUE(wizard.pnlSecondStep.Visible);
            EXPECT_TRUE(wizard.btnVerify.Visible);
            if (c.ConsentAgain) state = OpenedConsentState(Opener, *Sandbox, ++opened);
            EXPECT_EQ(Opener.Opened().size(), opened) << c.Pasted;
            EXPECT_TRUE(Gadget.LogInInfo()->OAuth.Empty() && Gadget.LogInInfo()->Account.Empty());
        }
        // A bare code of the user's own is taken: eBay names its account.
        PasteAndVerify(wizard, ReadPastedOAuthCode(AgreeOnConsentPage(*Sandbox, "seven", state), state).Code);
        EXPECT_EQ(wizard.lblFinishedTitle.Caption, "Process succeeded.");
        wizard.Click("btnCancel");
    });
    Load();
    EXPECT_NE(ReadTextFile(dir.File("result.txt")).find("<div id=\"result0\""), std::string::npos);
    EXPECT_EQ(LoadEbayAccount(dir.File("ebaccount.dat"), "seven"),
              (TEbayAccount{"seven", Sandbox->UserID("seven")}));
    EXPECT_EQ(FilePermissions(dir.File("ebaccount.dat")), 0600);
}

TEST_F(OAuthTest, AnIdentityAPIThatCannotBeReachedFailsTheSignInWithItsCause) {
    TGadgetDirectoryOptions options = SandboxOAuthGadget(*Sandbox);
    options.SignInXml = StringReplaceAll(options.SignInXml, Sandbox->Url() + "/commerce/identity/v1/user/",
                                         "https://127.0.0.1:1/commerce/identity/v1/user/");
    TGadgetTestDirectory dir(options);
    dir.SaveLogInData("seven", "secret", "");
    Gadget.Init(dir.Home());
    TScriptedFormHost host;
    host.Then([&](TForm& form) {
        auto& wizard = static_cast<TfrmKovaGadgetAuthorize&>(form);
        ASSERT_TRUE(wizard.Click("btnAuthorize"));
        PasteAndVerify(wizard,
                       AgreeOnConsentPage(*Sandbox, "seven", OpenedConsentState(Opener, *Sandbox, 1)));
        EXPECT_EQ(wizard.lblFinishedTitle.Caption, "Authorization not completed.");
        EXPECT_EQ(wizard.lblFailureCause.Caption.rfind("Reason: eBay did not say whose sign-in this is: ", 0),
                  0u)
            << wizard.lblFailureCause.Caption;
        wizard.Click("btnCancel");
    });
    Load();
    EXPECT_TRUE(Gadget.LogInInfo()->OAuth.Empty());
    EXPECT_FALSE(FileExists(dir.File("eboauth.dat")));
    EXPECT_EQ(Sandbox->Requests().size(), 0u) << "no list without a sign-in";
}

// The items of the first page that result.txt marks as the user's.
int MarkedItems(const TGadgetTestDirectory& dir) {
    const std::string result = ReadTextFile(dir.File("result.txt"));
    int count = 0;
    for (size_t at = result.find("resultWinner.png"); at != std::string::npos;
         at = result.find("resultWinner.png", at + 1))
        ++count;
    return count;
}

TEST_F(OAuthTest, TheMarkFollowsTheAccountsImmutableIdOnceEBayNamedTheAccountForBothSignIns) {
    for (const int index : {0, 1})
        Sandbox->Control("/sandbox/item", {{"username", "seven"}, {"index", index}, {"highBidder", "seven"}});
    const std::string id = Sandbox->UserID("seven");
    const std::string apiScopeOnly = "https%3A%2F%2Fapi.ebay.com%2Foauth%2Fapi_scope";
    for (const bool oauth : {false, true}) {
        SCOPED_TRACE(oauth ? "OAuth" : "token");
        TGadgetTestDirectory dir(oauth ? SandboxOAuthGadget(*Sandbox) : SandboxGadget(*Sandbox));
        // A start whose lookup fails (GetUser answers 503; a consent given without the identity scope).
        const auto start = [&](bool lookupFails) {
            if (Gadget.WatchList()) Gadget.Terminate();
            dir.SaveLogInData("seven", "secret", oauth ? "" : Sandbox->Token("seven"));
            if (oauth)
                SaveOAuthTokens(dir.File("eboauth.dat"), "seven",
                                SignedIn(*Sandbox, "seven", lookupFails ? apiScopeOnly : ConsentScopes));
            else if (lookupFails)
                Sandbox->Fault({{"call", "GetUser"}, {"kind", "status"}, {"status", 503}});
            Gadget.Init(dir.Home());
            Load();
        };
        Sandbox->Control("/sandbox/accounts/ids", {{"highBidderIds", false}});
        start(true);
        const int byName = MarkedItems(dir);
        EXPECT_GE(byName, 2) << "the design's rule: HighBidder is the user name";
        EXPECT_FALSE(FileExists(dir.File("ebaccount.dat")));

        Sandbox->Control("/sandbox/accounts/ids", {{"highBidderIds", true}});
        Load();
        EXPECT_EQ(MarkedItems(dir), 0) << "with ids in HighBidder the name alone marks nothing";
        start(false);
        EXPECT_EQ(MarkedItems(dir), byName) << ReadTextFile(dir.File("result.txt"));
        EXPECT_EQ(LoadEbayAccount(dir.File("ebaccount.dat"), "seven"), (TEbayAccount{"seven", id}));
        start(true);
        EXPECT_EQ(MarkedItems(dir), byName) << "a failed lookup keeps the account saved before";
        EXPECT_EQ(LoadEbayAccount(dir.File("ebaccount.dat"), "seven"), (TEbayAccount{"seven", id}));
        int getUsers = 0;
        for (const auto& request : Sandbox->Requests())
            getUsers += request["call"] == "GetUser";
        EXPECT_EQ(getUsers, oauth ? 0 : 3) << "one lookup per start, none per load";
        Gadget.Terminate();
        Sandbox->Reset();
    }
}

TEST_F(OAuthTest, ACodePastedAfterItsFiveMinutesIsNamedExpired) {
    TGadgetTestDirectory dir(SandboxOAuthGadget(*Sandbox));
    dir.SaveLogInData("seven", "secret", "");
    Gadget.Init(dir.Home());
    TScriptedFormHost host;
    host.Then([&](TForm& form) {
        auto& wizard = static_cast<TfrmKovaGadgetAuthorize&>(form);
        TManualClock clock(NowUTC(), NowUTC());
        ASSERT_TRUE(wizard.Click("btnAuthorize"));
        const std::string landing =
            AgreeOnConsentPage(*Sandbox, "seven", OpenedConsentState(Opener, *Sandbox, 1));
        Sandbox->Control("/sandbox/oauth/advance", {{"seconds", 301}});
        clock.AdvanceMs(301000);
        PasteAndVerify(wizard, landing);
        EXPECT_EQ(
            wizard.lblFailureCause.Caption,
            "Reason: The code has expired: eBay's codes last about 5 minutes. Choose \"Retry\", agree again "
            "and paste the new address.");
    });
    Load();
    EXPECT_TRUE(Gadget.LogInInfo()->OAuth.Empty());
}

TEST_F(OAuthTest, ANewUserWithoutKeysGoesThroughTheKeysFormAndTheOAuthWizardToTheList) {
    TGadgetDirectoryOptions options = SandboxOAuthGadget(*Sandbox);
    options.ApplicationKeys = false;
    options.SignInXml = "<SIGNIN><OAUTHCONSENTURL>" + Sandbox->Url() +
                        "/oauth2/authorize</OAUTHCONSENTURL><OAUTHTOKENURL>" + Sandbox->Url() +
                        "/identity/v1/oauth2/token</OAUTHTOKENURL><OAUTHIDENTITYURL>" + Sandbox->Url() +
                        "/commerce/identity/v1/user/</OAUTHIDENTITYURL></SIGNIN>";
    TGadgetTestDirectory dir(options);
    Gadget.Init(dir.Home());
    TScriptedFormHost host;
    host.Then([](TForm& form) {
        form.SetText("edtDevID", SandboxDevID);
        form.SetText("edtAppID", SandboxAppID);
        form.SetText("edtCertID", SandboxCertID);
        form.SetText("edtRuName", SandboxRuName);
        form.Click("btnOk");
    });
    host.Then([](TForm& form) {
        form.SetText("edteBayUsername", "seven");
        form.SetText("edtEbayPassword", "secret");
        form.Click("btnOk");
    });
    host.Then([&](TForm& form) {
        auto& wizard = static_cast<TfrmKovaGadgetAuthorize&>(form);
        ASSERT_TRUE(wizard.Click("btnAuthorize"));
        PasteAndVerify(wizard,
                       AgreeOnConsentPage(*Sandbox, "seven", OpenedConsentState(Opener, *Sandbox, 1)));
        EXPECT_EQ(wizard.lblFinishedTitle.Caption, "Process succeeded.");
        wizard.Click("btnCancel");
    });
    Load();
    EXPECT_EQ(host.Shown, (std::vector<std::string>{"eBay application keys", "My eBay - LogIn Data",
                                                    "Authorise Gadget on eBay"}));
    EXPECT_NE(ReadTextFile(dir.File("result.txt")).find("<div id=\"result0\""), std::string::npos)
        << ReadTextFile(dir.File("result.txt"));
    EXPECT_FALSE(FileExists(dir.File("eboauth.dat")))
        << "login data kept in memory only keep the tokens there";
}

TEST_F(OAuthTest, AUserSeededWithARefreshTokenRenewsTheAccessTokenAtTheFirstLoad) {
    TGadgetTestDirectory dir(SandboxOAuthGadget(*Sandbox));
    const std::string refresh =
        Sandbox->Control("/sandbox/oauth/tokens", {{"username", "seven"}})["refresh_token"];
    EXPECT_THROW(Sandbox->Control("/sandbox/oauth/tokens", {{"username", "nobody"}}), std::runtime_error);
    // Both secrets come through standard input, in the order the tool reads them.
    const TProgramRun seeded = RunProgram(
        "/bin/sh", {"-c",
                    "printf 'secret\\n%s\\n' \"$1\" | \"$2\" --gadget-dir \"$3\" --user seven --password - "
                    "--refresh-token -",
                    "sh", refresh, KOVA_BIN_DIR "/kova-login", dir.Dir().Path()});
    ASSERT_EQ(seeded.ExitCode, 0) << seeded.ErrorOutput;
    EXPECT_EQ(FilePermissions(dir.File("eboauth.dat")), 0600);
    Gadget.Init(dir.Home());
    Load();
    EXPECT_NE(ReadTextFile(dir.File("result.txt")).find("<div id=\"result0\""), std::string::npos);
    EXPECT_EQ(TokenRequests(*Sandbox, "refresh_token"), 1);
    EXPECT_EQ(LoadOAuthTokens(dir.File("eboauth.dat"), "seven").RefreshToken, refresh);
    EXPECT_FALSE(LoadOAuthTokens(dir.File("eboauth.dat"), "seven").AccessToken.empty());
}

TEST_F(OAuthTest, AnAccessTokenEBayCallsExpiredIsDroppedAndTheNextLoadRenewsIt) {
    TGadgetTestDirectory dir(SandboxOAuthGadget(*Sandbox));
    Start(dir, *Sandbox, "seven");
    // eBay's clock says the token has ended while ours says it has two hours left.
    Sandbox->Control("/sandbox/oauth/advance", {{"seconds", 7200}});
    Load();
    EXPECT_NE(ReadTextFile(dir.File("result.txt")).find(RefusedText), std::string::npos);
    EXPECT_TRUE(Gadget.LogInInfo()->OAuth.AccessToken.empty());
    EXPECT_FALSE(Gadget.LogInInfo()->OAuth.RefreshToken.empty()) << "the sign-in itself holds";
    EXPECT_EQ(TokenRequests(*Sandbox, "refresh_token"), 0);

    TScriptedFormHost noWizard;
    Load();
    EXPECT_EQ(TokenRequests(*Sandbox, "refresh_token"), 1);
    EXPECT_NE(ReadTextFile(dir.File("result.txt")).find("<div id=\"result0\""), std::string::npos);
}

TEST(OAuthDemo, TheDemoWithOAuthStartsSignedInAndRenewsAtItsFirstLoad) {
    const TKovaGadgetHostOptions parsed = ParseKovaGadgetHostOptions({"--demo", "--oauth"});
    EXPECT_TRUE(parsed.Demo && parsed.DemoOAuth);
    TDatSignIn defaults;
    TKovaGadgetDat dat("");
    dat.LoadFromBytes(
        KovaDatForSandbox(ReadTextFile(KOVA_SOURCE_DIR "/gadget/KovaDat.xml"), "https://h:1", true), "");
    EXPECT_TRUE(dat.SignIn().UsesOAuth());
    EXPECT_EQ(dat.SignIn().OAUTHCONSENTURL, "https://h:1/oauth2/authorize");
    EXPECT_EQ(dat.SignIn().OAUTHTOKENURL, "https://h:1/identity/v1/oauth2/token");
    EXPECT_EQ(dat.SignIn().RUNAME, KovaGadgetRuName);
    EXPECT_EQ(dat.SignIn().OAUTHSCOPES, defaults.OAUTHSCOPES);

    // The demo as the built kova-gadget runs it, with a host that loads the list once.
    SetMainThread();
    TTempDir tmp;
    const std::optional<std::string> oldTmp = GetEnvironmentVariable("TMPDIR");
    const std::optional<std::string> oldCA = GetEnvironmentVariable(KovaExtraCAFileVariable);
    SetProcessExecutablePathForTesting(std::string(KOVA_BIN_DIR) + "/kova-gadget");
    SetEnvironmentVariable("TMPDIR", tmp.Path());
    TKovaGadgetHostOptions options;
    options.Demo = options.DemoOAuth = true;
    options.DemoItems = 3;
    std::string result;
    std::ostringstream report;
    const int exit = RunKovaGadgetDemo(
        options,
        [&](const TKovaGadgetHostOptions& host) {
            TKovaGadget gadget;
            gadget.Init(host.GadgetDir);
            gadget.LoadWatchlist();
            MainThreadQueue().RunUntil([&] { return !gadget.IsWorking(); }, 60000);
            result = ReadTextFile(host.GadgetDir + "/result.txt");
            gadget.Terminate();
            return 0;
        },
        report);
    SetProcessExecutablePathForTesting(std::nullopt);
    oldTmp ? SetEnvironmentVariable("TMPDIR", *oldTmp) : (void)::unsetenv("TMPDIR");
    oldCA ? SetEnvironmentVariable(KovaExtraCAFileVariable, *oldCA)
          : (void)::unsetenv(KovaExtraCAFileVariable);
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_UNBLOCK, &stopSignals, nullptr);
    EXPECT_EQ(exit, 0) << report.str();
    EXPECT_NE(result.find("<div id=\"result2\""), std::string::npos) << result << report.str();
}
