#include "ScriptedFormHost.h"
#include "dialogs/FormKovaEbayLogInData.h"
#include "platform/UnitPlatformFiles.h"
#include "storage/UnitKovaIniFile.h"
#include "storage/UnitKovaeBayLogin.h"
#include "support/KovaTestSupport.h"

#include <filesystem>
#include <gtest/gtest.h>

namespace {

// The tagged plaintext of a login data file holding three short 7-bit strings.
std::string PlainFields(const std::string& userName, const std::string& password, const std::string& token) {
    std::string plain = "\x01";
    for (const std::string& field : {userName, password, token})
        plain += std::string("\x06") + static_cast<char>(field.size()) + field;
    return plain + '\0';
}

// Decrypts a file by hand, apart from the container's own reader: frame 0x01, 0x02, length, cipher, 0x00.
std::string PlaintextOf(const std::string& path) {
    const std::string file = ReadFileBytes(path);
    EXPECT_EQ(file.substr(0, 2), "\x01\x02");
    TMemoryStream cipher(file.substr(3, file.size() - 4));
    TKryptUtils::DecryptStreamWithKey(cipher, TEncryptStreamEbayLoginData().GetKey());
    return cipher.Bytes();
}

// A dialog script: checks what the dialog shows, types the values, picks the choice and clicks OK.
TScriptedFormHost::TScript TypeAndOk(std::string userName, std::string password, int choice,
                                     std::string shownUserName = "") {
    return [=](TForm& f) {
        auto& form = static_cast<TfrmEbayLogInData&>(f);
        EXPECT_EQ(form.edteBayUsername.Text, shownUserName);
        EXPECT_EQ(form.cmbxEbayLoginDataAction.ItemIndex, 0) << "discard is preselected";
        form.SetText("edteBayUsername", userName);
        form.SetText("edtEbayPassword", password);
        form.SelectItem("cmbxEbayLoginDataAction", choice);
        EXPECT_TRUE(form.Click("btnOk"));
    };
}

class KovaeBayLogin : public ::testing::Test {
protected:
    void SetUp() override {
        InitIniFileManager("KovaGadget.ini", FDir.Path() + "/");
        InstallLogInDataPrompt();
    }
    void TearDown() override {
        SetLogInDataPrompt(nullptr);
        FreeIniFileManager();
    }

    TIniFileSectionEbayLoginData& Section() const { return IniFileManager()->EbayLoginData(); }
    std::string DatPath() const { return FDir.File("ebtmp.dat"); }
    std::string Values(const TEbayLogInInfo& info) const {
        return info.UserName + "|" + info.Password + "|" + info.Token;
    }

    TTempDir FDir;
    TScriptedFormHost FHost;
};

} // namespace

TEST_F(KovaeBayLogin, WithNothingKnownTheDialogAsksAndTheChoiceDecidesAboutTheFile) {
    // Discard: the typed values live in memory only.
    FHost.Then(TypeAndOk(" anna", "pw ", 0));
    TEbayLogInInfo info;
    ASSERT_TRUE(info.CheckLogInData());
    EXPECT_EQ(Values(info), " anna|pw |");
    EXPECT_FALSE(FileExists(DatPath()));

    // Save: the file holds user name, password and an empty token, readable by its owner only.
    FHost.Then(TypeAndOk("anna", "pw", 1));
    TEbayLogInInfo saving;
    ASSERT_TRUE(saving.CheckLogInData());
    EXPECT_EQ(PlaintextOf(DatPath()), PlainFields("anna", "pw", ""));
    EXPECT_EQ(FilePermissions(DatPath()), 0600);

    // After an authorisation the login info's values and token replace the stored ones.
    saving.UserName = "anna2";
    saving.Token = "AgAA**tok";
    SaveTokenIfStored(saving);
    EXPECT_EQ(PlaintextOf(DatPath()), PlainFields("anna2", "pw", "AgAA**tok"));
    EXPECT_EQ(FilePermissions(DatPath()), 0600);

    // A later discard choice deletes the stored file (here: one whose password is blank, which counts as
    // nothing stored).
    Section().SaveLogInData("anna", "  ", "tok");
    FHost.Then(TypeAndOk("bert", "x", 0));
    TEbayLogInInfo discarding;
    ASSERT_TRUE(discarding.CheckLogInData());
    EXPECT_EQ(Values(discarding), "bert|x|");
    EXPECT_FALSE(FileExists(DatPath()));
    EXPECT_EQ(FHost.Shown.size(), 3u);
}

TEST_F(KovaeBayLogin, StoredDataWinOverMemoryAndMemoryOverTheDialog) {
    TEbayLogInInfo info;
    info.UserName = "carl";
    info.Password = "mem";
    info.Token = "memtoken";
    // No file: the login info's own values suffice and stay as they are, and the token stays in memory.
    ASSERT_TRUE(info.CheckLogInData());
    EXPECT_EQ(Values(info), "carl|mem|memtoken");
    SaveTokenIfStored(info);
    EXPECT_FALSE(FileExists(DatPath()));

    // A file with a user name but an empty password is no stored data either.
    Section().SaveLogInData("dora", "", "t");
    ASSERT_TRUE(info.CheckLogInData());
    EXPECT_EQ(Values(info), "carl|mem|memtoken");

    // Stored data are copied, blanks and all, token included.
    Section().SaveLogInData(" dora ", " secret ", "");
    ASSERT_TRUE(info.CheckLogInData());
    EXPECT_EQ(Values(info), " dora | secret |");
    EXPECT_TRUE(FHost.Shown.empty());
}

TEST_F(KovaeBayLogin, CancelOrNoPromptKeepsEverythingAsItWas) {
    Section().SaveLogInData("   ", "pw", "tok"); // a user name of blanks counts as none
    const std::string before = ReadFileBytes(DatPath());
    TEbayLogInInfo info;
    info.UserName = "eve";
    info.Token = "t1";
    FHost.Then([](TForm& f) {
        auto& form = static_cast<TfrmEbayLogInData&>(f);
        EXPECT_EQ(form.edteBayUsername.Text, "eve");
        EXPECT_EQ(form.ActiveControl, "edtEbayPassword");
        form.SetText("edtEbayPassword", "typed");
        form.Click("btnCancel");
    });
    EXPECT_FALSE(info.CheckLogInData());
    EXPECT_EQ(Values(info), "eve||t1");
    EXPECT_EQ(ReadFileBytes(DatPath()), before);

    SetLogInDataPrompt(nullptr);
    EXPECT_FALSE(info.CheckLogInData()) << "without a prompt the request is cancelled";
    EXPECT_EQ(FHost.Shown.size(), 1u);

    info.Password = "pw";
    SaveTokenIfStored(info);
    EXPECT_EQ(ReadFileBytes(DatPath()), before) << "nothing stored: the token stays in memory";
}

TEST_F(KovaeBayLogin, ClearEmptiesTheInfoAndDeletesTheFileWhenThereIsOne) {
    TEbayLogInInfo info;
    info.UserName = "gina";
    info.Password = "pw";
    info.Token = "tok";
    info.Clear();
    EXPECT_EQ(Values(info), "||");
    EXPECT_FALSE(FileExists(DatPath()));

    Section().SaveLogInData("gina", "pw", "tok");
    info.Token = "tok";
    info.Clear();
    EXPECT_EQ(Values(info), "||");
    EXPECT_FALSE(FileExists(DatPath()));
}

TEST_F(KovaeBayLogin, StoreOperationsReplaceOneValueEach) {
    Section().StoreToken("t");
    EXPECT_EQ(PlaintextOf(DatPath()), PlainFields("", "", "t"));
    Section().StoreUserName("u");
    Section().StorePassword("p");
    EXPECT_EQ(PlaintextOf(DatPath()), PlainFields("u", "p", "t"));
    Section().StoreToken("t2");
    EXPECT_EQ(PlaintextOf(DatPath()), PlainFields("u", "p", "t2"));
}

TEST_F(KovaeBayLogin, DamagedFileSurfacesTheReadErrorAndChangesNothing) {
    const std::string damaged = "\x01\x02\x20not a container at all, just text\x00";
    FDir.Write("ebtmp.dat", damaged);
    std::string user = "u", password = "p", token = "t";
    const std::string error = ErrorOf([&] { Section().LoadLogInData(user, password, token); });
    EXPECT_NE(error, "no error");
    EXPECT_EQ(user + password + token, "upt") << "out values stay untouched on failure";

    TEbayLogInInfo info;
    info.UserName = "hans";
    info.Password = "pw";
    EXPECT_EQ(ErrorOf([&] { info.CheckLogInData(); }), error);
    EXPECT_EQ(ErrorOf([&] { SaveTokenIfStored(info); }), error);
    EXPECT_EQ(ErrorOf([&] { Section().StoreToken("x"); }), error);
    EXPECT_EQ(Values(info), "hans|pw|");
    EXPECT_EQ(ReadFileBytes(DatPath()), damaged);
    EXPECT_TRUE(FHost.Shown.empty());

    TEbayLoginDataDat dat;
    EXPECT_EQ(ErrorOf([&] { dat.LoadFromFile(FDir.File("missing.dat")); }),
              "File \"" + FDir.File("missing.dat") + "\" could not be found");
}

TEST_F(KovaeBayLogin, FailedSaveLeavesTheOldFileWhole) {
    Section().SaveLogInData("ivan", "pw", "tok");
    const std::string before = ReadFileBytes(DatPath());
    {
        TFullDisk full;
        EXPECT_THROW(Section().SaveLogInData("other", "x", ""), EWriteError);
        EXPECT_THROW(Section().StoreToken("new"), EWriteError);
        TEbayLogInInfo info;
        info.UserName = "ivan";
        info.Password = "pw";
        info.Token = "fresh";
        EXPECT_THROW(SaveTokenIfStored(info), EWriteError);
    }
    EXPECT_EQ(ReadFileBytes(DatPath()), before);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(FDir.Path()), {}), 1)
        << "no temporary file is left behind";
}

TEST_F(KovaeBayLogin, FileNameResolvesAgainstTheGadgetDirectoryUnlessItPointsAtAFile) {
    TTempDir elsewhere;
    TIniFile& ini = IniFileManager()->IniFile();

    // An existing file named with its folder is used where it is.
    TEbayLoginDataDat dat;
    dat.SetUserName("jan");
    dat.SetPassword("pw");
    dat.SaveToFile(elsewhere.File("login.dat"));
    ini.WriteString("EBayLogin", "EbayDat", elsewhere.File("login.dat"));
    EXPECT_EQ(Section().LogInDataPath(), elsewhere.File("login.dat"));
    EXPECT_EQ(Section().StoredUserName(), "jan");

    // Not there (yet): the name goes below the gadget directory, for reading and writing alike.
    ini.WriteString("EBayLogin", "EbayDat", "kova-missing-folder/login.dat");
    EXPECT_EQ(Section().LogInDataPath(), FDir.Path() + "/kova-missing-folder/login.dat");
    std::filesystem::create_directory(FDir.File("kova-missing-folder"));
    Section().SaveLogInData("kai", "pw", "");
    EXPECT_EQ(Section().StoredUserName(), "kai");
    EXPECT_TRUE(FileExists(FDir.File("kova-missing-folder/login.dat")));

    ini.WriteString("EBayLogin", "EbayDat", "  /login.dat");
    EXPECT_EQ(Section().LogInDataPath(), FDir.Path() + "/  /login.dat") << "a folder part of blanks is none";
}

TEST_F(KovaeBayLogin, FilesOfEarlierBuildsStillLoad) {
    std::filesystem::copy_file(KOVA_TEST_DATA_DIR "/storage/LoginSample.dat", DatPath());
    TEbayLogInInfo info;
    ASSERT_TRUE(info.CheckLogInData());
    EXPECT_EQ(Values(info), "sample-user|p\xC3\xA4ss w\xC3\xB6rd|AgAAAA**token");
}

TEST(KovaeBayLoginWithoutSettings, RefusesInsteadOfForgettingTheChoice) {
    TEbayLogInInfo info;
    EXPECT_EQ(ErrorOf([&] { info.CheckLogInData(); }),
              "TEbayLogInInfo.CheckLogInData: the settings are not initialised");
    EXPECT_THROW(SaveTokenIfStored(info), Exception);
}

TEST_F(KovaeBayLogin, AnUnreadableFileIsReportedBeforeThePromptWhoseChoiceReplacesIt) {
    Section().SaveLogInData("anna", "pw", "tok");
    const std::string whole = ReadFileBytes(DatPath());
    for (const int choice : {1, 0}) {
        FDir.Write("ebtmp.dat", whole.substr(0, whole.size() - 5));
        std::vector<std::string> reported;
        FHost.Then([&](TForm& form) {
            EXPECT_EQ(reported.size(), 1u) << "the error is told before the dialog shows";
            TypeAndOk("bert", "pw2", choice)(form);
        });
        TEbayLogInInfo info;
        ASSERT_TRUE(info.CheckLogInData([&](const std::string& message) { reported.push_back(message); }));
        ASSERT_EQ(reported.size(), 1u);
        EXPECT_FALSE(reported[0].empty());
        EXPECT_EQ(Values(info), "bert|pw2|");
        if (choice == 1)
            EXPECT_EQ(PlaintextOf(DatPath()), PlainFields("bert", "pw2", ""))
                << "the damaged file is replaced";
        else
            EXPECT_FALSE(FileExists(DatPath())) << "discarding deletes the damaged file";
    }
}

TEST_F(KovaeBayLogin, ATokenIsKeptOnlyForTheAccountItWasMadeFor) {
    struct TCase {
        std::string Typed;
        std::string Token;
    };
    // The user name in memory is "anna"; the prompt runs because there is no password.
    for (const TCase& c : {TCase{"anna", "tok"}, TCase{" ANNA ", "tok"}, TCase{"bert", ""}}) {
        TEbayLogInInfo info;
        info.UserName = "anna";
        info.Token = "tok";
        FHost.Then(TypeAndOk(c.Typed, "pw", 0, "anna"));
        ASSERT_TRUE(info.CheckLogInData());
        EXPECT_EQ(info.Token, c.Token) << "typed \"" << c.Typed << "\"";
    }
}

TEST_F(KovaeBayLogin, AnUnreadableFileIsToldOnceAndStaysUnreadUntilItIsReplaced) {
    Section().SaveLogInData("anna", "pw", "tok");
    const std::string whole = ReadFileBytes(DatPath());
    const std::string damaged = whole.substr(0, whole.size() - 5);
    FDir.Write("ebtmp.dat", damaged);
    TEbayLogInInfo info;
    info.UserName = "anna";
    info.Password = "pw";
    info.Token = "fresh";
    std::vector<std::string> reported;
    const auto check = [&] {
        return info.CheckLogInData([&](const std::string& message) { reported.push_back(message); });
    };
    for (int load = 0; load < 3; ++load) {
        ASSERT_TRUE(check()) << "the data in memory serve";
        EXPECT_TRUE(info.LogInDataUnreadable());
        EXPECT_NO_THROW(SaveTokenIfStored(info)) << "the token stays in memory";
    }
    EXPECT_EQ(reported.size(), 1u) << "the same damaged file is read and told of once";
    EXPECT_EQ(ReadFileBytes(DatPath()), damaged);
    EXPECT_EQ(Values(info), "anna|pw|fresh");
    EXPECT_TRUE(FHost.Shown.empty());

    // Another damaged file is news; new login data end it.
    FDir.Write("ebtmp.dat", damaged.substr(0, damaged.size() - 3));
    ASSERT_TRUE(check());
    EXPECT_EQ(reported.size(), 2u);
    Section().SaveLogInData("bert", "pw2", "");
    EXPECT_FALSE(info.LogInDataUnreadable());
    ASSERT_TRUE(check());
    EXPECT_EQ(Values(info), "bert|pw2|");
    EXPECT_EQ(reported.size(), 2u);
    std::remove(DatPath().c_str());
    EXPECT_FALSE(info.LogInDataUnreadable());
}
