#include "GadgetTestDirectory.h"

#include "SandboxProcess.h"
#include "base/UnitUtils.h"
#include "platform/UnitPlatformFiles.h"
#include "storage/UnitKovaDatFile.h"
#include "storage/UnitKovaIniFile.h"

TGadgetDirectoryOptions SandboxGadget(const TSandboxProcess& sandbox) {
    TGadgetDirectoryOptions options;
    options.ApiUrl = sandbox.ApiUrl();
    options.LinkFetchTokenSignIn = sandbox.Url() + "/signin?runame=MYRUNAME&SessID=USERSID";
    return options;
}

TGadgetDirectoryOptions SandboxOAuthGadget(const TSandboxProcess& sandbox) {
    TGadgetDirectoryOptions options = SandboxGadget(sandbox);
    options.SignInXml = "<SIGNIN><SIGNINKIND>oauth</SIGNINKIND><OAUTHCONSENTURL>" + sandbox.Url() +
                        "/oauth2/authorize</OAUTHCONSENTURL><OAUTHTOKENURL>" + sandbox.Url() +
                        "/identity/v1/oauth2/token</OAUTHTOKENURL><OAUTHIDENTITYURL>" + sandbox.Url() +
                        "/commerce/identity/v1/user/</OAUTHIDENTITYURL><RUNAME>" + SandboxRuName +
                        "</RUNAME></SIGNIN>";
    return options;
}

TGadgetTestDirectory::TGadgetTestDirectory(const TGadgetDirectoryOptions& options) {
    const std::string xml =
        "<KOVADAT><COMMON><LINKFETCHTOKENSIGNIN>" + XmlEscape(options.LinkFetchTokenSignIn) +
        "</LINKFETCHTOKENSIGNIN><TRACKER>" + XmlEscape(options.Tracker) + "</TRACKER><LINKDOWNLOADPAGE>" +
        XmlEscape(options.LinkDownloadPage) + "</LINKDOWNLOADPAGE></COMMON><EBAYAPI><APIServerProduction>" +
        XmlEscape(options.ApiUrl) + "</APIServerProduction>" +
        (options.ApplicationKeys
             ? std::string("<APIDevID>") + SandboxDevID + "</APIDevID><APIAppID>" + SandboxAppID +
                   "</APIAppID><APICertID>" + SandboxCertID + "</APICertID>"
             : std::string()) +
        "<APISiteID>77</APISiteID><APICountRetryPostOnFail>" + std::to_string(options.RetryCount) +
        "</APICountRetryPostOnFail></EBAYAPI>" + options.SignInXml + "</KOVADAT>";
    FDir.Write("KovaDat.dat", PackKovaDat(xml));
    FDir.Write("detailsTemp.html", ReadFileBytes(KOVA_SOURCE_DIR "/gadget/detailsTemp.html"));
}

void TGadgetTestDirectory::SaveLogInData(const std::string& userName, const std::string& password,
                                         const std::string& token) const {
    TIniFileManager settings("KovaGadget.ini", Home());
    settings.EbayLoginData().SaveLogInData(userName, password, token);
}
