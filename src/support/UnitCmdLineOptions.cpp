#include "support/UnitCmdLineOptions.h"

#include "base/UnitUtils.h"
#include "platform/UnitPlatformProcess.h"

bool CmdLineSwitch(const std::string& name) {
    const auto args = ProcessCommandLine();
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (!a.empty() && (a[0] == '-' || a[0] == '/') && SameText(std::string_view(a).substr(1), name))
            return true;
    }
    return false;
}

TLoggingLevel LoggingLevelFromCmdLine(TLoggingLevel defaultLevel) {
    if (CmdLineSwitch("nolog")) return lgNone;
    if (CmdLineSwitch("logwarnings")) return lgWarningsAndErrors;
    if (CmdLineSwitch("log") || CmdLineSwitch("logall")) return lgAll;
    return defaultLevel;
}

TLoggingTargets LoggingTargetsFromCmdLine(TLoggingTargets defaultTargets) {
    TLoggingTargets targets = defaultTargets;
    if (CmdLineSwitch("logtodebugoutput")) targets |= lgtrgtToDebugOutput;
    if (CmdLineSwitch("logtofile")) targets |= lgtrgtToFile;
    if (CmdLineSwitch("logtolist")) targets |= lgtrgtToList;
    return targets;
}
