#include "app/CommandLine.h"

#include "base/Paths.h"
#include "base/Text.h" // CompareTexts
#include "platform/Process.h"

bool FindSwitch(const std::vector<std::string>& arguments, const std::string& name, std::string* value)
{
    for (std::size_t i = 1; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (argument.size() < name.size() + 2 || (argument[0] != '-' && argument[0] != '/'))
            continue;
        if (CompareTexts(argument.c_str() + 1, name.c_str(), static_cast<int>(name.size()), true) != 0 ||
            argument[name.size() + 1] != '=')
            continue;
        *value = argument.substr(name.size() + 2);
        return true;
    }
    return false;
}

std::string ExpandEnvironment(const std::string& text)
{
    std::string result;
    std::size_t position = 0;
    while (position < text.size()) {
        std::size_t open = text.find('%', position);
        std::size_t close = open == std::string::npos ? open : text.find('%', open + 1);
        if (close == std::string::npos) {
            result += text.substr(position);
            break;
        }
        result += text.substr(position, open - position);
        std::string name = text.substr(open + 1, close - open - 1);
        if (auto value = platform::EnvironmentVariable(name); value && !name.empty()) {
            result += *value;
            position = close + 1;
        } else {
            // Not a reference: keep the first '%' and look again from the second.
            result += '%';
            result += name;
            position = close;
        }
    }
    return result;
}

std::string ResolveFilePath(const std::vector<std::string>& arguments, const std::string& name,
                            const std::string& fileName, const std::string& folder)
{
    const std::string base = folder.empty() ? ProgramFolder() : folder;
    std::string value;
    if (FindSwitch(arguments, name, &value))
        return JoinToFolder(ExpandEnvironment(value), base);
    return JoinToFolder(fileName, base);
}

std::string StorageArgument(const std::vector<std::string>& arguments)
{
    std::string storage;
    for (std::size_t i = 1; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (argument.empty() || argument[0] == '-')
            continue;
        // "/CFG=..." is a switch; "/home/..." is a path.
        bool fileSwitch = false;
        for (const char* name : {kConfigSwitch, kLogSwitch}) {
            const std::string one(name);
            fileSwitch = fileSwitch || (argument[0] == '/' && argument.size() > one.size() + 1 &&
                                        CompareTexts(argument.c_str() + 1, name, static_cast<int>(one.size()), true) == 0 &&
                                        argument[one.size() + 1] == '=');
        }
        if (!fileSwitch)
            storage = argument;
    }
    return storage;
}
