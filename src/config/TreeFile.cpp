#include "config/TreeFile.h"

#include "config/TreeValue.h"

#include <cstdint>
#include <vector>

namespace {

class Writer {
public:
    std::string bytes;

    void Raw(std::string_view data) { bytes.append(data); }
    void Number(std::uint64_t value, int width)
    {
        for (int i = 0; i < width; ++i)
            bytes.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
    }
    void ListHead(const TreeValue& item)
    {
        Raw(kTreeMagic);
        Number(static_cast<std::uint32_t>(item.Count()), 4);
    }
    void Entry(const TreeValue& item)
    {
        Number(item.Name().size(), 2);
        Raw(item.Name());
        Number(static_cast<std::uint8_t>(item.Type()), 1);
        switch (item.Type()) {
        case TypeNone:
            break;
        case TypeByte:
        case TypeChar:
            Number(item.FixedBits(), 1);
            break;
        case TypeShort:
        case TypeWord:
            Number(item.FixedBits(), 2);
            break;
        case TypeDouble:
            Number(item.FixedBits(), 8);
            break;
        case TypeData:
        case TypeString: {
            auto block = item.BlockBytes();
            Number(block.size(), 4);
            Raw(std::string_view(reinterpret_cast<const char*>(block.data()), block.size()));
            break;
        }
        default:
            Number(item.FixedBits(), 4);
            break;
        }
    }
};

class Reader {
public:
    explicit Reader(std::string_view bytes) : rest_(bytes) {}

    std::size_t Left() const { return rest_.size(); }

    bool Take(std::size_t count, std::string_view* out)
    {
        if (count > rest_.size())
            return false;
        *out = rest_.substr(0, count);
        rest_.remove_prefix(count);
        return true;
    }
    bool Number(int width, std::uint64_t* value)
    {
        std::string_view raw;
        if (!Take(static_cast<std::size_t>(width), &raw))
            return false;
        *value = 0;
        for (int i = width; i-- > 0;)
            *value = (*value << 8) | static_cast<std::uint8_t>(raw[static_cast<std::size_t>(i)]);
        return true;
    }
    bool ListHead(std::uint64_t* count)
    {
        std::string_view magic;
        return Take(kTreeMagic.size(), &magic) && magic == kTreeMagic && Number(4, count);
    }

private:
    std::string_view rest_;
};

std::uint32_t ExtendLoaded(int type, std::uint64_t raw)
{
    switch (type) {
    case TypeChar:
        return static_cast<std::uint32_t>(static_cast<std::int32_t>(static_cast<std::int8_t>(raw)));
    case TypeShort:
        return static_cast<std::uint32_t>(static_cast<std::int32_t>(static_cast<std::int16_t>(raw)));
    default:
        return static_cast<std::uint32_t>(raw);
    }
}

int ValueWidth(int type)
{
    static constexpr int kWidths[] = {0, 1, 1, 2, 2, 4, 4, 4, 8};
    return kWidths[type];
}

bool ReadValue(Reader& reader, int type, TreeValue& item)
{
    if (type == TypeNone)
        return true;
    if (type == TypeData || type == TypeString) {
        std::uint64_t length = 0;
        std::string_view data;
        // Take() refuses a length beyond the end of the file before anything
        // is allocated for it.
        return reader.Number(4, &length) && reader.Take(static_cast<std::size_t>(length), &data) &&
               item.SetBlock(type, data.data(), data.size());
    }
    std::uint64_t raw = 0;
    if (!reader.Number(ValueWidth(type), &raw))
        return false;
    item.SetFixed(type, type == TypeDouble ? raw : ExtendLoaded(type, raw));
    return true;
}

} // namespace

std::string WriteTreeFile(const TreeValue& root)
{
    Writer writer;
    writer.Raw(kTreeMagic);
    writer.Number(kTreeSignature.size(), 4);
    writer.Raw(kTreeSignature);
    writer.ListHead(root);

    ForEachDescendant(root, [&writer](const TreeValue& item, std::size_t) {
        writer.Entry(item);
        writer.ListHead(item);
    });
    return std::move(writer.bytes);
}

TreeFileResult ReadTreeFile(std::string_view bytes, TreeValue& root)
{
    Reader reader(bytes);
    std::string_view magic, signature;
    std::uint64_t signatureLength = 0;
    if (!reader.Take(kTreeMagic.size(), &magic) || magic != kTreeMagic ||
        !reader.Number(4, &signatureLength) ||
        !reader.Take(static_cast<std::size_t>(signatureLength), &signature) || signature != kTreeSignature)
        return TreeFileResult::Refused;

    root.Clear();
    auto damaged = [&root] {
        root.Clear();
        return TreeFileResult::Damaged;
    };

    struct Frame {
        TreeValue* item;
        std::uint64_t left; // entries still to read in its list
    };
    std::uint64_t count = 0;
    if (!reader.ListHead(&count))
        return damaged();
    std::vector<Frame> stack{{&root, count}};
    while (!stack.empty()) {
        Frame& frame = stack.back();
        if (frame.left == 0) {
            stack.pop_back();
            continue;
        }
        --frame.left;
        // A file that ends inside a name ends every open list there; what
        // was read so far is the tree.
        std::uint64_t nameLength = 0;
        std::string_view name;
        if (!reader.Number(2, &nameLength) || !reader.Take(static_cast<std::size_t>(nameLength), &name))
            return TreeFileResult::Loaded;
        TreeValue* child = frame.item->AppendChild(std::string(name));
        std::uint64_t type = 0;
        if (child == nullptr || !reader.Number(1, &type) || type > kLastValueType ||
            !ReadValue(reader, static_cast<int>(type), *child) || !reader.ListHead(&count))
            return damaged();
        stack.push_back({child, count});
    }
    return TreeFileResult::Loaded;
}
