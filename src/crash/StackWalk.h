#pragma once
// Walks and names the stack of a stopped thread of another process: the
// registers come from its crash request, the memory is read from outside.
// elfutils' libdw unwinds by the call frame information of each module and
// names addresses by symbol tables and debug information; Capstone
// disassembles the code; the C++ runtime demangles the names.

#include "crash/CrashReport.h"

#include <functional>
#include <string>

namespace crash {

// Receives the walk's trace lines as they happen.
using TraceSink = std::function<void(const std::string& line)>;

// The deepest walk; deeper frames (an unbounded recursion) are not visited.
inline constexpr int kMaxWalkDepth = 20000;

// Fills report.frames (symbols still mangled) and report.program. Trace
// lines: "UnwindCallStack(...)", "Unwind: ...", "Loaded ... exports/imports",
// "Stack cycled at addres ...", "END.UnwindCallStack: %d items".
void WalkStack(CrashReport& report, const TraceSink& trace);

// Demangles every frame's symbol in place, cut to 260 characters.
void DemangleSymbols(CrashReport& report);

// A name as the C++ runtime's demangler gives it, or the name itself.
std::string Demangle(const char* name);

} // namespace crash
