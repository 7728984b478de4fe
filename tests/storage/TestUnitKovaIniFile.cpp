// ctest-labels: threaded
#include "platform/UnitPlatformFiles.h"
#include "storage/UnitKovaIniFile.h"
#include "support/KovaTestSupport.h"
#include "support/UnwritableFolder.h"

#include <atomic>
#include <climits>
#include <gtest/gtest.h>
#include <thread>

namespace {

// A manager over a fresh gadget directory, freed with the fixture.
class KovaIniFile : public ::testing::Test {
protected:
    void SetUp() override {
        InitIniFileManager("KovaGadget.ini", FDir.Path() + "/");
        FManager = IniFileManager();
        ASSERT_NE(FManager, nullptr);
    }
    void TearDown() override { FreeIniFileManager(); }

    std::string IniPath() const { return FDir.File("KovaGadget.ini"); }
    std::string IniText() const { return ReadTextFile(IniPath()); }
    void WriteIni(const std::string& text) const { FDir.Write("KovaGadget.ini", text); }
    TIniFileSectionProxySettings& Proxy() const { return FManager->ProxySettings(); }
    TIniFileSectionWatchlist& Watchlist() const { return FManager->Watchlist(); }

    TTempDir FDir;
    TIniFileManager* FManager = nullptr;
};

} // namespace

TEST_F(KovaIniFile, MissingFileReadsAsDefaultsAndDefaultsAreNeverStored) {
    auto expectDefaults = [&](const char* when) {
        SCOPED_TRACE(when);
        EXPECT_FALSE(Proxy().UsesProxy());
        EXPECT_EQ(Proxy().Port(), 0);
        EXPECT_EQ(Proxy().Server(), "");
        EXPECT_FALSE(Proxy().NeedsAuthentication());
        EXPECT_EQ(Proxy().ProxyDat(), "proxy.dat");
        EXPECT_FALSE(Watchlist().AuctionsAutomaticRefresh());
        EXPECT_TRUE(Watchlist().AuctionsRefreshOnStart());
        EXPECT_EQ(Watchlist().AuctionsRefreshTime(), 0);
        EXPECT_TRUE(Watchlist().AuctionsMarkHighbidder());
        EXPECT_EQ(FManager->EbayLoginData().EbayDat(), "ebtmp.dat");
    };
    expectDefaults("no file");

    Proxy().SetUsesProxy(false);
    Proxy().SetPort(0);
    Proxy().SetServer("");
    Proxy().SetNeedsAuthentication(false);
    Watchlist().SetAuctionsRefreshTime(0);
    Watchlist().SetAuctionsAutomaticRefresh(false);
    Watchlist().SetAuctionsRefreshOnStart(true);
    Watchlist().SetAuctionsMarkHighbidder(true);
    EXPECT_FALSE(FileExists(IniPath())) << "writing only defaults must not create the file";

    WriteIni("[Other]\nUsesProxy=1\nPort=5\n");
    expectDefaults("keys of another section");
}

TEST_F(KovaIniFile, StoresEachKeyOnlyWhileItDiffersFromItsDefault) {
    // The options dialog's order on OK.
    Proxy().SetUsesProxy(true);
    Proxy().SetPort(8080);
    Proxy().SetServer("proxy.example");
    Proxy().SetNeedsAuthentication(true);
    Watchlist().SetAuctionsRefreshTime(30);
    Watchlist().SetAuctionsAutomaticRefresh(true);
    Watchlist().SetAuctionsRefreshOnStart(false);
    Watchlist().SetAuctionsMarkHighbidder(false);
    EXPECT_EQ(IniText(), "[Proxy]\nUsesProxy=1\nPort=8080\nServer=proxy.example\nNeedsAuthentication=1\n"
                         "[Watchlist]\nAuctionsRefreshTime=30\nAuctionsAutomaticRefresh=1\n"
                         "AuctionsRefreshOnStart=0\nAuctionsMarkHighbidder=0\n");
    EXPECT_TRUE(Proxy().UsesProxy());
    EXPECT_EQ(Proxy().Port(), 8080);
    EXPECT_EQ(Proxy().Server(), "proxy.example");
    EXPECT_TRUE(Proxy().NeedsAuthentication());
    EXPECT_EQ(Watchlist().AuctionsRefreshTime(), 30);
    EXPECT_TRUE(Watchlist().AuctionsAutomaticRefresh());
    EXPECT_FALSE(Watchlist().AuctionsRefreshOnStart());
    EXPECT_FALSE(Watchlist().AuctionsMarkHighbidder());

    Proxy().SetUsesProxy(false);
    Proxy().SetPort(0);
    Proxy().SetServer("");
    Proxy().SetNeedsAuthentication(false);
    Watchlist().SetAuctionsRefreshTime(0);
    Watchlist().SetAuctionsAutomaticRefresh(false);
    Watchlist().SetAuctionsRefreshOnStart(true);
    Watchlist().SetAuctionsMarkHighbidder(true);
    EXPECT_EQ(IniText(), "[Proxy]\n[Watchlist]\n");

    // The side-file names are read only: a hand-edited name is read as it is.
    WriteIni("[proxy]\nproxydat=/etc/kova/p.dat\n[ebaylogin]\nEBAYDAT=sub/e.dat\n");
    EXPECT_EQ(Proxy().ProxyDat(), "/etc/kova/p.dat");
    EXPECT_EQ(FManager->EbayLoginData().EbayDat(), "sub/e.dat");
}

TEST_F(KovaIniFile, IntegerKeysReadTheirDefaultOutsideTheirRange) {
    const std::pair<const char*, int> ports[] = {
        {"-1", 0},         {"abc", 0},   {"", 0},     {"2147483647", INT_MAX},
        {"2147483648", 0}, {"0x1F", 31}, {"$10", 16}, {" 8080 ", 8080},
        {"80 80", 0},      {"1.5", 0},   {"0X10", 16}};
    for (const auto& [text, expected] : ports) {
        WriteIni(std::string("[Proxy]\nPort=") + text + "\n");
        EXPECT_EQ(Proxy().Port(), expected) << "Port=" << text;
    }
    const std::pair<const char*, int> intervals[] = {
        {"-5", -5}, {"-2147483648", INT_MIN}, {"2147483648", 0}, {"-2147483649", 0}, {"x", 0}};
    for (const auto& [text, expected] : intervals) {
        WriteIni(std::string("[Watchlist]\nAuctionsRefreshTime=") + text + "\n");
        EXPECT_EQ(Watchlist().AuctionsRefreshTime(), expected) << "AuctionsRefreshTime=" << text;
    }
    Watchlist().SetAuctionsRefreshTime(INT_MIN);
    EXPECT_EQ(Watchlist().AuctionsRefreshTime(), INT_MIN);
    Proxy().SetPort(-1);
    EXPECT_EQ(Proxy().Port(), 0) << "a port written out of range still reads as the default";
}

TEST_F(KovaIniFile, BooleanSpellings) {
    const char* truths[] = {"1", "2", "-1", "True", "true", "TRUE", "0x10", "1.5", " 1 "};
    const char* falsehoods[] = {"0", "False", "false", "FALSE", "0.0", "$0"};
    const char* neither[] = {"", "yes", "no", "on", "truee", "T", "\"\""};
    for (const bool def : {false, true}) {
        // AuctionsAutomaticRefresh defaults to false, AuctionsMarkHighbidder to true.
        const std::string key = def ? "AuctionsMarkHighbidder" : "AuctionsAutomaticRefresh";
        auto read = [&] {
            return def ? Watchlist().AuctionsMarkHighbidder() : Watchlist().AuctionsAutomaticRefresh();
        };
        for (const char* text : truths) {
            WriteIni("[Watchlist]\n" + key + "=" + text + "\n");
            EXPECT_TRUE(read()) << key << "=" << text;
        }
        for (const char* text : falsehoods) {
            WriteIni("[Watchlist]\n" + key + "=" + text + "\n");
            EXPECT_FALSE(read()) << key << "=" << text;
        }
        for (const char* text : neither) {
            WriteIni("[Watchlist]\n" + key + "=" + text + "\n");
            EXPECT_EQ(read(), def) << key << "=" << text;
        }
    }
}

TEST_F(KovaIniFile, BlankTextsAndAwkwardServersRoundTrip) {
    Proxy().SetServer("  ");
    EXPECT_EQ(IniText(), "[Proxy]\nServer=\n")
        << "blanks that differ from the empty default store the default";
    EXPECT_EQ(Proxy().Server(), "");
    Proxy().SetServer("");
    EXPECT_EQ(IniText(), "[Proxy]\n");
    Proxy().SetServer("\t");
    EXPECT_EQ(IniText(), "[Proxy]\nServer=\n");

    // Whatever text the options dialog takes for a server reads back as it was typed.
    for (const std::string server : {" proxy.example", "proxy.example ", "user=x@proxy", "\"proxy\"", "'p'",
                                     "a;b", "[::1]", "proxy:3128", "Ünïcode.example"}) {
        Proxy().SetServer(server);
        EXPECT_EQ(Proxy().Server(), server) << "[" << server << "]";
    }
    for (const int value : {1, 7, 30, INT_MAX}) {
        Watchlist().SetAuctionsRefreshTime(value);
        Proxy().SetPort(value);
        EXPECT_EQ(Watchlist().AuctionsRefreshTime(), value);
        EXPECT_EQ(Proxy().Port(), value);
    }
}

TEST_F(KovaIniFile, AFailedWriteNamesTheFileAndKeepsIt) {
    Proxy().SetServer("old");
    const std::string before = IniText();
    {
        TUnwritableFolder readOnly(FDir.Path());
        try {
            Watchlist().SetAuctionsRefreshTime(5);
            FAIL() << "the write must fail";
        } catch (const EIniFileException& e) {
            EXPECT_EQ(e.Message(), "Unable to write in " + FDir.Path() + "/KovaGadget.ini");
        }
        EXPECT_NO_THROW(Proxy().SetServer(""))
            << "writing a default deletes, and a failed deletion is ignored";
        EXPECT_EQ(Proxy().Server(), "old");
    }
    EXPECT_EQ(IniText(), before);
}

TEST(KovaIniFileManager, LivesFromInitToFreeAndIsCreatedOnce) {
    TTempDir first, second;
    EXPECT_EQ(IniFileManager(), nullptr);
    InitIniFileManager("KovaGadget.ini", first.Path() + "/");
    TIniFileManager* manager = IniFileManager();
    ASSERT_NE(manager, nullptr);
    InitIniFileManager("Other.ini", second.Path() + "/");
    EXPECT_EQ(IniFileManager(), manager) << "a second init keeps the first manager";
    EXPECT_EQ(manager->IniFile().FileName(), first.Path() + "/KovaGadget.ini");

    EXPECT_EQ(manager->ProxySettings().SectionName(), "Proxy");
    EXPECT_EQ(manager->Watchlist().SectionName(), "Watchlist");
    EXPECT_EQ(manager->EbayLoginData().SectionName(), "EBayLogin");
    EXPECT_EQ(manager->Watchlist().ListSeparator(), "|");
    EXPECT_EQ(manager->EbayLoginData().HomeDirectory(), first.Path() + "/");
    EXPECT_EQ(&manager->ProxySettings().IniFile(), &manager->IniFile());

    manager->Watchlist().SetAuctionsRefreshTime(3);
    FreeIniFileManager();
    EXPECT_EQ(IniFileManager(), nullptr);
    FreeIniFileManager();
    EXPECT_EQ(ReadTextFile(first.File("KovaGadget.ini")), "[Watchlist]\nAuctionsRefreshTime=3\n");
    EXPECT_FALSE(FileExists(second.File("Other.ini")));

    TIniFile ini(first.File("x.ini"));
    const TIniFileSectionBase plain(ini, "Any");
    EXPECT_EQ(plain.ListSeparator(), ";");
    const TIniFileSectionWatchlist section(ini, "Watchlist", first.Path());
    EXPECT_EQ(section.HomeDirectory(), first.Path() + "/") << "the directory always ends in a delimiter";
}

TEST_F(KovaIniFile, ReadersOnOtherThreadsSeeWholeFilesWhileTheMainThreadWrites) {
    // A worker reads the proxy settings while the options dialog writes them: every read must find one of
    // the written values, never a default from a half-written file.
    Proxy().SetServer("a.example");
    Proxy().SetPort(1);
    std::atomic<bool> done{false};
    std::atomic<int> badReads{0};
    std::thread reader([&] {
        while (!done) {
            const std::string server = Proxy().Server();
            const int port = Proxy().Port();
            if (server != "a.example" && server != "b.example") ++badReads;
            if (port != 1 && port != 2) ++badReads;
        }
    });
    for (int i = 0; i < 200; ++i) {
        Proxy().SetServer(i % 2 ? "a.example" : "b.example");
        Proxy().SetPort(i % 2 ? 1 : 2);
    }
    done = true;
    reader.join();
    EXPECT_EQ(badReads, 0);
}
