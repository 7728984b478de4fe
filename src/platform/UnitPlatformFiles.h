#pragma once
// File operations that need the operating system: atomic replacement, permissions, sizes.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

enum class TFileAccess {
    Shared,   // new: rw-r--r-- less the umask; the user's own file keeps its mode, capped at rw-r--r--
    OwnerOnly // rw------- always, for files that hold credentials or name the user's account
};

// What a replaced file must survive besides a failed write.
enum class TFileKeep {
    // Not waited for on disk: a file the program writes again from what it holds (the control's view
    // fragments). Readers still see the old file or the new one, whole.
    Rebuilt,
    // Flushed to disk before the rename, and the rename after it: the user's data, settings and credentials,
    // which after a crash of the machine are the old file or the new one, whole.
    Durable
};

// Replaces the file at path with data: writes a temporary file in the same folder and renames it over the
// old one, so that a failure at any step leaves the old file whole. Raises EFCreateError or EWriteError with
// the system's text on failure.
void WriteFileAtomic(const std::string& path, std::string_view data, TFileAccess access = TFileAccess::Shared,
                     TFileKeep keep = TFileKeep::Durable);

// Reads a whole file; raises EFOpenError when it cannot be opened and EReadError when reading fails.
std::string ReadFileBytes(const std::string& path);
bool TryReadFileBytes(const std::string& path, std::string& data);

// Opens the file (creating it when missing), appends data at its end and closes it again. A symbolic link, a
// hard link (a file with other names) or anything but a regular file at the name is refused, never written
// through, and its mode is never changed. Raises EFOpenError or
// EWriteError with the reason.
void AppendToFile(const std::string& path, std::string_view data, TFileAccess access = TFileAccess::Shared);

bool FileExists(const std::string& path); // a regular file (or a link to one)
bool DirectoryExists(const std::string& path);
// The size from the file system, or -1.
int64_t PlatformFileSize(const std::string& path);
// The size through an open descriptor (seeking to the end), or -1 when the file cannot be opened.
int64_t PlatformFileSizeByOpening(const std::string& path);
// Permission bits of an existing file, or -1.
int FilePermissions(const std::string& path);

// Tests make writes fail as on a full disk: the hook sees the target path and returns true to fail it.
void SetWriteFaultForTesting(std::function<bool(const std::string& path)> fault);
