#pragma once
// Files that only their owner may read, in folders that only their owner may enter: for what must stay off
// command lines and out of shared folders.

#include <string>
#include <string_view>

struct TPrivateFile {
    std::string Path;
    std::string
        OwnFolder; // a folder made for this file alone and removed with it; empty in the runtime folder
    std::string PassedOver; // why $XDG_RUNTIME_DIR/<folder> was not used; empty when it was, or is not set
};

// Creates a new file of mode 0600 holding data, named prefix + random letters + suffix, in
// $XDG_RUNTIME_DIR/folderName/ (made 0700 when missing); when that is not set, or is a link, another user's
// or open to others, in a folder of its own made by mkdtemp in $TMPDIR (else /tmp). The file is made new,
// never through a link and never over an existing file. Raises EFCreateError or EWriteError with the reason.
TPrivateFile CreatePrivateFile(const std::string& folderName, const std::string& prefix,
                               const std::string& suffix, std::string_view data);

// Removes the file and its own folder; true when both are gone afterwards.
bool RemovePrivateFile(const TPrivateFile& file);

// A folder of this user alone that later processes of the user find again: $XDG_RUNTIME_DIR/folderName
// (made 0700 when missing), else $TMPDIR (else /tmp)/folderName-UID under the same checks. Raises
// EFCreateError when neither can be used.
std::string PrivateRuntimeFolder(const std::string& folderName);

// A new folder of this user alone, made by mkdtemp as $TMPDIR (else /tmp)/folderName-UID-XXXXXX: for when
// the name PrivateRuntimeFolder finds is taken by another user, who cannot have made this one before. The
// caller removes it. Raises EFCreateError with the reason.
std::string MakeFreshPrivateFolder(const std::string& folderName);
