#include "host/KovaGadgetPages.h"

TKovaGadgetPages::TKovaGadgetPages(std::chrono::milliseconds grace, std::function<void()> onGone)
    : FGrace(grace), FOnGone(std::move(onGone)), FThread([this] { Watch(); }) {
}

TKovaGadgetPages::~TKovaGadgetPages() {
    Stop();
}

void TKovaGadgetPages::Opened() {
    std::lock_guard lock(FLock);
    ++FCount;
    FDue.reset();
}

void TKovaGadgetPages::Closed() {
    {
        std::lock_guard lock(FLock);
        if (FCount > 0) --FCount;
        if (FCount > 0) return;
        FDue = std::chrono::steady_clock::now() + FGrace;
    }
    FChanged.notify_all();
}

size_t TKovaGadgetPages::Count() const {
    std::lock_guard lock(FLock);
    return FCount;
}

void TKovaGadgetPages::AskAgain(std::chrono::milliseconds delay) {
    {
        std::lock_guard lock(FLock);
        if (FCount > 0) return;
        FDue = std::chrono::steady_clock::now() + delay;
    }
    FChanged.notify_all();
}

void TKovaGadgetPages::Stop() {
    {
        std::lock_guard lock(FLock);
        FStopping = true;
    }
    FChanged.notify_all();
    if (FThread.joinable()) FThread.join();
}

void TKovaGadgetPages::Watch() {
    std::unique_lock lock(FLock);
    while (!FStopping) {
        if (!FDue) {
            FChanged.wait(lock);
            continue;
        }
        const auto due = *FDue;
        if (std::chrono::steady_clock::now() < due) {
            FChanged.wait_until(lock, due);
            continue;
        }
        FDue.reset();
        lock.unlock();
        FOnGone();
        lock.lock();
    }
}
