// Reading every setting through the section classes against reading the settings file's bytes alone: each
// setting read goes to the file again, so the first costs about ten of the second plus the parsing.
#include "platform/UnitPlatformFiles.h"
#include "storage/UnitKovaIniFile.h"

#include <benchmark/benchmark.h>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

// A gadget directory holding a settings file in which every key differs from its default.
class TSettingsDirectory {
public:
    TSettingsDirectory() {
        std::string pattern = (std::filesystem::temp_directory_path() / "kova-bench-XXXXXX").string();
        if (!mkdtemp(pattern.data())) std::abort();
        FPath = pattern + "/";
        WriteFileAtomic(FPath + "KovaGadget.ini", "[Proxy]\r\n"
                                                  "UsesProxy=1\r\n"
                                                  "Port=3128\r\n"
                                                  "Server=proxy.corp.example\r\n"
                                                  "NeedsAuthentication=1\r\n"
                                                  "ProxyDat=proxy.dat\r\n"
                                                  "\r\n"
                                                  "[Watchlist]\r\n"
                                                  "AuctionsAutomaticRefresh=1\r\n"
                                                  "AuctionsRefreshOnStart=0\r\n"
                                                  "AuctionsRefreshTime=10\r\n"
                                                  "AuctionsMarkHighbidder=0\r\n"
                                                  "\r\n"
                                                  "[EBayLogin]\r\n"
                                                  "EbayDat=ebtmp.dat\r\n");
    }
    ~TSettingsDirectory() { std::filesystem::remove_all(FPath); }
    const std::string& Path() const { return FPath; }

private:
    std::string FPath;
};

void BM_ReadEverySetting(benchmark::State& state) {
    TSettingsDirectory dir;
    InitIniFileManager("KovaGadget.ini", dir.Path());
    const TIniFileManager& manager = *IniFileManager();
    for (auto _ : state) {
        const auto& proxy = manager.ProxySettings();
        const auto& watchlist = manager.Watchlist();
        benchmark::DoNotOptimize(proxy.UsesProxy());
        benchmark::DoNotOptimize(proxy.Port());
        benchmark::DoNotOptimize(proxy.Server());
        benchmark::DoNotOptimize(proxy.NeedsAuthentication());
        benchmark::DoNotOptimize(proxy.ProxyDat());
        benchmark::DoNotOptimize(watchlist.AuctionsAutomaticRefresh());
        benchmark::DoNotOptimize(watchlist.AuctionsRefreshOnStart());
        benchmark::DoNotOptimize(watchlist.AuctionsRefreshTime());
        benchmark::DoNotOptimize(watchlist.AuctionsMarkHighbidder());
        benchmark::DoNotOptimize(manager.EbayLoginData().EbayDat());
    }
    FreeIniFileManager();
}
BENCHMARK(BM_ReadEverySetting);

void BM_ReadFileBytes(benchmark::State& state) {
    TSettingsDirectory dir;
    const std::string path = dir.Path() + "KovaGadget.ini";
    for (auto _ : state)
        benchmark::DoNotOptimize(ReadFileBytes(path));
}
BENCHMARK(BM_ReadFileBytes);

} // namespace
