// The settings file may have been edited by hand: every key must read, and writing one key must leave the
// others as they read before.
#include "storage/UnitKovaIniFile.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

const std::filesystem::path& FuzzDirectory() {
    static const std::filesystem::path directory = [] {
        std::string pattern = (std::filesystem::temp_directory_path() / "kova-fuzz-ini-XXXXXX").string();
        if (!mkdtemp(pattern.data())) std::abort();
        return std::filesystem::path(pattern);
    }();
    return directory;
}

std::vector<std::string> ReadEverything(const TIniFileManager& manager) {
    const auto& proxy = manager.ProxySettings();
    const auto& watchlist = manager.Watchlist();
    return {std::to_string(proxy.UsesProxy()),
            std::to_string(proxy.Port()),
            proxy.Server(),
            std::to_string(proxy.NeedsAuthentication()),
            proxy.ProxyDat(),
            std::to_string(watchlist.AuctionsAutomaticRefresh()),
            std::to_string(watchlist.AuctionsRefreshOnStart()),
            std::to_string(watchlist.AuctionsRefreshTime()),
            std::to_string(watchlist.AuctionsMarkHighbidder()),
            manager.EbayLoginData().EbayDat()};
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string directory = FuzzDirectory().string() + "/";
    {
        std::ofstream out(directory + "KovaGadget.ini", std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    TIniFileManager manager("KovaGadget.ini", directory);
    std::vector<std::string> expected = ReadEverything(manager);
    // Storing a value, then deleting it again (the empty default): the other keys read as before.
    for (const std::string value : {"fuzz value", ""}) {
        try {
            manager.ProxySettings().SetServer(value);
        } catch (const Exception&) {
            return 0; // the file could not be replaced
        }
        std::vector<std::string> now = ReadEverything(manager);
        if (!value.empty() && now[2] != value) std::abort();
        now[2] = expected[2] = "";
        if (now != expected) std::abort();
    }
    return 0;
}
