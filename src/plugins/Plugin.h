#pragma once
// The program's side of the storage plugin contract: one loaded plugin library
// (BasePlugin / StoragePlugin) and one connection through it to a storage
// (PluginAction / StorageAction). Failures return false, null or 2 and leave
// the reason as the thread's last error (log/Errors.h).

#include "base/Command.h"
#include "base/Delegate.h"
#include "platform/Library.h"
#include "ulmora_plugin.h"

#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

class PluginAction;
class StorageAction;

// The plugin type argument of LoadPlugin and FindPlugin that accepts any type.
inline constexpr int kAnyPluginType = -1;

// "Storage" for the storage type, "<Unknown>" for any other (translated).
const char* PluginTypeName(int type);

class BasePlugin {
public:
    using DestroyNotification = Delegate<void(BasePlugin*)>;

    // Notifies, frees the actions newest first, calls Shutdown, frees the library.
    virtual ~BasePlugin();
    BasePlugin(const BasePlugin&) = delete;
    BasePlugin& operator=(const BasePlugin&) = delete;

    // A new, closed action appended to this plugin's list; null with the
    // last error set when the plugin refuses or hands back a bad object.
    StorageAction* CreateAction();
    // Removes, closes and destroys the action, then hands its object back to
    // the plugin. An action of another plugin is ignored.
    void FreeAction(PluginAction* action);

    int Type() const { return static_cast<int>(info_.type); }
    uint32_t Flags() const { return info_.flags; }
    bool HasFlag(uint32_t flag) const { return (info_.flags & flag) != 0; }
    const char* Description() const { return info_.description; }
    // The path as the loader received it: relative to the program folder when
    // it lies below it, whole.
    const std::string& LibraryPath() const { return libraryPath_; }
    bool IsLoaded() const { return module_ != nullptr; }
    // The "ulmora.metadata/1" table the plugin answered at load time; null
    // for a plugin without it (every plugin written before extensions were).
    const MetadataExtension* Metadata() const { return metadata_; }
    void SetMetadata(const MetadataExtension* table) { metadata_ = table; }
    // The "ulmora.container/1" table the plugin answered at load time; null
    // for a plugin without it (folders, plugins written before it).
    const ContainerExtension* Container() const { return container_; }
    void SetContainer(const ContainerExtension* table) { container_ = table; }
    // The "ulmora.platestream/1" table the plugin answered at load time;
    // null for a plugin without it.
    const PlateStreamExtension* PlateStream() const { return plateStream_; }
    void SetPlateStream(const PlateStreamExtension* table) { plateStream_ = table; }
    // The "ulmora.part/1" table the plugin answered at load time; null for a
    // plugin that lists only the whole storage.
    const PartExtension* Part() const { return part_; }
    void SetPart(const PartExtension* table) { part_ = table; }
    std::size_t ActionCount() const { return actions_.size(); }

    // Replaces the previous notification; an empty one clears it.
    void SetDestroyNotification(DestroyNotification notification) { onDestroy_ = notification; }

    // True once a call into the plugin faulted and the user ignored the
    // fault. The plugin's state is unknown then: it is not called again, and
    // destroying it frees only the program's side (its library stays loaded).
    bool Faulted() const { return faulted_; }

    // Every call into the plugin goes through here (see CallForeign): a fault
    // in it that the user ignores marks the plugin faulted, logs it and
    // throws CommandAbandoned. `where` names the plugin's function.
    template <typename F>
    void Call(const char* where, F&& call)
    {
        try {
            CallForeign(where, std::forward<F>(call));
        } catch (const CommandAbandoned&) {
            MarkFaulted(where);
            throw;
        }
    }
    // The same for the calls that release (closing, freeing, shutting down):
    // they run from destructors too, so an ignored fault there ends only that
    // call.
    template <typename F>
    void CallToRelease(const char* where, F&& call) noexcept
    {
        if (faulted_)
            return;
        try {
            Call(where, std::forward<F>(call));
        } catch (const CommandAbandoned&) {
        }
    }

protected:
    BasePlugin(platform::LibraryHandle module, const PluginInfo& info, std::string libraryPath);

private:
    // Hands an action object back to the plugin.
    void ReleaseObject(ActionInterface* object);
    void MarkFaulted(const char* where) noexcept;

    platform::LibraryHandle module_;
    PluginInfo info_;
    const MetadataExtension* metadata_ = nullptr;
    const ContainerExtension* container_ = nullptr;
    const PlateStreamExtension* plateStream_ = nullptr;
    const PartExtension* part_ = nullptr;
    std::string libraryPath_;
    std::vector<std::unique_ptr<PluginAction>> actions_;
    DestroyNotification onDestroy_;
    bool faulted_ = false;
};

class StoragePlugin : public BasePlugin {
public:
    StoragePlugin(platform::LibraryHandle module, const PluginInfo& info, std::string libraryPath)
        : BasePlugin(module, info, std::move(libraryPath))
    {
    }
};

// Loads and checks a plugin library. `type` is the plugin type required, or
// kAnyPluginType. An absolute path below the program folder is kept relative
// to it; a relative path is taken relative to the program folder.
std::unique_ptr<StoragePlugin> LoadPlugin(const char* path, const PluginHostInfo* host, int type);

class PluginAction {
public:
    using DestroyNotification = Delegate<void(PluginAction*)>;

    virtual ~PluginAction();
    PluginAction(const PluginAction&) = delete;
    PluginAction& operator=(const PluginAction&) = delete;

    ActionInterface* Interface() const { return interface_; }
    BasePlugin* Plugin() const { return plugin_; }
    void SetDestroyNotification(DestroyNotification notification) { onDestroy_ = notification; }

protected:
    PluginAction(ActionInterface* object, BasePlugin* plugin) : interface_(object), plugin_(plugin) {}

private:
    ActionInterface* interface_;
    BasePlugin* plugin_;
    DestroyNotification onDestroy_;
};

class StorageAction : public PluginAction {
public:
    // Called once per plate during Enumerate with (action, number, name,
    // reserved, size); answers true to go on, false to stop.
    using PlateHandler = Delegate<bool(StorageAction*, int32_t, const char*, uint32_t, uint32_t)>;

    StorageAction(ActionInterface* object, BasePlugin* plugin) : PluginAction(object, plugin) {}
    ~StorageAction() override;

    // Closes first when open. A null path only closes and answers true. A file
    // storage's name without an extension gets the plugin's default one.
    bool Open(const char* path);
    void Close() { Open(nullptr); }

    // 0 Done, 1 Empty, 2 failure (reason in the last error). A block handed
    // out stays the plugin's and is valid until the next call on this action.
    uint32_t GetPlateData(const char* name, const void** data, uint32_t* size);
    uint32_t Write(const char* name, const void* data, uint32_t size, uint32_t mode);
    // 0, 1, 2 failure, or 3 Aborted when the handler answered false.
    uint32_t Enumerate(uint32_t value1, PlateHandler handler, uint32_t value2);
    // The plates of levels `minLevel` to `maxLevel` inside the quadtree area
    // `area` ("" for all), through the plugin's part extension: the results
    // of Enumerate (2 also for a plugin without the extension).
    bool CanListPart() const { return Plugin()->Part() != nullptr; }
    uint32_t EnumeratePart(const char* area, uint32_t minLevel, uint32_t maxLevel, PlateHandler handler);

    // The storage's metadata, through the plugin's metadata extension.
    using MetadataEntries = std::vector<std::pair<std::string, std::string>>;
    bool HasMetadata() const { return Plugin()->Metadata() != nullptr; }
    bool CanWriteMetadata() const { return HasMetadata() && Plugin()->Metadata()->WriteMetadata != nullptr; }
    // Every key and value, in the plugin's order: 0 Done, 1 Empty (none), 2
    // failure (reason in the last error; also for a plugin without the
    // extension).
    uint32_t ReadMetadata(MetadataEntries* entries);
    // Sets `key`, or deletes it when `value` is null: 0 Done, 1 Empty (a
    // deleted key was not there), 2 failure.
    uint32_t WriteMetadata(const char* key, const char* value);

    // The storage's container, through the plugin's container extension.
    // The progress handler gets (done, total; total 0: not known) and
    // answers false to stop the work.
    using ContainerProgress = std::function<bool(uint32_t done, uint32_t total)>;
    bool HasContainer() const { return Plugin()->Container() != nullptr; }
    bool CanReclaimSpace() const { return HasContainer() && Plugin()->Container()->ReclaimSpace != nullptr; }
    // Checks the container; `findings` receives every problem found (none:
    // sound). 0 Done (the check ran), 2 failure (reason in the last error;
    // also for a plugin without the extension), 3 Aborted.
    uint32_t CheckContainer(std::vector<std::string>* findings, const ContainerProgress& progress);
    // The container's size and its free part: 0 Done or 2 failure.
    uint32_t MeasureSpace(uint64_t* fileBytes, uint64_t* freeBytes);
    // Gives the free part back: 0 Done, 2 failure, 3 Aborted (nothing changed).
    uint32_t ReclaimSpace(const ContainerProgress& progress, uint64_t* before, uint64_t* after);

    // Every plate with its data in one pass, through the plugin's plate
    // stream extension: the handler gets (number, name, data, size; data
    // null for a plate without data), valid only during the call, and
    // answers false to stop. 0 Done, 1 Empty, 2 failure (reason in the last
    // error; also for a plugin without the extension), 3 Aborted. Plates the
    // stream left out are the caller's to read through GetPlateData.
    using StreamHandler = std::function<bool(int32_t number, const char* name, const void* data, uint32_t size)>;
    bool HasPlateStream() const { return Plugin()->PlateStream() != nullptr; }
    // The stream leaves no plate out (ULMORA_STREAM_WHOLE): it can list the
    // storage as well as Enumerate.
    bool StreamIsWhole() const
    {
        const PlateStreamExtension* table = Plugin()->PlateStream();
        return table != nullptr && table->size >= offsetof(PlateStreamExtension, flags) + sizeof table->flags &&
               (table->flags & ULMORA_STREAM_WHOLE) != 0;
    }
    uint32_t StreamPlates(const StreamHandler& handler);

    // The plugin's text (GetErrorText) as it stands; after a listing that
    // succeeded, a notice such as rows it left out, else usually empty.
    std::string PluginText() const;

    bool IsOpen() const { return opened_; }
    const std::string& StoragePath() const { return storagePath_; }
    // The default file extension the plugin announced (never null).
    const char* Extension() const;

private:
    static uint32_t ULMORA_CALL OnPlate(void* cookie, int32_t number, const char* name,
                                        uint32_t reserved, uint32_t size);
    // Open and not faulted; else false with the last error set.
    bool Usable() const;
    // Takes the plugin's text of its last failure as the custom error text.
    void FetchErrorText() const;
    uint32_t MapResult(uint32_t result, bool abortedAllowed) const;

    bool opened_ = false;
    std::string storagePath_;
    PlateHandler handler_;
    // An exception of the handler, carried past the plugin's frames (which
    // it must not cross) and thrown again once Enumerate has returned.
    std::exception_ptr handlerException_;
};
