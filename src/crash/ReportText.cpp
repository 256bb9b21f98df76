#include "crash/ReportText.h"

#include "base/Text.h"
#include "crash/CrashHandler.h"
#include "crash/ExceptionCodes.h"
#include "crash/ReportLines.h"

#include <cstdarg>
#include <algorithm>
#include <cstdio>

namespace crash {

namespace {

constexpr int kAddressDigits = 2 * static_cast<int>(sizeof(void*));

std::string Address(uint64_t value)
{
    return Format("%0*llX", kAddressDigits, static_cast<unsigned long long>(value));
}

void Collect(void* context, const char* text, std::size_t length)
{
    static_cast<std::vector<std::string>*>(context)->emplace_back(text, length);
}

} // namespace

std::string FrameLine(int number, const StackFrame& frame)
{
    std::string line = Format("Addr[%2d]: ", number) + Address(frame.address) + " Mod:" +
                       Address(frame.moduleStart) + " lMod:" + Address(frame.moduleEnd) + " \"" +
                       frame.moduleName + "\"";
    if (frame.moduleOffset != 0)
        line += Format("+%08llX", static_cast<unsigned long long>(frame.moduleOffset));
    if (!frame.section.empty())
        line += " at \"" + frame.section + "\"" +
                Format("+%08llX", static_cast<unsigned long long>(frame.sectionOffset));
    if (!frame.symbol.empty())
        line += ": \"" + frame.symbol + "\"" + Format(" + %08llX", static_cast<unsigned long long>(frame.symbolOffset));
    // Beyond the fixed layout: the source position, where debug information
    // names one.
    if (!frame.sourceFile.empty())
        line += Format(" (%s:%d)", frame.sourceFile.c_str(), frame.sourceLine);
    return line;
}

std::vector<std::string> ReportTextLines(const CrashReport& report, unsigned options)
{
    std::vector<std::string> lines;
    WriteExceptionLines(report.request, &Collect, &lines);
    for (std::size_t i = 0; i < report.frames.size(); ++i)
        lines.push_back(FrameLine(static_cast<int>(i + 1), report.frames[i]));
    if (!(options & kStackDetails))
        return lines;
    lines.emplace_back();
    lines.emplace_back("Stack details:");
    for (std::size_t i = 0; i < report.frames.size(); ++i) {
        const StackFrame& frame = report.frames[i];
        lines.push_back(FrameLine(static_cast<int>(i + 1), frame));
        if (options & vclxPrintStackData) {
            if (!frame.inModule) {
                lines.emplace_back("  Stack:");
                for (std::size_t w = 0; w < frame.stack.size(); ++w) {
                    const StackWord& word = frame.stack[w];
                    std::string line = Format("  %2d) ", static_cast<int>(w)) + Address(word.value) + " = ";
                    if (word.bytesValid) {
                        for (unsigned char byte : word.bytes)
                            line += Format("%02X ", byte);
                        for (unsigned char byte : word.bytes)
                            line += byte < 32 || byte > 250 ? '.' : static_cast<char>(byte);
                    }
                    lines.push_back(line);
                }
            } else {
                std::string line = "  Stack: ";
                for (const StackWord& word : frame.stack)
                    line += Address(word.value) + " ";
                lines.push_back(line);
            }
        }
        if (!frame.inModule)
            for (const CodeLine& code : frame.code)
                lines.push_back("  " + Address(code.address) + (code.current ? " > " : "   ") + code.code +
                                (code.reference.empty() ? std::string() : "  ; " + code.reference));
        lines.emplace_back();
    }
    return lines;
}

std::string OperationText(const CrashRequest& request)
{
    // The string resources 1272 (the format), 1273 (a write) and 1274 (a
    // read); an execution attempt gets its own word.
    const char* kind = nullptr;
    switch (static_cast<Access>(request.access)) {
    case Access::Write:
        kind = "Запись";
        break;
    case Access::Read:
        kind = "Чтение";
        break;
    case Access::Execute:
        kind = "Исполнение";
        break;
    case Access::None:
        return {};
    }
    return Format("%s по адресу %s", kind, Address(request.faultAddress).c_str());
}

} // namespace crash
