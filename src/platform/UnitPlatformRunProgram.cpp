#include "platform/UnitPlatformRunProgram.h"

#include "base/UnitExceptions.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

class TPipe {
public:
    TPipe() {
        if (::pipe2(FEnds, O_CLOEXEC) != 0)
            throw EOSError(std::string("pipe: ") + std::strerror(errno), errno);
    }
    ~TPipe() {
        CloseRead();
        CloseWrite();
    }
    int Read() const { return FEnds[0]; }
    int Write() const { return FEnds[1]; }
    void CloseRead() { Close(FEnds[0]); }
    void CloseWrite() { Close(FEnds[1]); }

private:
    static void Close(int& fd) {
        if (fd >= 0) ::close(fd);
        fd = -1;
    }
    int FEnds[2] = {-1, -1};
};

} // namespace

TProgramRun RunProgram(const std::string& program, const std::vector<std::string>& arguments,
                       uint32_t timeoutMs) {
    TPipe out, err;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out.Write(), 1);
    posix_spawn_file_actions_adddup2(&actions, err.Write(), 2);

    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const auto& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);

    pid_t pid = -1;
    const int spawned = ::posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) throw EOSError("Cannot start \"" + program + "\": " + std::strerror(spawned), spawned);
    out.CloseWrite();
    err.CloseWrite();

    TProgramRun run;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    pollfd fds[2] = {{out.Read(), POLLIN, 0}, {err.Read(), POLLIN, 0}};
    std::string* targets[2] = {&run.Output, &run.ErrorOutput};
    int open = 2;
    while (open > 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            ::kill(pid, SIGKILL);
            run.TimedOut = true;
            break;
        }
        const int ready = ::poll(fds, 2, static_cast<int>(left.count()));
        if (ready < 0 && errno != EINTR) break;
        for (int i = 0; i < 2 && ready > 0; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) continue;
            char buffer[65536];
            const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                targets[i]->append(buffer, static_cast<size_t>(n));
            } else if (n == 0 || errno != EINTR) {
                fds[i].fd = -1;
                --open;
            }
        }
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status))
        run.ExitCode = WEXITSTATUS(status);
    else if (WIFSIGNALED(status))
        run.ExitCode = 128 + WTERMSIG(status);
    return run;
}
