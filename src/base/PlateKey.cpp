#include "base/PlateKey.h"

#include <cstring>

bool PlateKey::IsPathSafe(char c)
{
    if (c <= ' ' || c > '~')
        return false;
    switch (c) {
    case '.': case '/': case '\\': case ':': case '*': case '?': case '"': case '<': case '>': case '|':
        return false;
    default:
        return true;
    }
}

bool PlateKey::IsPathSafe() const
{
    if (name_.empty())
        return false;
    for (char c : name_)
        if (!IsPathSafe(c))
            return false;
    return true;
}

std::string PlateKey::RelativePath(std::string_view extension) const
{
    std::string path;
    path.reserve(name_.size() * 2 + extension.size());
    for (std::size_t i = 0; i + 1 < name_.size(); ++i) {
        path.push_back(name_[i]);
        path.push_back('/');
    }
    if (!name_.empty())
        path.push_back(name_.back());
    path.append(extension);
    return path;
}

bool PlateKey::IsQuadtreeKey(std::string_view name)
{
    if (name.empty() || name.size() > kMaxQuadtreeLevel || name[0] != 't')
        return false;
    for (std::size_t i = 1; i < name.size(); ++i)
        if (name[i] < 'q' || name[i] > 't')
            return false;
    return true;
}

std::optional<PlateKey::Tile> PlateKey::ToTile() const
{
    if (name_.empty() || name_.size() > kMaxQuadtreeLevel || name_[0] != 't')
        return std::nullopt;
    // One pass, checking as it goes: a copy asks this of every plate.
    uint32_t x = 0;
    uint32_t y = 0;
    std::size_t i = 1;
    // Eight letters a step. Less 'q', each byte of a key is 0 to 3; any
    // other byte (one below 'q' borrows from the next, but is itself far
    // above 3) leaves a bit above the lowest two. The low bits are x xor y,
    // the high ones y: the multiplication gathers each byte's bit into one
    // byte, the first letter highest, without carries.
    constexpr uint64_t kEach = 0x0101010101010101u;
    constexpr uint64_t kGather = 0x8040201008040201u;
    for (; i + 8 <= name_.size(); i += 8) {
        uint64_t letters = 0;
        std::memcpy(&letters, name_.data() + i, 8);
        letters -= 'q' * kEach;
        if ((letters & ~(3 * kEach)) != 0)
            return std::nullopt;
        const uint64_t low = letters & kEach;
        const uint64_t high = (letters >> 1) & kEach;
        x = x << 8 | static_cast<uint32_t>(((low ^ high) * kGather) >> 56);
        y = y << 8 | static_cast<uint32_t>((high * kGather) >> 56);
    }
    for (; i < name_.size(); ++i) {
        const unsigned letter = static_cast<unsigned char>(name_[i]) - unsigned{'q'}; // q r s t: 0 1 2 3
        if (letter > 3)
            return std::nullopt;
        x = x << 1 | ((0b0110u >> letter) & 1u); // r and s lie right
        y = y << 1 | (letter >> 1);              // s and t lie below
    }
    return Tile{static_cast<int>(name_.size()) - 1, x, y};
}

std::string PlateKey::FromTile(const Tile& tile)
{
    static constexpr char kLetters[4] = {'q', 'r', 't', 's'}; // index: x bit | y bit << 1
    std::string name(1, 't');
    for (int i = tile.z - 1; i >= 0; --i)
        name.push_back(kLetters[((tile.x >> i) & 1) | ((tile.y >> i) & 1) << 1]);
    return name;
}
