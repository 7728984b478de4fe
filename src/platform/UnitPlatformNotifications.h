#pragma once
// Desktop notifications through the freedesktop notification service (org.freedesktop.Notifications) on the
// session bus named by DBUS_SESSION_BUS_ADDRESS.

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

struct TPlatformNotification {
    std::string AppName;
    std::string AppIcon; // an icon name of the theme, or a file's address
    std::string Summary;
    std::string Body;
    // Action key and label pairs; the key "default" is the click on the notification itself.
    std::vector<std::pair<std::string, std::string>> Actions;
    int TimeoutMs = -1; // -1: the service decides
};

// One connection to the session bus, made on the first notification; a thread of its own hears the
// service's answers to the actions. Any thread may notify.
class TPlatformNotifications {
public:
    // Longer texts are cut, with "…" at the end.
    static constexpr size_t MaxSummaryChars = 200;
    static constexpr size_t MaxBodyChars = 1000;

    TPlatformNotifications();
    ~TPlatformNotifications();
    TPlatformNotifications(const TPlatformNotifications&) = delete;
    TPlatformNotifications& operator=(const TPlatformNotifications&) = delete;

    // Told on the bus thread with the key of the action the user chose.
    using TActionEvent = std::function<void(const std::string& action)>;
    // Shows the notification; false with the reason in error when there is no session bus or the service
    // did not take it. onAction is kept until the service reports an action for this notification.
    bool Notify(const TPlatformNotification& notification, TActionEvent onAction, std::string& error);

private:
    struct TImpl;
    std::unique_ptr<TImpl> F;
};
