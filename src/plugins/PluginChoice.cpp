#include "plugins/PluginChoice.h"

#include "base/Paths.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <strings.h>
#include <system_error>

namespace {

bool SameText(const std::string& a, const std::string& b) { return strcasecmp(a.c_str(), b.c_str()) == 0; }

std::string ExtensionOf(const std::string& path)
{
    const std::string last(LastComponent(path));
    const std::size_t dot = last.rfind('.');
    return dot == std::string::npos || dot == 0 ? std::string() : last.substr(dot + 1);
}

// A compact cache: level folders ("L05") of .bundle files, in the folder or
// in an ArcGIS server's _alllayers below it. Only a few entries are read: a
// tile tree of millions of files is no bundle folder.
bool HoldsCompactBundles(const std::filesystem::path& folder)
{
    namespace fs = std::filesystem;
    std::error_code error;
    for (const fs::path& base : {folder, folder / "_alllayers", folder / "Layers" / "_alllayers"}) {
        int looked = 0;
        for (fs::directory_iterator it(base, error), end; !error && it != end && looked < 64; it.increment(error), ++looked) {
            const std::string name = it->path().filename().string();
            if (name.size() != 3 || name[0] != 'L' || !std::isdigit(static_cast<unsigned char>(name[1])) ||
                !std::isdigit(static_cast<unsigned char>(name[2])))
                continue;
            int inside = 0;
            std::error_code levelError;
            for (fs::directory_iterator file(it->path(), levelError); !levelError && file != end && inside < 64;
                 file.increment(levelError), ++inside)
                if (file->path().extension() == ".bundle")
                    return true;
        }
        error.clear();
    }
    return false;
}

// Whether `schemes` ("s3,https,http": what a plugin that uses folders gives
// as its extension) names `scheme`.
bool ServesScheme(const std::string& schemes, const std::string& scheme)
{
    std::size_t start = 0;
    while (start <= schemes.size()) {
        const std::size_t comma = std::min(schemes.find(',', start), schemes.size());
        if (comma > start && SameText(schemes.substr(start, comma - start), scheme))
            return true;
        start = comma + 1;
    }
    return false;
}

} // namespace

// A scheme is a letter, then letters, digits, '+', '-' or '.'.
std::string UrlScheme(const std::string& path)
{
    const std::size_t end = path.find("://");
    if (end == std::string::npos || end == 0 || !std::isalpha(static_cast<unsigned char>(path[0])))
        return {};
    std::string scheme;
    for (std::size_t i = 0; i < end; ++i) {
        const unsigned char c = static_cast<unsigned char>(path[i]);
        if (!std::isalnum(c) && c != '+' && c != '-' && c != '.')
            return {};
        scheme += static_cast<char>(std::tolower(c));
    }
    return scheme;
}

void PluginChoice::Fill()
{
    const std::string kept = SelectedLibraryPath();
    positions_.clear();
    chosen_ = -1;
    for (int i = 0; i < plugins_.Count(); ++i) {
        BasePlugin* plugin = plugins_.Plugin(i);
        if (plugin->Type() != PluginTypeStorage)
            continue;
        if (!kept.empty() && chosen_ < 0 && plugin->LibraryPath() == kept)
            chosen_ = static_cast<int>(positions_.size());
        positions_.push_back(i);
    }
}

BasePlugin* PluginChoice::PluginAt(int entry) const
{
    if (entry < 0 || entry >= Count())
        return nullptr;
    const int position = positions_[static_cast<std::size_t>(entry)];
    return position < plugins_.Count() ? plugins_.Plugin(position) : nullptr;
}

void PluginChoice::Choose(int entry) { chosen_ = entry >= 0 && entry < Count() ? entry : -1; }

std::string PluginChoice::SelectedLibraryPath() const
{
    BasePlugin* plugin = Selected();
    return plugin != nullptr ? plugin->LibraryPath() : std::string();
}

int PluginChoice::EntryForPath(const std::string& storage) const
{
    std::vector<PluginKind> kinds;
    kinds.reserve(positions_.size());
    for (int i = 0; i < Count(); ++i) {
        BasePlugin* plugin = PluginAt(i);
        kinds.push_back(plugin != nullptr ? KindOf(*plugin) : PluginKind{});
    }
    return ChoosePluginForPath(kinds, storage).chosen;
}

// ---- the choice by path -----------------------------------------------------

PluginKind KindOf(BasePlugin& plugin)
{
    PluginKind kind;
    kind.name = std::filesystem::path(plugin.LibraryPath()).stem().string();
    kind.flags = plugin.Flags();
    if (StorageAction* action = plugin.CreateAction()) {
        kind.extension = action->Extension();
        plugin.FreeAction(action);
    }
    return kind;
}

std::string StoragePathPart(const std::string& storage)
{
    std::error_code error;
    if (std::filesystem::exists(storage, error))
        return storage;
    const std::size_t mark = storage.rfind('?');
    if (mark == std::string::npos || storage.find('=', mark) == std::string::npos)
        return storage;
    return storage.substr(0, mark);
}

PathChoice ChoosePluginForPath(const std::vector<PluginKind>& kinds, const std::string& storage)
{
    PathChoice choice;
    choice.scheme = UrlScheme(storage);
    if (!choice.scheme.empty()) {
        // Never a folder of this machine named "s3:", made where the user stands.
        std::vector<int> fit;
        for (std::size_t i = 0; i < kinds.size(); ++i) {
            if ((kinds[i].flags & UsesDirectory) != 0 && ServesScheme(kinds[i].extension, choice.scheme))
                fit.push_back(static_cast<int>(i));
        }
        if (fit.size() == 1)
            choice.chosen = fit.front();
        for (int index : fit) {
            if (choice.chosen < 0 && SameText(kinds[static_cast<std::size_t>(index)].name, choice.scheme))
                choice.chosen = index;
        }
        if (choice.chosen < 0)
            choice.fits = fit;
        return choice;
    }
    const std::string path = StoragePathPart(storage);
    // The overloads that report errors instead of throwing: a path may be
    // anything a user typed.
    std::error_code error;
    const std::filesystem::file_status status = std::filesystem::status(path, error);
    choice.extension = ExtensionOf(path);
    choice.folder = std::filesystem::is_directory(status) ||
                    (!std::filesystem::exists(status) && choice.extension.empty());
    std::vector<int> fit;
    for (std::size_t i = 0; i < kinds.size(); ++i) {
        const bool usesFolder = (kinds[i].flags & UsesDirectory) != 0;
        const bool servesScheme = usesFolder && !kinds[i].extension.empty();
        if (servesScheme)
            continue;
        if (choice.folder ? usesFolder : (!usesFolder && SameText(kinds[i].extension, choice.extension)))
            fit.push_back(static_cast<int>(i));
    }
    if (fit.size() == 1) {
        choice.chosen = fit.front();
        return choice;
    }
    // Several plugins take folders: a compact cache's bundles are the one
    // sign the path gives of another than the folder plugin.
    const std::string usual =
        !choice.folder ? choice.extension : HoldsCompactBundles(path) ? "tilebundle" : "folder";
    for (int index : fit) {
        if (SameText(kinds[static_cast<std::size_t>(index)].name, usual)) {
            choice.chosen = index;
            return choice;
        }
    }
    choice.fits = fit;
    return choice;
}
