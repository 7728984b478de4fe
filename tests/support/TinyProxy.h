#pragma once
// A real HTTP proxy for tests: tinyproxy started in the foreground on a free loopback port, with Basic
// authentication when a user name is given, and stopped when the object goes.

#include <memory>
#include <string>
#include <sys/types.h>

class TTempDir;

class TTinyProxy {
public:
    // Starts the proxy and waits until it accepts connections; raises std::runtime_error when it cannot.
    explicit TTinyProxy(const std::string& userName = "", const std::string& password = "");
    ~TTinyProxy();
    TTinyProxy(const TTinyProxy&) = delete;
    TTinyProxy& operator=(const TTinyProxy&) = delete;

    int Port() const { return FPort; }
    // What tinyproxy wrote to its log so far.
    std::string LogText() const;

private:
    std::unique_ptr<TTempDir> FDir;
    pid_t FPid = -1;
    int FPort = 0;
};

// A port on 127.0.0.1 that nothing listens on at the moment of the call.
int FindFreeLoopbackPort();
// True when something accepts a TCP connection on 127.0.0.1:port.
bool LoopbackPortAccepts(int port);
