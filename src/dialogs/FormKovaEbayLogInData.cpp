#include "dialogs/FormKovaEbayLogInData.h"

#include "base/UnitUtils.h"
#include "storage/UnitKovaeBayLogin.h"

namespace {

const char* const SCaption = "My eBay - LogIn Data";
const char* const SGroupCaption = "eBay Login data";
const char* const SUserName = "User name";
const char* const SPassword = "Password";
const char* const SSaving = "Saving";
const char* const SDiscardData = "Discard data when closing application";
const char* const SSaveData = "Save data (encrypted)";
const char* const SOk = "OK";
const char* const SCancel = "Cancel";

TComponent& Labelled(TComponent& c, const char* caption, int tag) {
    c.Caption = caption;
    c.Tag = tag;
    return c;
}

} // namespace

TfrmEbayLogInData::TfrmEbayLogInData()
    : TForm("frmEbayLogInData", SCaption, 365, 145),
      grpbxEbayLogin(Add(TComponentKind::GroupBox, "grpbxEbayLogin", "", {8, 5, 350, 107})),
      lblFarrowbyDotNetUsername(
          Labelled(Add(TComponentKind::Label, "lblFarrowbyDotNetUsername", "grpbxEbayLogin", {13, 22, 0, 0}),
                   SUserName, 99)),
      lblFarrowbyDotNetPassword(
          Labelled(Add(TComponentKind::Label, "lblFarrowbyDotNetPassword", "grpbxEbayLogin", {13, 46, 0, 0}),
                   SPassword, 99)),
      Label4(Labelled(Add(TComponentKind::Label, "Label4", "grpbxEbayLogin", {13, 74, 0, 0}), SSaving, 99)),
      edteBayUsername(Add(TComponentKind::Edit, "edteBayUsername", "grpbxEbayLogin", {88, 18, 241, 21})),
      edtEbayPassword(Add(TComponentKind::Edit, "edtEbayPassword", "grpbxEbayLogin", {88, 42, 241, 21})),
      cmbxEbayLoginDataAction(
          Add(TComponentKind::ComboBox, "cmbxEbayLoginDataAction", "grpbxEbayLogin", {88, 70, 243, 21})),
      btnOk(Add(TComponentKind::Button, "btnOk", "", {200, 116, 75, 25})),
      btnCancel(Add(TComponentKind::Button, "btnCancel", "", {281, 116, 75, 25})) {
    Position = TFormPosition::Designed;
    Left = 568;
    Top = 241;
    grpbxEbayLogin.Caption = SGroupCaption;
    edteBayUsername.TabOrder = 0;
    edteBayUsername.OnChange = [this] { FieldChange(); };
    edtEbayPassword.PasswordChar = '*';
    edtEbayPassword.TabOrder = 1;
    edtEbayPassword.OnChange = [this] { FieldChange(); };
    cmbxEbayLoginDataAction.Style = TComboBoxStyle::DropDownList;
    cmbxEbayLoginDataAction.Items = {SDiscardData, SSaveData};
    cmbxEbayLoginDataAction.ItemIndex = 0;
    cmbxEbayLoginDataAction.Text = SDiscardData;
    cmbxEbayLoginDataAction.TabOrder = 2;
    cmbxEbayLoginDataAction.OnChange = [this] { FieldChange(); };
    btnOk.Caption = SOk;
    btnOk.ModalResult = mrOk;
    btnOk.TabOrder = 3;
    btnCancel.Caption = SCancel;
    btnCancel.ModalResult = mrCancel;
    btnCancel.TabOrder = 4;
    // Enter and Escape answer as the buttons do, as in every dialog of the page.
    btnOk.Default = true;
    btnCancel.Cancel = true;
}

void TfrmEbayLogInData::FieldChange() {
    btnOk.Enabled = !Trim(edteBayUsername.Text).empty() && !Trim(edtEbayPassword.Text).empty() &&
                    cmbxEbayLoginDataAction.ItemIndex >= 0;
    Changed();
}

bool TfrmEbayLogInData::Execute(std::string& userName, std::string& password, int& saveChoice) {
    TfrmEbayLogInData form;
    form.edteBayUsername.Text = userName;
    const bool known =
        saveChoice >= 0 && saveChoice < static_cast<int>(form.cmbxEbayLoginDataAction.Items.size());
    form.cmbxEbayLoginDataAction.ItemIndex = known ? saveChoice : -1;
    form.cmbxEbayLoginDataAction.Text =
        known ? form.cmbxEbayLoginDataAction.Items[static_cast<size_t>(saveChoice)] : "";
    form.btnOk.Enabled = false;
    form.ActiveControl = form.edteBayUsername.Text.empty() ? "edteBayUsername" : "edtEbayPassword";
    if (form.ShowModal() != mrOk) return false;
    userName = form.edteBayUsername.Text;
    password = form.edtEbayPassword.Text;
    saveChoice = form.cmbxEbayLoginDataAction.ItemIndex;
    return true;
}

void InstallLogInDataPrompt() {
    SetLogInDataPrompt(&TfrmEbayLogInData::Execute);
}
