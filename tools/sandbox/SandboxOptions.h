#pragma once
// The command line of kova-sandbox.

#include "SandboxOutbid.h"
#include "SandboxService.h"

#include <cstdint>
#include <string>
#include <vector>

struct TSandboxOptions {
    std::string StateDir;
    int Port = 0; // 0: any free port
    std::vector<TSandboxAccountOption> Accounts;
    uint64_t Seed = 1;
    TSandboxAppKeys Keys = SandboxDefaultAppKeys();
    std::string RuName = SandboxDefaultRuName;
    int LatencyMs = 0; // added to every API answer
    int AccessTokenSeconds = TSandboxOAuth::DefaultAccessTokenSeconds;
    // --item-ends NAME:INDEX:SECONDS: that item of the account ends so many seconds after the start.
    std::vector<TSandboxItemChange> ItemEnds;
    // --item-outbid NAME:INDEX:SECONDS: another bidder outbids the user on that item so long after the start.
    std::vector<TSandboxOutbid> Outbids;
    // --high-bidder-ids on: HighBidder carries the accounts' immutable ids in place of their names.
    bool HighBidderIds = false;
    bool Help = false; // --help: print the usage and exit 0
};

constexpr const char* SandboxUsage =
    "usage: kova-sandbox --state-dir DIR [--port N] [--account NAME:COUNT]... [--seed S] "
    "[--app-keys DEV:APP:CERT] [--runame NAME] [--latency-ms N] [--access-token-seconds N]\n"
    "                    [--item-ends NAME:INDEX:SECONDS]... [--item-outbid NAME:INDEX:SECONDS]...\n"
    "                    [--high-bidder-ids on|off]\n"
    "       kova-sandbox --help";

// Parses the arguments after the program name; raises std::invalid_argument with the reason.
TSandboxOptions ParseSandboxOptions(const std::vector<std::string>& args);
