#include "support/UnwritableFolder.h"

#include "platform/UnitPlatformFiles.h"

#include <filesystem>

TUnwritableFolder::TUnwritableFolder(const std::string& folder) : FFolder(folder) {
    namespace fs = std::filesystem;
    fs::permissions(folder, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
    const std::string probe = folder + "/.write-probe";
    try {
        WriteFileAtomic(probe, "x");
    } catch (const std::exception&) {
        return;
    }
    fs::remove(probe);
    SetWriteFaultForTesting([](const std::string&) { return true; });
    FSimulated = true;
}

TUnwritableFolder::~TUnwritableFolder() {
    if (FSimulated) SetWriteFaultForTesting({});
    std::error_code ec;
    std::filesystem::permissions(FFolder, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
}
