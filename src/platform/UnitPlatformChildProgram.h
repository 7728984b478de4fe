#pragma once
// A program that runs beside this one for as long as this one needs it: started without a shell, its output
// in files, ended with a signal, and never left behind when this process dies.

#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

class TChildProgram {
public:
    // Starts the program (a path) with standard input from /dev/null, standard output into outputFile and
    // standard error into errorFile (both created or emptied). It runs in a process group of its own, so
    // that a Ctrl-C at the terminal reaches this process alone and the child is stopped in order, and it
    // gets SIGTERM from the system when this process ends without stopping it. Raises EOSError.
    TChildProgram(const std::string& program, const std::vector<std::string>& arguments,
                  const std::string& outputFile, const std::string& errorFile);
    // Stops the program when it still runs.
    ~TChildProgram();
    TChildProgram(const TChildProgram&) = delete;
    TChildProgram& operator=(const TChildProgram&) = delete;

    pid_t Pid() const { return FPid; }
    // The first whole line of its output, without the line end, as soon as it is there; nothing when the
    // program ended or timeoutMs passed first.
    std::optional<std::string> WaitForFirstLine(int timeoutMs);
    // Sends the signal and waits; a program still running after graceMs is killed. Returns the exit code, or
    // 128 + the signal that ended it. Later calls return the same.
    int Stop(int signal = 15, int graceMs = 10000);

private:
    bool Reap(bool wait);
    std::string FOutputFile;
    pid_t FPid = -1;
    std::optional<int> FExitCode;
};
