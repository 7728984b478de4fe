#pragma once
// A cpp-httplib server (plain or TLS) on a free loopback port, served on its own thread for a test's
// lifetime. The build defines CPPHTTPLIB_OPENSSL_SUPPORT as the installed library was built with it.

#include <chrono>
#include <httplib.h>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>

template <class TServer> class TLoopbackServerOf {
public:
    template <class... TArgs>
    explicit TLoopbackServerOf(TArgs&&... args) : Server(std::forward<TArgs>(args)...) {}
    ~TLoopbackServerOf() { Stop(); }

    // Call after the handlers are registered.
    void Start() {
        if (!Server.is_valid()) throw std::runtime_error("server could not be set up");
        FPort = Server.bind_to_any_port("127.0.0.1");
        if (FPort <= 0) throw std::runtime_error("no loopback port");
        FThread = std::thread([this] { Server.listen_after_bind(); });
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (!Server.is_running() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    void Stop() {
        if (!FThread.joinable()) return;
        Server.stop();
        FThread.join();
    }
    int Port() const { return FPort; }
    std::string URL(const std::string& path, const std::string& host = "127.0.0.1") const {
        return std::string(std::is_same_v<TServer, httplib::SSLServer> ? "https" : "http") + "://" + host +
               ":" + std::to_string(FPort) + path;
    }

    TServer Server;

private:
    std::thread FThread;
    int FPort = 0;
};

using TLoopbackServer = TLoopbackServerOf<httplib::Server>;
using TLoopbackTLSServer = TLoopbackServerOf<httplib::SSLServer>;
