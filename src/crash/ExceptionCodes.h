#pragma once
// Exception codes and their names. Signals and runtime failures are given the
// codes of the system's exception statuses, so that a report reads the same
// whatever stopped the program. No allocation: used inside signal handlers.

#include <cstdint>

namespace crash {

inline constexpr uint32_t kAccessViolation = 0xC0000005u;
inline constexpr uint32_t kInPageError = 0xC0000006u;
inline constexpr uint32_t kIllegalInstruction = 0xC000001Du;
inline constexpr uint32_t kArrayBoundsExceeded = 0xC000008Cu;
inline constexpr uint32_t kFloatDenormalOperand = 0xC000008Du;
inline constexpr uint32_t kFloatDivideByZero = 0xC000008Eu;
inline constexpr uint32_t kFloatInexactResult = 0xC000008Fu;
inline constexpr uint32_t kFloatInvalidOperation = 0xC0000090u;
inline constexpr uint32_t kFloatOverflow = 0xC0000091u;
inline constexpr uint32_t kFloatStackCheck = 0xC0000092u;
inline constexpr uint32_t kFloatUnderflow = 0xC0000093u;
inline constexpr uint32_t kIntegerDivideByZero = 0xC0000094u;
inline constexpr uint32_t kIntegerOverflow = 0xC0000095u;
inline constexpr uint32_t kPrivilegedInstruction = 0xC0000096u;
inline constexpr uint32_t kStackOverflow = 0xC00000FDu;
inline constexpr uint32_t kDatatypeMisalignment = 0x80000002u;
inline constexpr uint32_t kBreakpoint = 0x80000003u;
inline constexpr uint32_t kSingleStep = 0x80000004u;

// The C++ runtime's failures, in the range the runtime codes occupy. The
// reporter raises kCxxTerminate (std::terminate without an active
// exception), kCxxUnhandled (std::terminate with one) and kAbort (abort(),
// SIGABRT); the others name events of the runtime that never reach it.
inline constexpr uint32_t kCxxException = 0x0EEDFADEu;   // an exception object thrown
inline constexpr uint32_t kCxxRethrow = 0x0EEDFADFu;     // rethrown
inline constexpr uint32_t kCxxCatch = 0x0EEDFAE0u;       // caught by a handler
inline constexpr uint32_t kCxxCleanup = 0x0EEDFAE1u;     // unwinding through a cleanup
inline constexpr uint32_t kCxxTerminate = 0x0EEDFAE2u;   // std::terminate called
inline constexpr uint32_t kCxxUnhandled = 0x0EEDFAE3u;   // no handler caught it
inline constexpr uint32_t kForeignException = 0x0EEDFAE4u; // an unwinder exception of another language
inline constexpr uint32_t kCxxExitCleanup = 0x0EEDFAE5u; // a cleanup left by a jump
inline constexpr uint32_t kAbort = 0x0EEFFACEu;          // abort()

// The code's name without quotes, "<unknown>" for a code without one.
const char* ExceptionCodeName(uint32_t code);

// What a faulting access tried to do.
enum class Access { None, Read, Write, Execute };
const char* AccessName(Access access); // "READ", "WRITE", "EXECUTE", "" for None

// The code for a signal of the fault kinds (SIGSEGV, SIGBUS, SIGFPE, SIGILL,
// SIGTRAP, SIGABRT) and its si_code; `stackOverflow` turns SIGSEGV into
// kStackOverflow. 0 for other signals.
uint32_t CodeForSignal(int signal, int signalCode, bool stackOverflow);

// The access of a page fault from the processor's error code bits (bit 1
// write, bit 4 instruction fetch). `trapNumber` 14 is a page fault; any
// other trap (a protection fault on a non-canonical address, say) has no
// known access.
Access AccessFromPageFault(unsigned long trapNumber, unsigned long errorCode);

} // namespace crash
