#pragma once
// The lines of a report that come from the request alone: the exception line,
// the access attempt and the registers. Allocation-free, so that the faulting
// process can write them itself when no helper answers.

#include "crash/CrashProtocol.h"

#include <cstddef>

namespace crash {

// Receives one line (without line feed).
using LineSink = void (*)(void* context, const char* text, std::size_t length);

// "%08X \"NAME\"": the code and its name.
void FormatExceptionName(uint32_t code, char* out, std::size_t size);

// "Exception %s at %08X has %08X flags.", "Attempt to %s at address %08X"
// and the register lines of the machine.
void WriteExceptionLines(const CrashRequest& request, LineSink sink, void* context);

} // namespace crash
