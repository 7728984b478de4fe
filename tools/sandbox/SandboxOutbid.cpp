#include "SandboxOutbid.h"

#include "SandboxService.h"
#include "base/UnitUtils.h"
#include "platform/UnitPlatformClock.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <httplib.h>
#include <stdexcept>

namespace {

struct TBidStep {
    double Below;
    double Step;
};

// eBay's bid increments by the current price.
constexpr TBidStep BidSteps[] = {{1, 0.05}, {5, 0.25}, {25, 0.5}, {100, 1}, {250, 2.5}, {500, 5}, {1000, 10}};

int ParseInt(const std::string& text, int low, int high, const char* what) {
    int value = 0;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || result.ec != std::errc() || result.ptr != text.data() + text.size() || value < low ||
        value > high)
        throw std::invalid_argument(std::string(what) + " expects a number from " + std::to_string(low) +
                                    " to " + std::to_string(high) + ", not \"" + text + "\"");
    return value;
}

void Answer(httplib::Response& res, int status, const nlohmann::json& body) {
    res.status = status;
    res.set_content(body.dump(), "application/json");
}

TSandboxOutbid ParseBody(const std::string& text) {
    const nlohmann::json value = nlohmann::json::parse(text, nullptr, false);
    if (value.is_discarded() || !value.is_object())
        throw std::invalid_argument("the body must be a JSON object");
    TSandboxOutbid outbid;
    if (!value.contains("username") || !value["username"].is_string() ||
        value["username"].get<std::string>().empty())
        throw std::invalid_argument("\"username\" must be a non-empty string");
    outbid.UserName = value["username"].get<std::string>();
    if (!value.contains("index") || !value["index"].is_number_integer())
        throw std::invalid_argument("\"index\" must be the position of an item in the watch list");
    outbid.Index = value["index"].get<int>();
    if (value.contains("bidder")) {
        if (!value["bidder"].is_string() || value["bidder"].get<std::string>().empty())
            throw std::invalid_argument("\"bidder\" must be a non-empty string");
        outbid.Bidder = value["bidder"].get<std::string>();
    }
    return outbid;
}

} // namespace

double SandboxNextBid(double price) {
    const auto step = std::find_if(std::begin(BidSteps), std::end(BidSteps),
                                   [price](const TBidStep& s) { return price < s.Below; });
    return std::round((price + (step == std::end(BidSteps) ? 25 : step->Step)) * 100) / 100;
}

TSandboxOutbid ParseSandboxOutbidOption(const std::string& text) {
    const size_t last = text.rfind(':');
    const size_t middle =
        last == std::string::npos || last == 0 ? std::string::npos : text.rfind(':', last - 1);
    if (middle == std::string::npos || middle == 0)
        throw std::invalid_argument("--item-outbid expects NAME:INDEX:SECONDS, not \"" + text + "\"");
    TSandboxOutbid outbid;
    outbid.UserName = text.substr(0, middle);
    outbid.Index = ParseInt(text.substr(middle + 1, last - middle - 1), 0, 399, "--item-outbid");
    outbid.AfterSeconds = ParseInt(text.substr(last + 1), 0, 31536000, "--item-outbid");
    return outbid;
}

nlohmann::json TSandboxService::Outbid(const TSandboxOutbid& outbid) {
    const auto account =
        std::find_if(FAccounts.begin(), FAccounts.end(),
                     [&outbid](const TSandboxAccount& a) { return SameText(a.UserName, outbid.UserName); });
    if (account == FAccounts.end()) return nullptr;
    std::unique_lock items(FItemsLock);
    std::vector<TSandboxItem>& list = account->WatchList;
    if (outbid.Index < 0 || static_cast<size_t>(outbid.Index) >= list.size())
        throw std::invalid_argument("\"index\" must be the position of an item in the watch list (0 to " +
                                    std::to_string(static_cast<long>(list.size()) - 1) + ")");
    TSandboxItem& item = list[static_cast<size_t>(outbid.Index)];
    if (item.ListingType != "Chinese")
        throw std::invalid_argument("the item is no auction: nobody bids on it");
    if (item.EndTime <= NowUTC()) throw std::invalid_argument("the auction has ended");
    if (SameText(item.HighBidder, outbid.Bidder))
        throw std::invalid_argument("\"" + outbid.Bidder + "\" is the high bidder already");
    item.CurrentPrice = item.BidCount == 0 ? item.CurrentPrice : SandboxNextBid(item.CurrentPrice);
    item.BidCount += 1;
    item.HighBidder = outbid.Bidder;
    return {{"itemId", item.ItemID},
            {"price", item.CurrentPrice},
            {"bids", item.BidCount},
            {"highBidder", item.HighBidder}};
}

void RegisterSandboxOutbidRoutes(httplib::SSLServer& server, TSandboxService& service) {
    server.Post("/sandbox/outbid", [&service](const httplib::Request& req, httplib::Response& res) {
        try {
            const TSandboxOutbid outbid = ParseBody(req.body);
            nlohmann::json state = service.Outbid(outbid);
            if (state.is_null())
                return Answer(res, 404, {{"error", "no account \"" + outbid.UserName + "\""}});
            Answer(res, 200, state);
        } catch (const std::invalid_argument& e) {
            Answer(res, 400, {{"error", e.what()}});
        }
    });
}

TSandboxOutbidTimer::TSandboxOutbidTimer(TSandboxService& service, std::vector<TSandboxOutbid> outbids,
                                         TDateTime start) {
    if (outbids.empty()) return;
    std::stable_sort(outbids.begin(), outbids.end(), [](const TSandboxOutbid& a, const TSandboxOutbid& b) {
        return a.AfterSeconds < b.AfterSeconds;
    });
    FThread = std::thread([this, &service, outbids = std::move(outbids), start] {
        std::unique_lock lock(FLock);
        for (const TSandboxOutbid& outbid : outbids) {
            const double waitMs = (start + outbid.AfterSeconds / 86400.0 - NowUTC()) * 86400000.0;
            if (FWake.wait_for(lock, std::chrono::milliseconds(static_cast<long long>(std::max(0.0, waitMs))),
                               [this] { return FStop; }))
                return;
            try {
                service.Outbid(outbid);
            } catch (const std::invalid_argument& e) {
                std::fprintf(stderr, "kova-sandbox: --item-outbid %s:%d: %s\n", outbid.UserName.c_str(),
                             outbid.Index, e.what());
            }
        }
    });
}

TSandboxOutbidTimer::~TSandboxOutbidTimer() {
    {
        std::lock_guard lock(FLock);
        FStop = true;
    }
    FWake.notify_all();
    if (FThread.joinable()) FThread.join();
}
