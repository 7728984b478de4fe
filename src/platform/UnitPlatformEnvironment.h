#pragma once
// The process environment, read in one place.

#include <optional>
#include <string>

// The value of an environment variable, or std::nullopt when it is not set.
std::optional<std::string> GetEnvironmentVariable(const std::string& name);

// Names an extra CA certificate file (PEM) that TLS clients trust beside the system's store; the local
// sandbox's CA comes in this way. Verification itself is never turned off.
constexpr const char* KovaExtraCAFileVariable = "KOVA_EXTRA_CA_FILE";

// Sets an environment variable of this process for itself and the programs it starts later; call it before
// any other thread reads the environment. Raises EOSError when the system refuses.
void SetEnvironmentVariable(const std::string& name, const std::string& value);

// Creates a new folder named prefix + random letters in $TMPDIR (else /tmp), open to its owner only, and
// returns its path. Raises EOSError with the reason.
std::string CreateTemporaryFolder(const std::string& prefix);
