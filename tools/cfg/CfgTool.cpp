#include "CfgTool.h"

#include "base/Text.h"
#include "config/TreeConfig.h"
#include "log/Errors.h"
#include "platform/Files.h"

#include <cctype>
#include <charconv>
#include <cstring>
#include <cstdint>
#include <limits>
#include <optional>
#include <ostream>

namespace {

constexpr const char* kUsage =
    "Usage: ulmora-cfg dump FILE\n"
    "       ulmora-cfg get FILE PATH TYPE\n"
    "       ulmora-cfg set FILE PATH TYPE VALUE\n"
    "       ulmora-cfg --help\n"
    "\n"
    "Reads and changes an Ulmora configuration file (Ulmora.hcfg), which is binary.\n"
    "\n"
    "  dump  prints every item, one a line, indented by its depth: the name, the\n"
    "        type code in brackets and the value (texts quoted, binary data in hex).\n"
    "  get   prints the value at PATH read as TYPE, converted the way the program\n"
    "        converts it; a missing key, or a text or binary read of another type,\n"
    "        gives 0 or the empty value. The file is not changed.\n"
    "  set   stores VALUE at PATH as TYPE and saves the file, creating it (and the\n"
    "        items on PATH) when missing. The old file is replaced only once the\n"
    "        new one is complete.\n"
    "\n"
    "PATH names items from the top of the file, separated by '/' or '\\'; the\n"
    "program keeps its settings below IDE, e.g. IDE/Autosave.\n"
    "TYPE is one of: int, long, bool, byte, char, short, int64, float, double,\n"
    "string. bool takes true/false, yes/no, on/off or 1/0.\n"
    "\n"
    "Exit status: 0 on success; 1 when the file cannot be read or saved, or is\n"
    "damaged or no configuration file; 2 for wrong arguments.\n"
    "\n"
    "Example: ulmora-cfg set Ulmora.hcfg IDE/Autosave bool false\n";

// Deeper items are indented like this depth, with their depth written out.
constexpr std::size_t kMaxIndent = 32;

const char* const kTypes[] = {"int", "long", "bool", "byte", "char", "short", "int64", "float", "double", "string"};

bool IsType(const std::string& type)
{
    for (const char* known : kTypes)
        if (type == known)
            return true;
    return false;
}

// A text as a quoted C-like literal, so that any bytes fit on one line.
std::string Quoted(std::string_view text, bool quotes = true)
{
    std::string result = quotes ? "\"" : "";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            result += '\\';
            result += static_cast<char>(c);
        } else if (c < 0x20 || c == 0x7F) {
            result += Format("\\x%02X", c);
        } else {
            result += static_cast<char>(c);
        }
    }
    if (quotes)
        result += '"';
    return result;
}

std::string Hex(std::span<const std::uint8_t> bytes)
{
    std::string result;
    for (std::size_t i = 0; i < bytes.size(); ++i)
        result += Format(i == 0 ? "%02X" : " %02X", bytes[i]);
    return result;
}

std::string ValueText(const TreeValue& item)
{
    const auto bits = item.FixedBits();
    switch (item.Type()) {
    case TypeNone:
        return "";
    case TypeByte:
    case TypeWord:
        return std::to_string(static_cast<std::uint32_t>(bits));
    case TypeFloat: {
        float value;
        std::uint32_t low = static_cast<std::uint32_t>(bits);
        std::memcpy(&value, &low, sizeof value);
        return Format("%.9g", static_cast<double>(value));
    }
    case TypeDouble: {
        double value;
        std::memcpy(&value, &bits, sizeof value);
        return Format("%.17g", value);
    }
    case TypeData:
        return Hex(item.BlockBytes());
    case TypeString:
        return Quoted(item.Text());
    default:
        return std::to_string(static_cast<std::int32_t>(static_cast<std::uint32_t>(bits)));
    }
}

void Dump(const TreeValue& root, std::ostream& out)
{
    ForEachDescendant(root, [&out](const TreeValue& item, std::size_t depth) {
        std::string line(std::min(depth, kMaxIndent) * 2, ' ');
        if (depth > kMaxIndent)
            line += Format("(depth %zu) ", depth);
        line += Quoted(item.Name(), false) + " [" + std::to_string(item.Type()) + "]";
        std::string value = ValueText(item);
        if (!value.empty())
            line += " " + value;
        out << line << '\n';
    });
}

template <typename T>
std::optional<T> ParseNumber(const std::string& text)
{
    T value{};
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || text.empty())
        return std::nullopt;
    return value;
}

template <typename T>
std::optional<T> ParseInRange(const std::string& text)
{
    auto value = ParseNumber<std::int64_t>(text);
    if (!value || *value < std::numeric_limits<T>::min() || *value > std::numeric_limits<T>::max())
        return std::nullopt;
    return static_cast<T>(*value);
}

std::optional<bool> ParseBool(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (text == "true" || text == "yes" || text == "on" || text == "1")
        return true;
    if (text == "false" || text == "no" || text == "off" || text == "0")
        return false;
    return std::nullopt;
}

// Stores `value`; false when it does not fit the type.
bool Store(ConfigItem& root, const std::string& path, const std::string& type, const std::string& value)
{
    if (type == "string") {
        root.WriteString(path, value);
        return true;
    }
    if (type == "bool") {
        auto parsed = ParseBool(value);
        return parsed && (root.WriteBool(path, *parsed), true);
    }
    if (type == "int") {
        auto parsed = ParseInRange<std::int32_t>(value);
        return parsed && (root.WriteInt(path, *parsed), true);
    }
    if (type == "long") {
        // Either reading of 32 bits: -1 and 4294967295 are the same value.
        auto parsed = ParseNumber<std::int64_t>(value);
        if (!parsed || *parsed < std::numeric_limits<std::int32_t>::min() ||
            *parsed > std::numeric_limits<std::uint32_t>::max())
            return false;
        root.WriteLong(path, static_cast<std::uint32_t>(*parsed));
        return true;
    }
    if (type == "byte") {
        auto parsed = ParseInRange<std::uint8_t>(value);
        return parsed && (root.WriteByte(path, *parsed), true);
    }
    if (type == "char") {
        auto parsed = ParseInRange<std::int8_t>(value);
        return parsed && (root.WriteChar(path, *parsed), true);
    }
    if (type == "short") {
        auto parsed = ParseInRange<std::int16_t>(value);
        return parsed && (root.WriteShort(path, *parsed), true);
    }
    if (type == "int64") {
        auto parsed = ParseNumber<std::int64_t>(value);
        return parsed && (root.WriteInt64(path, *parsed), true);
    }
    if (type == "float") {
        auto parsed = ParseNumber<float>(value);
        return parsed && (root.WriteFloat(path, *parsed), true);
    }
    auto parsed = ParseNumber<double>(value);
    return parsed && (root.WriteDouble(path, *parsed), true);
}

std::string Read(ConfigItem& root, const std::string& path, const std::string& type)
{
    if (type == "string")
        return root.ReadString(path, "");
    if (type == "bool")
        return root.ReadBool(path, false) ? "true" : "false";
    if (type == "int")
        return std::to_string(root.ReadInt(path, 0));
    if (type == "long")
        return std::to_string(root.ReadLong(path, 0));
    if (type == "byte")
        return std::to_string(root.ReadByte(path, 0));
    if (type == "char")
        return std::to_string(root.ReadChar(path, 0));
    if (type == "short")
        return std::to_string(root.ReadShort(path, 0));
    if (type == "int64")
        return std::to_string(root.ReadInt64(path, 0));
    if (type == "float")
        return Format("%.9g", static_cast<double>(root.ReadFloat(path, 0)));
    return Format("%.17g", root.ReadDouble(path, 0));
}

std::string Reason(int code)
{
    if (code == ErrBadMagic)
        return "not a configuration file";
    if (code == ErrUnexpectedData)
        return "the file is damaged";
    return ErrorText(code);
}

int FileError(std::ostream& err, const std::string& file, const std::string& reason)
{
    err << "ulmora-cfg: " << file << ": " << reason << '\n';
    return kToolFileError;
}

int UsageError(std::ostream& err, const std::string& text)
{
    err << "ulmora-cfg: " << text << " (see ulmora-cfg --help)\n";
    return kToolUsageError;
}

} // namespace

int RunCfgTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err)
{
    if (args.empty())
        return UsageError(err, "no command");
    const std::string& command = args[0];
    if (command == "--help" || command == "-h" || command == "help") {
        out << kUsage;
        return kToolOk;
    }
    const std::size_t expected = command == "dump" ? 2 : command == "get" ? 4 : command == "set" ? 5 : 0;
    if (expected == 0)
        return UsageError(err, "unknown command '" + command + "'");
    if (args.size() != expected)
        return UsageError(err, "'" + command + "' takes " + std::to_string(expected - 1) + " arguments");
    if (expected > 2 && !IsType(args[3]))
        return UsageError(err, "unknown type '" + args[3] + "'");

    const std::string& file = args[1];
    TreeConfig tree;
    SetLastError(0);
    const bool loaded = tree.Load(file);
    const int loadError = CurrentError();
    const bool startAfresh = command == "set" && !loaded && loadError == platform::kErrorFileNotFound;
    if (!loaded && !startAfresh)
        return FileError(err, file, Reason(loadError));

    if (command == "dump") {
        Dump(tree.RootValue(), out);
        return kToolOk;
    }
    if (command == "get") {
        out << Read(*tree.Root(), args[2], args[3]) << '\n';
        return kToolOk;
    }
    if (!Store(*tree.Root(), args[2], args[3], args[4]))
        return UsageError(err, "'" + args[4] + "' is no " + args[3] + " value");
    if (!tree.Save(file))
        return FileError(err, file, "cannot save: " + ErrorText(kCurrentError));
    return kToolOk;
}
