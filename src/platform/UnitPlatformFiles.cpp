#include "platform/UnitPlatformFiles.h"

#include "support/UnitExceptions.h"

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

} // namespace

void WriteFileAtomic(const std::string& path, std::string_view data, TFileAccess access) {
    // A shared file is created as any program of the user would create it; the temporary file's own 0600
    // would otherwise stand, as fchmod ignores the mask.
    mode_t mode = access == TFileAccess::OwnerOnly ? 0600 : 0666 & ~CurrentUmask();
    struct stat old {};
    if (access == TFileAccess::Shared && ::stat(path.c_str(), &old) == 0) mode = old.st_mode & 07777;

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
    if (::fsync(fd) != 0) fail(errno);
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
    // One allocation for a regular file's size; files that grow or lie about it are still read to the end.
    struct stat info {};
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0)
        out.reserve(static_cast<size_t>(info.st_size) + 1);
    char buf[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR) continue;
            const int err = errno;
            ::close(fd);
            return err;
        }
        if (n == 0) break;
        out.append(buf, static_cast<size_t>(n));
    }
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

void AppendToFile(const std::string& path, std::string_view data) {
    // Created like every other shared file: the user's umask decides who may read it.
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
    if (fd < 0) {
        const int err = errno;
        throw EFOpenError("Cannot open file \"" + path + "\". " + std::strerror(err));
    }
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
