#pragma once
// One host per gadget directory: the host locks a file in the folder, and a later kova-gadget on the same
// folder asks the running host over a local socket to open its page again instead of starting a second host.
// The host notes its socket's path in the lock file, where only its user can write, so that a later start
// finds the socket wherever it had to go (a shared $TMPDIR where another user took the usual name).

#include "platform/UnitPlatformInstance.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>

// The socket of the host on a gadget directory: "host-" and a hash of the folder's real path, in
// PrivateRuntimeFolder("kova-gadget"). Raises EFCreateError when there is no private folder for it.
std::string KovaGadgetHostSocketPath(const std::string& gadgetDir);

// The lock file in the gadget directory.
constexpr const char* KovaLockFileName = ".kova-gadget.lock";

// The request a later start sends (followed by a blank and its browser choice when it has one), and the
// answer's prefix that carries the page address.
constexpr const char* KovaOpenPageRequest = "open-page";
constexpr const char* KovaPageAnswer = "page ";

class TKovaGadgetLock {
public:
    // The lock on the folder, or nothing when a host holds it already; heldBy then names the other user who
    // holds it ("user NAME"), empty when it is a host of this user.
    static std::unique_ptr<TKovaGadgetLock> TryTake(const std::string& gadgetDir, std::string& heldBy);
    ~TKovaGadgetLock();

    // Answers later starts on the socket: openPage opens a page with the later start's browser choice ("" for
    // the host's own) and returns its address (any thread). False when there is no socket; Unreachable()
    // says why.
    bool Listen(std::function<std::string(const std::string& choice)> openPage);
    const std::string& Unreachable() const { return FUnreachable; }
    // Stops answering; waits for an answer that is running.
    void StopListening() { FListener.reset(); }

private:
    TKovaGadgetLock(std::unique_ptr<TFolderLock> lock, std::string socketPath);
    std::unique_ptr<TFolderLock> FLock;
    std::string FSocketPath;
    std::string FFreshFolder; // made for this host's socket alone, removed with it
    std::string FUnreachable;
    std::unique_ptr<TLocalSocketListener> FListener;
};

// Asks the host that holds the folder to open its page; returns the page's address, or nothing when no host
// answered within timeoutMs (one that is still starting gets that long to listen).
// choice: the browser choice the page is to be opened with, "" for the running host's own.
std::optional<std::string> AskKovaGadgetHostToOpen(const std::string& gadgetDir, int timeoutMs,
                                                   const std::string& choice = "");
