#include "SntpResponder.h"

#include "platform/UnitPlatformSntp.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int BoundLoopbackSocket(uint16_t& port) {
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) throw std::runtime_error("socket failed");
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        close(fd);
        throw std::runtime_error("bind failed");
    }
    port = ntohs(address.sin_port);
    return fd;
}

void PutU64(uint8_t* p, uint64_t v) {
    for (int k = 7; k >= 0; --k) {
        p[k] = static_cast<uint8_t>(v);
        v >>= 8;
    }
}

} // namespace

TSntpResponder::TSntpResponder(TAnswer answer) : FAnswer(std::move(answer)) {
    FSocket = BoundLoopbackSocket(FPort);
    FThread = std::thread([this] { Run(); });
}

TSntpResponder::~TSntpResponder() {
    FStop = true;
    FThread.join();
    close(FSocket);
}

std::string TSntpResponder::Address() const {
    return "127.0.0.1:" + std::to_string(FPort);
}

void TSntpResponder::Run() {
    while (!FStop) {
        pollfd pfd{FSocket, POLLIN, 0};
        if (poll(&pfd, 1, 20) <= 0) continue;
        TPacket request{};
        sockaddr_in peer{};
        socklen_t length = sizeof peer;
        const ssize_t size =
            recvfrom(FSocket, request.data(), request.size(), 0, reinterpret_cast<sockaddr*>(&peer), &length);
        if (size != static_cast<ssize_t>(request.size())) continue;
        ++FRequests;
        for (const auto& datagram : FAnswer(request))
            sendto(FSocket, datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr*>(&peer), length);
    }
}

std::vector<uint8_t> TSntpResponder::Reply(const TPacket& request, TDateTime serverUtc, int stratum,
                                           int leap) {
    std::vector<uint8_t> reply(48, 0);
    reply[0] = static_cast<uint8_t>(leap << 6 | 4 << 3 | 4);
    reply[1] = static_cast<uint8_t>(stratum);
    std::copy(request.begin() + 40, request.begin() + 48, reply.begin() + 24);
    const uint64_t now = DateTimeToNtpTimestamp(serverUtc);
    PutU64(reply.data() + 16, now);
    PutU64(reply.data() + 32, now);
    PutU64(reply.data() + 40, now);
    return reply;
}

TSntpResponder::TAnswer TSntpResponder::Always(TDateTime serverUtc) {
    return [serverUtc](const TPacket& request) {
        return std::vector<std::vector<uint8_t>>{Reply(request, serverUtc)};
    };
}

TSntpResponder::TAnswer TSntpResponder::Silent() {
    return [](const TPacket&) { return std::vector<std::vector<uint8_t>>{}; };
}

std::string RefusedSntpAddress() {
    uint16_t port;
    const int fd = BoundLoopbackSocket(port);
    close(fd);
    return "127.0.0.1:" + std::to_string(port);
}
