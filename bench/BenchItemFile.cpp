// Saving and loading a watch list of 400 items (the most eBay keeps) through the item file, against pugixml
// saving and loading the very same document on its own.
#include "../tests/items/ItemsTestHelpers.h"
#include "items/UnitResultLst.h"
#include "platform/UnitPlatformFiles.h"

#include <benchmark/benchmark.h>
#include <filesystem>
#include <pugixml.hpp>
#include <sstream>
#include <string>

namespace {

constexpr int ItemCount = 400;

const std::string& Folder() {
    static const std::string folder = [] {
        const auto dir = std::filesystem::temp_directory_path() / "kova-bench-itemfile";
        std::filesystem::create_directories(dir);
        return dir.string();
    }();
    return folder;
}

// The file the load benchmarks read, written once by the item file itself.
const std::string& SampleFile() {
    static const std::string path = [] {
        const std::string p = Folder() + "/sample.dat";
        TDetailsList list;
        for (int n = 0; n < ItemCount; ++n)
            list.Add(MakeFullAuction(n));
        list.SaveToFile(p);
        return p;
    }();
    return path;
}

void BM_ItemFileSave(benchmark::State& state) {
    TDetailsList list;
    for (int n = 0; n < ItemCount; ++n)
        list.Add(MakeFullAuction(n));
    const std::string path = Folder() + "/save.dat";
    for (auto _ : state)
        list.SaveToFile(path);
}

void BM_PugixmlSave(benchmark::State& state) {
    pugi::xml_document doc;
    doc.load_file(SampleFile().c_str());
    const std::string path = Folder() + "/pugi-save.dat";
    for (auto _ : state)
        benchmark::DoNotOptimize(doc.save_file(path.c_str(), "", pugi::format_raw));
}

// The same document written as the item file writes it: to a temporary file flushed to disk, renamed over
// the old one, the folder flushed. It tells how much of the save is the serialisation and how much the disk.
void BM_PugixmlSaveDurable(benchmark::State& state) {
    pugi::xml_document doc;
    doc.load_file(SampleFile().c_str());
    const std::string path = Folder() + "/pugi-save-durable.dat";
    for (auto _ : state) {
        std::ostringstream text;
        doc.save(text, "", pugi::format_raw);
        WriteFileAtomic(path, text.str(), TFileAccess::Shared, TFileKeep::Durable);
    }
}

void BM_ItemFileLoad(benchmark::State& state) {
    const std::string& path = SampleFile();
    for (auto _ : state) {
        TDetailsList list;
        benchmark::DoNotOptimize(list.LoadFromFile(path));
        if (list.Count() != ItemCount) state.SkipWithError("items missing");
    }
}

void BM_PugixmlLoad(benchmark::State& state) {
    const std::string& path = SampleFile();
    for (auto _ : state) {
        pugi::xml_document doc;
        benchmark::DoNotOptimize(doc.load_file(path.c_str()));
    }
}

// What any load of the list costs before it reads a byte: making the 400 items with every text they hold,
// copied from items already in memory, and freeing them again.
void BM_ItemsCopiedOnly(benchmark::State& state) {
    using T = TSearchResultAuctionDetails;
    using TText = std::string T::*;
    static const TText texts[] = {
        &T::Description, &T::MarketPlaceName, &T::PictureFilename, &T::ArticleNumber,
        &T::Link,        &T::GaleryLink,      &T::ShippingTo,      &T::Region,
        &T::Location,    &T::QuestionLink,    &T::SellerName,      &T::DetailImageLink,
        &T::FullKey,     &T::Freetext,        &T::SkypeID,         &T::HighBidder};
    TDetailsList loaded;
    loaded.LoadFromFile(SampleFile());
    for (auto _ : state) {
        TDetailsList list;
        for (int n = 0; n < loaded.Count(); ++n) {
            const T& from = loaded.GetAuction(n);
            auto item = std::make_unique<T>();
            for (const TText text : texts)
                (*item).*text = from.*text;
            item->DetailGalleryLinks = from.DetailGalleryLinks;
            list.Add(std::move(item));
        }
        benchmark::DoNotOptimize(list);
    }
}

} // namespace

BENCHMARK(BM_ItemFileSave)->Unit(benchmark::kMicrosecond)->Repetitions(7)->ReportAggregatesOnly(true);
BENCHMARK(BM_PugixmlSave)->Unit(benchmark::kMicrosecond)->Repetitions(7)->ReportAggregatesOnly(true);
BENCHMARK(BM_PugixmlSaveDurable)->Unit(benchmark::kMicrosecond)->Repetitions(7)->ReportAggregatesOnly(true);
BENCHMARK(BM_ItemFileLoad)->Unit(benchmark::kMicrosecond)->Repetitions(7)->ReportAggregatesOnly(true);
BENCHMARK(BM_ItemsCopiedOnly)->Unit(benchmark::kMicrosecond)->Repetitions(7)->ReportAggregatesOnly(true);
BENCHMARK(BM_PugixmlLoad)->Unit(benchmark::kMicrosecond)->Repetitions(7)->ReportAggregatesOnly(true);
