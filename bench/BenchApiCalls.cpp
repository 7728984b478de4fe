// The Trading API client against its libraries alone, in one run:
// - parsing one 100-item watch list page (a real sandbox answer) against pugixml loading the same bytes;
// - loading a 400-item watch list in four pages through GetMyeBayBuying from the sandbox over HTTPS against
//   libcurl alone posting the same four bodies with the same headers on one reused handle and discarding the
//   answers. The call keeps one client, so its pages share a connection as libcurl's do.
// The bench programs link neither the test helpers nor GoogleTest, so a small launcher of its own starts
// the sandbox.
#include "../tests/support/KovaTestSupport.cpp"
#include "ebayapi/UnitCurlSession.h"
#include "ebayapi/UnitKovaGadgetCalls.h"
#include "ebayapi/UnitXMLParser.h"
#include "items/UnitResultLst.h"
#include "platform/UnitPlatformEnvironment.h"

#include <benchmark/benchmark.h>
#include <csignal>
#include <cstdlib>
#include <curl/curl.h>
#include <fcntl.h>
#include <nlohmann/json.hpp>
#include <poll.h>
#include <pugixml.hpp>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr int Pages = 4;

extern "C" char** environ;

constexpr const char* SandboxDevID = "KovaSandboxDev";
constexpr const char* SandboxAppID = "KovaSandboxApp";
constexpr const char* SandboxCertID = "KovaSandboxCert";

size_t Collect(char* data, size_t size, size_t count, void* user) {
    static_cast<std::string*>(user)->append(data, size * count);
    return size * count;
}

// kova-sandbox with one 400-item account, stopped when the object goes.
class TBenchSandbox {
public:
    TBenchSandbox() {
        const std::string program = std::string(KOVA_BIN_DIR) + "/kova-sandbox";
        const std::string account = "bench:400";
        const char* argv[] = {program.c_str(), "--state-dir",   FDir.Path().c_str(),
                              "--account",     account.c_str(), nullptr};
        int output[2];
        if (pipe2(output, O_CLOEXEC) != 0) throw std::runtime_error("pipe2 failed");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, output[1], STDOUT_FILENO);
        const int error =
            posix_spawn(&FPid, program.c_str(), &actions, nullptr, const_cast<char* const*>(argv), environ);
        posix_spawn_file_actions_destroy(&actions);
        close(output[1]);
        char c;
        pollfd waiting{output[0], POLLIN, 0};
        while (error == 0 && poll(&waiting, 1, 30000) > 0 && read(output[0], &c, 1) == 1 && c != '\n')
            FUrl += c;
        close(output[0]);
        if (error != 0 || !FUrl.starts_with("https://127.0.0.1:")) throw std::runtime_error("no sandbox");
        setenv(KovaExtraCAFileVariable, CAPath().c_str(), 1);
        Token = nlohmann::json::parse(Post("/sandbox/token", R"({"username":"bench"})")).at("token");
    }
    ~TBenchSandbox() {
        kill(FPid, SIGTERM);
        int status = 0;
        waitpid(FPid, &status, 0);
    }

    std::string ApiUrl() const { return FUrl + "/ws/api.dll"; }
    std::string CAPath() const { return FDir.File("ca.pem"); }
    std::string Token;

private:
    std::string Post(const std::string& path, const std::string& body) {
        std::string answer;
        const std::string url = FUrl + path, ca = CAPath();
        CURL* easy = curl_easy_init();
        curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
        curl_easy_setopt(easy, CURLOPT_CAINFO, ca.c_str());
        curl_easy_setopt(easy, CURLOPT_PROXY, "");
        curl_easy_setopt(easy, CURLOPT_POSTFIELDS, body.c_str());
        curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &Collect);
        curl_easy_setopt(easy, CURLOPT_WRITEDATA, &answer);
        const CURLcode code = curl_easy_perform(easy);
        curl_easy_cleanup(easy);
        if (code != CURLE_OK) throw std::runtime_error("sandbox control failed");
        return answer;
    }

    TTempDir FDir;
    std::string FUrl;
    pid_t FPid = -1;
};

// Destroyed at exit, which stops the sandbox process.
TBenchSandbox& Sandbox() {
    static TBenchSandbox sandbox;
    return sandbox;
}

std::unique_ptr<TAPICallMyeBayBuying> WatchListCall() {
    auto call = std::make_unique<TAPICallMyeBayBuying>(Sandbox().ApiUrl());
    call->DevName = SandboxDevID;
    call->AppName = SandboxAppID;
    call->CertName = SandboxCertID;
    call->Token = Sandbox().Token;
    call->CompatibilityLevel = 527;
    call->DurationInDays = 90;
    call->RetryCount = 3;
    return call;
}

const std::string& FirstPage() {
    static const std::string page = [] {
        auto call = WatchListCall();
        call->WatchListPageNumber = 1;
        TInternetStatus status = iyUnknown;
        TMemoryStream* response = call->GetMyeBayBuying(status, mblWatchList);
        return response ? response->Bytes() : std::string();
    }();
    return page;
}

void BM_ParseWatchListPage(benchmark::State& state) {
    TMemoryStream page(FirstPage());
    // One parser and one list serve a whole run, as in the worker thread; each page replaces the last.
    TXMLMyEbayWatchListParser parser;
    TDetailsList items;
    for (auto _ : state) {
        if (!parser.ParseWatchList(&page, items, false) || items.Count() != 100) state.SkipWithError("parse");
        // The sandbox writes pages as eBay does: one that needs the document would measure the wrong path.
        if (!parser.PageReadFromText()) state.SkipWithError("page not read from its text");
        benchmark::DoNotOptimize(items);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(page.Size()));
}

void BM_PugixmlLoadPage(benchmark::State& state) {
    const std::string& page = FirstPage();
    for (auto _ : state) {
        pugi::xml_document doc;
        if (!doc.load_buffer(page.data(), page.size())) state.SkipWithError("load");
        benchmark::DoNotOptimize(doc);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(page.size()));
}

void BM_GetMyeBayBuying400(benchmark::State& state) {
    auto call = WatchListCall();
    for (auto _ : state) {
        for (int page = 1; page <= Pages; ++page) {
            call->WatchListPageNumber = page;
            TInternetStatus status = iyUnknown;
            if (!call->GetMyeBayBuying(status, mblWatchList)) state.SkipWithError("call failed");
        }
    }
}

void BM_GetMyeBayBuying400Parsed(benchmark::State& state) {
    auto call = WatchListCall();
    for (auto _ : state) {
        TXMLMyEbayWatchListParser parser;
        TDetailsList items;
        for (int page = 1; page <= Pages; ++page) {
            call->WatchListPageNumber = page;
            TInternetStatus status = iyUnknown;
            parser.ParseWatchList(call->GetMyeBayBuying(status, mblWatchList), items, true);
        }
        if (items.Count() != 400) state.SkipWithError("not 400 items");
    }
}

size_t Discard(char*, size_t size, size_t count, void*) {
    return size * count;
}

void CurlAlone400(benchmark::State& state, bool gzip) {
    std::vector<std::string> bodies;
    auto call = WatchListCall();
    call->Lists = mblWatchList;
    call->BuildHeaders();
    for (int page = 1; page <= Pages; ++page) {
        call->WatchListPageNumber = page;
        call->BuildRequestBody("GetMyeBayBuyingRequest", "ReturnAll");
        bodies.push_back(call->RequestText());
    }
    curl_slist* headers = curl_slist_append(nullptr, "Content-Type: text/xml");
    for (const std::string& line : call->HeaderLines()) {
        const size_t eq = line.find('=');
        headers = curl_slist_append(headers, (line.substr(0, eq) + ": " + line.substr(eq + 1)).c_str());
    }
    CurlGlobalInit();
    CURL* easy = curl_easy_init();
    const std::string url = Sandbox().ApiUrl();
    const std::string ca = Sandbox().CAPath();
    curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
    curl_easy_setopt(easy, CURLOPT_CAINFO, ca.c_str());
    curl_easy_setopt(easy, CURLOPT_SSLVERSION, static_cast<long>(CURL_SSLVERSION_TLSv1_2));
    curl_easy_setopt(easy, CURLOPT_PROXY, "");
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &Discard);
    if (gzip) curl_easy_setopt(easy, CURLOPT_ACCEPT_ENCODING, "gzip");
    for (auto _ : state) {
        for (const std::string& body : bodies) {
            curl_easy_setopt(easy, CURLOPT_POSTFIELDS, body.c_str());
            curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
            long code = 0;
            if (curl_easy_perform(easy) != CURLE_OK ||
                curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &code) != CURLE_OK || code != 200)
                state.SkipWithError("post failed");
        }
    }
    curl_easy_cleanup(easy);
    curl_slist_free_all(headers);
}

void BM_CurlAlone400(benchmark::State& state) {
    CurlAlone400(state, false);
}

// The same exchange asking for gzip answers, as a call to a server elsewhere does: the server compresses,
// libcurl decodes.
void BM_CurlAlone400Gzip(benchmark::State& state) {
    CurlAlone400(state, true);
}

// The scan alone, without the items: the part of a page parse that takes the place of the document's load.
void BM_ScanWatchListPage(benchmark::State& state) {
    const std::string& page = FirstPage();
    TWatchListPageScan scan;
    for (auto _ : state) {
        if (!scan.Scan(page)) state.SkipWithError("scan");
        benchmark::DoNotOptimize(scan);
    }
}

} // namespace

BENCHMARK(BM_ParseWatchListPage)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PugixmlLoadPage)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ScanWatchListPage)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_GetMyeBayBuying400)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GetMyeBayBuying400Parsed)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CurlAlone400)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CurlAlone400Gzip)->Unit(benchmark::kMillisecond);
