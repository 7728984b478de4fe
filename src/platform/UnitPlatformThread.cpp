#include "platform/UnitPlatformThread.h"

#include "base/UnitExceptions.h"
#include "platform/UnitPlatformMainThread.h"

#include <mutex>

// Shared with the queued notification, so that a notification for an object deleted meanwhile does nothing.
struct TThread::TShared {
    std::mutex Lock;
    TThread* Owner = nullptr;
    bool Delivered = false;
};

TThread::TThread() : FShared(std::make_shared<TShared>()) {
    FShared->Owner = this;
}

TThread::~TThread() {
    {
        std::lock_guard lock(FShared->Lock);
        FShared->Owner = nullptr;
    }
    if (FThread.joinable()) {
        if (FThread.get_id() == std::this_thread::get_id()) {
            FThread.detach();
        } else {
            Terminate();
            FThread.join();
        }
    }
}

void TThread::Start() {
    if (FStarted.exchange(true)) throw EThread("Thread already started");
    FThread = std::thread([this] { Run(); });
}

void TThread::Run() {
    try {
        Execute();
    } catch (...) {
        FFatalException = std::current_exception();
    }
    const bool notify = FreeOnTerminate || OnTerminate;
    std::shared_ptr<TShared> shared = FShared;
    FFinished = true;
    // After this post the object may be deleted on the main thread at any moment: touch nothing of it.
    if (notify) {
        MainThreadQueue().Post([shared] {
            TThread* owner;
            {
                std::lock_guard lock(shared->Lock);
                owner = shared->Owner;
            }
            if (owner) owner->DeliverTermination();
        });
    }
}

void TThread::WaitFor() {
    if (FThread.joinable() && FThread.get_id() != std::this_thread::get_id()) FThread.join();
}

void TThread::DeliverTermination() {
    if (!FFinished) return;
    {
        std::lock_guard lock(FShared->Lock);
        if (FShared->Delivered) return;
        FShared->Delivered = true;
    }
    if (OnTerminate) OnTerminate(*this);
    if (FreeOnTerminate) delete this;
}
