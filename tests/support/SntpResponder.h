#pragma once
// A UDP time server on loopback for SNTP tests: answers each request on its own thread as the test says.

#include "base/UnitDateTime.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

class TSntpResponder {
public:
    using TPacket = std::array<uint8_t, 48>;
    // Turns a request into the datagrams to send back (none: stay silent).
    using TAnswer = std::function<std::vector<std::vector<uint8_t>>(const TPacket& request)>;

    explicit TSntpResponder(TAnswer answer);
    ~TSntpResponder();
    TSntpResponder(const TSntpResponder&) = delete;
    TSntpResponder& operator=(const TSntpResponder&) = delete;

    // "127.0.0.1:port"
    std::string Address() const;
    int Requests() const { return FRequests.load(); }

    // A proper server reply to request telling serverUtc as receive and transmit time.
    static std::vector<uint8_t> Reply(const TPacket& request, TDateTime serverUtc, int stratum = 2,
                                      int leap = 0);
    // Answers every request with Reply(request, serverUtc).
    static TAnswer Always(TDateTime serverUtc);
    static TAnswer Silent();

private:
    void Run();

    int FSocket = -1;
    uint16_t FPort = 0;
    TAnswer FAnswer;
    std::atomic<bool> FStop{false};
    std::atomic<int> FRequests{0};
    std::thread FThread;
};

// A loopback address where nothing listens, so that a query fails at once.
std::string RefusedSntpAddress();
