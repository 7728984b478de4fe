// "watchlist.dat" is read at every start: whatever it holds, loading must not crash, and what loaded must
// save and load again.
#include "items/UnitResultLst.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

const std::string& FuzzFile() {
    static const std::string path = [] {
        std::string pattern = (std::filesystem::temp_directory_path() / "kova-fuzz-items-XXXXXX").string();
        if (!mkdtemp(pattern.data())) std::abort();
        return pattern + "/watchlist.dat";
    }();
    return path;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    {
        std::ofstream out(FuzzFile(), std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    TDetailsList items;
    if (!items.LoadFromFile(FuzzFile())) return 0;
    items.SaveToFile(FuzzFile());
    TDetailsList again;
    if (!again.LoadFromFile(FuzzFile()) || again.Count() != items.Count()) std::abort();
    return 0;
}
