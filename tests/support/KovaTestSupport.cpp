#include "KovaTestSupport.h"

#include "base/UnitExceptions.h"
#include "platform/UnitPlatformFiles.h"
#include "platform/UnitPlatformMessageBox.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

TTempDir::TTempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "kova-test-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    FPath = pattern;
}

TTempDir::~TTempDir() {
    std::error_code ec;
    // A test may have made the folder read-only; give write access back so that it can be removed.
    std::filesystem::permissions(FPath, std::filesystem::perms::owner_all, std::filesystem::perm_options::add,
                                 ec);
    std::filesystem::remove_all(FPath, ec);
}

std::string TTempDir::Write(const std::string& name, const std::string& data) const {
    const std::string path = File(name);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << data;
    return path;
}

TManualClock::TManualClock(TDateTime local, TDateTime utc) : FLocal(local), FUtc(utc == 0 ? local : utc) {
    FPrevious = SetClock(this);
}

TManualClock::~TManualClock() {
    SetClock(FPrevious);
}

TDateTime TManualClock::NowLocal() {
    std::lock_guard lock(FLock);
    return FLocal;
}

TDateTime TManualClock::NowUTC() {
    std::lock_guard lock(FLock);
    return FUtc;
}

void TManualClock::SetLocal(TDateTime local) {
    std::lock_guard lock(FLock);
    FLocal = local;
}

void TManualClock::AdvanceMs(int64_t ms) {
    std::lock_guard lock(FLock);
    FLocal += ms / MSecsPerDay;
    FUtc += ms / MSecsPerDay;
    FTicks += static_cast<uint64_t>(ms);
}

TMessageBoxRecorder::TMessageBoxRecorder(int answer) {
    SetMessageBoxHandler([this, answer](const std::string& text, const std::string& caption, unsigned flags) {
        std::lock_guard lock(FLock);
        FShown.push_back({text, caption, flags});
        return answer;
    });
}

TMessageBoxRecorder::~TMessageBoxRecorder() {
    SetMessageBoxHandler({});
}

std::vector<TMessageBoxRecorder::TShown> TMessageBoxRecorder::Shown() {
    std::lock_guard lock(FLock);
    return FShown;
}

std::string ReadTextFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

std::string ErrorOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const Exception& e) {
        return e.what();
    }
    return "no error";
}

TFullDisk::TFullDisk() {
    SetWriteFaultForTesting([](const std::string&) { return true; });
}

TFullDisk::~TFullDisk() {
    SetWriteFaultForTesting(nullptr);
}
