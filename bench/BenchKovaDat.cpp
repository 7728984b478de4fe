// Loading a realistic application data file with LoadGadgetDat (read, key derivation, AES, MD5, inflate,
// XML, 18 typed reads) against reading the same XML file with pugixml alone. The two middle benchmarks split
// the difference: the container alone, and LoadGadgetDat on the plain XML (blank pass phrase); the last one
// times what the plain XML load spends before reading a byte.
// Run: build/normal/bin/BenchKovaDat --benchmark_repetitions=10 --benchmark_report_aggregates_only=true

#include "platform/UnitPlatformFiles.h"
#include "storage/UnitKovaDat.h"

#include <benchmark/benchmark.h>
#include <filesystem>
#include <pugixml.hpp>
#include <random>
#include <string>

namespace {

// The gadget's data file as it ships: every key set, keys and links of production length.
const char* const RealisticXml = R"(<?xml version="1.0" encoding="UTF-8"?>
<KOVADAT>
  <COMMON>
    <UPDATESERVER>https://www.kovasoft.example/gadget/update/version.xml</UPDATESERVER>
    <USETRACKER>True</USETRACKER>
    <LINKONLINEHELP>https://www.kovasoft.example/gadget/help/index.html</LINKONLINEHELP>
    <LINKHOME>https://www.kovasoft.example/</LINKHOME>
    <LINKDOWNLOADPAGE>https://www.kovasoft.example/gadget/download.html</LINKDOWNLOADPAGE>
    <LINKFETCHTOKENSIGNIN>https://signin.ebay.com/ws/eBayISAPI.dll?SignIn&amp;runame=MYRUNAME&amp;SessID=USERSID</LINKFETCHTOKENSIGNIN>
    <FILENAMEPRIVACYSTATEMENT>privacy_statement.html</FILENAMEPRIVACYSTATEMENT>
    <FILENAMELICENCEAGREEMENT>licence_agreement.html</FILENAMELICENCEAGREEMENT>
    <TRACKER>https://rover.ebay.example/rover/1/707-53477-19255-0/1?icep_ff3=2&amp;pub=5575123456&amp;toolid=10001&amp;campid=5336789012&amp;customid=gadget&amp;mpre=</TRACKER>
  </COMMON>
  <EBAYAPI>
    <APIAuthorizationToken></APIAuthorizationToken>
    <APICertID>PRD-1a2b3c4d5e6f-7a8b-4c9d-8e0f-1a2b</APICertID>
    <APIAppID>KovaSoft-KovaGadg-PRD-71a2b3c4d-5e6f7a8b</APIAppID>
    <APIDevID>0f1e2d3c-4b5a-6978-8796-a5b4c3d2e1f0</APIDevID>
    <APIServerProduction>https://api.ebay.com/ws/api.dll</APIServerProduction>
    <APIServerSandbox>https://api.sandbox.ebay.com/ws/api.dll</APIServerSandbox>
    <APICountRetryPostOnFail>3</APICountRetryPostOnFail>
    <APIActive>True</APIActive>
    <APISiteID>77</APISiteID>
  </EBAYAPI>
</KOVADAT>
)";

// A gadget directory holding "KovaDat.dat" and the same payload as "KovaDat.xml"; removed at exit.
struct TBenchDir {
    TBenchDir() {
        std::random_device random;
        Path =
            (std::filesystem::temp_directory_path() / ("BenchKovaDat-" + std::to_string(random()))).string() +
            "/";
        std::filesystem::create_directory(Path);
        WriteFileAtomic(Path + "KovaDat.dat", PackKovaDat(RealisticXml));
        WriteFileAtomic(Path + "KovaDat.xml", RealisticXml);
    }
    ~TBenchDir() { std::filesystem::remove_all(Path); }
    std::string Path;
};

const TBenchDir& Dir() {
    static const TBenchDir dir;
    return dir;
}

void BM_LoadGadgetDat(benchmark::State& state) {
    const std::string& dir = Dir().Path;
    for (auto _ : state) {
        LoadGadgetDat(dir, "");
        benchmark::DoNotOptimize(GadgetDat()->EbayAPI().APISiteID);
    }
    FreeGadgetDat();
}

struct TPugiValues {
    std::string Strings[14];
    bool UseTracker, Active;
    int Retries, SiteID;
};

void BM_PugixmlAlone(benchmark::State& state) {
    const std::string path = Dir().Path + "KovaDat.xml";
    static const char* const commonTexts[] = {"UPDATESERVER",
                                              "LINKONLINEHELP",
                                              "LINKHOME",
                                              "LINKDOWNLOADPAGE",
                                              "LINKFETCHTOKENSIGNIN",
                                              "FILENAMEPRIVACYSTATEMENT",
                                              "FILENAMELICENCEAGREEMENT",
                                              "TRACKER"};
    static const char* const apiTexts[] = {"APIAuthorizationToken", "APICertID",       "APIAppID", "APIDevID",
                                           "APIServerProduction",   "APIServerSandbox"};
    for (auto _ : state) {
        pugi::xml_document doc;
        if (!doc.load_file(path.c_str())) state.SkipWithError("pugixml cannot read the file");
        const pugi::xml_node common = doc.document_element().child("COMMON");
        const pugi::xml_node api = doc.document_element().child("EBAYAPI");
        TPugiValues v;
        int i = 0;
        for (const char* name : commonTexts)
            v.Strings[i++] = common.child(name).text().as_string();
        for (const char* name : apiTexts)
            v.Strings[i++] = api.child(name).text().as_string();
        v.UseTracker = common.child("USETRACKER").text().as_bool();
        v.Retries = api.child("APICountRetryPostOnFail").text().as_int();
        v.Active = api.child("APIActive").text().as_bool();
        v.SiteID = api.child("APISiteID").text().as_int();
        benchmark::DoNotOptimize(v);
    }
}

void BM_ContainerOnly(benchmark::State& state) {
    const std::string file = ReadFileBytes(Dir().Path + "KovaDat.dat");
    for (auto _ : state)
        benchmark::DoNotOptimize(UnpackKovaDat(file));
}

void BM_LoadGadgetDatPlainXml(benchmark::State& state) {
    const std::string path = Dir().Path + "KovaDat.xml";
    for (auto _ : state) {
        LoadGadgetDat("", path, "");
        benchmark::DoNotOptimize(GadgetDat()->EbayAPI().APISiteID);
    }
    FreeGadgetDat();
}

// Making the two section readers: each TParserBaseXML takes its own copy of the user's locale settings.
void BM_SectionReadersOnly(benchmark::State& state) {
    for (auto _ : state) {
        TDatCommon common;
        TDatEbayAPI api;
        benchmark::DoNotOptimize(api.APISiteID);
    }
}

} // namespace

BENCHMARK(BM_LoadGadgetDat);
BENCHMARK(BM_PugixmlAlone);
BENCHMARK(BM_ContainerOnly);
BENCHMARK(BM_LoadGadgetDatPlainXml);
BENCHMARK(BM_SectionReadersOnly);
