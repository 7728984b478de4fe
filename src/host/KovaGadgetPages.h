#pragma once
// The pages a gadget host serves, known by their open event streams. When the last one has gone and none
// came back within the grace (a reloaded page opens its stream again well within it), the host is told,
// once, so that it can end the control those pages used.

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

class TKovaGadgetPages {
public:
    // onGone runs on a thread of this object's own.
    TKovaGadgetPages(std::chrono::milliseconds grace, std::function<void()> onGone);
    ~TKovaGadgetPages();
    TKovaGadgetPages(const TKovaGadgetPages&) = delete;
    TKovaGadgetPages& operator=(const TKovaGadgetPages&) = delete;

    // Any thread: a page's event stream opened or ended.
    void Opened();
    void Closed();
    size_t Count() const;
    // Tells again after the delay unless a page opens meanwhile: for an end that has to wait for something.
    void AskAgain(std::chrono::milliseconds delay);
    // No telling from now on; waits for a telling that is running.
    void Stop();

private:
    void Watch();

    const std::chrono::milliseconds FGrace;
    const std::function<void()> FOnGone;
    mutable std::mutex FLock;
    std::condition_variable FChanged;
    size_t FCount = 0;
    std::optional<std::chrono::steady_clock::time_point> FDue;
    bool FStopping = false;
    std::thread FThread;
};
