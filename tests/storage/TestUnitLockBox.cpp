#include "storage/UnitLockBox.h"

#include <gtest/gtest.h>
#include <string>

namespace {

std::string Hex(std::string_view bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

template <size_t N> std::string Hex(const std::array<uint8_t, N>& bytes) {
    return Hex(std::string_view(reinterpret_cast<const char*>(bytes.data()), N));
}

std::string Bytes(std::string_view hex) {
    std::string out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        out += static_cast<char>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16));
    return out;
}

template <size_t N> std::array<uint8_t, N> Array(std::string_view hex) {
    std::array<uint8_t, N> out{};
    const std::string b = Bytes(hex);
    std::copy(b.begin(), b.end(), out.begin());
    return out;
}

const char* const Sp80038aKey = "603DEB1015CA71BE2B73AEF0857D77811F352C073B6108D72D9810A30914DFF4";
const char* const Sp80038aPlain = "6BC1BEE22E409F96E93D7E117393172AAE2D8A571E03AC9C9EB76FAC45AF8E51"
                                  "30C81C46A35CE411E5FBC1191A0A52EFF69F2445DF4F9B17AD2B417BE66C3710";

} // namespace

TEST(UnitLockBox, AES256MatchesFips197AndSp80038aEcb) {
    TAES256 fips(Array<32>("000102030405060708090A0B0C0D0E0F101112131415161718191A1B1C1D1E1F"));
    std::string block = Bytes("00112233445566778899AABBCCDDEEFF");
    auto* b = reinterpret_cast<uint8_t*>(block.data());
    fips.EncryptBlocks(b, b, 1);
    EXPECT_EQ(Hex(block), "8EA2B7CA516745BFEAFC49904B496089");
    fips.DecryptBlocks(b, b, 1);
    EXPECT_EQ(Hex(block), "00112233445566778899AABBCCDDEEFF");

    TAES256 ecb(Array<32>(Sp80038aKey));
    std::string data = Bytes(Sp80038aPlain);
    auto* d = reinterpret_cast<uint8_t*>(data.data());
    ecb.EncryptBlocks(d, d, 4);
    EXPECT_EQ(Hex(data), "F3EED1BDB5D2A03C064B5A7E3DB181F8591CCB10D410ED26DC5BA74A31362870"
                         "B6ED21B99CA6F4F9F153E7B1BEAFED1D23304B7A39F9F3FF067D8D8F9E24ECC7");
    ecb.DecryptBlocks(d, d, 4);
    EXPECT_EQ(Hex(data), Sp80038aPlain);
}

TEST(UnitLockBox, CipherLayoutChainsAsCbcWithAFinalCountBlock) {
    // With the vector's IV as start block, the four full blocks must be SP 800-38A's CBC-AES256 cipher text;
    // the final block then holds the count 0 chained to the last of them.
    const TKryptKey key = Array<32>(Sp80038aKey);
    TRijndaelCipher cipher(key);
    const auto iv = Array<16>("000102030405060708090A0B0C0D0E0F");
    const std::string encrypted = cipher.EncryptBytes(Bytes(Sp80038aPlain), iv);
    ASSERT_EQ(encrypted.size(), 96u);
    EXPECT_EQ(Hex(encrypted.substr(0, 16)), "000102030405060708090A0B0C0D0E0F");
    EXPECT_EQ(Hex(encrypted.substr(16, 64)),
              "F58C4C04D6E5F1BA779EABFB5F7BFBD69CFC4E967EDB808D679F777BC6702C7D"
              "39F23369A9D9BACFA530E26304231461B2EB05E2C39BE9FCDA6C19078C6A9D1B");
    std::string last = encrypted.substr(80);
    auto* l = reinterpret_cast<uint8_t*>(last.data());
    TAES256(key).DecryptBlocks(l, l, 1);
    EXPECT_EQ(Hex(last), "B2EB05E2C39BE9FCDA6C19078C6A9D1B"); // zero block XOR previous cipher block
    EXPECT_EQ(Hex(cipher.DecryptBytes(encrypted)), Sp80038aPlain);

    // Every length: 32 + 16 * floor(n / 16) bytes, the same bytes back, a fresh start block each time.
    std::string plain;
    for (int n = 0; n <= 40; ++n) {
        const std::string a = cipher.EncryptBytes(plain);
        const std::string b = cipher.EncryptBytes(plain);
        ASSERT_EQ(a.size(), 32u + 16u * (plain.size() / 16)) << n;
        ASSERT_NE(a.substr(0, 16), b.substr(0, 16)) << n;
        ASSERT_EQ(cipher.DecryptBytes(a), plain) << n;
        ASSERT_EQ(cipher.DecryptBytes(b), plain) << n;
        // A trailing part of fewer than 16 bytes is not read.
        ASSERT_EQ(cipher.DecryptBytes(a + "tail"), plain) << n;
        plain += static_cast<char>('a' + n % 26);
    }
}

TEST(UnitLockBox, CipherLayoutRejectsWhatCannotBeOne) {
    TRijndaelCipher cipher(Array<32>(Sp80038aKey));
    for (size_t size : {0, 1, 16, 31}) {
        try {
            cipher.DecryptBytes(std::string(size, 'x'));
            ADD_FAILURE() << size << " bytes decrypted";
        } catch (const EKryptFormatError& e) {
            EXPECT_STREQ(e.what(), "Invalid file format");
        }
    }
    // A final block whose count byte decrypts to 16 or more.
    const auto start = Array<16>("00000000000000000000000000000000");
    std::string bad = cipher.EncryptBytes("", start);
    std::string finalBlock(16, '\0');
    finalBlock[15] = 16;
    auto* f = reinterpret_cast<uint8_t*>(finalBlock.data());
    TAES256(Array<32>(Sp80038aKey)).EncryptBlocks(f, f, 1); // start block is zero, so no XOR
    bad.replace(16, 16, finalBlock);
    EXPECT_THROW(cipher.DecryptBytes(bad), EKryptFormatError);
}

TEST(UnitLockBox, MD5MatchesTheRfc1321Suite) {
    const std::pair<const char*, const char*> suite[] = {
        {"", "D41D8CD98F00B204E9800998ECF8427E"},
        {"a", "0CC175B9C0F1B6A831C399E269772661"},
        {"abc", "900150983CD24FB0D6963F7D28E17F72"},
        {"message digest", "F96B697D7CB7938D525A2F31AAF161D0"},
        {"abcdefghijklmnopqrstuvwxyz", "C3FCD3D76192E4007DFB496CCA67E13B"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
         "D174AB98D277D9F5A5611C2C9F419D9F"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57EDF4A22BE3C955AC49DA2E2107B67A"},
    };
    // One engine for all: Final starts it afresh.
    TMD5 reused;
    for (const auto& [input, digest] : suite) {
        reused.Update(input, std::char_traits<char>::length(input));
        EXPECT_EQ(Hex(reused.Final()), digest) << input;
    }
}

TEST(UnitLockBox, LMDMatchesThePublishedVectors) {
    const struct {
        const char* Input;
        size_t Bits;
        const char* Digest;
    } vectors[] = {
        {"", 128, "0BD132AA831C56AC1F92E61084A342D2"},
        {"a", 128, "845EB2948758DC943B8A2F887491032E"},
        {"abc", 128, "2AA17BAA76A4C4CD4B73A5F934B4CC1A"},
        {"abc", 256, "2AA17BAA76A4C4CD4B73A5F934B4CC1A6492B853FC94EB88EEB34E7CE128867B"},
        {"1234567", 128, "24FC3CDB60455598E1015696707CC139"},
        {"12345678", 128, "B71BCCFC7A8C64AAE7E3B7C6716AD7D6"},
        {"The quick brown fox jumps over the lazy dog", 128, "058958EFF07C0273462D697195C0B58D"},
    };
    for (const auto& v : vectors)
        EXPECT_EQ(Hex(TLMD::Digest(v.Input, v.Bits / 8)), v.Digest) << v.Input;

    // The key is the first 32 bytes; feeding in pieces changes nothing.
    EXPECT_EQ(Hex(PassPhraseKey("abc")), "2AA17BAA76A4C4CD4B73A5F934B4CC1A6492B853FC94EB88EEB34E7CE128867B");
    TLMD pieces;
    pieces.Update("The quick brown ", 16);
    pieces.Update("fox jumps over the lazy dog", 27);
    EXPECT_EQ(Hex(pieces.Final(16)), "058958EFF07C0273462D697195C0B58D");
}

TEST(UnitLockBox, LBCMatchesThePublishedVectorsAndInverts) {
    const auto key = Array<16>("000102030405060708090A0B0C0D0E0F");
    const struct {
        int Rounds;
        const char* Cipher;
    } vectors[] = {{8, "0269920C56AFF202B774AF81437B632B"}, {16, "F29320497F8F31EE931D817E0E65FDDB"}};
    for (const auto& v : vectors) {
        std::array<uint8_t, 16> block{};
        TLBCCipher lbc(key, v.Rounds);
        lbc.EncryptBlock(block.data());
        EXPECT_EQ(Hex(block), v.Cipher) << v.Rounds << " rounds";
        lbc.DecryptBlock(block.data());
        EXPECT_EQ(Hex(block), std::string(32, '0')) << v.Rounds << " rounds";
    }
}
