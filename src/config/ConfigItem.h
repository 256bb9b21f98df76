#pragma once
// One item of the configuration tree, as the rest of the program sees it.
//
// Items are addressed by paths relative to the item asked: names separated
// by '/' or '\'; repeated separators count as one, and an empty path (or one
// that begins with a separator) means the item itself. Sibling names need not
// be unique; the first match in list order wins.
//
// Reads never fail: a read of a missing key creates it with the default and
// returns the default. A read of another type converts the value without
// changing the item, except text and binary reads, which replace a value of
// another type by their default. Writes return the value as now stored.

#include <cstdint>
#include <string>
#include <string_view>

// Value type codes, the same in memory and in the file.
enum ValueType : int {
    TypeNone = 0,   // no value (items made as path segments)
    TypeByte = 1,   // 8-bit unsigned
    TypeChar = 2,   // 8-bit signed
    TypeShort = 3,  // 16-bit signed
    TypeWord = 4,   // 16-bit, read only (no write makes it); taken as unsigned
    TypeLong = 5,   // 32-bit
    TypeInt = 6,    // 32-bit; also booleans (0 or 1)
    TypeFloat = 7,  // IEEE 754 single
    TypeDouble = 8, // IEEE 754 double
    TypeData = 9,   // binary data; also 64-bit integers (8 bytes)
    TypeString = 10 // text with its terminating zero byte
};
inline constexpr int kLastValueType = TypeString;

class ConfigItem {
public:
    virtual ~ConfigItem() = default;

    // Walks the path, creating each missing segment as an item without a
    // value. Null when an item cannot be made (a name longer than 65535 bytes).
    virtual ConfigItem* CreateItem(std::string_view path) = 0;
    // Walks the path without creating anything.
    virtual ConfigItem* FindItem(std::string_view path) = 0;
    // Removes `item` (this item when null) from its parent and destroys it
    // with its subtree. The root and items of another tree are left alone.
    // The item must not be used afterwards.
    virtual void Delete(ConfigItem* item = nullptr) = 0;
    // Destroys all children.
    virtual void Clear() = 0;
    virtual int Count() const = 0;
    // Position among the parent's children; 0 for the root.
    virtual int Index() const = 0;
    // Null when the index is out of range.
    virtual ConfigItem* Child(int index) const = 0;
    virtual ConfigItem* Parent() const = 0;
    virtual int Type() const = 0;
    virtual const std::string& Name() const = 0;

    virtual std::int32_t ReadLong(std::string_view path, std::int32_t defaultValue) = 0;
    virtual bool ReadBool(std::string_view path, bool defaultValue) = 0;
    virtual std::int64_t ReadInt64(std::string_view path, std::int64_t defaultValue) = 0;
    virtual std::uint8_t ReadByte(std::string_view path, std::uint8_t defaultValue) = 0;
    virtual std::int8_t ReadChar(std::string_view path, std::int8_t defaultValue) = 0;
    virtual std::int16_t ReadShort(std::string_view path, std::int16_t defaultValue) = 0;
    virtual std::int32_t ReadInt(std::string_view path, std::int32_t defaultValue) = 0;
    virtual float ReadFloat(std::string_view path, float defaultValue) = 0;
    virtual double ReadDouble(std::string_view path, double defaultValue) = 0;
    virtual std::uint32_t ReadLong(std::string_view path, std::uint32_t defaultValue) = 0;
    virtual std::string ReadString(std::string_view path, std::string_view defaultValue) = 0;

    virtual std::int32_t WriteLong(std::string_view path, std::int32_t value) = 0;
    virtual bool WriteBool(std::string_view path, bool value) = 0;
    virtual std::int64_t WriteInt64(std::string_view path, std::int64_t value) = 0;
    virtual std::uint8_t WriteByte(std::string_view path, std::uint8_t value) = 0;
    virtual std::int8_t WriteChar(std::string_view path, std::int8_t value) = 0;
    virtual std::int16_t WriteShort(std::string_view path, std::int16_t value) = 0;
    virtual std::int32_t WriteInt(std::string_view path, std::int32_t value) = 0;
    virtual float WriteFloat(std::string_view path, float value) = 0;
    virtual double WriteDouble(std::string_view path, double value) = 0;
    virtual std::uint32_t WriteLong(std::string_view path, std::uint32_t value) = 0;
    virtual std::string WriteString(std::string_view path, std::string_view value) = 0;

    // Copies min(stored length, size) bytes into `buffer` and returns it. A
    // missing key or one of another type gets the `size` bytes of
    // `defaultData` (none when null) first. When the item cannot be made,
    // returns `defaultData` and leaves `buffer` alone.
    virtual const void* ReadData(std::string_view path, void* buffer, const void* defaultData,
                                 std::uint32_t size) = 0;
    // Returns the stored copy, valid until the item changes; `data` when the
    // item cannot be made or the value cannot be stored.
    virtual const void* WriteData(std::string_view path, const void* data, std::uint32_t size) = 0;

    // FindItem, else CreateItem.
    virtual ConfigItem* Item(std::string_view path) = 0;
};
