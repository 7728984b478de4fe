#pragma once
// Process-wide logging: callers append to a queue; one logging thread stamps and writes the messages.

#include "base/UnitUtils.h"
#include "support/UnitLoggingOptions.h"

#include <deque>
#include <exception>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>

enum TLogMessageKind : int { lmkInfo = 0, lmkWarning = 1, lmkError = 2, lmkAssert = 3 };

// The label written in front of a message of that kind ("Info   ", "Warning", "Error", "Assert ").
const char* LogMessageKindLabel(int kind);

class TLogMessageList;

// Stamps messages and writes them to the log file, the debugger output and/or the message list.
class TLogging {
public:
    // An object of its own, as tests and tools use; CreateProcessWide makes the one that Log feeds.
    TLogging(TLoggingLevel level, const std::string& logFilePath, TLoggingTargets targets);
    virtual ~TLogging();
    TLogging(const TLogging&) = delete;
    TLogging& operator=(const TLogging&) = delete;

    // Replaces (and frees) the process-wide object with a new one and returns it.
    static TLogging& CreateProcessWide(TLoggingLevel level, const std::string& logFilePath,
                                       TLoggingTargets targets);

    virtual void WriteMessage(const std::string& text, int kind);
    // Writes "%s: %s (%s)" at once with kind Error, bypassing the queue.
    virtual void LogException(const std::exception& e, const std::string& location);

    TLoggingLevel Level() const { return FLevel; }
    TLoggingTargets Targets() const { return FTargets; }
    const std::string& LogFilePath() const { return FLogFilePath; }
    TLogMessageList& MessageList() { return *FMessageList; }
    int MaxFileSizeKB() const { return FMaxFileSizeKB; }
    int TrimmedFileSizeKB() const { return FTrimmedFileSizeKB; }

protected:
    std::unique_ptr<TLogMessageList> CreateMessageList();

private:
    void WriteLineToFile(const std::string& line);
    void TrimFile();
    void WriteToFile(const std::string& stamped, int kind);

    std::string FLogFilePath;
    TLoggingLevel FLevel;
    TLoggingTargets FTargets;
    std::unique_ptr<TLogMessageList> FMessageList;
    int FMaxFileSizeKB = 400;
    int FTrimmedFileSizeKB = 200;
    std::string FFileFailure; // the last reason the file could not be written, told once on debugger output
};

// Messages kept in memory, each entry the kind digit followed by the time-stamped text. Bounded: beyond
// MaxEntries the oldest entry goes, so an unwritable log cannot grow the process without end.
class TLogMessageList {
public:
    static constexpr size_t MaxEntries = 10000;
    void Add(const std::string& text, int kind);
    int Count() const;
    std::string Text(int index) const;
    int Kind(int index) const;
    void Delete(int index);

private:
    std::deque<std::string> FEntries;
};

// Only the first call acts until StopLogging; after it, the next call starts logging again.
void StartLogging(TLoggingLevel defaultLevel, TLoggingTargets defaultTargets, const std::string& logFilePath);
// Waits (when asked) until the queue is empty, then ends the logging thread; later Log calls are dropped
// until StartLogging runs again.
void StopLogging(bool wait);
// Never raises; may be called from any thread.
void Log(const std::string& text, TLogMessageKind kind = lmkInfo);
void LogFmt(std::string_view format, std::initializer_list<TFormatArg> args, TLogMessageKind kind = lmkInfo);
void LogException(const std::exception& e, const std::string& location, bool flattenLineBreaks = true);
void LogException(std::exception_ptr e, const std::string& location, bool flattenLineBreaks = true);
std::string LoggingDescription();
// The process-wide TLogging; creates a silent one (lgNone, debugger output) when there is none.
TLogging& Logging();
// The log path for an empty path: the executable's path with its extension replaced by ".log" when the
// executable's folder is writable, else that name in $XDG_STATE_HOME/kova-gadget/ (else
// ~/.local/state/kova-gadget/), which is made when missing.
std::string DefaultLogFilePath();

// "%s: %s (%s)" of class name, message and location, or "%s: %s" without a location.
std::string ExceptionLogText(const std::exception& e, const std::string& location, bool flattenLineBreaks);
