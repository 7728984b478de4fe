#include "GadgetHostProcess.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <regex>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

const std::string HostBinary = std::string(KOVA_BIN_DIR) + "/kova-gadget";

pid_t Spawn(const std::vector<std::string>& args, int stdoutFd) {
    std::vector<char*> argv{const_cast<char*>(HostBinary.c_str())};
    for (const std::string& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, stdoutFd, STDOUT_FILENO);
    pid_t pid = -1;
    const int error = posix_spawn(&pid, HostBinary.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0) throw std::runtime_error("cannot start " + HostBinary);
    return pid;
}

int WaitForExit(pid_t pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0)
        if (errno != EINTR) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Reads what the program prints until the first line ends, or all of it when untilEnd, waiting at most
// timeoutMs for each piece.
std::string ReadOutput(int fd, bool untilEnd, int timeoutMs) {
    std::string text;
    char buffer[512];
    for (;;) {
        if (!untilEnd && text.find('\n') != std::string::npos) break;
        pollfd waiting{fd, POLLIN, 0};
        if (poll(&waiting, 1, timeoutMs) <= 0) break;
        const ssize_t got = read(fd, buffer, untilEnd ? sizeof buffer : 1);
        if (got <= 0) break;
        text.append(buffer, static_cast<size_t>(got));
    }
    return text;
}

} // namespace

TGadgetHostProcess::TGadgetHostProcess(const std::vector<std::string>& args) {
    int output[2];
    if (pipe2(output, O_CLOEXEC) != 0) throw std::runtime_error("pipe2 failed");
    try {
        FPid = Spawn(args, output[1]);
    } catch (...) {
        close(output[0]);
        close(output[1]);
        throw;
    }
    close(output[1]);
    FLine = ReadOutput(output[0], false, 30000);
    close(output[0]);
    if (!FLine.empty() && FLine.back() == '\n') FLine.pop_back();
    std::smatch match;
    if (!std::regex_match(FLine, match,
                          std::regex(R"(KovaGadget: http://127\.0\.0\.1:(\d+)/#([A-Za-z0-9_-]+))"))) {
        Stop();
        throw std::runtime_error("kova-gadget did not print its address (got \"" + FLine + "\")");
    }
    FPort = std::stoi(match[1]);
    FSecret = match[2];
}

TGadgetHostProcess::~TGadgetHostProcess() {
    if (const int code = Stop(); code != 0) ADD_FAILURE() << "kova-gadget exited with " << code;
}

int TGadgetHostProcess::Stop(int signal) {
    if (FPid > 0) {
        kill(FPid, signal);
        FExitCode = WaitForExit(FPid);
        FPid = -1;
    }
    return FExitCode;
}

int TGadgetHostProcess::RunToEnd(const std::vector<std::string>& args, std::string* output) {
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) throw std::runtime_error("pipe2 failed");
    const pid_t pid = Spawn(args, pipeFds[1]);
    close(pipeFds[1]);
    const std::string text = ReadOutput(pipeFds[0], true, 30000);
    close(pipeFds[0]);
    if (output) *output = text;
    return WaitForExit(pid);
}
