#include "platform/UnitPlatformShell.h"

#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace {

std::mutex GLock;
std::string GProgram = "xdg-open";
TShellOpenHandler GHandler;
constexpr auto VerdictWait = std::chrono::milliseconds(3000);

std::string OpenerExitText(int status) {
    // xdg-open's documented exit codes.
    switch (status) {
    case 1:
        return "Error in command line syntax.";
    case 2:
        return "One of the files passed on the command line did not exist.";
    case 3:
        return "A required tool could not be found.";
    case 4:
        return "The action failed.";
    default:
        return "The program that opens addresses ended with exit status " + std::to_string(status) + ".";
    }
}

} // namespace

TShellOpenResult ShellOpen(const std::string& address) {
    std::string program;
    TShellOpenHandler handler;
    {
        std::lock_guard lock(GLock);
        program = GProgram;
        handler = GHandler;
    }
    if (handler) return handler(address);
    TShellOpenResult result;
    pid_t pid = 0;
    char* argv[] = {program.data(), const_cast<char*>(address.c_str()), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    // The host blocks its stop signals and ignores SIGPIPE, and a browser the opener starts would keep
    // both for its whole life: the opener starts with none blocked and every one at its default.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    sigset_t signals;
    sigemptyset(&signals);
    posix_spawnattr_setsigmask(&attributes, &signals);
    for (const int signal : {SIGPIPE, SIGINT, SIGTERM, SIGHUP})
        sigaddset(&signals, signal);
    posix_spawnattr_setsigdefault(&attributes, &signals);
    const int rc = posix_spawnp(&pid, program.c_str(), &actions, &attributes, argv, environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        result.Success = false;
        result.ErrorCode = rc;
        result.ErrorText = std::strerror(rc);
        return result;
    }
    const auto deadline = std::chrono::steady_clock::now() + VerdictWait;
    int status = 0;
    for (;;) {
        const pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid) break;
        if (done < 0 || std::chrono::steady_clock::now() >= deadline) {
            // Still running: the handler took the address. Reap it later so that no zombie stays.
            std::thread([pid] {
                int ignored;
                waitpid(pid, &ignored, 0);
            }).detach();
            return result;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    if (code != 0) {
        result.Success = false;
        result.ErrorCode = code;
        result.ErrorText = OpenerExitText(code);
    }
    return result;
}

void SetShellOpenProgramForTesting(const std::string& program) {
    std::lock_guard lock(GLock);
    GProgram = program.empty() ? "xdg-open" : program;
}

TShellOpenHandler SetShellOpenHandler(TShellOpenHandler handler) {
    std::lock_guard lock(GLock);
    std::swap(GHandler, handler);
    return handler;
}
