#include "crash/ReportLines.h"

#include "crash/ExceptionCodes.h"
#include "crash/SafeText.h"

namespace crash {

namespace {

using Line = SafeText<400>;

void Emit(Line& line, LineSink sink, void* context)
{
    sink(context, line.c_str(), line.size());
    line.Clear();
}

} // namespace

void FormatExceptionName(uint32_t code, char* out, std::size_t size)
{
    SafeText<96> name;
    name.Hex(code, 8).Text(" \"").Text(ExceptionCodeName(code)).Char('"');
    std::size_t i = 0;
    for (; i + 1 < size && i < name.size(); ++i)
        out[i] = name.c_str()[i];
    if (size > 0)
        out[i] = '\0';
}

void WriteExceptionLines(const CrashRequest& request, LineSink sink, void* context)
{
    const MachineState& state = request.state;
    const uint64_t* r = state.registers;
    char name[96];
    FormatExceptionName(request.code, name, sizeof name);
    Line line;
    line.Text("Exception ").Text(name).Text(" at ").Address(r[kIp]).Text(" has ")
        .Hex((state.groups & kIntegerGroup) ? r[kFlags] : 0, 8).Text(" flags.");
    Emit(line, sink, context);
    if (request.access != static_cast<int>(Access::None)) {
        line.Text("Attempt to ").Text(AccessName(static_cast<Access>(request.access))).Text(" at address ")
            .Address(request.faultAddress);
        Emit(line, sink, context);
    }
    if (state.groups & kIntegerGroup) {
#if defined(__x86_64__)
        line.Text("  RBP: ").Address(r[kBp]).Text(" RIP: ").Address(r[kIp]).Text(" RSP: ").Address(r[kSp])
            .Text("  CS: ").Hex(r[kCs], 8).Text("  SS: ").Hex(r[kSs], 8).Text(" Flags: ").Hex(r[kFlags], 8);
        Emit(line, sink, context);
        line.Text("  RDI: ").Address(r[kDi]).Text(" RSI: ").Address(r[kSi]).Text(" RBX: ").Address(r[kBx])
            .Text(" RDX: ").Address(r[kDx]).Text(" RCX: ").Address(r[kCx]).Text(" RAX: ").Address(r[kAx]);
        Emit(line, sink, context);
        line.Text("   R8: ").Address(r[kR8]).Text("  R9: ").Address(r[kR9]).Text(" R10: ").Address(r[kR10])
            .Text(" R11: ").Address(r[kR11]);
        Emit(line, sink, context);
        line.Text("  R12: ").Address(r[kR12]).Text(" R13: ").Address(r[kR13]).Text(" R14: ").Address(r[kR14])
            .Text(" R15: ").Address(r[kR15]);
        Emit(line, sink, context);
#else
        line.Text("  EBP: ").Address(r[kBp]).Text(" EIP: ").Address(r[kIp]).Text(" ESP: ").Address(r[kSp])
            .Text("  CS: ").Hex(r[kCs], 8).Text("  SS: ").Hex(r[kSs], 8).Text(" Flags: ").Hex(r[kFlags], 8);
        Emit(line, sink, context);
        line.Text("  EDI: ").Address(r[kDi]).Text(" ESI: ").Address(r[kSi]).Text(" EBX: ").Address(r[kBx])
            .Text(" EDX: ").Address(r[kDx]).Text(" ECX: ").Address(r[kCx]).Text(" EAX: ").Address(r[kAx]);
        Emit(line, sink, context);
#endif
    }
    if (state.groups & kSegmentGroup) {
#if defined(__x86_64__)
        // The kernel saves only these two on x86-64; DS and ES are not kept.
        line.Text("   GS: ").Hex(r[kGs], 8).Text("  FS: ").Hex(r[kFs], 8);
#else
        line.Text("   GS: ").Hex(r[kGs], 8).Text("  FS: ").Hex(r[kFs], 8).Text("  ES: ").Hex(r[kEs], 8)
            .Text("  DS: ").Hex(r[kDs], 8);
#endif
        Emit(line, sink, context);
    }
    if (state.groups & kFloatGroup) {
        const FloatState& f = state.floating;
#if defined(__x86_64__)
        line.Text("   Cw: ").Hex(f.control, 8).Text("  Sw: ").Hex(f.status, 8).Text("  Tw: ").Hex(f.tag, 8)
            .Text("  Op: ").Hex(f.opcode, 8).Text("  Ip: ").Address(f.instruction).Text(" Dp: ").Address(f.data)
            .Text(" MxCsr: ").Hex(f.mxcsr, 8);
#else
        line.Text("   Cw: ").Hex(f.control, 8).Text("  Sw: ").Hex(f.status, 8).Text("  Tw: ").Hex(f.tag, 8)
            .Text("  EOf: ").Hex(f.instruction, 8).Text(" Es: ").Hex(f.instructionSelector, 8)
            .Text(" DOf: ").Hex(f.data, 8).Text(" Ds: ").Hex(f.dataSelector, 8).Text(" Cr0: ").Hex(f.mxcsr, 8);
#endif
        Emit(line, sink, context);
    }
}

} // namespace crash
