#include "platform/UnitPlatformInstance.h"

#include "base/UnitExceptions.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

constexpr size_t MaxLine = 4096;

sockaddr_un SocketAddress(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path)
        throw EOSError("The socket path \"" + path + "\" is too long for a unix socket", ENAMETOOLONG);
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return address;
}

// Reads up to a line end within the time left; false on a timeout, an error or a line too long.
bool ReadLine(int fd, std::string& line, std::chrono::steady_clock::time_point deadline) {
    line.clear();
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd wait{fd, POLLIN, 0};
        if (left.count() <= 0 || ::poll(&wait, 1, static_cast<int>(left.count())) <= 0) return false;
        char buffer[512];
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        line.append(buffer, static_cast<size_t>(n));
        if (const size_t end = line.find('\n'); end != std::string::npos) {
            line.resize(end);
            return true;
        }
        if (line.size() > MaxLine) return false;
    }
}

void SendAll(int fd, std::string data) {
    while (!data.empty()) {
        const ssize_t n = ::send(fd, data.data(), data.size(), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        data.erase(0, static_cast<size_t>(n));
    }
}

} // namespace

namespace {

constexpr size_t MaxNote = 4096;

} // namespace

std::string UserNameOf(unsigned uid) {
    passwd entry{};
    passwd* found = nullptr;
    char buffer[4096];
    if (::getpwuid_r(uid, &entry, buffer, sizeof buffer, &found) == 0 && found) return found->pw_name;
    return std::to_string(uid);
}

std::unique_ptr<TFolderLock> TFolderLock::TryTake(const std::string& folder, const std::string& fileName,
                                                  std::string& heldBy) {
    heldBy.clear();
    const std::string path = folder + "/" + fileName;
    const auto fail = [&path](const std::string& reason, int err) -> std::unique_ptr<TFolderLock> {
        throw EOSError("The lock \"" + path + "\" cannot be taken: " + reason, err);
    };
    const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0)
        throw EOSError("The folder \"" + folder + "\" cannot be opened: " + std::strerror(errno), errno);
    // O_CLOEXEC keeps the lock from living on in a browser that the holder starts; O_NONBLOCK keeps a FIFO
    // planted at the name from holding the start.
    const int fd =
        ::openat(dir, fileName.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
    const int openError = errno;
    struct stat info {};
    const bool standing = ::fstatat(dir, fileName.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0;
    ::close(dir);
    if (fd < 0) {
        if (standing && S_ISLNK(info.st_mode)) return fail("it is a symbolic link", ELOOP);
        if (standing && info.st_uid != ::geteuid()) {
            heldBy = "user " + UserNameOf(info.st_uid);
            return nullptr;
        }
        return fail(std::strerror(openError), openError);
    }
    const auto refuse = [&](const std::string& reason, int err) {
        ::close(fd);
        return fail(reason, err);
    };
    if (::fstat(fd, &info) != 0) return refuse(std::strerror(errno), errno);
    if (!S_ISREG(info.st_mode)) return refuse("it is not a regular file", EINVAL);
    if (info.st_uid != ::geteuid()) {
        ::close(fd);
        heldBy = "user " + UserNameOf(info.st_uid);
        return nullptr;
    }
    if (info.st_nlink != 1) return refuse("it has other names (hard links)", EMLINK);
    // The file is this user's own: a mode wider than the owner's is narrowed on it, never on another file.
    if ((info.st_mode & 077) != 0 && ::fchmod(fd, 0600) != 0) return refuse(std::strerror(errno), errno);
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int err = errno;
        ::close(fd);
        // Only this user's processes can open the file to hold it.
        if (err != EWOULDBLOCK) return fail(std::strerror(err), err);
        return nullptr;
    }
    return std::unique_ptr<TFolderLock>(new TFolderLock(fd));
}

TFolderLock::~TFolderLock() {
    ::close(FFd);
}

void TFolderLock::Note(const std::string& line) {
    const std::string text = line.substr(0, MaxNote - 1) + "\n";
    if (::ftruncate(FFd, 0) != 0) return;
    [[maybe_unused]] const ssize_t written = ::pwrite(FFd, text.data(), text.size(), 0);
}

std::optional<std::string> TFolderLock::ReadNote(const std::string& folder, const std::string& fileName) {
    const std::string path = folder + "/" + fileName;
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    struct stat info {};
    char text[MaxNote];
    ssize_t got = -1;
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_uid == ::geteuid())
        got = ::pread(fd, text, sizeof text, 0);
    ::close(fd);
    if (got <= 0) return std::nullopt;
    const std::string note(text, static_cast<size_t>(got));
    const size_t end = note.find('\n');
    if (end == std::string::npos || end == 0) return std::nullopt;
    return note.substr(0, end);
}

TLocalSocketListener::TLocalSocketListener(const std::string& path, THandler handler)
    : FPath(path), FHandler(std::move(handler)) {
    const sockaddr_un address = SocketAddress(path);
    FFd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (FFd < 0) throw EOSError(std::string("No unix socket can be made: ") + std::strerror(errno), errno);
    ::unlink(path.c_str());
    if (::bind(FFd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(FFd, 8) != 0 || ::pipe2(FWake, O_CLOEXEC) != 0) {
        const int err = errno;
        ::close(FFd);
        if (FWake[0] >= 0) ::close(FWake[0]);
        throw EOSError("The socket \"" + path + "\" cannot be opened: " + std::strerror(err), err);
    }
    ::chmod(path.c_str(), 0600);
    FThread = std::thread([this] { Serve(); });
}

TLocalSocketListener::~TLocalSocketListener() {
    const char stop = 1;
    [[maybe_unused]] const ssize_t written = ::write(FWake[1], &stop, 1);
    FThread.join();
    ::close(FFd);
    ::close(FWake[0]);
    ::close(FWake[1]);
    ::unlink(FPath.c_str());
}

void TLocalSocketListener::Serve() {
    for (;;) {
        pollfd waits[2] = {{FFd, POLLIN, 0}, {FWake[0], POLLIN, 0}};
        if (::poll(waits, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (waits[1].revents) return;
        const int client = ::accept4(FFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) continue;
        // The folder is the owner's alone already; the peer's user is checked all the same.
        ucred peer{};
        socklen_t size = sizeof peer;
        std::string request;
        if (::getsockopt(client, SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0 && peer.uid == ::geteuid() &&
            ReadLine(client, request, std::chrono::steady_clock::now() + std::chrono::seconds(2)))
            SendAll(client, FHandler(request) + "\n");
        ::close(client);
    }
}

std::optional<std::string> AskLocalSocket(const std::string& path, const std::string& request,
                                          int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    const sockaddr_un address = SocketAddress(path);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return std::nullopt;
    std::string answer;
    // The answer is believed only from a listener of this user's own.
    ucred peer{};
    socklen_t size = sizeof peer;
    const bool answered = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
                          ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0 &&
                          peer.uid == ::geteuid() &&
                          (SendAll(fd, request + "\n"), ReadLine(fd, answer, deadline));
    ::close(fd);
    if (!answered) return std::nullopt;
    return answer;
}
