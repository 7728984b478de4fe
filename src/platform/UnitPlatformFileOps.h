#pragma once
// Removing, renaming and linking files; each reports success instead of raising, as callers decide.

#include <string>

// Removes a file; true when it is gone afterwards (also when there was none).
bool DeleteFile(const std::string& path);
// Renames a file, replacing the target atomically; false when the system refused.
bool RenameFile(const std::string& from, const std::string& to);
// Gives an existing file a second name in the same file system, replacing a file of that name; false when
// the system refused (another file system, or one without links).
bool CreateHardLink(const std::string& existing, const std::string& linkPath);
