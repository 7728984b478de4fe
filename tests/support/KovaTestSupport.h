#pragma once
// Shared test helpers: temporary folders, a settable clock, a scoped message-box recorder.

#include "platform/UnitPlatformClock.h"

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

// A fresh folder under the system's temporary directory, removed with everything in it at scope end.
class TTempDir {
public:
    TTempDir();
    ~TTempDir();
    TTempDir(const TTempDir&) = delete;
    TTempDir& operator=(const TTempDir&) = delete;
    const std::string& Path() const { return FPath; }
    // Path of a file in the folder.
    std::string File(const std::string& name) const { return FPath + "/" + name; }
    // Writes a file in the folder and returns its path.
    std::string Write(const std::string& name, const std::string& data) const;

private:
    std::string FPath;
};

// A clock that stands still until a test moves it; installed for its lifetime.
class TManualClock : public TPlatformClock {
public:
    explicit TManualClock(TDateTime local, TDateTime utc = 0);
    ~TManualClock() override;
    TDateTime NowLocal() override;
    TDateTime NowUTC() override;
    uint64_t TickCount64() override { return FTicks.load(); }
    void SetLocal(TDateTime local);
    // Moves local time, UTC and the tick counter together.
    void AdvanceMs(int64_t ms);

private:
    std::mutex FLock;
    TDateTime FLocal, FUtc;
    std::atomic<uint64_t> FTicks{1000};
    TPlatformClock* FPrevious;
};

// Records every message box shown while it lives, answering with a fixed button.
class TMessageBoxRecorder {
public:
    explicit TMessageBoxRecorder(int answer = 1);
    ~TMessageBoxRecorder();
    struct TShown {
        std::string Text, Caption;
        unsigned Flags;
    };
    std::vector<TShown> Shown();

private:
    std::mutex FLock;
    std::vector<TShown> FShown;
};

// Reads a whole file, or "" when it does not exist.
std::string ReadTextFile(const std::string& path);

// The message of the system's exception that the action raises, or "no error".
std::string ErrorOf(const std::function<void()>& action);

// Every write through the platform's file functions fails as on a full disk while it lives.
struct TFullDisk {
    TFullDisk();
    ~TFullDisk();
};
