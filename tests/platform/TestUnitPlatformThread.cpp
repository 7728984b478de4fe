// ctest-labels: threaded
#include "base/UnitExceptions.h"
#include "platform/UnitPlatformClock.h"
#include "platform/UnitPlatformMainThread.h"
#include "platform/UnitPlatformThread.h"

#include <atomic>
#include <gtest/gtest.h>
#include <thread>

namespace {

class TCountingThread : public TThread {
public:
    explicit TCountingThread(std::atomic<int>* freed = nullptr, bool fail = false)
        : FFreed(freed), FFail(fail) {}
    ~TCountingThread() override {
        TerminateAndWait();
        if (FFreed) ++*FFreed;
    }
    std::atomic<int> Loops{0};

protected:
    void Execute() override {
        if (FFail) throw EConvertError("worker failed");
        while (!Terminated()) {
            ++Loops;
            SleepMs(1);
        }
    }

private:
    std::atomic<int>* FFreed;
    bool FFail;
};

} // namespace

TEST(MainThreadQueue, RunsTasksInPostingOrderOnTheMainThread) {
    SetMainThread();
    std::vector<int> order;
    std::vector<std::thread> posters;
    for (int t = 0; t < 3; ++t)
        posters.emplace_back([t, &order] {
            for (int i = 0; i < 50; ++i)
                MainThreadQueue().Post([t, i, &order] {
                    EXPECT_TRUE(IsMainThread());
                    order.push_back(t * 100 + i);
                });
        });
    for (auto& p : posters)
        p.join();
    EXPECT_EQ(MainThreadQueue().ProcessPending(), 150u);
    ASSERT_EQ(order.size(), 150u);
    for (int t = 0; t < 3; ++t) {
        int last = -1;
        for (int v : order)
            if (v / 100 == t) {
                EXPECT_GT(v, last);
                last = v;
            }
    }
}

TEST(MainThreadQueue, RunUntilKeepsServingTasksUntilTheConditionHolds) {
    SetMainThread();
    std::atomic<bool> done{false};
    int served = 0;
    std::thread worker([&] {
        for (int i = 0; i < 5; ++i) {
            MainThreadQueue().Post([&] { ++served; });
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        done = true;
    });
    EXPECT_TRUE(MainThreadQueue().RunUntil([&] { return done.load(); }, 5000));
    worker.join();
    MainThreadQueue().ProcessPending();
    EXPECT_EQ(served, 5);
    EXPECT_FALSE(MainThreadQueue().RunUntil([] { return false; }, 30)); // a time-out ends the wait
}

// The idle loop: a condition set off the main thread is seen at its Wake, even one that comes before the
// wait.
TEST(MainThreadQueue, RunUntilWokenEndsAtTheWakeAfterTheCondition) {
    SetMainThread();
    for (const bool wakeFirst : {true, false}) {
        std::atomic<bool> stop{false};
        int served = 0;
        MainThreadQueue().Post([&] { ++served; });
        std::thread other([&] {
            if (!wakeFirst) std::this_thread::sleep_for(std::chrono::milliseconds(20));
            stop = true;
            MainThreadQueue().Wake();
        });
        if (wakeFirst) other.join();
        MainThreadQueue().RunUntilWoken([&] { return stop.load() && served == 1; });
        if (!wakeFirst) other.join();
        EXPECT_EQ(served, 1);
    }
}

TEST(Thread, NotifiesOnTheMainThreadAndFreesItself) {
    SetMainThread();
    std::atomic<int> freed{0};
    bool notified = false;
    auto* thread = new TCountingThread(&freed);
    thread->FreeOnTerminate = true;
    thread->OnTerminate = [&](TThread& t) {
        EXPECT_TRUE(IsMainThread());
        EXPECT_FALSE(t.FatalException());
        notified = true;
    };
    thread->Start();
    while (thread->Loops < 3)
        std::this_thread::yield();
    thread->Terminate();
    EXPECT_TRUE(MainThreadQueue().RunUntil([&] { return freed.load() == 1; }, 5000));
    EXPECT_TRUE(notified);
}

TEST(Thread, AnEscapingErrorReachesTheNotificationAndADeletedOwnerGetsNone) {
    SetMainThread();
    std::string error;
    {
        TCountingThread failing(nullptr, true);
        failing.OnTerminate = [&](TThread& t) {
            try {
                std::rethrow_exception(t.FatalException());
            } catch (const std::exception& e) {
                error = e.what();
            }
        };
        failing.Start();
        failing.WaitFor();
        failing.DeliverTermination();
        failing.DeliverTermination(); // once only
    }
    EXPECT_EQ(error, "worker failed");
    MainThreadQueue().ProcessPending(); // the queued notification finds no owner

    bool called = false;
    {
        TCountingThread early;
        early.OnTerminate = [&](TThread&) { called = true; };
        early.Start();
    } // destroyed while running: terminated and joined
    MainThreadQueue().ProcessPending();
    EXPECT_FALSE(called);
}
