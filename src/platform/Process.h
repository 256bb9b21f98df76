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

// Ends the process at once with the given exit code.
[[noreturn]] void ExitProcess(int code);

} // namespace platform
