#include "platform/UnitPlatformFiles.h"

#include "base/UnitExceptions.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::mutex GFaultLock;
std::function<bool(const std::string&)> GWriteFault;

bool WriteFaultFor(const std::string& path) {
    std::lock_guard lock(GFaultLock);
    return GWriteFault && GWriteFault(path);
}

std::string DirectoryOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// The process's file creation mask. /proc tells it without changing it: umask() reads it only by setting it,
// which would race with other threads creating files. Without /proc the usual 022 stands in.
mode_t CurrentUmask() {
    std::string status;
    if (!TryReadFileBytes("/proc/self/status", status)) return 022;
    const size_t at = status.find("\nUmask:");
    if (at == std::string::npos) return 022;
    char* end = nullptr;
    const unsigned long mask = std::strtoul(status.c_str() + at + 7, &end, 8);
    if (end == status.c_str() + at + 7 || mask > 0777) return 022;
    return static_cast<mode_t>(mask);
}

// A new file gets rw-r--r-- less the user's umask (fchmod ignores the mask, so it is applied here). A regular
// file of the user's own that stood at the name keeps what its owner gave it, less execute, set-id and
// write for others; a link's target or another user's file says nothing about what this file may be.
mode_t SharedFileMode(const std::string& path) {
    struct stat old {};
    if (::lstat(path.c_str(), &old) == 0 && S_ISREG(old.st_mode) && old.st_uid == ::geteuid())
        return (old.st_mode & 0644) | 0600;
    return 0644 & ~CurrentUmask();
}

} // namespace

void WriteFileAtomic(const std::string& path, std::string_view data, TFileAccess access, TFileKeep keep) {
    const mode_t mode = access == TFileAccess::OwnerOnly ? 0600 : SharedFileMode(path);

    std::string temp = path + ".XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) {
        const int err = errno;
        throw EFCreateError("Cannot create file \"" + path + "\". " + std::strerror(err));
    }
    auto fail = [&](int err) {
        ::close(fd);
        ::unlink(temp.c_str());
        throw EWriteError("Cannot write file \"" + path + "\". " + std::strerror(err));
    };
    if (::fchmod(fd, mode) != 0) fail(errno);
    if (WriteFaultFor(path)) fail(ENOSPC);
    const char* p = data.data();
    size_t left = data.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, left);
        if (n < 0) {
            if (errno == EINTR) continue;
            fail(errno);
        }
        p += n;
        left -= static_cast<size_t>(n);
    }
    // A flush waits for the disk, two round trips for a new file (its data, then the journal).
    if (keep == TFileKeep::Durable && ::fsync(fd) != 0) fail(errno);
    if (::close(fd) != 0) {
        const int err = errno;
        ::unlink(temp.c_str());
        throw EWriteError("Cannot write file \"" + path + "\". " + std::strerror(err));
    }
    if (::rename(temp.c_str(), path.c_str()) != 0) {
        const int err = errno;
        ::unlink(temp.c_str());
        throw EWriteError("Cannot write file \"" + path + "\". " + std::strerror(err));
    }
    if (keep != TFileKeep::Durable) return;
    // Make the rename itself durable; a failure here loses nothing that was visible.
    const int dir = ::open(DirectoryOf(path).c_str(), O_RDONLY | O_DIRECTORY);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
}

namespace {

// 0 on success, else the errno of the step that failed; opened tells which step that was.
int ReadAll(const std::string& path, std::string& data, bool& opened) {
    opened = false;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errno;
    opened = true;
    std::string out;
    // A regular file is read straight into one allocation of its size; files that grow or lie about it are
    // still read to the end. The slack lets a reader pad the text (as the item file reader does) without
    // moving it.
    struct stat info {};
    size_t size = 0;
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0)
        size = static_cast<size_t>(info.st_size);
    out.resize(size + 64);
    size_t used = 0;
    for (;;) {
        if (used == out.size()) out.resize(out.size() * 2 + 65536);
        const ssize_t n = ::read(fd, out.data() + used, out.size() - used);
        if (n < 0) {
            if (errno == EINTR) continue;
            const int err = errno;
            ::close(fd);
            return err;
        }
        if (n == 0) break;
        used += static_cast<size_t>(n);
    }
    out.resize(used);
    ::close(fd);
    data = std::move(out);
    return 0;
}

} // namespace

bool TryReadFileBytes(const std::string& path, std::string& data) {
    bool opened;
    return ReadAll(path, data, opened) == 0;
}

std::string ReadFileBytes(const std::string& path) {
    std::string data;
    bool opened;
    const int err = ReadAll(path, data, opened);
    if (err == 0) return data;
    if (!opened) throw EFOpenError("Cannot open file \"" + path + "\". " + std::strerror(err));
    throw EReadError("Cannot read file \"" + path + "\". " + std::strerror(err));
}

namespace {

// Opens the file for appending, creating it when missing, never through a symbolic link at its name and
// never anything but a regular file (a FIFO would block the writer) nor a file with other names. An
// owner-only file that is someone else's is refused, and one of the user's own that others may read is closed
// to them first.
int OpenForAppend(const std::string& path, TFileAccess access) {
    const mode_t mode = access == TFileAccess::OwnerOnly ? 0600 : 0644;
    const int fd =
        ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, mode);
    const auto refuse = [&](const std::string& reason) {
        if (fd >= 0) ::close(fd);
        throw EFOpenError("Cannot open file \"" + path + "\". " + reason);
    };
    if (fd < 0) {
        const int err = errno;
        struct stat standing {};
        if (::lstat(path.c_str(), &standing) == 0 && S_ISLNK(standing.st_mode))
            refuse("It is a symbolic link, and it is not written through.");
        if (err == ENXIO) refuse("It is not a regular file."); // a FIFO without a reader
        refuse(std::strerror(err));
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0) refuse(std::strerror(errno));
    if (!S_ISREG(info.st_mode)) refuse("It is not a regular file.");
    // Another name of the same file may be anyone's file, a set-user-id program included: appending to it,
    // or narrowing its mode, would change that file.
    if (info.st_nlink > 1) refuse("It has other names (hard links), and it is not written through.");
    if (access == TFileAccess::OwnerOnly) {
        if (info.st_uid != ::geteuid()) refuse("It belongs to another user.");
        if ((info.st_mode & 077) != 0 && ::fchmod(fd, 0600) != 0) refuse(std::strerror(errno));
    }
    return fd;
}

} // namespace

void AppendToFile(const std::string& path, std::string_view data, TFileAccess access) {
    const int fd = OpenForAppend(path, access);
    const char* p = data.data();
    size_t left = data.size();
    while (left > 0) {
        const ssize_t n = WriteFaultFor(path) ? (errno = ENOSPC, -1) : ::write(fd, p, left);
        if (n < 0) {
            if (errno == EINTR) continue;
            const int err = errno;
            ::close(fd);
            throw EWriteError("Cannot write file \"" + path + "\". " + std::strerror(err));
        }
        p += n;
        left -= static_cast<size_t>(n);
    }
    ::close(fd);
}

bool FileExists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool DirectoryExists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

int64_t PlatformFileSize(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return -1;
    return static_cast<int64_t>(st.st_size);
}

int64_t PlatformFileSizeByOpening(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return -1;
    const off_t size = ::lseek(fd, 0, SEEK_END);
    ::close(fd);
    return size < 0 ? -1 : static_cast<int64_t>(size);
}

int FilePermissions(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return -1;
    return static_cast<int>(st.st_mode & 07777);
}

void SetWriteFaultForTesting(std::function<bool(const std::string& path)> fault) {
    std::lock_guard lock(GFaultLock);
    GWriteFault = std::move(fault);
}
