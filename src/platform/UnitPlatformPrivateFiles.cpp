#include "platform/UnitPlatformPrivateFiles.h"

#include "base/UnitExceptions.h"
#include "platform/UnitPlatformEnvironment.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string OctalMode(mode_t mode) {
    char text[8];
    std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
    return text;
}

// An open folder that this user alone may enter, or the reason it is not one. The folder is opened without
// following a link, and the checks look at what was opened, so that nothing can be swapped in between.
struct TOwnFolder {
    int Fd = -1;
    std::string Refused;
    TOwnFolder() = default;
    TOwnFolder(const TOwnFolder&) = delete;
    TOwnFolder& operator=(const TOwnFolder&) = delete;
    ~TOwnFolder() {
        if (Fd >= 0) ::close(Fd);
    }
};

void OpenOwnFolder(const std::string& path, TOwnFolder& folder) {
    folder.Fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (folder.Fd < 0) {
        const int err = errno;
        struct stat standing {};
        if (::lstat(path.c_str(), &standing) == 0 && S_ISLNK(standing.st_mode))
            folder.Refused = "it is a symbolic link";
        else
            folder.Refused = std::strerror(err);
        return;
    }
    struct stat info {};
    if (::fstat(folder.Fd, &info) != 0)
        folder.Refused = std::strerror(errno);
    else if (info.st_uid != ::geteuid())
        folder.Refused = "it belongs to another user";
    else if ((info.st_mode & 077) != 0)
        folder.Refused = "others may enter it (mode " + OctalMode(info.st_mode) + ")";
    if (!folder.Refused.empty()) {
        ::close(folder.Fd);
        folder.Fd = -1;
    }
}

std::optional<std::string> AbsoluteFolderVariable(const char* name) {
    const auto value = GetEnvironmentVariable(name);
    if (!value || value->empty() || value->front() != '/') return std::nullopt;
    return value->back() == '/' && value->size() > 1 ? value->substr(0, value->size() - 1) : *value;
}

std::string RandomLetters() {
    static const char letters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    unsigned char bytes[12];
    if (::getrandom(bytes, sizeof bytes, 0) != static_cast<ssize_t>(sizeof bytes))
        throw EFCreateError(std::string("No random name can be made: ") + std::strerror(errno));
    std::string name;
    for (const unsigned char b : bytes)
        name += letters[b % (sizeof letters - 1)];
    return name;
}

void WriteAll(int fd, std::string_view data, const std::string& path) {
    while (!data.empty()) {
        const ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) throw EWriteError("Cannot write file \"" + path + "\". " + std::strerror(errno));
        data.remove_prefix(static_cast<size_t>(n));
    }
}

// Creates the file new in the open folder: O_EXCL never opens an existing name, a link included.
std::string CreateIn(const TOwnFolder& folder, const std::string& folderPath, const std::string& prefix,
                     const std::string& suffix, std::string_view data) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string name = prefix + RandomLetters() + suffix;
        const std::string path = folderPath + "/" + name;
        const int fd =
            ::openat(folder.Fd, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0 && errno == EEXIST) continue;
        if (fd < 0) throw EFCreateError("Cannot create file \"" + path + "\". " + std::strerror(errno));
        try {
            // The umask may only have taken bits away; the owner needs to read and write it.
            if (::fchmod(fd, 0600) != 0)
                throw EWriteError("Cannot write file \"" + path + "\". " + std::strerror(errno));
            WriteAll(fd, data, path);
        } catch (...) {
            ::close(fd);
            ::unlinkat(folder.Fd, name.c_str(), 0);
            throw;
        }
        if (::close(fd) != 0) {
            const int err = errno;
            ::unlinkat(folder.Fd, name.c_str(), 0);
            throw EWriteError("Cannot write file \"" + path + "\". " + std::strerror(err));
        }
        return path;
    }
    throw EFCreateError("Cannot create a new file in \"" + folderPath + "\".");
}

} // namespace

TPrivateFile CreatePrivateFile(const std::string& folderName, const std::string& prefix,
                               const std::string& suffix, std::string_view data) {
    TPrivateFile file;
    if (const auto runtime = AbsoluteFolderVariable("XDG_RUNTIME_DIR")) {
        const std::string folderPath = *runtime + "/" + folderName;
        // 0700 whatever the umask says; an existing folder is taken only when it passes the checks below.
        if (::mkdir(folderPath.c_str(), 0700) != 0 && errno != EEXIST) {
            file.PassedOver = "\"" + folderPath + "\" cannot be made: " + std::strerror(errno);
        } else {
            TOwnFolder folder;
            OpenOwnFolder(folderPath, folder);
            if (folder.Fd >= 0) {
                file.Path = CreateIn(folder, folderPath, prefix, suffix, data);
                return file;
            }
            file.PassedOver = "\"" + folderPath + "\" is not used: " + folder.Refused;
        }
    }

    // mkdtemp makes a new folder of mode 0700 that no one else can have made before.
    std::string pattern = AbsoluteFolderVariable("TMPDIR").value_or("/tmp") + "/" + folderName + "-XXXXXX";
    if (!::mkdtemp(pattern.data()))
        throw EFCreateError("Cannot create a private folder \"" + pattern + "\". " + std::strerror(errno));
    file.OwnFolder = pattern;
    try {
        TOwnFolder folder;
        OpenOwnFolder(file.OwnFolder, folder);
        if (folder.Fd < 0)
            throw EFCreateError("Cannot use the private folder \"" + file.OwnFolder +
                                "\": " + folder.Refused);
        file.Path = CreateIn(folder, file.OwnFolder, prefix, suffix, data);
    } catch (...) {
        ::rmdir(file.OwnFolder.c_str());
        throw;
    }
    return file;
}

bool RemovePrivateFile(const TPrivateFile& file) {
    bool gone = file.Path.empty() || ::unlink(file.Path.c_str()) == 0 || errno == ENOENT;
    if (!file.OwnFolder.empty()) gone = (::rmdir(file.OwnFolder.c_str()) == 0 || errno == ENOENT) && gone;
    return gone;
}

std::string PrivateRuntimeFolder(const std::string& folderName) {
    std::string refused;
    auto usable = [&refused](const std::string& path) {
        if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
            refused += "\"" + path + "\" cannot be made: " + std::strerror(errno) + ". ";
            return false;
        }
        TOwnFolder folder;
        OpenOwnFolder(path, folder);
        if (folder.Fd < 0) refused += "\"" + path + "\" is not used: " + folder.Refused + ". ";
        return folder.Fd >= 0;
    };
    if (const auto runtime = AbsoluteFolderVariable("XDG_RUNTIME_DIR");
        runtime && usable(*runtime + "/" + folderName))
        return *runtime + "/" + folderName;
    const std::string shared = AbsoluteFolderVariable("TMPDIR").value_or("/tmp") + "/" + folderName + "-" +
                               std::to_string(::geteuid());
    if (usable(shared)) return shared;
    throw EFCreateError("No private folder for " + folderName + ": " + refused);
}

std::string MakeFreshPrivateFolder(const std::string& folderName) {
    std::string pattern = AbsoluteFolderVariable("TMPDIR").value_or("/tmp") + "/" + folderName + "-" +
                          std::to_string(::geteuid()) + "-XXXXXX";
    if (!::mkdtemp(pattern.data()))
        throw EFCreateError("Cannot create a private folder \"" + pattern + "\". " + std::strerror(errno));
    return pattern;
}
