#include "config/StorageLink.h"

StorageLink::~StorageLink() { SetStorage(nullptr); }

void StorageLink::AssignFrom(const StorageLink& other)
{
    if (&other == this)
        return;
    keyPath_ = other.keyPath_;
    SetStorage(other.storage_);
}

void StorageLink::SetStorage(CfgStorage* storage)
{
    if (storage == storage_)
        return;
    if (storage_ != nullptr)
        storage_->RemoveLink(this);
    storage_ = storage;
    if (storage_ != nullptr)
        storage_->AddLink(this);
}

void StorageLink::StorageRemoved() { SetStorage(nullptr); }

ConfigItem* StorageLink::LinkItem() const
{
    return storage_ != nullptr ? storage_->Root()->Item(keyPath_) : nullptr;
}

ConfigItem* StorageLink::Item(std::string_view key)
{
    ConfigItem* item = LinkItem();
    return item != nullptr ? item->Item(key) : nullptr;
}

std::int32_t StorageLink::ReadInt(std::string_view key, std::int32_t defaultValue)
{
    ConfigItem* item = LinkItem();
    return item != nullptr ? item->ReadInt(key, defaultValue) : defaultValue;
}

bool StorageLink::ReadBool(std::string_view key, bool defaultValue)
{
    ConfigItem* item = LinkItem();
    return item != nullptr ? item->ReadBool(key, defaultValue) : defaultValue;
}

std::string StorageLink::ReadString(std::string_view key, std::string_view defaultValue)
{
    ConfigItem* item = LinkItem();
    return item != nullptr ? item->ReadString(key, defaultValue) : std::string(defaultValue);
}

std::int32_t StorageLink::WriteInt(std::string_view key, std::int32_t value)
{
    ConfigItem* item = LinkItem();
    return item != nullptr ? item->WriteInt(key, value) : value;
}

bool StorageLink::WriteBool(std::string_view key, bool value)
{
    ConfigItem* item = LinkItem();
    return item != nullptr ? item->WriteBool(key, value) : value;
}

std::string StorageLink::WriteString(std::string_view key, std::string_view value)
{
    ConfigItem* item = LinkItem();
    return item != nullptr ? item->WriteString(key, value) : std::string(value);
}
