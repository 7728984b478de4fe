#pragma once
// The thread class the design's workers derive from: created suspended, started with Start, a terminated
// flag that Execute polls, and an end-of-thread notification run on the main thread's queue.

#include <atomic>
#include <exception>
#include <functional>
#include <memory>
#include <thread>

class TThread {
public:
    TThread();
    virtual ~TThread();
    TThread(const TThread&) = delete;
    TThread& operator=(const TThread&) = delete;

    // Runs Execute on a new thread. Threads start after construction so that Execute sees a whole object.
    void Start();
    // Asks Execute to end; it polls Terminated().
    void Terminate() { FTerminated = true; }
    bool Terminated() const { return FTerminated; }
    bool Started() const { return FStarted; }
    bool Finished() const { return FFinished; }
    // Blocks until Execute has returned (not callable from the thread itself).
    void WaitFor();
    // A derived class whose object may be destroyed while Execute runs calls this first in its destructor:
    // by the time the base destructor runs, the derived part is gone and Execute must not be running.
    void TerminateAndWait() {
        Terminate();
        WaitFor();
    }
    // Runs the end-of-thread notification now, on the calling thread, if it has not run yet and Execute has
    // returned. With FreeOnTerminate the object is deleted: the caller must not touch it afterwards.
    void DeliverTermination();

    // The error that escaped Execute, if any.
    std::exception_ptr FatalException() const { return FFatalException; }

    // Delete the object on the main thread once the notification has run.
    bool FreeOnTerminate = false;
    // Runs on the main thread after Execute returned.
    std::function<void(TThread&)> OnTerminate;

protected:
    virtual void Execute() = 0;

private:
    struct TShared;
    void Run();

    std::thread FThread;
    std::shared_ptr<TShared> FShared;
    std::atomic<bool> FTerminated{false};
    std::atomic<bool> FStarted{false};
    std::atomic<bool> FFinished{false};
    std::exception_ptr FFatalException;
};
