// Reading a 20 KB application data file (key derivation, AES, MD5, inflate) against OpenSSL's AES-256-CBC
// alone on the same bytes. Run: build/normal/bin/BenchKrypt --benchmark_repetitions=10
//   --benchmark_report_aggregates_only=true

#include "storage/UnitEncryptStream.h"
#include "storage/UnitKovaDatFile.h"

#include <benchmark/benchmark.h>
#include <openssl/evp.h>
#include <random>
#include <string>

namespace {

// An application data file grown with link and key elements of random text until its container is ~20 KB.
const std::string& DataFile() {
    static const std::string file = [] {
        std::mt19937 random(20261207);
        const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
        auto token = [&](size_t length) {
            std::string s;
            for (size_t i = 0; i < length; ++i)
                s += alphabet[random() % 64];
            return s;
        };
        std::string common, api;
        std::string packed;
        for (int i = 0; packed.size() < 20 * 1024; ++i) {
            common += "    <LINK" + std::to_string(i) + ">https://www.example.com/gadget/" + token(24) +
                      "?ref=" + token(12) + "</LINK" + std::to_string(i) + ">\n";
            api += "    <KEY" + std::to_string(i) + ">" + token(40) + "</KEY" + std::to_string(i) + ">\n";
            packed = PackKovaDat("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<KOVADAT>\n  <COMMON>\n" +
                                 common + "  </COMMON>\n  <EBAYAPI>\n" + api + "  </EBAYAPI>\n</KOVADAT>\n");
        }
        return packed;
    }();
    return file;
}

void BM_DecryptAndInflate(benchmark::State& state) {
    const std::string& file = DataFile();
    size_t payload = 0;
    for (auto _ : state) {
        TMemoryStream stream(file);
        TKryptCompressionUtils::DecryptAndDecompressStream(stream, KovaDatPassPhrase);
        payload = stream.Bytes().size();
        benchmark::DoNotOptimize(stream.Bytes().data());
    }
    state.counters["file_bytes"] = static_cast<double>(file.size());
    state.counters["payload_bytes"] = static_cast<double>(payload);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * file.size()));
}

void BM_OpenSSLAESOnly(benchmark::State& state) {
    const std::string& file = DataFile();
    const TKryptKey key = PassPhraseKey(KovaDatPassPhrase);
    const int length = static_cast<int>(file.size() / 16 * 16 - 16);
    std::string out(static_cast<size_t>(length) + 16, '\0');
    const auto* in = reinterpret_cast<const unsigned char*>(file.data());
    for (auto _ : state) {
        EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
        int written = 0;
        EVP_DecryptInit_ex(ctx, EVP_aes_256_cbc(), nullptr, key.data(), in);
        EVP_CIPHER_CTX_set_padding(ctx, 0);
        EVP_DecryptUpdate(ctx, reinterpret_cast<unsigned char*>(out.data()), &written, in + 16, length);
        EVP_CIPHER_CTX_free(ctx);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * file.size()));
}

// The parts of BM_DecryptAndInflate beside AES: the digest over the compressed data and the inflate.
void BM_MD5Only(benchmark::State& state) {
    const std::string& file = DataFile();
    for (auto _ : state)
        benchmark::DoNotOptimize(TMD5::Digest(file));
}

void BM_InflateOnly(benchmark::State& state) {
    TMemoryStream plain(DataFile());
    TKryptUtils::DecryptStreamWithHash(plain, KovaDatPassPhrase);
    const std::string compressed = plain.Bytes();
    for (auto _ : state) {
        TMemoryStream stream(compressed);
        TStreamCompression::Decompress(stream);
        benchmark::DoNotOptimize(stream.Bytes().data());
    }
}

void BM_PassPhraseKey(benchmark::State& state) {
    for (auto _ : state)
        benchmark::DoNotOptimize(PassPhraseKey(KovaDatPassPhrase));
}

} // namespace

BENCHMARK(BM_DecryptAndInflate);
BENCHMARK(BM_OpenSSLAESOnly);
BENCHMARK(BM_MD5Only);
BENCHMARK(BM_InflateOnly);
BENCHMARK(BM_PassPhraseKey);
