#pragma once
// Identifiers of the running process and thread, as the kernel gives them.

namespace platform {

// The kernel's identifier of the calling thread.
unsigned long CurrentThreadId();

// The process identifier: stable for the whole run.
int ProcessId();

} // namespace platform
