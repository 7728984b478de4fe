// ctest-labels: threaded
#include "platform/UnitPlatformNotifications.h"
#include "support/GadgetTestDirectory.h"
#include "support/InProcessHost.h"
#include "support/NotificationListener.h"
#include "watchlist/UnitKovaReminders.h"

#include <atomic>
#include <csignal>
#include <gtest/gtest.h>
#include <httplib.h>
#include <nlohmann/json.hpp>
#include <thread>

namespace {

using json = nlohmann::json;

constexpr double Minute = 1.0 / 1440;
constexpr double Second = 1.0 / 86400;
// 2030-01-01T12:00:00Z.
constexpr double End = 47484.5;

class ReminderHostTest : public ::testing::Test {
protected:
    void SetUp() override {
        const char* bus = getenv("DBUS_SESSION_BUS_ADDRESS");
        if (bus) FSavedBus = bus;
        // "B" ended an hour ago while the host was not running, its reminder not given.
        WriteReminderItems(Gadget.File("watchlist.dat"),
                           {{"A", End, 0, false}, {"B", End - 60 * Minute, 2, false}});
    }
    void TearDown() override {
        if (FSavedBus.empty())
            unsetenv("DBUS_SESSION_BUS_ADDRESS");
        else
            setenv("DBUS_SESSION_BUS_ADDRESS", FSavedBus.c_str(), 1);
    }

    TGadgetTestDirectory Gadget{TGadgetDirectoryOptions{}};
    TShiftedClock Clock;

private:
    std::string FSavedBus;
};

TEST_F(ReminderHostTest, AReminderIsDeliveredAtItsMinuteOnceAcrossARestart) {
    for (const bool withBus : {true, false}) {
        SCOPED_TRACE(withBus ? "with a session bus" : "without a session bus");
        SetUp();
        std::unique_ptr<TSessionBus> bus;
        std::unique_ptr<TNotificationListener> listener;
        if (withBus) {
            bus = std::make_unique<TSessionBus>();
            listener = std::make_unique<TNotificationListener>(bus->Address());
            setenv("DBUS_SESSION_BUS_ADDRESS", bus->Address().c_str(), 1);
        } else {
            unsetenv("DBUS_SESSION_BUS_ADDRESS");
        }
        Clock.SetUTC(End - 20 * Minute);
        {
            TInProcessHost host(Gadget.Dir().Path());
            ASSERT_TRUE(host.Init());
            const auto [status, set] =
                host.Send("PUT", "/api/reminders", {{"itemId", "A"}, {"remindType", 2}});
            ASSERT_EQ(status, 200) << set.dump();
            EXPECT_EQ(set["result"], json({{"itemId", "A"},
                                           {"remindType", 2},
                                           {"remindTime", "2030-01-01T11:45:00Z"},
                                           {"reminded", false}}));
            EXPECT_NE(ReadTextFile(Gadget.File("result.txt")).find("class=red"), std::string::npos);

            // The ended item's reminder is dropped, not given; the other waits for its minute.
            Clock.SetUTC(End - 15 * Minute - 3 * Second);
            std::this_thread::sleep_for(std::chrono::milliseconds(2500));
            EXPECT_FALSE(host.Saw("reminder"));
            if (listener) {
                EXPECT_TRUE(listener->Notes().empty());
            }
            EXPECT_EQ(host.Send("GET", "/api/reminders").second["items"][1],
                      json({{"itemId", "B"},
                            {"remindType", 2},
                            {"remindTime", "2030-01-01T10:45:00Z"},
                            {"reminded", true}}));

            Clock.SetUTC(End - 15 * Minute);
            const json reminder = host.Stream->Await("reminder");
            ASSERT_TRUE(reminder.is_object()) << "no reminder event within 20 s";
            const std::vector<json> events{reminder};
            EXPECT_EQ(events[0]["itemId"], "A");
            EXPECT_EQ(events[0]["title"], "Lamp A");
            EXPECT_EQ(events[0]["url"], "https://www.example/itm/A");
            EXPECT_EQ(events[0]["notified"], withBus);
            EXPECT_FALSE(events[0]["price"].get<std::string>().empty());
            EXPECT_FALSE(events[0]["timeLeft"].get<std::string>().empty());
            if (listener) {
                ASSERT_TRUE(listener->AwaitCount(1));
                const auto note = listener->Notes()[0];
                EXPECT_EQ(note.AppName, "KovaGadget");
                EXPECT_EQ(note.Icon, "kova-gadget");
                EXPECT_EQ(note.Summary, "Lamp A");
                EXPECT_NE(note.Body.find(events[0]["price"].get<std::string>()), std::string::npos)
                    << note.Body;
                EXPECT_NE(note.Body.find(events[0]["timeLeft"].get<std::string>()), std::string::npos);
                EXPECT_EQ(note.Actions, (std::vector<std::string>{"default", "Open"}));
                // A click on the notification opens the item's page (here through the page).
                listener->InvokeAction(note.Id, "default");
                EXPECT_EQ(host.Stream->Await("openurl"), json({{"url", "https://www.example/itm/A"}}));
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1500));
            const std::string text = host.Stream->Text();
            EXPECT_EQ(text.find("event: reminder"), text.rfind("event: reminder")) << "given once";
        }
        // A restart later that day gives nothing again.
        Clock.SetUTC(End - 10 * Minute);
        TInProcessHost again(Gadget.Dir().Path());
        ASSERT_TRUE(again.Init());
        std::this_thread::sleep_for(std::chrono::milliseconds(2500));
        EXPECT_FALSE(again.Saw("reminder"));
        if (listener) {
            EXPECT_EQ(listener->Notes().size(), 1u);
        }
        EXPECT_EQ(again.Send("GET", "/api/reminders").second["items"][0]["reminded"], true);
    }
}

TEST_F(ReminderHostTest, TheReminderEndpointsCheckWhatTheyAreGiven) {
    TInProcessHost host(Gadget.Dir().Path());
    EXPECT_EQ(host.Send("PUT", "/api/reminders", {{"itemId", "A"}, {"remindType", 1}}).first, 409)
        << "no control before Init";
    ASSERT_TRUE(host.Init());
    const struct {
        json Body;
        int Status;
    } cases[] = {
        {{{"itemId", "A"}, {"remindType", 7}}, 400},
        {{{"itemId", "A"}, {"remindType", -1}}, 400},
        {{{"itemId", "A"}, {"remindType", "2"}}, 400},
        {{{"itemId", ""}, {"remindType", 2}}, 400},
        {{{"remindType", 2}}, 400},
        {json::array(), 400},
        {{{"default", 7}}, 400},
        {{{"default", 2}, {"itemId", "A"}}, 400},
        {{{"itemId", "Z"}, {"remindType", 2}}, 404},
        {{{"itemId", "A"}, {"remindType", 6}}, 200},
        {{{"itemId", "A"}, {"remindType", 0}}, 200},
        {{{"default", 3}}, 200},
    };
    for (const auto& c : cases) {
        const auto [status, body] = host.Send("PUT", "/api/reminders", c.Body);
        EXPECT_EQ(status, c.Status) << c.Body.dump() << ": " << body.dump();
        EXPECT_EQ(body.contains("error"), c.Status != 200) << c.Body.dump();
    }
    EXPECT_EQ(host.Send("GET", "/api/reminders").second, json({{"default", 3},
                                                               {"items",
                                                                {{{"itemId", "B"},
                                                                  {"remindType", 2},
                                                                  {"remindTime", "2030-01-01T10:45:00Z"},
                                                                  {"reminded", false}}}}}));
    EXPECT_NE(ReadTextFile(Gadget.File("KovaGadget.ini")).find("AuctionsRemindDefault=3"), std::string::npos);
    // Without the secret nothing is told or changed.
    httplib::Client client("127.0.0.1", host.Server.Port());
    EXPECT_EQ(client.Get("/api/reminders")->status, 403);
    EXPECT_EQ(client.Put("/api/reminders", R"({"default":0})", "application/json")->status, 403);
}

} // namespace

// A title as long as a book reaches the desktop cut at a character's border, its end marked.
TEST(ReminderNotifications, SummaryAndBodyAreCutToAGlance) {
    TSessionBus bus;
    TNotificationListener listener(bus.Address());
    const std::string savedBus = getenv("DBUS_SESSION_BUS_ADDRESS") ? getenv("DBUS_SESSION_BUS_ADDRESS") : "";
    setenv("DBUS_SESSION_BUS_ADDRESS", bus.Address().c_str(), 1);
    {
        TPlatformNotifications notifications;
        std::string error;
        const TPlatformNotification note{
            "KovaGadget",           "", std::string(199, 'a') + "\xC3\xA4" + std::string(200000, 'b'),
            std::string(5000, 'c'), {}, -1};
        EXPECT_TRUE(notifications.Notify(note, nullptr, error)) << error;
        ASSERT_TRUE(listener.AwaitCount(1));
    }
    EXPECT_EQ(listener.Notes()[0].Summary, std::string(199, 'a') + "\xC3\xA4\xE2\x80\xA6");
    EXPECT_EQ(listener.Notes()[0].Body, std::string(1000, 'c') + "\xE2\x80\xA6");
    setenv("DBUS_SESSION_BUS_ADDRESS", savedBus.c_str(), 1);
}
