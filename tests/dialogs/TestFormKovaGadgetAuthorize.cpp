// ctest-labels: threaded
#include "dialogs/FormKovaGadgetAuthorize.h"
#include "ebayapi/UnitCurlSession.h"
#include "platform/UnitPlatformMainThread.h"
#include "storage/UnitKovaDat.h"
#include "storage/UnitKovaIniFile.h"
#include "storage/UnitKovaeBayLogin.h"
#include "support/GadgetTestDirectory.h"
#include "support/RecordingOpener.h"
#include "support/SandboxProcess.h"
#include "support/ScriptedFormHost.h"
#include "watchlist/UnitKovaThreads.h"
#include "watchlist/UnitKovaWatchList.h"

#include <gtest/gtest.h>
#include <regex>

namespace {

const std::string FailedResult = "The program was not properly authorized.\r\n\r\nPlease execute the process "
                                 "again by pressing \"Repeat\".";

TfrmKovaGadgetAuthorize& Wizard(TForm& form) {
    return static_cast<TfrmKovaGadgetAuthorize&>(form);
}

// Runs the main queue, as the form host does while the wizard is shown, until the condition holds.
void RunUntil(const std::function<bool()>& done) {
    ASSERT_TRUE(MainThreadQueue().RunUntil(done, 30000)) << "the wizard's thread never reported back";
}

// The request bodies of one API call that the sandbox received, oldest first.
std::vector<std::string> Bodies(TSandboxProcess& sandbox, const std::string& call) {
    std::vector<std::string> bodies;
    for (const auto& request : sandbox.Requests())
        if (request["call"] == call) bodies.push_back(request["body"].get<std::string>());
    return bodies;
}

class WizardTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        Sandbox = new TSandboxProcess({"demo:3", "other:1"});
        setenv("KOVA_EXTRA_CA_FILE", Sandbox->CAPath().c_str(), 1);
    }
    static void TearDownTestSuite() {
        delete Sandbox;
        Sandbox = nullptr;
        unsetenv("KOVA_EXTRA_CA_FILE");
    }
    void SetUp() override {
        SetMainThread();
        Sandbox->Reset();
        LoadGadgetDat(Gadget.Home(), "");
        InitIniFileManager("KovaGadget.ini", Gadget.Home());
        Info.UserName = "demo";
        Info.Password = "secret";
    }
    void TearDown() override {
        EXPECT_TRUE(MainThreadQueue().RunUntil([] { return TThreadBase::LiveCount() == 0; }, 30000));
        FreeIniFileManager();
        FreeGadgetDat();
        SetRuName("");
    }
    bool Authorise() {
        return TfrmKovaGadgetAuthorize::Authorise(&Info,
                                                  [this](const std::string& m) { Errors.push_back(m); });
    }
    // Clicks "Authorize on eBay" and waits for the second step.
    static void StartSignIn(TfrmKovaGadgetAuthorize& form) {
        EXPECT_TRUE(form.Click("btnAuthorize"));
        RunUntil([&] { return form.pnlSecondStep.Visible; });
    }
    static void Verify(TfrmKovaGadgetAuthorize& form, const char* button) {
        EXPECT_TRUE(form.Click(button));
        EXPECT_TRUE(form.FProgressBar->Visible);
        EXPECT_FALSE(form.btnVerify.Visible);
        RunUntil([&] { return form.pnlFinished.Visible && !form.FProgressBar->Visible; });
    }

    static TSandboxProcess* Sandbox;
    TGadgetTestDirectory Gadget{SandboxGadget(*Sandbox)};
    TEbayLogInInfo Info;
    std::vector<std::string> Errors;
    TRecordingOpener Opener;
    TScriptedFormHost Host;
};

TSandboxProcess* WizardTest::Sandbox = nullptr;

TEST_F(WizardTest, ATokenAtHandShowsNoWindowAndNoLoginInfoFails) {
    Info.Token = "kept";
    EXPECT_TRUE(Authorise());
    EXPECT_FALSE(TfrmKovaGadgetAuthorize::Authorise(nullptr, nullptr));
    EXPECT_TRUE(Host.Shown.empty());
    EXPECT_EQ(Info.Token, "kept");
}

TEST_F(WizardTest, WithoutASessionOfEbaysTheGuidFlowFailsBeforeTheSignInThenRetrySucceeds) {
    Sandbox->Fault({{"call", "GetSessionID"}, {"kind", "status"}, {"status", 503}});
    std::string secretId;
    Host.Then([&](TForm& f) {
        auto& form = Wizard(f);
        StartSignIn(form);
        secretId = form.FSecretID;
        EXPECT_TRUE(std::regex_match(secretId, std::regex("[0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12}")))
            << secretId;
        EXPECT_FALSE(form.FSessionFlow);
        EXPECT_FALSE(form.pnlFirstStep.Visible);
        EXPECT_FALSE(form.btnAuthorize.Visible);
        EXPECT_TRUE(form.btnVerify.Visible);
        EXPECT_EQ(Opener.Opened(), std::vector<std::string>{Sandbox->Url() + "/signin?runame=" +
                                                            KovaGadgetRuName + "&SessID=" + secretId});

        Verify(form, "btnVerify"); // before the user signed in
        EXPECT_EQ(form.lblFinishedTitle.Caption, "Authorization not completed.");
        EXPECT_EQ(form.lblFinishedResult.Caption, FailedResult);
        EXPECT_TRUE(form.lblErrorHint.Visible && form.lblErrorHintText.Visible && form.btnRetry.Visible);
        EXPECT_EQ(form.btnCancel.Caption, "Cancel");
        EXPECT_EQ(Errors, std::vector<std::string>{""}) << "a refused fetch is a parse failure: no text";

        Sandbox->SignIn("demo", secretId);
        Verify(form, "btnRetry");
        EXPECT_EQ(form.lblFinishedTitle.Caption, "Process succeeded.");
        EXPECT_EQ(form.lblFinishedResult.Caption, "Authorization of the program was completed successfully.");
        EXPECT_FALSE(form.btnRetry.Visible || form.lblErrorHint.Visible || form.pnlSecondStep.Visible);
        EXPECT_EQ(form.btnCancel.Caption, "&Close");
        EXPECT_TRUE(form.Click("btnCancel"));
    });
    ASSERT_TRUE(Authorise());
    EXPECT_EQ(Info.Token.rfind("AgAAAA**", 0), 0u) << Info.Token;
    const auto fetches = Bodies(*Sandbox, "FetchToken");
    ASSERT_EQ(fetches.size(), 2u);
    for (const std::string& body : fetches) {
        EXPECT_NE(body.find("<SecretID>" + secretId + "</SecretID>"), std::string::npos)
            << "Retry reuses the id";
        EXPECT_NE(body.find("<Username>demo</Username>"), std::string::npos);
    }
}

TEST_F(WizardTest, AFetchThatFailsVerificationNamesTheCertificate) {
    Host.Then([&](TForm& f) {
        auto& form = Wizard(f);
        StartSignIn(form);
        Sandbox->Fault({{"kind", "badcert"}});
        Verify(form, "btnVerify");
        EXPECT_EQ(form.lblFinishedTitle.Caption, "Authorization not completed.");
        EXPECT_EQ(Errors, std::vector<std::string>{CertificateFailureMessage});
        EXPECT_TRUE(form.Click("btnCancel"));
    });
    EXPECT_FALSE(Authorise());
}

TEST_F(WizardTest, EbaysSessionIdReplacesTheSecretIdAndTheCloseBoxAfterSuccessStillReturnsCancel) {
    Host.Then([&](TForm& f) {
        auto& form = Wizard(f);
        StartSignIn(form);
        EXPECT_TRUE(form.FSessionFlow);
        EXPECT_EQ(Opener.Opened().at(0),
                  Sandbox->Url() + "/signin?runame=" + KovaGadgetRuName + "&SessID=" + form.FSecretID);
        Sandbox->SignIn("demo", form.FSecretID);
        Verify(form, "btnVerify");
        EXPECT_EQ(form.btnCancel.Caption, "&Close");
        form.Close();
    });
    EXPECT_FALSE(Authorise());
    EXPECT_FALSE(Info.Token.empty()) << "the token stays in the login info";
    EXPECT_TRUE(Errors.empty());
    const auto sessions = Bodies(*Sandbox, "GetSessionID");
    ASSERT_EQ(sessions.size(), 1u);
    EXPECT_NE(sessions[0].find(std::string("<RuName>") + KovaGadgetRuName + "</RuName>"), std::string::npos);
    const auto fetches = Bodies(*Sandbox, "FetchToken");
    ASSERT_EQ(fetches.size(), 1u);
    EXPECT_NE(fetches[0].find("<SessionID>"), std::string::npos) << fetches[0];
    EXPECT_EQ(fetches[0].find("SecretID"), std::string::npos) << fetches[0];
}

TEST_F(WizardTest, ATokenOfAnotherAccountOrOfNoKnownAccountIsRefusedAndNothingIsKept) {
    const std::string demoId = Sandbox->UserID("demo");
    struct TCase {
        const char* Typed;  // the login data's user name
        const char* Signer; // who signs in on eBay's page
        bool GetUserFails;
        const char* Cause; // the start of the failure line, empty for a success
    } cases[] = {
        {"demo", "other", false, "Reason: This sign-in belongs to the eBay user other, not demo."},
        {"demo", "demo", true, "Reason: eBay did not say whose sign-in this is: "},
        {"DEMO", "demo", false, ""},
    };
    for (const TCase& c : cases) {
        Info.UserName = c.Typed;
        Info.Token.clear();
        Info.Account = {};
        Errors.clear();
        if (c.GetUserFails) Sandbox->Fault({{"call", "GetUser"}, {"kind", "status"}, {"status", 503}});
        Host.Then([&](TForm& f) {
            auto& form = Wizard(f);
            StartSignIn(form);
            Sandbox->SignIn(c.Signer, form.FSecretID);
            Verify(form, "btnVerify");
            EXPECT_EQ(form.lblFailureCause.Caption.rfind(c.Cause, 0), 0u) << form.lblFailureCause.Caption;
            EXPECT_EQ(form.lblFailureCause.Visible, *c.Cause != 0) << c.Signer;
            f.Click("btnCancel");
        });
        EXPECT_EQ(Authorise(), *c.Cause == 0) << c.Signer;
        EXPECT_EQ(Info.Token.empty(), *c.Cause != 0) << "a refused sign-in keeps no token";
        EXPECT_EQ(Errors.empty(), *c.Cause == 0);
        if (*c.Cause == 0) {
            EXPECT_EQ(Info.Account, (TEbayAccount{"demo", demoId}));
            EXPECT_TRUE(Info.AccountCurrent);
        } else {
            EXPECT_TRUE(Info.Account.Empty());
        }
    }
    EXPECT_EQ(Bodies(*Sandbox, "GetUser").size(), 3u) << "one GetUser after each token";
}

TEST_F(WizardTest, CancelAtEveryStepReturnsFalseWithoutAToken) {
    const std::vector<std::function<void(TfrmKovaGadgetAuthorize&)>> steps = {
        [](TfrmKovaGadgetAuthorize&) {},
        [](TfrmKovaGadgetAuthorize& form) { StartSignIn(form); },
        [](TfrmKovaGadgetAuthorize& form) {
            StartSignIn(form);
            Verify(form, "btnVerify");
            EXPECT_TRUE(form.btnRetry.Visible);
        },
    };
    for (size_t step = 0; step < steps.size(); ++step) {
        Host.Then([&, step](TForm& f) {
            steps[step](Wizard(f));
            EXPECT_TRUE(f.Click("btnCancel"));
        });
        EXPECT_FALSE(Authorise()) << "step " << step;
        EXPECT_EQ(Info.Token, "") << "step " << step;
    }
}

TEST_F(WizardTest, AWizardClosedWhileItsTokenThreadRunsNeverHearsFromIt) {
    Sandbox->Fault({{"call", "FetchToken"}, {"kind", "delay"}, {"ms", 1500}});
    Host.Then([&](TForm& f) {
        auto& form = Wizard(f);
        StartSignIn(form);
        Sandbox->SignIn("demo", form.FSecretID);
        EXPECT_TRUE(form.Click("btnVerify"));
        EXPECT_TRUE(form.Click("btnCancel")); // while the token is on its way
    });
    EXPECT_FALSE(Authorise());
    RunUntil([] { return TThreadBase::LiveCount() == 0; });
    EXPECT_EQ(Info.Token, "");
    EXPECT_TRUE(Errors.empty());
    EXPECT_EQ(Bodies(*Sandbox, "FetchToken").size(), 1u) << "the thread did run to its end";
}

TEST_F(WizardTest, SignInLinkTemplatesRedirectNamesAndTheSwingingBar) {
    TGadgetDirectoryOptions options = SandboxGadget(*Sandbox);
    options.LinkFetchTokenSignIn = "https://signin.example/ws?SignIn&runame=MYRUNAME&again=MYRUNAME";
    TGadgetTestDirectory other(options);
    FreeGadgetDat();
    LoadGadgetDat(other.Home(), "");
    SetRuName("Own-RuName");
    EXPECT_EQ(RuName(), "Own-RuName");
    Host.Then([&](TForm& f) { StartSignIn(Wizard(f)); });
    EXPECT_FALSE(Authorise());
    EXPECT_EQ(Opener.Opened(), std::vector<std::string>{
                                   "https://signin.example/ws?SignIn&runame=Own-RuName&again=Own-RuName"});
    SetRuName("");
    EXPECT_EQ(RuName(), KovaGadgetRuName);

    TfrmKovaGadgetAuthorize form;
    FreeGadgetDat();
    LoadGadgetDat(Gadget.Home(), "");
    form.FSecretID = "a+b/c=";
    EXPECT_EQ(form.BuildSignInLink("R"), Sandbox->Url() + "/signin?runame=R&SessID=a%2Bb%2Fc%3D");
    EXPECT_NE(TfrmKovaGadgetAuthorize::NewSecretID(), TfrmKovaGadgetAuthorize::NewSecretID());

    std::vector<int> positions;
    form.StartProgress();
    EXPECT_TRUE(form.tmrProgress.Enabled);
    EXPECT_EQ(form.tmrProgress.Interval, 100);
    for (int tick = 0; tick < 13; ++tick) {
        form.TimerTick("tmrProgress");
        positions.push_back(form.FProgressBar->Position);
    }
    EXPECT_EQ(positions, (std::vector<int>{10, 20, 30, 40, 50, 60, 70, 80, 90, 100, 90, 80, 70}));
    form.StopProgress();
    EXPECT_FALSE(form.tmrProgress.Enabled || form.FProgressBar->Visible);
}

} // namespace

namespace {

// Each way a sign-in fails: the design's texts stay, and one line under them says why.
TEST_F(WizardTest, AFailedSignInNamesItsCauseUnderTheDesignsTexts) {
    const std::string refusedSession =
        "<?xml version=\"1.0\"?><GetSessionIDResponse><Ack>Failure</Ack><Errors><ShortMessage>Invalid RuName."
        "</ShortMessage><ErrorCode>37</ErrorCode><SeverityCode>Error</SeverityCode></Errors>"
        "</GetSessionIDResponse>";
    // eBay's text is cut to the line's room, between characters.
    const std::string longRefusal =
        "<?xml version=\"1.0\"?><FetchTokenResponse><Ack>Failure</Ack><Errors><ShortMessage>" +
        std::string(97, 'a') +
        "\xC3\xA4\xC3\xA4</ShortMessage><ErrorCode>999</ErrorCode><SeverityCode>Error</SeverityCode></Errors>"
        "</FetchTokenResponse>";
    const std::string notSignedIn =
        "Reason: Error on API call (The end user has not completed Auth & Auth sign in flow.).";
    const std::string noRuName = "No RuName was given: with application keys of your own, start kova-gadget "
                                 "with --runame YOUR-RUNAME.";
    struct TCase {
        const char* What;
        std::function<void()> Arrange;  // before "Authorize on eBay"
        std::function<void()> OnVerify; // before "Verify Now"
        std::string SessionLine;        // the second step's line; empty when it stays hidden
        std::string FailureLine;
    };
    const TCase cases[] = {
        {"verified before the sign-in", [] {}, [] {}, "", notSignedIn},
        {"no connection", [] {},
         [] {
             Sandbox->Fault({{"call", "FetchToken"}, {"kind", "drop"}});
         },
         "", "Reason: Internet error! Message: \"The connection to the server was lost\"."},
        {"a certificate nobody trusts", [] {},
         [] {
             Sandbox->Fault({{"kind", "badcert"}});
         },
         "", std::string("Reason: ") + CertificateFailureMessage},
        {"a long refusal", [] {},
         [&] {
             Sandbox->Fault({{"call", "FetchToken"}, {"kind", "xml"}, {"body", longRefusal}});
         },
         "", "Reason: Error on API call (" + std::string(97, 'a') + "..."},
        {"eBay's error page", [] {},
         [] {
             Sandbox->Fault({{"call", "FetchToken"}, {"kind", "status"}, {"status", 503}});
         },
         "", "Reason: " + TKovaWatchList::InternetStatusMessage(iyServiceUnavailable)},
        {"a session refused without a RuName",
         [&] {
             Sandbox->Fault({{"call", "GetSessionID"}, {"kind", "xml"}, {"body", refusedSession}});
         },
         [] {},
         "eBay gave no sign-in session, so the sign-in uses a secret id of the gadget's own. Reason: Error "
         "on "
         "API call (Invalid RuName.).\n" +
             noRuName,
         notSignedIn + "\n" + noRuName},
        {"a RuName eBay does not know", [] { SetRuName("Not-Registered"); }, [] {},
         "eBay gave no sign-in session, so the sign-in uses a secret id of the gadget's own. Reason: Error "
         "on "
         "API call (Input data is invalid.).",
         notSignedIn},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.What);
        Sandbox->Reset();
        c.Arrange();
        Host.Then([&](TForm& f) {
            auto& form = Wizard(f);
            StartSignIn(form);
            EXPECT_EQ(form.lblSessionCause.Visible, !c.SessionLine.empty());
            if (!c.SessionLine.empty()) {
                EXPECT_EQ(form.lblSessionCause.Caption, c.SessionLine);
            }
            c.OnVerify();
            Verify(form, "btnVerify");
            EXPECT_EQ(form.lblFinishedTitle.Caption, "Authorization not completed.");
            EXPECT_EQ(form.lblFinishedResult.Caption, FailedResult);
            EXPECT_TRUE(form.lblErrorHintText.Visible && form.lblFailureCause.Visible);
            EXPECT_EQ(form.lblFailureCause.Caption, c.FailureLine);
            // A later success leaves no cause behind.
            Sandbox->SignIn("demo", form.FSecretID);
            Verify(form, "btnRetry");
            EXPECT_EQ(form.lblFinishedTitle.Caption, "Process succeeded.");
            EXPECT_FALSE(form.lblFailureCause.Visible);
            EXPECT_TRUE(form.Click("btnCancel"));
        });
        EXPECT_TRUE(Authorise());
        Info.Token.clear();
        SetRuName("");
    }
}

} // namespace
