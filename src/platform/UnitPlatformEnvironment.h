#pragma once
// The process environment, read in one place.

#include <optional>
#include <string>

// The value of an environment variable, or std::nullopt when it is not set.
std::optional<std::string> GetEnvironmentVariable(const std::string& name);

// Names an extra CA certificate file (PEM) that TLS clients trust beside the system's store; the local
// sandbox's CA comes in this way. Verification itself is never turned off.
constexpr const char* KovaExtraCAFileVariable = "KOVA_EXTRA_CA_FILE";
