#include "Options.h"

#include "Cli.h"
#include "Commands.h"

#include "base/Text.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string_view>

namespace cli {

namespace {

constexpr const char* kCommonOptions[] = {"--plugin", "--levels",     "--z",          "--prefix", "--bbox",
                                          "--names",  "--from-names", "--duplicates", "--blank",  "--quiet",
                                          "--verbose", "--log",       "--help"};

// Options that take a value, and where the value goes.
struct ValueOption {
    const char* name;
    std::function<bool(Options&, const std::string&, std::string*)> set;
};

bool ParseThreads(Options& options, const std::string& value, std::string* error)
{
    char* end = nullptr;
    const long threads = std::strtol(value.c_str(), &end, 10);
    if (value.empty() || *end != '\0' || threads < 1 || threads > 1024) {
        *error = "--threads wants a number of threads from 1 up, not " + value;
        return false;
    }
    options.threads = static_cast<int>(threads);
    return true;
}

bool OneOf(const std::string& value, std::initializer_list<const char*> allowed, const char* option, std::string* error)
{
    std::string list;
    for (const char* item : allowed) {
        if (value == item)
            return true;
        list += list.empty() ? "" : "|";
        list += item;
    }
    *error = std::string(option) + " wants " + list + ", not " + value;
    return false;
}

const std::vector<ValueOption>& ValueOptions()
{
    static const std::vector<ValueOption> options = {
        {"--plugin", [](Options& o, const std::string& v, std::string*) { o.plugin = v; return true; }},
        {"--target-plugin", [](Options& o, const std::string& v, std::string*) { o.targetPlugin = v; return true; }},
        {"--log", [](Options& o, const std::string& v, std::string*) { o.log = v; return true; }},
        {"--levels", [](Options& o, const std::string& v, std::string* e) { return o.filter.SetLevels(v, e); }},
        {"--z", [](Options& o, const std::string& v, std::string* e) { return o.filter.SetZooms(v, e); }},
        {"--prefix", [](Options& o, const std::string& v, std::string* e) { return o.filter.SetPrefixes(v, e); }},
        {"--bbox", [](Options& o, const std::string& v, std::string* e) { return o.filter.SetBoundingBox(v, e); }},
        {"--from-names", [](Options& o, const std::string& v, std::string* e) { return o.filter.ReadNames(v, e); }},
        // For verify --names is where the broken plates' names go; elsewhere it selects.
        {"--names",
         [](Options& o, const std::string& v, std::string* e) {
             if (o.command == "verify") {
                 o.namesOut = v;
                 return true;
             }
             return o.filter.ReadNames(v, e);
         }},
        {"--layout",
         [](Options& o, const std::string& v, std::string* e) {
             o.layout = v;
             if (o.command == "export")
                 return OneOf(v, {"plates", "xyz", "tms"}, "--layout", e);
             return true;
         }},
        {"--existing",
         [](Options& o, const std::string& v, std::string* e) {
             o.existing = v;
             return OneOf(v, {"ask", "overwrite", "keep", "cancel"}, "--existing", e);
         }},
        {"--formats",
         [](Options& o, const std::string& v, std::string* e) {
             o.formats = v;
             return OneOf(v, {"sample", "all", "none"}, "--formats", e);
         }},
        {"--threads", &ParseThreads},
        {"--coverage", [](Options& o, const std::string& v, std::string*) { o.coverage = v; return true; }},
        {"--chart", [](Options& o, const std::string& v, std::string*) { o.chart = v; return true; }},
        {"--set",
         [](Options& o, const std::string& v, std::string* e) {
             const std::size_t equals = v.find('=');
             if (equals == std::string::npos || equals == 0) {
                 *e = "--set wants KEY=VALUE, not " + v;
                 return false;
             }
             o.metadataChanges.emplace_back(v.substr(0, equals), v.substr(equals + 1));
             return true;
         }},
        {"--delete",
         [](Options& o, const std::string& v, std::string* e) {
             if (v.empty()) {
                 *e = "--delete wants a key";
                 return false;
             }
             o.metadataChanges.emplace_back(v, std::nullopt);
             return true;
         }},
    };
    return options;
}

struct FlagOption {
    const char* name;
    bool Options::*field;
};

constexpr FlagOption kFlagOptions[] = {
    {"--json", &Options::json},       {"--quiet", &Options::quiet}, {"--verbose", &Options::verbose},
    {"--dry-run", &Options::dryRun},  {"--yes", &Options::yes},     {"--move", &Options::move},
    {"--help", &Options::help},       {"-h", &Options::help},       {"-q", &Options::quiet},
    {"-y", &Options::yes},
};

bool Allowed(const CommandInfo& command, const std::string& option)
{
    for (const char* common : kCommonOptions)
        if (option == common)
            return command.argumentCount > 0 || option == "--help" || option == "--quiet" || option == "--verbose" ||
                   option == "--log";
    if (option == "-h" || option == "-q")
        return true;
    for (const char* own : command.options)
        if (option == own)
            return true;
    return option == "-y" && std::find(command.options.begin(), command.options.end(), std::string_view("--yes")) !=
                                 command.options.end();
}

} // namespace

int Usage(const std::string& text, const char* command)
{
    std::fprintf(stderr, "ulmora-cli: %s\nTry: ulmora-cli %s--help\n", text.c_str(),
                 command != nullptr ? (std::string(command) + " ").c_str() : "");
    return kExitUsage;
}

int Parse(int argc, char** argv, Options* options)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty())
        return Usage("no command given");
    if (args[0] == "--version" || args[0] == "version") {
        options->version = true;
        return kExitDone;
    }
    if (args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
        if (args.size() > 1 && FindCommand(args[1]) != nullptr) {
            options->command = args[1];
            options->help = true;
        } else {
            options->help = true;
        }
        return kExitDone;
    }
    options->command = args[0];
    const CommandInfo* command = FindCommand(options->command);
    if (command == nullptr)
        return Usage("unknown command " + options->command + " (commands: info, list, verify, export, copy, delete, meta, plugins)");
    bool onlyArguments = false;
    for (std::size_t i = 1; i < args.size(); ++i) {
        std::string arg = args[i];
        if (onlyArguments || arg.size() < 2 || arg[0] != '-') {
            options->arguments.push_back(arg);
            continue;
        }
        if (arg == "--") {
            onlyArguments = true;
            continue;
        }
        std::string value;
        bool hasValue = false;
        if (const std::size_t equals = arg.find('='); equals != std::string::npos && arg.starts_with("--")) {
            value = arg.substr(equals + 1);
            arg.resize(equals);
            hasValue = true;
        }
        if (!Allowed(*command, arg))
            return Usage("the option " + arg + " is not one of " + options->command + "'s", command->name);
        bool known = false;
        for (const FlagOption& flag : kFlagOptions) {
            if (arg == flag.name) {
                if (hasValue)
                    return Usage(arg + " takes no value", command->name);
                options->*flag.field = true;
                known = true;
            }
        }
        if (arg == "--duplicates" || arg == "--blank") {
            if (hasValue)
                return Usage(arg + " takes no value", command->name);
            if (arg == "--duplicates")
                options->filter.SelectDuplicates();
            else
                options->filter.SelectBlank();
            known = true;
        }
        for (const ValueOption& option : ValueOptions()) {
            if (arg != option.name)
                continue;
            if (!hasValue) {
                if (i + 1 >= args.size())
                    return Usage(arg + " wants a value", command->name);
                value = args[++i];
            }
            std::string error;
            if (!option.set(*options, value, &error))
                return Usage(error, command->name);
            known = true;
        }
        if (!known)
            return Usage("unknown option " + arg, command->name);
        options->given.push_back(arg);
    }
    if (options->help)
        return kExitDone;
    if (static_cast<int>(options->arguments.size()) != command->argumentCount)
        return Usage(Format("%s wants %s", command->name,
                            command->argumentCount ? command->arguments : "no arguments"),
                     command->name);
    for (const std::string& argument : options->arguments)
        if (argument.empty())
            return Usage(Format("%s wants %s, not an empty path", command->name, command->arguments), command->name);
    return kExitDone;
}

} // namespace cli
