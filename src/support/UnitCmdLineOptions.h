#pragma once
// Switches on the host process's command line.

#include "support/UnitLoggingOptions.h"

#include <string>

// True when an argument after the program name is "-" or "/" followed by the name, in any letter case.
bool CmdLineSwitch(const std::string& name);

// The logging level and targets that the command line chooses, starting from the defaults.
TLoggingLevel LoggingLevelFromCmdLine(TLoggingLevel defaultLevel);
TLoggingTargets LoggingTargetsFromCmdLine(TLoggingTargets defaultTargets);
