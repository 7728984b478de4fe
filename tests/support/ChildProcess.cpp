#include "ChildProcess.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

std::string ReadLine(int fd, int timeoutMs) {
    std::string line;
    char c;
    while (line.empty() || line.back() != '\n') {
        pollfd waiting{fd, POLLIN, 0};
        if (poll(&waiting, 1, timeoutMs) <= 0) break;
        if (read(fd, &c, 1) != 1) break;
        line += c;
    }
    if (!line.empty() && line.back() == '\n') line.pop_back();
    return line;
}

} // namespace

TChildProcess StartChildReadingFirstLine(const std::string& program, const std::vector<std::string>& args,
                                         int timeoutMs) {
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    int output[2];
    if (pipe2(output, O_CLOEXEC) != 0) throw std::runtime_error("pipe2 failed");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, output[1], STDOUT_FILENO);
    TChildProcess child;
    const int error = posix_spawn(&child.Pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(output[1]);
    if (error != 0) {
        close(output[0]);
        throw std::runtime_error("cannot start " + program);
    }
    child.FirstLine = ReadLine(output[0], timeoutMs);
    close(output[0]);
    return child;
}

int StopChild(pid_t pid, int signal) {
    kill(pid, signal);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0)
        if (errno != EINTR) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
