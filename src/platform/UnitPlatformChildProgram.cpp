#include "platform/UnitPlatformChildProgram.h"

#include "base/UnitExceptions.h"
#include "platform/UnitPlatformFiles.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

int OpenOrRaise(const std::string& path, int flags) {
    const int fd = ::open(path.c_str(), flags | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) throw EOSError("Cannot open \"" + path + "\": " + std::strerror(errno), errno);
    return fd;
}

int ExitCodeOf(int status) {
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

} // namespace

TChildProgram::TChildProgram(const std::string& program, const std::vector<std::string>& arguments,
                             const std::string& outputFile, const std::string& errorFile)
    : FOutputFile(outputFile) {
    // Everything the child needs is made before fork: after it, only async-signal-safe calls are allowed.
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    const int input = OpenOrRaise("/dev/null", O_RDONLY);
    int output = -1, error = -1;
    try {
        output = OpenOrRaise(outputFile, O_WRONLY | O_CREAT | O_TRUNC);
        error = OpenOrRaise(errorFile, O_WRONLY | O_CREAT | O_TRUNC);
    } catch (...) {
        ::close(input);
        if (output >= 0) ::close(output);
        throw;
    }
    const pid_t parent = ::getpid();
    sigset_t none;
    sigemptyset(&none);
    FPid = ::fork();
    if (FPid == 0) {
        ::setpgid(0, 0);
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != parent) ::_exit(127); // the parent died before the line above
        struct sigaction standard {};
        standard.sa_handler = SIG_DFL;
        for (int signal : {SIGINT, SIGTERM, SIGPIPE, SIGHUP})
            ::sigaction(signal, &standard, nullptr);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        if (::dup2(input, 0) < 0 || ::dup2(output, 1) < 0 || ::dup2(error, 2) < 0) ::_exit(127);
        ::execv(program.c_str(), argv.data());
        const char message[] = "cannot execute the program\n";
        [[maybe_unused]] const auto written = ::write(2, message, sizeof message - 1);
        ::_exit(127);
    }
    const int forkError = errno;
    ::close(input);
    ::close(output);
    ::close(error);
    if (FPid < 0) throw EOSError("Cannot start \"" + program + "\": " + std::strerror(forkError), forkError);
}

TChildProgram::~TChildProgram() {
    Stop();
}

bool TChildProgram::Reap(bool wait) {
    if (FExitCode) return true;
    int status = 0;
    pid_t done;
    while ((done = ::waitpid(FPid, &status, wait ? 0 : WNOHANG)) < 0 && errno == EINTR) {
    }
    if (done == FPid)
        FExitCode = ExitCodeOf(status);
    else if (done < 0)
        FExitCode = -1;
    return FExitCode.has_value();
}

std::optional<std::string> TChildProgram::WaitForFirstLine(int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        std::string text;
        if (TryReadFileBytes(FOutputFile, text)) {
            if (const size_t end = text.find('\n'); end != std::string::npos) return text.substr(0, end);
        }
        if (Reap(false) || std::chrono::steady_clock::now() >= deadline) return std::nullopt;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

int TChildProgram::Stop(int signal, int graceMs) {
    if (FPid <= 0) return -1;
    if (!Reap(false)) {
        ::kill(FPid, signal);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(graceMs);
        while (!Reap(false) && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (!FExitCode) {
            ::kill(FPid, SIGKILL);
            Reap(true);
        }
    }
    return *FExitCode;
}
