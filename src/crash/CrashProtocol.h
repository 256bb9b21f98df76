#pragma once
// What a faulting process tells its crash helper, and how the helper answers.
//
// The faulting thread sends one CrashRequest as one message on the helper's
// SOCK_SEQPACKET socket, with a socket of its own for the answer attached
// (SCM_RIGHTS), so that threads faulting at once each get their own answers.
// On that socket the helper sends log lines ('L' + text, one message per
// line) that the faulting thread writes through its line writer, then one
// answer ('A' + a CrashAnswer letter). Plain records: both sides are built
// from the same sources.

#include <cstdint>

namespace crash {

inline constexpr uint32_t kRequestMagic = 0x55435248u; // "HRCU"

// Registers by role; each machine fills the ones it has (R8..R15 only on
// x86-64, DS and ES only on i686).
enum Register : int {
    kAx, kBx, kCx, kDx, kSi, kDi, kBp, kSp,
    kR8, kR9, kR10, kR11, kR12, kR13, kR14, kR15,
    kIp, kFlags, kCs, kSs, kDs, kEs, kFs, kGs,
    kErrorCode, kTrapNumber,
    kRegisterCount
};

// Which groups of the processor state were saved.
enum StateGroup : uint32_t {
    kIntegerGroup = 1,
    kSegmentGroup = 2,
    kFloatGroup = 4,
};

struct FloatState {
    uint32_t control = 0, status = 0, tag = 0, opcode = 0;
    uint64_t instruction = 0, data = 0; // offsets of the last x87 instruction and its operand
    uint32_t instructionSelector = 0, dataSelector = 0;
    uint32_t mxcsr = 0; // SSE control and status (the state word of the unit)
};

struct MachineState {
    uint32_t groups = 0;
    uint64_t registers[kRegisterCount] = {};
    FloatState floating;
};

struct CrashRequest {
    uint32_t magic = kRequestMagic;
    uint32_t size = sizeof(CrashRequest);
    int32_t pid = 0;
    int32_t tid = 0;
    int32_t signal = 0;     // 0 for a runtime failure
    int32_t signalCode = 0;
    uint32_t code = 0;      // the exception code (ExceptionCodes.h)
    int32_t depth = 0;      // nesting depth of this report
    uint32_t options = 0;   // the option word in effect
    int32_t canIgnore = 0;  // a recovery point exists for the faulting thread
    int32_t access = 0;     // crash::Access of an access violation
    int32_t showWindow = 1;
    uint64_t faultAddress = 0; // the target of the access
    MachineState state;
    char message[256] = {}; // the text of a runtime failure (an exception's what())
};

enum class CrashAnswer : char {
    Ignore = 'I',         // jump to the thread's recovery point
    LeaveUnhandled = 'L', // the default action of the signal: the process dies
    End = 'E',            // the user ended the program: exit code 0
    Abort = 'X',          // a fault inside the report: exit code 0 after the box
};

inline constexpr char kLineMessage = 'L';
inline constexpr char kAnswerMessage = 'A';
inline constexpr unsigned kMaxMessage = 2048;

} // namespace crash
