#pragma once
// The encrypted containers: the field container (tagged values under the built-in key, framed with their
// length) and the hashed compressed container (MD5 and zlib data under a pass-phrase key).

#include "platform/UnitPlatformFiles.h"
#include "storage/UnitLockBox.h"
#include "storage/UnitStream.h"

#include <cstdint>
#include <string>
#include <string_view>

// Corrupt or truncated zlib data; the message is zlib's own text.
KOVA_DECLARE_EXCEPTION(EZDecompressionError, Exception);
KOVA_DECLARE_EXCEPTION(EZCompressionError, Exception);

// Encrypts and decrypts whole streams with one AES-256 key in the containers' cipher layout.
class TKryptHelperBase {
public:
    virtual ~TKryptHelperBase() = default;
    TKryptHelperBase(const TKryptHelperBase&) = delete;
    TKryptHelperBase& operator=(const TKryptHelperBase&) = delete;

    // Replaces the stream's content, read from its start, by the cipher text; position 0 afterwards.
    virtual void Encrypt(TStream& stream);
    // Replaces the cipher text by the plaintext; position 0. Raises EKryptFormatError "Invalid file format"
    // for fewer than two whole blocks or a final block count above 15.
    virtual void Decrypt(TStream& stream);

protected:
    explicit TKryptHelperBase(const TKryptKey& key) : FCipher(key) {}

private:
    TRijndaelCipher FCipher;
};

// The key derived from a pass phrase (LMD); an empty pass phrase raises EKryptError.
class TKryptHelperPassPhrase : public TKryptHelperBase {
public:
    explicit TKryptHelperPassPhrase(std::string_view passPhrase);
};

// A key given as its 32 bytes.
class TKryptHelperKey : public TKryptHelperBase {
public:
    explicit TKryptHelperKey(const TKryptKey& key) : TKryptHelperBase(key) {}
};

// MD5 of whole streams.
class THashing {
public:
    // The digest of the stream from position 0 to its end.
    void HashStream(TStream& stream, TMD5Digest& digest);

private:
    TMD5 FMD5;
};

class TKryptUtils {
public:
    TKryptUtils() = delete;
    static void EncryptStreamWithKey(TStream& stream, const TKryptKey& key);
    static void DecryptStreamWithKey(TStream& stream, const TKryptKey& key);
    // The stream holds the digest of the data followed by the data, encrypted with the pass-phrase key;
    // afterwards it holds the data, position 0. A wrong pass phrase or damaged content raises
    // EKryptHashError.
    static void DecryptStreamWithHash(TStream& stream, std::string_view passPhrase);
    // The reverse, for the tool that makes data files.
    static void EncryptStreamWithHash(TStream& stream, std::string_view passPhrase);
};

class TStreamCompression {
public:
    TStreamCompression() = delete;
    // Largest payload that Decompress produces; beyond it the data is treated as corrupt.
    static constexpr size_t MaxDecompressedSize = 64u << 20;
    // Inflates the zlib stream (RFC 1950) that the stream holds; position 0 afterwards.
    static void Decompress(TStream& stream);
    static void Compress(TStream& stream);
};

class TKryptCompressionUtils {
public:
    TKryptCompressionUtils() = delete;
    // Reads a hashed compressed container: afterwards the stream holds the payload, position 0.
    static void DecryptAndDecompressStream(TStream& stream, std::string_view passPhrase);
    // Makes a hashed compressed container of the payload the stream holds; position 0 afterwards.
    static void CompressAndEncryptStream(TStream& stream, std::string_view passPhrase);
};

// A field container: a record of tagged values, encrypted with the built-in key and framed as
// 0x01, the tagged cipher text length, the cipher text, 0x00. The object's own bytes are the working area:
// plaintext while fields are written or read, cipher text in between.
//
// A descendant overrides ClassName (its messages start with it) and the two field operations, which write
// or read its fields in a fixed order through the value writer or reader. It may also override GetKey to use
// another key. The other virtual operations are the steps of a save or load and are rarely overridden:
//   SaveToStreamEncrypted = WriteFields, EncryptSelf, WriteEncryptedFieldsTo
//   LoadFromStreamEncrypted = ReadEncryptedFieldsFrom, DecryptSelf, ReadFields
// An object serves one load or one save; after a failure it may hold partial data and is discarded.
class TEncryptStreamBase : public TMemoryStream {
public:
    // The size of the reader's buffer: a longer cipher text is refused on reading and never written.
    static constexpr int32_t MaxLengthEncrypted = 8193;

    virtual std::string ClassName() const { return "TEncryptStreamBase"; }

    // The built-in key.
    virtual TKryptKey GetKey();
    // Encrypts or decrypts the own bytes in place with GetKey.
    virtual void EncryptSelf();
    virtual void DecryptSelf();
    // Writes the frame around the own cipher text at the target's position.
    virtual void WriteEncryptedFieldsTo(TStream& target);
    // Reads one frame from the source's position; the source is left right behind it and the own bytes
    // hold the cipher text.
    virtual void ReadEncryptedFieldsFrom(TStream& source);
    // Reads the list of field values from the own (decrypted) bytes.
    virtual void ReadFields();
    // Replaces the own bytes by the list of field values.
    virtual void WriteFields();
    virtual void WriteFieldValues(TValueWriter& writer) = 0;
    virtual void ReadFieldValues(TValueReader& reader) = 0;
    virtual void SaveToStreamEncrypted(TStream& target);
    virtual void LoadFromStreamEncrypted(TStream& source);

    // Saves to a file that is replaced atomically: on any failure the previous file stays whole.
    // Containers hold credentials, hence owner-only access unless asked otherwise.
    void SaveToFileEncrypted(const std::string& path, TFileAccess access = TFileAccess::OwnerOnly);
    // Loads the whole file; EFOpenError when it cannot be opened.
    void LoadFromFileEncrypted(const std::string& path);
};
