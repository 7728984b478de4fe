// ctest-labels: threaded
// (the missing-file test runs the logging thread)
#include "platform/UnitPlatformFiles.h"
#include "platform/UnitPlatformMainThread.h"
#include "platform/UnitPlatformRunProgram.h"
#include "storage/UnitEncryptStream.h"
#include "storage/UnitKovaDat.h"
#include "support/KovaTestSupport.h"
#include "support/UnitLogging.h"

#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

TProgramRun KovaDat(const std::vector<std::string>& arguments) {
    return RunProgram(KOVA_BIN_DIR "/kova-dat", arguments);
}

std::string Doc(const std::string& body) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<KOVADAT>" + body + "</KOVADAT>\n";
}

// Loads the payload packed with the fixed pass phrase, as a file of its own, and returns the new object.
const TKovaGadgetDat& LoadPayload(const TTempDir& dir, const std::string& xml) {
    LoadGadgetDat(dir.Path() + "/", dir.Write("payload.dat", PackKovaDat(xml)));
    if (!GadgetDat()) throw std::logic_error("no object after a load that raised nothing");
    return *GadgetDat();
}

// The message of what the call raises, "" when it raises nothing.
std::string RaisedBy(const std::function<void()>& call) {
    try {
        call();
    } catch (const std::exception& e) {
        return e.what();
    }
    return "";
}

class KovaDatTest : public ::testing::Test {
protected:
    void TearDown() override { FreeGadgetDat(); }
    TTempDir Dir;
};

} // namespace

TEST_F(KovaDatTest, ReadsEveryKeyTrimmedFromAFilePackedByTheTool) {
    const std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                            "<AnyRoot>\n"
                            "  <EBAYAPI>\n"
                            "    <APISiteID>\n      16\n    </APISiteID>\n"
                            "    <APIActive> False </APIActive>\n"
                            "    <APICountRetryPostOnFail>\t5\t</APICountRetryPostOnFail>\n"
                            "    <APIServerSandbox>https://sandbox.example/ws</APIServerSandbox>\n"
                            "    <APIAuthorizationToken>AgAAAA**token</APIAuthorizationToken>\n"
                            "    <APICertID>cert-1</APICertID>\n"
                            "    <APIAppID>  app-1  </APIAppID>\n"
                            "    <APIDevID>dev-1</APIDevID>\n"
                            "    <APIServerProduction>https://api.example/ws/api.dll</APIServerProduction>\n"
                            "    <Unknown>ignored</Unknown>\n"
                            "  </EBAYAPI>\n"
                            "  <COMMON>\n"
                            "    <TRACKER>\n      https://track.example/?u=\n    </TRACKER>\n"
                            "    <LINKFETCHTOKENSIGNIN>https://signin.example/?ru=MYRUNAME&amp;id=USERSID"
                            "</LINKFETCHTOKENSIGNIN>\n"
                            "    <UPDATESERVER>update.example</UPDATESERVER>\n"
                            "    <USETRACKER>True</USETRACKER>\n"
                            "    <LINKONLINEHELP>help</LINKONLINEHELP>\n"
                            "    <LINKHOME>home</LINKHOME>\n"
                            "    <LINKDOWNLOADPAGE>https://example/Gr\xC3\xB6\xC3\x9F"
                            "e</LINKDOWNLOADPAGE>\n"
                            "    <FILENAMEPRIVACYSTATEMENT>privacy.html</FILENAMEPRIVACYSTATEMENT>\n"
                            "    <FILENAMELICENCEAGREEMENT>licence.html</FILENAMELICENCEAGREEMENT>\n"
                            "  </COMMON>\n"
                            "</AnyRoot>\n";
    TProgramRun pack = KovaDat({"pack", Dir.Write("KovaDat.xml", xml), Dir.File("KovaDat.dat")});
    ASSERT_EQ(pack.ExitCode, 0) << pack.ErrorOutput;

    // The directory without its delimiter still names the file inside it.
    for (const std::string& directory : {Dir.Path() + "/", Dir.Path()}) {
        LoadGadgetDat(directory, " ");
        ASSERT_NE(GadgetDat(), nullptr);
        EXPECT_EQ(GadgetDat()->Directory(), directory);
    }
    const TDatCommon& common = GadgetDat()->Common();
    EXPECT_EQ(common.LINKFETCHTOKENSIGNIN, "https://signin.example/?ru=MYRUNAME&id=USERSID");
    EXPECT_EQ(common.TRACKER, "https://track.example/?u=");
    EXPECT_EQ(common.UPDATESERVER, "update.example");
    EXPECT_TRUE(common.USETRACKER);
    EXPECT_EQ(common.LINKONLINEHELP, "help");
    EXPECT_EQ(common.LINKHOME, "home");
    EXPECT_EQ(common.LINKDOWNLOADPAGE, "https://example/Gr\xC3\xB6\xC3\x9F"
                                       "e");
    EXPECT_EQ(common.FILENAMEPRIVACYSTATEMENT, "privacy.html");
    EXPECT_EQ(common.FILENAMELICENCEAGREEMENT, "licence.html");
    const TDatEbayAPI& api = GadgetDat()->EbayAPI();
    EXPECT_FALSE(api.APIActive);
    EXPECT_EQ(api.APICountRetryPostOnFail, 5);
    EXPECT_EQ(api.APIServerSandbox, "https://sandbox.example/ws");
    EXPECT_EQ(api.APISiteID, 16);
    EXPECT_EQ(api.APIAuthorizationToken, "AgAAAA**token");
    EXPECT_EQ(api.APICertID, "cert-1");
    EXPECT_EQ(api.APIAppID, "app-1");
    EXPECT_EQ(api.APIDevID, "dev-1");
    EXPECT_EQ(api.APIServerProduction, "https://api.example/ws/api.dll");
}

TEST_F(KovaDatTest, MissingSectionsKeepDefaultsAndPresentOnesReadMissingKeysAsZero) {
    const TKovaGadgetDat* dat = &LoadPayload(Dir, Doc("<COMMON><TRACKER>t</TRACKER></COMMON>"));
    EXPECT_EQ(dat->Common().TRACKER, "t");
    EXPECT_EQ(dat->EbayAPI().APICountRetryPostOnFail, 3);
    EXPECT_EQ(dat->EbayAPI().APISiteID, 77);
    EXPECT_TRUE(dat->EbayAPI().APIActive);

    dat = &LoadPayload(Dir, Doc("<EBAYAPI><APISiteID>  </APISiteID><APIAppID>a</APIAppID></EBAYAPI>"));
    EXPECT_EQ(dat->EbayAPI().APIAppID, "a");
    EXPECT_EQ(dat->EbayAPI().APISiteID, 0) << "an empty key is not the default";
    EXPECT_EQ(dat->EbayAPI().APICountRetryPostOnFail, 0);
    EXPECT_FALSE(dat->EbayAPI().APIActive);

    // Names match exactly and only directly below the root; the first of two sections counts.
    for (const std::string& body :
         {std::string("<common><TRACKER>t</TRACKER></common><ebayapi><APISiteID>1</APISiteID></ebayapi>"),
          std::string("<X><COMMON><TRACKER>t</TRACKER></COMMON><EBAYAPI/></X>"),
          std::string("<COMMON><tracker>t</tracker></COMMON>")}) {
        dat = &LoadPayload(Dir, Doc(body));
        EXPECT_EQ(dat->Common().TRACKER, "") << body;
        EXPECT_EQ(dat->EbayAPI().APISiteID, 77) << body;
    }
    dat = &LoadPayload(Dir, Doc("<COMMON><TRACKER>first</TRACKER></COMMON><COMMON><TRACKER>second</TRACKER>"
                                "</COMMON>"));
    EXPECT_EQ(dat->Common().TRACKER, "first");

    struct TCase {
        const char* Text;
        bool Boolean;
        int Integer;
    };
    for (const TCase& c : {TCase{"1", true, 1}, TCase{"-1", true, -1}, TCase{"TRUE", true, 0},
                           TCase{"false", false, 0}, TCase{"yes", false, 0}, TCase{"0", false, 0},
                           TCase{"12abc", false, 0}, TCase{"99999999999", true, 0}}) {
        const std::string t = c.Text;
        dat =
            &LoadPayload(Dir, Doc("<COMMON><USETRACKER>" + t + "</USETRACKER></COMMON><EBAYAPI><APIActive>" +
                                  t + "</APIActive><APISiteID>" + t + "</APISiteID></EBAYAPI>"));
        EXPECT_EQ(dat->Common().USETRACKER, c.Boolean) << t;
        EXPECT_EQ(dat->EbayAPI().APIActive, c.Boolean) << t;
        EXPECT_EQ(dat->EbayAPI().APISiteID, c.Integer) << t;
    }
}

TEST_F(KovaDatTest, ABlankPassPhraseReadsThePayloadAsPlainXml) {
    const std::string xml = Doc("<EBAYAPI><APIAppID>plain</APIAppID></EBAYAPI>");
    const std::string path = Dir.Write("plain.xml", xml);
    LoadGadgetDat("", path, "  ");
    ASSERT_NE(GadgetDat(), nullptr);
    EXPECT_EQ(GadgetDat()->EbayAPI().APIAppID, "plain");
    EXPECT_NE(RaisedBy([&] { LoadGadgetDat("", path); }), "") << "plain XML is no container";
    EXPECT_EQ(GadgetDat(), nullptr);
}

TEST_F(KovaDatTest, EveryFailureRaisesAndLeavesNoObject) {
    const std::string good = PackKovaDat(Doc("<COMMON><TRACKER>t</TRACKER></COMMON>"));
    std::string flipped = good;
    flipped[flipped.size() / 2] ^= 0x01;
    TMemoryStream notZlib(std::string("plain bytes, no zlib stream"));
    TKryptUtils::EncryptStreamWithHash(notZlib, KovaDatPassPhrase);

    struct TCase {
        const char* What;
        std::string File;
        std::string Message; // "" when only the failure itself is certain
    };
    const TCase cases[] = {
        {"other pass phrase", PackKovaDat(Doc(""), "{00000000-0000-0000-0000-000000000000}"),
         "TKryptUtils.DecryptStreamWithHash: Wrong Hash"},
        {"empty file", "", "Invalid file format"},
        {"one block", good.substr(0, 16), "Invalid file format"},
        {"cut short", good.substr(0, good.size() - 16), ""},
        {"one bit changed", flipped, ""},
        {"digest fine, no zlib data", notZlib.Bytes(), ""},
        {"not XML", PackKovaDat("<KOVADAT><COMMON></KOVADAT>"), ""},
        {"key with elements", PackKovaDat(Doc("<COMMON><TRACKER><a/></TRACKER></COMMON>")),
         "Element does not contain a single text node"},
    };
    for (const TCase& c : cases) {
        LoadGadgetDat("", Dir.Write("good.dat", good));
        ASSERT_NE(GadgetDat(), nullptr);
        const std::string path = Dir.Write("bad.dat", c.File);
        const std::string message = RaisedBy([&] { LoadGadgetDat("", path); });
        EXPECT_NE(message, "") << c.What;
        if (!c.Message.empty()) {
            EXPECT_EQ(message, c.Message) << c.What;
        }
        EXPECT_EQ(GadgetDat(), nullptr) << c.What;
    }
    EXPECT_THROW(LoadGadgetDat("", Dir.Write("bad.dat", cases[0].File)), EKryptHashError);
}

TEST_F(KovaDatTest, AMissingFileIsLoggedAsAnErrorAndRaised) {
    SetMainThread();
    const std::string log = Dir.File("gadget.log");
    StartLogging(lgAll, lgtrgtToFile, log);
    LoadGadgetDat("", Dir.Write("good.dat", PackKovaDat(Doc(""))));
    ASSERT_NE(GadgetDat(), nullptr);

    TTempDir gadget;
    const std::string folderNamedLikeTheFile = gadget.File("folder.dat");
    ASSERT_TRUE(std::filesystem::create_directory(folderNamedLikeTheFile));
    const std::vector<std::pair<std::string, std::string>> calls = {
        {gadget.Path() + "/", ""}, {"/unused/", gadget.File("other.dat")}, {"", folderNamedLikeTheFile}};
    for (const auto& [directory, fileName] : calls) {
        const std::string path = fileName.empty() ? gadget.File("KovaDat.dat") : fileName;
        const std::string message = "File \"" + path + "\" could not be found";
        EXPECT_EQ(RaisedBy([&] { LoadGadgetDat(directory, fileName); }), message);
        EXPECT_EQ(GadgetDat(), nullptr) << path;
    }
    StopLogging(true);
    MainThreadQueue().ProcessPending();

    const std::string text = ReadTextFile(log);
    for (const auto& [directory, fileName] : calls) {
        const std::string path = fileName.empty() ? gadget.File("KovaDat.dat") : fileName;
        const size_t at = text.find(" - File \"" + path + "\" could not be found\r\n");
        ASSERT_NE(at, std::string::npos) << text;
        EXPECT_EQ(text.rfind("Error: ", at), text.rfind('\n', at) + 1) << "logged at level Error: " << text;
    }
}

TEST_F(KovaDatTest, ToolShowsEveryFieldInOrderAndReportsFailures) {
    const std::string dat = Dir.File("KovaDat.dat");
    ASSERT_EQ(KovaDat({"pack", KOVA_SOURCE_DIR "/gadget/KovaDat.xml", dat}).ExitCode, 0);
    TProgramRun show = KovaDat({"show", dat});
    EXPECT_EQ(show.ExitCode, 0) << show.ErrorOutput;
    EXPECT_EQ(show.ErrorOutput, "");
    EXPECT_EQ(show.Output,
              "LINKFETCHTOKENSIGNIN=https://signin.ebay.com/ws/eBayISAPI.dll?SignIn&runame=MYRUNAME"
              "&SessID=USERSID\n"
              "TRACKER=\n"
              "UPDATESERVER=\n"
              "USETRACKER=false\n"
              "LINKONLINEHELP=\n"
              "LINKHOME=\n"
              "LINKDOWNLOADPAGE=\n"
              "FILENAMEPRIVACYSTATEMENT=\n"
              "FILENAMELICENCEAGREEMENT=\n"
              "APIActive=true\n"
              "APICountRetryPostOnFail=3\n"
              "APIServerSandbox=https://api.sandbox.ebay.com/ws/api.dll\n"
              "APISiteID=77\n"
              "APIAuthorizationToken=\n"
              "APICertID=\n"
              "APIAppID=\n"
              "APIDevID=\n"
              "APIServerProduction=https://api.ebay.com/ws/api.dll\n"
              "SIGNINKIND=token\n"
              "OAUTHSCOPES=https://api.ebay.com/oauth/api_scope\n"
              "OAUTHCONSENTURL=https://auth.ebay.com/oauth2/authorize\n"
              "OAUTHTOKENURL=https://api.ebay.com/identity/v1/oauth2/token\n"
              "OAUTHIDENTITYURL=https://apiz.ebay.com/commerce/identity/v1/user/\n"
              "RUNAME=\n");

    // A value spanning lines stays on its own line.
    const std::string odd = Dir.Write(
        "odd.dat",
        PackKovaDat(Doc("<COMMON><TRACKER>a\r\nb\tc\x01&#x7F;\xC3\xA4\\</TRACKER></COMMON>"), "odd"));
    show = KovaDat({"show", odd, "--passphrase", "odd"});
    EXPECT_EQ(show.ExitCode, 0) << show.ErrorOutput;
    EXPECT_NE(show.Output.find("\nTRACKER=a\\nb\\tc\\x01\\x7F\xC3\xA4\\\n"), std::string::npos)
        << show.Output;

    TProgramRun wrong = KovaDat({"show", odd});
    EXPECT_EQ(wrong.ExitCode, 1);
    EXPECT_EQ(wrong.Output, "");
    EXPECT_EQ(wrong.ErrorOutput, "TKryptUtils.DecryptStreamWithHash: Wrong Hash\n");
    TProgramRun missing = KovaDat({"show", Dir.File("missing.dat")});
    EXPECT_EQ(missing.ExitCode, 1);
    EXPECT_EQ(missing.Output, "");
    EXPECT_EQ(missing.ErrorOutput, "File \"" + Dir.File("missing.dat") + "\" could not be found\n");
    EXPECT_EQ(KovaDat({"show"}).ExitCode, 1);

    EXPECT_NE(KovaDat({"--help"}).Output.find("kova-dat show IN.dat [--passphrase TEXT]"), std::string::npos);
}

TEST_F(KovaDatTest, SignInValuesAreOptionalAndBlankOnesKeepTheirDefaults) {
    const TDatSignIn defaults;
    struct TCase {
        const char* Body;
        const char* Kind;
        const char* Scopes;
        const char* TokenURL;
        const char* RuName;
        bool OAuth;
    } cases[] = {
        {"<EBAYAPI><APIAppID>a</APIAppID></EBAYAPI>", "token", defaults.DefaultScopes,
         defaults.DefaultTokenURL, "", false},
        {"<SIGNIN><SIGNINKIND> </SIGNINKIND><OAUTHSCOPES/></SIGNIN>", "token", defaults.DefaultScopes,
         defaults.DefaultTokenURL, "", false},
        {"<SIGNIN><SIGNINKIND>OAuth</SIGNINKIND><OAUTHSCOPES>s1 s2</OAUTHSCOPES>"
         "<OAUTHTOKENURL>https://127.0.0.1:1/t</OAUTHTOKENURL><RUNAME> Mine-1 </RUNAME></SIGNIN>",
         "OAuth", "s1 s2", "https://127.0.0.1:1/t", "Mine-1", true},
        {"<SIGNIN><SIGNINKIND>magic</SIGNINKIND></SIGNIN>", "magic", defaults.DefaultScopes,
         defaults.DefaultTokenURL, "", false},
        {"<signin><SIGNINKIND>oauth</SIGNINKIND></signin>", "token", defaults.DefaultScopes,
         defaults.DefaultTokenURL, "", false},
    };
    for (const TCase& c : cases) {
        const TKovaGadgetDat& dat = LoadPayload(Dir, Doc(c.Body));
        EXPECT_EQ(dat.SignIn().SIGNINKIND, c.Kind) << c.Body;
        EXPECT_EQ(dat.SignIn().OAUTHSCOPES, c.Scopes) << c.Body;
        EXPECT_EQ(dat.SignIn().OAUTHCONSENTURL, defaults.DefaultConsentURL) << c.Body;
        EXPECT_EQ(dat.SignIn().OAUTHTOKENURL, c.TokenURL) << c.Body;
        EXPECT_EQ(dat.SignIn().RUNAME, c.RuName) << c.Body;
        EXPECT_EQ(dat.SignIn().UsesOAuth(), c.OAuth) << c.Body;
    }
}

TEST_F(KovaDatTest, SavedKeysKeepEveryOtherValueAndLeaveAnOwnerOnlyFile) {
    const std::string shipped = ReadTextFile(KOVA_SOURCE_DIR "/gadget/KovaDat.xml");
    struct TCase {
        std::string Name;
        std::string Xml;
    } cases[] = {
        {"shipped", shipped},
        {"no EBAYAPI, no SIGNIN", Doc("<COMMON><TRACKER>t</TRACKER></COMMON>")},
        {"SIGNIN with scopes", Doc("<SIGNIN><OAUTHSCOPES>x y</OAUTHSCOPES><RUNAME>old</RUNAME></SIGNIN>")}};
    for (const TCase& c : cases) {
        const std::string path = Dir.Write("KovaDat.dat", PackKovaDat(c.Xml));
        ASSERT_EQ(::chmod(path.c_str(), 0644), 0);
        LoadGadgetDat("", path);
        TDatFieldList expected = GadgetDat()->Fields();
        FreeGadgetDat();

        TGadgetDatKeys keys;
        keys.DevID = "dev <&> 1";
        keys.AppID = " app-1 ";
        keys.CertID = "cert-1";
        keys.RuName = "My-RuName";
        keys.SignInKind = "OAUTH";
        SaveGadgetDatKeys(path, keys);
        EXPECT_EQ(FilePermissions(path), 0600) << c.Name;
        LoadGadgetDat("", path);
        for (auto& [name, value] : expected) {
            if (name == "APIDevID") value = "dev <&> 1";
            if (name == "APIAppID") value = "app-1";
            if (name == "APICertID") value = "cert-1";
            if (name == "RUNAME") value = "My-RuName";
            if (name == "SIGNINKIND") value = "oauth";
        }
        EXPECT_EQ(GadgetDat()->Fields(), expected) << c.Name;
        EXPECT_TRUE(GadgetDat()->HasApplicationKeys()) << c.Name;
        FreeGadgetDat();

        // Only the values given change: a second save of the RuName alone keeps the keys.
        SaveGadgetDatKeys(path, {.RuName = "Second"});
        LoadGadgetDat("", path);
        EXPECT_EQ(GadgetDat()->EbayAPI().APIAppID, "app-1") << c.Name;
        EXPECT_EQ(GadgetDat()->SignIn().RUNAME, "Second") << c.Name;
        FreeGadgetDat();
    }
}

TEST_F(KovaDatTest, RefusedKeysLeaveTheFileAsItWas) {
    const std::string path =
        Dir.Write("KovaDat.dat", PackKovaDat(Doc("<EBAYAPI><APIAppID>a</APIAppID></EBAYAPI>")));
    const std::string before = ReadTextFile(path);
    struct TCase {
        TGadgetDatKeys Keys;
        std::string Path;
        std::string Message;
        std::string_view PassPhrase;
    } cases[] = {
        {{.SignInKind = "magic"},
         path,
         "The sign-in kind must be \"token\" or \"oauth\", not \"magic\"",
         KovaDatPassPhrase},
        {{.AppID = "a\nb"}, path, "The value of AppID must be one line", KovaDatPassPhrase},
        {{.AppID = "b"},
         Dir.File("missing.dat"),
         "File \"" + Dir.File("missing.dat") + "\" could not be found",
         KovaDatPassPhrase},
        {{.AppID = "b"}, path, "TKryptUtils.DecryptStreamWithHash: Wrong Hash", "another"},
    };
    for (const TCase& c : cases) {
        EXPECT_EQ(RaisedBy([&] { SaveGadgetDatKeys(c.Path, c.Keys, c.PassPhrase); }), c.Message);
        EXPECT_EQ(ReadTextFile(path), before) << c.Message;
    }
    EXPECT_FALSE(FileExists(Dir.File("missing.dat")));
}
