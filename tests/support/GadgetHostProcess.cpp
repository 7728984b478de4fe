#include "GadgetHostProcess.h"

#include "ChildProcess.h"
#include "platform/UnitPlatformRunProgram.h"

#include <gtest/gtest.h>
#include <regex>
#include <stdexcept>

namespace {

const std::string HostBinary = std::string(KOVA_BIN_DIR) + "/kova-gadget";

} // namespace

TGadgetHostProcess::TGadgetHostProcess(const std::vector<std::string>& args) {
    const TChildProcess child = StartChildReadingFirstLine(HostBinary, args);
    FPid = child.Pid;
    FLine = child.FirstLine;
    std::smatch match;
    if (!std::regex_match(FLine, match,
                          std::regex(R"(KovaGadget: http://127\.0\.0\.1:(\d+)/#([A-Za-z0-9_-]+))"))) {
        Stop();
        throw std::runtime_error("kova-gadget did not print its address (got \"" + FLine + "\")");
    }
    FPort = std::stoi(match[1]);
    FSecret = match[2];
}

TGadgetHostProcess::~TGadgetHostProcess() {
    if (const int code = Stop(); code != 0) ADD_FAILURE() << "kova-gadget exited with " << code;
}

int TGadgetHostProcess::Stop(int signal) {
    if (FPid > 0) {
        FExitCode = StopChild(FPid, signal);
        FPid = -1;
    }
    return FExitCode;
}

int TGadgetHostProcess::RunToEnd(const std::vector<std::string>& args, std::string* output) {
    const TProgramRun run = RunProgram(HostBinary, args);
    if (output) *output = run.Output;
    return run.ExitCode;
}
