#pragma once
// The cryptographic primitives of the encrypted containers: AES-256 with the block cipher's stream layout,
// MD5, and the LMD digest with its LBC block cipher that turn a pass phrase into a key.

#include "base/UnitExceptions.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

KOVA_DECLARE_EXCEPTION(EKryptError, Exception);
// The stored digest does not match the data: a wrong pass phrase or a damaged file.
KOVA_DECLARE_EXCEPTION(EKryptHashError, EKryptError);
// "Invalid file format": the cipher text cannot be one of the layout.
KOVA_DECLARE_EXCEPTION(EKryptFormatError, EKryptError);

using TKryptKey = std::array<uint8_t, 32>;
using TCipherBlock = std::array<uint8_t, 16>;
using TMD5Digest = std::array<uint8_t, 16>;

struct evp_cipher_ctx_st;
struct evp_md_ctx_st;

// AES-256 (FIPS-197) on whole 16-byte blocks through OpenSSL, with neither chaining nor padding.
class TAES256 {
public:
    explicit TAES256(const TKryptKey& key);
    ~TAES256();
    TAES256(const TAES256&) = delete;
    TAES256& operator=(const TAES256&) = delete;

    void EncryptBlocks(const uint8_t* in, uint8_t* out, size_t blockCount);
    void DecryptBlocks(const uint8_t* in, uint8_t* out, size_t blockCount);

private:
    evp_cipher_ctx_st* Context(bool encrypt);

    TKryptKey FKey;
    evp_cipher_ctx_st* FEncrypt = nullptr;
    evp_cipher_ctx_st* FDecrypt = nullptr;
};

// AES-256 in CBC mode with the stored layout of both containers: the 16-byte start block, the plaintext's
// full blocks chained to it, then a final block holding the remaining bytes, zeros and, in its last byte,
// the number of remaining bytes. The cipher text of n bytes is thus 32 + 16 * floor(n / 16) bytes long.
class TRijndaelCipher {
public:
    explicit TRijndaelCipher(const TKryptKey& key) : FAES(key) {}

    std::string EncryptBytes(std::string_view plain);
    // With a given start block; the layout's chaining can so be checked against published CBC vectors.
    std::string EncryptBytes(std::string_view plain, const TCipherBlock& startBlock);
    // Raises EKryptFormatError "Invalid file format" for fewer than two whole blocks or a final count
    // above 15.
    std::string DecryptBytes(std::string_view cipher);

    // Two timer readings and random bytes, encrypted once: encrypting one plaintext twice never gives the
    // same cipher text.
    TCipherBlock MakeStartBlock();

private:
    TAES256 FAES;
};

// MD5 (RFC 1321) through OpenSSL.
class TMD5 {
public:
    TMD5();
    ~TMD5();
    TMD5(const TMD5&) = delete;
    TMD5& operator=(const TMD5&) = delete;

    void Update(const void* data, size_t size);
    // The digest of everything fed since construction or the last Final.
    TMD5Digest Final();
    static TMD5Digest Digest(std::string_view data);

private:
    evp_md_ctx_st* FContext;
};

using TLBCKey = std::array<uint8_t, 16>;

// The LBC block cipher: a 16-byte Feistel block cipher with a 16-byte key and 4 to 16 rounds.
class TLBCCipher {
public:
    // rounds is clamped to 4..16.
    TLBCCipher(const TLBCKey& key, int rounds);
    ~TLBCCipher();
    void EncryptBlock(uint8_t block[16]) const;
    void DecryptBlock(uint8_t block[16]) const;

private:
    void Crypt(uint8_t block[16], bool encrypt) const;

    std::array<uint32_t, 32> FSubKeys{};
    int FRounds;
};

// The LMD digest: a 2048-bit state stirred by a 128-bit mixing key and finished with LBC.
class TLMD {
public:
    static constexpr size_t MaxDigestSize = 256;

    TLMD();
    ~TLMD();
    void Update(const void* data, size_t size);
    // The first size bytes (at most 256) of the finished state; the object is then spent.
    std::string Final(size_t size);
    static std::string Digest(std::string_view data, size_t size);

private:
    void AddByte(uint8_t x);
    void StirKey();

    std::array<uint8_t, 256> FState;
    std::array<uint8_t, 16> FKey;
    size_t FStateIndex = 0;
    size_t FKeyIndex = 0;
};

// The key derived from a pass phrase: the first 32 bytes of its LMD digest.
TKryptKey PassPhraseKey(std::string_view passPhrase);
