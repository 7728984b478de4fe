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
