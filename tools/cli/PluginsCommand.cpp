#include "Commands.h"

#include "Cli.h"
#include "Context.h"
#include "Json.h"

#include "plugins/Plugin.h"

#include <cstdio>

namespace cli {

int ListPlugins(Context& context)
{
    const std::vector<PluginEntry>& plugins = context.Plugins();
    if (context.options.json) {
        for (const PluginEntry& plugin : plugins) {
            std::printf("{\"name\":%s,\"path\":%s,\"usable\":%s,\"uses_directory\":%s,\"supports_write\":%s,"
                        "\"supports_list\":%s,\"extension\":%s,\"description\":%s,\"error\":%s}\n",
                        JsonString(plugin.name).c_str(), JsonString(plugin.path).c_str(), plugin.Usable() ? "true" : "false",
                        plugin.flags & UsesDirectory ? "true" : "false", plugin.flags & SupportsWrite ? "true" : "false",
                        plugin.flags & SupportsList ? "true" : "false", JsonString(plugin.extension).c_str(),
                        JsonString(plugin.description).c_str(), JsonString(plugin.error).c_str());
        }
        return kExitDone;
    }
    if (plugins.empty()) {
        std::printf("no plugins in %s\n", PluginsFolder().c_str());
        return kExitDone;
    }
    std::printf("%-12s %-30s %-9s %s\n", "name", "flags", "extension", "description");
    for (const PluginEntry& plugin : plugins) {
        if (plugin.Usable())
            std::printf("%-12s %-30s %-9s %s\n", plugin.name.c_str(), FlagsText(plugin.flags).c_str(),
                        plugin.flags & UsesDirectory ? "(folder)" : plugin.extension.c_str(), plugin.description.c_str());
        else
            std::printf("%-12s refused: %s\n", plugin.name.c_str(), OneLine(plugin.error).c_str());
    }
    std::printf("(in %s)\n", PluginsFolder().c_str());
    return kExitDone;
}

} // namespace cli
