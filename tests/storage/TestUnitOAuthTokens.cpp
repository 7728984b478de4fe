#include "platform/UnitPlatformFiles.h"
#include "storage/UnitKovaIniFile.h"
#include "storage/UnitKovaeBayLogin.h"
#include "storage/UnitOAuthTokens.h"
#include "support/KovaTestSupport.h"

#include <gtest/gtest.h>

namespace {

TOAuthTokens SomeTokens() {
    return {"v^1.1#access" + std::string(2000, 'a'), 46000.123456789, "v^1.1#refresh", 46500.5};
}

class OAuthTokens : public ::testing::Test {
protected:
    void SetUp() override { InitIniFileManager("KovaGadget.ini", Dir.Path() + "/"); }
    void TearDown() override {
        SetLogInDataPrompt(nullptr);
        SetWriteFaultForTesting(nullptr);
        FreeIniFileManager();
    }
    std::string Path() const { return Dir.File("eboauth.dat"); }
    TTempDir Dir;
};

} // namespace

TEST_F(OAuthTokens, RoundTripOwnerOnlyForTheirUserAndAFailedSaveKeepsTheOldFile) {
    EXPECT_EQ(OAuthTokensPath(Dir.File("ebtmp.dat")), Path());
    EXPECT_TRUE(LoadOAuthTokens(Path(), "seven").Empty()) << "no file, no tokens";
    SaveOAuthTokens(Path(), "Seven", SomeTokens());
    EXPECT_EQ(FilePermissions(Path()), 0600);
    EXPECT_EQ(LoadOAuthTokens(Path(), " seven "), SomeTokens()) << "letter case and blanks aside";
    EXPECT_TRUE(LoadOAuthTokens(Path(), "other").Empty()) << "another user's tokens are none";
    EXPECT_EQ(ReadTextFile(Path()).find("v^1.1#refresh"), std::string::npos) << "encrypted";

    const std::string before = ReadTextFile(Path());
    SetWriteFaultForTesting([](const std::string&) { return true; });
    EXPECT_ANY_THROW(SaveOAuthTokens(Path(), "seven", {"x", 1, "y", 2}));
    SetWriteFaultForTesting(nullptr);
    EXPECT_EQ(ReadTextFile(Path()), before);

    SaveOAuthTokens(Path(), "seven", {});
    EXPECT_FALSE(FileExists(Path())) << "empty tokens delete the file";

    struct TCase {
        TOAuthTokens Tokens;
        double NowOffsetSeconds;
        bool Due;
    } cases[] = {{{"a", 100, "r", 0}, -301, false},
                 {{"a", 100, "r", 0}, -299, true},
                 {{"a", 100, "r", 0}, 10, true},
                 {{"", 100, "r", 0}, -3600, true},
                 {{"a", 0, "r", 0}, -3600, true}};
    for (const TCase& c : cases)
        EXPECT_EQ(c.Tokens.AccessTokenDue(100 + c.NowOffsetSeconds / 86400.0, 300), c.Due)
            << c.NowOffsetSeconds;
}

TEST_F(OAuthTokens, TheyGoWithTheLoginDataAndWithAnotherUserName) {
    TIniFileSectionEbayLoginData& section = IniFileManager()->EbayLoginData();
    section.SaveLogInData("seven", "secret", "");
    SaveOAuthTokens(Path(), "seven", SomeTokens());

    TEbayLogInInfo info;
    ASSERT_TRUE(info.CheckLogInData());
    EXPECT_EQ(info.OAuth, SomeTokens()) << "read with the saved login data";
    info.OAuth.AccessToken = "renewed";
    SaveTokenIfStored(info);
    EXPECT_EQ(LoadOAuthTokens(Path(), "seven").AccessToken, "renewed");

    info.Clear();
    EXPECT_FALSE(FileExists(Path()));
    EXPECT_TRUE(info.OAuth.Empty());

    // Login data kept in memory only: the prompt names another user, whose sign-in the old tokens are not.
    SaveOAuthTokens(Path(), "seven", SomeTokens());
    TEbayLogInInfo prompted;
    prompted.UserName = "seven";
    prompted.OAuth = SomeTokens();
    SetLogInDataPrompt([](std::string& userName, std::string& password, int& saveChoice) {
        userName = "eight";
        password = "pw";
        saveChoice = 1;
        return true;
    });
    ASSERT_TRUE(prompted.CheckLogInData());
    EXPECT_TRUE(prompted.OAuth.Empty());
    EXPECT_FALSE(FileExists(Path()));
}
