#pragma once
// The choice of a storage plugin: one entry per storage plugin of the
// registry, in the registry's order, and the entry chosen (or none). The
// main window shows the entries in its plugin list; the entry's text is the
// plugin's library path.

#include "plugins/Registry.h"

#include <string>
#include <vector>

class PluginChoice {
public:
    explicit PluginChoice(const PluginsArray& plugins) : plugins_(plugins) {}

    // Rebuilds the entries from the registry. The plugin that was chosen stays
    // chosen when it is still registered (found by its library path);
    // otherwise nothing is chosen.
    void Fill();

    int Count() const { return static_cast<int>(positions_.size()); }
    // The plugin of an entry, or null for a position outside the entries.
    BasePlugin* PluginAt(int entry) const;

    // -1 when nothing is chosen.
    int Chosen() const { return chosen_; }
    // A position outside the entries chooses nothing.
    void Choose(int entry);
    BasePlugin* Selected() const { return PluginAt(chosen_); }
    // The chosen plugin's library path; empty when nothing is chosen.
    std::string SelectedLibraryPath() const;

private:
    const PluginsArray& plugins_;
    std::vector<int> positions_; // registry positions of the entries
    int chosen_ = -1;
};
