#include "base/UnitExceptions.h"
#include "platform/UnitPlatformChildProgram.h"
#include "platform/UnitPlatformFiles.h"
#include "support/KovaTestSupport.h"

#include <chrono>
#include <csignal>
#include <gtest/gtest.h>
#include <unistd.h>

namespace {

struct TChildCase {
    const char* What;
    std::string Script;
    std::optional<std::string> FirstLine;
    int ExitCode;
    std::string ErrorOutput;
};

} // namespace

TEST(PlatformChildProgram, ReadsTheFirstLineAndEndsTheProgramWhateverItDoes) {
    const TChildCase cases[] = {
        {"a server that stops on SIGTERM", "echo https://127.0.0.1:1; echo more; exec sleep 30",
         "https://127.0.0.1:1", 128 + SIGTERM, ""},
        {"a program that ignores SIGTERM is killed after the grace",
         "trap '' TERM; echo ready; while :; do sleep 0.05; done", "ready", 128 + SIGKILL, ""},
        {"a program that ends without a line", "echo failed >&2; exit 3", std::nullopt, 3, "failed\n"},
        {"a line without its end is not yet a line", "printf half; exit 0", std::nullopt, 0, ""},
    };
    for (const TChildCase& c : cases) {
        SCOPED_TRACE(c.What);
        TTempDir dir;
        TChildProgram child("/bin/sh", {"-c", c.Script}, dir.File("out"), dir.File("err"));
        const auto started = std::chrono::steady_clock::now();
        EXPECT_EQ(child.WaitForFirstLine(10000), c.FirstLine);
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5))
            << "an ended program is not waited for";
        EXPECT_EQ(child.Stop(SIGTERM, 300), c.ExitCode);
        EXPECT_EQ(child.Stop(), c.ExitCode) << "a second stop tells the same";
        EXPECT_EQ(ReadFileBytes(dir.File("err")), c.ErrorOutput);
    }
}

TEST(PlatformChildProgram, AProgramThatCannotRunSaysSoAndEndsWith127) {
    TTempDir dir;
    TChildProgram child(dir.File("missing"), {}, dir.File("out"), dir.File("err"));
    EXPECT_EQ(child.WaitForFirstLine(5000), std::nullopt);
    EXPECT_EQ(child.Stop(), 127);
    EXPECT_NE(ReadFileBytes(dir.File("err")).find("cannot execute"), std::string::npos);
    EXPECT_THROW(TChildProgram("/bin/true", {}, dir.File("no/such/folder/out"), dir.File("err")), EOSError);
}

TEST(PlatformChildProgram, ItsOwnProcessGroupKeepsATerminalsCtrlCAway) {
    TTempDir dir;
    TChildProgram child("/bin/sh", {"-c", "echo up; exec sleep 30"}, dir.File("out"), dir.File("err"));
    ASSERT_EQ(child.WaitForFirstLine(10000), "up");
    EXPECT_EQ(::getpgid(child.Pid()), child.Pid());
    EXPECT_NE(::getpgid(child.Pid()), ::getpgrp());
}
