#pragma once
// The main thread's task queue: any thread posts a task, the main thread runs them in order.

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>

class TMainThreadQueue {
public:
    using TTask = std::function<void()>;

    // Any thread. The task runs later on the main thread.
    void Post(TTask task);
    // Main thread: runs the tasks queued so far, in order; returns how many ran.
    size_t ProcessPending();
    // Main thread: runs tasks as they arrive until done() holds (checked between tasks and at least every
    // 10 ms) or timeoutMs has passed (negative: no limit). Returns done() at the end. This is how a modal
    // dialog or a wait for a worker keeps the rest of the process answered.
    bool RunUntil(const std::function<bool()>& done, int timeoutMs = -1);
    // Main thread: the same without a deadline, for a done() that only changes in a task or before a
    // Wake(): checked after each task and each Wake, never by the clock, so that an idle process sleeps.
    void RunUntilWoken(const std::function<bool()>& done);
    size_t PendingCount();
    // Wakes a RunUntil so that it checks its condition at once.
    void Wake();

private:
    bool RunOne();
    std::mutex FLock;
    std::condition_variable FChanged;
    std::deque<TTask> FTasks;
    unsigned FWakes = 0; // counts Wake calls, so that one between a check and the wait is not lost
};

TMainThreadQueue& MainThreadQueue();

// The main thread is the one that called SetMainThread last, or else the first that asked IsMainThread.
void SetMainThread();
bool IsMainThread();
