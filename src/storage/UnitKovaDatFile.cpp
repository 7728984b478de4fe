#include "storage/UnitKovaDatFile.h"

#include "platform/UnitPlatformFiles.h"
#include "storage/UnitEncryptStream.h"

std::string PackKovaDat(std::string_view payload, std::string_view passPhrase) {
    TMemoryStream stream{std::string(payload)};
    TKryptCompressionUtils::CompressAndEncryptStream(stream, passPhrase);
    return stream.Bytes();
}

std::string UnpackKovaDat(std::string_view container, std::string_view passPhrase) {
    TMemoryStream stream{std::string(container)};
    TKryptCompressionUtils::DecryptAndDecompressStream(stream, passPhrase);
    return stream.Bytes();
}

void PackKovaDatFile(const std::string& inPath, const std::string& outPath, std::string_view passPhrase) {
    WriteFileAtomic(outPath, PackKovaDat(ReadFileBytes(inPath), passPhrase), TFileAccess::Shared,
                    TFileKeep::Durable);
}

std::string UnpackKovaDatFile(const std::string& inPath, std::string_view passPhrase) {
    return UnpackKovaDat(ReadFileBytes(inPath), passPhrase);
}
