#pragma once
// Runs the real kova-gadget for a test: the address line read from its output, the port and secret taken
// from it, and SIGTERM at scope end.

#include <string>
#include <sys/types.h>
#include <vector>

class TGadgetHostProcess {
public:
    // Starts kova-gadget with the arguments (add "--no-browser" yourself) and reads its address line.
    explicit TGadgetHostProcess(const std::vector<std::string>& args);
    ~TGadgetHostProcess();
    TGadgetHostProcess(const TGadgetHostProcess&) = delete;
    TGadgetHostProcess& operator=(const TGadgetHostProcess&) = delete;

    const std::string& Line() const { return FLine; } // "KovaGadget: http://127.0.0.1:PORT/#SECRET"
    int Port() const { return FPort; }
    const std::string& Secret() const { return FSecret; }
    pid_t Pid() const { return FPid; }

    // Sends the signal and waits; returns the exit code, or 128 + the signal when it was killed. Idempotent.
    int Stop(int signal = 15);

    // Runs kova-gadget to its end and returns its exit code; output receives what it printed on stdout.
    static int RunToEnd(const std::vector<std::string>& args, std::string* output = nullptr);

private:
    std::string FLine, FSecret;
    int FPort = 0;
    pid_t FPid = -1;
    int FExitCode = -1;
};
