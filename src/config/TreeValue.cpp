#include "config/TreeValue.h"

#include "config/NumberText.h"
#include "log/Errors.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>

namespace {

constexpr std::string_view kSeparators = "/\\";

// Bytes of a value of the integer family.
int IntegerWidth(int type)
{
    switch (type) {
    case TypeByte:
    case TypeChar:
        return 1;
    case TypeShort:
    case TypeWord:
        return 2;
    default:
        return 4;
    }
}

// How a value of `type` is kept in 32 bits.
std::uint32_t Extend(int type, std::uint32_t bits)
{
    switch (type) {
    case TypeByte:
        return bits & 0xFFu;
    case TypeChar:
        return static_cast<std::uint32_t>(static_cast<std::int32_t>(static_cast<std::int8_t>(bits)));
    case TypeShort:
        return static_cast<std::uint32_t>(static_cast<std::int32_t>(static_cast<std::int16_t>(bits)));
    case TypeWord:
        return bits & 0xFFFFu;
    default:
        return bits;
    }
}

// Little-endian, as the file keeps it.
std::uint64_t LoadLittleEndian(std::span<const std::uint8_t> bytes, std::size_t count)
{
    std::uint64_t value = 0;
    for (std::size_t i = count; i-- > 0;)
        value = (value << 8) | bytes[i];
    return value;
}

// Truncation toward zero without the undefined behaviour of an out-of-range
// cast: NaN gives 0, values beyond 64 bits saturate.
std::uint32_t TruncateToInteger(double value)
{
    if (std::isnan(value))
        return 0;
    constexpr double kLimit = 9223372036854775808.0; // 2^63
    std::int64_t whole;
    if (value >= kLimit)
        whole = std::numeric_limits<std::int64_t>::max();
    else if (value < -kLimit)
        whole = std::numeric_limits<std::int64_t>::min();
    else
        whole = static_cast<std::int64_t>(value);
    return static_cast<std::uint32_t>(static_cast<std::uint64_t>(whole));
}

float NarrowToFloat(double value)
{
    constexpr float kInfinity = std::numeric_limits<float>::infinity();
    if (std::isfinite(value) && std::fabs(value) > std::numeric_limits<float>::max())
        return value > 0 ? kInfinity : -kInfinity;
    return static_cast<float>(value);
}

} // namespace

TreeValue::TreeValue(CfgBlobStore* blobs, TreeValue* parent, std::string name)
    : blobs_(blobs), parent_(parent), name_(std::move(name))
{
}

TreeValue::~TreeValue()
{
    // Children are taken apart one level at a time instead of by recursion,
    // so that a deep tree cannot exhaust the stack.
    std::vector<std::unique_ptr<TreeValue>> pending = std::move(children_);
    while (!pending.empty()) {
        std::unique_ptr<TreeValue> item = std::move(pending.back());
        pending.pop_back();
        for (auto& child : item->children_)
            pending.push_back(std::move(child));
        item->children_.clear();
    }
    ReleaseBlock();
}

void TreeValue::ReleaseBlock()
{
    if (block_ != 0) {
        blobs_->Release(block_);
        block_ = 0;
    }
}

TreeValue* TreeValue::AppendChild(std::string name)
{
    if (name.size() > kMaxNameLength) {
        SetLastError(ErrInvalidParameter);
        return nullptr;
    }
    children_.push_back(std::make_unique<TreeValue>(blobs_, this, std::move(name)));
    return children_.back().get();
}

TreeValue* TreeValue::FindChild(std::string_view name) const
{
    for (const auto& child : children_)
        if (child->name_ == name)
            return child.get();
    return nullptr;
}

TreeValue* TreeValue::Walk(std::string_view path, bool create)
{
    TreeValue* item = this;
    while (true) {
        std::size_t end = path.find_first_of(kSeparators);
        std::string_view segment = path.substr(0, end);
        if (segment.empty())
            return item;
        TreeValue* child = item->FindChild(segment);
        if (child == nullptr) {
            if (!create)
                return nullptr;
            child = item->AppendChild(std::string(segment));
            if (child == nullptr)
                return nullptr;
        }
        item = child;
        std::size_t next = end == std::string_view::npos ? end : path.find_first_not_of(kSeparators, end);
        if (next == std::string_view::npos)
            return item;
        path.remove_prefix(next);
    }
}

void TreeValue::Delete(ConfigItem* item)
{
    TreeValue* victim = item != nullptr ? dynamic_cast<TreeValue*>(item) : this;
    if (victim == nullptr || victim->blobs_ != blobs_ || victim->parent_ == nullptr)
        return;
    auto& siblings = victim->parent_->children_;
    auto found = std::find_if(siblings.begin(), siblings.end(),
                              [victim](const auto& child) { return child.get() == victim; });
    if (found == siblings.end())
        return;
    // Take it out of the list first: its destruction must not see a list
    // that still holds it.
    std::unique_ptr<TreeValue> doomed = std::move(*found);
    siblings.erase(found);
}

void TreeValue::Clear()
{
    std::vector<std::unique_ptr<TreeValue>> doomed = std::move(children_);
    children_.clear();
}

int TreeValue::Index() const
{
    if (parent_ == nullptr)
        return 0;
    const auto& siblings = parent_->children_;
    for (std::size_t i = 0; i < siblings.size(); ++i)
        if (siblings[i].get() == this)
            return static_cast<int>(i);
    return 0;
}

ConfigItem* TreeValue::Child(int index) const
{
    if (index < 0 || static_cast<std::size_t>(index) >= children_.size())
        return nullptr;
    return children_[static_cast<std::size_t>(index)].get();
}

void TreeValue::SetFixed(int type, std::uint64_t bits)
{
    ReleaseBlock();
    type_ = static_cast<std::uint8_t>(type);
    bits_ = bits;
}

bool TreeValue::SetBlock(int type, const void* data, std::size_t size)
{
    if (!blobs_->Store(&block_, data, size))
        return false;
    type_ = static_cast<std::uint8_t>(type);
    bits_ = 0;
    return true;
}

std::span<const std::uint8_t> TreeValue::BlockBytes() const { return blobs_->Bytes(block_); }

std::string TreeValue::Text() const
{
    std::span<const std::uint8_t> bytes = BlockBytes();
    const char* text = reinterpret_cast<const char*>(bytes.data());
    return std::string(text, std::find(text, text + bytes.size(), '\0'));
}

// --- integer family ---

std::uint32_t TreeValue::AsInteger(int type) const
{
    const int width = IntegerWidth(type);
    switch (type_) {
    case TypeNone:
        return 0;
    case TypeFloat:
        return TruncateToInteger(std::bit_cast<float>(static_cast<std::uint32_t>(bits_)));
    case TypeDouble:
        return TruncateToInteger(std::bit_cast<double>(bits_));
    case TypeData: {
        std::span<const std::uint8_t> bytes = BlockBytes();
        return bytes.size() >= static_cast<std::size_t>(width)
                   ? static_cast<std::uint32_t>(LoadLittleEndian(bytes, static_cast<std::size_t>(width)))
                   : 0;
    }
    case TypeString:
        return ParseIntegerText(Text(), width, type == TypeChar || type == TypeInt);
    default:
        return static_cast<std::uint32_t>(bits_);
    }
}

std::uint32_t TreeValue::IntegerRead(std::string_view path, int type, std::uint32_t defaultBits)
{
    if (TreeValue* item = Walk(path, false))
        return item->AsInteger(type);
    if (TreeValue* item = Walk(path, true))
        item->SetFixed(type, Extend(type, defaultBits));
    return defaultBits;
}

std::uint32_t TreeValue::IntegerWrite(std::string_view path, int type, std::uint32_t bits)
{
    if (TreeValue* item = Walk(path, true))
        item->SetFixed(type, Extend(type, bits));
    return bits;
}

std::int32_t TreeValue::ReadLong(std::string_view path, std::int32_t defaultValue)
{
    return static_cast<std::int32_t>(IntegerRead(path, TypeLong, static_cast<std::uint32_t>(defaultValue)));
}
std::uint32_t TreeValue::ReadLong(std::string_view path, std::uint32_t defaultValue)
{
    return IntegerRead(path, TypeLong, defaultValue);
}
bool TreeValue::ReadBool(std::string_view path, bool defaultValue)
{
    return IntegerRead(path, TypeInt, defaultValue ? 1u : 0u) != 0;
}
std::uint8_t TreeValue::ReadByte(std::string_view path, std::uint8_t defaultValue)
{
    return static_cast<std::uint8_t>(IntegerRead(path, TypeByte, defaultValue));
}
std::int8_t TreeValue::ReadChar(std::string_view path, std::int8_t defaultValue)
{
    return static_cast<std::int8_t>(IntegerRead(path, TypeChar, static_cast<std::uint32_t>(defaultValue)));
}
std::int16_t TreeValue::ReadShort(std::string_view path, std::int16_t defaultValue)
{
    return static_cast<std::int16_t>(IntegerRead(path, TypeShort, static_cast<std::uint32_t>(defaultValue)));
}
std::int32_t TreeValue::ReadInt(std::string_view path, std::int32_t defaultValue)
{
    return static_cast<std::int32_t>(IntegerRead(path, TypeInt, static_cast<std::uint32_t>(defaultValue)));
}

std::int32_t TreeValue::WriteLong(std::string_view path, std::int32_t value)
{
    IntegerWrite(path, TypeLong, static_cast<std::uint32_t>(value));
    return value;
}
std::uint32_t TreeValue::WriteLong(std::string_view path, std::uint32_t value)
{
    return IntegerWrite(path, TypeLong, value);
}
bool TreeValue::WriteBool(std::string_view path, bool value)
{
    IntegerWrite(path, TypeInt, value ? 1u : 0u);
    return value;
}
std::uint8_t TreeValue::WriteByte(std::string_view path, std::uint8_t value)
{
    IntegerWrite(path, TypeByte, value);
    return value;
}
std::int8_t TreeValue::WriteChar(std::string_view path, std::int8_t value)
{
    IntegerWrite(path, TypeChar, static_cast<std::uint32_t>(value));
    return value;
}
std::int16_t TreeValue::WriteShort(std::string_view path, std::int16_t value)
{
    IntegerWrite(path, TypeShort, static_cast<std::uint32_t>(value));
    return value;
}
std::int32_t TreeValue::WriteInt(std::string_view path, std::int32_t value)
{
    IntegerWrite(path, TypeInt, static_cast<std::uint32_t>(value));
    return value;
}

// --- floating family ---

double TreeValue::AsFloating(int type) const
{
    const std::size_t width = type == TypeFloat ? 4 : 8;
    switch (type_) {
    case TypeNone:
        return 0;
    case TypeFloat:
        return std::bit_cast<float>(static_cast<std::uint32_t>(bits_));
    case TypeDouble:
        return std::bit_cast<double>(bits_);
    case TypeData: {
        std::span<const std::uint8_t> bytes = BlockBytes();
        if (bytes.size() < width)
            return 0;
        std::uint64_t bits = LoadLittleEndian(bytes, width);
        return width == 4 ? std::bit_cast<float>(static_cast<std::uint32_t>(bits)) : std::bit_cast<double>(bits);
    }
    case TypeString:
        return ParseFloatingText(Text());
    default:
        // Integers are taken as unsigned 32-bit.
        return static_cast<double>(static_cast<std::uint32_t>(bits_));
    }
}

double TreeValue::FloatingRead(std::string_view path, int type, double defaultValue)
{
    if (TreeValue* item = Walk(path, false))
        return item->AsFloating(type);
    if (TreeValue* item = Walk(path, true)) {
        if (type == TypeFloat)
            item->SetFixed(TypeFloat, std::bit_cast<std::uint32_t>(static_cast<float>(defaultValue)));
        else
            item->SetFixed(TypeDouble, std::bit_cast<std::uint64_t>(defaultValue));
    }
    return defaultValue;
}

float TreeValue::ReadFloat(std::string_view path, float defaultValue)
{
    return NarrowToFloat(FloatingRead(path, TypeFloat, defaultValue));
}
double TreeValue::ReadDouble(std::string_view path, double defaultValue)
{
    return FloatingRead(path, TypeDouble, defaultValue);
}

float TreeValue::WriteFloat(std::string_view path, float value)
{
    if (TreeValue* item = Walk(path, true))
        item->SetFixed(TypeFloat, std::bit_cast<std::uint32_t>(value));
    return value;
}
double TreeValue::WriteDouble(std::string_view path, double value)
{
    if (TreeValue* item = Walk(path, true))
        item->SetFixed(TypeDouble, std::bit_cast<std::uint64_t>(value));
    return value;
}

// --- block family ---

TreeValue* TreeValue::BlockRead(std::string_view path, int type, const void* defaultData, std::size_t size)
{
    if (TreeValue* item = Walk(path, false)) {
        if (item->type_ != type && !item->SetBlock(type, defaultData, size))
            return nullptr;
        return item;
    }
    return BlockWrite(path, type, defaultData, size);
}

TreeValue* TreeValue::BlockWrite(std::string_view path, int type, const void* data, std::size_t size)
{
    TreeValue* item = Walk(path, false);
    const bool created = item == nullptr;
    if (created)
        item = Walk(path, true);
    if (item == nullptr)
        return nullptr;
    if (!item->SetBlock(type, data, size)) {
        if (created)
            Delete(item);
        return nullptr;
    }
    return item;
}

namespace {
std::string WithTerminator(std::string_view text)
{
    std::string stored(text);
    stored.push_back('\0');
    return stored;
}
} // namespace

std::string TreeValue::ReadString(std::string_view path, std::string_view defaultValue)
{
    std::string stored = WithTerminator(defaultValue);
    TreeValue* item = BlockRead(path, TypeString, stored.data(), stored.size());
    return item != nullptr ? item->Text() : std::string(defaultValue);
}

std::string TreeValue::WriteString(std::string_view path, std::string_view value)
{
    std::string stored = WithTerminator(value);
    TreeValue* item = BlockWrite(path, TypeString, stored.data(), stored.size());
    return item != nullptr ? item->Text() : std::string(value);
}

std::int64_t TreeValue::ReadInt64(std::string_view path, std::int64_t defaultValue)
{
    std::uint8_t bytes[8];
    for (int i = 0; i < 8; ++i)
        bytes[i] = static_cast<std::uint8_t>(static_cast<std::uint64_t>(defaultValue) >> (8 * i));
    TreeValue* item = BlockRead(path, TypeData, bytes, sizeof bytes);
    if (item == nullptr)
        return defaultValue;
    std::span<const std::uint8_t> stored = item->BlockBytes();
    return static_cast<std::int64_t>(LoadLittleEndian(stored, std::min<std::size_t>(stored.size(), 8)));
}

std::int64_t TreeValue::WriteInt64(std::string_view path, std::int64_t value)
{
    std::uint8_t bytes[8];
    for (int i = 0; i < 8; ++i)
        bytes[i] = static_cast<std::uint8_t>(static_cast<std::uint64_t>(value) >> (8 * i));
    BlockWrite(path, TypeData, bytes, sizeof bytes);
    return value;
}

const void* TreeValue::ReadData(std::string_view path, void* buffer, const void* defaultData,
                                std::uint32_t size)
{
    TreeValue* item = BlockRead(path, TypeData, defaultData, defaultData != nullptr ? size : 0);
    if (item == nullptr)
        return defaultData;
    std::span<const std::uint8_t> stored = item->BlockBytes();
    std::size_t count = std::min<std::size_t>(stored.size(), size);
    if (buffer != nullptr && count > 0)
        std::memcpy(buffer, stored.data(), count);
    return buffer;
}

const void* TreeValue::WriteData(std::string_view path, const void* data, std::uint32_t size)
{
    TreeValue* item = BlockWrite(path, TypeData, data, data != nullptr ? size : 0);
    return item != nullptr ? static_cast<const void*>(item->BlockBytes().data()) : data;
}
