#include "ScriptedFormHost.h"
#include "dialogs/FormKovaEbayLogInData.h"

#include <gtest/gtest.h>

TEST(LogInDataDialog, LayoutCaptionsAndTabOrder) {
    TfrmEbayLogInData form;
    EXPECT_EQ(form.Caption, "My eBay - LogIn Data");
    EXPECT_EQ(form.ClientWidth * 1000 + form.ClientHeight, 365145);
    EXPECT_EQ(form.Position, TFormPosition::Designed);
    EXPECT_EQ(form.Left * 1000 + form.Top, 568241);
    EXPECT_EQ(form.Font.Name + " " + std::to_string(form.Font.Size), "MS Sans Serif 8");
    EXPECT_EQ(form.cmbxEbayLoginDataAction.Items,
              (std::vector<std::string>{"Discard data when closing application", "Save data (encrypted)"}));
    EXPECT_EQ(form.cmbxEbayLoginDataAction.Style, TComboBoxStyle::DropDownList);
    EXPECT_EQ(form.edtEbayPassword.PasswordChar, '*');
    EXPECT_EQ(form.edteBayUsername.Parent, "grpbxEbayLogin");
    EXPECT_EQ(form.Label4.Caption + "|" + std::to_string(form.Label4.Tag), "Saving|99");
    const TBounds b = form.cmbxEbayLoginDataAction.Bounds;
    EXPECT_EQ(std::vector<int>({b.Left, b.Top, b.Width, b.Height}), std::vector<int>({88, 70, 243, 21}));
    EXPECT_EQ(form.edteBayUsername.TabOrder * 100 + form.edtEbayPassword.TabOrder * 10 +
                  form.cmbxEbayLoginDataAction.TabOrder,
              12);
}

TEST(LogInDataDialog, OkNeedsBothFieldsBeyondBlanksAndReturnsThemUntrimmed) {
    TScriptedFormHost host;
    host.Then([](TForm& f) {
        auto& form = static_cast<TfrmEbayLogInData&>(f);
        EXPECT_EQ(form.ActiveControl, "edteBayUsername"); // no user name given
        EXPECT_FALSE(form.btnOk.Enabled);
        form.SetText("edteBayUsername", "   ");
        form.SetText("edtEbayPassword", "secret");
        EXPECT_FALSE(form.Click("btnOk")); // blanks only: still disabled
        form.SetText("edteBayUsername", "  anna ");
        form.SetText("edtEbayPassword", " ");
        EXPECT_FALSE(form.btnOk.Enabled);
        form.SetText("edtEbayPassword", " pass word ");
        form.SelectItem("cmbxEbayLoginDataAction", 1);
        EXPECT_TRUE(form.btnOk.Enabled);
        EXPECT_FALSE(form.SetText("cmbxEbayLoginDataAction", "free text")); // a list without free text
        EXPECT_TRUE(form.Click("btnOk"));
    });
    std::string user, password;
    int choice = 0;
    ASSERT_TRUE(TfrmEbayLogInData::Execute(user, password, choice));
    EXPECT_EQ(user, "  anna ");
    EXPECT_EQ(password, " pass word ");
    EXPECT_EQ(choice, 1);
}

TEST(LogInDataDialog, AGivenUserNameFocusesThePasswordAndCancelKeepsTheCallersValues) {
    TScriptedFormHost host;
    host.Then([](TForm& f) {
        auto& form = static_cast<TfrmEbayLogInData&>(f);
        EXPECT_EQ(form.ActiveControl, "edtEbayPassword");
        EXPECT_EQ(form.edteBayUsername.Text, "bert");
        EXPECT_EQ(form.edtEbayPassword.Text, ""); // a password passed in is not shown
        EXPECT_EQ(form.cmbxEbayLoginDataAction.ItemIndex, 1);
        EXPECT_FALSE(form.btnOk.Enabled);
        form.SetText("edtEbayPassword", "typed");
        form.Click("btnCancel");
    });
    host.Then([](TForm& f) { f.SetText("edtEbayPassword", "typed"); }); // closed with the close box
    std::string user = "bert", password = "kept";
    int choice = 1;
    EXPECT_FALSE(TfrmEbayLogInData::Execute(user, password, choice));
    EXPECT_FALSE(TfrmEbayLogInData::Execute(user, password, choice));
    EXPECT_EQ(user + "|" + password + "|" + std::to_string(choice), "bert|kept|1");
    EXPECT_EQ(host.Shown, (std::vector<std::string>{"My eBay - LogIn Data", "My eBay - LogIn Data"}));
}

TEST(FormModel, HiddenOrDisabledControlsIgnoreTheUserAndTimersTick) {
    TForm form("frm", "Test", 100, 100);
    auto& panel = form.Add(TComponentKind::Panel, "pnl", "", {0, 0, 100, 100});
    auto& button = form.Add(TComponentKind::Button, "btn", "pnl", {1, 1, 10, 10});
    auto& check = form.Add(TComponentKind::CheckBox, "chk", "", {1, 20, 10, 10});
    auto& timer = form.Add(TComponentKind::Timer, "tmr", "", {});
    int clicks = 0, ticks = 0;
    button.OnClick = [&] { ++clicks; };
    timer.OnTimer = [&] { ++ticks; };
    panel.Visible = false;
    EXPECT_FALSE(form.Click("btn"));
    panel.Visible = true;
    button.Enabled = false;
    EXPECT_FALSE(form.Click("btn"));
    button.Enabled = true;
    EXPECT_TRUE(form.Click("btn"));
    EXPECT_EQ(clicks, 1);
    form.Click("chk");
    EXPECT_TRUE(check.Checked);
    EXPECT_FALSE(form.TimerTick("tmr")); // timers start disabled
    timer.Enabled = true;
    EXPECT_TRUE(form.TimerTick("tmr"));
    EXPECT_EQ(ticks, 1);
    EXPECT_THROW(form.Add(TComponentKind::Label, "btn", "", {}), std::exception);
    // Without a form host every dialog closes with Cancel.
    EXPECT_EQ(form.ShowModal(), mrCancel);
}
