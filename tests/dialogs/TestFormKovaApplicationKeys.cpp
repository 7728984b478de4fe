// ctest-labels: threaded
#include "base/UnitUtils.h"
#include "dialogs/FormKovaApplicationKeys.h"
#include "dialogs/FormKovaGadgetAuthorize.h"
#include "host/KovaGadgetUnit.h"
#include "platform/UnitPlatformFiles.h"
#include "platform/UnitPlatformMainThread.h"
#include "platform/UnitPlatformRunProgram.h"
#include "storage/UnitKovaDat.h"
#include "storage/UnitKovaDatFile.h"
#include "support/KovaTestSupport.h"
#include "support/RecordingOpener.h"
#include "support/ScriptedFormHost.h"
#include "watchlist/UnitKovaThreads.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

// The gadget directory a new user has: the page's template and the application data the build ships.
class ApplicationKeysTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetMainThread();
        Dir.Write("KovaDat.dat", PackKovaDat(ReadTextFile(KOVA_SOURCE_DIR "/gadget/KovaDat.xml")));
        Dir.Write("detailsTemp.html", ReadFileBytes(KOVA_SOURCE_DIR "/gadget/detailsTemp.html"));
        ::chmod(Dir.File("KovaDat.dat").c_str(), 0644);
        Gadget.Init(Dir.Path());
        ASSERT_NE(Gadget.WatchList(), nullptr);
    }
    void TearDown() override {
        Gadget.Terminate();
        SetRuName("");
    }
    void Fill(TForm& form, const std::string& certID, const std::string& ruName, int kind) {
        form.SetText("edtDevID", "my-dev");
        form.SetText("edtAppID", "my-app");
        form.SetText("edtCertID", certID);
        form.SetText("edtRuName", ruName);
        form.SelectItem("cmbxSignInKind", kind);
    }
    std::string Show() {
        return RunProgram(KOVA_BIN_DIR "/kova-dat", {"show", Dir.File("KovaDat.dat")}).Output;
    }

    TTempDir Dir;
    TKovaGadget Gadget;
};

} // namespace

TEST_F(ApplicationKeysTest, TheShippedFileLeadsToTheKeysFormWhoseOkWritesThemAndOpensTheSignIn) {
    TScriptedFormHost host;
    TRecordingOpener opener;
    host.Then([&](TForm& form) {
        ASSERT_EQ(form.Caption, "eBay application keys");
        auto& keys = static_cast<TfrmKovaApplicationKeys&>(form);
        EXPECT_NE(keys.lblWhere.Caption.find("developer program"), std::string::npos);
        // A first run says why keys are needed, where they come from and how to try the gadget without them.
        EXPECT_NE(keys.lblAbout.Caption.find("free"), std::string::npos);
        EXPECT_NE(keys.lblDemo.Caption.find("kova-gadget --demo"), std::string::npos);
        EXPECT_TRUE(form.Click("lblDeveloperLink"));
        EXPECT_EQ(opener.Opened(), std::vector<std::string>{"https://developer.ebay.com/"});
        // Enter is OK's, Escape Cancel's.
        EXPECT_TRUE(keys.btnOk.Default);
        EXPECT_TRUE(keys.btnCancel.Cancel);
        EXPECT_EQ(keys.cmbxSignInKind.ItemIndex, TfrmKovaApplicationKeys::OAuthIndex) << "new keys: OAuth";
        EXPECT_EQ(keys.edtCertID.PasswordChar, '*');
        // Missing values keep the form open and say which.
        Fill(form, "", "", TfrmKovaApplicationKeys::OAuthIndex);
        ASSERT_TRUE(form.Click("btnOk"));
        EXPECT_EQ(form.ModalResult, mrNone);
        EXPECT_EQ(keys.lblError.Caption, "Please fill in CertID, RuName.");
        EXPECT_TRUE(keys.lblError.Visible);
        // A key that is not one line of text keeps the form open, names the field and goes to it.
        const std::pair<const char*, std::string> refused[] = {{"edtDevID", std::string("my\0dev", 6)},
                                                               {"edtCertID", "\xff\xfe\xc0\xaf"},
                                                               {"edtRuName", "Ru\x1bN"}};
        for (const auto& [edit, text] : refused) {
            Fill(form, "my-cert", "RuName", TfrmKovaApplicationKeys::OAuthIndex);
            form.SetText(edit, text);
            ASSERT_TRUE(form.Click("btnOk"));
            EXPECT_EQ(form.ModalResult, mrNone) << edit;
            EXPECT_EQ(
                keys.lblError.Caption.rfind(std::string("The ") + (edit + 3) + " cannot be used: it ", 0), 0u)
                << keys.lblError.Caption;
            EXPECT_EQ(form.ActiveControl, edit);
        }
        Fill(form, "my-cert", " My-RuName ", TfrmKovaApplicationKeys::OAuthIndex);
        ASSERT_TRUE(form.Click("btnOk"));
        EXPECT_EQ(form.ModalResult, mrOk);
    });
    host.Then([](TForm& form) { EXPECT_EQ(form.Caption, "My eBay - LogIn Data"); });
    Gadget.LoadWatchlist();
    EXPECT_EQ(host.Shown, (std::vector<std::string>{"eBay application keys", "My eBay - LogIn Data"}));
    EXPECT_EQ(FilePermissions(Dir.File("KovaDat.dat")), 0600);
    const std::string shown = Show();
    for (const char* line :
         {"\nAPIDevID=my-dev\n", "\nAPIAppID=my-app\n", "\nAPICertID=my-cert\n", "\nRUNAME=My-RuName\n",
          "\nSIGNINKIND=oauth\n", "\nAPIServerProduction=https://api.ebay.com/ws/api.dll\n"})
        EXPECT_NE(shown.find(line), std::string::npos) << line << shown;
    ASSERT_NE(GadgetDat(), nullptr);
    EXPECT_EQ(GadgetDat()->EbayAPI().APIAppID, "my-app") << "the control works with the new keys at once";
    EXPECT_EQ(RuName(), "My-RuName");

    // With keys and RuName in place the next load goes to the sign-in straight away.
    TScriptedFormHost next;
    next.Then([](TForm&) {});
    Gadget.LoadWatchlist();
    EXPECT_EQ(next.Shown, std::vector<std::string>{"My eBay - LogIn Data"});
}

TEST_F(ApplicationKeysTest, CancelSaysKeysAreNeededAndWritesNothing) {
    const std::string before = ReadTextFile(Dir.File("KovaDat.dat"));
    TScriptedFormHost host;
    host.Then([&](TForm& form) {
        Fill(form, "my-cert", "My-RuName", TfrmKovaApplicationKeys::TokenIndex);
        form.Click("btnCancel");
    });
    Gadget.LoadWatchlist();
    EXPECT_EQ(host.Shown, std::vector<std::string>{"eBay application keys"}) << "no sign-in without keys";
    EXPECT_EQ(ReadTextFile(Dir.File("KovaDat.dat")), before);
    EXPECT_NE(ReadTextFile(Dir.File("result.txt")).find(HtmlEscape(ApplicationKeysNeededMessage)),
              std::string::npos);
}

TEST_F(ApplicationKeysTest, ATokenFlowNeedsOnlyTheKeysAnOAuthOneTheRuNameToo) {
    struct TCase {
        TGadgetDatKeys Keys;
        const char* RuNameOption;
        bool Missing;
    } cases[] = {
        {{.DevID = "d", .AppID = "a", .CertID = "c", .SignInKind = "token"}, "", false},
        {{.DevID = "d", .AppID = "", .CertID = "c", .SignInKind = "token"}, "", true},
        {{.DevID = "d", .AppID = "a", .CertID = "c", .SignInKind = "oauth"}, "", true},
        {{.DevID = "d", .AppID = "a", .CertID = "c", .SignInKind = "oauth"}, "From-Option", false},
        {{.DevID = "d", .AppID = "a", .CertID = "c", .RuName = "In-File", .SignInKind = "oauth"}, "", false},
    };
    for (const TCase& c : cases) {
        SaveGadgetDatKeys(Dir.File("KovaDat.dat"), c.Keys);
        LoadGadgetDat(Dir.Path() + "/", "");
        SetRuName(c.RuNameOption);
        EXPECT_EQ(TfrmKovaApplicationKeys::KeysMissing(), c.Missing)
            << *c.Keys.SignInKind << " " << c.Keys.AppID.value_or("") << " " << c.RuNameOption;
    }
}
