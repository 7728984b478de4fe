#pragma once
// The events the gadget host sends to its page as Server-Sent Events: one queue per open stream, and the
// last state of the open forms, which every stream receives first.

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

// The events one stream has still to send, each already framed as "event: NAME\ndata: JSON\n\n".
class TKovaEventQueue {
public:
    enum class TWait { Event, Timeout, Ended };
    // A stream that falls this far behind is ended; the page's EventSource reconnects and starts afresh.
    static constexpr size_t MaxPending = 1000;

    // Takes the next event into text, waiting up to timeout for one.
    TWait Next(std::string& text, std::chrono::milliseconds timeout);
    void Push(std::string text);
    void End();
    bool Ended() const;

private:
    mutable std::mutex FLock;
    std::condition_variable FChanged;
    std::deque<std::string> FPending;
    bool FEnded = false;
};

class TKovaEventHub {
public:
    // Each open stream holds one of the host's request threads: beyond maxStreams, Subscribe refuses.
    explicit TKovaEventHub(size_t maxStreams = SIZE_MAX) : FMaxStreams(maxStreams) {}
    size_t MaxStreams() const { return FMaxStreams; }
    // Any thread. data is one line of JSON.
    void Publish(const std::string& event, const std::string& data);
    // The forms event: also kept as the state a new stream starts with.
    void PublishForms(const std::string& data);
    // A new stream, starting with the current forms state; nothing when maxStreams are open.
    std::shared_ptr<TKovaEventQueue> Subscribe();
    void Unsubscribe(const std::shared_ptr<TKovaEventQueue>& queue);
    size_t SubscriberCount() const;
    // Ends every stream, and any that opens later at once.
    void Stop();

private:
    static std::string Frame(const std::string& event, const std::string& data);
    void PushLocked(const std::string& text);

    mutable std::mutex FLock;
    std::vector<std::shared_ptr<TKovaEventQueue>> FQueues;
    const size_t FMaxStreams;
    std::string FForms = "{\"forms\":[]}";
    bool FStopped = false;
};
