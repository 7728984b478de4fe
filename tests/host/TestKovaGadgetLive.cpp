// ctest-labels: threaded
#include "support/GadgetTestDirectory.h"
#include "support/InProcessHost.h"
#include "support/NotificationListener.h"
#include "support/SandboxProcess.h"
#include "time/UnitIsoTime.h"
#include "time/UnitTimeUtils.h"

#include <gtest/gtest.h>
#include <httplib.h>
#include <map>
#include <nlohmann/json.hpp>
#include <regex>
#include <sys/stat.h>
#include <thread>

namespace {

using json = nlohmann::json;

constexpr const char* User = "demo";

// The item ids of the rows of "result.txt", in their order.
std::vector<std::string> Rows(const std::string& resultFile) {
    const std::string text = ReadTextFile(resultFile);
    const std::regex link(R"(onOpenDetails\('([^']+)'\))");
    std::vector<std::string> ids;
    for (auto it = std::sregex_iterator(text.begin(), text.end(), link); it != std::sregex_iterator(); ++it)
        ids.push_back((*it)[1]);
    return ids;
}

std::vector<std::string> ItemIds(const json& items) {
    std::vector<std::string> ids;
    for (const json& item : items["items"])
        ids.push_back(item["itemId"]);
    return ids;
}

// The data of every event of that name the stream carried, in order.
std::vector<json> EventsNamed(const std::string& text, const std::string& name) {
    std::vector<json> events;
    const std::string head = "event: " + name + "\ndata: ";
    for (size_t at = text.find(head); at != std::string::npos; at = text.find(head, at + 1)) {
        const size_t start = at + head.size();
        events.push_back(json::parse(text.substr(start, text.find('\n', start) - start), nullptr, false));
    }
    return events;
}

size_t Count(const std::string& text, const std::string& what) {
    size_t count = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++count;
    return count;
}

class LiveHostTest : public ::testing::Test {
protected:
    LiveHostTest() {
        setenv("KOVA_EXTRA_CA_FILE", Sandbox.CAPath().c_str(), 1);
        Dir.SaveLogInData(User, "secret", Sandbox.Token(User));
    }

    // Loads the list and waits until the tick after the load has given its notices.
    void Load(TInProcessHost& host) {
        host.Call("LoadWatchlist");
        ASSERT_TRUE(host.AwaitIdle());
        ASSERT_TRUE(host.Stream->Await("load", [](const json& data) { return data["state"] == "finished"; })
                        .is_object());
        // A call after the tick that sent the load's event: the notices of that tick are out before it.
        host.Send("GET", "/api/view");
    }

    TSandboxProcess Sandbox{{std::string(User) + ":12"}};
    TGadgetTestDirectory Dir{SandboxGadget(Sandbox)};
};

TEST_F(LiveHostTest, TheChosenOrderAndFilterShapeThePagesAndTheOrderIsKept) {
    // Six titles that hold both words, in any case and order; the other six do not.
    for (const int index : {1, 4, 6, 7, 9, 11})
        Sandbox.Control("/sandbox/item",
                        {{"username", User},
                         {"index", index},
                         {"title", index % 2 ? "Zebra lamp " + std::to_string(index)
                                             : "LAMP with a zebra " + std::to_string(index)}});
    {
        TInProcessHost host(Dir.Dir().Path());
        ASSERT_TRUE(host.Init());
        EXPECT_EQ(host.Send("GET", "/api/view").second, json({{"sort", "ending"}, {"filter", ""}}));
        // The page's clock is the gadget's exact time: a computer clock a minute fast does not move it.
        GetExactTime().SetClockError(60000);
        TDateTime now = 0;
        ASSERT_TRUE(TryReadIsoUTC(host.Send("GET", "/api/items").second["now"].get<std::string>(), now));
        GetExactTime().SetClockError(0);
        EXPECT_NEAR((NowUTC() - now) * 86400, 60, 2);
        Load(host);
        for (const char* word : {"ebay", "price", "price-desc", "bids", "reminders", "ending", "title"}) {
            SCOPED_TRACE(word);
            const auto [status, view] = host.Send("PUT", "/api/view", {{"sort", word}});
            ASSERT_EQ(status, 200) << view.dump();
            EXPECT_EQ(view, json({{"sort", word}, {"filter", ""}}));
            EXPECT_TRUE(host.Stream->Await("view").is_object());
            const auto ids = ItemIds(host.Send("GET", "/api/items").second);
            ASSERT_EQ(ids.size(), 12u);
            EXPECT_EQ(Rows(Dir.File("result.txt")), std::vector<std::string>(ids.begin(), ids.begin() + 5))
                << "the first page follows the order";
        }
        // Ending order: the running auctions first, by end time.
        host.Send("PUT", "/api/view", {{"sort", "ending"}});
        const json items = host.Send("GET", "/api/items").second;
        for (size_t i = 1; i < items["items"].size(); ++i) {
            const json &a = items["items"][i - 1], &b = items["items"][i];
            EXPECT_TRUE(a["ended"] < b["ended"] || (a["ended"] == b["ended"] && a["endTime"] <= b["endTime"]))
                << a.dump() << " before " << b.dump();
        }
        host.Send("PUT", "/api/view", {{"sort", "title"}});

        const auto [status, filtered] = host.Send("PUT", "/api/view", {{"filter", "zebra LAMP"}});
        ASSERT_EQ(status, 200);
        EXPECT_EQ(filtered, json({{"sort", "title"}, {"filter", "zebra LAMP"}}));
        const auto matches = ItemIds(host.Send("GET", "/api/items").second);
        ASSERT_EQ(matches.size(), 6u);
        EXPECT_EQ(Rows(Dir.File("result.txt")),
                  std::vector<std::string>(matches.begin(), matches.begin() + 5));
        host.Call("NextPage");
        EXPECT_EQ(Rows(Dir.File("result.txt")), std::vector<std::string>{matches[5]})
            << "page 2 of the matches";
        EXPECT_NE(ReadTextFile(Dir.File("result.txt")).find("<div id=pageNumber>\r\n2/2\r\n"),
                  std::string::npos);

        const struct {
            json Body;
            const char* Error;
        } refused[] = {
            {{{"sort", "newest"}},
             "unknown sort order \"newest\": use one of ending, price, price-desc, bids, "
             "title, reminders, ebay"},
            {{{"sort", "Price"}}, "unknown sort order"},
            {{{"sort", 3}}, "\"sort\" must be one of"},
            {{{"filter", json::array()}}, "\"filter\" must be a text"},
            {{{"filter", std::string(1001, 'a')}}, "longer than 1000"},
            {{{"sort", "price"}, {"page", 2}}, "unknown key \"page\""},
            {json::array(), "must be a JSON object"},
        };
        for (const auto& c : refused) {
            const auto [code, body] = host.Send("PUT", "/api/view", c.Body);
            EXPECT_EQ(code, 400) << c.Body.dump();
            EXPECT_NE(body.value("error", "").find(c.Error), std::string::npos) << body.dump();
        }
        EXPECT_EQ(host.Send("GET", "/api/view").second, json({{"sort", "title"}, {"filter", "zebra LAMP"}}))
            << "a refused change changes nothing";
        // Without the secret nothing is told or changed.
        httplib::Client client("127.0.0.1", host.Server.Port());
        EXPECT_EQ(client.Get("/api/items")->status, 403);
        EXPECT_EQ(client.Put("/api/view", R"({"sort":"ebay"})", "application/json")->status, 403);
    }
    EXPECT_NE(ReadTextFile(Dir.File("KovaGadget.ini")).find("AuctionsSortOrder=title"), std::string::npos);
    // The next start keeps the order, not the filter.
    TInProcessHost again(Dir.Dir().Path());
    ASSERT_TRUE(again.Init());
    EXPECT_EQ(again.Send("GET", "/api/view").second, json({{"sort", "title"}, {"filter", ""}}));
    const auto ids = ItemIds(again.Send("GET", "/api/items").second);
    ASSERT_EQ(ids.size(), 12u);
    Load(again);
    EXPECT_EQ(Rows(Dir.File("result.txt")), std::vector<std::string>(ids.begin(), ids.begin() + 5));
}

TEST_F(LiveHostTest, AnOutbidAndEachEndAreToldOnceAlsoAfterARestart) {
    TSessionBus bus;
    TNotificationListener listener(bus.Address());
    setenv("DBUS_SESSION_BUS_ADDRESS", bus.Address().c_str(), 1);
    {
        TInProcessHost host(Dir.Dir().Path());
        ASSERT_TRUE(host.Init());
        // In eBay's order the rows are the sandbox's items by index.
        host.Send("PUT", "/api/view", {{"sort", "ebay"}});
        Load(host);
        // Three running listings: two auctions (they have bids), one the user will lead and one the user will
        // win, and one the user will lose.
        const json first = host.Send("GET", "/api/items").second;
        int lead = -1, won = -1, lost = -1;
        for (int i = 0; i < static_cast<int>(first["items"].size()); ++i) {
            const json& item = first["items"][i];
            if (item["ended"]) continue;
            if (item["bids"] > 0 && lead < 0)
                lead = i;
            else if (item["bids"] > 0 && won < 0)
                won = i;
            else if (!item["highBidder"] && lost < 0)
                lost = i;
        }
        ASSERT_TRUE(lead >= 0 && won >= 0 && lost >= 0) << first.dump();
        for (const int index : {lead, won})
            Sandbox.Control(
                "/sandbox/item",
                {{"username", User}, {"index", index}, {"highBidder", User}, {"endsInSeconds", 3600}});
        Sandbox.Control("/sandbox/item", {{"username", User}, {"index", lost}, {"endsInSeconds", 3600}});
        Load(host);
        const json before = host.Send("GET", "/api/items").second;
        ASSERT_EQ(before["items"].size(), 12u);
        const json leading = before["items"][lead];
        EXPECT_TRUE(leading["highBidder"]);
        EXPECT_FALSE(host.Saw("outbid") || host.Saw("ended")) << "nobody was outbid, nothing ended";

        const json outbid = Sandbox.Control("/sandbox/outbid", {{"username", User}, {"index", lead}});
        EXPECT_EQ(outbid["highBidder"], "rival_bidder");
        EXPECT_EQ(outbid["bids"], leading["bids"].get<int>() + 1);
        Sandbox.Control("/sandbox/item", {{"username", User}, {"index", won}, {"endsInSeconds", -5}});
        Sandbox.Control("/sandbox/item", {{"username", User}, {"index", lost}, {"endsInSeconds", -5}});
        Load(host);
        ASSERT_TRUE(listener.AwaitCount(3));
        const json after = host.Send("GET", "/api/items").second;
        const json outbidItem = after["items"][lead];
        EXPECT_FALSE(outbidItem["highBidder"]);
        EXPECT_EQ(outbidItem["changed"], json({"price", "bids"}));
        EXPECT_EQ(outbidItem["pricePrevious"], leading["price"]);
        EXPECT_TRUE(after["items"][lost]["ended"]);

        const std::vector<json> outbids = EventsNamed(host.Stream->Text(), "outbid");
        ASSERT_EQ(outbids.size(), 1u);
        const json& event = outbids[0];
        EXPECT_EQ(event["itemId"], leading["itemId"]);
        EXPECT_EQ(event["title"], leading["title"]);
        EXPECT_EQ(event["price"], outbidItem["price"]);
        EXPECT_FALSE(event["timeLeft"].get<std::string>().empty());
        EXPECT_EQ(event["url"].get<std::string>().rfind("https://", 0), 0u);
        EXPECT_EQ(event["notified"], true);
        std::map<std::string, json> ended;
        for (const json& e : EventsNamed(host.Stream->Text(), "ended"))
            ended[e["itemId"]] = e;
        ASSERT_EQ(ended.size(), 2u);
        EXPECT_EQ(ended.at(after["items"][won]["itemId"])["won"], true);
        EXPECT_EQ(ended.at(after["items"][lost]["itemId"])["won"], false) << after["items"][lost].dump();
        std::map<std::string, std::string> summaries;
        for (const auto& note : listener.Notes()) {
            summaries[note.Summary] = note.Body;
            EXPECT_EQ(note.Actions, (std::vector<std::string>{"default", "Open"}));
        }
        EXPECT_EQ(summaries.count("Outbid: " + leading["title"].get<std::string>()), 1u);
        EXPECT_EQ(summaries.count("Won: " + after["items"][won]["title"].get<std::string>()), 1u);
        EXPECT_EQ(summaries.count("Ended: " + after["items"][lost]["title"].get<std::string>()), 1u);
        EXPECT_NE(summaries["Outbid: " + leading["title"].get<std::string>()].find(
                      event["timeLeft"].get<std::string>()),
                  std::string::npos);

        Load(host);
        const std::string text = host.Stream->Text();
        EXPECT_EQ(Count(text, "event: outbid\n"), 1u);
        EXPECT_EQ(Count(text, "event: ended\n"), 2u);
    }
    TInProcessHost again(Dir.Dir().Path());
    ASSERT_TRUE(again.Init());
    Load(again);
    EXPECT_FALSE(again.Saw("outbid") || again.Saw("ended")) << "nothing is told twice";
    EXPECT_EQ(listener.Notes().size(), 3u);
    struct stat info {};
    ASSERT_EQ(::stat(Dir.File("KovaNotices.dat").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    unsetenv("DBUS_SESSION_BUS_ADDRESS");
}

} // namespace
