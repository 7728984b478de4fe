#include "SandboxProcess.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

const std::string SandboxBinary = std::string(KOVA_BIN_DIR) + "/kova-sandbox";

size_t CollectBody(char* data, size_t size, size_t count, void* target) {
    static_cast<std::string*>(target)->append(data, size * count);
    return size * count;
}

pid_t Spawn(const std::vector<std::string>& args, int stdoutFd) {
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(SandboxBinary.c_str()));
    for (const std::string& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (stdoutFd >= 0) posix_spawn_file_actions_adddup2(&actions, stdoutFd, STDOUT_FILENO);
    pid_t pid = -1;
    const int error = posix_spawn(&pid, SandboxBinary.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0) throw std::runtime_error("cannot start " + SandboxBinary);
    return pid;
}

int WaitForExit(pid_t pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0)
        if (errno != EINTR) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Reads the first line the sandbox prints, waiting at most timeoutMs.
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

THttpsReply HttpsExchange(const THttpsRequest& request) {
    THttpsReply reply;
    CURL* curl = curl_easy_init();
    if (!curl) throw std::runtime_error("curl_easy_init failed");
    char error[CURL_ERROR_SIZE] = "";
    curl_slist* headers = nullptr;
    for (const std::string& header : request.Headers)
        headers = curl_slist_append(headers, header.c_str());
    curl_easy_setopt(curl, CURLOPT_URL, request.Url.c_str());
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, error);
    curl_easy_setopt(curl, CURLOPT_CAINFO, request.CAFile.c_str());
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
    curl_easy_setopt(curl, CURLOPT_SSLVERSION, CURL_SSLVERSION_TLSv1_2);
    curl_easy_setopt(curl, CURLOPT_NOPROXY, "*");
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, request.TimeoutMs);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, CollectBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &reply.Body);
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    if (request.Method == "POST") {
        curl_easy_setopt(curl, CURLOPT_POST, 1L);
        curl_easy_setopt(curl, CURLOPT_POSTFIELDS, request.Body.c_str());
        curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.Body.size()));
    }
    reply.Code = curl_easy_perform(curl);
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &reply.Status);
    reply.Error = error[0] ? error : curl_easy_strerror(reply.Code);
    curl_slist_free_all(headers);
    curl_easy_cleanup(curl);
    return reply;
}

TSandboxProcess::TSandboxProcess(const std::vector<std::string>& accounts,
                                 const std::vector<std::string>& extraArgs) {
    std::vector<std::string> args{"--state-dir", FStateDir.Path()};
    for (const std::string& account : accounts) {
        args.push_back("--account");
        args.push_back(account);
    }
    args.insert(args.end(), extraArgs.begin(), extraArgs.end());
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
    FUrl = ReadLine(output[0], 30000);
    close(output[0]);
    if (FUrl.rfind("https://127.0.0.1:", 0) != 0) {
        Stop();
        throw std::runtime_error("kova-sandbox did not print its URL (got \"" + FUrl + "\")");
    }
}

TSandboxProcess::~TSandboxProcess() {
    // A sandbox that crashed or leaked (under the sanitizers) fails the test that ran it.
    if (const int code = Stop(); code != 0) ADD_FAILURE() << "kova-sandbox exited with " << code;
}

int TSandboxProcess::Port() const {
    return std::stoi(FUrl.substr(FUrl.rfind(':') + 1));
}

int TSandboxProcess::Stop() {
    if (FPid > 0) {
        kill(FPid, SIGTERM);
        FExitCode = WaitForExit(FPid);
        FPid = -1;
    }
    return FExitCode;
}

int TSandboxProcess::RunExpectingFailure(const std::vector<std::string>& args) {
    const int devNull = open("/dev/null", O_WRONLY | O_CLOEXEC);
    const pid_t pid = Spawn(args, devNull);
    close(devNull);
    return WaitForExit(pid);
}

nlohmann::json TSandboxProcess::Control(const std::string& path, const nlohmann::json& body) {
    const THttpsReply reply =
        HttpsExchange({FUrl + path, "POST", body.dump(), {"Content-Type: application/json"}, CAPath()});
    if (reply.Code != CURLE_OK || reply.Status != 200)
        throw std::runtime_error("sandbox " + path + " failed: " + reply.Error + " " +
                                 std::to_string(reply.Status) + " " + reply.Body);
    return nlohmann::json::parse(reply.Body);
}

std::string TSandboxProcess::Token(const std::string& userName) {
    return Control("/sandbox/token", {{"username", userName}}).at("token").get<std::string>();
}

void TSandboxProcess::SignIn(const std::string& userName, const std::string& secretId) {
    Control("/sandbox/signin", {{"username", userName}, {"sid", secretId}});
}

void TSandboxProcess::Expire(const std::string& token) {
    Control("/sandbox/expire", {{"token", token}});
}

void TSandboxProcess::Fault(const nlohmann::json& fault) {
    Control("/sandbox/fault", fault);
}

void TSandboxProcess::Reset() {
    Control("/sandbox/reset", nlohmann::json::object());
}

nlohmann::json TSandboxProcess::Requests() {
    const THttpsReply reply = HttpsExchange({FUrl + "/sandbox/requests", "GET", "", {}, CAPath()});
    if (reply.Code != CURLE_OK || reply.Status != 200)
        throw std::runtime_error("sandbox /sandbox/requests failed: " + reply.Error);
    return nlohmann::json::parse(reply.Body).at("requests");
}
