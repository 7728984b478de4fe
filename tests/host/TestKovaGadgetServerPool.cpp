// ctest-labels: threaded
#include "host/KovaGadgetServerPool.h"

#include <algorithm>
#include <gtest/gtest.h>

namespace {

using namespace std::chrono_literals;

// Jobs that hold their thread until the gate opens; Started and Done count them.
struct TGate {
    std::mutex Lock;
    std::condition_variable Changed;
    int Started = 0, Done = 0;
    bool Open = false;

    std::function<void()> Job() {
        return [this] {
            std::unique_lock lock(Lock);
            ++Started;
            Changed.notify_all();
            Changed.wait(lock, [this] { return Open; });
            ++Done;
            Changed.notify_all();
        };
    }
    int Await(int TGate::*count, int n) {
        std::unique_lock lock(Lock);
        Changed.wait_for(lock, 10s, [&] { return this->*count >= n; });
        return this->*count;
    }
    void Release() {
        std::lock_guard lock(Lock);
        Open = true;
        Changed.notify_all();
    }
};

TEST(GadgetServerPool, StartsThreadsAsHeldJobsNeedThemUpToItsLimitAndEndsIdleOnesDownToTheSpareOnes) {
    struct TCase {
        const char* What;
        size_t Max, Spare;
        int Burst;
    } const cases[] = {
        {"below the limit", 8, 2, 5},
        {"beyond the limit: the rest wait for a free thread", 4, 1, 7},
        {"no spare thread", 3, 0, 3},
        {"more spare threads than the burst needed", 8, 6, 3},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.What);
        TKovaThreadPool pool(TKovaPoolOptions{c.Max, c.Spare, 150ms});
        // The spare threads are there from the start.
        const size_t spare = std::min(c.Spare, c.Max);
        EXPECT_EQ(pool.ThreadCount(), spare);
        for (int round = 0; round < 2; ++round) {
            TGate gate;
            for (int i = 0; i < c.Burst; ++i)
                pool.Enqueue(gate.Job());
            const int atOnce = std::min<int>(c.Burst, static_cast<int>(c.Max));
            EXPECT_EQ(gate.Await(&TGate::Started, atOnce), atOnce);
            std::this_thread::sleep_for(50ms);
            EXPECT_EQ(gate.Await(&TGate::Started, 0), atOnce) << "a job beyond the limit waits";
            // A thread that has just started or finished a job is not yet waiting for the next: a job that
            // comes then may start one more thread, never more than the limit.
            const size_t running = pool.ThreadCount();
            EXPECT_EQ(running, std::clamp(running, std::max(size_t(atOnce), spare), c.Max));
            gate.Release();
            EXPECT_EQ(gate.Await(&TGate::Done, c.Burst), c.Burst);
            const size_t kept = std::min(c.Spare, running);
            for (int i = 0; i < 1000 && pool.ThreadCount() != kept; ++i)
                std::this_thread::sleep_for(10ms);
            EXPECT_EQ(pool.ThreadCount(), kept) << "round " << round;
        }
    }
}

} // namespace
