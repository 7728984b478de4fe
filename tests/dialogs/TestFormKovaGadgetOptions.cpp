#include "dialogs/FormKovaGadgetAuthorize.h"
#include "dialogs/FormKovaGadgetOptions.h"
#include "platform/UnitPlatformRegistry.h"
#include "storage/UnitKovaDat.h"
#include "storage/UnitKovaIniFile.h"
#include "storage/UnitKovaeBayLogin.h"
#include "support/GadgetTestDirectory.h"
#include "support/RecordingOpener.h"
#include "support/ScriptedFormHost.h"

#include <gtest/gtest.h>

namespace {

TfrmKovaGadgetOptions& Options(TForm& form) {
    return static_cast<TfrmKovaGadgetOptions&>(form);
}

// The system's internet settings as a test gives them.
class TSystemProxy : public TRegistrySource {
public:
    explicit TSystemProxy(const std::string& server) : FServer(server) {
        FPrevious = SetRegistrySource(this);
    }
    ~TSystemProxy() override { SetRegistrySource(FPrevious); }
    bool ReadKey(TRegistryRoot, const std::string& path, TRegistryValues& values) override {
        if (path != InternetSettingsKey) return false;
        values = {{"ProxyEnable", TRegistryValue::Integer(1)},
                  {"ProxyServer", TRegistryValue::String(FServer)}};
        return true;
    }

private:
    std::string FServer;
    TRegistrySource* FPrevious;
};

class OptionsTest : public ::testing::Test {
protected:
    void SetUp() override {
        LoadGadgetDat(Gadget.Home(), "");
        InitIniFileManager("KovaGadget.ini", Gadget.Home());
    }
    void TearDown() override {
        FreeIniFileManager();
        FreeGadgetDat();
    }
    bool Execute(bool updatesAvailable = false) {
        return TfrmKovaGadgetOptions::ExecuteOptions(TfrmKovaGadgetOptions::WatchlistPage, updatesAvailable,
                                                     &Info);
    }
    static TIniFileManager& Ini() { return *IniFileManager(); }
    static std::string Stored() {
        std::string user, password, token;
        Ini().EbayLoginData().LoadLogInData(user, password, token);
        return user + "|" + password + "|" + token;
    }
    static std::string Values(const TEbayLogInInfo& info) {
        return info.UserName + "|" + info.Password + "|" + info.Token;
    }

    TGadgetTestDirectory Gadget{TGadgetDirectoryOptions{}};
    TEbayLogInInfo Info;
    TScriptedFormHost Host;
};

struct TLayoutRow {
    const char* Component;
    std::string Caption;
    TBounds Bounds;
    bool Visible;
};

void ExpectLayout(const TForm& form, const std::vector<TLayoutRow>& rows) {
    for (const TLayoutRow& row : rows) {
        const TComponent& c = form.Component(row.Component);
        const std::string shown = c.Kind == TComponentKind::Edit ? c.Text : c.Caption;
        EXPECT_EQ(shown, row.Caption) << form.Name << "." << row.Component;
        EXPECT_EQ(std::vector<int>({c.Bounds.Left, c.Bounds.Top, c.Bounds.Width, c.Bounds.Height}),
                  std::vector<int>({row.Bounds.Left, row.Bounds.Top, row.Bounds.Width, row.Bounds.Height}))
            << form.Name << "." << row.Component;
        EXPECT_EQ(c.Visible, row.Visible) << form.Name << "." << row.Component;
    }
}

TEST(DialogLayout, TextsGeometryAndStartStateOfBothDialogs) {
    TfrmKovaGadgetAuthorize wizard;
    EXPECT_EQ(wizard.Caption, "Authorise Gadget on eBay");
    EXPECT_EQ(wizard.Position, TFormPosition::DesktopCenter);
    ExpectLayout(
        wizard,
        {
            {"lblFirstStepTitle", "1st Step", {16, 12, 0, 0}, true},
            {"lblFirstStepText",
             "In order to retrieve your \"My eBay\" data, it is necessary to login at eBay and authorize the "
             "program in accoradance with its Terms and Conditions of Use and with its Data Privacy "
             "Protection.",
             {16, 44, 448, 52},
             true},
            {"lblRevokeText",
             "This authorization can be revoked at any time on the eBay homepage under \"My eBay | My "
             "Account | "
             "Preferences | General Preferences | Third-party authorizations\".",
             {16, 104, 448, 40},
             true},
            {"lblNoteImport", "Note:", {16, 156, 0, 0}, true},
            {"lblNoteImportText",
             "Choosing not to authorize the program will disable the function for importing the \"My eBay\" "
             "watchlist.",
             {64, 156, 400, 40},
             true},
            {"lblNoteExpireText",
             "If you don't save your eBay access information to hard disk, the eBay authorization will also "
             "expire  for security reasons.",
             {64, 208, 400, 40},
             true},
            {"pnlSecondStep", "", {0, 0, 480, 279}, false},
            {"lblSecondStepTitle", "2nd Step", {16, 12, 0, 0}, true},
            {"lblSecondStepText",
             "The eBay login page should now have been opened in the designated browser. Please login using "
             "your "
             "data and confirm that the program is authorized.",
             {16, 44, 448, 52},
             true},
            {"lblSecondStepHint",
             "Once you have completed authorizing the program on eBay click on \"Test now\".",
             {16, 104, 448, 40},
             true},
            {"pnlSecondStepInner", "", {16, 152, 448, 100}, false},
            {"pnlFinished", "", {0, 0, 480, 279}, false},
            {"lblFinishedTitle", "Ended", {16, 12, 0, 0}, true},
            {"lblFinishedResult",
             "The operation was completed successfully. It is now possible to operate the program using your "
             "access data.",
             {16, 44, 448, 64},
             true},
            {"lblErrorHint", "Note:", {16, 124, 0, 0}, false},
            {"lblErrorHintText",
             "If continued attempts to authorise the program fail, it may be necessary to explicitly "
             "authourize "
             "the program. This is done on the eBay homepage under \"My eBay | My Account | Preferences | "
             "General Preferences | Third-party authorizations\". Here, the program should be listed and "
             "must "
             "be explicitly authorized.",
             {64, 124, 400, 92},
             false},
            {"pnlBottom", "", {0, 279, 480, 41}, true},
            {"btnCancel", "Cancel", {397, 8, 75, 25}, true},
            {"btnAuthorize", "Authorize on eBay", {249, 8, 140, 25}, true},
            {"btnVerify", "Verify Now", {289, 8, 100, 25}, false},
            {"btnRetry", "Retry", {289, 8, 100, 25}, false},
            // 8 from the left, 5 below the button's top, 10 lower than it, as wide as the buttons leave.
            {"FProgressBar", "", {8, 13, 480 - 75 - 100 - 30, 15}, false},
        });
    EXPECT_EQ(wizard.FProgressBar->Parent, "pnlBottom");
    EXPECT_EQ(wizard.FProgressBar->BarColor, RGBColor(250, 166, 25));
    EXPECT_EQ(wizard.FProgressBar->BarBackColor, RGBColor(213, 219, 228));
    EXPECT_EQ(wizard.btnCancel.ModalResult, mrCancel);

    TfrmKovaGadgetOptions options;
    EXPECT_EQ(options.Caption, "Settings Lumetra");
    EXPECT_EQ(options.ClientWidth * 1000 + options.ClientHeight, 492335);
    EXPECT_EQ(options.Position, TFormPosition::ScreenCenter);
    ExpectLayout(
        options,
        {
            {"btnOk", "OK", {328, 302, 75, 25}, true},
            {"btnCancel", "Cancel", {409, 302, 75, 25}, true},
            {"grpbxEbayLogin", "eBay sign in data", {8, 4, 330, 132}, true},
            {"lblSaving", "Saving", {12, 24, 0, 0}, true},
            {"lblUserName", "User name", {12, 52, 0, 0}, true},
            {"lblPassword", "Password", {12, 80, 0, 0}, true},
            {"btnDeleteLoginData", "Delete saved data now", {88, 102, 150, 23}, true},
            {"grpbxWatchlistOptions", "Options", {8, 142, 330, 134}, true},
            {"chckbxAutoRefresh", "Refresh every", {12, 24, 97, 17}, true},
            {"lblMinutes", "minutes", {176, 24, 0, 0}, true},
            {"chckbxRefreshOnStart", "Refresh all auctions on program start", {12, 60, 310, 17}, true},
            {"chckbxMarkHighbidder",
             "Highlight auctions when eBay user is the highest bidder",
             {12, 92, 310, 17},
             true},
            {"lblUpdateCaption", "No new updates available.", {16, 16, 0, 0}, true},
            {"lblDownloadLink", "Click here to go to the download page.", {16, 44, 0, 0}, false},
            {"chckbxUseProxy", "Use proxy server", {12, 12, 150, 17}, true},
            {"btnProxyMSIE", "Use MSIE Proxy Settings", {180, 8, 158, 25}, true},
            {"grpbxProxyOptions", "Options", {8, 40, 330, 156}, true},
            {"lblProxyServer", "Proxy server (address)", {12, 24, 0, 0}, true},
            {"lblProxyPort", "Proxy port", {12, 52, 0, 0}, true},
            {"chckbxProxyAuthentication",
             "Use proxy authentication (no eBay access data)",
             {12, 78, 306, 17},
             true},
            {"lblProxyUser", "Proxy user name", {12, 104, 0, 0}, true},
            {"lblProxyPassword", "Proxy password", {12, 128, 0, 0}, true},
            {"lblProxyInfo",
             "Proxy settings are only required if your Internet connection actually is established using a "
             "proxy. If you are not sure, please contact your administrator or use the proxy settings of "
             "your "
             "Web browser. (In the Internet Explorer these settings are located under: Tools | Internet "
             "Options "
             "| Tab \"Connections\" | Button LAN Settings).",
             {8, 204, 330, 76},
             true},
        });
    std::vector<std::string> nodes;
    for (const TTreeNode& node : options.trvwPages.Nodes)
        nodes.push_back(node.Text + "=" + std::to_string(node.Data) + "/" + std::to_string(node.Level));
    EXPECT_EQ(nodes, (std::vector<std::string>{"Watchlist=2/0", "Update=1/0", "Proxy=3/0"}));
    EXPECT_EQ(options.cmbxEbayLoginDataAction.Items,
              (std::vector<std::string>{"Discard data when closing application", "Save data (encrypted)"}));
    EXPECT_EQ(options.cmbxEbayLoginDataAction.Style, TComboBoxStyle::DropDownList);
    EXPECT_EQ(options.cmbxRefreshTime.Items,
              (std::vector<std::string>{"1", "2", "4", "5", "10", "20", "50", "60"}));
    EXPECT_EQ(options.cmbxRefreshTime.Style, TComboBoxStyle::DropDown);
    EXPECT_EQ(options.cmbxRefreshTime.Text, "1");
    EXPECT_EQ(std::string(1, options.edtEbayPassword.PasswordChar) + options.edtProxyPassword.PasswordChar,
              "**");
    EXPECT_TRUE(options.lblUpdateCaption.Font.Bold);
    EXPECT_EQ(options.lblDownloadLink.Font.Color, RGBColor(0, 0, 255));
    EXPECT_EQ(options.lblDownloadLink.Cursor, "hand");
    EXPECT_TRUE(options.pnlPages.DoubleBuffered);
    // Enter and Escape answer as OK and Cancel, as in every dialog of the page.
    for (const auto& c : options.Components())
        EXPECT_EQ(c->Default || c->Cancel, c->Name == "btnOk" || c->Name == "btnCancel") << c->Name;
    EXPECT_TRUE(options.btnOk.Default && options.btnCancel.Cancel);
}

TEST_F(OptionsTest, NumberRulesForTheIntervalAndThePort) {
    EXPECT_TRUE(Ini().Watchlist().AuctionsRefreshTime() == 0);
    struct TCase {
        std::string Interval, Port;
        int SavedInterval, SavedPort;
    };
    const std::vector<TCase> cases = {
        {"0", "8080", 1, 8080}, {"-5", "abc", 1, 0}, {"abc", "", 30, 0},
        {"7", "3128", 7, 3128}, {"", "-1", 30, 0},
    };
    for (const TCase& c : cases) {
        Host.Then([&](TForm& f) {
            auto& form = Options(f);
            if (!form.chckbxAutoRefresh.Checked) form.Click("chckbxAutoRefresh");
            EXPECT_TRUE(form.SetText("cmbxRefreshTime", c.Interval));
            form.SetText("edtProxyPort", c.Port); // ignored: the proxy is off, the edit disabled
            form.edtProxyPort.Text = c.Port;
            form.Click("btnOk");
        });
        ASSERT_TRUE(Execute());
        EXPECT_EQ(Ini().Watchlist().AuctionsRefreshTime(), c.SavedInterval)
            << "interval \"" << c.Interval << "\"";
        EXPECT_EQ(Ini().ProxySettings().Port(), c.SavedPort) << "port \"" << c.Port << "\"";
    }
    // Settings without an interval show 0; the box shows what the settings hold, listed or not.
    Ini().IniFile().DeleteKey("Watchlist", "AuctionsRefreshTime");
    Host.Then([](TForm& f) { EXPECT_EQ(Options(f).cmbxRefreshTime.Text, "0"); });
    EXPECT_FALSE(Execute());
}

TEST_F(OptionsTest, ProxyControlsFollowUseProxyAndAuthentication) {
    TfrmKovaGadgetOptions form;
    form.FLogInInfo = &Info;
    form.LoadSettings();
    struct TCase {
        bool UseProxy, Authentication;
        bool ServerEnabled, CredentialsEnabled;
    };
    for (const TCase c : {TCase{false, false, false, false}, TCase{false, true, false, false},
                          TCase{true, false, true, false}, TCase{true, true, true, true}}) {
        form.chckbxUseProxy.Checked = c.UseProxy;
        form.chckbxProxyAuthentication.Checked = c.Authentication;
        form.UpdateProxyControls();
        const std::string what = std::to_string(c.UseProxy) + std::to_string(c.Authentication);
        for (const char* name : {"edtProxyServer", "lblProxyServer", "edtProxyPort", "lblProxyPort",
                                 "grpbxProxyOptions", "chckbxProxyAuthentication"})
            EXPECT_EQ(form.Component(name).Enabled, c.ServerEnabled) << name << " " << what;
        for (const char* name : {"edtProxyUser", "lblProxyUser", "edtProxyPassword", "lblProxyPassword"})
            EXPECT_EQ(form.EffectivelyEnabled(form.Component(name)), c.CredentialsEnabled)
                << name << " " << what;
    }
    // As the user clicks: authentication alone decides about the credentials once the proxy is on.
    form.ShowPage(TfrmKovaGadgetOptions::ProxyPage);
    EXPECT_TRUE(form.Click("chckbxProxyAuthentication"));
    EXPECT_FALSE(form.edtProxyUser.Enabled);
    EXPECT_TRUE(form.Click("chckbxUseProxy"));
    EXPECT_FALSE(form.edtProxyServer.Enabled);
    EXPECT_FALSE(form.Click("chckbxProxyAuthentication")) << "disabled with the proxy off";

    // The login data edits follow the saving choice.
    form.ShowPage(TfrmKovaGadgetOptions::WatchlistPage);
    EXPECT_FALSE(form.edteBayUsername.Enabled);
    form.SelectItem("cmbxEbayLoginDataAction", 1);
    for (const char* name : {"edteBayUsername", "edtEbayPassword", "lblUserName", "lblPassword"})
        EXPECT_TRUE(form.Component(name).Enabled) << name;
    EXPECT_FALSE(form.cmbxRefreshTime.Enabled);
    form.Click("chckbxAutoRefresh");
    EXPECT_TRUE(form.cmbxRefreshTime.Enabled && form.lblMinutes.Enabled);
}

TEST_F(OptionsTest, SystemProxySettingsKeepOurCredentialsAndAuthenticationChoice) {
    Ini().ProxySettings().SetNeedsAuthentication(true);
    Ini().ProxySettings().SaveProxyCredentials("puser", "ppass");
    TSystemProxy system("sys.proxy:3128");
    Host.Then([](TForm& f) {
        auto& form = Options(f);
        EXPECT_EQ(form.edtProxyUser.Text + "|" + form.edtProxyPassword.Text, "puser|ppass");
        form.ShowPage(TfrmKovaGadgetOptions::ProxyPage);
        form.chckbxProxyAuthentication.Checked = false;
        EXPECT_TRUE(form.Click("btnProxyMSIE"));
        EXPECT_TRUE(form.chckbxUseProxy.Checked);
        EXPECT_EQ(form.edtProxyServer.Text + ":" + form.edtProxyPort.Text, "sys.proxy:3128");
        EXPECT_TRUE(form.chckbxProxyAuthentication.Checked) << "the stored choice, not the system's";
        EXPECT_TRUE(form.edtProxyUser.Enabled);
        EXPECT_EQ(form.edtProxyUser.Text + "|" + form.edtProxyPassword.Text, "puser|ppass");
        form.Click("btnOk");
    });
    ASSERT_TRUE(Execute());
    const TProxySettings saved = Ini().GetProxySettings();
    EXPECT_TRUE(saved.UsesProxy && saved.NeedsAuthentication);
    EXPECT_EQ(saved.Server + ":" + std::to_string(saved.Port) + " " + saved.UserName + "|" + saved.Password,
              "sys.proxy:3128 puser|ppass");
}

TEST_F(OptionsTest, DeleteSavedDataNowActsAtOnceAndCancelDoesNotBringItBack) {
    Gadget.SaveLogInData("anna", "pw", "tok");
    Info.UserName = "anna";
    Info.Password = "pw";
    Info.Token = "tok";
    Host.Then([](TForm& f) {
        auto& form = Options(f);
        EXPECT_EQ(form.cmbxEbayLoginDataAction.ItemIndex, 1);
        EXPECT_TRUE(form.Click("btnDeleteLoginData"));
        EXPECT_EQ(form.edteBayUsername.Text + form.edtEbayPassword.Text, "");
        EXPECT_FALSE(form.btnDeleteLoginData.Enabled);
        form.Click("btnCancel");
    });
    EXPECT_FALSE(Execute());
    EXPECT_FALSE(FileExists(Gadget.File("ebtmp.dat")));
    EXPECT_EQ(Values(Info), "||");
}

TEST_F(OptionsTest, OkWritesEveryValueAndANewUserNameDropsTheToken) {
    Info.UserName = "anna";
    Info.Password = "pw";
    Info.Token = "tok";
    Host.Then([](TForm& f) {
        auto& form = Options(f);
        EXPECT_EQ(form.cmbxEbayLoginDataAction.ItemIndex, 0) << "the login info's data, not saved";
        EXPECT_EQ(form.edteBayUsername.Text, "anna");
        form.SelectItem("cmbxEbayLoginDataAction", 1);
        form.SetText("edteBayUsername", " ANNA "); // the same account
        form.SetText("edtEbayPassword", "pw2");
        form.Click("chckbxAutoRefresh");
        form.SetText("cmbxRefreshTime", "10");
        form.Click("chckbxRefreshOnStart"); // true by default
        form.Click("chckbxMarkHighbidder"); // true by default
        form.SelectItem("trvwPages", 2);
        form.Click("chckbxUseProxy");
        form.SetText("edtProxyServer", "proxy.local");
        form.SetText("edtProxyPort", "8080");
        form.Click("chckbxProxyAuthentication");
        form.SetText("edtProxyUser", "pu");
        form.SetText("edtProxyPassword", "pp");
        form.Click("btnOk");
    });
    ASSERT_TRUE(Execute());
    TIniFileSectionWatchlist& watchlist = Ini().Watchlist();
    EXPECT_TRUE(watchlist.AuctionsAutomaticRefresh());
    EXPECT_FALSE(watchlist.AuctionsRefreshOnStart());
    EXPECT_FALSE(watchlist.AuctionsMarkHighbidder());
    EXPECT_EQ(watchlist.AuctionsRefreshTime(), 10);
    const TProxySettings proxy = Ini().GetProxySettings();
    EXPECT_TRUE(proxy.UsesProxy && proxy.NeedsAuthentication);
    EXPECT_EQ(proxy.Server + ":" + std::to_string(proxy.Port) + " " + proxy.UserName + "|" + proxy.Password,
              "proxy.local:8080 pu|pp");
    EXPECT_EQ(Stored(), " ANNA |pw2|tok");
    EXPECT_EQ(Values(Info), " ANNA |pw2|tok");

    // Another account: its token is not ours to keep.
    Host.Then([](TForm& f) {
        auto& form = Options(f);
        EXPECT_EQ(form.cmbxEbayLoginDataAction.ItemIndex, 1);
        form.SetText("edteBayUsername", "bert");
        form.Click("btnOk");
    });
    ASSERT_TRUE(Execute());
    EXPECT_EQ(Stored(), "bert|pw2|");
    EXPECT_EQ(Values(Info), "bert|pw2|");

    // Discarding: the login info takes the (disabled) edits' contents, the file goes.
    Host.Then([](TForm& f) {
        auto& form = Options(f);
        form.SelectItem("cmbxEbayLoginDataAction", 0);
        EXPECT_FALSE(form.SetText("edteBayUsername", "ignored"));
        form.Click("btnOk");
    });
    ASSERT_TRUE(Execute());
    EXPECT_FALSE(FileExists(Gadget.File("ebtmp.dat")));
    EXPECT_EQ(Values(Info), "bert|pw2|");
}

TEST_F(OptionsTest, BeforeTheFirstLoadSavingTheStoredDataAgainKeepsTheirToken) {
    Gadget.SaveLogInData("anna", "pw", "tok");
    Info.UserName = "other"; // stored data win in the dialog
    Info.Password = "x";
    Host.Then([](TForm& f) {
        auto& form = Options(f);
        EXPECT_EQ(form.cmbxEbayLoginDataAction.ItemIndex, 1);
        EXPECT_EQ(form.edteBayUsername.Text + "|" + form.edtEbayPassword.Text, "anna|pw");
        form.Click("btnOk");
    });
    ASSERT_TRUE(Execute());
    EXPECT_EQ(Stored(), "anna|pw|") << "the login info's name differed: its token is dropped";

    Gadget.SaveLogInData("anna", "pw", "tok");
    TEbayLogInInfo fresh;
    Host.Then([](TForm& f) { f.Click("btnOk"); });
    ASSERT_TRUE(TfrmKovaGadgetOptions::ExecuteOptions(2, false, &fresh));
    EXPECT_EQ(Stored(), "anna|pw|tok");
    EXPECT_EQ(Values(fresh), "anna|pw|tok");
}

TEST_F(OptionsTest, UpdatePageAndTheDownloadLink) {
    TRecordingOpener opener;
    Host.Then([](TForm& f) {
        auto& form = Options(f);
        EXPECT_TRUE(form.pnlWatchlist.Visible);
        EXPECT_EQ(form.ActiveControl, "trvwPages");
        EXPECT_TRUE(form.SelectItem("trvwPages", 1));
        EXPECT_TRUE(form.pnlUpdate.Visible);
        EXPECT_FALSE(form.pnlWatchlist.Visible);
        EXPECT_EQ(form.lblUpdateCaption.Caption, "A new version of the Gadget is available!");
        EXPECT_TRUE(form.Click("lblDownloadLink"));
    });
    Host.Then([](TForm& f) {
        f.SelectItem("trvwPages", 1);
        EXPECT_FALSE(f.Click("lblDownloadLink")) << "hidden without an update";
    });
    EXPECT_FALSE(Execute(true));
    EXPECT_FALSE(Execute(false));
    EXPECT_EQ(opener.Opened(), std::vector<std::string>{"https://download.example/kova"});
}

TEST_F(OptionsTest, ADamagedCredentialsFileDoesNotKeepTheOtherPagesFromLoading) {
    Gadget.Dir().Write("proxy.dat", "not a container");
    Ini().Watchlist().SetAuctionsRefreshTime(20);
    TMessageBoxRecorder boxes;
    Host.Then([](TForm& f) {
        EXPECT_EQ(Options(f).cmbxRefreshTime.Text, "20");
        f.Click("btnOk");
    });
    ASSERT_TRUE(Execute()) << "OK replaces the damaged file";
    EXPECT_EQ(boxes.Shown().size(), 0u) << "the damaged file is logged and reads as empty credentials";
    EXPECT_EQ(Ini().Watchlist().AuctionsRefreshTime(), 20);
    EXPECT_EQ(Ini().ProxySettings().ProxyUserName(), "");
}

} // namespace
