#pragma once
// File helpers shared by the system's units.

#include <cstdint>
#include <string>

// The file's size in bytes, or def when the file does not exist or no way of reading its size works.
int64_t FileSizeOf(const std::string& path, int64_t def);

// The path with its extension (from the last "." of the file name) replaced; appended when there is none.
std::string ChangeFileExt(const std::string& path, const std::string& extension);
// The folder part of a path including its trailing "/", or "" when there is none.
std::string ExtractFilePath(const std::string& path);
std::string ExtractFileName(const std::string& path);
// The path with exactly one trailing "/".
std::string IncludeTrailingPathDelimiter(const std::string& path);
