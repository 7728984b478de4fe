#pragma once
// Another bidder outbids the account's user on one item: a higher price, one more bid and a new high
// bidder, through POST /sandbox/outbid or, at a time after the start, through --item-outbid.

#include "base/UnitDateTime.h"

#include <condition_variable>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

class TSandboxService;
namespace httplib {
class SSLServer;
}

constexpr const char* SandboxDefaultOutbidder = "rival_bidder";

struct TSandboxOutbid {
    std::string UserName;
    int Index = 0; // in the order of the watch list
    std::string Bidder = SandboxDefaultOutbidder;
    int AfterSeconds = 0; // --item-outbid: seconds after the sandbox's start
};

// The next bid above a price, in eBay's steps for its size.
double SandboxNextBid(double price);

// --item-outbid NAME:INDEX:SECONDS; raises std::invalid_argument with the reason.
TSandboxOutbid ParseSandboxOutbidOption(const std::string& text);

// POST /sandbox/outbid {"username", "index", "bidder"}: answers the item's new state.
void RegisterSandboxOutbidRoutes(httplib::SSLServer& server, TSandboxService& service);

// Carries out the command line's outbids at their times, from a thread of its own, until destroyed.
class TSandboxOutbidTimer {
public:
    TSandboxOutbidTimer(TSandboxService& service, std::vector<TSandboxOutbid> outbids, TDateTime start);
    ~TSandboxOutbidTimer();
    TSandboxOutbidTimer(const TSandboxOutbidTimer&) = delete;
    TSandboxOutbidTimer& operator=(const TSandboxOutbidTimer&) = delete;

private:
    std::mutex FLock;
    std::condition_variable FWake;
    bool FStop = false;
    std::thread FThread;
};
