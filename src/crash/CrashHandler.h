#pragma once
// The crash reporter's part inside the program.
//
// Install() starts the crash helper (a program of its own, started once and
// waiting) and takes over the fault signals. A fault runs a small handler on
// an alternate signal stack that only copies the registers, writes the first
// trace lines and sends the helper one message; the helper reads the stopped
// thread's memory from outside, walks and names the stack, shows the report
// window and sends back the log lines and the user's answer. The handler
// writes the lines through the line writer and then ends the process, lets
// the signal kill it, or jumps back to the thread's recovery point (Ignore).
//
// So the handler needs neither the heap nor any lock of the program: a fault
// inside malloc, with the log's lock held or on an exhausted stack is
// reported the same way.

#include <cstddef>
#include <string>
#include <type_traits>
#include <utility>

namespace crash {

// Writes one log line: the log file's prefix, ": ", `text` and a line feed.
// Called inside a signal handler, so it must be async-signal-safe (no
// allocation, no lock the faulting thread may hold).
using CrashLineWriter = void (*)(const char* text, std::size_t length);

// The option word. The eight published options, then bits no option
// controls, which are always on.
enum VCLExceptFlag : unsigned {
    vclxEnabled = 1u << 0,
    vclxDumpToFile = 1u << 1,
    vclxReadCode = 1u << 2,
    vclxLoadExports = 1u << 3,
    vclxLoadLocals = 1u << 4,
    vclxDisasmCode = 1u << 5,
    vclxPrintStackData = 1u << 6,
    vclxPrintData = 1u << 7,
};
inline constexpr unsigned kPublishedOptions = 0xFFu;
inline constexpr unsigned kStackDetails = 1u << 8; // the "Stack details" section
inline constexpr unsigned kAllOptions = 0xFFFFFFFFu;

struct InstallOptions {
    // The helper program; empty: the program's own "ulmora-crash".
    std::string helperPath;
    // The log file the built-in line writer appends to; empty: the
    // diagnostic writer's current log file.
    std::string logFile;
    // null: the built-in writer (WriteLogLine).
    CrashLineWriter lineWriter = nullptr;
    // false for programs without a window: the report is logged and the
    // fault then ends the process as it would without the reporter.
    bool showWindow = true;
};

// Starts the helper and installs the handlers (SIGSEGV, SIGBUS, SIGFPE,
// SIGILL, SIGTRAP, SIGABRT and std::terminate). Returns false when the
// helper could not be started; faults are then still logged (exception and
// registers, without the stack) and end the process.
bool Install(const InstallOptions& options);
// Puts the previous handlers back and lets the helper end.
void Uninstall();

// The seam to the log: replaces the line writer, returns the previous one
// (null restores the built-in writer).
CrashLineWriter SetLineWriter(CrashLineWriter writer);
// Points the built-in writer at another file (call outside any fault).
void SetLogFile(const std::string& path);
// The built-in writer: appends one line with the log file's prefix to the
// file set at install time (open, write, close: no lock, no allocation).
void WriteLogLine(const char* text, std::size_t length);

// Runs before the process ends because of a fault (async-signal-safe only).
void SetAbortHook(void (*hook)());

unsigned Options();
void SetOptions(unsigned word);
// How many faults are being handled now.
int NestingDepth();

// Gives the calling thread an alternate signal stack, so that a stack
// overflow on it is reported too. Install() prepares its own thread and
// RunCommand every thread it runs on; other threads call it once.
void PrepareThread();

// Runs `command` under a recovery point: a fault in it that the user chooses
// to ignore abandons the command and RunCommand returns false; else it
// returns true. A fault met directly in the command's own frames drops them
// unwound; one inside a foreign call (RunForeign) comes back here as
// CommandAbandoned, after the frames between were unwound. Other C++
// exceptions pass through. Nested calls nest: the innermost running command
// is the one abandoned.
bool RunCommand(void (*command)(void* context), void* context);

// The recovery point of one call into foreign code (a plugin): a fault in it
// that the user ignores drops the foreign frames only, and RunForeign returns
// false, for the caller to unwind its own frames by an exception. The fault
// can be ignored only inside a command (RunCommand), which then ends.
bool RunForeign(void (*call)(void* context), void* context);

template <class F>
bool RunCommand(F&& command)
{
    using Callable = std::remove_reference_t<F>;
    return RunCommand([](void* context) { (*static_cast<Callable*>(context))(); },
                      const_cast<void*>(static_cast<const void*>(&command)));
}

// Puts every command (RunCommand) and every foreign call (CallForeign) of
// base/Command.h behind these recovery points.
void GuardCommands();

// The non-visual option component: its Options set the published options.
class ExceptionDialog {
public:
    unsigned GetOptions() const { return Options() & kPublishedOptions; }
    void SetOptions(unsigned published)
    {
        crash::SetOptions((Options() & ~kPublishedOptions) | (published & kPublishedOptions));
    }
};

} // namespace crash
