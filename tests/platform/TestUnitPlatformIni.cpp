#include "platform/UnitPlatformFiles.h"
#include "platform/UnitPlatformIni.h"
#include "support/KovaTestSupport.h"
#include "support/UnwritableFolder.h"

#include <filesystem>
#include <gtest/gtest.h>

TEST(UnitPlatformIni, ReadsTheLineFormatWithoutRegardToCase) {
    TTempDir dir;
    const TIniFile ini(dir.Write("a.ini",
                                 "\xEF\xBB\xBF[Proxy]\r\n  Server =  proxy.example  \r\nno equals sign\r\n"
                                 "Empty=\r\nQuoted=\"  padded  \"\r\n[ other ]\r\nPort=1\r\n"
                                 "[PROXY]\r\nPort=2\r\n"));
    EXPECT_EQ(ini.ReadString("proxy", "SERVER", "d"), "proxy.example");
    EXPECT_EQ(ini.ReadString("Proxy", "Empty", "d"), "") << "a present empty value is not the default";
    EXPECT_EQ(ini.ReadString("Proxy", "Quoted", "d"), "  padded  ");
    EXPECT_EQ(ini.ReadString("Other", "port", "d"), "1");
    EXPECT_EQ(ini.ReadString("Proxy", "Port", "d"), "d") << "only the first section of a name counts";
    EXPECT_EQ(TIniFile(dir.File("missing.ini")).ReadString("Proxy", "Server", "d"), "d");
}

TEST(UnitPlatformIni, AddsSectionsAtTheEndAndKeysAtTheEndOfTheirSection) {
    TTempDir dir;
    TIniFile ini(dir.File("a.ini"));
    ini.DeleteKey("Proxy", "Server");
    EXPECT_FALSE(FileExists(ini.FileName())) << "deleting from a missing file must not create it";
    ini.WriteString("Proxy", "UsesProxy", "1");
    EXPECT_EQ(ReadTextFile(ini.FileName()), "[Proxy]\nUsesProxy=1\n");

    dir.Write("a.ini", "; kept as it is\n[Proxy]\nUsesProxy=1\n\n[Watchlist]\nAuctionsRefreshTime=5");
    ini.WriteString("PROXY", "Port", "8080");
    ini.WriteString("watchlist", "AuctionsMarkHighbidder", "0");
    ini.WriteString("EBayLogin", "EbayDat", "x.dat");
    ini.WriteString("proxy", "usesproxy", "0");
    EXPECT_EQ(ReadTextFile(ini.FileName()), "; kept as it is\n[Proxy]\nusesproxy=0\nPort=8080\n\n"
                                            "[Watchlist]\nAuctionsRefreshTime=5\nAuctionsMarkHighbidder=0\n"
                                            "[EBayLogin]\nEbayDat=x.dat\n");
    ini.DeleteKey("Proxy", "USESPROXY");
    EXPECT_EQ(ReadTextFile(ini.FileName()).substr(0, 36), "; kept as it is\n[Proxy]\nPort=8080\n\n[");

    // Lines added to a file with CR LF line ends get them too.
    TIniFile crlf(dir.Write("b.ini", "[Proxy]\r\nPort=1\r\n"));
    crlf.WriteString("Proxy", "Server", "s");
    crlf.WriteString("Watchlist", "AuctionsRefreshTime", "7");
    EXPECT_EQ(ReadTextFile(crlf.FileName()),
              "[Proxy]\r\nPort=1\r\nServer=s\r\n[Watchlist]\r\nAuctionsRefreshTime=7\r\n");
    // A last line ending in a lone CR has no line break: the new key must not be glued to it, and the CR
    // only gets its LF, or the line before would read with a CR more.
    struct TCase {
        const char *Text, *Section, *Added;
    };
    for (const TCase& c :
         {TCase{"[Proxy]\nPort=1\r", "Proxy", "\nServer=s\n"}, TCase{"[Proxy]\r", "Proxy", "\nServer=s\n"},
          TCase{"[Proxy]\r\nPort=1\r", "Other", "\n[Other]\r\nServer=s\r\n"}}) {
        TIniFile cr(dir.Write("c.ini", c.Text));
        cr.WriteString(c.Section, "Server", "s");
        EXPECT_EQ(cr.ReadString(c.Section, "Server", "d"), "s") << c.Text;
        EXPECT_EQ(ReadTextFile(cr.FileName()), std::string(c.Text) + c.Added);
        if (std::string(c.Text).find("Port") != std::string::npos) {
            EXPECT_EQ(cr.ReadString("Proxy", "Port", "d"), "1") << c.Text;
        }
    }
}

TEST(UnitPlatformIni, ReadsBackExactlyWhatWasWrittenUpTo2047Bytes) {
    TTempDir dir;
    TIniFile ini(dir.File("a.ini"));
    for (const std::string value : {"a=b=c", "  leading blanks", "trailing\t ", "\"quoted\"", "'single'",
                                    "\"", "[not a section]", "", "  ", "ümlaut ✓"}) {
        ini.WriteString("Proxy", "Server", value);
        EXPECT_EQ(ini.ReadString("Proxy", "Server", "default"), value) << "value [" << value << "]";
    }

    ini.WriteString("S", "K", std::string(3000, 'x'));
    EXPECT_EQ(ini.ReadString("S", "K", ""), std::string(2047, 'x'));
    // "€" is three bytes; one that would straddle the cut is left out whole.
    ini.WriteString("S", "K", std::string(2045, 'z') + "€€");
    EXPECT_EQ(ini.ReadString("S", "K", ""), std::string(2045, 'z'));
    ini.WriteString("S", "K", std::string(2044, 'z') + "€€");
    EXPECT_EQ(ini.ReadString("S", "K", ""), std::string(2044, 'z') + "€");
}

TEST(UnitPlatformIni, AFailedWriteRaisesAndLeavesTheFileWhole) {
    TTempDir dir;
    TIniFile ini(dir.File("a.ini"));
    ini.WriteString("Proxy", "Server", "old");
    const std::string before = ReadTextFile(ini.FileName());
    {
        TUnwritableFolder readOnly(dir.Path());
        try {
            ini.WriteString("Proxy", "Server", "new");
            ADD_FAILURE() << "the write must fail";
        } catch (const EIniFileException& e) {
            EXPECT_EQ(e.Message(), "Unable to write in " + ini.FileName());
        }
        EXPECT_NO_THROW(ini.DeleteKey("Proxy", "Server")) << "a failed deletion is ignored";
    }
    // A line break would let the rest of a value pose as keys and sections of its own.
    try {
        ini.WriteString("Proxy", "Server", "x\n[Watchlist]\nAuctionsRefreshTime=1");
        ADD_FAILURE() << "a line break must not be stored";
    } catch (const EIniFileException& e) {
        EXPECT_EQ(e.Message(), "Unable to write in " + ini.FileName() + ": a line break cannot be stored");
    }
    EXPECT_THROW(ini.WriteString("Proxy", "a=b", "v"), EIniFileException);
    EXPECT_EQ(ReadTextFile(ini.FileName()), before);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 1)
        << "no temporary file left";

    // A path that exists but cannot be read as a file is never replaced.
    std::filesystem::create_directory(dir.File("b.ini"));
    EXPECT_THROW(TIniFile(dir.File("b.ini")).WriteString("Proxy", "Server", "x"), EIniFileException);
    EXPECT_TRUE(DirectoryExists(dir.File("b.ini")));
}
