#include "platform/UnitPlatformFiles.h"
#include "storage/UnitEncryptStream.h"
#include "storage/UnitKovaDatFile.h"
#include "support/KovaTestSupport.h"

#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <vector>
#include <zlib.h>

namespace {

// A container of string fields in the shape of the login data and proxy credentials files.
class TStringsContainer : public TEncryptStreamBase {
public:
    explicit TStringsContainer(std::vector<std::string> fields = {"", "", ""}) : Fields(std::move(fields)) {}
    std::string ClassName() const override { return "TStringsContainer"; }
    void WriteFieldValues(TValueWriter& writer) override {
        for (const auto& field : Fields)
            writer.WriteString(field);
    }
    void ReadFieldValues(TValueReader& reader) override {
        for (auto& field : Fields)
            field = reader.ReadString();
    }
    std::vector<std::string> Fields;
};

std::string Saved(std::vector<std::string> fields) {
    TStringsContainer container(std::move(fields));
    TMemoryStream target;
    container.SaveToStreamEncrypted(target);
    return target.Bytes();
}

std::vector<std::string> Loaded(std::string bytes, size_t fieldCount = 3) {
    TStringsContainer container{std::vector<std::string>(fieldCount)};
    TMemoryStream source(std::move(bytes));
    container.LoadFromStreamEncrypted(source);
    return container.Fields;
}

// The plaintext inside a field container file whose length tag is the one-byte form.
std::string Plaintext(const std::string& file) {
    TMemoryStream cipher(file.substr(3, file.size() - 4));
    TKryptUtils::DecryptStreamWithKey(cipher, TStringsContainer().GetKey());
    return cipher.Bytes();
}

std::string Frame(const std::string& lengthTag) {
    return "\x01" + lengthTag;
}

const std::string SampleDir = KOVA_TEST_DATA_DIR "/storage/";

} // namespace

TEST(UnitEncryptStream, FieldContainerLayoutIsByteExact) {
    // Three empty strings: an 8-byte plaintext, a 32-byte cipher text, 36 bytes in all.
    const std::string empty = Saved({"", "", ""});
    ASSERT_EQ(empty.size(), 36u);
    EXPECT_EQ(empty.substr(0, 3), std::string("\x01\x02\x20", 3));
    EXPECT_EQ(empty.back(), '\0');
    EXPECT_EQ(Plaintext(empty), std::string("\x01\x06\x00\x06\x00\x06\x00\x00", 8));

    // A 32-byte plaintext: start block, two full blocks, a final block of count 0; 68 bytes in all.
    const std::string s28(28, 'k');
    const std::string full = Saved({s28});
    ASSERT_EQ(full.size(), 68u);
    EXPECT_EQ(full.substr(0, 3), std::string("\x01\x02\x40", 3));
    EXPECT_EQ(full.back(), '\0');
    EXPECT_EQ(Plaintext(full), "\x01\x06\x1C" + s28 + std::string(1, '\0'));
    EXPECT_EQ(Loaded(full, 1), std::vector<std::string>{s28});

    // The length takes the 16-bit tag from 128 on.
    const std::string longer = Saved({std::string(200, 'a')});
    EXPECT_EQ(longer.substr(0, 4), std::string("\x01\x03\xE0\x00", 4));
    EXPECT_EQ(longer.size(), 1 + 3 + 224 + 1u);
}

TEST(UnitEncryptStream, FieldContainerRoundTripsAndNeverRepeatsItself) {
    const std::vector<std::string> fields = {"j\xC3\xBCrgen", std::string(256, 'p'), std::string(255, 't')};
    const std::string first = Saved(fields);
    const std::string second = Saved(fields);
    EXPECT_NE(first, second) << "the start block differs per encryption";
    EXPECT_EQ(Loaded(first), fields);
    EXPECT_EQ(Loaded(second), fields);
    // The tags of the plaintext: UTF-8 for the non-ASCII text, long and short for the ASCII ones.
    TMemoryStream plain(first.substr(4, first.size() - 5));
    TKryptUtils::DecryptStreamWithKey(plain, TStringsContainer().GetKey());
    EXPECT_EQ(plain.Bytes().substr(0, 6), std::string("\x01\x14\x07\x00\x00\x00", 6));
    EXPECT_EQ(plain.Bytes().substr(13, 5), std::string("\x0C\x00\x01\x00\x00", 5));
    EXPECT_EQ(plain.Bytes().substr(13 + 5 + 256, 2), "\x06\xFF");

    // A container in the middle of a stream reads only its own frame.
    TMemoryStream mixed;
    mixed.WriteBytes("before");
    TStringsContainer({"a", "b", "c"}).SaveToStreamEncrypted(mixed);
    mixed.WriteBytes("after");
    mixed.SetPosition(6);
    TStringsContainer reader;
    reader.LoadFromStreamEncrypted(mixed);
    EXPECT_EQ(reader.Fields, (std::vector<std::string>{"a", "b", "c"}));
    char rest[5];
    mixed.ReadBuffer(rest, 5);
    EXPECT_EQ(std::string(rest, 5), "after");
}

TEST(UnitEncryptStream, OneObjectSavedAgainCarriesNothingOver) {
    TStringsContainer container({std::string(1000, 'x'), "", ""});
    TMemoryStream first;
    container.SaveToStreamEncrypted(first);
    container.Fields = {"u", "p", "t"};
    TMemoryStream second;
    container.SaveToStreamEncrypted(second);
    EXPECT_EQ(second.Size(), 36) << "nothing of the earlier, longer save trails the fields";
    EXPECT_EQ(Plaintext(second.Bytes()), std::string("\x01\x06\x01u\x06\x01p\x06\x01t\x00", 11));

    TMemoryStream source(second.Bytes());
    container.LoadFromStreamEncrypted(source);
    TMemoryStream third;
    container.SaveToStreamEncrypted(third);
    EXPECT_EQ(third.Size(), 36) << "a save after a load holds only the fields";
}

TEST(UnitEncryptStream, StoredLengthIsCheckedBeforeAnyCipherTextIsRead) {
    const std::string prefix = "TStringsContainer.ReadEncryptedFieldsFrom(): ";
    // 8193 passes the check and then lacks its bytes; 8194 fails at the check itself.
    EXPECT_EQ(ErrorOf([&] { Loaded(Frame(std::string("\x03\x01\x20", 3))); }), "Stream read error");
    EXPECT_EQ(ErrorOf([&] { Loaded(Frame(std::string("\x03\x02\x20", 3))); }),
              prefix + "LengthEncrypted > Length(Buffer)");
    EXPECT_EQ(ErrorOf([&] { Loaded(Frame(std::string("\x04\x00\x00\x00\x7F", 5))); }),
              prefix + "LengthEncrypted > Length(Buffer)");
    EXPECT_EQ(ErrorOf([&] { Loaded(Frame("\x02\xF0") + std::string(64, 'x')); }),
              prefix + "LengthEncrypted < 0");

    // 8193 bytes of cipher text are read; 513 blocks of garbage then fail in the cipher layer or the tags.
    const std::string big =
        Frame(std::string("\x03\x01\x20", 3)) + std::string(8193, '\x5A') + std::string(1, '\0');
    EXPECT_NE(ErrorOf([&] { Loaded(big); }).find("Invalid"), std::string::npos);

    // The writer refuses what the reader would refuse, before it writes a byte.
    TStringsContainer tooBig({std::string(8169, 'x')});
    TMemoryStream target;
    EXPECT_EQ(ErrorOf([&] { tooBig.SaveToStreamEncrypted(target); }),
              "TStringsContainer.WriteEncryptedFieldsTo(): LengthEncrypted > Length(Buffer)");
    EXPECT_EQ(target.Size(), 0);
    // One byte less of plaintext gives exactly 8192 bytes of cipher text, which loads again.
    const std::string largest = Saved({std::string(8168, 'x')});
    EXPECT_EQ(largest.substr(0, 4), std::string("\x01\x03\x00\x20", 4));
    EXPECT_EQ(Loaded(largest, 1)[0].size(), 8168u);
}

TEST(UnitEncryptStream, DamagedOrTruncatedFieldContainersRaiseErrors) {
    const std::string good = Saved({"user", "secret", std::string(150, 'T')});
    // Every truncation fails. The container carries no digest, so a changed byte inside a string may read as
    // other text; a change to the frame or to the tags it starts with must fail, and no change may crash.
    for (size_t size = 0; size < good.size(); ++size)
        EXPECT_NE(ErrorOf([&] { Loaded(good.substr(0, size)); }), "no error") << size;
    for (size_t i = 0; i < good.size(); ++i) {
        std::string damaged = good;
        damaged[i] = static_cast<char>(damaged[i] ^ 0x41);
        const std::string error = ErrorOf([&] { Loaded(damaged); });
        // 0, 1: list and length tags; 3: length above the limit; 4: the start block's byte that chains into
        // the plaintext's list tag; the last: the frame's list end.
        if (i <= 1 || i == 3 || i == 4 || i == good.size() - 1) {
            EXPECT_NE(error, "no error") << i;
        }
    }

    EXPECT_EQ(ErrorOf([&] { Loaded("not a container"); }),
              "Invalid stream format: value tag 0x6E where a list start was expected");
    EXPECT_EQ(ErrorOf([&] { Loaded(Frame("\x02\x10") + std::string(16, 'x') + '\0'); }),
              "Invalid file format");
    // A container written under another key decrypts to garbage.
    class TOtherKey : public TStringsContainer {
    public:
        TKryptKey GetKey() override { return PassPhraseKey("other"); }
    };
    TOtherKey other;
    TMemoryStream otherFile;
    other.SaveToStreamEncrypted(otherFile);
    EXPECT_NE(ErrorOf([&] { Loaded(otherFile.Bytes()); }), "no error");
}

TEST(UnitEncryptStream, FileSavesAreAtomicAndOwnerOnly) {
    TTempDir dir;
    const std::string path = dir.File("ebtmp.dat");
    TStringsContainer({"name", "pass", "token"}).SaveToFileEncrypted(path);
    EXPECT_EQ(FilePermissions(path), 0600);
    TStringsContainer loaded;
    loaded.LoadFromFileEncrypted(path);
    EXPECT_EQ(loaded.Fields, (std::vector<std::string>{"name", "pass", "token"}));
    const std::string before = ReadTextFile(path);

    // A full disk, an oversized container: the earlier file stays whole.
    SetWriteFaultForTesting([](const std::string&) { return true; });
    EXPECT_THROW(TStringsContainer({"other", "x", "y"}).SaveToFileEncrypted(path), EWriteError);
    SetWriteFaultForTesting(nullptr);
    EXPECT_THROW(TStringsContainer({std::string(9000, 'x')}).SaveToFileEncrypted(path), EWriteError);
    EXPECT_EQ(ReadTextFile(path), before);

    TStringsContainer({"a"}).SaveToFileEncrypted(dir.File("shared.dat"), TFileAccess::Shared);
    const mode_t mask = ::umask(022);
    ::umask(mask);
    EXPECT_EQ(FilePermissions(dir.File("shared.dat")), static_cast<int>(0644 & ~mask)) << "the user's umask";
    EXPECT_THROW(loaded.LoadFromFileEncrypted(dir.File("missing.dat")), EFOpenError);
}

TEST(UnitEncryptStream, StoredSampleStillLoads) {
    // Written by an earlier build: the built-in key and the layout must not change under stored files.
    TStringsContainer sample;
    sample.LoadFromFileEncrypted(SampleDir + "LoginSample.dat");
    EXPECT_EQ(sample.Fields,
              (std::vector<std::string>{"sample-user", "p\xC3\xA4ss w\xC3\xB6rd", "AgAAAA**token"}));
}

TEST(UnitEncryptStream, HashedContainerLayoutIsMd5AndZlibUnderThePassPhraseKey) {
    const std::string payload = "<?xml version=\"1.0\"?><KOVADAT><COMMON/></KOVADAT>";
    const std::string file = PackKovaDat(payload);
    EXPECT_NE(file, PackKovaDat(payload));

    // Taken apart by hand: the digest of Z, then Z, a zlib stream of the payload.
    TMemoryStream plain(file);
    TKryptUtils::DecryptStreamWithKey(plain, PassPhraseKey(KovaDatPassPhrase));
    const std::string z = plain.Bytes().substr(16);
    const TMD5Digest digest = TMD5::Digest(z);
    EXPECT_EQ(plain.Bytes().substr(0, 16), std::string(reinterpret_cast<const char*>(digest.data()), 16));
    std::string inflated(payload.size(), '\0');
    uLongf length = inflated.size();
    ASSERT_EQ(uncompress(reinterpret_cast<Bytef*>(inflated.data()), &length,
                         reinterpret_cast<const Bytef*>(z.data()), z.size()),
              Z_OK);
    EXPECT_EQ(inflated, payload);

    for (const std::string& p : {std::string(), std::string("\x00\xFF\r\n", 4), std::string(100000, 'w')})
        EXPECT_EQ(UnpackKovaDat(PackKovaDat(p)), p);
    EXPECT_EQ(UnpackKovaDat(PackKovaDat(payload, "another"), "another"), payload);

    // Larger than one 1024-byte hashing piece.
    TMemoryStream large(std::string(5000, 'h'));
    TMD5Digest pieces;
    THashing().HashStream(large, pieces);
    EXPECT_EQ(pieces, TMD5::Digest(std::string(5000, 'h')));
}

TEST(UnitEncryptStream, HashedContainerFailuresCarryTheSystemTexts) {
    const std::string wrongHash = "TKryptUtils.DecryptStreamWithHash: Wrong Hash";
    const std::string file = PackKovaDat(ReadTextFile(SampleDir + "KovaDatSample.xml"));
    // Every wrong pass phrase gives the digest error, whatever the final block decrypts to.
    for (int i = 0; i < 64; ++i)
        EXPECT_EQ(ErrorOf([&] { UnpackKovaDat(file, "wrong " + std::to_string(i)); }), wrongHash) << i;
    EXPECT_EQ(ErrorOf([&] { UnpackKovaDat(file, ""); }),
              "TKryptHelperPassPhrase.Create: Passphrase is empty");
    EXPECT_EQ(ErrorOf([&] { PackKovaDat("x", ""); }), "TKryptHelperPassPhrase.Create: Passphrase is empty");

    for (size_t i = 0; i < file.size(); ++i) {
        std::string damaged = file;
        damaged[i] = static_cast<char>(damaged[i] ^ 0x01);
        ASSERT_EQ(ErrorOf([&] { UnpackKovaDat(damaged); }), wrongHash) << i;
    }
    for (size_t size = 0; size < file.size(); ++size) {
        const std::string error = ErrorOf([&] { UnpackKovaDat(file.substr(0, size)); });
        // Below 48 bytes the plaintext may be too short to hold a digest at all.
        if (size < 32)
            ASSERT_EQ(error, "Invalid file format") << size;
        else if (size < 48 && error == "Stream read error")
            continue;
        else
            ASSERT_EQ(error, wrongHash) << size;
    }

    // A sound digest over data that is not zlib, or zlib cut short.
    TMemoryStream notZlib(std::string("plain text, not compressed"));
    TKryptUtils::EncryptStreamWithHash(notZlib, KovaDatPassPhrase);
    EXPECT_EQ(ErrorOf([&] { UnpackKovaDat(notZlib.Bytes()); }), "incorrect header check");
    TMemoryStream cut(std::string("0123456789abcdef0123456789"));
    TStreamCompression::Compress(cut);
    cut.SetSize(cut.Size() - 6);
    TKryptUtils::EncryptStreamWithHash(cut, KovaDatPassPhrase);
    EXPECT_EQ(ErrorOf([&] { UnpackKovaDat(cut.Bytes()); }), "unexpected end of compressed data");
    // A small file that would inflate beyond any real payload is refused instead of exhausting memory.
    TMemoryStream bomb(std::string(TStreamCompression::MaxDecompressedSize + 1, '\0'));
    TStreamCompression::Compress(bomb);
    EXPECT_LT(bomb.Size(), 100000);
    EXPECT_EQ(ErrorOf([&] { TStreamCompression::Decompress(bomb); }), "decompressed data too large");
}

TEST(UnitEncryptStream, PackedSampleStillUnpacks) {
    EXPECT_EQ(UnpackKovaDatFile(SampleDir + "KovaDatSample.dat"),
              ReadTextFile(SampleDir + "KovaDatSample.xml"));
}
