#include "platform/UnitPlatformFileOps.h"

#include <cerrno>
#include <cstdio>
#include <unistd.h>

bool DeleteFile(const std::string& path) {
    return ::unlink(path.c_str()) == 0 || errno == ENOENT;
}

bool RenameFile(const std::string& from, const std::string& to) {
    return std::rename(from.c_str(), to.c_str()) == 0;
}

bool CreateHardLink(const std::string& existing, const std::string& linkPath) {
    if (::link(existing.c_str(), linkPath.c_str()) == 0) return true;
    if (errno != EEXIST || ::unlink(linkPath.c_str()) != 0) return false;
    return ::link(existing.c_str(), linkPath.c_str()) == 0;
}
