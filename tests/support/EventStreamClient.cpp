#include "EventStreamClient.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sstream>
#include <sys/socket.h>
#include <unistd.h>

using json = nlohmann::json;

TEventStreamClient::TEventStreamClient(int port, const std::string& secret) {
    FSocket = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const std::string request =
        "GET /api/events?s=" + secret + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) + "\r\n\r\n";
    if (connect(FSocket, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        write(FSocket, request.data(), request.size()) != static_cast<ssize_t>(request.size()))
        ADD_FAILURE() << "the event stream could not be opened";
    FThread = std::thread([this] { Read(); });
    // The stream starts with the forms state: from then on no event can pass it by.
    std::unique_lock lock(FLock);
    if (!FChanged.wait_for(lock, std::chrono::seconds(20), [this] { return FBegun; }))
        ADD_FAILURE() << "the event stream did not begin";
}

TEventStreamClient::~TEventStreamClient() {
    FStopping = true;
    FThread.join();
    close(FSocket);
}

json TEventStreamClient::Await(const std::string& name, const std::function<bool(const json&)>& test) {
    std::unique_lock lock(FLock);
    json found;
    FChanged.wait_for(lock, std::chrono::seconds(20), [&] {
        for (; FNext < FEvents.size(); ++FNext)
            if (FEvents[FNext].first == name && (!test || test(FEvents[FNext].second))) {
                found = FEvents[FNext++].second;
                return true;
            }
        return false;
    });
    return found;
}

json TEventStreamClient::AwaitForms(const std::function<bool(const json&)>& test) {
    return Await("forms", [&](const json& data) { return test(data["forms"]); })["forms"];
}

std::string TEventStreamClient::Text() {
    std::lock_guard lock(FLock);
    return FText;
}

void TEventStreamClient::Read() {
    std::string raw, pending;
    bool headers = true;
    char buffer[4096];
    while (!FStopping) {
        pollfd waiting{FSocket, POLLIN, 0};
        if (poll(&waiting, 1, 50) <= 0) continue;
        const ssize_t got = read(FSocket, buffer, sizeof buffer);
        if (got <= 0) break;
        raw.append(buffer, static_cast<size_t>(got));
        if (headers) {
            const size_t end = raw.find("\r\n\r\n");
            if (end == std::string::npos) continue;
            raw.erase(0, end + 4);
            headers = false;
        }
        std::lock_guard lock(FLock);
        // The body comes in chunks: "SIZE\r\nDATA\r\n".
        for (size_t eol; (eol = raw.find("\r\n")) != std::string::npos;) {
            const size_t size = std::stoul(raw.substr(0, eol), nullptr, 16);
            if (raw.size() < eol + 2 + size + 2) break;
            FText += raw.substr(eol + 2, size);
            pending += raw.substr(eol + 2, size);
            raw.erase(0, eol + 2 + size + 2);
        }
        for (size_t end; (end = pending.find("\n\n")) != std::string::npos; pending.erase(0, end + 2)) {
            std::string name, data;
            std::stringstream block(pending.substr(0, end));
            for (std::string line; std::getline(block, line);) {
                if (line.rfind("event: ", 0) == 0) name = line.substr(7);
                if (line.rfind("data: ", 0) == 0) data = line.substr(6);
            }
            if (name.empty()) continue;
            FEvents.push_back({name, json::parse(data, nullptr, false)});
            FBegun = true;
        }
        FChanged.notify_all();
    }
}
