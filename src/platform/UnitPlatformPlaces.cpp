#include "platform/UnitPlatformPlaces.h"

#include "platform/UnitPlatformEnvironment.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A base folder variable counts only when it holds an absolute path, as the XDG rules say.
std::string BaseFolder(const char* variable, const char* belowHome) {
    if (auto value = GetEnvironmentVariable(variable); value && !value->empty() && value->front() == '/')
        return *value;
    if (auto home = GetEnvironmentVariable("HOME"); home && !home->empty()) return *home + belowHome;
    return "";
}

} // namespace

std::string UserConfigFolder() {
    return BaseFolder("XDG_CONFIG_HOME", "/.config");
}

std::string UserStateFolder() {
    return BaseFolder("XDG_STATE_HOME", "/.local/state");
}

bool FolderIsWritable(const std::string& folder) {
    struct stat info {};
    if (::stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) return false;
    // The permission bits decide, also for root, whom access() lets write anywhere: a folder made read-only
    // stays so. access() still tells a read-only mount.
    const mode_t write = info.st_uid == ::geteuid()   ? S_IWUSR
                         : info.st_gid == ::getegid() ? S_IWGRP
                                                      : S_IWOTH;
    return (info.st_mode & write) != 0 && ::access(folder.c_str(), W_OK | X_OK) == 0;
}

bool ForceFolder(const std::string& folder) {
    for (size_t slash = folder.find('/', 1);; slash = folder.find('/', slash + 1)) {
        const std::string part = folder.substr(0, slash);
        if (!part.empty() && ::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return false;
        if (slash == std::string::npos) break;
    }
    struct stat info {};
    return ::stat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

int FolderMode(const std::string& folder) {
    struct stat info {};
    if (::stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) return -1;
    return static_cast<int>(info.st_mode & 07777);
}

std::string RestrictFolderToOwner(const std::string& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return std::strerror(errno);
    struct stat info {};
    std::string refused;
    if (::fstat(fd, &info) != 0)
        refused = std::strerror(errno);
    else if (info.st_uid != ::geteuid())
        refused = "it belongs to another user";
    else if (::fchmod(fd, (info.st_mode & 07700) | 0700) != 0)
        refused = std::strerror(errno);
    ::close(fd);
    return refused;
}
