#include "crash/ExceptionCodes.h"

#include <csignal>

namespace crash {

namespace {

struct NamedCode {
    uint32_t code;
    const char* name;
};

// The system's exception statuses without their prefix, then the runtime's.
constexpr NamedCode kNames[] = {
    {0x00000000u, "WAIT_0"},
    {0x00000080u, "ABANDONED_WAIT_0"},
    {0x000000C0u, "USER_APC"},
    {0x00000102u, "TIMEOUT"},
    {0x00000103u, "PENDING"},
    {0x00010001u, "DBG_EXCEPTION_HANDLED"},
    {0x00010002u, "DBG_CONTINUE"},
    {0x40000005u, "SEGMENT_NOTIFICATION"},
    {0x40010003u, "DBG_TERMINATE_THREAD"},
    {0x40010004u, "DBG_TERMINATE_PROCESS"},
    {0x40010005u, "DBG_CONTROL_C"},
    {0x40010008u, "DBG_CONTROL_BREAK"},
    {0x80000001u, "GUARD_PAGE_VIOLATION"},
    {kDatatypeMisalignment, "DATATYPE_MISALIGNMENT"},
    {kBreakpoint, "BREAKPOINT"},
    {kSingleStep, "SINGLE_STEP"},
    {0x80010001u, "DBG_EXCEPTION_NOT_HANDLED"},
    {kAccessViolation, "ACCESS_VIOLATION"},
    {kInPageError, "IN_PAGE_ERROR"},
    {0xC0000008u, "INVALID_HANDLE"},
    {0xC0000017u, "NO_MEMORY"},
    {kIllegalInstruction, "ILLEGAL_INSTRUCTION"},
    {0xC0000025u, "NONCONTINUABLE_EXCEPTION"},
    {0xC0000026u, "INVALID_DISPOSITION"},
    {kArrayBoundsExceeded, "ARRAY_BOUNDS_EXCEEDED"},
    {kFloatDenormalOperand, "FLOAT_DENORMAL_OPERAND"},
    {kFloatDivideByZero, "FLOAT_DIVIDE_BY_ZERO"},
    {kFloatInexactResult, "FLOAT_INEXACT_RESULT"},
    {kFloatInvalidOperation, "FLOAT_INVALID_OPERATION"},
    {kFloatOverflow, "FLOAT_OVERFLOW"},
    {kFloatStackCheck, "FLOAT_STACK_CHECK"},
    {kFloatUnderflow, "FLOAT_UNDERFLOW"},
    {kIntegerDivideByZero, "INTEGER_DIVIDE_BY_ZERO"},
    {kIntegerOverflow, "INTEGER_OVERFLOW"},
    {kPrivilegedInstruction, "PRIVILEGED_INSTRUCTION"},
    {kStackOverflow, "STACK_OVERFLOW"},
    {0xC000013Au, "CONTROL_C_EXIT"},
    {0xC00002B4u, "FLOAT_MULTIPLE_FAULTS"},
    {0xC00002B5u, "FLOAT_MULTIPLE_TRAPS"},
    {0xC00002C0u, "ILLEGAL_VLM_REFERENCE"},
    {kCxxException, "CXX_EXCEPTION"},
    {kCxxRethrow, "CXX_RETHROW"},
    {kCxxCatch, "CXX_CATCH"},
    {kCxxCleanup, "CXX_CLEANUP"},
    {kCxxTerminate, "CXX_TERMINATE"},
    {kCxxUnhandled, "CXX_UNHANDLED_EXCEPTION"},
    {kForeignException, "FOREIGN_EXCEPTION"},
    {kCxxExitCleanup, "CXX_EXIT_CLEANUP"},
    {kAbort, "ABORT"},
};

} // namespace

const char* ExceptionCodeName(uint32_t code)
{
    for (const NamedCode& named : kNames)
        if (named.code == code)
            return named.name;
    return "<unknown>";
}

const char* AccessName(Access access)
{
    switch (access) {
    case Access::Read:
        return "READ";
    case Access::Write:
        return "WRITE";
    case Access::Execute:
        return "EXECUTE";
    case Access::None:
        break;
    }
    return "";
}

uint32_t CodeForSignal(int signal, int signalCode, bool stackOverflow)
{
    switch (signal) {
    case SIGSEGV:
        return stackOverflow ? kStackOverflow : kAccessViolation;
    case SIGBUS:
        return signalCode == BUS_ADRALN ? kDatatypeMisalignment : kInPageError;
    case SIGFPE:
        switch (signalCode) {
        case FPE_INTDIV:
            return kIntegerDivideByZero;
        case FPE_INTOVF:
            return kIntegerOverflow;
        case FPE_FLTDIV:
            return kFloatDivideByZero;
        case FPE_FLTOVF:
            return kFloatOverflow;
        case FPE_FLTUND:
            return kFloatUnderflow;
        case FPE_FLTRES:
            return kFloatInexactResult;
        case FPE_FLTSUB:
            return kArrayBoundsExceeded;
        default:
            return kFloatInvalidOperation;
        }
    case SIGILL:
        return signalCode == ILL_PRVOPC || signalCode == ILL_PRVREG ? kPrivilegedInstruction
                                                                    : kIllegalInstruction;
    case SIGTRAP:
        return signalCode == TRAP_TRACE ? kSingleStep : kBreakpoint;
    case SIGABRT:
        return kAbort;
    default:
        return 0;
    }
}

Access AccessFromPageFault(unsigned long trapNumber, unsigned long errorCode)
{
    constexpr unsigned long kPageFaultTrap = 14;
    if (trapNumber != kPageFaultTrap)
        return Access::None;
    if (errorCode & 0x10)
        return Access::Execute;
    return (errorCode & 0x2) ? Access::Write : Access::Read;
}

} // namespace crash
