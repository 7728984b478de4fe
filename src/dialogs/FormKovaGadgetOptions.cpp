#include "dialogs/FormKovaGadgetOptions.h"

#include "base/UnitExceptions.h"
#include "base/UnitUtils.h"
#include "platform/UnitPlatformMessageBox.h"
#include "storage/UnitKovaDat.h"
#include "storage/UnitKovaIniFile.h"
#include "storage/UnitKovaeBayLogin.h"
#include "support/UnitKovaOpenURL.h"
#include "support/UnitProxySettings.h"

#include <algorithm>

namespace {

const char* const SCaption = "Settings %s";
const char* const SProductTitle = "Lumetra";
const char* const SOk = "OK";
const char* const SCancel = "Cancel";
const char* const SWatchlistNode = "Watchlist";
const char* const SUpdateNode = "Update";
const char* const SProxyNode = "Proxy";
const char* const SSignInGroup = "eBay sign in data";
const char* const SSaving = "Saving";
const char* const SDiscardData = "Discard data when closing application";
const char* const SSaveData = "Save data (encrypted)";
const char* const SUserName = "User name";
const char* const SPassword = "Password";
const char* const SDeleteData = "Delete saved data now";
const char* const SOptionsGroup = "Options";
const char* const SRefreshEvery = "Refresh every";
const char* const SMinutes = "minutes";
const char* const SRefreshOnStart = "Refresh all auctions on program start";
const char* const SMarkHighbidder = "Highlight auctions when eBay user is the highest bidder";
const char* const SUpdateAvailable = "A new version of the Gadget is available!";
const char* const SNoUpdate = "No new updates available.";
const char* const SDownloadLink = "Click here to go to the download page.";
const char* const SUseProxy = "Use proxy server";
const char* const SProxyMSIE = "Use MSIE Proxy Settings";
const char* const SProxyServer = "Proxy server (address)";
const char* const SProxyPort = "Proxy port";
const char* const SProxyAuthentication = "Use proxy authentication (no eBay access data)";
const char* const SProxyUser = "Proxy user name";
const char* const SProxyPassword = "Proxy password";
const char* const SProxyInfo =
    "Proxy settings are only required if your Internet connection actually is established using a proxy. If "
    "you are not sure, please contact your administrator or use the proxy settings of your Web browser. (In "
    "the Internet Explorer these settings are located under: Tools | Internet Options | Tab \"Connections\" "
    "| "
    "Button LAN Settings).";
const char* const SApplicationTitle = "KovaGadget";

constexpr int SaveDataIndex = 1;
constexpr int DefaultRefreshTime = 30;

TComponent& Captioned(TComponent& c, const char* caption) {
    c.Caption = caption;
    return c;
}

TIniFileManager& Settings() {
    TIniFileManager* settings = IniFileManager();
    if (!settings) throw Exception("TfrmKovaGadgetOptions: the settings are not loaded");
    return *settings;
}

void SelectComboItem(TComponent& combo, int index) {
    combo.ItemIndex = index;
    combo.Text = index >= 0 && index < static_cast<int>(combo.Items.size())
                     ? combo.Items[static_cast<size_t>(index)]
                     : std::string();
}

bool SameUser(const std::string& a, const std::string& b) {
    return SameText(Trim(a), Trim(b));
}

} // namespace

TfrmKovaGadgetOptions::TfrmKovaGadgetOptions()
    : TForm("frmKovaGadgetOptions", Format(SCaption, {SProductTitle}), 492, 335),
      trvwPages(Add(TComponentKind::TreeView, "trvwPages", "", {8, 8, 121, 286})),
      pnlPages(Add(TComponentKind::Panel, "pnlPages", "", {136, 8, 348, 286})),
      btnOk(Captioned(Add(TComponentKind::Button, "btnOk", "", {328, 302, 75, 25}), SOk)),
      btnCancel(Captioned(Add(TComponentKind::Button, "btnCancel", "", {409, 302, 75, 25}), SCancel)),
      pnlWatchlist(Add(TComponentKind::Panel, "pnlWatchlist", "pnlPages", {1, 1, 346, 284})),
      grpbxEbayLogin(Captioned(
          Add(TComponentKind::GroupBox, "grpbxEbayLogin", "pnlWatchlist", {8, 4, 330, 132}), SSignInGroup)),
      lblSaving(
          Captioned(Add(TComponentKind::Label, "lblSaving", "grpbxEbayLogin", {12, 24, 0, 0}), SSaving)),
      cmbxEbayLoginDataAction(
          Add(TComponentKind::ComboBox, "cmbxEbayLoginDataAction", "grpbxEbayLogin", {88, 20, 230, 21})),
      lblUserName(
          Captioned(Add(TComponentKind::Label, "lblUserName", "grpbxEbayLogin", {12, 52, 0, 0}), SUserName)),
      edteBayUsername(Add(TComponentKind::Edit, "edteBayUsername", "grpbxEbayLogin", {88, 48, 230, 21})),
      lblPassword(
          Captioned(Add(TComponentKind::Label, "lblPassword", "grpbxEbayLogin", {12, 80, 0, 0}), SPassword)),
      edtEbayPassword(Add(TComponentKind::Edit, "edtEbayPassword", "grpbxEbayLogin", {88, 76, 230, 21})),
      btnDeleteLoginData(
          Captioned(Add(TComponentKind::Button, "btnDeleteLoginData", "grpbxEbayLogin", {88, 102, 150, 23}),
                    SDeleteData)),
      grpbxWatchlistOptions(Captioned(
          Add(TComponentKind::GroupBox, "grpbxWatchlistOptions", "pnlWatchlist", {8, 142, 330, 134}),
          SOptionsGroup)),
      chckbxAutoRefresh(Captioned(
          Add(TComponentKind::CheckBox, "chckbxAutoRefresh", "grpbxWatchlistOptions", {12, 24, 97, 17}),
          SRefreshEvery)),
      cmbxRefreshTime(
          Add(TComponentKind::ComboBox, "cmbxRefreshTime", "grpbxWatchlistOptions", {112, 21, 57, 21})),
      lblMinutes(Captioned(Add(TComponentKind::Label, "lblMinutes", "grpbxWatchlistOptions", {176, 24, 0, 0}),
                           SMinutes)),
      chckbxRefreshOnStart(Captioned(
          Add(TComponentKind::CheckBox, "chckbxRefreshOnStart", "grpbxWatchlistOptions", {12, 60, 310, 17}),
          SRefreshOnStart)),
      chckbxMarkHighbidder(Captioned(
          Add(TComponentKind::CheckBox, "chckbxMarkHighbidder", "grpbxWatchlistOptions", {12, 92, 310, 17}),
          SMarkHighbidder)),
      pnlUpdate(Add(TComponentKind::Panel, "pnlUpdate", "pnlPages", {1, 1, 346, 284})),
      lblUpdateCaption(
          Captioned(Add(TComponentKind::Label, "lblUpdateCaption", "pnlUpdate", {16, 16, 0, 0}), SNoUpdate)),
      lblDownloadLink(Captioned(Add(TComponentKind::Label, "lblDownloadLink", "pnlUpdate", {16, 44, 0, 0}),
                                SDownloadLink)),
      pnlProxy(Add(TComponentKind::Panel, "pnlProxy", "pnlPages", {1, 1, 346, 284})),
      chckbxUseProxy(Captioned(Add(TComponentKind::CheckBox, "chckbxUseProxy", "pnlProxy", {12, 12, 150, 17}),
                               SUseProxy)),
      btnProxyMSIE(
          Captioned(Add(TComponentKind::Button, "btnProxyMSIE", "pnlProxy", {180, 8, 158, 25}), SProxyMSIE)),
      grpbxProxyOptions(Captioned(
          Add(TComponentKind::GroupBox, "grpbxProxyOptions", "pnlProxy", {8, 40, 330, 156}), SOptionsGroup)),
      lblProxyServer(Captioned(
          Add(TComponentKind::Label, "lblProxyServer", "grpbxProxyOptions", {12, 24, 0, 0}), SProxyServer)),
      edtProxyServer(Add(TComponentKind::Edit, "edtProxyServer", "grpbxProxyOptions", {140, 20, 178, 21})),
      lblProxyPort(Captioned(Add(TComponentKind::Label, "lblProxyPort", "grpbxProxyOptions", {12, 52, 0, 0}),
                             SProxyPort)),
      edtProxyPort(Add(TComponentKind::Edit, "edtProxyPort", "grpbxProxyOptions", {140, 48, 60, 21})),
      chckbxProxyAuthentication(Captioned(
          Add(TComponentKind::CheckBox, "chckbxProxyAuthentication", "grpbxProxyOptions", {12, 78, 306, 17}),
          SProxyAuthentication)),
      lblProxyUser(Captioned(Add(TComponentKind::Label, "lblProxyUser", "grpbxProxyOptions", {12, 104, 0, 0}),
                             SProxyUser)),
      edtProxyUser(Add(TComponentKind::Edit, "edtProxyUser", "grpbxProxyOptions", {140, 100, 178, 21})),
      lblProxyPassword(
          Captioned(Add(TComponentKind::Label, "lblProxyPassword", "grpbxProxyOptions", {12, 128, 0, 0}),
                    SProxyPassword)),
      edtProxyPassword(
          Add(TComponentKind::Edit, "edtProxyPassword", "grpbxProxyOptions", {140, 124, 178, 21})),
      lblProxyInfo(
          Captioned(Add(TComponentKind::Label, "lblProxyInfo", "pnlProxy", {8, 204, 330, 76}), SProxyInfo)) {
    Position = TFormPosition::ScreenCenter;
    pnlPages.DoubleBuffered = true;
    // The page area lies behind the pages: it is created before them, which is the back for a form host.
    trvwPages.Nodes = {
        {SWatchlistNode, WatchlistPage, 0}, {SUpdateNode, UpdatePage, 0}, {SProxyNode, ProxyPage, 0}};
    trvwPages.OnChange = [this] { trvwPagesChange(); };
    trvwPages.TabOrder = 0;
    for (TComponent* page : {&pnlWatchlist, &pnlUpdate, &pnlProxy})
        page->Visible = false;

    cmbxEbayLoginDataAction.Style = TComboBoxStyle::DropDownList;
    cmbxEbayLoginDataAction.Items = {SDiscardData, SSaveData};
    SelectComboItem(cmbxEbayLoginDataAction, 0);
    cmbxEbayLoginDataAction.OnChange = [this] { cmbxEbayLoginDataActionChange(); };
    edtEbayPassword.PasswordChar = '*';
    btnDeleteLoginData.OnClick = [this] { btnDeleteLoginDataClick(); };
    cmbxEbayLoginDataAction.TabOrder = 0;
    edteBayUsername.TabOrder = 1;
    edtEbayPassword.TabOrder = 2;
    btnDeleteLoginData.TabOrder = 3;

    chckbxAutoRefresh.OnClick = [this] { chckbxAutoRefreshClick(); };
    cmbxRefreshTime.Style = TComboBoxStyle::DropDown;
    cmbxRefreshTime.Items = {"1", "2", "4", "5", "10", "20", "50", "60"};
    SelectComboItem(cmbxRefreshTime, 0);
    chckbxAutoRefresh.TabOrder = 0;
    cmbxRefreshTime.TabOrder = 1;
    chckbxRefreshOnStart.TabOrder = 2;
    chckbxMarkHighbidder.TabOrder = 3;
    grpbxEbayLogin.TabOrder = 0;
    grpbxWatchlistOptions.TabOrder = 1;

    lblUpdateCaption.Font.Bold = true;
    lblDownloadLink.Font.Color = RGBColor(0, 0, 255);
    lblDownloadLink.Cursor = "hand";
    lblDownloadLink.Visible = false;
    lblDownloadLink.OnClick = [this] { lblDownloadLinkClick(); };

    chckbxUseProxy.OnClick = [this] { chckbxUseProxyClick(); };
    btnProxyMSIE.OnClick = [this] { btnProxyMSIEClick(); };
    chckbxProxyAuthentication.OnClick = [this] { chckbxProxyAuthenticationClick(); };
    edtProxyPassword.PasswordChar = '*';
    chckbxUseProxy.TabOrder = 0;
    btnProxyMSIE.TabOrder = 1;
    grpbxProxyOptions.TabOrder = 2;
    edtProxyServer.TabOrder = 0;
    edtProxyPort.TabOrder = 1;
    chckbxProxyAuthentication.TabOrder = 2;
    edtProxyUser.TabOrder = 3;
    edtProxyPassword.TabOrder = 4;

    pnlPages.TabOrder = 1;
    btnOk.ModalResult = mrOk;
    btnOk.TabOrder = 2;
    btnCancel.ModalResult = mrCancel;
    btnCancel.TabOrder = 3;
    // Enter and Escape answer as the buttons do, as in every dialog of the page.
    btnOk.Default = true;
    btnCancel.Cancel = true;
    UpdateProxyControls();
}

TComponent* TfrmKovaGadgetOptions::PagePanel(int page) const {
    switch (page) {
    case UpdatePage:
        return &pnlUpdate;
    case WatchlistPage:
        return &pnlWatchlist;
    case ProxyPage:
        return &pnlProxy;
    default:
        return nullptr;
    }
}

void TfrmKovaGadgetOptions::ShowPage(int page) {
    TComponent* panel = PagePanel(page);
    if (!panel) return;
    panel->Bounds.Left = 1;
    panel->Bounds.Top = 1;
    panel->Visible = true;
    if (FCurrentPanel && FCurrentPanel != panel) FCurrentPanel->Visible = false;
    FCurrentPanel = panel;
    Changed();
}

void TfrmKovaGadgetOptions::SelectPage(int page) {
    for (size_t i = 0; i < trvwPages.Nodes.size(); ++i) {
        if (trvwPages.Nodes[i].Data != page) continue;
        trvwPages.ItemIndex = static_cast<int>(i);
        ActiveControl = trvwPages.Name;
        trvwPagesChange();
        return;
    }
}

void TfrmKovaGadgetOptions::trvwPagesChange() {
    const int index = trvwPages.ItemIndex;
    if (index < 0 || index >= static_cast<int>(trvwPages.Nodes.size())) return;
    ShowPage(trvwPages.Nodes[static_cast<size_t>(index)].Data);
}

void TfrmKovaGadgetOptions::UpdateProxyControls() {
    const bool usesProxy = chckbxUseProxy.Checked;
    for (TComponent* c : {&edtProxyServer, &lblProxyServer, &edtProxyPort, &lblProxyPort, &grpbxProxyOptions,
                          &chckbxProxyAuthentication})
        c->Enabled = usesProxy;
    const bool credentials = usesProxy && chckbxProxyAuthentication.Checked;
    for (TComponent* c : {&edtProxyUser, &lblProxyUser, &edtProxyPassword, &lblProxyPassword})
        c->Enabled = credentials;
    Changed();
}

void TfrmKovaGadgetOptions::chckbxUseProxyClick() {
    UpdateProxyControls();
}

void TfrmKovaGadgetOptions::chckbxProxyAuthenticationClick() {
    for (TComponent* c : {&edtProxyUser, &lblProxyUser, &edtProxyPassword, &lblProxyPassword})
        c->Enabled = chckbxProxyAuthentication.Checked;
    Changed();
}

void TfrmKovaGadgetOptions::btnProxyMSIEClick() {
    TProxySettingsRegistry system;
    chckbxUseProxy.Checked = system.UsesProxy;
    edtProxyPort.Text = IntToStr(system.Port);
    edtProxyServer.Text = system.Server;
    // Whether the proxy wants credentials is ours to know, not the system's.
    chckbxProxyAuthentication.Checked = Settings().ProxySettings().NeedsAuthentication();
    UpdateProxyControls();
}

void TfrmKovaGadgetOptions::cmbxEbayLoginDataActionChange() {
    const bool saving = cmbxEbayLoginDataAction.ItemIndex == SaveDataIndex;
    for (TComponent* c : {&edteBayUsername, &edtEbayPassword, &lblUserName, &lblPassword})
        c->Enabled = saving;
    Changed();
}

void TfrmKovaGadgetOptions::btnDeleteLoginDataClick() {
    if (FLogInInfo) FLogInInfo->Clear();
    edteBayUsername.Text.clear();
    edtEbayPassword.Text.clear();
    cmbxEbayLoginDataActionChange();
    btnDeleteLoginData.Enabled = false;
    Changed();
}

void TfrmKovaGadgetOptions::chckbxAutoRefreshClick() {
    cmbxRefreshTime.Enabled = chckbxAutoRefresh.Checked;
    lblMinutes.Enabled = chckbxAutoRefresh.Checked;
    Changed();
}

void TfrmKovaGadgetOptions::lblDownloadLinkClick() {
    const TKovaGadgetDat* dat = GadgetDat();
    if (!dat)
        throw Exception("TfrmKovaGadgetOptions.lblDownloadLinkClick: the application data are not loaded");
    OpenURL(dat->Common().LINKDOWNLOADPAGE);
}

void TfrmKovaGadgetOptions::LoadSettings() {
    // Each part loads on its own: a damaged credentials file must not leave the other pages at their
    // defaults, which OK would then write over the user's settings.
    const auto step = [](const auto& load) {
        try {
            load();
        } catch (const std::exception& e) {
            ShowMessageBox(e.what(), SApplicationTitle, MB_OK | MB_ICONERROR);
        }
    };
    step([this] {
        lblUpdateCaption.Caption = FUpdatesAvailable ? SUpdateAvailable : SNoUpdate;
        lblDownloadLink.Visible = FUpdatesAvailable;
    });
    step([this] {
        TIniFileSectionProxySettings& proxy = Settings().ProxySettings();
        chckbxUseProxy.Checked = proxy.UsesProxy();
        edtProxyPort.Text = IntToStr(proxy.Port());
        edtProxyServer.Text = proxy.Server();
        chckbxProxyAuthentication.Checked = proxy.NeedsAuthentication();
        UpdateProxyControls();
        std::string user, password;
        proxy.LoadProxyCredentials(user, password);
        edtProxyUser.Text = user;
        edtProxyPassword.Text = password;
    });
    step([this] {
        TIniFileSectionWatchlist& watchlist = Settings().Watchlist();
        chckbxAutoRefresh.Checked = watchlist.AuctionsAutomaticRefresh();
        chckbxRefreshOnStart.Checked = watchlist.AuctionsRefreshOnStart();
        chckbxMarkHighbidder.Checked = watchlist.AuctionsMarkHighbidder();
        const std::string interval = IntToStr(watchlist.AuctionsRefreshTime());
        const auto found = std::find(cmbxRefreshTime.Items.begin(), cmbxRefreshTime.Items.end(), interval);
        cmbxRefreshTime.ItemIndex = found == cmbxRefreshTime.Items.end()
                                        ? -1
                                        : static_cast<int>(found - cmbxRefreshTime.Items.begin());
        cmbxRefreshTime.Text = interval;
        chckbxAutoRefreshClick();
    });
    step([this] {
        TIniFileSectionEbayLoginData& login = Settings().EbayLoginData();
        const std::string storedUser = login.StoredUserName();
        const std::string storedPassword = login.StoredPassword();
        if (!storedUser.empty() && !storedPassword.empty()) {
            SelectComboItem(cmbxEbayLoginDataAction, SaveDataIndex);
            edteBayUsername.Text = storedUser;
            edtEbayPassword.Text = storedPassword;
        } else if (FLogInInfo && !FLogInInfo->UserName.empty() && !FLogInInfo->Password.empty()) {
            SelectComboItem(cmbxEbayLoginDataAction, 0);
            edteBayUsername.Text = FLogInInfo->UserName;
            edtEbayPassword.Text = FLogInInfo->Password;
        }
    });
    cmbxEbayLoginDataActionChange();
}

void TfrmKovaGadgetOptions::SaveSettings() {
    TIniFileManager& settings = Settings();
    TIniFileSectionProxySettings& proxy = settings.ProxySettings();
    proxy.SetUsesProxy(chckbxUseProxy.Checked);
    proxy.SetPort(StrToIntDef(Trim(edtProxyPort.Text), 0));
    proxy.SetServer(edtProxyServer.Text);
    proxy.SetNeedsAuthentication(chckbxProxyAuthentication.Checked);
    // Both values in one new file: storing them one by one reads the old file first, and a damaged one would
    // then refuse every OK.
    proxy.SaveProxyCredentials(edtProxyUser.Text, edtProxyPassword.Text);

    TIniFileSectionWatchlist& watchlist = settings.Watchlist();
    watchlist.SetAuctionsRefreshTime(
        std::max(1, StrToIntDef(Trim(cmbxRefreshTime.Text), DefaultRefreshTime)));
    watchlist.SetAuctionsAutomaticRefresh(chckbxAutoRefresh.Checked);
    watchlist.SetAuctionsRefreshOnStart(chckbxRefreshOnStart.Checked);
    watchlist.SetAuctionsMarkHighbidder(chckbxMarkHighbidder.Checked);

    if (!FLogInInfo) return;
    TIniFileSectionEbayLoginData& login = settings.EbayLoginData();
    std::string previousUser = FLogInInfo->UserName;
    std::string token = FLogInInfo->Token;
    if (Trim(previousUser).empty()) {
        // Before the first load the saved login data are the current ones: saving them again must keep
        // their token.
        std::string storedUser, storedPassword, storedToken;
        try {
            login.LoadLogInData(storedUser, storedPassword, storedToken);
        } catch (const std::exception&) {
            // A damaged file is replaced or deleted below; it has no token to keep.
        }
        previousUser = storedUser;
        if (token.empty()) token = storedToken;
    }
    // A token belongs to the account it was made for: another user name must run the wizard again.
    if (!SameUser(previousUser, edteBayUsername.Text)) {
        token.clear();
        FLogInInfo->OAuth = {};
        DeleteOAuthTokens(OAuthTokensPath(login.LogInDataPath()));
    }
    FLogInInfo->Token = token;
    FLogInInfo->UserName = edteBayUsername.Text;
    FLogInInfo->Password = edtEbayPassword.Text;
    if (cmbxEbayLoginDataAction.ItemIndex == SaveDataIndex)
        login.SaveLogInData(FLogInInfo->UserName, FLogInInfo->Password, FLogInInfo->Token);
    else
        login.DeleteLogInData();
}

bool TfrmKovaGadgetOptions::ExecuteOptions(int startPage, bool updatesAvailable, TEbayLogInInfo* logInInfo) {
    TfrmKovaGadgetOptions form;
    form.FUpdatesAvailable = updatesAvailable;
    form.FLogInInfo = logInInfo;
    form.LoadSettings();
    form.SelectPage(startPage);
    if (form.ShowModal() != mrOk) return false;
    form.SaveSettings();
    return true;
}
