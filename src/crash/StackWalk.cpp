#include "crash/StackWalk.h"

#include "base/Text.h"
#include "crash/CrashHandler.h"
#include "crash/RemoteMemory.h"

#include <capstone/capstone.h>
#include <cxxabi.h>
#include <elfutils/libdwfl.h>
#include <gelf.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <set>
#include <vector>

namespace crash {

namespace {

constexpr std::size_t kMaxSymbol = 260;
constexpr int kWordSize = static_cast<int>(sizeof(void*));
constexpr int kAddressDigits = 2 * kWordSize;
constexpr uint64_t kFrameSearch = 64 * 1024; // how far a return address is looked for
constexpr int kScanWords = 4096;             // the stack scan without frame information
constexpr int kCodeBefore = 6, kCodeAfter = 8;

#if defined(__x86_64__)
constexpr const char* kIpName = "RIP";
constexpr const char* kBpName = "RBP";
constexpr const char* kSpName = "RSP";
#else
constexpr const char* kIpName = "EIP";
constexpr const char* kBpName = "EBP";
constexpr const char* kSpName = "ESP";
#endif

std::string Address(uint64_t value)
{
    return Format("%0*llX", kAddressDigits, static_cast<unsigned long long>(value));
}

std::string BaseName(const std::string& path)
{
    std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

struct RawFrame {
    uint64_t pc;
    bool activation;
    uint64_t at = 0; // where a scan found it on the stack
};

struct Walker {
    const CrashRequest* request;
    RemoteMemory* memory;
    std::vector<RawFrame> frames;
};

pid_t NextThread(Dwfl*, void* arg, void** threadArg)
{
    if (*threadArg != nullptr)
        return 0;
    *threadArg = arg;
    return static_cast<Walker*>(arg)->request->tid;
}

bool GetThread(Dwfl*, pid_t tid, void* arg, void** threadArg)
{
    *threadArg = arg;
    return tid == static_cast<Walker*>(arg)->request->tid;
}

bool MemoryRead(Dwfl*, Dwarf_Addr address, Dwarf_Word* result, void* arg)
{
    uint64_t value = 0;
    if (!static_cast<Walker*>(arg)->memory->ReadWord(address, &value))
        return false;
    *result = value;
    return true;
}

bool SetInitialRegisters(Dwfl_Thread* thread, void* arg)
{
    const uint64_t* r = static_cast<Walker*>(arg)->request->state.registers;
#if defined(__x86_64__)
    // DWARF numbering of x86-64: rax rdx rcx rbx rsi rdi rbp rsp r8..r15, rip.
    Dwarf_Word dwarf[17] = {r[kAx], r[kDx], r[kCx], r[kBx], r[kSi], r[kDi], r[kBp], r[kSp], r[kR8],
                            r[kR9], r[kR10], r[kR11], r[kR12], r[kR13], r[kR14], r[kR15], r[kIp]};
#else
    // DWARF numbering of i386: eax ecx edx ebx esp ebp esi edi, eip.
    Dwarf_Word dwarf[9] = {r[kAx], r[kCx], r[kDx], r[kBx], r[kSp], r[kBp], r[kSi], r[kDi], r[kIp]};
#endif
    if (!dwfl_thread_state_registers(thread, 0, sizeof dwarf / sizeof dwarf[0], dwarf))
        return false;
    dwfl_thread_state_register_pc(thread, r[kIp]);
    return true;
}

int OnFrame(Dwfl_Frame* state, void* arg)
{
    auto* walker = static_cast<Walker*>(arg);
    Dwarf_Addr pc = 0;
    bool activation = false;
    if (!dwfl_frame_pc(state, &pc, &activation))
        return DWARF_CB_ABORT;
    walker->frames.push_back({pc, activation});
    return walker->frames.size() >= static_cast<std::size_t>(kMaxWalkDepth) ? DWARF_CB_ABORT : DWARF_CB_OK;
}

const Dwfl_Thread_Callbacks kThreadCallbacks = {NextThread, GetThread, MemoryRead, SetInitialRegisters, nullptr,
                                                nullptr};

char* debugInfoPath = nullptr;
const Dwfl_Callbacks kCallbacks = {dwfl_linux_proc_find_elf, dwfl_standard_find_debuginfo, nullptr, &debugInfoPath};

struct DwflDeleter {
    void operator()(Dwfl* dwfl) const { dwfl_end(dwfl); }
};

// The process's modules as libdw sees them.
std::unique_ptr<Dwfl, DwflDeleter> OpenProcess(pid_t pid)
{
    std::unique_ptr<Dwfl, DwflDeleter> dwfl(dwfl_begin(&kCallbacks));
    if (dwfl) {
        dwfl_report_begin(dwfl.get());
        dwfl_linux_proc_report(dwfl.get(), pid);
        dwfl_report_end(dwfl.get(), nullptr, nullptr);
    }
    return dwfl;
}

// The frames the call frame information of the modules leads to, from the
// registers of `request`.
std::vector<RawFrame> CfiWalk(const CrashRequest& request, RemoteMemory& memory)
{
    Walker walker{&request, &memory, {}};
    auto dwfl = OpenProcess(request.pid);
    if (dwfl && dwfl_attach_state(dwfl.get(), nullptr, request.pid, &kThreadCallbacks, &walker))
        dwfl_getthread_frames(dwfl.get(), request.tid, OnFrame, &walker);
    return std::move(walker.frames);
}

class Namer {
public:
    Namer(pid_t pid, RemoteMemory& memory, const TraceSink& trace, bool logLoads)
        : memory_(memory), trace_(trace), logLoads_(logLoads), dwfl_(OpenProcess(pid))
    {
    }

    Dwfl_Module* ModuleOf(uint64_t address) const
    {
        return dwfl_ ? dwfl_addrmodule(dwfl_.get(), address) : nullptr;
    }

    // Names `address`; `lookup` is the address inside the instruction (a
    // return address minus one).
    void Describe(StackFrame& frame, uint64_t lookup)
    {
        Dwfl_Module* module = ModuleOf(lookup);
        if (module == nullptr)
            return;
        Dwarf_Addr start = 0, end = 0;
        const char* name = dwfl_module_info(module, nullptr, &start, &end, nullptr, nullptr, nullptr, nullptr);
        frame.inModule = true;
        frame.moduleStart = start;
        frame.moduleEnd = end;
        frame.modulePath = name != nullptr ? name : "";
        frame.moduleName = BaseName(frame.modulePath);
        frame.moduleOffset = frame.address - start;
        NoteLoaded(module, frame.modulePath, start);

        Dwarf_Addr inSection = lookup;
        Dwarf_Addr bias = 0;
        if (Elf_Scn* section = dwfl_module_address_section(module, &inSection, &bias)) {
            Dwarf_Addr elfBias = 0;
            Elf* elf = dwfl_module_getelf(module, &elfBias);
            std::size_t names = 0;
            GElf_Shdr header;
            if (elf != nullptr && elf_getshdrstrndx(elf, &names) == 0 && gelf_getshdr(section, &header) != nullptr) {
                const char* sectionName = elf_strptr(elf, names, header.sh_name);
                frame.section = sectionName != nullptr ? sectionName : "";
                frame.sectionOffset = inSection + (frame.address - lookup);
            }
        }
        GElf_Off offset = 0;
        GElf_Sym symbol;
        if (const char* symbolName =
                dwfl_module_addrinfo(module, lookup, &offset, &symbol, nullptr, nullptr, nullptr)) {
            frame.symbol = symbolName;
            frame.symbolOffset = offset + (frame.address - lookup);
        }
        if (Dwfl_Line* line = dwfl_module_getsrc(module, lookup)) {
            int number = 0;
            if (const char* file = dwfl_lineinfo(line, nullptr, &number, nullptr, nullptr, nullptr)) {
                frame.sourceFile = BaseName(file);
                frame.sourceLine = number;
            }
        }
    }

    // "symbol + offset" or "module+offset" for a code reference.
    std::string NameAddress(uint64_t address)
    {
        Dwfl_Module* module = ModuleOf(address);
        if (module == nullptr)
            return {};
        GElf_Off offset = 0;
        GElf_Sym symbol;
        if (const char* name = dwfl_module_addrinfo(module, address, &offset, &symbol, nullptr, nullptr, nullptr))
            return offset == 0 ? Demangle(name) : Demangle(name) + Format(" + %llX", static_cast<unsigned long long>(offset));
        Dwarf_Addr start = 0;
        const char* moduleName = dwfl_module_info(module, nullptr, &start, nullptr, nullptr, nullptr, nullptr, nullptr);
        return BaseName(moduleName != nullptr ? moduleName : "") +
               Format("+%llX", static_cast<unsigned long long>(address - start));
    }

    // The instruction before `address` is a call: a return address.
    bool FollowsCall(uint64_t address)
    {
        if (ModuleOf(address) == nullptr)
            return false;
        unsigned char bytes[7];
        if (!memory_.Read(address - 7, bytes, sizeof bytes))
            return false;
        if (bytes[2] == 0xE8) // call rel32
            return true;
        // call r/m: FF /2 with a ModRM byte and 0, 1 or 4 bytes after it.
        auto isCallModRm = [](unsigned char modrm) { return ((modrm >> 3) & 7) == 2; };
        return (bytes[5] == 0xFF && isCallModRm(bytes[6])) || (bytes[4] == 0xFF && isCallModRm(bytes[5])) ||
               (bytes[1] == 0xFF && isCallModRm(bytes[2])) || (bytes[0] == 0xFF && isCallModRm(bytes[1]));
    }

private:
    void NoteLoaded(Dwfl_Module* module, const std::string& path, uint64_t start)
    {
        if (!loaded_.insert(module).second || !logLoads_)
            return;
        int exports = 0, imports = 0;
        int count = dwfl_module_getsymtab(module);
        for (int i = 1; i < count; ++i) {
            GElf_Sym symbol;
            GElf_Word section = 0;
            if (dwfl_module_getsym(module, i, &symbol, &section) == nullptr)
                continue;
            if (symbol.st_shndx == SHN_UNDEF)
                ++imports;
            else if (GELF_ST_TYPE(symbol.st_info) == STT_FUNC || GELF_ST_TYPE(symbol.st_info) == STT_OBJECT)
                ++exports;
        }
        trace_(Format("Loaded %6d exports for %s [%s]", exports, Address(start).c_str(), path.c_str()));
        trace_(Format("Loaded %6d imports for %s [%s]", imports, Address(start).c_str(), path.c_str()));
    }

    RemoteMemory& memory_;
    const TraceSink& trace_;
    bool logLoads_;
    std::unique_ptr<Dwfl, DwflDeleter> dwfl_;
    std::set<Dwfl_Module*> loaded_;
};

void ReadStackWords(StackFrame& frame, RemoteMemory& memory)
{
    for (int i = 0; i < kStackWords; ++i) {
        StackWord word;
        if (!memory.ReadWord(frame.stackAddress + static_cast<uint64_t>(i) * kWordSize, &word.value))
            break;
        word.bytesValid = memory.Read(word.value, word.bytes, sizeof word.bytes);
        frame.stack.push_back(word);
    }
}

class Disassembler {
public:
    Disassembler()
    {
#if defined(__x86_64__)
        ok_ = cs_open(CS_ARCH_X86, CS_MODE_64, &handle_) == CS_ERR_OK;
#else
        ok_ = cs_open(CS_ARCH_X86, CS_MODE_32, &handle_) == CS_ERR_OK;
#endif
        if (ok_)
            cs_option(handle_, CS_OPT_DETAIL, CS_OPT_ON);
    }
    ~Disassembler()
    {
        if (ok_)
            cs_close(&handle_);
    }
    Disassembler(const Disassembler&) = delete;
    Disassembler& operator=(const Disassembler&) = delete;

    // The instructions around `lookup`, decoded from `start` (the symbol's
    // start when near, so that the decoding is in step with the code).
    std::vector<CodeLine> Around(uint64_t start, uint64_t lookup, RemoteMemory& memory, Namer& namer)
    {
        std::vector<CodeLine> lines;
        if (!ok_)
            return lines;
        std::vector<unsigned char> bytes;
        const uint64_t end = lookup + 64;
        for (uint64_t at = start; at < end; ++at) {
            unsigned char byte;
            if (!memory.Read(at, &byte, 1))
                break;
            bytes.push_back(byte);
        }
        cs_insn* instructions = nullptr;
        std::size_t count = cs_disasm(handle_, bytes.data(), bytes.size(), start, 0, &instructions);
        std::size_t current = count;
        for (std::size_t i = 0; i < count; ++i)
            if (instructions[i].address <= lookup && lookup < instructions[i].address + instructions[i].size)
                current = i;
        if (current == count) {
            cs_free(instructions, count);
            return lines;
        }
        std::size_t first = current > kCodeBefore ? current - kCodeBefore : 0;
        std::size_t last = std::min(count, current + kCodeAfter + 1);
        for (std::size_t i = first; i < last; ++i) {
            const cs_insn& insn = instructions[i];
            CodeLine line;
            line.address = insn.address;
            line.code = insn.op_str[0] != '\0' ? Format("%-7s %s", insn.mnemonic, insn.op_str)
                                               : Format("%-7s", insn.mnemonic);
            line.reference = Reference(insn, namer);
            line.current = i == current;
            lines.push_back(std::move(line));
        }
        cs_free(instructions, count);
        return lines;
    }

private:
    std::string Reference(const cs_insn& insn, Namer& namer)
    {
        if (insn.detail == nullptr)
            return {};
        const cs_x86& x86 = insn.detail->x86;
        const bool branch = cs_insn_group(handle_, &insn, CS_GRP_JUMP) || cs_insn_group(handle_, &insn, CS_GRP_CALL);
        for (int i = 0; i < x86.op_count; ++i) {
            const cs_x86_op& op = x86.operands[i];
            if (op.type == X86_OP_IMM && branch)
                return namer.NameAddress(static_cast<uint64_t>(op.imm));
            if (op.type == X86_OP_MEM && op.mem.base == X86_REG_RIP)
                return namer.NameAddress(insn.address + insn.size + static_cast<uint64_t>(op.mem.disp));
        }
        return {};
    }

    csh handle_ = 0;
    bool ok_ = false;
};

// Without frame information: the words of the stack that point just behind
// a call into a module are taken as return addresses.
std::vector<RawFrame> ScanStack(uint64_t sp, RemoteMemory& memory, Namer& namer)
{
    std::vector<RawFrame> found;
    for (int i = 0; i < kScanWords; ++i) {
        uint64_t word = 0;
        if (!memory.ReadWord(sp + static_cast<uint64_t>(i) * kWordSize, &word))
            break;
        if (namer.FollowsCall(word))
            found.push_back({word, false, sp + static_cast<uint64_t>(i) * kWordSize});
    }
    return found;
}

std::string ProgramOf(pid_t pid)
{
    char path[4096];
    ssize_t length = readlink(Format("/proc/%d/exe", pid).c_str(), path, sizeof path - 1);
    return length > 0 ? std::string(path, static_cast<std::size_t>(length)) : std::string();
}

} // namespace

std::string Demangle(const char* name)
{
    int status = 0;
    char* demangled = abi::__cxa_demangle(name, nullptr, nullptr, &status);
    if (demangled == nullptr)
        return name;
    std::string text(demangled);
    std::free(demangled);
    return text;
}

void DemangleSymbols(CrashReport& report)
{
    for (StackFrame& frame : report.frames) {
        if (frame.symbol.empty())
            continue;
        frame.symbol = Demangle(frame.symbol.c_str());
        if (frame.symbol.size() > kMaxSymbol)
            frame.symbol.resize(kMaxSymbol);
    }
}

void WalkStack(CrashReport& report, const TraceSink& trace)
{
    const CrashRequest& request = report.request;
    const unsigned options = request.options;
    // The walk's own lines go to the log only with vclxDumpToFile.
    TraceSink walkTrace = [&](const std::string& line) {
        if (options & vclxDumpToFile)
            trace(line);
    };
    report.program = ProgramOf(request.pid);
    const uint64_t* r = request.state.registers;
    if (!(request.state.groups & kIntegerGroup)) {
        walkTrace("END.UnwindCallStack impossible to unwind!");
        return;
    }
    walkTrace(Format("UnwindCallStack(%d) for %s:%s %s:%s %s:%s", kMaxWalkDepth, kIpName, Address(r[kIp]).c_str(),
                     kBpName, Address(r[kBp]).c_str(), kSpName, Address(r[kSp]).c_str()));

    RemoteMemory memory(request.pid);
    Namer namer(request.pid, memory, walkTrace, (options & (vclxLoadExports | vclxLoadLocals)) != 0);
    std::vector<RawFrame> raw = CfiWalk(request, memory);
    if (raw.size() <= 1 && namer.ModuleOf(r[kIp]) == nullptr) {
        walkTrace("Unwind: Stack frames unreachable. Analyze stack contents...");
        raw.assign(1, RawFrame{r[kIp], true});
        std::vector<RawFrame> found = ScanStack(r[kSp], memory, namer);
        // From the first return address on, the frame information leads
        // again (a call through a bad pointer leaves it right at the stack
        // pointer); the later words of the scan may be stale.
        std::vector<RawFrame> resumed;
        if (!found.empty()) {
            CrashRequest from = request;
            from.state.registers[kIp] = found.front().pc;
            from.state.registers[kSp] = found.front().at + kWordSize;
            resumed = CfiWalk(from, memory);
        }
        if (resumed.size() > 1) {
            resumed.front().activation = false;
            raw.insert(raw.end(), resumed.begin(), resumed.end());
        } else {
            raw.insert(raw.end(), found.begin(), found.end());
        }
    } else {
        walkTrace("Unwind: Decode stack frames...");
        if (raw.empty())
            raw.push_back({r[kIp], true});
    }

    Disassembler disassembler;
    uint64_t cursor = r[kSp];
    bool cycled = false;
    for (std::size_t i = 0; i < raw.size(); ++i) {
        // The stack words of a frame start behind its return address; the
        // walk does not give the frame's stack pointer, so find the address
        // on the stack.
        uint64_t stackAddress = cursor;
        if (i > 0) {
            for (uint64_t at = cursor; at < cursor + kFrameSearch; at += kWordSize) {
                uint64_t word = 0;
                if (!memory.ReadWord(at, &word))
                    break;
                if (word == raw[i].pc) {
                    stackAddress = at + kWordSize;
                    cursor = stackAddress;
                    break;
                }
            }
        }
        if (i > 0 && raw[i].pc == raw[i - 1].pc) {
            if (!cycled)
                walkTrace(Format("Stack cycled at addres %s (possible as a result of stack overflow error)",
                                 Address(raw[i].pc).c_str()));
            cycled = true;
            continue;
        }
        StackFrame frame;
        frame.address = raw[i].pc;
        frame.stackAddress = stackAddress;
        const uint64_t lookup = raw[i].activation || raw[i].pc == 0 ? raw[i].pc : raw[i].pc - 1;
        if (options & (vclxLoadExports | vclxLoadLocals))
            namer.Describe(frame, lookup);
        ReadStackWords(frame, memory);
        if ((options & vclxReadCode) && (options & vclxDisasmCode)) {
            uint64_t start = lookup;
            if (!frame.symbol.empty() && frame.symbolOffset <= 512)
                start = frame.address - frame.symbolOffset;
            frame.code = disassembler.Around(start, lookup, memory, namer);
        }
        report.frames.push_back(std::move(frame));
    }
    walkTrace(Format("END.UnwindCallStack: %d items", static_cast<int>(report.frames.size())));
}

} // namespace crash
