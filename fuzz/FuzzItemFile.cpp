// "watchlist.dat" is read at every start: whatever it holds, loading must not crash, and what loaded must
// save and load again; the direct reader and the document reader must agree.
#include "items/UnitResultLst.h"
#include "items/UnitSearchResult.h"
#include "items/UnitXMLReaderAndWriter.h"

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
    TDetailsList items, throughDocument;
    TXMLReaderAndWriterRemindList documentReader;
    const bool loaded = items.LoadFromFile(FuzzFile());
    // The direct reader of the written form must answer as the document reader does, item for item.
    if (documentReader.ReadListFromDocument(FuzzFile(), throughDocument) != loaded ||
        throughDocument.Count() != items.Count())
        std::abort();
    for (int i = 0; i < items.Count(); ++i) {
        const TSearchResultAuctionDetails &a = items.GetAuction(i), &b = throughDocument.GetAuction(i);
        if (a.Description != b.Description || a.ArticleNumber != b.ArticleNumber || a.Link != b.Link ||
            a.EndTime != b.EndTime || a.PriceStandard != b.PriceStandard || a.Priority != b.Priority ||
            a.Reminded != b.Reminded || a.RelatedGroup != b.RelatedGroup ||
            a.DetailGalleryLinks != b.DetailGalleryLinks || a.HighBidder != b.HighBidder)
            std::abort();
    }
    if (!loaded) return 0;
    items.SaveToFile(FuzzFile());
    TDetailsList again;
    if (!again.LoadFromFile(FuzzFile()) || again.Count() != items.Count()) std::abort();
    return 0;
}
