// ctest-labels: threaded
// The host's automatic refreshes against the sandbox, with a clock the test moves: eBay's call limit, the
// day's budget kept across restarts, and a wake from sleep.
#include "platform/UnitPlatformFiles.h"
#include "support/GadgetTestDirectory.h"
#include "support/InProcessHost.h"
#include "support/SandboxProcess.h"
#include "support/TimeTestSupport.h"

#include <gtest/gtest.h>
#include <thread>

namespace {

using json = nlohmann::json;

constexpr double Second = 1.0 / 86400;
constexpr double Minute = 60 * Second;

int WatchListRequests(TSandboxProcess& sandbox) {
    int count = 0;
    for (const json& request : sandbox.Requests())
        count += request.value("call", "") == "GetMyeBayBuying";
    return count;
}

bool HasState(const json& data, const char* state) {
    return data.is_object() && data.value("state", "") == state;
}

class RefreshHostTest : public ::testing::Test {
protected:
    // A signed-in gadget of the sandbox's user with automatic refresh on and the ini's further lines.
    void SetUpGadget(const std::string& account, const std::string& watchlistLines) {
        unsetenv("DBUS_SESSION_BUS_ADDRESS");
        Sandbox = std::make_unique<TSandboxProcess>(std::vector<std::string>{account});
        setenv("KOVA_EXTRA_CA_FILE", Sandbox->CAPath().c_str(), 1);
        Dir = std::make_unique<TGadgetTestDirectory>(SandboxGadget(*Sandbox));
        const std::string user = account.substr(0, account.find(':'));
        Dir->SaveLogInData(user, "secret", Sandbox->Token(user));
        const std::string ini = Dir->File("KovaGadget.ini");
        Dir->Dir().Write("KovaGadget.ini", (FileExists(ini) ? ReadTextFile(ini) : "") +
                                               "\r\n[Watchlist]\r\nAuctionsAutomaticRefresh=1\r\n" +
                                               watchlistLines);
    }
    // Moves the clock on in steps under a minute, a tick apart, so that the host sees time pass, not a sleep.
    void Pass(double days) {
        for (double left = days; left > 0; left -= 40 * Second) {
            Clock.Advance(std::min(left, 40 * Second));
            std::this_thread::sleep_for(std::chrono::milliseconds(1100));
        }
    }
    std::string Result() const { return ReadTextFile(Dir->File("result.txt")); }

    TShiftedClock Clock;
    std::unique_ptr<TSandboxProcess> Sandbox;
    std::unique_ptr<TGadgetTestDirectory> Dir;
};

TEST_F(RefreshHostTest, EbaysCallLimitStopsAutomaticRefreshesUntilItsNextDayAndTheButtonStillLoads) {
    SetUpGadget("demo:10", "AuctionsRefreshTime=1\r\n");
    Clock.SetUTC(Utc("2030-01-02T18:00:00Z")); // 10:00 in California
    TInProcessHost host(Dir->Dir().Path());
    ASSERT_TRUE(host.Init());
    ASSERT_TRUE(host.Stream->Await("schedule").is_object()) << "the host has seen the control";
    Sandbox->Fault({{"kind", "calllimit"}, {"call", "GetMyeBayBuying"}});

    Pass(65 * Second);
    ASSERT_TRUE(
        HasState(host.Stream->Await("load", [](const json& d) { return HasState(d, "started"); }), "started"))
        << host.Stream->Text();
    const json failed = host.Stream->Await("load");
    ASSERT_TRUE(HasState(failed, "finished"));
    EXPECT_EQ(failed["succeeded"], false) << "the page shows no \"Updated\" for it";
    const json limit = host.Stream->Await("schedule", [](const json& d) { return d["mode"] == "limit"; });
    ASSERT_TRUE(limit.is_object()) << host.Stream->Text();
    EXPECT_EQ(limit["next"], "2030-01-03T08:00:00Z");
    EXPECT_EQ(limit["text"].get<std::string>().rfind("eBay call limit: resumes ", 0), 0u) << limit;
    EXPECT_NE(limit["detail"].get<std::string>().find("The refresh button still loads."), std::string::npos);
    EXPECT_NE(Result().find("Call usage limit has been reached."), std::string::npos) << Result();
    EXPECT_NE(ReadTextFile(Dir->File("KovaGadget.ini")).find("LimitDay=2030-01-02"), std::string::npos);

    const int asked = WatchListRequests(*Sandbox);
    Pass(3 * Minute);
    EXPECT_EQ(WatchListRequests(*Sandbox), asked) << "no automatic refresh under the limit";

    // The refresh button still loads, and its list replaces the message.
    host.Call("LoadWatchlist");
    ASSERT_TRUE(host.AwaitIdle());
    EXPECT_EQ(WatchListRequests(*Sandbox), asked + 1);
    EXPECT_NE(Result().find("id=\"result0\""), std::string::npos);
    EXPECT_EQ(Result().find("Call usage limit"), std::string::npos);
    EXPECT_EQ(host.Send("GET", "/api/schedule").second["mode"], "limit");

    // eBay's next day lifts the stop.
    Clock.SetUTC(Utc("2030-01-03T08:00:30Z"));
    EXPECT_TRUE(
        HasState(host.Stream->Await("load", [](const json& d) { return HasState(d, "started"); }), "started"))
        << host.Stream->Text();
    EXPECT_EQ(host.Send("GET", "/api/schedule").second["mode"], "interval");
}

TEST_F(RefreshHostTest, TheDaysCallsAreKeptAcrossARestartAndSpreadTheRefreshesOverTheRestOfTheDay) {
    // Four pages a load and the start's GetUser; 35 calls left of 40 a day make seven more loads (as many
    // calls as the last) for the 14 hours left.
    SetUpGadget("big:310", "AuctionsRefreshTime=1\r\nAuctionsCallBudget=40\r\n");
    Clock.SetUTC(Utc("2030-01-02T18:00:00Z"));
    {
        TInProcessHost host(Dir->Dir().Path());
        ASSERT_TRUE(host.Init());
        host.Call("LoadWatchlist");
        ASSERT_TRUE(host.AwaitIdle());
        const json slowed = host.Stream->Await(
            "schedule", [](const json& d) { return d["text"] == "every 120 min (call budget)"; });
        ASSERT_TRUE(slowed.is_object()) << host.Stream->Text();
        EXPECT_EQ(slowed["mode"], "slowed");
        EXPECT_EQ(slowed["callsToday"], 5);
        EXPECT_EQ(slowed["detail"],
                  "Refreshes every 120 min to stay within 40 eBay calls a day (5 used today).");
        const std::string ini = ReadTextFile(Dir->File("KovaGadget.ini"));
        EXPECT_NE(ini.find("[CallBudget]"), std::string::npos) << ini;
        EXPECT_NE(ini.find("Day=2030-01-02"), std::string::npos) << ini;
        EXPECT_NE(ini.find("Calls=5"), std::string::npos) << ini;
        Pass(2 * Minute);
        EXPECT_EQ(WatchListRequests(*Sandbox), 4) << "nothing before the spread-out moment";
    }
    TInProcessHost again(Dir->Dir().Path());
    ASSERT_TRUE(again.Init());
    const json kept = again.Stream->Await("schedule", [](const json& d) { return d["mode"] != "off"; });
    ASSERT_TRUE(kept.is_object());
    EXPECT_EQ(kept["callsToday"], 5);
    EXPECT_EQ(kept["mode"], "slowed") << "the day's calls shape the pace after a restart too";
}

TEST_F(RefreshHostTest, AfterASleepDueRemindersAreGivenThoseOfEndedItemsDroppedAndTheListRefreshedOnce) {
    SetUpGadget("demo:3", "AuctionsRefreshTime=60\r\n");
    const TDateTime end = Utc("2030-01-02T18:00:00Z");
    // "A" runs past the sleep, its reminder due in it; "B" ends in it, its reminder due in it too.
    WriteReminderItems(Dir->File("watchlist.dat"),
                       {{"A", end, 2, false}, {"B", end - 20 * Minute, 1, false}});
    Clock.SetUTC(end - 30 * Minute);
    TInProcessHost host(Dir->Dir().Path());
    ASSERT_TRUE(host.Init());
    ASSERT_TRUE(host.Stream->Await("schedule").is_object());
    EXPECT_FALSE(host.Saw("reminder"));

    Clock.SetUTC(end - 10 * Minute);
    const json reminder = host.Stream->Await("reminder");
    ASSERT_TRUE(reminder.is_object());
    EXPECT_EQ(reminder["itemId"], "A");
    EXPECT_TRUE(host.Stream->Await("listchanged").is_object());
    ASSERT_TRUE(HasState(host.Stream->Await("load", [](const json& d) { return HasState(d, "started"); }),
                         "started"));
    const json finished = host.Stream->Await("load");
    ASSERT_TRUE(HasState(finished, "finished"));
    EXPECT_EQ(finished["succeeded"], true);
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    const std::string text = host.Stream->Text();
    EXPECT_EQ(text.find("event: reminder"), text.rfind("event: reminder")) << "B's is dropped";
    EXPECT_EQ(WatchListRequests(*Sandbox), 1) << "one refresh";
    EXPECT_NE(Result().find("id=\"result0\""), std::string::npos);
}

} // namespace
