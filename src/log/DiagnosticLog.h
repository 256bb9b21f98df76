#pragma once
// The diagnostic writer: the process-wide writer of the log file.
//
// Every message opens the file, writes its lines and closes it again, under
// one process-wide lock, so lines of different threads never mix within a
// line and the file is complete whenever the process dies. The first write
// of a process that opens a file truncates it and writes the header line;
// every later write appends, so each run starts a new log.
//
// A log line is the prefix, ": ", the text and a line feed:
//   " DD-MM-YYYY hh:mm:ss:mmmm" " %6d" module "_%08X" thread " %06d" error
// The module is the process id (stable for the run), the thread the kernel's
// thread id, the error the thread's current error code when the message was
// written. The calls leave the thread's last error as they found it.

#include <cstdarg>
#include <string>
#include <string_view>

namespace platform {
class WritableFile;
}

inline constexpr const char* kLogHeaderLine = "DATE TIME / HINST / ERROR : <MESSAGE>\n";
inline constexpr const char* kDefaultLogFileName = "PLog.log";
// A message is cut to this many characters; a line holds at most kLogLineRoom.
inline constexpr std::size_t kMaxLogMessage = 999;
inline constexpr std::size_t kLogLineRoom = 511;

// Gives the current log file name. "-" or an empty name means no file; a
// relative name lies in the program folder.
using LogFileProvider = std::string (*)();

// Writes one log line (prefix and text, without ": " and line feed) to the
// open file.
using LogLineWriter = void (*)(platform::WritableFile& file, std::string_view prefix,
                               std::string_view text);

// Writes a message to the current log file. A null or empty format writes
// nothing.
void DiagnosticLog(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Writes a message to `path` (an empty path or "-": no file). Returns the
// number of characters formatted (after the cut to kMaxLogMessage).
int WriteLogFile(const std::string& path, const char* format, va_list args);
int WriteLogFile(const std::string& path, const char* format, ...)
    __attribute__((format(printf, 2, 3)));

// How many messages since the start of the process could not be written
// whole to a log file (its open, a write or its close failed), and the system
// error of the last such failure. A log that loses lines must be able to say so.
struct LogWriteFailures {
    unsigned messages = 0;
    int error = 0;
};
LogWriteFailures LogFileWriteFailures();

// Writes `text` as log lines to `path` from a context that may not allocate
// or wait for long: a signal handler, or a thread whose fault may have left
// the heap or this writer's lock broken. It waits at most `lockWaitMs` for
// the lock and then writes without it. The line prefix uses the local time
// offset of the last ordinary write. Async-signal-safe.
void WriteLogFileUrgent(const char* path, const char* text, std::size_t length, int lockWaitMs = 250);

// Replace the provider or the line writer; each returns the previous one. A
// null provider gives no file; a null writer restores the ordinary writer.
LogFileProvider SetLogFileProvider(LogFileProvider provider);
LogLineWriter SetLogLineWriter(LogLineWriter writer);

// The provider's name made into a path: "" and "-" are kept, an absolute
// name is taken as it is, any other is put into the program folder (or the
// current folder when that is unknown). A path longer than the system opens
// gives "" rather than a cut path that would name some other file.
std::string CurrentLogFilePath();
std::string ResolveLogFileName(std::string_view name);

// The prefix of a line written now by this thread with the given error code.
std::string LogLinePrefix(int errorCode);
