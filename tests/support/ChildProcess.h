#pragma once
// A program a test runs in the background: started without a shell, its first printed line read, and
// stopped with a signal at the end.

#include <string>
#include <sys/types.h>
#include <vector>

struct TChildProcess {
    pid_t Pid = -1;
    std::string FirstLine; // without its line end; empty when nothing came within the time-out
};

// Starts the program with its standard output on a pipe and reads the first line it prints, waiting at most
// timeoutMs. Raises std::runtime_error when it cannot be started.
TChildProcess StartChildReadingFirstLine(const std::string& program, const std::vector<std::string>& args,
                                         int timeoutMs = 30000);
// Sends the signal and waits; returns the exit code, or 128 + the signal when a signal ended it.
int StopChild(pid_t pid, int signal);
