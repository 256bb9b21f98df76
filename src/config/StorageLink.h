#pragma once
// A view of a CfgStorage below one key path. All keys given to a link are
// relative to the item at KeyPath, which is looked up (and created) afresh
// at every call. Without a storage, reads give the default and writes
// change nothing.

#include "config/CfgStorage.h"

#include <cstdint>
#include <string>
#include <string_view>

class StorageLink final : public CfgStorage::Client {
public:
    using Event = CfgStorage::Event;

    StorageLink() = default;
    // Leaves the storage's link list.
    ~StorageLink();
    StorageLink(const StorageLink&) = delete;
    StorageLink& operator=(const StorageLink&) = delete;

    // Takes the other link's key path and storage; the link then joins that
    // storage's list like any link given a storage, so that the storage
    // detaches it when it goes away.
    void AssignFrom(const StorageLink& other);

    CfgStorage* Storage() const { return storage_; }
    // Leaves the old storage's list and joins the end of the new one's (a
    // null storage leaves the link unregistered).
    void SetStorage(CfgStorage* storage);

    const std::string& KeyPath() const { return keyPath_; }
    void SetKeyPath(std::string_view path) { keyPath_ = std::string(path); }

    // The sender of both events is the storage.
    void SetOnLoad(Event event) { onLoad_ = event; }
    void SetOnSave(Event event) { onSave_ = event; }

    std::int32_t ReadInt(std::string_view key, std::int32_t defaultValue);
    bool ReadBool(std::string_view key, bool defaultValue);
    std::string ReadString(std::string_view key, std::string_view defaultValue);
    std::int32_t WriteInt(std::string_view key, std::int32_t value);
    bool WriteBool(std::string_view key, bool value);
    std::string WriteString(std::string_view key, std::string_view value);

    // The item at `key` below the link's item, created if missing; null
    // without a storage.
    ConfigItem* Item(std::string_view key);

private:
    void StorageLoaded(CfgStorage* sender) override
    {
        if (onLoad_)
            onLoad_(sender);
    }
    void StorageSaving(CfgStorage* sender) override
    {
        if (onSave_)
            onSave_(sender);
    }
    void StorageRemoved() override;
    ConfigItem* LinkItem() const;

    CfgStorage* storage_ = nullptr;
    std::string keyPath_;
    Event onSave_;
    Event onLoad_;
};
