#include "support/UnitFileUtils.h"

#include "platform/UnitPlatformFiles.h"

int64_t FileSizeOf(const std::string& path, int64_t def) {
    if (!FileExists(path)) return def;
    int64_t size = PlatformFileSize(path);
    if (size >= 0) return size;
    size = PlatformFileSizeByOpening(path);
    return size >= 0 ? size : def;
}

std::string ChangeFileExt(const std::string& path, const std::string& extension) {
    const auto slash = path.find_last_of('/');
    const auto dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return path + extension;
    return path.substr(0, dot) + extension;
}

std::string ExtractFilePath(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string ExtractFileName(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string IncludeTrailingPathDelimiter(const std::string& path) {
    return !path.empty() && path.back() == '/' ? path : path + "/";
}
