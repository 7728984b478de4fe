#include "TinyProxy.h"

#include "KovaTestSupport.h"

#include <arpa/inet.h>
#include <chrono>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr const char* TinyProxyPath = "/usr/bin/tinyproxy";

sockaddr_in LoopbackAddress(int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

} // namespace

int FindFreeLoopbackPort() {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) throw std::runtime_error("socket failed");
    sockaddr_in address = LoopbackAddress(0);
    socklen_t length = sizeof(address);
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        close(fd);
        throw std::runtime_error("no free loopback port");
    }
    close(fd);
    return ntohs(address.sin_port);
}

bool LoopbackPortAccepts(int port) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) return false;
    sockaddr_in address = LoopbackAddress(port);
    bool ok = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
    close(fd);
    return ok;
}

TTinyProxy::TTinyProxy(const std::string& userName, const std::string& password)
    : FDir(std::make_unique<TTempDir>()) {
    FPort = FindFreeLoopbackPort();
    std::string config = "Port " + std::to_string(FPort) +
                         "\nListen 127.0.0.1\nTimeout 30\nMaxClients 20\nAllow 127.0.0.1\n"
                         "DisableViaHeader Yes\nLogLevel Info\nLogFile \"" +
                         FDir->File("tinyproxy.log") + "\"\n";
    if (!userName.empty()) config += "BasicAuth " + userName + " " + password + "\n";
    std::string configPath = FDir->Write("tinyproxy.conf", config);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    const char* argv[] = {TinyProxyPath, "-d", "-c", configPath.c_str(), nullptr};
    int rc = posix_spawn(&FPid, TinyProxyPath, &actions, nullptr, const_cast<char* const*>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) throw std::runtime_error("tinyproxy could not be started");

    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!LoopbackPortAccepts(FPort)) {
        int status = 0;
        if (waitpid(FPid, &status, WNOHANG) == FPid) {
            FPid = -1;
            throw std::runtime_error("tinyproxy ended at once: " + LogText());
        }
        if (std::chrono::steady_clock::now() > deadline) {
            kill(FPid, SIGKILL);
            waitpid(FPid, &status, 0);
            FPid = -1;
            throw std::runtime_error("tinyproxy did not open its port");
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

TTinyProxy::~TTinyProxy() {
    if (FPid <= 0) return;
    kill(FPid, SIGTERM);
    int status = 0;
    for (int i = 0; i < 100; ++i) {
        if (waitpid(FPid, &status, WNOHANG) == FPid) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    kill(FPid, SIGKILL);
    waitpid(FPid, &status, 0);
}

std::string TTinyProxy::LogText() const {
    return ReadTextFile(FDir->File("tinyproxy.log"));
}
