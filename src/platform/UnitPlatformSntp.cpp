#include "platform/UnitPlatformSntp.h"

#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>

#include "platform/UnitPlatformClock.h"

namespace {

constexpr size_t PacketSize = 48;
// 1900-01-01 as a date-time.
constexpr double NtpEpoch = 2.0;
// Seconds from 1900-01-01 to 2036-02-07 06:28:16, where the 32-bit seconds count wraps.
constexpr double NtpEraSeconds = 4294967296.0;

class TSocket {
public:
    explicit TSocket(int fd) : FFd(fd) {}
    ~TSocket() {
        if (FFd >= 0) close(FFd);
    }
    TSocket(const TSocket&) = delete;
    TSocket& operator=(const TSocket&) = delete;
    int Fd() const { return FFd; }

private:
    int FFd;
};

void SplitServer(const std::string& server, std::string& host, std::string& port) {
    const size_t colon = server.find(':');
    // One colon separates a port; more belong to an IPv6 address.
    if (colon != std::string::npos && server.find(':', colon + 1) == std::string::npos) {
        host = server.substr(0, colon);
        port = server.substr(colon + 1);
    } else {
        host = server;
        port = std::to_string(SntpDefaultPort);
    }
}

uint64_t ReadU64(const uint8_t* p) {
    uint64_t v = 0;
    for (int k = 0; k < 8; ++k) v = v << 8 | p[k];
    return v;
}

void WriteU64(uint8_t* p, uint64_t v) {
    for (int k = 7; k >= 0; --k) {
        p[k] = static_cast<uint8_t>(v);
        v >>= 8;
    }
}

// An answer is usable when it is a server reply to our request from a synchronised server.
bool UsableAnswer(const uint8_t* packet, size_t size, uint64_t sentTransmit) {
    if (size < PacketSize) return false;
    const int leap = packet[0] >> 6;
    const int version = packet[0] >> 3 & 7;
    const int mode = packet[0] & 7;
    const int stratum = packet[1];
    if (leap == 3 || version < 1 || version > 4 || mode != 4) return false;
    if (stratum == 0 || stratum > 15) return false;
    return ReadU64(packet + 24) == sentTransmit && ReadU64(packet + 40) != 0;
}

int64_t MillisecondsLeft(std::chrono::steady_clock::time_point deadline) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now())
        .count();
}

} // namespace

TDateTime NtpTimestampToDateTime(uint64_t timestamp) {
    double seconds = static_cast<double>(timestamp >> 32) + static_cast<double>(timestamp & 0xFFFFFFFFu) / 4294967296.0;
    if ((timestamp >> 63) == 0) seconds += NtpEraSeconds;
    return NtpEpoch + seconds / SecsPerDay;
}

uint64_t DateTimeToNtpTimestamp(TDateTime value) {
    double seconds = (value - NtpEpoch) * SecsPerDay;
    if (seconds >= NtpEraSeconds) seconds -= NtpEraSeconds;
    if (seconds < 0) seconds = 0;
    const double whole = std::floor(seconds);
    return static_cast<uint64_t>(whole) << 32 | static_cast<uint64_t>((seconds - whole) * 4294967296.0);
}

TDateTime SntpQueryUTC(const std::string& server, uint32_t timeoutMs) {
    std::string host, port;
    SplitServer(server, host, port);
    if (host.empty()) return 0;
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* addresses = nullptr;
    if (getaddrinfo(host.c_str(), port.c_str(), &hints, &addresses) != 0 || !addresses) return 0;
    TSocket socket(::socket(addresses->ai_family, addresses->ai_socktype | SOCK_CLOEXEC, addresses->ai_protocol));
    // Connecting the socket makes the kernel drop datagrams from any other sender.
    const bool connected = socket.Fd() >= 0 && connect(socket.Fd(), addresses->ai_addr, addresses->ai_addrlen) == 0;
    freeaddrinfo(addresses);
    if (!connected) return 0;

    uint8_t request[PacketSize] = {};
    request[0] = 0 << 6 | 4 << 3 | 3; // no leap warning, version 4, client
    const TDateTime sent = NowUTC();
    // The server echoes our transmit time as its originate time; that ties the answer to this request.
    const uint64_t sentTransmit = DateTimeToNtpTimestamp(sent) ^ (static_cast<uint64_t>(GetTickCount64()) & 0xFFFF);
    WriteU64(request + 40, sentTransmit);
    if (send(socket.Fd(), request, sizeof request, 0) != static_cast<ssize_t>(sizeof request)) return 0;

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const int64_t left = MillisecondsLeft(deadline);
        if (left <= 0) return 0;
        pollfd pfd{socket.Fd(), POLLIN, 0};
        const int ready = poll(&pfd, 1, static_cast<int>(left));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) return 0;
        uint8_t answer[512];
        const ssize_t size = recv(socket.Fd(), answer, sizeof answer, 0);
        if (size < 0) {
            // A refused port shows up here as ECONNREFUSED: no server will answer.
            if (errno == EINTR || errno == EAGAIN) continue;
            return 0;
        }
        const TDateTime received = NowUTC();
        if (!UsableAnswer(answer, static_cast<size_t>(size), sentTransmit)) continue;
        const TDateTime serverReceived = NtpTimestampToDateTime(ReadU64(answer + 32));
        const TDateTime serverTransmit = NtpTimestampToDateTime(ReadU64(answer + 40));
        const double offset = ((serverReceived - sent) + (serverTransmit - received)) / 2;
        return received + offset;
    }
}
