#pragma once
// The host process: its command line and the path of its executable.

#include <optional>
#include <string>
#include <vector>

// The arguments of the process, the program name first (from /proc/self/cmdline).
std::vector<std::string> ProcessCommandLine();
// The absolute path of the running executable (from /proc/self/exe).
std::string ProcessExecutablePath();

// Tests stand in for the process's own values; std::nullopt restores them.
void SetProcessCommandLineForTesting(std::optional<std::vector<std::string>> args);
void SetProcessExecutablePathForTesting(std::optional<std::string> path);
