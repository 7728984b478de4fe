#pragma once
// The HTTPS face of the sandbox: the Trading API endpoint, the sign-in page and the control endpoints,
// on 127.0.0.1 only, with TLS 1.2 or newer.

#include "SandboxCertificates.h"
#include "SandboxService.h"

#include <atomic>
#include <memory>

struct ssl_st;

namespace httplib {
class SSLServer;
struct Request;
struct Response;
} // namespace httplib

class TSandboxServer {
public:
    // latencyMs delays every API answer, as a distant server would.
    TSandboxServer(TSandboxService& service, const TSandboxCertificates& certificates, int latencyMs = 0);
    ~TSandboxServer();

    // Binds 127.0.0.1:port (0: any free port) and returns the port; raises std::runtime_error on failure.
    int Bind(int port);
    // Serves until Stop; call after Bind.
    void Run();
    // Blocks until Run accepts connections (or has given up).
    void WaitUntilServing() const;
    // Callable from any thread; also ends pending delays early.
    void Stop();

private:
    void RegisterRoutes();
    void HandleApi(const httplib::Request& req, httplib::Response& res);
    void ApplyFault(const TSandboxFault& fault, const std::string& answer, httplib::Response& res);
    // Waits; false as soon as the sandbox stops or the client of this thread's connection has gone away.
    bool WaitForClient(int milliseconds) const;
    // OpenSSL's certificate callback: hands the untrusted certificate to the connections a badcert fault
    // names.
    static int ChooseCertificate(ssl_st* ssl, void* server);

    TSandboxService& FService;
    const int FLatencyMs;
    // Made at start and trusted by no client, for the badcert fault.
    const TSandboxCertificates FUntrusted;
    std::unique_ptr<httplib::SSLServer> FServer;
    std::atomic<bool> FStopping{false};
    std::atomic<bool> FRunReturned{false};
};
