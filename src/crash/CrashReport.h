#pragma once
// A decoded crash: the request, the stack entries and what the report window
// and the report text are made of. Plain data, shared by the helper's report
// builder and the report window.

#include "crash/CrashProtocol.h"

#include <cstdint>
#include <string>
#include <vector>

namespace crash {

inline constexpr int kStackWords = 10;
inline constexpr int kWordBytes = 16;

struct CodeLine {
    uint64_t address = 0;
    std::string code;      // "%-7s %s": mnemonic and operands
    std::string reference; // the symbol a branch or a memory operand names
    bool current = false;  // the instruction of the frame's address
};

struct StackWord {
    uint64_t value = 0;
    bool bytesValid = false;          // the 16 bytes it points at could be read
    unsigned char bytes[kWordBytes] = {};
};

// One stack entry.
struct StackFrame {
    uint64_t address = 0;
    bool inModule = false;
    uint64_t moduleStart = 0, moduleEnd = 0; // the two addresses of the module
    std::string modulePath;
    std::string moduleName;                   // the file name without its folder
    uint64_t moduleOffset = 0;
    std::string section;
    uint64_t sectionOffset = 0;
    std::string symbol; // demangled, at most 260 characters
    uint64_t symbolOffset = 0;
    std::string sourceFile; // from the debug information, when there is any
    int sourceLine = 0;
    uint64_t stackAddress = 0; // where its stack words were read
    std::vector<StackWord> stack;
    std::vector<CodeLine> code;
};

struct CrashReport {
    CrashRequest request;
    std::string program;       // the crashed program's file
    std::vector<StackFrame> frames;
};

} // namespace crash
