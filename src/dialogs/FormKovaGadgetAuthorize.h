#pragma once
// The authorisation wizard: opens eBay's sign-in page for the application's redirect name, then fetches the
// token on a worker thread and puts it into the login info. With OAuth application data the first step
// opens eBay's consent page instead, and the second takes the address of the page eBay showed afterwards.

#include "dialogs/UnitFormModel.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class TEbayLogInInfo;
class TThread;
class TThreadFetchOAuthTokens;
class TThreadFetchToken;
class TThreadGetSessionID;

// The redirect name (RuName) registered for the gadget's own application keys; the demo's sandbox accepts
// it. A user with application keys of their own has their own redirect name and sets it with SetRuName.
constexpr const char* KovaGadgetRuName = "KovaGadget-KovaGadg-KovaSan-qzvnmbwa";
// The redirect name the wizard signs in with: the one SetRuName named (--runame), else the application
// data's "RUNAME", else KovaGadgetRuName.
std::string RuName();
// An empty name lets the application data's name or KovaGadgetRuName serve again.
void SetRuName(const std::string& ruName);
// Whether SetRuName or the application data named a redirect name of the user's own.
bool RuNameGiven();

class TfrmKovaGadgetAuthorize : public TForm {
public:
    // Told the failure text when a token fetch fails.
    using TErrorCallback = std::function<void(const std::string& message)>;

    TfrmKovaGadgetAuthorize();
    // A token thread still running never reaches this wizard afterwards: its notification is detached.
    ~TfrmKovaGadgetAuthorize() override;

    // False without login info; true at once when it holds a token (an OAuth login: a refresh token);
    // otherwise runs the wizard and returns whether it closed with OK.
    static bool Authorise(TEbayLogInInfo* logInInfo, TErrorCallback onError);

    // A new GUID as 36 upper-case characters without braces; empty when none could be made.
    static std::string NewSecretID();
    // "LINKFETCHTOKENSIGNIN" with every "MYRUNAME" replaced by the redirect name, then every "USERSID" by
    // FSecretID (escaped for a query where it needs to be; a GUID never does).
    std::string BuildSignInLink(const std::string& redirectName) const;

    void btnAuthorizeClick();
    // "Verify Now", and "Retry" of the token flow.
    void btnVerifyClick();
    // "Retry": the token flow verifies again; OAuth goes back to the second step, opening the consent page
    // again when the code was spent.
    void btnRetryClick();
    // The consent address of the application data with FOAuthState; raises without application data.
    std::string BuildConsentLink() const;
    void FetchToken();
    void OnThreadFinishSearch(TThreadFetchToken& thread);
    void ShowPanelFinished(bool success);
    void StartProgress();
    void StopProgress();
    void tmrProgressTimer();

    TEbayLogInInfo* FLogInInfo = nullptr;
    // The id of the current sign-in: eBay's session id when GetSessionID gave one, else a GUID of ours.
    std::string FSecretID;
    // Whether FSecretID came from GetSessionID, so that FetchToken sends it as the session id.
    bool FSessionFlow = false;
    TErrorCallback FOnError;
    // Whether the application data sign in with OAuth; fixed when the wizard is made.
    bool FOAuth = false;
    // The state sent to the consent page, which the pasted address must bring back.
    std::string FOAuthState;

    TComponent& pnlFirstStep;
    TComponent& lblFirstStepTitle;
    TComponent& lblFirstStepText;
    TComponent& lblRevokeText;
    TComponent& lblNoteImport;
    TComponent& lblNoteImportText;
    TComponent& lblNoteExpire;
    TComponent& lblNoteExpireText;
    TComponent& pnlSecondStep;
    TComponent& lblSecondStepTitle;
    TComponent& lblSecondStepText;
    TComponent& lblSecondStepHint;
    TComponent& pnlSecondStepInner;
    // Under the second step's texts: why eBay gave no sign-in session, and how to name a RuName.
    TComponent& lblSessionCause;
    // OAuth only: where the user pastes the landing page's address.
    TComponent& lblLandingAddress;
    TComponent& edtLandingAddress;
    TComponent& pnlFinished;
    TComponent& lblFinishedTitle;
    TComponent& lblFinishedResult;
    TComponent& lblErrorHint;
    TComponent& lblErrorHintText;
    // Under the failure's texts: why the token could not be fetched.
    TComponent& lblFailureCause;
    TComponent& pnlBottom;
    TComponent& btnCancel;
    TComponent& btnAuthorize;
    TComponent& btnVerify;
    TComponent& btnRetry;
    TComponent& tmrProgress;
    // Made by CreateProgressBar when the wizard is created.
    TComponent* FProgressBar = nullptr;

private:
    // The notifications of the wizard's threads go through this link, which the destructor cuts.
    struct TLink {
        TfrmKovaGadgetAuthorize* Form = nullptr;
    };

    void CreateProgressBar();
    // Sizes the bar to the room beside the buttons in view.
    void FitProgressBar();
    void OnThreadFinishSession(TThreadGetSessionID& thread);
    void OnThreadFinishOAuth(TThreadFetchOAuthTokens& thread);
    void FetchOAuthTokens();
    void OpenConsent();
    void ShowSecondStep();
    // Opens the sign-in page with FSecretID and moves to the second step.
    void OpenSignIn();

    std::shared_ptr<TLink> FLink;
    int FProgressStep = 10;
    int FProgressWidth = 0; // the designed width
    bool FSessionRefused = false;
    std::string FSessionCause;
    std::string FFailureCause;
    bool FAskingSession = false;
    bool FFetching = false;
    // Whether the code being exchanged was pasted without its address.
    bool FBareCode = false;
    // Whether the last OAuth failure came from the token endpoint, which spends the code.
    bool FCodeSpent = false;
    // When the consent page was opened (tick count), to tell an expired code.
    uint64_t FConsentOpened = 0;
};
