#include "platform/UnitPlatformFiles.h"
#include "storage/UnitKovaIniFile.h"
#include "support/KovaTestSupport.h"

#include <climits>
#include <gtest/gtest.h>

namespace {

// A manager over a fresh gadget directory, freed with the fixture.
class KovaIniFile : public ::testing::Test {
protected:
    void SetUp() override { InitIniFileManager("KovaGadget.ini", FDir.Path() + "/"); }
    void TearDown() override { FreeIniFileManager(); }

    std::string IniText() const { return ReadTextFile(FDir.File("KovaGadget.ini")); }
    void WriteIni(const std::string& text) const { FDir.Write("KovaGadget.ini", text); }
    TIniFileSectionProxySettings& Proxy() const { return IniFileManager()->ProxySettings(); }
    TIniFileSectionWatchlist& Watchlist() const { return IniFileManager()->Watchlist(); }

    // Writes every key the options dialog writes, in its order.
    void WriteAll(bool usesProxy, int port, const std::string& server, bool auth, int time, bool automatic,
                  bool onStart, bool highbidder) {
        Proxy().SetUsesProxy(usesProxy);
        Proxy().SetPort(port);
        Proxy().SetServer(server);
        Proxy().SetNeedsAuthentication(auth);
        Watchlist().SetAuctionsRefreshTime(time);
        Watchlist().SetAuctionsAutomaticRefresh(automatic);
        Watchlist().SetAuctionsRefreshOnStart(onStart);
        Watchlist().SetAuctionsMarkHighbidder(highbidder);
    }

    TTempDir FDir;
};

} // namespace

TEST_F(KovaIniFile, StoresEachKeyOnlyWhileItDiffersFromItsDefault) {
    auto expectDefaults = [&] {
        EXPECT_FALSE(Proxy().UsesProxy());
        EXPECT_EQ(Proxy().Port(), 0);
        EXPECT_EQ(Proxy().Server(), "");
        EXPECT_FALSE(Proxy().NeedsAuthentication());
        EXPECT_EQ(Proxy().ProxyDat(), "proxy.dat");
        EXPECT_FALSE(Watchlist().AuctionsAutomaticRefresh());
        EXPECT_TRUE(Watchlist().AuctionsRefreshOnStart());
        EXPECT_EQ(Watchlist().AuctionsRefreshTime(), 0);
        EXPECT_TRUE(Watchlist().AuctionsMarkHighbidder());
        EXPECT_EQ(IniFileManager()->EbayLoginData().EbayDat(), "ebtmp.dat");
    };
    expectDefaults();
    WriteAll(false, 0, "", false, 0, false, true, true);
    EXPECT_FALSE(FileExists(FDir.File("KovaGadget.ini"))) << "writing only defaults must not create the file";

    WriteAll(true, 8080, "proxy.example", true, 30, true, false, false);
    EXPECT_EQ(IniText(), "[Proxy]\nUsesProxy=1\nPort=8080\nServer=proxy.example\nNeedsAuthentication=1\n"
                         "[Watchlist]\nAuctionsRefreshTime=30\nAuctionsAutomaticRefresh=1\n"
                         "AuctionsRefreshOnStart=0\nAuctionsMarkHighbidder=0\n");
    EXPECT_TRUE(Proxy().UsesProxy() && Proxy().NeedsAuthentication() &&
                Watchlist().AuctionsAutomaticRefresh());
    EXPECT_FALSE(Watchlist().AuctionsRefreshOnStart() || Watchlist().AuctionsMarkHighbidder());
    EXPECT_EQ(Proxy().Port(), 8080);
    EXPECT_EQ(Proxy().Server(), "proxy.example");
    EXPECT_EQ(Watchlist().AuctionsRefreshTime(), 30);

    WriteAll(false, 0, "", false, 0, false, true, true);
    EXPECT_EQ(IniText(), "[Proxy]\n[Watchlist]\n");
    expectDefaults();

    WriteIni("[proxy]\nproxydat=/etc/kova/p.dat\n[ebaylogin]\nEBAYDAT=sub/e.dat\n");
    EXPECT_EQ(Proxy().ProxyDat(), "/etc/kova/p.dat");
    EXPECT_EQ(IniFileManager()->EbayLoginData().EbayDat(), "sub/e.dat");
}

TEST_F(KovaIniFile, IntegerRangesAndBooleanSpellings) {
    const std::pair<const char*, int> ports[] = {{"-1", 0},         {"abc", 0},   {"2147483647", INT_MAX},
                                                 {"2147483648", 0}, {"0x1F", 31}, {"$10", 16},
                                                 {" 8080 ", 8080},  {"1.5", 0}};
    for (const auto& [text, expected] : ports) {
        WriteIni(std::string("[Proxy]\nPort=") + text + "\n");
        EXPECT_EQ(Proxy().Port(), expected) << "Port=" << text;
    }
    for (const auto& [text, expected] : {std::pair{"-5", -5}, {"-2147483648", INT_MIN}, {"2147483648", 0}}) {
        WriteIni(std::string("[Watchlist]\nAuctionsRefreshTime=") + text + "\n");
        EXPECT_EQ(Watchlist().AuctionsRefreshTime(), expected) << "AuctionsRefreshTime=" << text;
    }

    // AuctionsAutomaticRefresh defaults to false, AuctionsMarkHighbidder to true.
    const std::pair<const char*, int> spellings[] = {
        {"1", 1}, {"2", 1},     {"-1", 1},    {"True", 1}, {"true", 1}, {"TRUE", 1}, {"1.5", 1},
        {"0", 0}, {"False", 0}, {"false", 0}, {"0.0", 0},  {"", -1},    {"yes", -1}, {"on", -1}};
    for (const auto& [text, expected] : spellings) {
        WriteIni(std::string("[Watchlist]\nAuctionsAutomaticRefresh=") + text +
                 "\nAuctionsMarkHighbidder=" + text);
        EXPECT_EQ(Watchlist().AuctionsAutomaticRefresh(), expected == 1) << text;
        EXPECT_EQ(Watchlist().AuctionsMarkHighbidder(), expected != 0) << text;
    }
}

TEST_F(KovaIniFile, BlankTextsStoreTheDefaultAndEveryOtherTextRoundTrips) {
    Proxy().SetServer("  ");
    EXPECT_EQ(IniText(), "[Proxy]\nServer=\n")
        << "blanks that differ from the empty default store the default";
    EXPECT_EQ(Proxy().Server(), "");
    Proxy().SetServer("");
    EXPECT_EQ(IniText(), "[Proxy]\n");

    for (const std::string server :
         {" proxy.example", "proxy.example ", "user=x@proxy", "\"proxy\"", "[::1]"}) {
        Proxy().SetServer(server);
        EXPECT_EQ(Proxy().Server(), server) << "[" << server << "]";
    }
    Watchlist().SetAuctionsRefreshTime(INT_MIN);
    EXPECT_EQ(Watchlist().AuctionsRefreshTime(), INT_MIN);
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
    EXPECT_EQ(manager->EbayLoginData().SectionName(), "EBayLogin");
    EXPECT_EQ(manager->Watchlist().ListSeparator(), "|");

    manager->Watchlist().SetAuctionsRefreshTime(3);
    FreeIniFileManager();
    EXPECT_EQ(IniFileManager(), nullptr);
    EXPECT_EQ(ReadTextFile(first.File("KovaGadget.ini")), "[Watchlist]\nAuctionsRefreshTime=3\n");

    TIniFile ini(first.File("x.ini"));
    const TIniFileSectionWatchlist section(ini, "Watchlist", first.Path());
    EXPECT_EQ(section.HomeDirectory(), first.Path() + "/") << "the directory always ends in a delimiter";
}
