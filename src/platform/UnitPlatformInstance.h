#pragma once
// One program instance per folder: an exclusive lock on the folder itself, and a local socket in an
// owner-only folder over which a later start hands its request to the instance that holds the lock.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>

// An exclusive flock on a folder, held while the object lives. The lock goes with the process, so a folder
// whose holder died is free again at once, whatever files it left behind.
class TFolderLock {
public:
    // The lock, or nothing when another process holds it. Raises EOSError when the folder cannot be opened.
    static std::unique_ptr<TFolderLock> TryTake(const std::string& folder);
    ~TFolderLock();
    TFolderLock(const TFolderLock&) = delete;
    TFolderLock& operator=(const TFolderLock&) = delete;

private:
    explicit TFolderLock(int fd) : FFd(fd) {}
    int FFd;
};

// Listens on a unix socket; each connection of this user sends one line and gets the handler's answer line.
class TLocalSocketListener {
public:
    using THandler = std::function<std::string(const std::string& request)>;
    // Replaces a file left at path (the caller holds the lock that makes it stale) and listens there; the
    // handler runs on a thread of this object's own. Raises EOSError with the reason.
    TLocalSocketListener(const std::string& path, THandler handler);
    // Stops listening and removes the socket file.
    ~TLocalSocketListener();
    TLocalSocketListener(const TLocalSocketListener&) = delete;
    TLocalSocketListener& operator=(const TLocalSocketListener&) = delete;

private:
    void Serve();
    std::string FPath;
    THandler FHandler;
    int FFd = -1;
    int FWake[2] = {-1, -1};
    std::thread FThread;
};

// Sends one line to the listener at path and returns its answer line; nothing when no listener answered
// within timeoutMs.
std::optional<std::string> AskLocalSocket(const std::string& path, const std::string& request, int timeoutMs);
