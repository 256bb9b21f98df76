#pragma once
// An item of a TreeConfig: a name, at most one typed value and an ordered
// list of owned children.

#include "config/CfgBlobStore.h"
#include "config/ConfigItem.h"

#include <memory>
#include <span>
#include <vector>


class TreeValue final : public ConfigItem {
public:
    // Names are written with a 16-bit length.
    static constexpr std::size_t kMaxNameLength = 0xFFFF;

    TreeValue(CfgBlobStore* blobs, TreeValue* parent, std::string name);
    ~TreeValue() override;
    TreeValue(const TreeValue&) = delete;
    TreeValue& operator=(const TreeValue&) = delete;

    ConfigItem* CreateItem(std::string_view path) override { return Walk(path, true); }
    ConfigItem* FindItem(std::string_view path) override { return Walk(path, false); }
    void Delete(ConfigItem* item = nullptr) override;
    void Clear() override;
    int Count() const override { return static_cast<int>(children_.size()); }
    int Index() const override;
    ConfigItem* Child(int index) const override;
    ConfigItem* Parent() const override { return parent_; }
    int Type() const override { return type_; }
    const std::string& Name() const override { return name_; }

    std::int32_t ReadLong(std::string_view path, std::int32_t defaultValue) override;
    bool ReadBool(std::string_view path, bool defaultValue) override;
    std::int64_t ReadInt64(std::string_view path, std::int64_t defaultValue) override;
    std::uint8_t ReadByte(std::string_view path, std::uint8_t defaultValue) override;
    std::int8_t ReadChar(std::string_view path, std::int8_t defaultValue) override;
    std::int16_t ReadShort(std::string_view path, std::int16_t defaultValue) override;
    std::int32_t ReadInt(std::string_view path, std::int32_t defaultValue) override;
    float ReadFloat(std::string_view path, float defaultValue) override;
    double ReadDouble(std::string_view path, double defaultValue) override;
    std::uint32_t ReadLong(std::string_view path, std::uint32_t defaultValue) override;
    std::string ReadString(std::string_view path, std::string_view defaultValue) override;

    std::int32_t WriteLong(std::string_view path, std::int32_t value) override;
    bool WriteBool(std::string_view path, bool value) override;
    std::int64_t WriteInt64(std::string_view path, std::int64_t value) override;
    std::uint8_t WriteByte(std::string_view path, std::uint8_t value) override;
    std::int8_t WriteChar(std::string_view path, std::int8_t value) override;
    std::int16_t WriteShort(std::string_view path, std::int16_t value) override;
    std::int32_t WriteInt(std::string_view path, std::int32_t value) override;
    float WriteFloat(std::string_view path, float value) override;
    double WriteDouble(std::string_view path, double value) override;
    std::uint32_t WriteLong(std::string_view path, std::uint32_t value) override;
    std::string WriteString(std::string_view path, std::string_view value) override;

    const void* ReadData(std::string_view path, void* buffer, const void* defaultData,
                         std::uint32_t size) override;
    const void* WriteData(std::string_view path, const void* data, std::uint32_t size) override;

    ConfigItem* Item(std::string_view path) override { return Walk(path, true); }

    // Raw access, for the file format and tools.
    TreeValue* ChildValue(std::size_t index) const { return children_[index].get(); }
    TreeValue* AppendChild(std::string name);
    // The fixed-size value: integers zero- or sign-extended to 32 bits in the
    // low half, a float's bits in the low half, a double's in all 64.
    std::uint64_t FixedBits() const { return bits_; }
    void SetFixed(int type, std::uint64_t bits);
    // The bytes of a text (with its terminating zero) or binary value.
    std::span<const std::uint8_t> BlockBytes() const;
    bool SetBlock(int type, const void* data, std::size_t size);
    // The text of a text value, up to its first zero byte.
    std::string Text() const;

private:
    TreeValue* Walk(std::string_view path, bool create);
    TreeValue* FindChild(std::string_view name) const;

    std::uint32_t IntegerRead(std::string_view path, int type, std::uint32_t defaultBits);
    std::uint32_t AsInteger(int type) const;
    double FloatingRead(std::string_view path, int type, double defaultValue);
    double AsFloating(int type) const;
    std::uint32_t IntegerWrite(std::string_view path, int type, std::uint32_t bits);
    // The item at `path` for a text or binary read: created with the default,
    // or given the default when it holds another type. Null when it cannot be
    // made.
    TreeValue* BlockRead(std::string_view path, int type, const void* defaultData, std::size_t size);
    TreeValue* BlockWrite(std::string_view path, int type, const void* data, std::size_t size);
    void ReleaseBlock();

    std::uint64_t bits_ = 0;
    std::uint8_t type_ = TypeNone;
    CfgBlobStore* blobs_; // the tree's; one per tree
    TreeValue* parent_;
    std::vector<std::unique_ptr<TreeValue>> children_;
    CfgBlobStore::Handle block_ = 0;
    std::string name_;
};

// Calls visit(item, depth) for every item below `root`, each before its
// children, in the order of the file (depth 0: the root's children). No
// recursion: a file may nest items as deep as it is long.
template <typename Visit>
void ForEachDescendant(const TreeValue& root, Visit visit)
{
    struct Frame {
        const TreeValue* item;
        std::size_t next;
    };
    std::vector<Frame> stack{{&root, 0}};
    while (!stack.empty()) {
        Frame& frame = stack.back();
        if (frame.next == static_cast<std::size_t>(frame.item->Count())) {
            stack.pop_back();
            continue;
        }
        const TreeValue& child = *frame.item->ChildValue(frame.next++);
        visit(child, stack.size() - 1);
        stack.push_back({&child, 0});
    }
}
