#include "host/KovaGadgetEvents.h"

#include <algorithm>

TKovaEventQueue::TWait TKovaEventQueue::Next(std::string& text, std::chrono::milliseconds timeout) {
    std::unique_lock lock(FLock);
    FChanged.wait_for(lock, timeout, [this] { return FEnded || !FPending.empty(); });
    if (FEnded) return TWait::Ended;
    if (FPending.empty()) return TWait::Timeout;
    text = std::move(FPending.front());
    FPending.pop_front();
    return TWait::Event;
}

void TKovaEventQueue::Push(std::string text) {
    {
        std::lock_guard lock(FLock);
        if (FEnded) return;
        if (FPending.size() >= MaxPending) {
            FEnded = true;
            FPending.clear();
        } else {
            FPending.push_back(std::move(text));
        }
    }
    FChanged.notify_all();
}

void TKovaEventQueue::End() {
    {
        std::lock_guard lock(FLock);
        FEnded = true;
    }
    FChanged.notify_all();
}

bool TKovaEventQueue::Ended() const {
    std::lock_guard lock(FLock);
    return FEnded;
}

std::string TKovaEventHub::Frame(const std::string& event, const std::string& data) {
    return "event: " + event + "\ndata: " + data + "\n\n";
}

void TKovaEventHub::PushLocked(const std::string& text) {
    for (const auto& queue : FQueues)
        queue->Push(text);
}

void TKovaEventHub::Publish(const std::string& event, const std::string& data) {
    std::lock_guard lock(FLock);
    PushLocked(Frame(event, data));
}

void TKovaEventHub::PublishForms(const std::string& data) {
    std::lock_guard lock(FLock);
    FForms = data;
    PushLocked(Frame("forms", data));
}

std::shared_ptr<TKovaEventQueue> TKovaEventHub::Subscribe() {
    auto queue = std::make_shared<TKovaEventQueue>();
    std::lock_guard lock(FLock);
    if (FStopped) {
        queue->End();
        return queue;
    }
    if (FQueues.size() >= FMaxStreams) return nullptr;
    // Under the hub's lock: no forms event can come between the state and the stream's first update.
    queue->Push(Frame("forms", FForms));
    FQueues.push_back(queue);
    return queue;
}

void TKovaEventHub::Unsubscribe(const std::shared_ptr<TKovaEventQueue>& queue) {
    std::lock_guard lock(FLock);
    FQueues.erase(std::remove(FQueues.begin(), FQueues.end(), queue), FQueues.end());
}

size_t TKovaEventHub::SubscriberCount() const {
    std::lock_guard lock(FLock);
    return FQueues.size();
}

void TKovaEventHub::Stop() {
    std::lock_guard lock(FLock);
    FStopped = true;
    for (const auto& queue : FQueues)
        queue->End();
    FQueues.clear();
}
