#include "platform/UnitPlatformEnvironment.h"

#include "base/UnitExceptions.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

std::optional<std::string> GetEnvironmentVariable(const std::string& name) {
    const char* value = std::getenv(name.c_str());
    if (!value) return std::nullopt;
    return std::string(value);
}

void SetEnvironmentVariable(const std::string& name, const std::string& value) {
    if (::setenv(name.c_str(), value.c_str(), 1) != 0)
        throw EOSError("Cannot set " + name + ": " + std::strerror(errno), errno);
}

std::string CreateTemporaryFolder(const std::string& prefix) {
    std::string root = GetEnvironmentVariable("TMPDIR").value_or("");
    if (root.empty()) root = "/tmp";
    std::string pattern = root + "/" + prefix + "XXXXXX";
    std::vector<char> path(pattern.begin(), pattern.end());
    path.push_back('\0');
    if (!::mkdtemp(path.data()))
        throw EOSError("Cannot create a folder in " + root + ": " + std::strerror(errno), errno);
    return path.data();
}
