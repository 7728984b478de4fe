#include "platform/UnitPlatformDebugOutput.h"

#include <cstdio>
#include <mutex>
#include <string>

namespace {
std::mutex GLock;
std::function<void(std::string_view)> GSink;
} // namespace

void OutputDebugString(std::string_view text) {
    std::lock_guard lock(GLock);
    if (GSink) {
        GSink(text);
        return;
    }
    std::string line(text);
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), stderr);
}

void SetDebugOutputSinkForTesting(std::function<void(std::string_view)> sink) {
    std::lock_guard lock(GLock);
    GSink = std::move(sink);
}
