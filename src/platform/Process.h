#pragma once
// Facts about the running program and its memory.

#include <cstddef>
#include <optional>
#include <string>

namespace platform {

// Full path of the program file.
std::string ExecutablePath();

// The folder of the program file, always ending with '/'.
std::string ProgramFolder();

// True when every byte of [data, data + size) can be read. Never faults: it
// asks the kernel to copy from the own process instead of touching the memory.
bool IsReadable(const void* data, std::size_t size);

// The value of an environment variable, or nothing when it is not set.
std::optional<std::string> EnvironmentVariable(const std::string& name);

// The user's home folder: $HOME, else the password database's entry; empty
// when neither knows it.
std::string HomeFolder();

// From the first call on, SIGTERM, SIGINT and SIGHUP no longer end the
// process at once: each writes its number as one byte into a pipe whose
// reading end this returns (-1 when the pipe cannot be made), so that the
// program can close itself in an orderly way.
int TerminationSignalPipe();

// Reads one signal number from that pipe (0 when none is waiting) and gives
// the three signals their default action back, so that a second one ends a
// program whose orderly close hangs.
int TakeTerminationSignal();

// Ends the process at once with the given exit code.
[[noreturn]] void ExitProcess(int code);

} // namespace platform
