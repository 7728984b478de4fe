// ctest-labels: threaded
#include "host/KovaGadgetServerPool.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>

namespace {

using namespace std::chrono_literals;

// Jobs that hold their thread until the gate opens, counting how many run at once.
class TGate {
public:
    std::function<void()> Job() {
        return [this] {
            std::unique_lock lock(FLock);
            ++FRunning;
            ++FStarted;
            FPeak = std::max(FPeak, FRunning);
            FChanged.notify_all();
            FChanged.wait(lock, [this] { return FOpen; });
            --FRunning;
            ++FDone;
            FChanged.notify_all();
        };
    }
    void Open() {
        std::lock_guard lock(FLock);
        FOpen = true;
        FChanged.notify_all();
    }
    // Waits until count() reaches n or two seconds pass; the count then.
    int WaitFor(int n, int TGate::*count) {
        std::unique_lock lock(FLock);
        FChanged.wait_for(lock, 2s, [&] { return this->*count >= n; });
        return this->*count;
    }
    int Started() {
        std::lock_guard lock(FLock);
        return FStarted;
    }
    int Peak() {
        std::lock_guard lock(FLock);
        return FPeak;
    }

    int FStarted = 0;
    int FDone = 0;

private:
    std::mutex FLock;
    std::condition_variable FChanged;
    int FRunning = 0;
    int FPeak = 0;
    bool FOpen = false;
};

bool Eventually(const std::function<bool()>& check) {
    for (int i = 0; i < 400 && !check(); ++i)
        std::this_thread::sleep_for(5ms);
    return check();
}

TEST(GadgetServerPool, RunsAsManyHeldJobsAtOnceAsItMayAndLetsIdleThreadsGoDownToItsSpareOnes) {
    struct TCase {
        const char* What;
        size_t Max, Spare;
        int Burst;
    };
    const TCase cases[] = {
        {"a burst below the limit", 8, 2, 5},
        {"a burst at the limit", 6, 2, 6},
        {"a burst beyond the limit waits for a free thread", 4, 1, 7},
        {"no spare thread", 3, 0, 3},
        {"more spare threads than the burst needed", 8, 6, 3},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.What);
        TKovaThreadPool pool(TKovaPoolOptions{c.Max, c.Spare, 150ms});
        EXPECT_EQ(pool.ThreadCount(), 0u) << "threads start only for requests";
        TGate gate;
        for (int i = 0; i < c.Burst; ++i)
            pool.Enqueue(gate.Job());
        const int atOnce = std::min<int>(c.Burst, static_cast<int>(c.Max));
        EXPECT_EQ(gate.WaitFor(atOnce, &TGate::FStarted), atOnce);
        std::this_thread::sleep_for(50ms);
        EXPECT_EQ(gate.Started(), atOnce) << "a job beyond the limit waits for a thread to come free";
        EXPECT_EQ(pool.ThreadCount(), static_cast<size_t>(atOnce));
        gate.Open();
        EXPECT_EQ(gate.WaitFor(c.Burst, &TGate::FDone), c.Burst);
        EXPECT_EQ(gate.Peak(), atOnce);
        const size_t kept = std::min<size_t>(c.Spare, static_cast<size_t>(atOnce));
        EXPECT_TRUE(Eventually([&] { return pool.ThreadCount() == kept; })) << pool.ThreadCount();
        // The threads that ended come back when they are needed again.
        TGate again;
        for (int i = 0; i < atOnce; ++i)
            pool.Enqueue(again.Job());
        EXPECT_EQ(again.WaitFor(atOnce, &TGate::FStarted), atOnce);
        again.Open();
        EXPECT_EQ(again.WaitFor(atOnce, &TGate::FDone), atOnce);
    }
}

TEST(GadgetServerPool, OneRequestAfterAnotherIsServedByOneThread) {
    TKovaThreadPool pool(TKovaPoolOptions{32, 4, 10000ms});
    for (int i = 0; i < 20; ++i) {
        std::atomic<bool> done{false};
        pool.Enqueue([&done] { done = true; });
        ASSERT_TRUE(Eventually([&] { return done.load(); }));
        // The job has returned; its thread may still be on its way back to wait.
        std::this_thread::sleep_for(20ms);
    }
    EXPECT_EQ(pool.ThreadCount(), 1u);
}

TEST(GadgetServerPool, ShutdownRunsWhatIsQueuedAndDropsWhatComesAfter) {
    std::atomic<int> ran{0};
    TKovaThreadPool pool(TKovaPoolOptions{1, 1, 10000ms});
    TGate gate;
    pool.Enqueue(gate.Job());
    ASSERT_EQ(gate.WaitFor(1, &TGate::FStarted), 1);
    for (int i = 0; i < 5; ++i)
        pool.Enqueue([&ran] { ++ran; });
    std::thread opener([&gate] {
        std::this_thread::sleep_for(50ms);
        gate.Open();
    });
    pool.Shutdown();
    opener.join();
    EXPECT_EQ(ran, 5);
    pool.Enqueue([&ran] { ++ran; });
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(ran, 5);
    EXPECT_EQ(pool.ThreadCount(), 0u);
}

} // namespace
