#pragma once
// The user's base folders as the XDG base directory rules name them, and whether a folder takes files.

#include <string>

// $XDG_CONFIG_HOME, else ~/.config; empty when neither that nor HOME is set.
std::string UserConfigFolder();
// $XDG_STATE_HOME, else ~/.local/state; empty when neither that nor HOME is set.
std::string UserStateFolder();

// Whether the folder's permission bits let this user create files in it (root included) and its mount is
// writable.
bool FolderIsWritable(const std::string& folder);

// Creates the folder and its parents with mode 0700 for the new ones; false when it is not a folder after.
bool ForceFolder(const std::string& folder);

// A folder's permission bits (of the folder a link at its name leads to), or -1.
int FolderMode(const std::string& folder);
// Takes every right of group and others away from a folder of this user's own, through the folder opened
// without following a link; empty on success, else the reason.
std::string RestrictFolderToOwner(const std::string& folder);
