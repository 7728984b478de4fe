#include "platform/UnitPlatformFiles.h"
#include "platform/UnitPlatformIni.h"
#include "support/KovaTestSupport.h"
#include "support/UnwritableFolder.h"

#include <filesystem>
#include <gtest/gtest.h>

namespace {

size_t FilesIn(const std::string& folder) {
    size_t n = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder))
        ++n;
    return n;
}

} // namespace

TEST(UnitPlatformIni, ReadsTheLineFormatWithoutRegardToCase) {
    TTempDir dir;
    const std::string path = dir.Write("a.ini", "\xEF\xBB\xBF[Proxy]\r\n"
                                                "  Server =  proxy.example  \r\n"
                                                "junk line without equals\r\n"
                                                "Empty=\r\n"
                                                "Quoted=\"  padded  \"\r\n"
                                                "Single='x'\r\n"
                                                "[ other ]\r\n"
                                                "Port=1\r\n"
                                                "[PROXY]\r\n"
                                                "Port=2\r\n"
                                                "Server=second section is ignored\r\n");
    const TIniFile ini(path);
    EXPECT_EQ(ini.ReadString("proxy", "SERVER", "d"), "proxy.example");
    EXPECT_EQ(ini.ReadString("Proxy", "Empty", "d"), "") << "a present empty value is not the default";
    EXPECT_EQ(ini.ReadString("Proxy", "Quoted", "d"), "  padded  ");
    EXPECT_EQ(ini.ReadString("Proxy", "Single", "d"), "x");
    EXPECT_EQ(ini.ReadString("Other", "port", "d"), "1");
    EXPECT_EQ(ini.ReadString("Proxy", "Port", "d"), "d") << "only the first section of a name counts";
    EXPECT_EQ(ini.ReadString("Proxy", "junk line without equals", "d"), "d");
    EXPECT_EQ(ini.ReadString("Missing", "Server", "d"), "d");
    EXPECT_FALSE(ini.ValueExists("Proxy", "Port"));
    EXPECT_TRUE(ini.ValueExists("PROXY", "empty"));

    const TIniFile missing(dir.File("none.ini"));
    EXPECT_EQ(missing.ReadString("Proxy", "Server", "default"), "default");
    const TIniFile folder(dir.Path());
    EXPECT_EQ(folder.ReadString("Proxy", "Server", "default"), "default");
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
    ini.DeleteKey("Watchlist", "AuctionsRefreshTime");
    EXPECT_EQ(ReadTextFile(ini.FileName()), "; kept as it is\n[Proxy]\nPort=8080\n\n"
                                            "[Watchlist]\nAuctionsMarkHighbidder=0\n"
                                            "[EBayLogin]\nEbayDat=x.dat\n");

    // A file written elsewhere with CR LF keeps that style in the lines added to it.
    dir.Write("b.ini", "[Proxy]\r\nPort=1\r\n");
    TIniFile crlf(dir.File("b.ini"));
    crlf.WriteString("Proxy", "Server", "s");
    crlf.WriteString("Watchlist", "AuctionsRefreshTime", "7");
    EXPECT_EQ(ReadTextFile(crlf.FileName()),
              "[Proxy]\r\nPort=1\r\nServer=s\r\n[Watchlist]\r\nAuctionsRefreshTime=7\r\n");
}

TEST(UnitPlatformIni, ReadsBackExactlyWhatWasWritten) {
    TTempDir dir;
    TIniFile ini(dir.File("a.ini"));
    const std::string values[] = {"a=b=c",
                                  "  leading blanks",
                                  "trailing blanks\t ",
                                  "\"quoted\"",
                                  "'single'",
                                  "\"",
                                  "'",
                                  "a \"b\" c",
                                  "[not a section]",
                                  "; not a comment",
                                  "",
                                  "  ",
                                  "ümlaut ✓",
                                  std::string("nul\0inside", 10)};
    for (const std::string& value : values) {
        ini.WriteString("Proxy", "Server", value);
        EXPECT_EQ(ini.ReadString("Proxy", "Server", "default"), value) << "value [" << value << "]";
    }
    // Neighbours are untouched by all that rewriting.
    ini.WriteString("Proxy", "Port", "1");
    ini.WriteString("Proxy", "Server", "=");
    EXPECT_EQ(ini.ReadString("Proxy", "Port", ""), "1");
    EXPECT_EQ(ini.ReadString("Proxy", "Server", ""), "=");
}

TEST(UnitPlatformIni, CutsLongValuesAt2047BytesWithoutSplittingACharacter) {
    TTempDir dir;
    TIniFile ini(dir.File("a.ini"));
    const std::string longValue(3000, 'x');
    ini.WriteString("S", "K", longValue);
    EXPECT_EQ(ReadTextFile(ini.FileName()), "[S]\nK=" + longValue + "\n") << "the file keeps the whole value";
    EXPECT_EQ(ini.ReadString("S", "K", ""), std::string(2047, 'x'));
    ini.WriteString("S", "K", std::string(2047, 'y'));
    EXPECT_EQ(ini.ReadString("S", "K", ""), std::string(2047, 'y'));

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
            FAIL() << "the write must fail";
        } catch (const EIniFileException& e) {
            EXPECT_EQ(e.Message(), "Unable to write in " + ini.FileName());
        }
        EXPECT_NO_THROW(ini.DeleteKey("Proxy", "Server")) << "a failed deletion is ignored";
    }
    EXPECT_EQ(ReadTextFile(ini.FileName()), before);
    EXPECT_EQ(FilesIn(dir.Path()), 1u) << "no temporary file is left behind";
}

TEST(UnitPlatformIni, RefusesValuesThatWouldBreakTheLineFormat) {
    TTempDir dir;
    TIniFile ini(dir.File("a.ini"));
    ini.WriteString("Proxy", "Server", "old");
    const std::string before = ReadTextFile(ini.FileName());
    for (const char* value : {"x\n[Watchlist]\nAuctionsRefreshTime=1", "x\r", "\ny"}) {
        try {
            ini.WriteString("Proxy", "Server", value);
            FAIL() << "a line break must not be stored";
        } catch (const EIniFileException& e) {
            EXPECT_EQ(e.Message(),
                      "Unable to write in " + ini.FileName() + ": a line break cannot be stored");
        }
    }
    EXPECT_THROW(ini.WriteString("Proxy", "a=b", "v"), EIniFileException);
    EXPECT_THROW(ini.WriteString("Pro]xy", "Key", "v"), EIniFileException);
    EXPECT_THROW(ini.WriteString("Proxy", " ", "v"), EIniFileException);
    EXPECT_EQ(ReadTextFile(ini.FileName()), before);
}

TEST(UnitPlatformIni, DoesNotReplaceAFileItCannotRead) {
    TTempDir dir;
    // A folder in the file's place stands for any path that exists but cannot be read as a file.
    std::filesystem::create_directory(dir.File("a.ini"));
    TIniFile ini(dir.File("a.ini"));
    EXPECT_THROW(ini.WriteString("Proxy", "Server", "x"), EIniFileException);
    EXPECT_TRUE(DirectoryExists(ini.FileName()));

    const std::string path = dir.Write("b.ini", "[Proxy]\nServer=keep\n");
    std::filesystem::permissions(path, std::filesystem::perms::none);
    std::string probe;
    // Running as root every file stays readable, and there is nothing more to see.
    if (!TryReadFileBytes(path, probe)) {
        TIniFile unreadable(path);
        EXPECT_THROW(unreadable.WriteString("Proxy", "Port", "1"), EIniFileException);
    }
    std::filesystem::permissions(path, std::filesystem::perms::owner_read);
    EXPECT_EQ(ReadTextFile(path), "[Proxy]\nServer=keep\n");
}
