#include "platform/UnitPlatformProcess.h"
#include "support/UnitCmdLineOptions.h"

#include <gtest/gtest.h>

namespace {
struct CommandLine {
    explicit CommandLine(std::vector<std::string> args) { SetProcessCommandLineForTesting(std::move(args)); }
    ~CommandLine() { SetProcessCommandLineForTesting(std::nullopt); }
};
} // namespace

TEST(CmdLineOptions, SwitchesNeedOneLeadingHyphenOrSlashAndIgnoreCase) {
    {
        CommandLine cl({"host", "-LogAll"});
        EXPECT_TRUE(CmdLineSwitch("logall"));
    }
    {
        CommandLine cl({"host", "/logall"});
        EXPECT_TRUE(CmdLineSwitch("LOGALL"));
    }
    {
        CommandLine cl({"host", "logall", "--logall", "-logallx"});
        EXPECT_FALSE(CmdLineSwitch("logall"));
    }
    {
        CommandLine cl({"-logall"}); // the program name is not an argument
        EXPECT_FALSE(CmdLineSwitch("logall"));
    }
}

TEST(CmdLineOptions, LevelAndTargetsFromSwitches) {
    {
        CommandLine cl({"host", "/nolog", "-logall"});
        EXPECT_EQ(LoggingLevelFromCmdLine(lgWarningsAndErrors), lgNone);
    }
    {
        CommandLine cl({"host", "-LOGALL", "-logwarnings"});
        EXPECT_EQ(LoggingLevelFromCmdLine(lgNone), lgWarningsAndErrors);
    }
    {
        CommandLine cl({"host", "-log"});
        EXPECT_EQ(LoggingLevelFromCmdLine(lgNone), lgAll);
    }
    {
        CommandLine cl({"host"});
        EXPECT_EQ(LoggingLevelFromCmdLine(lgWarningsAndErrors), lgWarningsAndErrors);
        EXPECT_EQ(LoggingTargetsFromCmdLine(lgtrgtToFile), lgtrgtToFile);
    }
    {
        CommandLine cl({"host", "-logtodebugoutput", "/LogToList"});
        EXPECT_EQ(LoggingTargetsFromCmdLine(lgtrgtToFile), lgtrgtToFile | lgtrgtToDebugOutput | lgtrgtToList);
    }
}
