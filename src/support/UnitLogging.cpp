#include "support/UnitLogging.h"

#include "base/UnitExceptions.h"
#include "platform/UnitPlatformClock.h"
#include "platform/UnitPlatformDebugOutput.h"
#include "platform/UnitPlatformFiles.h"
#include "platform/UnitPlatformMainThread.h"
#include "platform/UnitPlatformPlaces.h"
#include "platform/UnitPlatformProcess.h"
#include "support/UnitCmdLineOptions.h"
#include "support/UnitFileUtils.h"
#include "support/UnitFormatSettings.h"
#include "support/UnitLoggingThread.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>

namespace {

std::mutex GLoggingLock; // guards creating and replacing the process-wide TLogging
std::unique_ptr<TLogging> GLoggingOwner;
std::atomic<TLogging*> GLogging{nullptr};

// Guards the thread reference and the thread's queue; held for one append or one take.
std::mutex GQueueLock;
// Wakes the logging thread for a queued message or its end.
std::condition_variable GQueueChanged;
TThreadLogging* GLoggingThread = nullptr;
std::atomic<bool> GStarted{false};
std::atomic<bool> GStartCalled{false};

const char* const SLocationThreadEnd = "TThreadReminderLog.SelfTerminate";

std::string TimeStamped(const std::string& text) {
    return FormatDateTime("dd.mm.yyyy hh:nn:ss:zzz", Now(), DefaultFormatSettings()) + " - " + text;
}

bool KindPasses(TLoggingLevel level, int kind) {
    if (level == lgAll) return true;
    if (level == lgWarningsAndErrors) return kind >= 1 && kind <= 3;
    return false;
}

void LoggingThreadEnded(TThread& thread) {
    if (auto error = thread.FatalException()) {
        try {
            std::rethrow_exception(error);
        } catch (const std::exception& e) {
            Logging().LogException(e, SLocationThreadEnd);
        } catch (...) {
        }
    }
    std::lock_guard lock(GQueueLock);
    if (GLoggingThread == &thread) GLoggingThread = nullptr;
}

} // namespace

const char* LogMessageKindLabel(int kind) {
    static const char* const labels[] = {"Info   ", "Warning", "Error", "Assert "};
    return kind >= 0 && kind <= 3 ? labels[kind] : labels[0];
}

// ---- TLogMessageList

void TLogMessageList::Add(const std::string& text, int kind) {
    if (FEntries.size() >= MaxEntries) FEntries.pop_front();
    FEntries.push_back(std::to_string(kind >= 0 && kind <= 9 ? kind : 0) + text);
}

int TLogMessageList::Count() const {
    return static_cast<int>(FEntries.size());
}

std::string TLogMessageList::Text(int index) const {
    const std::string& e = FEntries.at(static_cast<size_t>(index));
    return e.empty() ? e : e.substr(1);
}

int TLogMessageList::Kind(int index) const {
    const std::string& e = FEntries.at(static_cast<size_t>(index));
    return !e.empty() && e[0] >= '0' && e[0] <= '9' ? e[0] - '0' : 0;
}

void TLogMessageList::Delete(int index) {
    FEntries.erase(FEntries.begin() + index);
}

// ---- TLogging

TLogging::TLogging(TLoggingLevel level, const std::string& logFilePath, TLoggingTargets targets)
    : FLogFilePath(logFilePath), FLevel(level), FTargets(targets), FMessageList(CreateMessageList()) {
}

TLogging::~TLogging() = default;

std::unique_ptr<TLogMessageList> TLogging::CreateMessageList() {
    return std::make_unique<TLogMessageList>();
}

TLogging& TLogging::CreateProcessWide(TLoggingLevel level, const std::string& logFilePath,
                                      TLoggingTargets targets) {
    std::lock_guard lock(GLoggingLock);
    auto fresh = std::make_unique<TLogging>(level, logFilePath, targets);
    GLogging = fresh.get();
    GLoggingOwner = std::move(fresh);
    return *GLoggingOwner;
}

// The log names the user's items and account: owner-only, and never written through a link at its name.
void TLogging::WriteLineToFile(const std::string& line) {
    AppendToFile(FLogFilePath, line, TFileAccess::OwnerOnly);
}

void TLogging::TrimFile() {
    const int64_t size = FileSizeOf(FLogFilePath, -1);
    if (size <= int64_t{FMaxFileSizeKB} * 1024) return;
    const std::string all = ReadFileBytes(FLogFilePath);
    const size_t keep = static_cast<size_t>(FTrimmedFileSizeKB) * 1024;
    // Replaced atomically: a crash while trimming loses nothing but the part that was to be cut.
    WriteFileAtomic(FLogFilePath, all.size() > keep ? std::string_view(all).substr(all.size() - keep) : all,
                    TFileAccess::OwnerOnly, TFileKeep::Durable);
}

void TLogging::WriteToFile(const std::string& stamped, int kind) {
    try {
        try {
            while (FMessageList->Count() > 0) {
                WriteLineToFile(std::string(LogMessageKindLabel(FMessageList->Kind(0))) + ": " +
                                FMessageList->Text(0) + "\r\n");
                FMessageList->Delete(0);
            }
        } catch (...) {
            // The entries not yet written stay in the list for the next attempt.
        }
        WriteLineToFile(std::string(LogMessageKindLabel(kind)) + ": " + stamped + "\r\n");
        TrimFile();
        FFileFailure.clear();
    } catch (const std::exception& e) {
        // Said once per cause: a log that is never written would otherwise fail without a word.
        if (FFileFailure != e.what()) {
            FFileFailure = e.what();
            OutputDebugString("The log file is not written, its messages stay in memory: " + FFileFailure);
        }
        throw;
    }
}

void TLogging::WriteMessage(const std::string& text, int kind) {
    if (FLevel == lgNone || !KindPasses(FLevel, kind)) return;
    const std::string stamped = TimeStamped(text);
    try {
        if (FTargets & lgtrgtToFile) WriteToFile(stamped, kind);
        if (FTargets & lgtrgtToDebugOutput)
            OutputDebugString(std::string(LogMessageKindLabel(kind)) + ": " + text);
        if ((FTargets & lgtrgtToList) || !(FTargets & (lgtrgtToFile | lgtrgtToDebugOutput)))
            FMessageList->Add(stamped, kind);
    } catch (...) {
        try {
            FMessageList->Add(stamped, kind);
        } catch (...) {
        }
    }
}

void TLogging::LogException(const std::exception& e, const std::string& location) {
    WriteMessage(ExceptionLogText(e, location, false), lmkError);
}

// ---- TThreadLogging

// The thread sleeps until a message comes and then writes every queued one: a burst of messages (a load
// that fails page by page, a page that pages quickly) once took 10 ms each, and an idle gadget woke the
// thread 100 times a second.
void TThreadLogging::Execute() {
    std::deque<std::string> batch;
    for (;;) {
        {
            std::unique_lock lock(GQueueLock);
            GQueueChanged.wait(lock, [this] { return Terminated() || !FQueue.empty(); });
            if (Terminated()) return;
            batch.swap(FQueue);
        }
        for (std::string& entry : batch) {
            int kind = entry.empty() ? 0 : entry[0] - '0';
            if (kind < 0 || kind > 3) kind = 0;
            if (!entry.empty()) entry.erase(0, 1);
            Logging().WriteMessage(entry, kind);
        }
        batch.clear();
    }
}

// ---- free operations

std::string DefaultLogFilePath() {
    const std::string beside = ChangeFileExt(ProcessExecutablePath(), ".log");
    // A build tree takes its log; an installed program's folder belongs to root, so the user's state
    // folder takes it instead. An installed tree (its page in ../share) never does, so that root running
    // the installed program does not log into /usr/bin.
    const std::string programFolder = ExtractFilePath(beside);
    const bool installed = DirectoryExists(programFolder + "/../share/kova-gadget");
    if (!installed && FolderIsWritable(programFolder)) return beside;
    const std::string state = UserStateFolder();
    if (state.empty()) return beside;
    const std::string folder = state + "/kova-gadget";
    ForceFolder(folder);
    return folder + "/" + ExtractFileName(beside);
}

TLogging& Logging() {
    if (TLogging* current = GLogging.load()) return *current;
    std::lock_guard lock(GLoggingLock);
    if (!GLoggingOwner) {
        GLoggingOwner = std::make_unique<TLogging>(lgNone, DefaultLogFilePath(), lgtrgtToDebugOutput);
        GLogging = GLoggingOwner.get();
    }
    return *GLoggingOwner;
}

void StartLogging(TLoggingLevel defaultLevel, TLoggingTargets defaultTargets,
                  const std::string& logFilePath) {
    if (GStartCalled.exchange(true)) return;
    // A thread stopped away from the main thread may still be ending: it must be gone before its TLogging
    // is replaced.
    TThreadLogging* previous;
    {
        std::lock_guard lock(GQueueLock);
        previous = GLoggingThread;
    }
    if (previous && IsMainThread()) {
        previous->WaitFor();
        previous->DeliverTermination();
    }
    TLogging::CreateProcessWide(LoggingLevelFromCmdLine(defaultLevel),
                                logFilePath.empty() ? DefaultLogFilePath() : logFilePath,
                                LoggingTargetsFromCmdLine(defaultTargets));
    auto* thread = new TThreadLogging();
    thread->FreeOnTerminate = true;
    thread->OnTerminate = LoggingThreadEnded;
    {
        std::lock_guard lock(GQueueLock);
        GLoggingThread = thread;
    }
    thread->Start();
    GStarted = true;
}

void StopLogging(bool wait) {
    TThreadLogging* thread;
    {
        std::lock_guard lock(GQueueLock);
        thread = GLoggingThread;
    }
    if (!thread) {
        GStartCalled = false;
        return;
    }
    if (wait) {
        for (;;) {
            {
                std::lock_guard lock(GQueueLock);
                if (thread->FQueue.empty()) break;
            }
            SleepMs(20);
        }
    }
    {
        std::lock_guard lock(GQueueLock);
        thread->Terminate();
        GStarted = false;
    }
    GQueueChanged.notify_all();
    // On the main thread the end handler runs here; elsewhere the main thread's queue delivers it.
    if (IsMainThread()) {
        thread->WaitFor();
        thread->DeliverTermination();
    }
    // A control built after this one's Terminate starts logging anew.
    GStartCalled = false;
}

void Log(const std::string& text, TLogMessageKind kind) {
    try {
        if (!GStarted) return;
        TLogging* logging = GLogging.load();
        if (!logging || logging->Level() == lgNone) return;
        std::string entry;
        entry.reserve(text.size() + 1);
        entry += static_cast<char>('0' + (kind >= 0 && kind <= 9 ? kind : 0));
        entry += text;
        std::lock_guard lock(GQueueLock);
        if (!GLoggingThread || GLoggingThread->Terminated()) return;
        GLoggingThread->FQueue.push_back(std::move(entry));
        GQueueChanged.notify_one();
    } catch (...) {
    }
}

void LogFmt(std::string_view format, std::initializer_list<TFormatArg> args, TLogMessageKind kind) {
    try {
        Log(Format(format, args), kind);
    } catch (...) {
    }
}

std::string ExceptionLogText(const std::exception& e, const std::string& location, bool flattenLineBreaks) {
    std::string message = e.what();
    if (flattenLineBreaks) message = StringReplaceAll(message, "\r\n", " ");
    const std::string className = ExceptionClassName(e);
    if (location.empty()) return className + ": " + message;
    return className + ": " + message + " (" + location + ")";
}

void LogException(const std::exception& e, const std::string& location, bool flattenLineBreaks) {
    try {
        Log(ExceptionLogText(e, location, flattenLineBreaks), lmkError);
    } catch (...) {
    }
}

void LogException(std::exception_ptr e, const std::string& location, bool flattenLineBreaks) {
    if (!e) return;
    try {
        std::rethrow_exception(e);
    } catch (const std::exception& ex) {
        LogException(ex, location, flattenLineBreaks);
    } catch (...) {
        Log("Unknown exception (" + location + ")", lmkError);
    }
}

std::string LoggingDescription() {
    const TLogging& logging = Logging();
    static const char* const names[] = {"lgNone", "lgAll", "lgWarningsAndErrors"};
    std::string text = names[logging.Level()];
    if (logging.Targets() & lgtrgtToDebugOutput) text += " - lgtrgtToDebugOutput";
    if (logging.Targets() & lgtrgtToFile) text += " - lgtrgtToFile";
    if (logging.Targets() & lgtrgtToList) text += " - lgtrgtToList";
    return text;
}
