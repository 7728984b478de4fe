// ctest-labels: threaded
#include "platform/UnitPlatformFiles.h"
#include "storage/UnitKovaIniFile.h"
#include "storage/UnitKovaeBayLogin.h"
#include "storage/UnitProxyDat.h"
#include "support/KovaTestSupport.h"

#include <atomic>
#include <filesystem>
#include <gtest/gtest.h>
#include <thread>

namespace {

size_t FilesIn(const std::string& folder) {
    return static_cast<size_t>(std::distance(std::filesystem::directory_iterator(folder), {}));
}

class ProxyCredentials : public ::testing::Test {
protected:
    void SetUp() override { InitIniFileManager("KovaGadget.ini", FDir.Path() + "/"); }
    void TearDown() override { FreeIniFileManager(); }

    TIniFileSectionProxySettings& Proxy() const { return IniFileManager()->ProxySettings(); }
    std::string Credentials() const { return Proxy().ProxyUserName() + "|" + Proxy().ProxyPassword(); }
    std::string DatPath() const { return FDir.File("proxy.dat"); }
    void SetProxyDat(const std::string& name) const {
        IniFileManager()->IniFile().WriteString("Proxy", "ProxyDat", name);
    }

    TTempDir FDir;
};

} // namespace

TEST(UnitProxyDat, ContainerHoldsUserNameThenPassword) {
    TProxyDat dat;
    dat.SetUserName("user");
    dat.SetPassword("pw");
    TMemoryStream file;
    dat.SaveToStream(file);
    TMemoryStream cipher(file.Bytes().substr(3, file.Bytes().size() - 4));
    TKryptUtils::DecryptStreamWithKey(cipher, TEncryptStreamProxy().GetKey());
    EXPECT_EQ(cipher.Bytes(), std::string("\x01\x06\x04user\x06\x02pw\x00", 12));

    TTempDir dir;
    EXPECT_EQ(ErrorOf([&] { dat.LoadFromFile(dir.File("none.dat")); }),
              "File " + dir.File("none.dat") + " not found");
    // A login data file is a container of another shape: its third string stands where the list ends.
    TEbayLoginDataDat login;
    login.SaveToFile(dir.File("three.dat"));
    EXPECT_NE(ErrorOf([&] { dat.LoadFromFile(dir.File("three.dat")); }), "no error");
}

TEST_F(ProxyCredentials, StoreOperationsRewriteTheWholeOwnerOnlyFile) {
    EXPECT_EQ(Credentials(), "|") << "no file: empty credentials";
    Proxy().StoreProxyUserName("proxyuser");
    EXPECT_EQ(Credentials(), "proxyuser|");
    Proxy().StoreProxyPassword("proxypass");
    EXPECT_EQ(Credentials(), "proxyuser|proxypass");
    EXPECT_EQ(FilePermissions(DatPath()), 0600);
    Proxy().StoreProxyUserName("second");
    EXPECT_EQ(Credentials(), "second|proxypass");
    Proxy().SaveProxyCredentials("", "");
    EXPECT_EQ(Credentials(), "|");
    EXPECT_EQ(FilesIn(FDir.Path()), 1u) << "only proxy.dat: nothing kept aside after the stores";
}

TEST_F(ProxyCredentials, AFailedPasswordStoreAfterAUserNameStorePutsTheOldFileBack) {
    Proxy().SaveProxyCredentials("old", "oldpass");
    const std::string before = ReadFileBytes(DatPath());
    Proxy().StoreProxyUserName("new");
    {
        TFullDisk full;
        EXPECT_THROW(Proxy().StoreProxyPassword("newpass"), EWriteError);
    }
    EXPECT_EQ(ReadFileBytes(DatPath()), before);
    EXPECT_EQ(FilePermissions(DatPath()), 0600);
    EXPECT_EQ(FilesIn(FDir.Path()), 1u);

    // Without an earlier file the pair leaves none.
    std::filesystem::remove(DatPath());
    Proxy().StoreProxyUserName("new");
    {
        TFullDisk full;
        EXPECT_THROW(Proxy().StoreProxyPassword("newpass"), EWriteError);
    }
    EXPECT_FALSE(FileExists(DatPath()));

    // A failing user name store changes nothing, and the password store after it undoes nothing of its own.
    Proxy().SaveProxyCredentials("old", "oldpass");
    const std::string saved = ReadFileBytes(DatPath());
    {
        TFullDisk full;
        EXPECT_THROW(Proxy().StoreProxyUserName("new"), EWriteError);
        EXPECT_THROW(Proxy().StoreProxyPassword("newpass"), EWriteError);
    }
    EXPECT_EQ(ReadFileBytes(DatPath()), saved);
    Proxy().StoreProxyPassword("newpass");
    EXPECT_EQ(Credentials(), "old|newpass");
    EXPECT_EQ(FilesIn(FDir.Path()), 1u);
}

TEST_F(ProxyCredentials, PathRulesForReadingAndWriting) {
    TTempDir elsewhere;
    // A folder part that exists: written there; read from there once the file exists.
    SetProxyDat(elsewhere.File("p.dat"));
    EXPECT_EQ(Proxy().CredentialsPathForReading(), FDir.Path() + "/" + elsewhere.File("p.dat"));
    EXPECT_EQ(Proxy().CredentialsPathForWriting(), elsewhere.File("p.dat"));
    Proxy().SaveProxyCredentials("far", "away");
    EXPECT_EQ(Proxy().CredentialsPathForReading(), elsewhere.File("p.dat"));
    EXPECT_EQ(Credentials(), "far|away");
    EXPECT_FALSE(FileExists(DatPath()));

    // A relative folder part that does not exist from the current folder: both below the gadget directory.
    const std::string relative =
        "kova-no-such-folder-" + std::filesystem::path(FDir.Path()).filename().string();
    SetProxyDat(relative + "/p.dat");
    std::filesystem::create_directory(FDir.File(relative));
    EXPECT_EQ(Proxy().CredentialsPathForWriting(), FDir.File(relative + "/p.dat"));
    Proxy().StoreProxyUserName("near");
    EXPECT_EQ(Proxy().CredentialsPathForReading(), FDir.File(relative + "/p.dat"));
    EXPECT_EQ(Credentials(), "near|");

    // No folder part, or one of blanks: the gadget directory.
    SetProxyDat(" /p.dat");
    EXPECT_EQ(Proxy().CredentialsPathForWriting(), FDir.Path() + "/ /p.dat");
    SetProxyDat("other.dat");
    EXPECT_EQ(Proxy().CredentialsPathForReading(), FDir.File("other.dat"));
    EXPECT_EQ(Proxy().CredentialsPathForWriting(), FDir.File("other.dat"));
}

TEST_F(ProxyCredentials, GetProxySettingsCombinesTheIniKeysAndTheCredentials) {
    TProxySettings settings = IniFileManager()->GetProxySettings();
    EXPECT_FALSE(settings.UsesProxy || settings.NeedsAuthentication);
    EXPECT_EQ(settings.Port, 0) << "the ini default, not the cleared record's 80";
    EXPECT_EQ(settings.Server + settings.UserName + settings.Password, "");

    Proxy().SetUsesProxy(true);
    Proxy().SetPort(3128);
    Proxy().SetServer("proxy.example");
    Proxy().SetNeedsAuthentication(true);
    Proxy().SaveProxyCredentials("pu", "pp");
    settings = IniFileManager()->GetProxySettings();
    EXPECT_TRUE(settings.UsesProxy && settings.NeedsAuthentication);
    EXPECT_EQ(settings.Port, 3128);
    EXPECT_EQ(settings.Server + "|" + settings.UserName + "|" + settings.Password, "proxy.example|pu|pp");
}

TEST_F(ProxyCredentials, TheFileIsReadOnlyForAnAuthenticatingProxyAndADamagedOneReadsAsEmpty) {
    Proxy().SetServer("proxy.example");
    Proxy().SaveProxyCredentials("pu", "pp");
    struct TCase {
        bool UsesProxy;
        bool NeedsAuthentication;
        const char* Expected;
    };
    const TCase cases[] = {
        {false, false, "|"}, {true, false, "|"}, {false, true, "|"}, {true, true, "pu|pp"}};
    for (const TCase& c : cases) {
        SCOPED_TRACE(std::to_string(c.UsesProxy) + std::to_string(c.NeedsAuthentication));
        Proxy().SetUsesProxy(c.UsesProxy);
        Proxy().SetNeedsAuthentication(c.NeedsAuthentication);
        const TProxySettings settings = IniFileManager()->GetProxySettings();
        EXPECT_EQ(settings.UserName + "|" + settings.Password, c.Expected);
        EXPECT_EQ(settings.Server, "proxy.example");
    }

    // Damaged in every way a file can be: none of them stops a load, and a store replaces the file.
    for (const std::string& damage :
         {std::string("garbage"), std::string(), ReadFileBytes(DatPath()).substr(0, 9)}) {
        SCOPED_TRACE(damage.size());
        FDir.Write("proxy.dat", damage);
        TProxySettings settings;
        EXPECT_EQ(ErrorOf([&] { settings = Proxy().GetProxySettings(); }), "no error");
        EXPECT_TRUE(settings.UsesProxy && settings.NeedsAuthentication);
        EXPECT_EQ(settings.UserName + settings.Password, "");
        EXPECT_EQ(Credentials(), "|");
        Proxy().StoreProxyPassword("fresh");
        EXPECT_EQ(Credentials(), "|fresh");
        EXPECT_EQ(FilePermissions(DatPath()), 0600);
    }
    FDir.Write("proxy.dat", "garbage");
    Proxy().StoreProxyUserName("new");
    Proxy().StoreProxyPassword("pair");
    EXPECT_EQ(Credentials(), "new|pair");
}

TEST_F(ProxyCredentials, WorkersReadWhileTheMainThreadStores) {
    Proxy().SetUsesProxy(true);
    Proxy().SetNeedsAuthentication(true);
    Proxy().SaveProxyCredentials("u0", "p0");
    std::atomic<bool> done{false};
    std::atomic<int> mismatches{0}, reads{0};
    std::thread worker([&] {
        while (!done) {
            const TProxySettings settings = IniFileManager()->GetProxySettings();
            // Each file holds a matching pair; a reader never sees half of a save.
            if (settings.UserName.substr(1) != settings.Password.substr(1)) ++mismatches;
            ++reads;
        }
    });
    for (int i = 1; i <= 30; ++i) {
        Proxy().SaveProxyCredentials("u" + std::to_string(i), "p" + std::to_string(i));
        Proxy().SetPort(i);
        (void)Proxy().GetProxySettings();
    }
    while (reads < 5)
        std::this_thread::yield();
    done = true;
    worker.join();
    EXPECT_EQ(mismatches, 0);
}
