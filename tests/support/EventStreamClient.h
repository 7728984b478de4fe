#pragma once
// The host's event stream as a page's EventSource reads it, on a socket of its own so that it can stop at
// any moment: its decoded text, and its events by name with their data parsed. While it is open the host
// counts it as a page.

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <utility>
#include <vector>

class TEventStreamClient {
public:
    // Waits until the stream has begun (the host sends the forms state first), up to 20 s.
    TEventStreamClient(int port, const std::string& secret);
    ~TEventStreamClient();
    TEventStreamClient(const TEventStreamClient&) = delete;
    TEventStreamClient& operator=(const TEventStreamClient&) = delete;

    // The first event of that name, after the ones already taken, that satisfies the test; null on time-out.
    nlohmann::json Await(const std::string& name,
                         const std::function<bool(const nlohmann::json&)>& test = nullptr);
    // The open forms as the first forms event after the ones taken that satisfies the test gave them.
    nlohmann::json AwaitForms(const std::function<bool(const nlohmann::json& forms)>& test);
    // Everything the stream carried so far, decoded from its chunks.
    std::string Text();

private:
    void Read();

    int FSocket = -1;
    std::thread FThread;
    std::mutex FLock;
    std::condition_variable FChanged;
    std::string FText;
    std::vector<std::pair<std::string, nlohmann::json>> FEvents;
    size_t FNext = 0;
    bool FBegun = false;
    std::atomic<bool> FStopping{false};
};
