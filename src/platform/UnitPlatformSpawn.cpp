#include "platform/UnitPlatformSpawn.h"

#include "platform/UnitPlatformEnvironment.h"

#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

std::string FindProgramOnPath(const std::string& name) {
    if (name.empty() || name.find('/') != std::string::npos) return "";
    const std::string path = GetEnvironmentVariable("PATH").value_or("/usr/local/bin:/usr/bin:/bin");
    size_t start = 0;
    for (;;) {
        const size_t end = path.find(':', start);
        const std::string folder =
            path.substr(start, end == std::string::npos ? std::string::npos : end - start);
        // An empty entry is the current folder.
        const std::string candidate = (folder.empty() ? std::string(".") : folder) + "/" + name;
        struct stat info {};
        if (::stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
            ::access(candidate.c_str(), X_OK) == 0)
            return candidate;
        if (end == std::string::npos) return "";
        start = end + 1;
    }
}

std::string StartDetachedProgram(const std::string& program, const std::vector<std::string>& arguments) {
    std::vector<std::string> strings{program};
    strings.insert(strings.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& s : strings)
        argv.push_back(s.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    // A session of its own: a terminal's hang-up or Ctrl+C for the host does not close the window.
    posix_spawnattr_setflags(&attributes,
                             POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    sigset_t signals;
    sigemptyset(&signals);
    posix_spawnattr_setsigmask(&attributes,
                               &signals); // the host blocks its stop signals; the program must not
    sigaddset(&signals, SIGPIPE);         // nor ignore what the host ignores
    posix_spawnattr_setsigdefault(&attributes, &signals);
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, program.c_str(), &actions, &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) return "\"" + program + "\" cannot be started: " + std::strerror(rc);
    // Reaped when it ends, so that no zombie stays behind.
    std::thread([pid] {
        int ignored;
        ::waitpid(pid, &ignored, 0);
    }).detach();
    return "";
}
