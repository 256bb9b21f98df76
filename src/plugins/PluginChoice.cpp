#include "plugins/PluginChoice.h"

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
