#pragma once
// A configuration that starts the main window with one plugin registered and
// chosen, and the command line that places its files in a test's folder.

#include "TempFolder.h"
#include "config/ConfigItem.h"
#include "config/TreeConfig.h"

#include <stdexcept>
#include <string>
#include <vector>

// Writes <folder>/u.hcfg and returns the command line that uses it (the log
// goes to <folder>/u.log).
inline std::vector<std::string> StartConfig(const TempFolder& folder, const std::string& plugin,
                                            const std::string& storage = "")
{
    const std::string config = folder.File("u.hcfg");
    TreeConfig tree;
    ConfigItem* ide = tree.Root()->Item("IDE");
    ide->WriteInt("Plugins/Count", 1);
    ide->WriteString("Plugins/Item0", plugin);
    ide->WriteInt("LastUsedPlugin", 0);
    ide->WriteString("LastUsedData", storage);
    if (!tree.Save(config))
        throw std::runtime_error("cannot write " + config);
    return {"ulmora", "-CFG=" + config, "-LOG=" + folder.File("u.log")};
}
