#include "browse/FolderLayoutChoice.h"

#include "base/Paths.h"
#include "config/ConfigKeys.h"
#include "plugins/PluginChoice.h"

#include <filesystem>
#include <system_error>

#include <cstdlib>
#include <iterator>
#include <sstream>

namespace {

constexpr FolderLayoutOption kOptions[] = {
    {"as found", ""},
    {"xyz, rows from the top", "?layout=xyz"},
    {"tms, rows from the bottom", "?layout=tms"},
    {"tc, rows from the bottom", "?layout=tc&origin=sw"},
    {"tc, rows from the top", "?layout=tc&origin=nw"},
    {"mp, rows from the bottom", "?layout=mp&origin=sw"},
    {"mp, rows from the top", "?layout=mp&origin=nw"},
    {"plates (t/q/r/s)", "?layout=plates"},
    {"quadkey", "?layout=quadkey"},
    {"arcgis", "?layout=arcgis"},
};

// A compact cache's bundles hold their grid's rows in its own order.
constexpr FolderLayoutOption kBundleOptions[] = {
    {"as found", ""},
    {"rows from the top", "?origin=nw"},
    {"rows from the bottom", "?origin=sw"},
};

constexpr LayoutChoices kChoices[] = {
    {"folder", cfgkey::kFolderLayouts, "How the folder plugin reads the folder: its layout and where rows are counted from",
     kOptions, static_cast<int>(std::size(kOptions))},
    {"tilebundle", cfgkey::kBundleOrigins, "Where the compact cache's rows are counted from", kBundleOptions,
     static_cast<int>(std::size(kBundleOptions))},
};

} // namespace

const LayoutChoices* LayoutChoicesFor(const std::string& pluginStem)
{
    for (const LayoutChoices& choices : kChoices)
        if (pluginStem == choices.plugin)
            return &choices;
    return nullptr;
}

const FolderLayoutOption* FolderLayoutOptions() { return kOptions; }

int FolderLayoutOptionCount() { return static_cast<int>(std::size(kOptions)); }

std::string WithLayoutOption(const LayoutChoices& choices, const std::string& path, int option)
{
    if (option <= 0 || option >= choices.count || path.find('?') != std::string::npos)
        return path;
    return path + choices.options[option].options;
}

int RememberedLayoutOption(const LayoutChoices& choices, const std::string& remembered, const std::string& path)
{
    std::istringstream lines(remembered);
    std::string line;
    while (std::getline(lines, line)) {
        const std::size_t tab = line.find('\t');
        if (tab == std::string::npos || line.compare(tab + 1, std::string::npos, path) != 0)
            continue;
        const int option = std::atoi(line.substr(0, tab).c_str());
        return option > 0 && option < choices.count ? option : 0;
    }
    return 0;
}

std::string RememberLayoutOption(const LayoutChoices& choices, const std::string& remembered, const std::string& path,
                                 int option)
{
    std::string text;
    int kept = 0;
    if (option > 0 && option < choices.count && path.find('\n') == std::string::npos) {
        text = std::to_string(option) + "\t" + path + "\n";
        ++kept;
    }
    std::istringstream lines(remembered);
    std::string line;
    while (std::getline(lines, line) && kept < kRememberedFolderLayouts) {
        const std::size_t tab = line.find('\t');
        if (tab == std::string::npos || line.compare(tab + 1, std::string::npos, path) == 0)
            continue;
        text += line + "\n";
        ++kept;
    }
    return text;
}

std::string WithFolderLayout(const std::string& path, int option)
{
    return WithLayoutOption(kChoices[0], path, option);
}

int RememberedFolderLayout(const std::string& remembered, const std::string& path)
{
    return RememberedLayoutOption(kChoices[0], remembered, path);
}

std::string RememberFolderLayout(const std::string& remembered, const std::string& path, int option)
{
    return RememberLayoutOption(kChoices[0], remembered, path, option);
}

std::string FromProgramFolder(const std::string& path)
{
    // A URL names nothing of this machine, even where a folder "s3:" lies.
    if (path.empty() || path[0] == '/' || !UrlScheme(path).empty())
        return path;
    std::error_code error;
    const std::string part = StoragePathPart(path);
    if (std::filesystem::exists(part, error))
        return path;
    if (std::filesystem::exists(JoinToProgramFolder(part), error))
        return JoinToProgramFolder(path);
    return path;
}
