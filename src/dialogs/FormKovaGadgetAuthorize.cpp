#include "dialogs/FormKovaGadgetAuthorize.h"

#include "base/UnitExceptions.h"
#include "base/UnitUtils.h"
#include "ebayapi/UnitOAuthClient.h"
#include "platform/UnitPlatformClock.h"
#include "storage/UnitKovaDat.h"
#include "storage/UnitKovaeBayLogin.h"
#include "support/UnitKovaOpenURL.h"
#include "support/UnitLogging.h"
#include "watchlist/UnitKovaThreads.h"
#include "watchlist/UnitKovaWatchList.h"

#include <algorithm>
#include <cctype>
#include <mutex>
#include <uuid/uuid.h>

namespace {

const char* const SCaption = "Authorise Gadget on eBay";
const char* const SNote = "Note:";
const char* const SFirstStepTitle = "1st Step";
const char* const SFirstStepText =
    "In order to retrieve your \"My eBay\" data, it is necessary to login at eBay and authorize the program "
    "in accoradance with its Terms and Conditions of Use and with its Data Privacy Protection.";
const char* const SRevokeText =
    "This authorization can be revoked at any time on the eBay homepage under \"My "
    "eBay | My Account | Preferences | General Preferences | Third-party "
    "authorizations\".";
const char* const SNoteImportText = "Choosing not to authorize the program will disable the function for "
                                    "importing the \"My eBay\" watchlist.";
const char* const SNoteExpireText = "If you don't save your eBay access information to hard disk, the eBay "
                                    "authorization will also expire  for security reasons.";
const char* const SSecondStepTitle = "2nd Step";
const char* const SSecondStepText =
    "The eBay login page should now have been opened in the designated browser. Please login using your data "
    "and confirm that the program is authorized.";
const char* const SSecondStepHint =
    "Once you have completed authorizing the program on eBay click on \"Test now\".";
const char* const SEndedTitle = "Ended";
const char* const SEndedResult =
    "The operation was completed successfully. It is now possible to operate the "
    "program using your access data.";
const char* const SErrorHintText =
    "If continued attempts to authorise the program fail, it may be necessary to explicitly authourize the "
    "program. This is done on the eBay homepage under \"My eBay | My Account | Preferences | General "
    "Preferences | Third-party authorizations\". Here, the program should be listed and must be explicitly "
    "authorized.";
const char* const SSucceededResult = "Authorization of the program was completed successfully.";
const char* const SSucceededTitle = "Process succeeded.";
const char* const SFailedResult = "The program was not properly authorized.\r\n\r\nPlease execute the "
                                  "process again by pressing \"Repeat\".";
const char* const SFailedTitle = "Authorization not completed.";
const char* const SCancel = "Cancel";
const char* const SClose = "&Close";
const char* const SAuthorize = "Authorize on eBay";
const char* const SVerify = "Verify Now";
const char* const SRetry = "Retry";
// The lines under the design's texts that say why a step failed.
const char* const SFailureCause = "Reason: %s";
const char* const SNoSession =
    "eBay gave no sign-in session, so the sign-in uses a secret id of the gadget's own. Reason: %s";
const char* const SNoRuName =
    "No RuName was given: with application keys of your own, start kova-gadget with --runame YOUR-RUNAME.";
const char* const SLandingAddress = "Paste the address of the page eBay showed after you agreed";
const char* const SCodeExpired = "The code has expired: eBay's codes last about 5 minutes. Choose \"Retry\", "
                                 "agree again and paste the new "
                                 "address.";
const char* const SPasteWholeAddress = "Paste the whole address of the page eBay showed";
constexpr uint64_t CodeLifeMs = 5 * 60 * 1000;
// A cause from an answer is cut to what the line's room shows.
constexpr size_t CauseLimit = 120;

constexpr int FormWidth = 480;
constexpr int PageHeight = 279;
constexpr int BottomHeight = 41;

std::mutex GRuNameLock;
std::string GRuName = KovaGadgetRuName;
bool GRuNameGiven = false;

// Why a worker's call did not give what the wizard asked for: the transport's or eBay's text.
std::string CauseLine(std::string cause);

std::string FailureCause(const TThreadBase& thread) {
    std::string cause = thread.FErrorText;
    if (cause.empty() && !thread.FCallSucceeded)
        cause = TKovaWatchList::InternetStatusMessage(thread.FErrorCode);
    if (cause.empty()) cause = GetParserResultMessage(TParserResultCode::prDataParseFailed);
    return CauseLine(std::move(cause));
}

// Why the account of a sign-in cannot be taken: eBay could not say whose it is, it is another user's, or a
// bare code came from a sign-in that eBay named by id only, which nothing ties to this wizard. Empty when
// the account is the login data's user.
std::string AccountRefusal(const TEbayAccountLookup& lookup, const std::string& userName, bool bareCode) {
    if (!lookup.Succeeded) return lookup.FailureText;
    if (AccountDiffers(lookup.Account, userName)) return AccountMismatchText(lookup.Account, userName);
    if (bareCode && lookup.Account.Name.empty()) return SPasteWholeAddress;
    return {};
}

// The cause on one line, cut to the line's room.
std::string CauseLine(std::string cause) {
    for (char& c : cause)
        if (c == '\r' || c == '\n') c = ' ';
    if (cause.size() > CauseLimit) {
        // Cut between characters, never inside one.
        size_t end = CauseLimit - 3;
        while (end > 0 && (static_cast<unsigned char>(cause[end]) & 0xC0) == 0x80)
            --end;
        cause = cause.substr(0, end) + "...";
    }
    return cause;
}

TComponent& Captioned(TComponent& c, const char* caption) {
    c.Caption = caption;
    return c;
}

TComponent& Title(TComponent& c, const char* caption) {
    c.Caption = caption;
    c.Font.Size = 12;
    c.Font.Bold = true;
    return c;
}

TComponent& Note(TComponent& c) {
    c.Caption = SNote;
    c.Font.Bold = true;
    return c;
}

} // namespace

// The redirect name of the application data, empty when it names none.
std::string DatRuName() {
    const TKovaGadgetDat* dat = GadgetDat();
    return dat ? Trim(dat->SignIn().RUNAME) : std::string();
}

std::string RuName() {
    {
        std::lock_guard lock(GRuNameLock);
        if (GRuNameGiven) return GRuName;
    }
    const std::string fromDat = DatRuName();
    return fromDat.empty() ? std::string(KovaGadgetRuName) : fromDat;
}

bool RuNameGiven() {
    {
        std::lock_guard lock(GRuNameLock);
        if (GRuNameGiven) return true;
    }
    return !DatRuName().empty();
}

void SetRuName(const std::string& ruName) {
    std::lock_guard lock(GRuNameLock);
    GRuNameGiven = !Trim(ruName).empty();
    GRuName = GRuNameGiven ? Trim(ruName) : std::string(KovaGadgetRuName);
}

TfrmKovaGadgetAuthorize::TfrmKovaGadgetAuthorize()
    : TForm("frmKovaGadgetAuthorize", SCaption, FormWidth, PageHeight + BottomHeight),
      pnlFirstStep(Add(TComponentKind::Panel, "pnlFirstStep", "", {0, 0, FormWidth, PageHeight})),
      lblFirstStepTitle(Title(Add(TComponentKind::Label, "lblFirstStepTitle", "pnlFirstStep", {16, 12, 0, 0}),
                              SFirstStepTitle)),
      lblFirstStepText(Captioned(
          Add(TComponentKind::Label, "lblFirstStepText", "pnlFirstStep", {16, 44, 448, 52}), SFirstStepText)),
      lblRevokeText(Captioned(Add(TComponentKind::Label, "lblRevokeText", "pnlFirstStep", {16, 104, 448, 40}),
                              SRevokeText)),
      lblNoteImport(Note(Add(TComponentKind::Label, "lblNoteImport", "pnlFirstStep", {16, 156, 0, 0}))),
      lblNoteImportText(
          Captioned(Add(TComponentKind::Label, "lblNoteImportText", "pnlFirstStep", {64, 156, 400, 40}),
                    SNoteImportText)),
      lblNoteExpire(Note(Add(TComponentKind::Label, "lblNoteExpire", "pnlFirstStep", {16, 208, 0, 0}))),
      lblNoteExpireText(
          Captioned(Add(TComponentKind::Label, "lblNoteExpireText", "pnlFirstStep", {64, 208, 400, 40}),
                    SNoteExpireText)),
      pnlSecondStep(Add(TComponentKind::Panel, "pnlSecondStep", "", {0, 0, FormWidth, PageHeight})),
      lblSecondStepTitle(
          Title(Add(TComponentKind::Label, "lblSecondStepTitle", "pnlSecondStep", {16, 12, 0, 0}),
                SSecondStepTitle)),
      lblSecondStepText(
          Captioned(Add(TComponentKind::Label, "lblSecondStepText", "pnlSecondStep", {16, 44, 448, 52}),
                    SSecondStepText)),
      lblSecondStepHint(
          Captioned(Add(TComponentKind::Label, "lblSecondStepHint", "pnlSecondStep", {16, 104, 448, 40}),
                    SSecondStepHint)),
      pnlSecondStepInner(
          Add(TComponentKind::Panel, "pnlSecondStepInner", "pnlSecondStep", {16, 152, 448, 100})),
      lblSessionCause(Add(TComponentKind::Label, "lblSessionCause", "pnlSecondStep", {16, 152, 448, 100})),
      lblLandingAddress(
          Captioned(Add(TComponentKind::Label, "lblLandingAddress", "pnlSecondStep", {16, 152, 448, 20}),
                    SLandingAddress)),
      edtLandingAddress(Add(TComponentKind::Edit, "edtLandingAddress", "pnlSecondStep", {16, 176, 448, 21})),
      pnlFinished(Add(TComponentKind::Panel, "pnlFinished", "", {0, 0, FormWidth, PageHeight})),
      lblFinishedTitle(
          Title(Add(TComponentKind::Label, "lblFinishedTitle", "pnlFinished", {16, 12, 0, 0}), SEndedTitle)),
      lblFinishedResult(Captioned(
          Add(TComponentKind::Label, "lblFinishedResult", "pnlFinished", {16, 44, 448, 64}), SEndedResult)),
      lblErrorHint(Note(Add(TComponentKind::Label, "lblErrorHint", "pnlFinished", {16, 124, 0, 0}))),
      lblErrorHintText(Captioned(
          Add(TComponentKind::Label, "lblErrorHintText", "pnlFinished", {64, 124, 400, 92}), SErrorHintText)),
      lblFailureCause(Add(TComponentKind::Label, "lblFailureCause", "pnlFinished", {16, 220, 448, 56})),
      pnlBottom(Add(TComponentKind::Panel, "pnlBottom", "", {0, PageHeight, FormWidth, BottomHeight})),
      btnCancel(Captioned(Add(TComponentKind::Button, "btnCancel", "pnlBottom", {397, 8, 75, 25}), SCancel)),
      btnAuthorize(
          Captioned(Add(TComponentKind::Button, "btnAuthorize", "pnlBottom", {249, 8, 140, 25}), SAuthorize)),
      btnVerify(Captioned(Add(TComponentKind::Button, "btnVerify", "pnlBottom", {289, 8, 100, 25}), SVerify)),
      btnRetry(Captioned(Add(TComponentKind::Button, "btnRetry", "pnlBottom", {289, 8, 100, 25}), SRetry)),
      tmrProgress(Add(TComponentKind::Timer, "tmrProgress", "", {})), FLink(std::make_shared<TLink>()) {
    Position = TFormPosition::DesktopCenter;
    FLink->Form = this;
    pnlSecondStep.Visible = false;
    pnlSecondStepInner.Visible = false;
    pnlFinished.Visible = false;
    lblErrorHint.Visible = false;
    lblErrorHintText.Visible = false;
    lblSessionCause.Visible = false;
    lblFailureCause.Visible = false;
    const TKovaGadgetDat* dat = GadgetDat();
    FOAuth = dat && dat->SignIn().UsesOAuth();
    lblLandingAddress.Visible = FOAuth;
    edtLandingAddress.Visible = FOAuth;
    edtLandingAddress.TabOrder = 0;
    btnVerify.Visible = false;
    btnRetry.Visible = false;
    btnCancel.ModalResult = mrCancel;
    btnCancel.TabOrder = 2;
    btnAuthorize.TabOrder = 0;
    btnVerify.TabOrder = 0;
    btnRetry.TabOrder = 1;
    // Enter takes the step's own button (one shows at a time), Escape cancels.
    btnAuthorize.Default = true;
    btnVerify.Default = true;
    btnRetry.Default = true;
    btnCancel.Cancel = true;
    btnAuthorize.OnClick = [this] { btnAuthorizeClick(); };
    btnVerify.OnClick = [this] { btnVerifyClick(); };
    btnRetry.OnClick = [this] { btnRetryClick(); };
    tmrProgress.Interval = 100;
    tmrProgress.OnTimer = [this] { tmrProgressTimer(); };
    ActiveControl = btnAuthorize.Name;
    CreateProgressBar();
}

TfrmKovaGadgetAuthorize::~TfrmKovaGadgetAuthorize() {
    // Notifications run on the main thread, as this destructor does: after this line none reaches the form.
    FLink->Form = nullptr;
}

void TfrmKovaGadgetAuthorize::CreateProgressBar() {
    TComponent& bar = Add(TComponentKind::ProgressBar, "FProgressBar", pnlBottom.Name,
                          {8, btnVerify.Bounds.Top + 5,
                           pnlBottom.Bounds.Width - btnCancel.Bounds.Width - btnRetry.Bounds.Width - 30,
                           btnVerify.Bounds.Height - 10});
    bar.Visible = false;
    bar.BarColor = RGBColor(250, 166, 25);
    bar.BarBackColor = RGBColor(213, 219, 228);
    bar.Color = clDefault; // the system's button face
    bar.Min = 0;
    bar.Max = 100;
    bar.Position = 0;
    FProgressBar = &bar;
    FProgressWidth = bar.Bounds.Width;
}

void TfrmKovaGadgetAuthorize::FitProgressBar() {
    // The designed width reaches under "Authorize on eBay", which stays in view, disabled, while the session
    // id is asked for: the bar then ends one margin before the first button it would cover.
    TComponent& bar = *FProgressBar;
    const int margin = bar.Bounds.Left;
    int right = margin + FProgressWidth;
    for (const TComponent* button : {&btnAuthorize, &btnVerify, &btnRetry, &btnCancel})
        if (button->Visible && button->Bounds.Left < right) right = button->Bounds.Left - margin;
    bar.Bounds.Width = std::max(0, right - margin);
}

void TfrmKovaGadgetAuthorize::StartProgress() {
    if (tmrProgress.Enabled) return;
    FitProgressBar();
    FProgressBar->Position = 0;
    FProgressStep = 10;
    tmrProgress.Enabled = true;
    FProgressBar->Visible = true;
    Changed();
}

void TfrmKovaGadgetAuthorize::StopProgress() {
    tmrProgress.Enabled = false;
    FProgressBar->Visible = false;
    Changed();
}

void TfrmKovaGadgetAuthorize::tmrProgressTimer() {
    TComponent& bar = *FProgressBar;
    bar.Position += FProgressStep;
    if (bar.Position >= bar.Max) {
        bar.Position = bar.Max;
        FProgressStep = -10;
    } else if (bar.Position <= bar.Min) {
        bar.Position = bar.Min;
        FProgressStep = 10;
    }
    Changed();
}

std::string TfrmKovaGadgetAuthorize::NewSecretID() {
    uuid_t id;
    uuid_generate(id);
    char text[37] = {};
    uuid_unparse_upper(id, text);
    return StringReplaceAll(StringReplaceAll(text, "{", ""), "}", "");
}

std::string TfrmKovaGadgetAuthorize::BuildSignInLink(const std::string& redirectName) const {
    const TKovaGadgetDat* dat = GadgetDat();
    if (!dat) throw Exception("TfrmKovaGadgetAuthorize.BuildSignInLink: the application data are not loaded");
    return StringReplaceAll(StringReplaceAll(dat->Common().LINKFETCHTOKENSIGNIN, "MYRUNAME", redirectName),
                            "USERSID", QueryEncode(FSecretID));
}

void TfrmKovaGadgetAuthorize::btnAuthorizeClick() {
    if (FAskingSession) return;
    if (FOAuth) {
        OpenConsent();
        ShowSecondStep();
        return;
    }
    // eBay hands out the sign-in session itself today; a GUID of ours remains the way when it will not.
    try {
        auto thread = std::make_unique<TThreadGetSessionID>();
        thread->FRuName = RuName();
        thread->FreeOnTerminate = true;
        thread->OnTerminate = [link = FLink](TThread& finished) {
            if (link->Form) link->Form->OnThreadFinishSession(static_cast<TThreadGetSessionID&>(finished));
        };
        thread->Start();
        thread.release();
        FAskingSession = true;
        btnAuthorize.Enabled = false;
        StartProgress();
    } catch (const std::exception& e) {
        LogException(e, "TfrmKovaGadgetAuthorize.btnAuthorizeClick");
        FSecretID = NewSecretID();
        FSessionFlow = false;
        OpenSignIn();
    }
}

void TfrmKovaGadgetAuthorize::OnThreadFinishSession(TThreadGetSessionID& thread) {
    FAskingSession = false;
    btnAuthorize.Enabled = true;
    StopProgress();
    if (thread.FCallSucceeded && thread.FParseSucceeded && !thread.FSessionID.empty()) {
        FSecretID = thread.FSessionID;
        FSessionFlow = true;
        FSessionRefused = false;
        FSessionCause.clear();
    } else {
        Log("GetSessionID not successful; signing in with a secret id of our own", lmkWarning);
        FSecretID = NewSecretID();
        FSessionFlow = false;
        FSessionRefused = true;
        // A redirect name that eBay does not know for these keys ends here first; the user must hear of it.
        FSessionCause = Format(SNoSession, {FailureCause(thread)});
        if (!RuNameGiven()) FSessionCause += std::string("\n") + SNoRuName;
    }
    lblSessionCause.Caption = FSessionCause;
    lblSessionCause.Visible = !FSessionCause.empty();
    OpenSignIn();
}

void TfrmKovaGadgetAuthorize::OpenSignIn() {
    try {
        OpenURL(BuildSignInLink(RuName()));
    } catch (const std::exception& e) {
        LogException(e, "TfrmKovaGadgetAuthorize.btnAuthorizeClick");
    }
    ShowSecondStep();
}

std::string TfrmKovaGadgetAuthorize::BuildConsentLink() const {
    const TKovaGadgetDat* dat = GadgetDat();
    if (!dat)
        throw Exception("TfrmKovaGadgetAuthorize.BuildConsentLink: the application data are not loaded");
    return BuildOAuthConsentURL(dat->SignIn().OAUTHCONSENTURL, dat->EbayAPI().APIAppID, RuName(),
                                dat->SignIn().ConsentScopes(), FOAuthState);
}

void TfrmKovaGadgetAuthorize::OpenConsent() {
    // A state of its own for every consent: a landing address of another wizard or an older try is refused.
    FOAuthState = NewSecretID();
    FConsentOpened = GetTickCount64();
    edtLandingAddress.Text.clear();
    try {
        OpenURL(BuildConsentLink());
    } catch (const std::exception& e) {
        LogException(e, "TfrmKovaGadgetAuthorize.btnAuthorizeClick");
    }
}

void TfrmKovaGadgetAuthorize::ShowSecondStep() {
    pnlFirstStep.Visible = false;
    btnAuthorize.Visible = false;
    btnVerify.Visible = true;
    pnlSecondStep.Visible = true;
    pnlFinished.Visible = false;
    lblErrorHint.Visible = false;
    lblErrorHintText.Visible = false;
    btnRetry.Visible = false;
    ActiveControl = FOAuth ? edtLandingAddress.Name : btnVerify.Name;
    Changed();
}

void TfrmKovaGadgetAuthorize::btnVerifyClick() {
    // One fetch at a time: a second click meanwhile would only race the first one's answer.
    if (FFetching) return;
    if (FOAuth) return FetchOAuthTokens();
    btnVerify.Visible = false;
    StartProgress();
    FetchToken();
}

void TfrmKovaGadgetAuthorize::btnRetryClick() {
    if (!FOAuth) return btnVerifyClick();
    if (FFetching) return;
    // A spent code cannot serve again: only a new consent gives another.
    if (FCodeSpent) OpenConsent();
    ShowSecondStep();
}

void TfrmKovaGadgetAuthorize::FetchOAuthTokens() {
    const TPastedCode pasted = ReadPastedOAuthCode(edtLandingAddress.Text, FOAuthState);
    if (pasted.Code.empty()) {
        FCodeSpent = false;
        FFailureCause = Format(SFailureCause, {CauseLine(pasted.Error)});
        if (FOnError) FOnError(pasted.Error);
        ShowPanelFinished(false);
        return;
    }
    try {
        auto thread = std::make_unique<TThreadFetchOAuthTokens>();
        thread->FreeOnTerminate = true;
        thread->FCode = pasted.Code;
        FBareCode = pasted.Bare;
        thread->FRuName = RuName();
        thread->OnTerminate = [link = FLink](TThread& finished) {
            if (link->Form) link->Form->OnThreadFinishOAuth(static_cast<TThreadFetchOAuthTokens&>(finished));
        };
        thread->Start();
        thread.release();
        FFetching = true;
        btnVerify.Visible = false;
        StartProgress();
    } catch (const std::exception& e) {
        LogException(e, "TfrmKovaGadgetAuthorize.btnVerifyClick");
    }
}

void TfrmKovaGadgetAuthorize::OnThreadFinishOAuth(TThreadFetchOAuthTokens& thread) {
    FFetching = false;
    FCodeSpent = true;
    bool success = thread.FCallSucceeded && !thread.FTokens.RefreshToken.empty();
    std::string cause;
    if (!success) {
        cause = thread.FInvalidGrant && GetTickCount64() - FConsentOpened > CodeLifeMs
                    ? std::string(SCodeExpired)
                    : FailureCause(thread);
        Log("The OAuth code could not be exchanged: " + cause, lmkWarning);
    } else {
        // Tokens of another account must not be kept under this user's name: nothing is saved then.
        cause = AccountRefusal(thread.FAccountLookup, FLogInInfo ? FLogInInfo->UserName : "", FBareCode);
        success = cause.empty();
        if (!success) Log("The OAuth sign-in is refused: " + cause, lmkWarning);
    }
    FFailureCause = success ? std::string() : Format(SFailureCause, {CauseLine(cause)});
    if (success) {
        if (FLogInInfo) {
            FLogInInfo->OAuth = thread.FTokens;
            FLogInInfo->Account = thread.FAccountLookup.Account;
            FLogInInfo->AccountCurrent = true;
        }
    } else if (FOnError) {
        FOnError(cause);
    }
    ShowPanelFinished(success);
}

void TfrmKovaGadgetAuthorize::FetchToken() {
    try {
        auto thread = std::make_unique<TThreadFetchToken>();
        thread->FreeOnTerminate = true;
        thread->FUserName = FLogInInfo ? FLogInInfo->UserName : std::string();
        thread->FSecretID = FSecretID;
        if (FSessionFlow) thread->FSessionID = FSecretID;
        thread->OnTerminate = [link = FLink](TThread& finished) {
            if (link->Form) link->Form->OnThreadFinishSearch(static_cast<TThreadFetchToken&>(finished));
        };
        thread->Start();
        thread.release();
        FFetching = true;
    } catch (...) {
        // The bar keeps running; the user can still cancel.
    }
}

void TfrmKovaGadgetAuthorize::OnThreadFinishSearch(TThreadFetchToken& thread) {
    FFetching = false;
    bool success = false;
    std::string refusal;
    if (thread.FCallSucceeded && thread.FParseSucceeded) {
        // A token of another account must not be kept under this user's name: nothing is saved then.
        refusal = AccountRefusal(thread.FAccountLookup, FLogInInfo ? FLogInInfo->UserName : "", false);
        success = refusal.empty();
        if (!success) Log("The sign-in is refused: " + refusal, lmkWarning);
    } else if (thread.FCallSucceeded) {
        Log("XMLParser.GetToken() not successful", lmkWarning);
        const int code = static_cast<int>(thread.FParserResult);
        if (code == 1)
            Log("No error message from parser", lmkWarning);
        else if (code == 5)
            Log("ErrorNodes not completely parsed", lmkWarning);
        else if (code >= 2 && code <= 10)
            Log("Unknown Parsing Error", lmkError);
    }
    FFailureCause = success            ? std::string()
                    : !refusal.empty() ? Format(SFailureCause, {CauseLine(refusal)})
                                       : Format(SFailureCause, {FailureCause(thread)});
    if (!success && refusal.empty() && FSessionRefused && !RuNameGiven())
        FFailureCause += std::string("\n") + SNoRuName;
    if (success) {
        if (FLogInInfo) {
            FLogInInfo->Token = thread.FToken;
            FLogInInfo->Account = thread.FAccountLookup.Account;
            FLogInInfo->AccountCurrent = true;
        }
    } else if (FOnError) {
        FOnError(!refusal.empty()             ? refusal
                 : thread.FCallSucceeded      ? std::string()
                 : !thread.FErrorText.empty() ? thread.FErrorText
                                              : TKovaWatchList::InternetStatusMessage(thread.FErrorCode));
    }
    ShowPanelFinished(success);
}

void TfrmKovaGadgetAuthorize::ShowPanelFinished(bool success) {
    lblErrorHint.Visible = false;
    lblErrorHintText.Visible = false;
    pnlSecondStep.Visible = false;
    btnVerify.Visible = false;
    pnlFinished.Visible = true;
    StopProgress();
    if (success) {
        lblFinishedResult.Caption = SSucceededResult;
        lblFinishedTitle.Caption = SSucceededTitle;
        btnRetry.Visible = false;
        lblFailureCause.Visible = false;
        btnCancel.Caption = SClose;
        btnCancel.ModalResult = mrOk;
        btnCancel.Default = true;
        ActiveControl = btnCancel.Name;
    } else {
        lblFinishedResult.Caption = SFailedResult;
        lblErrorHint.Visible = true;
        lblErrorHintText.Visible = true;
        lblFinishedTitle.Caption = SFailedTitle;
        lblFailureCause.Caption = FFailureCause;
        lblFailureCause.Visible = !FFailureCause.empty();
        btnRetry.Visible = true;
        ActiveControl = btnRetry.Name;
    }
    Changed();
}

bool TfrmKovaGadgetAuthorize::Authorise(TEbayLogInInfo* logInInfo, TErrorCallback onError) {
    if (!logInInfo) return false;
    const TKovaGadgetDat* dat = GadgetDat();
    // An OAuth login holds while its refresh token does; loads renew the access token.
    if (dat && dat->SignIn().UsesOAuth() ? !logInInfo->OAuth.RefreshToken.empty() : !logInInfo->Token.empty())
        return true;
    TfrmKovaGadgetAuthorize form;
    form.FLogInInfo = logInInfo;
    form.FOnError = std::move(onError);
    return form.ShowModal() == mrOk;
}
