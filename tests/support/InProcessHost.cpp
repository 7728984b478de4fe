#include "InProcessHost.h"

#include "items/UnitResultLst.h"
#include "platform/UnitPlatformMainThread.h"
#include "watchlist/UnitKovaReminders.h"

#include <chrono>
#include <httplib.h>

using json = nlohmann::json;

TInProcessHost::TInProcessHost(const std::string& dir)
    : Server({0, dir, /*pageOpensUrls*/ true, 32, 5000}), FMain([this] { Server.Run(); }),
      Stream(std::make_unique<TEventStreamClient>(Server.Port(), Server.Secret())) {
}

TInProcessHost::~TInProcessHost() {
    Stream.reset();
    Server.RequestStop();
    FMain.join();
    SetMainThread();
}

std::pair<int, json> TInProcessHost::Send(const std::string& method, const std::string& path,
                                          const json& body) {
    httplib::Client client("127.0.0.1", Server.Port());
    client.set_read_timeout(30, 0);
    const httplib::Headers headers{{"X-Kova-Secret", Server.Secret()}};
    auto res = method == "GET"   ? client.Get(path.c_str(), headers)
               : method == "PUT" ? client.Put(path.c_str(), headers, body.dump(), "application/json")
                                 : client.Post(path.c_str(), headers, body.dump(), "application/json");
    if (!res) return {0, json()};
    return {res->status, json::parse(res->body, nullptr, false)};
}

bool TInProcessHost::Init() {
    return Send("POST", "/api/call", {{"member", "Init"}, {"kind", "method"}, {"args", {""}}}).first == 200;
}

json TInProcessHost::Call(const std::string& member, const std::string& kind) {
    return Send("POST", "/api/call", {{"member", member}, {"kind", kind}, {"args", json::array()}})
        .second.value("result", json());
}

bool TInProcessHost::AwaitIdle() {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < deadline) {
        if (Call("IsWorking", "get") == false) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

bool TInProcessHost::Saw(const std::string& event) {
    return Stream->Text().find("event: " + event + "\n") != std::string::npos;
}

void WriteReminderItems(const std::string& path,
                        const std::vector<std::tuple<std::string, double, int, bool>>& items) {
    TDetailsList list;
    for (const auto& [id, end, type, reminded] : items) {
        auto item = std::make_unique<TSearchResultAuctionDetails>();
        item->ArticleNumber = id;
        item->Description = "Lamp " + id;
        item->Link = "https://www.example/itm/" + id;
        item->PriceStandard = 12.5f;
        item->CurrencyID = 1;
        item->EndTime = end;
        item->RemindType = static_cast<TRemindType>(type);
        item->RemindTime = RemindTimeFor(end, type);
        item->Reminded = reminded;
        list.Add(std::move(item));
    }
    list.SaveToFile(path);
}
