#include "Plugins.h"

#include "base/Paths.h"
#include "base/ProgramFiles.h"
#include "log/Errors.h"
#include "plugins/Plugin.h"
#include "plugins/PluginChoice.h"
#include "plugins/Registry.h"

#include <algorithm>
#include <filesystem>
#include <strings.h>

namespace fs = std::filesystem;

namespace cli {

namespace {

bool SameText(const std::string& a, const std::string& b) { return strcasecmp(a.c_str(), b.c_str()) == 0; }

PluginEntry EntryOf(BasePlugin& loaded, const std::string& path)
{
    const PluginKind kind = KindOf(loaded);
    PluginEntry plugin;
    plugin.name = kind.name;
    plugin.path = path;
    plugin.description = loaded.Description() != nullptr ? loaded.Description() : "";
    plugin.flags = kind.flags;
    plugin.extension = kind.extension;
    return plugin;
}

} // namespace

std::string PluginsFolder() { return OwnFilePath("plugins", OwnFileKind::Library) + "/"; }

PluginEntry ReadPlugin(const std::string& path)
{
    std::error_code error;
    const std::string absolute = fs::absolute(path, error).string();
    PluginEntry plugin;
    plugin.name = fs::path(path).stem().string();
    plugin.path = error ? path : absolute;
    if (error) {
        plugin.error = error.message();
        return plugin;
    }
    std::unique_ptr<StoragePlugin> loaded = LoadPlugin(plugin.path.c_str(), &HostInfo(), PluginTypeStorage);
    if (loaded == nullptr) {
        plugin.error = ErrorText(kCurrentError);
        return plugin;
    }
    return EntryOf(*loaded, plugin.path);
}

std::vector<PluginEntry> ScanPlugins(const std::string& folder)
{
    // The window's registry reads the folder; the libraries are freed again
    // when it goes, so that each command loads its storage's plugin afresh.
    PluginsArray registry;
    std::vector<PluginsArray::Refused> refused;
    registry.RegisterFolder(folder, &refused);
    std::vector<PluginEntry> found;
    for (int i = 0; i < registry.Count(); ++i) {
        BasePlugin& loaded = *registry.Plugin(i);
        if (loaded.Type() != PluginTypeStorage)
            continue;
        // The path as the folder gives it; the registry keeps it relative to
        // the program.
        std::error_code error;
        const fs::path path = fs::path(folder) / fs::path(loaded.LibraryPath()).filename();
        const fs::path absolute = fs::absolute(path, error);
        found.push_back(EntryOf(loaded, (error ? path : absolute).lexically_normal().string()));
    }
    for (const PluginsArray::Refused& library : refused) {
        PluginEntry plugin;
        plugin.name = fs::path(library.path).stem().string();
        plugin.path = library.path;
        plugin.error = library.reason;
        found.push_back(plugin);
    }
    std::sort(found.begin(), found.end(), [](const PluginEntry& a, const PluginEntry& b) { return a.name < b.name; });
    return found;
}

std::string FlagsText(uint32_t flags)
{
    std::string text = (flags & UsesDirectory) ? "Uses dir" : "Uses file";
    text += (flags & SupportsWrite) ? ", ReadWrite" : ", RdOnly";
    if (flags & SupportsList)
        text += ", List";
    return text;
}

std::string PathPart(const std::string& storage) { return StoragePathPart(storage); }

const PluginEntry* ChoosePlugin(const std::vector<PluginEntry>& plugins, const std::string& storage,
                                const std::string& named, std::string* error)
{
    if (!named.empty()) {
        for (const PluginEntry& plugin : plugins) {
            std::error_code ignored;
            if (SameText(plugin.name, named) || plugin.path == named ||
                (named.find('/') != std::string::npos && fs::equivalent(plugin.path, named, ignored))) {
                if (!plugin.Usable()) {
                    *error = "the plugin " + plugin.name + " cannot be used: " + plugin.error;
                    return nullptr;
                }
                return &plugin;
            }
        }
        *error = "no plugin named " + named + " in " + PluginsFolder() + " (see: ulmora-cli plugins)";
        return nullptr;
    }
    std::vector<const PluginEntry*> usable;
    std::vector<PluginKind> kinds;
    for (const PluginEntry& plugin : plugins) {
        if (plugin.Usable()) {
            usable.push_back(&plugin);
            kinds.push_back({plugin.name, plugin.flags, plugin.extension});
        }
    }
    const PathChoice choice = ChoosePluginForPath(kinds, storage);
    if (choice.chosen >= 0)
        return usable[static_cast<std::size_t>(choice.chosen)];
    if (!choice.fits.empty()) {
        std::string names;
        for (int index : choice.fits)
            names += (names.empty() ? "" : ", ") + usable[static_cast<std::size_t>(index)]->name;
        *error = "several plugins can open " + storage + " (" + names + "): name one with --plugin";
    } else if (!choice.scheme.empty()) {
        *error = "no plugin in " + PluginsFolder() + " opens " + choice.scheme + ":// paths: name one with --plugin";
    } else if (choice.folder) {
        *error = "no plugin in " + PluginsFolder() + " opens folders: name one with --plugin";
    } else if (choice.extension.empty()) {
        *error = "cannot tell the storage type of " + storage + ": name a plugin with --plugin";
    } else {
        *error = "no plugin in " + PluginsFolder() + " opens ." + choice.extension + " files: name one with --plugin";
    }
    return nullptr;
}

} // namespace cli
