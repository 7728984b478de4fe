#include "SandboxProcess.h"

#include "ChildProcess.h"
#include "platform/UnitPlatformRunProgram.h"

#include <csignal>
#include <gtest/gtest.h>
#include <stdexcept>

namespace {

const std::string SandboxBinary = std::string(KOVA_BIN_DIR) + "/kova-sandbox";

size_t CollectBody(char* data, size_t size, size_t count, void* target) {
    static_cast<std::string*>(target)->append(data, size * count);
    return size * count;
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
    const TChildProcess child = StartChildReadingFirstLine(SandboxBinary, args);
    FPid = child.Pid;
    FUrl = child.FirstLine;
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
        FExitCode = StopChild(FPid, SIGTERM);
        FPid = -1;
    }
    return FExitCode;
}

int TSandboxProcess::RunExpectingFailure(const std::vector<std::string>& args) {
    return RunProgram(SandboxBinary, args).ExitCode;
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

std::string TSandboxProcess::UserID(const std::string& userName) {
    const THttpsReply reply = HttpsExchange({FUrl + "/sandbox/accounts", "GET", "", {}, CAPath()});
    if (reply.Code != CURLE_OK || reply.Status != 200)
        throw std::runtime_error("sandbox /sandbox/accounts failed: " + reply.Error);
    const nlohmann::json list = nlohmann::json::parse(reply.Body);
    for (const nlohmann::json& account : list.at("accounts"))
        if (account.at("username").get<std::string>() == userName)
            return account.at("userId").get<std::string>();
    throw std::runtime_error("the sandbox has no account " + userName);
}

nlohmann::json TSandboxProcess::Requests() {
    const THttpsReply reply = HttpsExchange({FUrl + "/sandbox/requests", "GET", "", {}, CAPath()});
    if (reply.Code != CURLE_OK || reply.Status != 200)
        throw std::runtime_error("sandbox /sandbox/requests failed: " + reply.Error);
    return nlohmann::json::parse(reply.Body).at("requests");
}
