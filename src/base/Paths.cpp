#include "base/Paths.h"

#include "base/Text.h"
#include "platform/Process.h"

#include <vector>

namespace {

constexpr std::string_view kLongPathPrefix = "\\\\?\\";

struct Rules {
    char separator;
    std::size_t rootLength; // characters that must match before components count
    bool ignoreCase;
};

Rules RulesOf(PathSyntax syntax)
{
    return syntax == PathSyntax::Windows ? Rules{'\\', 3, true} : Rules{'/', 1, false};
}

bool SameText(std::string_view a, std::string_view b, bool ignoreCase)
{
    if (a.size() != b.size())
        return false;
    return CompareTexts(std::string(a).c_str(), std::string(b).c_str(), static_cast<int>(a.size()),
                        ignoreCase) == 0;
}

std::vector<std::string_view> Components(std::string_view text, char separator)
{
    std::vector<std::string_view> parts;
    while (!text.empty()) {
        std::size_t end = text.find(separator);
        std::string_view part = text.substr(0, end);
        if (!part.empty())
            parts.push_back(part);
        if (end == std::string_view::npos)
            break;
        text.remove_prefix(end + 1);
    }
    return parts;
}

} // namespace

char PathSeparator(PathSyntax syntax) { return RulesOf(syntax).separator; }

bool IsAbsolutePath(std::string_view path, PathSyntax syntax)
{
    if (syntax == PathSyntax::Posix)
        return !path.empty() && path[0] == '/';
    if (path.starts_with(kLongPathPrefix))
        path.remove_prefix(kLongPathPrefix.size());
    if (path.starts_with("\\\\"))
        return true;
    return path.size() >= 3 && path[1] == ':' && path[2] == '\\';
}

std::string MakeRelativePath(std::string_view path, std::string_view baseFolder, PathSyntax syntax)
{
    const Rules rules = RulesOf(syntax);
    if (!IsAbsolutePath(path, syntax) || path.size() < rules.rootLength ||
        baseFolder.size() < rules.rootLength ||
        !SameText(path.substr(0, rules.rootLength), baseFolder.substr(0, rules.rootLength),
                  rules.ignoreCase))
        return std::string(path);

    auto pathParts = Components(path.substr(rules.rootLength), rules.separator);
    auto baseParts = Components(baseFolder.substr(rules.rootLength), rules.separator);
    std::size_t shared = 0;
    while (shared < pathParts.size() && shared < baseParts.size() &&
           SameText(pathParts[shared], baseParts[shared], rules.ignoreCase))
        ++shared;

    std::string result;
    for (std::size_t i = shared; i < baseParts.size(); ++i) {
        result += "..";
        result += rules.separator;
    }
    for (std::size_t i = shared; i < pathParts.size(); ++i) {
        result += pathParts[i];
        result += rules.separator;
    }
    if (!result.empty())
        result.pop_back();
    return result;
}

std::string JoinToFolder(std::string_view path, std::string_view folder, PathSyntax syntax)
{
    if (IsAbsolutePath(path, syntax))
        return std::string(path);
    return std::string(folder) + std::string(path);
}

std::string FolderPart(std::string_view path, PathSyntax syntax)
{
    std::size_t last = path.rfind(PathSeparator(syntax));
    return last == std::string_view::npos ? std::string() : std::string(path.substr(0, last + 1));
}

std::string_view LastComponent(std::string_view path, PathSyntax syntax)
{
    std::size_t last = path.rfind(PathSeparator(syntax));
    return last == std::string_view::npos ? path : path.substr(last + 1);
}

std::string ProgramFolder() { return platform::ProgramFolder(); }

std::string MakeRelativeToProgramFolder(std::string_view path)
{
    return MakeRelativePath(path, ProgramFolder());
}

std::string JoinToProgramFolder(std::string_view path) { return JoinToFolder(path, ProgramFolder()); }
