#include "storage/UnitLockBox.h"

#include "platform/UnitPlatformClock.h"

#include <algorithm>
#include <cstring>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

namespace {

constexpr const char* SInvalidFileFormat = "Invalid file format";

[[noreturn]] void OpenSSLFailure(const char* what) {
    throw EKryptError(std::string("OpenSSL ") + what + " failed");
}

void XorBlock(uint8_t* target, const uint8_t* with) {
    for (int i = 0; i < 16; ++i)
        target[i] ^= with[i];
}

uint32_t LoadWord(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

void StoreWord(uint8_t* p, uint32_t w) {
    p[0] = static_cast<uint8_t>(w);
    p[1] = static_cast<uint8_t>(w >> 8);
    p[2] = static_cast<uint8_t>(w >> 16);
    p[3] = static_cast<uint8_t>(w >> 24);
}

// The 128-bit add-shift-xor mix shared by the LMD key stir and the LBC round function.
void Mix128(uint32_t& a, uint32_t& b, uint32_t& c, uint32_t& d) {
    // clang-format off
    a += d; d += a; a ^= a >> 7;
    b += a; a += b; b ^= b << 13;
    c += b; b += c; c ^= c >> 17;
    d += c; c += d; d ^= d << 9;
    a += d; d += a; a ^= a >> 3;
    b += a; a += b; b ^= b << 7;
    c += b; b += c; c ^= d >> 15;
    d += c; c += d; d ^= d << 11;
    // clang-format on
}

// The first 2048 bits of the fractional part of pi: the LMD start state.
constexpr std::array<uint8_t, 256> PiFraction = {
    0x24, 0x3F, 0x6A, 0x88, 0x85, 0xA3, 0x08, 0xD3, 0x13, 0x19, 0x8A, 0x2E, 0x03, 0x70, 0x73, 0x44,
    0xA4, 0x09, 0x38, 0x22, 0x29, 0x9F, 0x31, 0xD0, 0x08, 0x2E, 0xFA, 0x98, 0xEC, 0x4E, 0x6C, 0x89,
    0x45, 0x28, 0x21, 0xE6, 0x38, 0xD0, 0x13, 0x77, 0xBE, 0x54, 0x66, 0xCF, 0x34, 0xE9, 0x0C, 0x6C,
    0xC0, 0xAC, 0x29, 0xB7, 0xC9, 0x7C, 0x50, 0xDD, 0x3F, 0x84, 0xD5, 0xB5, 0xB5, 0x47, 0x09, 0x17,
    0x92, 0x16, 0xD5, 0xD9, 0x89, 0x79, 0xFB, 0x1B, 0xD1, 0x31, 0x0B, 0xA6, 0x98, 0xDF, 0xB5, 0xAC,
    0x2F, 0xFD, 0x72, 0xDB, 0xD0, 0x1A, 0xDF, 0xB7, 0xB8, 0xE1, 0xAF, 0xED, 0x6A, 0x26, 0x7E, 0x96,
    0xBA, 0x7C, 0x90, 0x45, 0xF1, 0x2C, 0x7F, 0x99, 0x24, 0xA1, 0x99, 0x47, 0xB3, 0x91, 0x6C, 0xF7,
    0x08, 0x01, 0xF2, 0xE2, 0x85, 0x8E, 0xFC, 0x16, 0x63, 0x69, 0x20, 0xD8, 0x71, 0x57, 0x4E, 0x69,
    0xA4, 0x58, 0xFE, 0xA3, 0xF4, 0x93, 0x3D, 0x7E, 0x0D, 0x95, 0x74, 0x8F, 0x72, 0x8E, 0xB6, 0x58,
    0x71, 0x8B, 0xCD, 0x58, 0x82, 0x15, 0x4A, 0xEE, 0x7B, 0x54, 0xA4, 0x1D, 0xC2, 0x5A, 0x59, 0xB5,
    0x9C, 0x30, 0xD5, 0x39, 0x2A, 0xF2, 0x60, 0x13, 0xC5, 0xD1, 0xB0, 0x23, 0x28, 0x60, 0x85, 0xF0,
    0xCA, 0x41, 0x79, 0x18, 0xB8, 0xDB, 0x38, 0xEF, 0x8E, 0x79, 0xDC, 0xB0, 0x60, 0x3A, 0x18, 0x0E,
    0x6C, 0x9E, 0x0E, 0x8B, 0xB0, 0x1E, 0x8A, 0x3E, 0xD7, 0x15, 0x77, 0xC1, 0xBD, 0x31, 0x4B, 0x27,
    0x78, 0xAF, 0x2F, 0xDA, 0x55, 0x60, 0x5C, 0x60, 0xE6, 0x55, 0x25, 0xF3, 0xAA, 0x55, 0xAB, 0x94,
    0x57, 0x48, 0x98, 0x62, 0x63, 0xE8, 0x14, 0x40, 0x55, 0xCA, 0x39, 0x6A, 0x2A, 0xAB, 0x10, 0xB6,
    0xB4, 0xCC, 0x5C, 0x34, 0x11, 0x41, 0xE8, 0xCE, 0xA1, 0x54, 0x86, 0xAF, 0x7C, 0x72, 0xE9, 0x93,
};

} // namespace

TAES256::TAES256(const TKryptKey& key) : FKey(key) {
}

TAES256::~TAES256() {
    EVP_CIPHER_CTX_free(FEncrypt);
    EVP_CIPHER_CTX_free(FDecrypt);
    OPENSSL_cleanse(FKey.data(), FKey.size());
}

evp_cipher_ctx_st* TAES256::Context(bool encrypt) {
    EVP_CIPHER_CTX*& ctx = encrypt ? FEncrypt : FDecrypt;
    if (ctx) return ctx;
    ctx = EVP_CIPHER_CTX_new();
    if (!ctx) OpenSSLFailure("cipher context");
    if (EVP_CipherInit_ex(ctx, EVP_aes_256_ecb(), nullptr, FKey.data(), nullptr, encrypt ? 1 : 0) != 1 ||
        EVP_CIPHER_CTX_set_padding(ctx, 0) != 1)
        OpenSSLFailure("AES key set-up");
    return ctx;
}

void TAES256::EncryptBlocks(const uint8_t* in, uint8_t* out, size_t blockCount) {
    EVP_CIPHER_CTX* ctx = Context(true);
    int outLength = 0;
    if (EVP_CipherUpdate(ctx, out, &outLength, in, static_cast<int>(blockCount * 16)) != 1)
        OpenSSLFailure("AES encryption");
}

void TAES256::DecryptBlocks(const uint8_t* in, uint8_t* out, size_t blockCount) {
    EVP_CIPHER_CTX* ctx = Context(false);
    int outLength = 0;
    if (EVP_CipherUpdate(ctx, out, &outLength, in, static_cast<int>(blockCount * 16)) != 1)
        OpenSSLFailure("AES decryption");
}

TCipherBlock TRijndaelCipher::MakeStartBlock() {
    TCipherBlock block{};
    block[0] = static_cast<uint8_t>(GetTickCount());
    block[1] = static_cast<uint8_t>(GetTickCount());
    // Two readings within one millisecond are equal; the random rest keeps start blocks apart anyway. Should
    // the generator fail, the zeros left there are still a valid start block.
    RAND_bytes(block.data() + 2, static_cast<int>(block.size() - 2));
    FAES.EncryptBlocks(block.data(), block.data(), 1);
    return block;
}

std::string TRijndaelCipher::EncryptBytes(std::string_view plain) {
    return EncryptBytes(plain, MakeStartBlock());
}

std::string TRijndaelCipher::EncryptBytes(std::string_view plain, const TCipherBlock& startBlock) {
    const size_t count = plain.size() / 16;
    std::string out(32 + 16 * count, '\0');
    auto* o = reinterpret_cast<uint8_t*>(out.data());
    const auto* p = reinterpret_cast<const uint8_t*>(plain.data());
    std::memcpy(o, startBlock.data(), 16);
    uint8_t block[16];
    for (size_t i = 0; i <= count; ++i) {
        if (i < count) {
            std::memcpy(block, p + 16 * i, 16);
        } else {
            const size_t rest = plain.size() % 16;
            std::memset(block, 0, 16);
            std::memcpy(block, p + 16 * count, rest);
            block[15] = static_cast<uint8_t>(rest);
        }
        XorBlock(block, o + 16 * i);
        FAES.EncryptBlocks(block, o + 16 * (i + 1), 1);
    }
    OPENSSL_cleanse(block, sizeof block);
    return out;
}

std::string TRijndaelCipher::DecryptBytes(std::string_view cipher) {
    // A trailing part of fewer than 16 bytes is never read.
    const size_t blocks = cipher.size() / 16;
    if (blocks < 2) throw EKryptFormatError(SInvalidFileFormat);
    const auto* c = reinterpret_cast<const uint8_t*>(cipher.data());
    std::string out(16 * (blocks - 1), '\0');
    auto* o = reinterpret_cast<uint8_t*>(out.data());
    FAES.DecryptBlocks(c + 16, o, blocks - 1);
    for (size_t i = 0; i + 1 < blocks; ++i)
        XorBlock(o + 16 * i, c + 16 * i);
    const uint8_t rest = o[out.size() - 1];
    if (rest > 15) {
        OPENSSL_cleanse(out.data(), out.size());
        throw EKryptFormatError(SInvalidFileFormat);
    }
    out.resize(16 * (blocks - 2) + rest);
    return out;
}

TMD5::TMD5() : FContext(EVP_MD_CTX_new()) {
    if (!FContext || EVP_DigestInit_ex(FContext, EVP_md5(), nullptr) != 1) {
        EVP_MD_CTX_free(FContext);
        OpenSSLFailure("MD5 set-up");
    }
}

TMD5::~TMD5() {
    EVP_MD_CTX_free(FContext);
}

void TMD5::Update(const void* data, size_t size) {
    if (EVP_DigestUpdate(FContext, data, size) != 1) OpenSSLFailure("MD5");
}

TMD5Digest TMD5::Final() {
    TMD5Digest digest{};
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(FContext, digest.data(), &length) != 1 ||
        EVP_DigestInit_ex(FContext, EVP_md5(), nullptr) != 1)
        OpenSSLFailure("MD5");
    return digest;
}

TMD5Digest TMD5::Digest(std::string_view data) {
    TMD5 md5;
    md5.Update(data.data(), data.size());
    return md5.Final();
}

TLBCCipher::TLBCCipher(const TLBCKey& key, int rounds) : FRounds(std::clamp(rounds, 4, 16)) {
    static constexpr uint32_t Salts[4] = {0x55555555, 0xAAAAAAAA, 0x33333333, 0xCCCCCCCC};
    const uint32_t k0 = LoadWord(&key[0]), k1 = LoadWord(&key[4]), k2 = LoadWord(&key[8]),
                   k3 = LoadWord(&key[12]);
    for (int i = 0; i < 4; ++i) {
        const uint32_t s = Salts[i];
        uint32_t a = k0, b = s, c = k1, d = s, e = k2, f = s, g = k3, h = s;
        for (int j = 0; j < 8; ++j) {
            // clang-format off
            a ^= b << 11; d += a; b += c;
            b ^= c >> 2;  e += b; c += d;
            c ^= d << 8;  f += c; d += e;
            d ^= e >> 16; g += d; e += f;
            e ^= f << 10; h += e; f += g;
            f ^= g >> 4;  a += f; g += h;
            g ^= h << 8;  b += g; h += a;
            h ^= a >> 9;  c += h; a += b;
            // clang-format on
        }
        const uint32_t words[8] = {a, b, c, d, e, f, g, h};
        std::copy(words, words + 8, FSubKeys.begin() + 8 * i);
    }
}

TLBCCipher::~TLBCCipher() {
    OPENSSL_cleanse(FSubKeys.data(), sizeof FSubKeys);
}

void TLBCCipher::Crypt(uint8_t block[16], bool encrypt) const {
    uint32_t r0 = LoadWord(block), r1 = LoadWord(block + 4), l0 = LoadWord(block + 8),
             l1 = LoadWord(block + 12);
    for (int round = 0; round < FRounds; ++round) {
        const int pair = encrypt ? round : FRounds - 1 - round;
        uint32_t a = r0, b = FSubKeys[2 * pair], c = r1, d = FSubKeys[2 * pair + 1];
        Mix128(a, b, c, d);
        std::swap(a, c);
        std::swap(b, d);
        Mix128(a, b, c, d);
        const uint32_t w0 = l0 ^ a ^ b, w1 = l1 ^ c ^ d;
        l0 = r0;
        l1 = r1;
        r0 = w0;
        r1 = w1;
    }
    StoreWord(block, l0);
    StoreWord(block + 4, l1);
    StoreWord(block + 8, r0);
    StoreWord(block + 12, r1);
}

void TLBCCipher::EncryptBlock(uint8_t block[16]) const {
    Crypt(block, true);
}

void TLBCCipher::DecryptBlock(uint8_t block[16]) const {
    Crypt(block, false);
}

TLMD::TLMD() : FState(PiFraction) {
    FKey.fill(0x55);
}

TLMD::~TLMD() {
    OPENSSL_cleanse(FState.data(), FState.size());
    OPENSSL_cleanse(FKey.data(), FKey.size());
}

void TLMD::AddByte(uint8_t x) {
    FState[FStateIndex] ^= x;
    FStateIndex = (FStateIndex + 1) % FState.size();
    // Input lands directly only in the first 8 key bytes; the stir spreads it over all 16.
    FKey[FKeyIndex] ^= x;
    if (++FKeyIndex == 8) {
        StirKey();
        FKeyIndex = 0;
    }
}

void TLMD::StirKey() {
    uint32_t a = LoadWord(&FKey[12]), b = LoadWord(&FKey[8]), c = LoadWord(&FKey[4]), d = LoadWord(&FKey[0]);
    for (int i = 0; i < 4; ++i)
        Mix128(a, b, c, d);
    StoreWord(&FKey[0], a);
    StoreWord(&FKey[4], b);
    StoreWord(&FKey[8], c);
    StoreWord(&FKey[12], d);
}

void TLMD::Update(const void* data, size_t size) {
    const auto* p = static_cast<const uint8_t*>(data);
    for (size_t i = 0; i < size; ++i)
        AddByte(p[i]);
}

std::string TLMD::Final(size_t size) {
    AddByte(0x01);
    while (FKeyIndex != 0)
        AddByte(0x00);
    const TLBCCipher lbc(FKey, 8);
    for (size_t offset = 0; offset < FState.size(); offset += 16)
        lbc.EncryptBlock(&FState[offset]);
    return std::string(reinterpret_cast<const char*>(FState.data()), std::min(size, MaxDigestSize));
}

std::string TLMD::Digest(std::string_view data, size_t size) {
    TLMD lmd;
    lmd.Update(data.data(), data.size());
    return lmd.Final(size);
}

TKryptKey PassPhraseKey(std::string_view passPhrase) {
    std::string digest = TLMD::Digest(passPhrase, 32);
    TKryptKey key;
    std::memcpy(key.data(), digest.data(), key.size());
    OPENSSL_cleanse(digest.data(), digest.size());
    return key;
}
