#pragma once
// Writing a file from a context that may not allocate or take locks: a
// signal handler, a thread that faulted. Every call here is async-signal-safe.

#include <cstddef>

namespace platform {

// Opens `path` for appending (created when missing; emptied first when
// `truncate`); -1 on failure.
int UrgentOpen(const char* path, bool truncate);
// Writes all bytes (retrying short writes); false on failure.
bool UrgentWrite(int fd, const void* data, std::size_t size);
void UrgentClose(int fd);

// Pauses the calling thread for about `milliseconds`.
void UrgentSleep(int milliseconds);

} // namespace platform
