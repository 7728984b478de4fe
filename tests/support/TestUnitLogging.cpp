#include "KovaTestSupport.h"
#include "base/UnitExceptions.h"
#include "platform/UnitPlatformDebugOutput.h"
#include "platform/UnitPlatformFiles.h"
#include "support/UnitLogging.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <regex>
#include <sys/stat.h>

namespace {

class LoggingTest : public ::testing::Test {
protected:
    TTempDir Dir;
    std::string LogPath = Dir.File("kova.log");
    TManualClock ClockNow{EncodeDateTime(2026, 12, 6, 15, 53, 49, 123)};
};

} // namespace

TEST_F(LoggingTest, WritesTheFileLineWithLabelAndTimeStamp) {
    TLogging logging(lgAll, LogPath, lgtrgtToFile);
    logging.WriteMessage("first", lmkWarning);
    logging.WriteMessage("second", lmkInfo);
    logging.WriteMessage("third", lmkError);
    logging.WriteMessage("fourth", lmkAssert);
    EXPECT_EQ(ReadTextFile(LogPath), "Warning: 06.12.2026 15:53:49:123 - first\r\n"
                                     "Info   : 06.12.2026 15:53:49:123 - second\r\n"
                                     "Error: 06.12.2026 15:53:49:123 - third\r\n"
                                     "Assert : 06.12.2026 15:53:49:123 - fourth\r\n");
    EXPECT_EQ(logging.MessageList().Count(), 0);
}

TEST_F(LoggingTest, LevelsFilterKinds) {
    TLogging warnings(lgWarningsAndErrors, LogPath, lgtrgtToList);
    warnings.WriteMessage("info", lmkInfo);
    warnings.WriteMessage("warn", lmkWarning);
    warnings.WriteMessage("assert", lmkAssert);
    ASSERT_EQ(warnings.MessageList().Count(), 2);
    EXPECT_EQ(warnings.MessageList().Kind(0), lmkWarning);
    EXPECT_EQ(warnings.MessageList().Text(1), "06.12.2026 15:53:49:123 - assert");

    TLogging none(lgNone, LogPath, lgtrgtToList | lgtrgtToFile);
    none.WriteMessage("error", lmkError);
    EXPECT_EQ(none.MessageList().Count(), 0);
    EXPECT_FALSE(FileExists(LogPath));
}

TEST_F(LoggingTest, TargetsChooseFileListAndDebugOutput) {
    std::vector<std::string> debug;
    SetDebugOutputSinkForTesting([&](std::string_view t) { debug.emplace_back(t); });
    TLogging onlyList(lgAll, LogPath, lgtrgtToList);
    onlyList.WriteMessage("a", lmkInfo);
    EXPECT_FALSE(FileExists(LogPath));
    EXPECT_EQ(onlyList.MessageList().Count(), 1);

    TLogging noTarget(lgAll, LogPath, 0);
    noTarget.WriteMessage("b", lmkInfo);
    EXPECT_EQ(noTarget.MessageList().Count(), 1);

    TLogging debugOnly(lgAll, LogPath, lgtrgtToDebugOutput);
    debugOnly.WriteMessage("c", lmkWarning);
    EXPECT_EQ(debugOnly.MessageList().Count(), 0);
    SetDebugOutputSinkForTesting({});
    ASSERT_EQ(debug.size(), 1u);
    EXPECT_EQ(debug[0], "Warning: c"); // no time stamp on the debugger channel
}

TEST_F(LoggingTest, FileAndListWriteEveryMessageTwice) {
    TLogging logging(lgAll, LogPath, lgtrgtToFile | lgtrgtToList);
    logging.WriteMessage("one", lmkInfo);
    ClockNow.AdvanceMs(1);
    logging.WriteMessage("two", lmkError);
    EXPECT_EQ(ReadTextFile(LogPath), "Info   : 06.12.2026 15:53:49:123 - one\r\n"
                                     "Info   : 06.12.2026 15:53:49:123 - one\r\n"
                                     "Error: 06.12.2026 15:53:49:124 - two\r\n");
    ASSERT_EQ(logging.MessageList().Count(), 1);
    EXPECT_EQ(logging.MessageList().Kind(0), lmkError);
}

TEST_F(LoggingTest, UnwritableFileFallsBackToTheListAndCatchesUpLater) {
    TLogging logging(lgAll, LogPath, lgtrgtToFile);
    SetWriteFaultForTesting([](const std::string&) { return true; });
    logging.WriteMessage("kept", lmkWarning);
    SetWriteFaultForTesting({});
    ASSERT_EQ(logging.MessageList().Count(), 1);
    logging.WriteMessage("next", lmkInfo);
    const std::string text = ReadTextFile(LogPath);
    EXPECT_NE(text.find("Warning: 06.12.2026 15:53:49:123 - kept\r\n"), std::string::npos) << text;
    EXPECT_LT(text.find("kept"), text.find("next"));
    EXPECT_EQ(logging.MessageList().Count(), 0);

    TLogging inMissingFolder(lgAll, Dir.File("no/such/folder/x.log"), lgtrgtToFile);
    inMissingFolder.WriteMessage("lost?", lmkError);
    EXPECT_EQ(inMissingFolder.MessageList().Count(), 1);
}

TEST_F(LoggingTest, TheFallbackListIsBounded) {
    TLogging logging(lgAll, LogPath, lgtrgtToList);
    for (size_t i = 0; i < TLogMessageList::MaxEntries + 5; ++i)
        logging.WriteMessage(std::to_string(i), lmkInfo);
    ASSERT_EQ(static_cast<size_t>(logging.MessageList().Count()), TLogMessageList::MaxEntries);
    EXPECT_EQ(logging.MessageList().Text(0), "06.12.2026 15:53:49:123 - 5"); // the oldest went first
}

TEST_F(LoggingTest, TrimsOnlyAbove400KBToTheLast200KB) {
    const std::string line = "Info   : 06.12.2026 15:53:49:123 - x\r\n";
    TLogging logging(lgAll, LogPath, lgtrgtToFile);
    const size_t limit = 409600;
    // Fill so that the next line ends exactly at the limit.
    std::string filler(limit - line.size(), 'a');
    filler.back() = '\n';
    WriteFileAtomic(LogPath, filler);
    logging.WriteMessage("x", lmkInfo);
    EXPECT_EQ(ReadTextFile(LogPath).size(), limit);

    filler.push_back('b');
    WriteFileAtomic(LogPath, filler);
    logging.WriteMessage("x", lmkInfo);
    const std::string trimmed = ReadTextFile(LogPath);
    ASSERT_EQ(trimmed.size(), 200u * 1024);
    EXPECT_EQ(trimmed.substr(trimmed.size() - line.size()), line);
    EXPECT_EQ(std::string(trimmed.substr(0, 10)), std::string(10, 'a')); // cut at the byte, inside a line
}

TEST_F(LoggingTest, TheLogIsTheOwnersAloneAndALinkAtItsNameIsRefusedWithItsCause) {
    // A log of an earlier build that others could read is closed to them, and stays so when it is trimmed.
    WriteFileAtomic(LogPath, std::string(409600, 'a'));
    ::chmod(LogPath.c_str(), 0644);
    TLogging logging(lgAll, LogPath, lgtrgtToFile);
    logging.WriteMessage("item 1234 of user demo", lmkWarning);
    EXPECT_EQ(FilePermissions(LogPath), 0600);
    EXPECT_EQ(ReadTextFile(LogPath).size(), 200u * 1024);

    TTempDir elsewhere;
    std::filesystem::remove(LogPath);
    std::filesystem::create_symlink(elsewhere.File("theirs"), LogPath);
    std::vector<std::string> told;
    SetDebugOutputSinkForTesting([&](std::string_view t) { told.emplace_back(t); });
    logging.WriteMessage("one", lmkWarning);
    logging.WriteMessage("two", lmkWarning);
    SetDebugOutputSinkForTesting({});
    EXPECT_FALSE(std::filesystem::exists(elsewhere.File("theirs"))) << "nothing written through the link";
    EXPECT_EQ(logging.MessageList().Count(), 2) << "kept in memory";
    EXPECT_EQ(
        told,
        std::vector<std::string>{"The log file is not written, its messages stay in memory: Cannot open "
                                 "file \"" +
                                 LogPath + "\". It is a symbolic link, and it is not written through."})
        << "the cause is told once";
}

TEST(LoggingTexts, ExceptionTextsAndLabels) {
    EConvertError e("bad\r\nvalue");
    EXPECT_EQ(ExceptionLogText(e, "TKovaGadget.Init", true), "EConvertError: bad value (TKovaGadget.Init)");
    EXPECT_EQ(ExceptionLogText(e, "", false), "EConvertError: bad\r\nvalue");
    std::runtime_error plain("oops");
    EXPECT_EQ(ExceptionLogText(plain, "X.Y", true), "std::runtime_error: oops (X.Y)");

    TTempDir dir;
    TManualClock clock(EncodeDateTime(2026, 1, 2, 3, 4, 5, 6));
    TLogging logging(lgWarningsAndErrors, dir.File("e.log"), lgtrgtToFile);
    logging.LogException(e, "TThreadReminderLog.SelfTerminate");
    EXPECT_EQ(ReadTextFile(dir.File("e.log")), "Error: 02.01.2026 03:04:05:006 - EConvertError: bad\r\nvalue "
                                               "(TThreadReminderLog.SelfTerminate)\r\n");

    TLogging::CreateProcessWide(lgWarningsAndErrors, dir.File("p.log"), lgtrgtToFile | lgtrgtToDebugOutput);
    EXPECT_EQ(LoggingDescription(), "lgWarningsAndErrors - lgtrgtToDebugOutput - lgtrgtToFile");
    TLogging::CreateProcessWide(lgAll, dir.File("p.log"), lgtrgtToList);
    EXPECT_EQ(LoggingDescription(), "lgAll - lgtrgtToList");
}
