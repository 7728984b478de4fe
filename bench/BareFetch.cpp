// The floor of the host's memory for bench/report.sh: a program that links the libraries kova-gadget links,
// touches each once and makes one HTTPS fetch, then prints its resident set and private dirty memory as one
// JSON line. What the host holds beyond this is ours.
//
// usage: kova-bare-fetch URL CAFILE

#include <curl/curl.h>
#include <fstream>
#include <httplib.h>
#include <iostream>
#include <nlohmann/json.hpp>
#include <openssl/evp.h>
#include <pugixml.hpp>
#include <regex>
#include <sstream>
#include <systemd/sd-daemon.h>
#include <uuid/uuid.h>
#include <zlib.h>

namespace {

long KiB(const char* file, const char* field) {
    std::ifstream in(file);
    std::stringstream text;
    text << in.rdbuf();
    std::smatch m;
    const std::string all = text.str();
    if (!std::regex_search(all, m, std::regex(std::string("(^|\n)") + field + ":\\s+(\\d+) kB"))) return -1;
    return std::stol(m[2]);
}

size_t Count(char*, size_t size, size_t count, void* total) {
    *static_cast<size_t*>(total) += size * count;
    return size * count;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: kova-bare-fetch URL CAFILE\n";
        return 2;
    }
    // Each library once, so that none is linked in name only.
    uuid_t id;
    uuid_generate(id);
    pugi::xml_document doc;
    doc.load_string("<a>1</a>");
    const std::string packed = zlibVersion();
    EVP_MD_CTX_free(EVP_MD_CTX_new());
    sd_booted();
    httplib::Server server;
    const nlohmann::json probe = nlohmann::json::parse("{}");

    curl_global_init(CURL_GLOBAL_DEFAULT);
    CURL* curl = curl_easy_init();
    size_t bytes = 0;
    curl_easy_setopt(curl, CURLOPT_URL, argv[1]);
    curl_easy_setopt(curl, CURLOPT_CAINFO, argv[2]);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, Count);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &bytes);
    const CURLcode code = curl_easy_perform(curl);
    if (code != CURLE_OK) {
        std::cerr << "kova-bare-fetch: " << curl_easy_strerror(code) << "\n";
        return 1;
    }
    std::cout << nlohmann::json{{"bytes", bytes},
                                {"rssKiB", KiB("/proc/self/status", "VmRSS")},
                                {"privateDirtyKiB", KiB("/proc/self/smaps_rollup", "Private_Dirty")}}
                     .dump()
              << std::endl;
    curl_easy_cleanup(curl);
    curl_global_cleanup();
    return probe.empty() && !packed.empty() ? 0 : 1;
}
