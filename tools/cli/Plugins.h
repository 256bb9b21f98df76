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

// Every library of `folder` as the window's registry reads it, in name order,
// each loaded once to read its record and unloaded again; the libraries it
// refuses are listed with the reason.
std::vector<PluginEntry> ScanPlugins(const std::string& folder);

// The program's plugins folder: "plugins/" beside the program, or the
// installed one (base/ProgramFiles.h).
std::string PluginsFolder();

// The flags as the plugins editor shows them: "Uses dir"/"Uses file",
// "ReadWrite"/"RdOnly", "List".
std::string FlagsText(uint32_t flags);

// The storage path without the options a plugin reads after '?'
// (StoragePathPart of the core).
std::string PathPart(const std::string& storage);

// Picks the plugin for `storage`: `named` (a name of the list or a library
// path) when given, else the one the core's choice by path gives (a folder
// plugin for a folder, else the plugin of the file's extension). Null with
// `error` set when none or several fit.
const PluginEntry* ChoosePlugin(const std::vector<PluginEntry>& plugins, const std::string& storage,
                                const std::string& named, std::string* error);

} // namespace cli
