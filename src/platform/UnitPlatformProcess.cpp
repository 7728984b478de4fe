#include "platform/UnitPlatformProcess.h"

#include <fstream>
#include <iterator>
#if defined(__GLIBC__)
#include <malloc.h>
#endif
#include <mutex>
#include <unistd.h>

namespace {
std::mutex GLock;
std::optional<std::vector<std::string>> GCommandLine;
std::optional<std::string> GExecutablePath;
} // namespace

std::vector<std::string> ProcessCommandLine() {
    {
        std::lock_guard lock(GLock);
        if (GCommandLine) return *GCommandLine;
    }
    std::ifstream in("/proc/self/cmdline", std::ios::binary);
    std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<std::string> args;
    size_t start = 0;
    for (size_t i = 0; i < all.size(); ++i) {
        if (all[i] == '\0') {
            args.push_back(all.substr(start, i - start));
            start = i + 1;
        }
    }
    if (start < all.size()) args.push_back(all.substr(start));
    return args;
}

std::string ProcessExecutablePath() {
    {
        std::lock_guard lock(GLock);
        if (GExecutablePath) return *GExecutablePath;
    }
    std::string buf(4096, '\0');
    const ssize_t n = readlink("/proc/self/exe", buf.data(), buf.size());
    if (n <= 0) return {};
    buf.resize(static_cast<size_t>(n));
    return buf;
}

void SetProcessCommandLineForTesting(std::optional<std::vector<std::string>> args) {
    std::lock_guard lock(GLock);
    GCommandLine = std::move(args);
}

void SetProcessExecutablePathForTesting(std::optional<std::string> path) {
    std::lock_guard lock(GLock);
    GExecutablePath = std::move(path);
}

void ReturnFreedMemoryToSystem() {
#if defined(__GLIBC__)
    malloc_trim(0);
#endif
}

void KeepAllocatorThresholdsFixed() {
#if defined(__GLIBC__)
    // glibc's own starting value (DEFAULT_MMAP_THRESHOLD_MIN); setting it ends the raising of both
    // thresholds.
    mallopt(M_MMAP_THRESHOLD, 128 * 1024);
#endif
}
