#pragma once
// Making and opening the application data file: an XML payload in a hashed compressed container.

#include <string>
#include <string_view>

// The fixed pass phrase of the application data file "KovaDat.dat".
constexpr const char* KovaDatPassPhrase = "{5B9E27C4-31A8-4F6D-9E02-C7A41D3B86F5}";

// The container bytes for a payload: zlib, MD5 digest, AES with the pass-phrase key.
std::string PackKovaDat(std::string_view payload, std::string_view passPhrase = KovaDatPassPhrase);
// The payload of container bytes; raises the container's errors (a wrong pass phrase: EKryptHashError).
std::string UnpackKovaDat(std::string_view container, std::string_view passPhrase = KovaDatPassPhrase);

// Packs the file at inPath into outPath, which is replaced atomically.
void PackKovaDatFile(const std::string& inPath, const std::string& outPath,
                     std::string_view passPhrase = KovaDatPassPhrase);
std::string UnpackKovaDatFile(const std::string& inPath, std::string_view passPhrase = KovaDatPassPhrase);
