#include "KovaTestSupport.h"
#include "base/UnitExceptions.h"
#include "base/UnitUtils.h"
#include "platform/UnitPlatformFiles.h"
#include "platform/UnitPlatformShell.h"
#include "support/UnitFileUtils.h"
#include "support/UnitKovaOpenURL.h"

#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <pthread.h>
#include <unistd.h>

TEST(KovaOpenURL, AFailingOpenerShowsTheSystemErrorInAMessageBox) {
    TTempDir dir;
    const std::string opener = dir.Write("opener", "#!/bin/sh\nexit 4\n");
    std::filesystem::permissions(opener, std::filesystem::perms::owner_all);
    SetShellOpenProgramForTesting(opener);
    TMessageBoxRecorder boxes;
    std::string opened;
    OpenURL("https://example.invalid/", &opened);
    EXPECT_EQ(opened, "https://example.invalid/");
    ASSERT_EQ(boxes.Shown().size(), 1u);
    EXPECT_EQ(boxes.Shown()[0].Text,
              "Error by attempt to open browser.\r\n\r\nSystem error.  Code: 4\r\nThe action failed.");

    SetShellOpenProgramForTesting(dir.File("missing-opener"));
    OpenURL("https://example.invalid/");
    ASSERT_EQ(boxes.Shown().size(), 2u);
    EXPECT_EQ(boxes.Shown()[1].Text,
              "Error by attempt to open browser.\r\n\r\nSystem error.  Code: 2\r\n" + SysErrorMessage(2));

    // An opener that takes the address: no message, and the address reaches it as one argument.
    const std::string good =
        dir.Write("good", "#!/bin/sh\nprintf '%s' \"$1\" > \"$(dirname \"$0\")/seen\"\n");
    std::filesystem::permissions(good, std::filesystem::perms::owner_all);
    SetShellOpenProgramForTesting(good);
    OpenURL("https://x.invalid/a b;$(touch pwned)");
    SetShellOpenProgramForTesting("");
    EXPECT_EQ(boxes.Shown().size(), 2u);
    EXPECT_EQ(ReadTextFile(dir.File("seen")), "https://x.invalid/a b;$(touch pwned)");
    EXPECT_FALSE(FileExists(dir.File("pwned")));
}

// The host blocks SIGINT and SIGTERM and ignores SIGPIPE: a browser started through the opener must be
// stoppable as any other program, so the opener sees no signal blocked or ignored.
TEST(KovaOpenURL, TheOpenerStartsWithNoSignalBlockedOrIgnored) {
    TTempDir dir;
    const std::string opener = dir.Write(
        "opener", "#!/bin/sh\ngrep -E '^Sig(Blk|Ign):' /proc/self/status > \"$(dirname \"$0\")/seen\"\n");
    std::filesystem::permissions(opener, std::filesystem::perms::owner_all);
    SetShellOpenProgramForTesting(opener);
    sigset_t stop, previous;
    sigemptyset(&stop);
    sigaddset(&stop, SIGINT);
    sigaddset(&stop, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop, &previous);
    const auto oldPipe = std::signal(SIGPIPE, SIG_IGN);
    const TShellOpenResult result = ShellOpen("https://example.invalid/");
    std::signal(SIGPIPE, oldPipe);
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    SetShellOpenProgramForTesting("");
    ASSERT_TRUE(result.Success) << result.ErrorText;
    const std::string seen = ReadTextFile(dir.File("seen"));
    EXPECT_NE(seen.find("SigBlk:\t0000000000000000"), std::string::npos) << seen;
    // sh itself may ignore nothing of these three: bits of SIGINT (2), SIGPIPE (13) and SIGTERM (15).
    const size_t ignored = seen.find("SigIgn:\t");
    ASSERT_NE(ignored, std::string::npos) << seen;
    const unsigned long long mask = std::stoull(seen.substr(ignored + 8, 16), nullptr, 16);
    EXPECT_EQ(mask & ((1ull << (SIGINT - 1)) | (1ull << (SIGPIPE - 1)) | (1ull << (SIGTERM - 1))), 0u)
        << seen;
}

TEST(FileUtils, SizesAndPaths) {
    TTempDir dir;
    EXPECT_EQ(FileSizeOf(dir.File("none"), -1), -1);
    const std::string path = dir.Write("f", "12345");
    EXPECT_EQ(FileSizeOf(path, -1), 5);
    EXPECT_EQ(FileSizeOf(dir.Path(), -7), -7); // a folder is not a file
    // A file that another writer holds open still reports its size.
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, "678", 3), 3);
    EXPECT_EQ(FileSizeOf(path, -1), 8);
    ::close(fd);

    EXPECT_EQ(ChangeFileExt("/opt/kova/kova-gadget", ".log"), "/opt/kova/kova-gadget.log");
    EXPECT_EQ(ChangeFileExt("/opt/kova.d/host.bin", ".log"), "/opt/kova.d/host.log");
    EXPECT_EQ(ChangeFileExt("/opt/kova.d/host", ".log"), "/opt/kova.d/host.log");
    EXPECT_EQ(IncludeTrailingPathDelimiter("/a"), "/a/");
    EXPECT_EQ(IncludeTrailingPathDelimiter("/a/"), "/a/");
}

TEST(FileUtils, AtomicWritesKeepTheOldFileOnFailureAndHonourAccess) {
    TTempDir dir;
    const std::string path = dir.File("data.dat");
    WriteFileAtomic(path, "old contents", TFileAccess::OwnerOnly);
    EXPECT_EQ(FilePermissions(path), 0600);
    SetWriteFaultForTesting([](const std::string&) { return true; });
    EXPECT_THROW(WriteFileAtomic(path, "new", TFileAccess::OwnerOnly), EWriteError);
    SetWriteFaultForTesting({});
    EXPECT_EQ(ReadTextFile(path), "old contents");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 1); // no temporary left

    WriteFileAtomic(path, "new");
    EXPECT_EQ(ReadTextFile(path), "new");
    EXPECT_EQ(FilePermissions(path), 0600); // a replaced shared file keeps its permissions
    EXPECT_THROW(WriteFileAtomic(dir.File("missing/x"), "y"), EFCreateError);
    EXPECT_THROW(ReadFileBytes(dir.File("missing")), EFOpenError);
}

TEST(Utils, FormatChecksItsArguments) {
    EXPECT_EQ(Format("%s.Post (%d/%d): %s", {"TAPICallFetchToken", 0, 3, "timeout"}),
              "TAPICallFetchToken.Post (0/3): timeout");
    EXPECT_EQ(Format("%5.2f|%-4d|%%|%x", {3.14159, 7, 255}), " 3.14|7   |%|ff");
    EXPECT_THROW(Format("%d", {"text"}), EConvertError);
    EXPECT_THROW(Format("%s %s", {"one"}), EConvertError);
    EXPECT_EQ(HtmlEscape("<a href=\"x\">&'</a>"), "&lt;a href=&quot;x&quot;&gt;&amp;&#39;&lt;/a&gt;");
    EXPECT_EQ(StrToIntDef(" 42 ", 0), 42);
    EXPECT_EQ(StrToIntDef("4x", -1), -1);
    EXPECT_EQ(StrToIntDef("99999999999", -1), -1);
}

// eBay's codes hold '#', '^' and '+': a value must come back from its query form byte for byte.
TEST(Utils, QueryValuesRoundTrip) {
    EXPECT_EQ(QueryEncode("v^1.1#i^1#p^3+x y/z~"), "v%5E1.1%23i%5E1%23p%5E3%2Bx%20y%2Fz~");
    EXPECT_EQ(QueryDecode("a+b%2B%e2%82%AC%"), "a b+\u20AC%");
    EXPECT_EQ(QueryDecode("%zz%4"), "%zz%4");
    EXPECT_EQ(Base64Encode("KovaSandboxApp:KovaSandboxCert"), "S292YVNhbmRib3hBcHA6S292YVNhbmRib3hDZXJ0");
    EXPECT_EQ(Base64Encode("ab"), "YWI=");
    const std::string values[] = {std::string("\x00\xff\x7f", 3), "https://api.ebay.com/oauth/api_scope x"};
    for (const std::string& value : values)
        EXPECT_EQ(QueryDecode(QueryEncode(value)), value);
}
