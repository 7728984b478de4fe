#include "host/KovaGadgetServerPool.h"

#include <algorithm>

// The spare threads start at once: threads started only when the first requests come measured 20 µs slower
// per request on a kept-alive connection than threads that were there before it.
TKovaThreadPool::TKovaThreadPool(const TKovaPoolOptions& options) : FOptions(options) {
    std::lock_guard lock(FLock);
    for (size_t i = 0; i < std::min(FOptions.SpareThreads, FOptions.MaxThreads); ++i)
        StartThreadLocked();
}

TKovaThreadPool::~TKovaThreadPool() {
    Shutdown();
}

void TKovaThreadPool::Enqueue(std::function<void()> job) {
    std::unique_lock lock(FLock);
    if (FStopped) return;
    JoinEndedLocked(lock);
    if (FStopped) return;
    FJobs.push_back(std::move(job));
    // A waiting thread that was woken but has not yet taken its job still counts as waiting: the jobs
    // queued beyond the waiting threads need threads of their own.
    if (FJobs.size() > FIdle && FThreads.size() < std::max<size_t>(FOptions.MaxThreads, 1))
        StartThreadLocked();
    FWork.notify_one();
}

void TKovaThreadPool::Shutdown() {
    std::vector<std::thread> threads;
    {
        std::unique_lock lock(FLock);
        FStopped = true;
        FWork.notify_all();
        threads.swap(FThreads);
        FEnded.clear();
    }
    for (std::thread& thread : threads)
        if (thread.joinable()) thread.join();
}

size_t TKovaThreadPool::ThreadCount() const {
    std::lock_guard lock(FLock);
    return FThreads.size() - FEnded.size();
}

void TKovaThreadPool::StartThreadLocked() {
    FThreads.emplace_back([this] { Work(); });
}

void TKovaThreadPool::JoinEndedLocked(std::unique_lock<std::mutex>& lock) {
    if (FEnded.empty()) return;
    std::vector<std::thread> ended;
    for (const std::thread::id id : FEnded) {
        const auto found = std::find_if(FThreads.begin(), FThreads.end(),
                                        [id](const std::thread& thread) { return thread.get_id() == id; });
        if (found == FThreads.end()) continue;
        ended.push_back(std::move(*found));
        FThreads.erase(found);
    }
    FEnded.clear();
    // An ended thread has left Work and needs nothing of the lock any more.
    lock.unlock();
    for (std::thread& thread : ended)
        thread.join();
    lock.lock();
}

void TKovaThreadPool::Work() {
    std::unique_lock lock(FLock);
    for (;;) {
        ++FIdle;
        const bool woken =
            FWork.wait_for(lock, FOptions.IdleEnd, [this] { return !FJobs.empty() || FStopped; });
        --FIdle;
        if (FJobs.empty()) {
            if (FStopped) return;
            // Idle: the spare threads stay, every other one ends (Enqueue or Shutdown joins it).
            if (!woken && FThreads.size() - FEnded.size() > FOptions.SpareThreads) {
                FEnded.push_back(std::this_thread::get_id());
                return;
            }
            continue;
        }
        std::function<void()> job = std::move(FJobs.front());
        FJobs.pop_front();
        lock.unlock();
        job();
        job = nullptr; // what the job holds goes before the thread waits again
        lock.lock();
    }
}
