#pragma once
// Running a program to its end with its output captured; tests run the system's own programs this way.

#include <cstdint>
#include <string>
#include <vector>

struct TProgramRun {
    int ExitCode = -1; // the exit status, 128 + the signal number when a signal ended it, -1 if it never ran
    std::string Output;
    std::string ErrorOutput;
    bool TimedOut = false;
};

// Starts the program (a path, no shell) with standard input from /dev/null and waits for it; after timeoutMs
// it is killed and TimedOut is set. A program that cannot be started raises EOSError.
TProgramRun RunProgram(const std::string& program, const std::vector<std::string>& arguments,
                       uint32_t timeoutMs = 30000);
