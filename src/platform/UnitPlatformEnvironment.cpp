#include "platform/UnitPlatformEnvironment.h"

#include <cstdlib>

std::optional<std::string> GetEnvironmentVariable(const std::string& name) {
    const char* value = std::getenv(name.c_str());
    if (!value) return std::nullopt;
    return std::string(value);
}
