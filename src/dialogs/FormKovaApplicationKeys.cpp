#include "dialogs/FormKovaApplicationKeys.h"

#include "base/UnitExceptions.h"
#include "base/UnitUtils.h"
#include "dialogs/FormKovaGadgetAuthorize.h"
#include "platform/UnitPlatformMainThread.h"
#include "storage/UnitKovaDat.h"
#include "support/UnitFileUtils.h"
#include "support/UnitKovaOpenURL.h"
#include "support/UnitLogging.h"
#include "watchlist/UnitKovaThreads.h"

const char* const ApplicationKeysNeededMessage =
    "eBay application keys are needed to load the watch list: enter them in the form \"eBay application "
    "keys\" when you load the list again, or write them with kova-dat set-keys.";

namespace {

const char* const SCaption = "eBay application keys";
// A first run starts here: what the keys are, where they come from, and how to see the gadget without them.
const char* const SAbout =
    "eBay lets a program read your watch list only with your own developer keys. They are free: join eBay's "
    "developer program, create an application there and copy its keys into this form.";
const char* const SDeveloperLink = "Open eBay's developer program (developer.ebay.com)";
const char* const SDeveloperProgram = "https://developer.ebay.com/";
const char* const SDemo =
    "No keys yet? \"kova-gadget --demo\" (in the menu: \"Demo with a local sandbox\") shows the gadget with "
    "a demo watch list, without keys.";
const char* const SWhere =
    "The gadget signs in with your own eBay application. eBay's developer program shows its DevID, AppID and "
    "CertID under \"Application Keysets\", and its RuName under \"User Tokens\" (\"Get a Token from eBay via "
    "Your Application\").";
const char* const SDevID = "DevID";
const char* const SAppID = "AppID";
const char* const SCertID = "CertID";
const char* const SRuName = "RuName";
const char* const SSignInKind = "Sign-in";
const char* const SOAuth = "OAuth (new applications)";
const char* const SToken = "eBay token (older applications)";
const char* const SMissing = "Please fill in %s.";
const char* const SNotSaved = "The keys could not be saved: %s";
const char* const SNotText = "The %s cannot be used: %s. Type or paste it again.";
const char* const SOk = "OK";
const char* const SCancel = "Cancel";
// A worker of an earlier wizard may still read the application data that a save replaces.
constexpr int WorkerWaitMs = 60000;

TComponent& Captioned(TComponent& c, const char* caption) {
    c.Caption = caption;
    return c;
}

} // namespace

TfrmKovaApplicationKeys::TfrmKovaApplicationKeys(std::string dataFilePath)
    : TForm("frmKovaApplicationKeys", SCaption, 480, 356),
      lblAbout(Captioned(Add(TComponentKind::Label, "lblAbout", "", {12, 10, 456, 32}), SAbout)),
      lblDeveloperLink(
          Captioned(Add(TComponentKind::Label, "lblDeveloperLink", "", {12, 46, 456, 16}), SDeveloperLink)),
      lblDemo(Captioned(Add(TComponentKind::Label, "lblDemo", "", {12, 66, 456, 32}), SDemo)),
      lblWhere(Captioned(Add(TComponentKind::Label, "lblWhere", "", {12, 104, 456, 48}), SWhere)),
      lblDevID(Captioned(Add(TComponentKind::Label, "lblDevID", "", {12, 166, 80, 16}), SDevID)),
      edtDevID(Add(TComponentKind::Edit, "edtDevID", "", {100, 162, 368, 21})),
      lblAppID(Captioned(Add(TComponentKind::Label, "lblAppID", "", {12, 194, 80, 16}), SAppID)),
      edtAppID(Add(TComponentKind::Edit, "edtAppID", "", {100, 190, 368, 21})),
      lblCertID(Captioned(Add(TComponentKind::Label, "lblCertID", "", {12, 222, 80, 16}), SCertID)),
      edtCertID(Add(TComponentKind::Edit, "edtCertID", "", {100, 218, 368, 21})),
      lblRuName(Captioned(Add(TComponentKind::Label, "lblRuName", "", {12, 250, 80, 16}), SRuName)),
      edtRuName(Add(TComponentKind::Edit, "edtRuName", "", {100, 246, 368, 21})),
      lblSignInKind(
          Captioned(Add(TComponentKind::Label, "lblSignInKind", "", {12, 278, 80, 16}), SSignInKind)),
      cmbxSignInKind(Add(TComponentKind::ComboBox, "cmbxSignInKind", "", {100, 274, 368, 21})),
      lblError(Add(TComponentKind::Label, "lblError", "", {12, 302, 456, 16})),
      btnOk(Captioned(Add(TComponentKind::Button, "btnOk", "", {312, 324, 75, 25}), SOk)),
      btnCancel(Captioned(Add(TComponentKind::Button, "btnCancel", "", {393, 324, 75, 25}), SCancel)),
      FDataFilePath(std::move(dataFilePath)) {
    Position = TFormPosition::DesktopCenter;
    // The CertID is the application's secret: the page never gets it back once typed.
    edtCertID.PasswordChar = '*';
    cmbxSignInKind.Style = TComboBoxStyle::DropDownList;
    cmbxSignInKind.Items = {SOAuth, SToken};
    lblError.Font.Color = RGBColor(176, 0, 0);
    lblDeveloperLink.Font.Color = RGBColor(0, 0, 255);
    lblDeveloperLink.Font.Underline = true;
    lblDeveloperLink.Cursor = "hand";
    lblDeveloperLink.OnClick = [] { OpenURL(SDeveloperProgram); };
    lblError.Visible = false;
    int order = 0;
    for (TComponent* c : {&edtDevID, &edtAppID, &edtCertID, &edtRuName, &cmbxSignInKind, &btnOk, &btnCancel})
        c->TabOrder = order++;
    btnOk.Default = true;
    btnOk.OnClick = [this] { btnOkClick(); };
    btnCancel.Cancel = true;
    btnCancel.ModalResult = mrCancel;
    ActiveControl = edtDevID.Name;
}

bool TfrmKovaApplicationKeys::KeysMissing() {
    const TKovaGadgetDat* dat = GadgetDat();
    if (!dat) return false;
    return !dat->HasApplicationKeys() || (dat->SignIn().UsesOAuth() && !RuNameGiven());
}

void TfrmKovaApplicationKeys::btnOkClick() {
    std::string missing;
    const std::pair<const TComponent*, const char*> fields[] = {
        {&edtDevID, SDevID}, {&edtAppID, SAppID}, {&edtCertID, SCertID}, {&edtRuName, SRuName}};
    for (const auto& [edit, name] : fields)
        if (Trim(edit->Text).empty()) missing += std::string(missing.empty() ? "" : ", ") + name;
    if (!missing.empty()) {
        lblError.Caption = Format(SMissing, {missing});
        lblError.Visible = true;
        Changed();
        return;
    }
    // A key that is not text would make the saved file unreadable: refused here, under the fields, naming the
    // field.
    for (const auto& [edit, name] : fields) {
        if (const std::string fault = TextValueFault(Trim(edit->Text)); !fault.empty()) {
            lblError.Caption = Format(SNotText, {name, fault});
            lblError.Visible = true;
            ActiveControl = edit->Name;
            Changed();
            return;
        }
    }
    TGadgetDatKeys keys;
    keys.DevID = Trim(edtDevID.Text);
    keys.AppID = Trim(edtAppID.Text);
    keys.CertID = Trim(edtCertID.Text);
    keys.RuName = Trim(edtRuName.Text);
    keys.SignInKind = cmbxSignInKind.ItemIndex == TokenIndex ? TDatSignIn::KindToken : TDatSignIn::KindOAuth;
    try {
        if (IsMainThread())
            MainThreadQueue().RunUntil([] { return TThreadBase::LiveCount() == 0; }, WorkerWaitMs);
        SaveGadgetDatKeys(FDataFilePath, keys);
        // The loaded object goes with the reload: its directory is copied first.
        const TKovaGadgetDat* dat = GadgetDat();
        const std::string directory = dat ? dat->Directory() : ExtractFilePath(FDataFilePath);
        LoadGadgetDat(directory, FDataFilePath);
    } catch (const std::exception& e) {
        LogException(e, "TfrmKovaApplicationKeys.btnOkClick");
        lblError.Caption = Format(SNotSaved, {e.what()});
        lblError.Visible = true;
        Changed();
        return;
    }
    ModalResult = mrOk;
}

bool TfrmKovaApplicationKeys::Execute(const std::string& dataFilePath) {
    TfrmKovaApplicationKeys form(dataFilePath);
    if (const TKovaGadgetDat* dat = GadgetDat()) {
        form.edtDevID.Text = dat->EbayAPI().APIDevID;
        form.edtAppID.Text = dat->EbayAPI().APIAppID;
        form.edtCertID.Text = dat->EbayAPI().APICertID;
        form.edtRuName.Text = RuNameGiven() ? RuName() : std::string();
        // A file without keys is the one the build ships: a new application is offered OAuth.
        const bool oauth = !dat->HasApplicationKeys() || dat->SignIn().UsesOAuth();
        form.cmbxSignInKind.ItemIndex = oauth ? OAuthIndex : TokenIndex;
        form.cmbxSignInKind.Text =
            form.cmbxSignInKind.Items[static_cast<size_t>(form.cmbxSignInKind.ItemIndex)];
    }
    return form.ShowModal() == mrOk;
}
