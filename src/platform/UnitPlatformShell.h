#pragma once
// Opening an address with the desktop's default handler (xdg-open, started without a shell).

#include <functional>
#include <string>

struct TShellOpenResult {
    bool Success = true;
    int ErrorCode = 0;     // errno when the opener could not start, else the opener's exit status
    std::string ErrorText; // the system's text for that code
};

// Starts the opener and waits briefly for its verdict; an opener still running after that is a success
// (some handlers stay in the foreground while the browser runs). An installed handler takes the address
// instead.
TShellOpenResult ShellOpen(const std::string& address);

// Takes addresses in place of the opener program: a host without a desktop of its own hands them to its
// page. An empty handler restores the opener; returns the previous handler.
using TShellOpenHandler = std::function<TShellOpenResult(const std::string& address)>;
TShellOpenHandler SetShellOpenHandler(TShellOpenHandler handler);

// Tests name another opener program (looked up on PATH); an empty name restores "xdg-open".
void SetShellOpenProgramForTesting(const std::string& program);
