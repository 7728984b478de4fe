#include "platform/UnitPlatformNotifications.h"

#include "base/UnitUtils.h"
#include "platform/UnitPlatformEnvironment.h"

#include <atomic>
#include <cstring>
#include <map>
#include <mutex>
#include <poll.h>
#include <systemd/sd-bus.h>
#include <thread>

namespace {

constexpr const char* Service = "org.freedesktop.Notifications";
constexpr const char* ServicePath = "/org/freedesktop/Notifications";
// A service that does not answer within this does not hold the caller (the main thread) any longer.
constexpr uint64_t CallTimeoutUsec = 2'000'000;
// How often the bus thread looks for answers another thread's call may have queued.
constexpr int PollMs = 250;

std::string ErrorText(int result, const sd_bus_error* error) {
    if (error && sd_bus_error_is_set(error))
        return std::string(error->name) + ": " + (error->message ? error->message : "");
    return std::strerror(-result);
}

} // namespace

struct TPlatformNotifications::TImpl {
    // Every use of the bus happens under this lock: sd-bus connections are not shared between threads.
    std::mutex Lock;
    sd_bus* Bus = nullptr;
    sd_bus_slot* Match = nullptr;
    bool Tried = false;
    std::string ConnectError;
    std::map<uint32_t, TActionEvent> Pending;
    std::atomic<bool> Stop{false};
    std::thread Listener;

    bool Connect(std::string& error);
    void Listen(int fd);
    static int OnActionInvoked(sd_bus_message* message, void* self, sd_bus_error*);

    ~TImpl() {
        Stop = true;
        if (Listener.joinable()) Listener.join();
        sd_bus_slot_unref(Match);
        sd_bus_flush_close_unref(Bus);
    }
};

int TPlatformNotifications::TImpl::OnActionInvoked(sd_bus_message* message, void* self, sd_bus_error*) {
    auto* impl = static_cast<TImpl*>(self);
    uint32_t id = 0;
    const char* action = nullptr;
    if (sd_bus_message_read(message, "us", &id, &action) < 0 || !action) return 0;
    const auto found = impl->Pending.find(id);
    if (found == impl->Pending.end()) return 0;
    // Called with the lock held from Listen: the handler must not notify.
    if (found->second) found->second(action);
    impl->Pending.erase(found);
    return 0;
}

bool TPlatformNotifications::TImpl::Connect(std::string& error) {
    if (Bus) return true;
    if (Tried) {
        error = ConnectError;
        return false;
    }
    Tried = true;
    const std::string address = GetEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS").value_or("");
    if (address.empty()) {
        error = ConnectError = "there is no session bus (DBUS_SESSION_BUS_ADDRESS is not set)";
        return false;
    }
    sd_bus* bus = nullptr;
    int result = sd_bus_new(&bus);
    if (result >= 0) result = sd_bus_set_address(bus, address.c_str());
    if (result >= 0) result = sd_bus_set_bus_client(bus, 1);
    if (result >= 0) result = sd_bus_start(bus);
    if (result >= 0)
        result = sd_bus_match_signal(bus, &Match, nullptr, ServicePath, Service, "ActionInvoked",
                                     &TImpl::OnActionInvoked, this);
    if (result < 0) {
        error = ConnectError = "the session bus cannot be reached: " + ErrorText(result, nullptr);
        sd_bus_slot_unref(Match);
        Match = nullptr;
        sd_bus_flush_close_unref(bus);
        return false;
    }
    Bus = bus;
    const int fd = sd_bus_get_fd(Bus);
    Listener = std::thread([this, fd] { Listen(fd); });
    return true;
}

void TPlatformNotifications::TImpl::Listen(int fd) {
    while (!Stop) {
        pollfd poller{fd, POLLIN, 0};
        ::poll(&poller, 1, PollMs);
        std::lock_guard lock(Lock);
        // A bus that has gone leaves the notifications that were shown without their actions.
        while (sd_bus_process(Bus, nullptr) > 0) {
        }
    }
}

TPlatformNotifications::TPlatformNotifications() : F(std::make_unique<TImpl>()) {
}

TPlatformNotifications::~TPlatformNotifications() = default;

bool TPlatformNotifications::Notify(const TPlatformNotification& n, TActionEvent onAction,
                                    std::string& error) {
    std::lock_guard lock(F->Lock);
    if (!F->Connect(error)) return false;
    sd_bus_message* call = nullptr;
    sd_bus_message* reply = nullptr;
    sd_bus_error callError = SD_BUS_ERROR_NULL;
    int result = sd_bus_message_new_method_call(F->Bus, &call, Service, ServicePath, Service, "Notify");
    // A notification is a glance: a title as long as a book would only fill the screen (and the bus).
    const std::string summary = CutText(n.Summary, MaxSummaryChars);
    const std::string body = CutText(n.Body, MaxBodyChars);
    if (result >= 0)
        result = sd_bus_message_append(call, "susss", n.AppName.c_str(), uint32_t{0}, n.AppIcon.c_str(),
                                       summary.c_str(), body.c_str());
    if (result >= 0) result = sd_bus_message_open_container(call, 'a', "s");
    for (const auto& [key, label] : n.Actions)
        if (result >= 0) result = sd_bus_message_append(call, "ss", key.c_str(), label.c_str());
    if (result >= 0) result = sd_bus_message_close_container(call);
    if (result >= 0) result = sd_bus_message_append(call, "a{sv}i", 0, int32_t{n.TimeoutMs});
    if (result >= 0) result = sd_bus_call(F->Bus, call, CallTimeoutUsec, &callError, &reply);
    uint32_t id = 0;
    if (result >= 0) result = sd_bus_message_read(reply, "u", &id);
    if (result < 0)
        error = "the notification service did not take the notification: " + ErrorText(result, &callError);
    sd_bus_error_free(&callError);
    sd_bus_message_unref(reply);
    sd_bus_message_unref(call);
    if (result < 0) return false;
    if (onAction) F->Pending[id] = std::move(onAction);
    return true;
}
