// ctest-labels: threaded
#include "KovaTestSupport.h"
#include "platform/UnitPlatformFiles.h"
#include "platform/UnitPlatformMainThread.h"
#include "platform/UnitPlatformProcess.h"
#include "support/UnitLogging.h"

#include <gtest/gtest.h>
#include <thread>

// Logging starts once per process, so the whole life cycle is one test.
TEST(LoggingThread, StartsOnceFollowsSwitchesDrainsOnStopAndDropsAfterwards) {
    SetMainThread();
    TTempDir dir;
    const std::string path = dir.File("gadget.log");
    Log("before start", lmkError); // dropped: not started

    SetProcessCommandLineForTesting(std::vector<std::string>{"host", "-LogAll", "/logtolist", "--logtofile"});
    StartLogging(lgWarningsAndErrors, lgtrgtToFile, path);
    StartLogging(lgNone, 0, dir.File("other.log")); // later calls do nothing
    SetProcessCommandLineForTesting(std::nullopt);
    EXPECT_EQ(LoggingDescription(), "lgAll - lgtrgtToFile - lgtrgtToList");

    std::vector<std::thread> writers;
    for (int t = 0; t < 4; ++t)
        writers.emplace_back([t] {
            for (int i = 0; i < 10; ++i)
                LogFmt("writer %d message %d", {t, i}, lmkInfo);
        });
    for (auto& w : writers)
        w.join();
    Log("odd kind", static_cast<TLogMessageKind>(7));
    StopLogging(true);
    Log("after stop", lmkError);

    const std::string text = ReadTextFile(path);
    for (int t = 0; t < 4; ++t)
        for (int i = 0; i < 10; ++i)
            EXPECT_NE(text.find("writer " + std::to_string(t) + " message " + std::to_string(i) + "\r\n"),
                      std::string::npos);
    EXPECT_NE(text.find("Info   : "), std::string::npos);
    EXPECT_NE(text.find(" - odd kind\r\n"), std::string::npos);
    EXPECT_EQ(text.find("Info   : ", text.find("odd kind") - 40),
              text.rfind("Info   : ", text.find("odd kind")));
    EXPECT_EQ(text.find("before start"), std::string::npos);
    EXPECT_EQ(text.find("after stop"), std::string::npos);
    EXPECT_FALSE(FileExists(dir.File("other.log")));

    // Messages of one writer keep their order.
    EXPECT_LT(text.find("writer 2 message 3"), text.find("writer 2 message 4"));
    MainThreadQueue().ProcessPending();
}
