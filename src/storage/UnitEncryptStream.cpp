#include "storage/UnitEncryptStream.h"

#include <algorithm>
#include <cstring>
#include <openssl/crypto.h>
#include <zlib.h>

namespace {

// The built-in key is an obfuscation, not a secret: anyone with the program can read it. It only keeps the
// stored credentials from being read at a glance. Each key byte is the table byte minus 3.
constexpr uint8_t BuiltInKeyTable[32] = {0x10, 0x67, 0xA9, 0xEF, 0x0C, 0xE2, 0xA5, 0xBA, 0x28, 0xD1, 0x79,
                                         0x66, 0x54, 0xF8, 0x40, 0xD2, 0x01, 0xC3, 0xF4, 0x2D, 0xBD, 0xD7,
                                         0xB8, 0xC8, 0xC7, 0x9C, 0x7D, 0xE7, 0xA0, 0x73, 0xB8, 0x31};

constexpr const char* SWrongHash = "TKryptUtils.DecryptStreamWithHash: Wrong Hash";

class TWipedString {
public:
    explicit TWipedString(std::string s) : Value(std::move(s)) {}
    ~TWipedString() { OPENSSL_cleanse(Value.data(), Value.size()); }
    std::string Value;
};

} // namespace

void TKryptHelperBase::Encrypt(TStream& stream) {
    TWipedString plain(stream.ReadAllBytes());
    stream.ReplaceContent(FCipher.EncryptBytes(plain.Value));
}

void TKryptHelperBase::Decrypt(TStream& stream) {
    TWipedString plain(FCipher.DecryptBytes(stream.ReadAllBytes()));
    stream.ReplaceContent(plain.Value);
}

namespace {

TKryptKey CheckedPassPhraseKey(std::string_view passPhrase) {
    if (passPhrase.empty()) throw EKryptError("TKryptHelperPassPhrase.Create: Passphrase is empty");
    return PassPhraseKey(passPhrase);
}

} // namespace

TKryptHelperPassPhrase::TKryptHelperPassPhrase(std::string_view passPhrase)
    : TKryptHelperBase(CheckedPassPhraseKey(passPhrase)) {
}

void THashing::HashStream(TStream& stream, TMD5Digest& digest) {
    stream.SetPosition(0);
    char piece[1024];
    for (size_t n; (n = stream.Read(piece, sizeof piece)) > 0;)
        FMD5.Update(piece, n);
    digest = FMD5.Final();
}

void TKryptUtils::EncryptStreamWithKey(TStream& stream, const TKryptKey& key) {
    TKryptHelperKey(key).Encrypt(stream);
}

void TKryptUtils::DecryptStreamWithKey(TStream& stream, const TKryptKey& key) {
    TKryptHelperKey(key).Decrypt(stream);
}

void TKryptUtils::DecryptStreamWithHash(TStream& stream, std::string_view passPhrase) {
    TKryptHelperPassPhrase helper(passPhrase);
    try {
        helper.Decrypt(stream);
    } catch (const EKryptFormatError&) {
        // With two whole blocks present the layout is sound; a final count out of range then means a wrong
        // key or damage, exactly what the digest reports, and the caller gets one message for both.
        if (stream.Size() < 32) throw;
        throw EKryptHashError(SWrongHash);
    }
    const std::string plain = stream.ReadAllBytes();
    stream.SetSize(0);
    if (plain.size() < 16) throw EReadError("Stream read error");
    TMD5Digest stored;
    std::memcpy(stored.data(), plain.data(), stored.size());
    stream.WriteBuffer(plain.data() + 16, plain.size() - 16);

    TMD5Digest actual;
    THashing().HashStream(stream, actual);
    if (CRYPTO_memcmp(stored.data(), actual.data(), stored.size()) != 0) throw EKryptHashError(SWrongHash);
    stream.SetPosition(0);
}

void TKryptUtils::EncryptStreamWithHash(TStream& stream, std::string_view passPhrase) {
    TKryptHelperPassPhrase helper(passPhrase);
    TMD5Digest digest;
    THashing().HashStream(stream, digest);
    const std::string data = stream.ReadAllBytes();
    std::string hashed(reinterpret_cast<const char*>(digest.data()), digest.size());
    hashed += data;
    stream.ReplaceContent(hashed);
    helper.Encrypt(stream);
}

void TStreamCompression::Decompress(TStream& stream) {
    const std::string input = stream.ReadAllBytes();
    z_stream z{};
    if (inflateInit(&z) != Z_OK) throw EZDecompressionError(z.msg ? z.msg : "inflate set-up failed");
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(input.data()));
    z.avail_in = static_cast<uInt>(input.size());
    // Inflating straight into a generously sized result is measurably faster than small pieces.
    std::string output(std::max<size_t>(64 * 1024, 4 * input.size()), '\0');
    size_t produced = 0;
    int ret = Z_OK;
    while (ret != Z_STREAM_END) {
        if (produced == output.size()) {
            if (output.size() >= MaxDecompressedSize) {
                inflateEnd(&z);
                throw EZDecompressionError("decompressed data too large");
            }
            output.resize(std::min(2 * output.size(), MaxDecompressedSize));
        }
        z.next_out = reinterpret_cast<Bytef*>(output.data() + produced);
        z.avail_out = static_cast<uInt>(output.size() - produced);
        ret = inflate(&z, Z_NO_FLUSH);
        produced = output.size() - z.avail_out;
        if (ret != Z_OK && ret != Z_STREAM_END) {
            std::string message = z.msg ? z.msg : zError(ret);
            // Z_BUF_ERROR with all input used means the input ended before the stream did.
            if (ret == Z_BUF_ERROR && z.avail_in == 0) message = "unexpected end of compressed data";
            inflateEnd(&z);
            throw EZDecompressionError(message);
        }
    }
    inflateEnd(&z);
    output.resize(produced);
    stream.ReplaceContent(output);
}

void TStreamCompression::Compress(TStream& stream) {
    const std::string input = stream.ReadAllBytes();
    uLongf length = compressBound(static_cast<uLong>(input.size()));
    std::string output(length, '\0');
    const int ret = compress2(reinterpret_cast<Bytef*>(output.data()), &length,
                              reinterpret_cast<const Bytef*>(input.data()), static_cast<uLong>(input.size()),
                              Z_BEST_COMPRESSION);
    if (ret != Z_OK) throw EZCompressionError(zError(ret));
    output.resize(length);
    stream.ReplaceContent(output);
}

void TKryptCompressionUtils::DecryptAndDecompressStream(TStream& stream, std::string_view passPhrase) {
    TKryptUtils::DecryptStreamWithHash(stream, passPhrase);
    TStreamCompression::Decompress(stream);
}

void TKryptCompressionUtils::CompressAndEncryptStream(TStream& stream, std::string_view passPhrase) {
    // The pass phrase is checked first so that an empty one fails before any work is done.
    TKryptHelperPassPhrase check(passPhrase);
    TStreamCompression::Compress(stream);
    TKryptUtils::EncryptStreamWithHash(stream, passPhrase);
}

TKryptKey TEncryptStreamBase::GetKey() {
    TKryptKey key;
    for (size_t i = 0; i < key.size(); ++i)
        key[i] = static_cast<uint8_t>(BuiltInKeyTable[i] - 3);
    return key;
}

void TEncryptStreamBase::EncryptSelf() {
    TKryptKey key = GetKey();
    TKryptUtils::EncryptStreamWithKey(*this, key);
    OPENSSL_cleanse(key.data(), key.size());
}

void TEncryptStreamBase::DecryptSelf() {
    TKryptKey key = GetKey();
    TKryptUtils::DecryptStreamWithKey(*this, key);
    OPENSSL_cleanse(key.data(), key.size());
}

void TEncryptStreamBase::WriteEncryptedFieldsTo(TStream& target) {
    // A cipher text that the reader would refuse is never written: saving it would lose the data.
    if (Size() > MaxLengthEncrypted)
        throw EWriteError(ClassName() + ".WriteEncryptedFieldsTo(): LengthEncrypted > Length(Buffer)");
    const auto length = static_cast<int32_t>(Size());
    TValueWriter writer(target);
    writer.WriteListBegin();
    writer.WriteInteger(length);
    writer.FlushBuffer();
    target.WriteBuffer(Bytes().data(), static_cast<size_t>(length));
    SetPosition(0);
    writer.WriteListEnd();
    writer.FlushBuffer();
}

void TEncryptStreamBase::ReadEncryptedFieldsFrom(TStream& source) {
    TValueReader reader(source);
    reader.ReadListBegin();
    const int32_t lengthEncrypted = reader.ReadInteger();
    reader.FlushBuffer();
    if (lengthEncrypted > MaxLengthEncrypted)
        throw Exception(ClassName() + ".ReadEncryptedFieldsFrom(): LengthEncrypted > Length(Buffer)");
    if (lengthEncrypted < 0)
        throw EReadError(ClassName() + ".ReadEncryptedFieldsFrom(): LengthEncrypted < 0");
    std::string buffer(static_cast<size_t>(lengthEncrypted), '\0');
    source.ReadBuffer(buffer.data(), buffer.size());
    reader.ReadListEnd();
    reader.FlushBuffer();
    ReplaceContent(buffer);
}

void TEncryptStreamBase::ReadFields() {
    SetPosition(0);
    TValueReader reader(*this);
    reader.ReadListBegin();
    ReadFieldValues(reader);
    reader.ReadListEnd();
}

void TEncryptStreamBase::WriteFields() {
    // Emptied first: bytes of an earlier load or save must not trail the new fields into the file.
    Clear();
    TValueWriter writer(*this);
    writer.WriteListBegin();
    WriteFieldValues(writer);
    writer.WriteListEnd();
    writer.FlushBuffer();
}

void TEncryptStreamBase::SaveToStreamEncrypted(TStream& target) {
    WriteFields();
    EncryptSelf();
    WriteEncryptedFieldsTo(target);
}

void TEncryptStreamBase::LoadFromStreamEncrypted(TStream& source) {
    ReadEncryptedFieldsFrom(source);
    DecryptSelf();
    ReadFields();
}

void TEncryptStreamBase::SaveToFileEncrypted(const std::string& path, TFileAccess access) {
    TMemoryStream target;
    SaveToStreamEncrypted(target);
    WriteFileAtomic(path, target.Bytes(), access, TFileKeep::Durable);
}

void TEncryptStreamBase::LoadFromFileEncrypted(const std::string& path) {
    TMemoryStream source(ReadFileBytes(path));
    LoadFromStreamEncrypted(source);
}
