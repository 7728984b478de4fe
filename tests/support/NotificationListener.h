#pragma once
// A private session bus for a test (its own dbus-daemon) and a listener that owns the desktop's notification
// service on it, records every Notify and can answer with an action as a click would.

#include "ChildProcess.h"

#include <atomic>
#include <condition_variable>
#include <csignal>
#include <gtest/gtest.h>
#include <mutex>
#include <string>
#include <systemd/sd-bus.h>
#include <thread>
#include <vector>

// A private session bus for one test.
class TSessionBus {
public:
    TSessionBus() {
        FDaemon =
            StartChildReadingFirstLine("/usr/bin/dbus-daemon", {"--session", "--nofork", "--print-address"});
        if (FDaemon.FirstLine.empty()) ADD_FAILURE() << "dbus-daemon printed no address";
    }
    ~TSessionBus() { StopChild(FDaemon.Pid, SIGTERM); }
    const std::string& Address() const { return FDaemon.FirstLine; }

private:
    TChildProcess FDaemon;
};

// Owns org.freedesktop.Notifications on the bus and records every Notify; can answer with an action.
class TNotificationListener {
public:
    struct TNote {
        std::string AppName, Icon, Summary, Body;
        std::vector<std::string> Actions;
        uint32_t Id = 0;
    };

    explicit TNotificationListener(const std::string& address) {
        FThread = std::thread([this, address] { Run(address); });
        std::unique_lock lock(FLock);
        FChanged.wait_for(lock, std::chrono::seconds(10), [this] { return FReady; });
        if (!FOwned) ADD_FAILURE() << "the listener could not own the notification service";
    }
    ~TNotificationListener() {
        FStop = true;
        FThread.join();
    }
    std::vector<TNote> Notes() {
        std::lock_guard lock(FLock);
        return FNotes;
    }
    // Waits until count notifications have come; false on time-out.
    bool AwaitCount(size_t count, int seconds = 10) {
        std::unique_lock lock(FLock);
        return FChanged.wait_for(lock, std::chrono::seconds(seconds), [&] { return FNotes.size() >= count; });
    }
    void InvokeAction(uint32_t id, const std::string& action) {
        std::lock_guard lock(FLock);
        FActions.emplace_back(id, action);
    }

private:
    static int OnNotify(sd_bus_message* m, void* self, sd_bus_error*) {
        auto* listener = static_cast<TNotificationListener*>(self);
        TNote note;
        const char *app = nullptr, *icon = nullptr, *summary = nullptr, *body = nullptr;
        uint32_t replaces = 0;
        sd_bus_message_read(m, "susss", &app, &replaces, &icon, &summary, &body);
        note.AppName = app ? app : "";
        note.Icon = icon ? icon : "";
        note.Summary = summary ? summary : "";
        note.Body = body ? body : "";
        sd_bus_message_enter_container(m, 'a', "s");
        for (const char* action = nullptr; sd_bus_message_read(m, "s", &action) > 0;)
            note.Actions.emplace_back(action);
        sd_bus_message_exit_container(m);
        {
            std::lock_guard lock(listener->FLock);
            note.Id = static_cast<uint32_t>(listener->FNotes.size() + 1);
            listener->FNotes.push_back(note);
        }
        listener->FChanged.notify_all();
        return sd_bus_reply_method_return(m, "u", note.Id);
    }

    void Run(const std::string& address) {
        static const sd_bus_vtable Table[] = {SD_BUS_VTABLE_START(0),
                                              SD_BUS_METHOD("Notify", "susssasa{sv}i", "u",
                                                            &TNotificationListener::OnNotify,
                                                            SD_BUS_VTABLE_UNPRIVILEGED),
                                              SD_BUS_VTABLE_END};
        sd_bus* bus = nullptr;
        bool owned = sd_bus_new(&bus) >= 0 && sd_bus_set_address(bus, address.c_str()) >= 0 &&
                     sd_bus_set_bus_client(bus, 1) >= 0 && sd_bus_start(bus) >= 0 &&
                     sd_bus_add_object_vtable(bus, nullptr, "/org/freedesktop/Notifications",
                                              "org.freedesktop.Notifications", Table, this) >= 0 &&
                     sd_bus_request_name(bus, "org.freedesktop.Notifications", 0) >= 0;
        {
            std::lock_guard lock(FLock);
            FReady = true;
            FOwned = owned;
        }
        FChanged.notify_all();
        while (owned && !FStop) {
            while (sd_bus_process(bus, nullptr) > 0) {
            }
            std::vector<std::pair<uint32_t, std::string>> actions;
            {
                std::lock_guard lock(FLock);
                actions.swap(FActions);
            }
            for (const auto& [id, action] : actions)
                sd_bus_emit_signal(bus, "/org/freedesktop/Notifications", "org.freedesktop.Notifications",
                                   "ActionInvoked", "us", id, action.c_str());
            sd_bus_wait(bus, 100000);
        }
        sd_bus_flush_close_unref(bus);
    }

    std::mutex FLock;
    std::condition_variable FChanged;
    bool FReady = false, FOwned = false;
    std::atomic<bool> FStop{false};
    std::vector<TNote> FNotes;
    std::vector<std::pair<uint32_t, std::string>> FActions;
    std::thread FThread;
};
