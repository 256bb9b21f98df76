#include "Plugins.h"

#include "base/Paths.h"
#include "log/Errors.h"
#include "plugins/Plugin.h"
#include "plugins/Registry.h"

#include <algorithm>
#include <filesystem>
#include <strings.h>

namespace fs = std::filesystem;

namespace cli {

namespace {

bool SameText(const std::string& a, const std::string& b) { return strcasecmp(a.c_str(), b.c_str()) == 0; }

std::string ExtensionOf(const std::string& path)
{
    const std::string last(LastComponent(path));
    const std::size_t dot = last.rfind('.');
    return dot == std::string::npos || dot == 0 ? std::string() : last.substr(dot + 1);
}

} // namespace

std::string PluginsFolder() { return JoinToProgramFolder("plugins/"); }

PluginEntry ReadPlugin(const std::string& path)
{
    PluginEntry plugin;
    plugin.name = fs::path(path).stem().string();
    std::error_code error;
    plugin.path = fs::absolute(path, error).string();
    if (error) {
        plugin.path = path;
        plugin.error = error.message();
        return plugin;
    }
    std::unique_ptr<StoragePlugin> loaded = LoadPlugin(plugin.path.c_str(), &HostInfo(), PluginTypeStorage);
    if (loaded == nullptr) {
        plugin.error = ErrorText(kCurrentError);
        return plugin;
    }
    plugin.description = loaded->Description() != nullptr ? loaded->Description() : "";
    plugin.flags = loaded->Flags();
    if (StorageAction* action = loaded->CreateAction()) {
        plugin.extension = action->Extension();
        loaded->FreeAction(action);
    }
    return plugin;
}

std::vector<PluginEntry> ScanPlugins(const std::string& folder)
{
    std::vector<PluginEntry> found;
    std::error_code error;
    for (fs::directory_iterator entry(folder, error), end; !error && entry != end; entry.increment(error))
        if (entry->path().extension() == ".so")
            found.push_back(ReadPlugin(entry->path().string()));
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

std::string PathPart(const std::string& storage)
{
    std::error_code error;
    if (fs::exists(storage, error))
        return storage;
    const std::size_t mark = storage.rfind('?');
    if (mark == std::string::npos || storage.find('=', mark) == std::string::npos)
        return storage;
    return storage.substr(0, mark);
}

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
    const std::string path = PathPart(storage);
    std::error_code ignored;
    const bool isFolder = fs::is_directory(path, ignored);
    const std::string extension = ExtensionOf(path);
    const bool wantsFolder = isFolder || (!fs::exists(path, ignored) && extension.empty());
    std::vector<const PluginEntry*> fit;
    for (const PluginEntry& plugin : plugins) {
        if (!plugin.Usable())
            continue;
        const bool usesFolder = (plugin.flags & UsesDirectory) != 0;
        if (wantsFolder ? usesFolder : (!usesFolder && SameText(plugin.extension, extension)))
            fit.push_back(&plugin);
    }
    if (fit.size() == 1)
        return fit.front();
    if (fit.size() > 1) {
        // Several fit: the shipped plugin of that kind is the usual answer.
        const std::string usual = wantsFolder ? "folder" : extension;
        for (const PluginEntry* plugin : fit)
            if (SameText(plugin->name, usual))
                return plugin;
        std::string names;
        for (const PluginEntry* plugin : fit)
            names += (names.empty() ? "" : ", ") + plugin->name;
        *error = "several plugins can open " + storage + " (" + names + "): name one with --plugin";
        return nullptr;
    }
    if (wantsFolder)
        *error = "no plugin in " + PluginsFolder() + " opens folders: name one with --plugin";
    else if (extension.empty())
        *error = "cannot tell the storage type of " + storage + ": name a plugin with --plugin";
    else
        *error = "no plugin in " + PluginsFolder() + " opens ." + extension + " files: name one with --plugin";
    return nullptr;
}

} // namespace cli
