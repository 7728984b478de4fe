#pragma once
// The threads that serve the gadget host's requests. They are started as requests come and no thread is
// free, up to a limit, and one that has waited long for work ends, a few spare ones excepted: a page's start
// needs a handful at once, an idle host a few, and each thread keeps a stack and a share of the allocator.

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

struct TKovaPoolOptions {
    size_t MaxThreads = 32;
    size_t SpareThreads = 4; // start with the pool and never end for idleness
    std::chrono::milliseconds IdleEnd{10000};
};

class TKovaThreadPool {
public:
    explicit TKovaThreadPool(const TKovaPoolOptions& options);
    ~TKovaThreadPool();
    TKovaThreadPool(const TKovaThreadPool&) = delete;
    TKovaThreadPool& operator=(const TKovaThreadPool&) = delete;

    // Any thread. A job waits only while MaxThreads jobs run; after Shutdown it is dropped.
    void Enqueue(std::function<void()> job);
    // Runs the jobs still queued, then joins every thread.
    void Shutdown();
    // Threads alive now.
    size_t ThreadCount() const;

private:
    void StartThreadLocked();
    void JoinEndedLocked(std::unique_lock<std::mutex>& lock);
    void Work();

    const TKovaPoolOptions FOptions;
    mutable std::mutex FLock;
    std::condition_variable FWork;
    std::deque<std::function<void()>> FJobs;
    std::vector<std::thread> FThreads;
    // Threads that ended for idleness, joined by the next Enqueue or by Shutdown.
    std::vector<std::thread::id> FEnded;
    size_t FIdle = 0; // threads waiting for a job
    bool FStopped = false;
};
