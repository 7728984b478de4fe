#include "host/KovaGadgetLock.h"

#include "platform/UnitPlatformPrivateFiles.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <thread>

std::string KovaGadgetHostSocketPath(const std::string& gadgetDir) {
    std::error_code error;
    const std::string real = std::filesystem::weakly_canonical(gadgetDir, error).string();
    // FNV-1a: the same name for every build of the program, which std::hash does not promise.
    uint64_t hash = 14695981039346656037ull;
    for (const char c : error ? gadgetDir : real) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 1099511628211ull;
    }
    char name[32];
    std::snprintf(name, sizeof name, "host-%016llx.sock", static_cast<unsigned long long>(hash));
    return PrivateRuntimeFolder("kova-gadget") + "/" + name;
}

namespace {

constexpr const char* SocketNote = "socket ";

} // namespace

std::unique_ptr<TKovaGadgetLock> TKovaGadgetLock::TryTake(const std::string& gadgetDir, std::string& heldBy) {
    auto lock = TFolderLock::TryTake(gadgetDir, KovaLockFileName, heldBy);
    if (!lock) return nullptr;
    // A dead host's note must not send a later start to its socket while this one starts to listen.
    lock->Note("");
    // Without a socket the host still runs and holds the folder; later starts only cannot reach it.
    std::string socketPath, freshFolder, unreachable;
    try {
        socketPath = KovaGadgetHostSocketPath(gadgetDir);
    } catch (const std::exception& e) {
        // The usual name is another user's (or open to others): a folder of this host's own, which its
        // note in the lock file names.
        try {
            freshFolder = MakeFreshPrivateFolder("kova-gadget");
            socketPath = freshFolder + "/host.sock";
        } catch (const std::exception& again) {
            unreachable = std::string(e.what()) + " " + again.what();
        }
    }
    auto taken = std::unique_ptr<TKovaGadgetLock>(new TKovaGadgetLock(std::move(lock), socketPath));
    taken->FFreshFolder = freshFolder;
    taken->FUnreachable = unreachable;
    return taken;
}

TKovaGadgetLock::TKovaGadgetLock(std::unique_ptr<TFolderLock> lock, std::string socketPath)
    : FLock(std::move(lock)), FSocketPath(std::move(socketPath)) {
}

TKovaGadgetLock::~TKovaGadgetLock() {
    FListener.reset();
    if (!FFreshFolder.empty()) RemovePrivateFile(TPrivateFile{"", FFreshFolder, ""});
}

bool TKovaGadgetLock::Listen(std::function<std::string(const std::string& choice)> openPage) {
    if (FSocketPath.empty()) return false;
    try {
        FListener = std::make_unique<TLocalSocketListener>(
            FSocketPath, [openPage = std::move(openPage)](const std::string& request) -> std::string {
                const std::string prefix = std::string(KovaOpenPageRequest) + " ";
                if (request == KovaOpenPageRequest) return KovaPageAnswer + openPage("");
                const std::string choice = request.rfind(prefix, 0) == 0 ? request.substr(prefix.size()) : "";
                if (choice != "app" && choice != "tab" && choice != "none") return "unknown request";
                return KovaPageAnswer + openPage(choice);
            });
    } catch (const std::exception& e) {
        FUnreachable = e.what();
        return false;
    }
    FLock->Note(SocketNote + FSocketPath);
    return true;
}

std::optional<std::string> AskKovaGadgetHostToOpen(const std::string& gadgetDir, int timeoutMs,
                                                   const std::string& choice) {
    std::string request =
        choice.empty() ? std::string(KovaOpenPageRequest) : std::string(KovaOpenPageRequest) + " " + choice;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now())
                .count();
        if (left <= 0) return std::nullopt;
        // The running host's note names its socket; before it listens, the usual name is asked.
        std::string socketPath;
        if (const auto note = TFolderLock::ReadNote(gadgetDir, KovaLockFileName);
            note && note->rfind(SocketNote, 0) == 0) {
            socketPath = note->substr(std::string(SocketNote).size());
        } else {
            try {
                socketPath = KovaGadgetHostSocketPath(gadgetDir);
            } catch (const std::exception&) {
            }
        }
        const auto answer =
            socketPath.empty() ? std::nullopt : AskLocalSocket(socketPath, request, static_cast<int>(left));
        if (answer && answer->rfind(KovaPageAnswer, 0) == 0)
            return answer->substr(std::string(KovaPageAnswer).size());
        // A host of an older version takes the request without a choice, and opens the page its own way.
        if (answer && request != KovaOpenPageRequest) request = KovaOpenPageRequest;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}
