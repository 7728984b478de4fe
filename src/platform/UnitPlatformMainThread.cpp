#include "platform/UnitPlatformMainThread.h"

#include <atomic>
#include <chrono>
#include <thread>

namespace {
std::mutex GMainLock;
std::thread::id GMainThread;
bool GMainThreadSet = false;
} // namespace

void TMainThreadQueue::Post(TTask task) {
    {
        std::lock_guard lock(FLock);
        FTasks.push_back(std::move(task));
    }
    FChanged.notify_all();
}

bool TMainThreadQueue::RunOne() {
    TTask task;
    {
        std::lock_guard lock(FLock);
        if (FTasks.empty()) return false;
        task = std::move(FTasks.front());
        FTasks.pop_front();
    }
    task();
    return true;
}

size_t TMainThreadQueue::ProcessPending() {
    size_t count;
    {
        std::lock_guard lock(FLock);
        count = FTasks.size();
    }
    size_t ran = 0;
    while (ran < count && RunOne())
        ++ran;
    return ran;
}

bool TMainThreadQueue::RunUntil(const std::function<bool()>& done, int timeoutMs) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
    for (;;) {
        if (done()) return true;
        if (timeoutMs >= 0 && Clock::now() >= deadline) return done();
        if (RunOne()) continue;
        std::unique_lock lock(FLock);
        auto wake = Clock::now() + std::chrono::milliseconds(10);
        if (timeoutMs >= 0 && deadline < wake) wake = deadline;
        FChanged.wait_until(lock, wake, [this] { return !FTasks.empty(); });
    }
}

void TMainThreadQueue::RunUntilWoken(const std::function<bool()>& done) {
    for (;;) {
        unsigned wakes;
        {
            std::lock_guard lock(FLock);
            wakes = FWakes;
        }
        if (done()) return;
        if (RunOne()) continue;
        std::unique_lock lock(FLock);
        FChanged.wait(lock, [this, wakes] { return !FTasks.empty() || FWakes != wakes; });
    }
}

size_t TMainThreadQueue::PendingCount() {
    std::lock_guard lock(FLock);
    return FTasks.size();
}

void TMainThreadQueue::Wake() {
    {
        std::lock_guard lock(FLock);
        ++FWakes;
    }
    FChanged.notify_all();
}

TMainThreadQueue& MainThreadQueue() {
    static TMainThreadQueue queue;
    return queue;
}

void SetMainThread() {
    std::lock_guard lock(GMainLock);
    GMainThread = std::this_thread::get_id();
    GMainThreadSet = true;
}

bool IsMainThread() {
    std::lock_guard lock(GMainLock);
    if (!GMainThreadSet) {
        GMainThread = std::this_thread::get_id();
        GMainThreadSet = true;
    }
    return GMainThread == std::this_thread::get_id();
}
