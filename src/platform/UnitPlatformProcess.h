#pragma once
// The host process: its command line, the path of its executable and its memory.

#include <optional>
#include <string>
#include <vector>

// The arguments of the process, the program name first (from /proc/self/cmdline).
std::vector<std::string> ProcessCommandLine();
// The absolute path of the running executable (from /proc/self/exe).
std::string ProcessExecutablePath();

// Gives the system back the heap's free pages, in every allocator arena: what a finished piece of work freed
// would otherwise stay resident until the process needs that much again.
void ReturnFreedMemoryToSystem();
// For a process that lives long and works now and then: glibc raises its threshold for blocks of their own
// mapping to the largest block freed so far, and a heap's trim threshold to twice that, so that after one
// load of a few hundred kB pages every thread arena keeps that much free memory resident for good (which
// ReturnFreedMemoryToSystem reaches only in the main arena). This keeps glibc's starting thresholds instead.
void KeepAllocatorThresholdsFixed();

// Tests stand in for the process's own values; std::nullopt restores them.
void SetProcessCommandLineForTesting(std::optional<std::vector<std::string>> args);
void SetProcessExecutablePathForTesting(std::optional<std::string> path);
