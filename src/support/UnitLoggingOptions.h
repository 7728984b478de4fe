#pragma once
// The logging choices, level and targets: the command line reads them (UnitCmdLineOptions) below the
// logging that takes them (UnitLogging).

enum TLoggingLevel : int { lgNone = 0, lgAll = 1, lgWarningsAndErrors = 2 };

using TLoggingTargets = unsigned;
constexpr TLoggingTargets lgtrgtToDebugOutput = 1;
constexpr TLoggingTargets lgtrgtToFile = 2;
constexpr TLoggingTargets lgtrgtToList = 4;
