#pragma once
// The options dialog: watch list options, the eBay login data and whether they are kept, the proxy, and
// whether a newer version exists.

#include "dialogs/UnitFormModel.h"

#include <string>

class TEbayLogInInfo;

class TfrmKovaGadgetOptions : public TForm {
public:
    static constexpr int UpdatePage = 1;
    static constexpr int WatchlistPage = 2;
    static constexpr int ProxyPage = 3;

    TfrmKovaGadgetOptions();

    // Loads the settings, shows the start page and runs the dialog; on OK saves everything (save failures
    // propagate). Returns whether it closed with OK.
    static bool ExecuteOptions(int startPage, bool updatesAvailable, TEbayLogInInfo* logInInfo);

    void LoadSettings();
    void SaveSettings();
    // Selects the first tree node of the page; selecting a node shows its page.
    void SelectPage(int page);
    void ShowPage(int page);
    void UpdateProxyControls();

    void trvwPagesChange();
    void chckbxUseProxyClick();
    void chckbxProxyAuthenticationClick();
    void btnProxyMSIEClick();
    void cmbxEbayLoginDataActionChange();
    void btnDeleteLoginDataClick();
    void chckbxAutoRefreshClick();
    void lblDownloadLinkClick();

    TComponent* FCurrentPanel = nullptr;
    bool FUpdatesAvailable = false;
    TEbayLogInInfo* FLogInInfo = nullptr;

    TComponent& trvwPages;
    TComponent& pnlPages;
    TComponent& btnOk;
    TComponent& btnCancel;

    TComponent& pnlWatchlist;
    TComponent& grpbxEbayLogin;
    TComponent& lblSaving;
    TComponent& cmbxEbayLoginDataAction;
    TComponent& lblUserName;
    TComponent& edteBayUsername;
    TComponent& lblPassword;
    TComponent& edtEbayPassword;
    TComponent& btnDeleteLoginData;
    TComponent& grpbxWatchlistOptions;
    TComponent& chckbxAutoRefresh;
    TComponent& cmbxRefreshTime;
    TComponent& lblMinutes;
    TComponent& chckbxRefreshOnStart;
    TComponent& chckbxMarkHighbidder;

    TComponent& pnlUpdate;
    TComponent& lblUpdateCaption;
    TComponent& lblDownloadLink;

    TComponent& pnlProxy;
    TComponent& chckbxUseProxy;
    TComponent& btnProxyMSIE;
    TComponent& grpbxProxyOptions;
    TComponent& lblProxyServer;
    TComponent& edtProxyServer;
    TComponent& lblProxyPort;
    TComponent& edtProxyPort;
    TComponent& chckbxProxyAuthentication;
    TComponent& lblProxyUser;
    TComponent& edtProxyUser;
    TComponent& lblProxyPassword;
    TComponent& edtProxyPassword;
    TComponent& lblProxyInfo;

private:
    TComponent* PagePanel(int page) const;
};
