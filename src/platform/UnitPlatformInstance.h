#pragma once
// One program instance per folder: an exclusive lock on the folder itself, and a local socket in an
// owner-only folder over which a later start hands its request to the instance that holds the lock.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>

// An exclusive flock on a lock file inside a folder, held while the object lives. The lock goes with the
// process, so a folder whose holder died is free again at once. The file is the owner's alone (0600, made new
// in the folder, never through a link): another user can neither take the lock nor hold it open.
class TFolderLock {
public:
    // The lock, or nothing when it is held. heldBy then names the other user who owns the lock file ("user
    // NAME"), and stays empty when a process of this user holds it (no other can open a file of its own).
    // Raises EOSError when the folder or its lock file cannot be opened, or the name is a link or not a plain
    // file of its own.
    static std::unique_ptr<TFolderLock> TryTake(const std::string& folder, const std::string& fileName,
                                                std::string& heldBy);
    ~TFolderLock();
    TFolderLock(const TFolderLock&) = delete;
    TFolderLock& operator=(const TFolderLock&) = delete;

    // Replaces what the lock file says with one line, for later processes to read with ReadNote.
    void Note(const std::string& line);
    // The holder's line, read only from a lock file that is this user's own; nothing without one.
    static std::optional<std::string> ReadNote(const std::string& folder, const std::string& fileName);

private:
    explicit TFolderLock(int fd) : FFd(fd) {}
    int FFd;
};

// The name of the user with that id, else the id as text.
std::string UserNameOf(unsigned uid);

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

// Sends one line to the listener at path and returns its answer line; nothing when no listener of this user
// answered within timeoutMs (a socket another user listens on is not asked).
std::optional<std::string> AskLocalSocket(const std::string& path, const std::string& request, int timeoutMs);
