#include "platform/UnitPlatformFiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <mutex>

#include "support/UnitExceptions.h"

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

} // namespace

void WriteFileAtomic(const std::string& path, std::string_view data, TFileAccess access) {
    mode_t mode = access == TFileAccess::OwnerOnly ? 0600 : 0644;
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

int FilePermissions(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return -1;
    return static_cast<int>(st.st_mode & 07777);
}

void SetWriteFaultForTesting(std::function<bool(const std::string& path)> fault) {
    std::lock_guard lock(GFaultLock);
    GWriteFault = std::move(fault);
}
