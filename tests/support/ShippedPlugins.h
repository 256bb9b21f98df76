#pragma once
// The libraries in a plugins folder, by name: what a first start registers.

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

inline std::vector<std::string> PluginLibraryNames(const std::string& folder)
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        if (entry.path().extension() == ".so")
            names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}
