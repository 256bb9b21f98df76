#pragma once
// The storage plugins of the program's plugins folder, and the choice of
// one for a storage path: by what the path is (a folder, a file extension)
// or by the name the user gives.

#include <cstdint>
#include <string>
#include <vector>

namespace cli {

struct PluginEntry {
    std::string name;        // the library's file name without ".so"
    std::string path;        // absolute
    std::string description; // empty when refused
    uint32_t flags = 0;
    std::string extension;   // default storage file extension, without the dot
    std::string error;       // why the library is no usable storage plugin
    bool Usable() const { return error.empty(); }
};

// One library's record; `error` set when it is no usable storage plugin.
PluginEntry ReadPlugin(const std::string& path);

// Every library of `folder`, in name order, each loaded once to read its
// record and unloaded again.
std::vector<PluginEntry> ScanPlugins(const std::string& folder);

// The program's plugins folder: "plugins/" beside the program, or the
// installed one (base/ProgramFiles.h).
std::string PluginsFolder();

// The flags as the plugins editor shows them: "Uses dir"/"Uses file",
// "ReadWrite"/"RdOnly", "List".
std::string FlagsText(uint32_t flags);

// The storage path without the options a plugin reads after '?', when the
// part before it names something that exists or the option looks like one.
std::string PathPart(const std::string& storage);

// Picks the plugin for `storage`: `named` (a name of the list or a library
// path) when given, else the folder plugin for a folder (or a path without
// an extension that does not exist yet), else the plugin whose extension the
// file has. Null with `error` set when none or several fit.
const PluginEntry* ChoosePlugin(const std::vector<PluginEntry>& plugins, const std::string& storage,
                                const std::string& named, std::string* error);

} // namespace cli
