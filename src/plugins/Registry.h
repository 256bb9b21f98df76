#pragma once
// The registry of loaded plugin libraries and the persisted storage
// definitions. The program keeps one of each for the whole run.

#include "base/Delegate.h"
#include "plugins/Plugin.h"

#include <memory>
#include <string>
#include <vector>

class ConfigItem;

// The host record every plugin receives; filled at start-up, at a fixed place.
PluginHostInfo& HostInfo();
void FillHostInfo();

class PluginsArray {
public:
    // Called with -1 after each change of the plugin list.
    using Listener = Delegate<void(int)>;

    explicit PluginsArray(const PluginHostInfo* host = &HostInfo()) : host_(host) {}
    ~PluginsArray() { Clear(); }
    PluginsArray(const PluginsArray&) = delete;
    PluginsArray& operator=(const PluginsArray&) = delete;

    // The first plugin whose library path equals the normalised `path`; none
    // when that plugin is not of `type` (kAnyPluginType accepts any).
    BasePlugin* FindPlugin(const char* path, int type) const;
    // Loads and registers a library; shows its own error boxes.
    BasePlugin* AddPlugin(const char* path);
    // Unregisters and destroys the plugin (its library is freed).
    void RemovePlugin(BasePlugin* plugin);
    void NotifyListeners();
    void AddListener(Listener listener);
    void RemoveListener(Listener listener);

    int Count() const { return static_cast<int>(plugins_.size()); }
    BasePlugin* Plugin(int index) const { return plugins_[static_cast<std::size_t>(index)].get(); }

    // True when the configuration holds a plugin list at all, even an empty one.
    static bool HasPluginList(ConfigItem& config);
    void LoadPluginList(ConfigItem& config);
    // A library of a folder that could not be registered, and why.
    struct Refused {
        std::string path;
        std::string reason;
    };
    // Registers every plugin library ("*.so", a regular file or a link to
    // one) of `folder` that is not registered yet, in name order. A library
    // that does not load is logged and skipped, without a box: nobody asked
    // for it by name; `refused`, when given, receives it. Returns how many
    // were registered.
    int RegisterFolder(const std::string& folder, std::vector<Refused>* refused = nullptr);
    void SavePluginList(ConfigItem& config) const;
    // Destroys all plugins, first to last.
    void Clear();

private:
    const PluginHostInfo* host_;
    std::vector<std::unique_ptr<BasePlugin>> plugins_;
    std::vector<Listener> listeners_;
};

// A persisted storage definition, opened through a registered plugin.
class StorageItem {
public:
    explicit StorageItem(PluginsArray& plugins) : plugins_(&plugins) {}
    ~StorageItem() { Close(); }
    StorageItem(const StorageItem&) = delete;
    StorageItem& operator=(const StorageItem&) = delete;

    // Opens the storage; a failure leaves the item closed with the reason as
    // the last error (a missing storage file is also logged).
    void Open();
    void Close();

    bool Defined() const { return !libraryName.empty() && !storagePath.empty(); }
    bool Enabled() const { return enabled_; }
    BasePlugin* Plugin() const { return plugin_; }
    StorageAction* Action() const { return action_; }

    std::string libraryName; // as MakeRelativeToProgramFolder gives it
    std::string storagePath; // likewise

private:
    void PluginGone(BasePlugin*) { Close(); }
    void ActionGone(PluginAction*) { Close(); }

    PluginsArray* plugins_;
    bool enabled_ = false;
    BasePlugin* plugin_ = nullptr;
    StorageAction* action_ = nullptr;
};

class StorageArray {
public:
    explicit StorageArray(PluginsArray& plugins) : plugins_(plugins) {}
    ~StorageArray() { Clear(); }
    StorageArray(const StorageArray&) = delete;
    StorageArray& operator=(const StorageArray&) = delete;

    int Count() const { return static_cast<int>(items_.size()); }
    StorageItem* Item(int index) const { return items_[static_cast<std::size_t>(index)].get(); }
    StorageItem* Add();

    void LoadStorages(ConfigItem& config);
    void SaveStorages(ConfigItem& config) const;
    // Closes and destroys all items, first to last.
    void Clear();

private:
    PluginsArray& plugins_;
    std::vector<std::unique_ptr<StorageItem>> items_;
};
