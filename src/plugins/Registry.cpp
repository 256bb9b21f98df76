#include "plugins/Registry.h"

#include "base/Paths.h"
#include "base/Text.h"
#include "base/Translate.h"
#include "config/ConfigItem.h"
#include "log/Boxes.h"
#include "log/Errors.h"
#include "log/LastErrorKeeper.h"
#include "log/Log.h"
#include "platform/FileInfo.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace {

// Absolute paths are kept relative to the program folder where possible, so
// that the program and its plugins can move together. Never cut: a cut path
// names another file.
std::string StoredForm(std::string text)
{
    if (IsAbsolutePath(text))
        text = MakeRelativeToProgramFolder(text);
    return text;
}

constexpr const char* kPluginCountKey = "Plugins/Count";

} // namespace

PluginHostInfo& HostInfo()
{
    static PluginHostInfo host{};
    return host;
}

void FillHostInfo() { HostInfo() = PluginHostInfo{ULMORA_PLUGIN_MAGIC, sizeof(PluginHostInfo), ULMORA_PLUGIN_HOST_VALUE, 0}; }

// ---- PluginsArray ----------------------------------------------------------

BasePlugin* PluginsArray::FindPlugin(const char* path, int type) const
{
    const std::string wanted = StoredForm(path != nullptr ? path : "");
    for (const auto& plugin : plugins_) {
        if (CompareTexts(plugin->LibraryPath().c_str(), wanted.c_str(), -1, false) != 0)
            continue;
        return type == kAnyPluginType || type == plugin->Type() ? plugin.get() : nullptr;
    }
    return nullptr;
}

BasePlugin* PluginsArray::AddPlugin(const char* path)
{
    if (FindPlugin(path, kAnyPluginType) != nullptr) {
        ErrorBox(nullptr, Translate("Plugin library \"%s\" already used.\nSingle library cannot be used multiple times."),
                 path);
        return nullptr;
    }
    std::unique_ptr<StoragePlugin> plugin = LoadPlugin(path, host_, kAnyPluginType);
    if (plugin == nullptr) {
        const std::string why = ErrorText(kCurrentError);
        ErrorBox(nullptr, Translate("Error loading plugin libray [%s]\nError: %s"), path, why.c_str());
        return nullptr;
    }
    plugins_.push_back(std::move(plugin));
    NotifyListeners();
    return plugins_.back().get();
}

void PluginsArray::RemovePlugin(BasePlugin* plugin)
{
    auto found = std::find_if(plugins_.begin(), plugins_.end(),
                              [plugin](const auto& owned) { return owned.get() == plugin; });
    if (found == plugins_.end())
        return;
    // Out of the list first, so that nobody finds it while it unloads.
    std::unique_ptr<BasePlugin> owned = std::move(*found);
    plugins_.erase(found);
}

void PluginsArray::NotifyListeners()
{
    // A copy: a listener may remove itself while being called.
    const std::vector<Listener> listeners = listeners_;
    for (const Listener& listener : listeners)
        listener(-1);
}

void PluginsArray::AddListener(Listener listener) { listeners_.push_back(listener); }

void PluginsArray::RemoveListener(Listener listener)
{
    auto found = std::find(listeners_.begin(), listeners_.end(), listener);
    if (found != listeners_.end())
        listeners_.erase(found);
}

bool PluginsArray::HasPluginList(ConfigItem& config) { return config.FindItem(kPluginCountKey) != nullptr; }

int PluginsArray::RegisterFolder(const std::string& folder, std::vector<Refused>* refused)
{
    namespace fs = std::filesystem;
    std::vector<std::string> libraries;
    std::error_code error;
    for (fs::directory_iterator entry(folder, error), end; !error && entry != end; entry.increment(error))
        if (entry->path().extension() == ".so" && entry->is_regular_file(error))
            libraries.push_back(entry->path().string());
    std::sort(libraries.begin(), libraries.end());
    int added = 0;
    for (const std::string& path : libraries) {
        if (FindPlugin(path.c_str(), kAnyPluginType) != nullptr)
            continue;
        std::unique_ptr<StoragePlugin> plugin = LoadPlugin(path.c_str(), host_, kAnyPluginType);
        if (plugin == nullptr) {
            const std::string why = ErrorText(kCurrentError);
            Log(Translate("Error loading plugin libray [%s]\nError: %s"), path.c_str(), why.c_str());
            if (refused != nullptr)
                refused->push_back({path, why});
            continue;
        }
        plugins_.push_back(std::move(plugin));
        ++added;
    }
    if (added > 0)
        NotifyListeners();
    return added;
}

void PluginsArray::LoadPluginList(ConfigItem& config)
{
    const int count = config.ReadInt(kPluginCountKey, 0);
    for (int i = 0; i < count; ++i) {
        const std::string path = config.ReadString(Format("Plugins/Item%d", i), "");
        if (!path.empty())
            AddPlugin(path.c_str());
    }
}

void PluginsArray::SavePluginList(ConfigItem& config) const
{
    config.WriteInt(kPluginCountKey, Count());
    for (int i = 0; i < Count(); ++i)
        config.WriteString(Format("Plugins/Item%d", i), Plugin(i)->LibraryPath());
}

void PluginsArray::Clear()
{
    while (!plugins_.empty()) {
        std::unique_ptr<BasePlugin> first = std::move(plugins_.front());
        plugins_.erase(plugins_.begin());
    }
}

// ---- StorageItem -----------------------------------------------------------

void StorageItem::Open()
{
    Close();
    if (!Defined()) {
        SetErrorText("%s", Translate("Library name of work file is not set"));
        return;
    }
    BasePlugin* plugin = plugins_->FindPlugin(libraryName.c_str(), PluginTypeStorage);
    if (plugin == nullptr) {
        SetErrorText("%s", Translate("Storage plugin with given name is not found"));
        return;
    }
    plugin_ = plugin;
    plugin->SetDestroyNotification(BasePlugin::DestroyNotification::Bind<&StorageItem::PluginGone>(this));

    action_ = plugin->CreateAction();
    if (action_ == nullptr) {
        LastErrorKeeper keep;
        Close();
        return;
    }
    // The stored path is checked, before Open adds an extension; a folder
    // storage need not exist beforehand.
    const std::string fullPath = JoinToProgramFolder(storagePath);
    if (!plugin->HasFlag(UsesDirectory) && !platform::PathExists(fullPath)) {
        Log(Translate("Specified storage file \"%s\" cannot be found"), storagePath.c_str());
        Close();
        return;
    }
    if (!action_->Open(fullPath.c_str())) {
        LastErrorKeeper keep;
        Close();
        return;
    }
    action_->SetDestroyNotification(PluginAction::DestroyNotification::Bind<&StorageItem::ActionGone>(this));
    enabled_ = true;
}

void StorageItem::Close()
{
    if (StorageAction* action = std::exchange(action_, nullptr)) {
        action->Close();
        action->SetDestroyNotification({});
        if (plugin_ != nullptr)
            plugin_->FreeAction(action);
    }
    if (plugin_ != nullptr)
        plugin_->SetDestroyNotification({});
    plugin_ = nullptr;
    enabled_ = false;
}

// ---- StorageArray ----------------------------------------------------------

StorageItem* StorageArray::Add()
{
    items_.push_back(std::make_unique<StorageItem>(plugins_));
    return items_.back().get();
}

void StorageArray::LoadStorages(ConfigItem& config)
{
    ConfigItem* group = config.Item("Storages");
    if (group == nullptr)
        return;
    const int count = group->ReadInt("Count", 0);
    for (int i = 0; i < count; ++i) {
        StorageItem* item = Add();
        ConfigItem* entry = group->Item(Format("Item%d", i));
        if (entry == nullptr)
            continue;
        item->libraryName = StoredForm(entry->ReadString("LibName", ""));
        item->storagePath = StoredForm(entry->ReadString("UsedPathName", ""));
        if (entry->ReadBool("Enabled", false))
            item->Open();
    }
}

void StorageArray::SaveStorages(ConfigItem& config) const
{
    ConfigItem* group = config.Item("Storages");
    if (group == nullptr)
        return;
    group->WriteInt("Count", Count());
    for (int i = 0; i < Count(); ++i) {
        ConfigItem* entry = group->Item(Format("Item%d", i));
        if (entry == nullptr)
            continue;
        const StorageItem* item = Item(i);
        entry->WriteString("LibName", item->libraryName);
        entry->WriteString("UsedPathName", item->storagePath);
        entry->WriteBool("Enabled", item->Enabled());
    }
}

void StorageArray::Clear()
{
    while (!items_.empty()) {
        std::unique_ptr<StorageItem> first = std::move(items_.front());
        items_.erase(items_.begin());
    }
}
