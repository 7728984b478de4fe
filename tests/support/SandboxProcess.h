#pragma once
// Runs the real kova-sandbox for a test: a temporary state folder, the accounts asked for, the URL line read
// from its output, JSON helpers for its control endpoints, and SIGTERM at scope end.

#include "KovaTestSupport.h"

#include <curl/curl.h>
#include <nlohmann/json.hpp>
#include <string>
#include <sys/types.h>
#include <vector>

// The application keys a sandbox accepts unless it was started with --app-keys.
constexpr const char* SandboxDevID = "KovaSandboxDev";
constexpr const char* SandboxAppID = "KovaSandboxApp";
constexpr const char* SandboxCertID = "KovaSandboxCert";
// Signs an API call for a sandbox user as the worker thread does: the default application keys, the
// user's token and the compatibility level the gadget sends.
template <typename TCall> void SignForSandbox(TCall& call, const std::string& token) {
    call.DevName = SandboxDevID;
    call.AppName = SandboxAppID;
    call.CertName = SandboxCertID;
    call.Token = token;
    call.CompatibilityLevel = 527;
}
// The redirect name a sandbox accepts unless it was started with --runame: the gadget's own.
constexpr const char* SandboxRuName = "KovaGadget-KovaGadg-KovaSan-qzvnmbwa";

struct THttpsRequest {
    std::string Url;
    std::string Method = "GET"; // or "POST"
    std::string Body;
    std::vector<std::string> Headers; // "Name: value"
    std::string CAFile;               // trusted besides nothing else; verification always stays on
    long TimeoutMs = 15000;
};

struct THttpsReply {
    CURLcode Code = CURLE_OK; // CURLE_OK when a whole answer arrived
    long Status = 0;
    std::string Body;
    std::string Error;
};

// One HTTPS exchange through libcurl with peer and host verification.
THttpsReply HttpsExchange(const THttpsRequest& request);

class TSandboxProcess {
public:
    // accounts as "NAME:COUNT"; extraArgs are appended to the command line (--seed, --app-keys, ...).
    explicit TSandboxProcess(const std::vector<std::string>& accounts = {"demo:10"},
                             const std::vector<std::string>& extraArgs = {});
    ~TSandboxProcess();
    TSandboxProcess(const TSandboxProcess&) = delete;
    TSandboxProcess& operator=(const TSandboxProcess&) = delete;

    const std::string& Url() const { return FUrl; } // https://127.0.0.1:PORT
    std::string ApiUrl() const { return FUrl + "/ws/api.dll"; }
    int Port() const;
    std::string CAPath() const { return FStateDir.File("ca.pem"); }
    const std::string& StateDir() const { return FStateDir.Path(); }
    pid_t Pid() const { return FPid; }

    // POSTs a JSON object to a control endpoint and returns the JSON answer; raises std::runtime_error unless
    // the answer is 200.
    nlohmann::json Control(const std::string& path, const nlohmann::json& body);
    std::string Token(const std::string& userName);
    void SignIn(const std::string& userName, const std::string& secretId);
    void Expire(const std::string& token);
    void Fault(const nlohmann::json& fault);
    nlohmann::json Requests(); // the logged API requests, oldest first
    // The immutable id the sandbox gives the account (GET /sandbox/accounts); raises without such an account.
    std::string UserID(const std::string& userName);
    void Reset();

    // Sends SIGTERM and waits; returns the exit code, or 128 + the signal when it was killed. Idempotent.
    int Stop();

    // Runs kova-sandbox with arguments that must make it fail, and returns its exit code.
    static int RunExpectingFailure(const std::vector<std::string>& args);

private:
    TTempDir FStateDir;
    std::string FUrl;
    pid_t FPid = -1;
    int FExitCode = -1;
};
