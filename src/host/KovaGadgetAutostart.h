#pragma once
// Starting the host with the desktop session: a desktop entry in the user's autostart folder.

#include <string>

// $XDG_CONFIG_HOME/autostart/kova-gadget.desktop (else ~/.config/autostart/...); empty when neither
// variable is set.
std::string KovaAutostartPath();

// The entry that starts the program with the folder (empty: the default one) and the browser choice.
std::string KovaAutostartEntry(const std::string& program, const std::string& gadgetDir,
                               const std::string& browser);

// Writes the entry (atomically) or removes it. Raises Exception with the reason.
void SetKovaAutostart(bool on, const std::string& entry);

// One argument of the entry's Exec key, quoted and escaped as desktop entries need.
std::string KovaDesktopExecArgument(const std::string& argument);
