// Placeholder until the logging thread lands: the interface links, messages are dropped.
#include "support/UnitLogging.h"

#include "support/UnitExceptions.h"

const char* LogMessageKindLabel(int kind) {
    static const char* const labels[] = {"Info   ", "Warning", "Error", "Assert "};
    return kind >= 0 && kind <= 3 ? labels[kind] : labels[0];
}
void StartLogging(TLoggingLevel, TLoggingTargets, const std::string&) {}
void StopLogging(bool) {}
void Log(const std::string&, TLogMessageKind) {}
void LogFmt(std::string_view, std::initializer_list<TFormatArg>, TLogMessageKind) {}
void LogException(const std::exception&, const std::string&, bool) {}
void LogException(std::exception_ptr, const std::string&, bool) {}
std::string LoggingDescription() { return "lgNone"; }
