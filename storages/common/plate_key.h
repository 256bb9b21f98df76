#pragma once
// Plate names <-> slippy-map tile coordinates.
//
// A plate's name is its quadtree key in the letters q, r, s, t. The name "t"
// is the whole world (slippy zoom 0); every further letter picks a quadrant
// of its parent: q top-left, r top-right, s bottom-right, t bottom-left. So
// the tile z/x/y (y counted from the top) has a name of z + 1 letters.
// MBTiles counts rows from the bottom (TMS): use FlipRow between the two.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace plate_key {

// Deepest zoom whose coordinates still fit 32 bits.
inline constexpr uint32_t kMaxZoom = 30;
// Longest name plus its terminating zero.
inline constexpr size_t kNameBufferSize = kMaxZoom + 2;

struct Tile {
    uint32_t z = 0;
    uint32_t x = 0;
    uint32_t y = 0; // from the top
    friend bool operator==(const Tile&, const Tile&) = default;
};

// Converts between rows counted from the top and rows counted from the bottom.
constexpr uint32_t FlipRow(uint32_t z, uint32_t row) {
    return static_cast<uint32_t>((uint64_t{1} << z) - 1 - row);
}

constexpr bool IsValid(const Tile& tile) {
    if (tile.z > kMaxZoom)
        return false;
    const uint64_t side = uint64_t{1} << tile.z;
    return tile.x < side && tile.y < side;
}

// Parses a name; false for an empty or too long name, one that does not
// start with 't' or has a letter outside q, r, s, t.
constexpr bool Parse(std::string_view name, Tile* tile) {
    if (name.empty() || name.size() > kMaxZoom + 1 || name[0] != 't')
        return false;
    uint32_t x = 0;
    uint32_t y = 0;
    size_t i = 1;
    // Eight letters a step (a copy parses every plate's name). Less 'q',
    // each byte of a name is 0 to 3; any other byte (one below 'q' borrows
    // from the next, but is itself far above 3) leaves a bit above the
    // lowest two. The low bits are x xor y, the high ones y: the
    // multiplication gathers each byte's bit into one byte, the first letter
    // highest, without carries.
    constexpr uint64_t kEach = 0x0101010101010101u;
    constexpr uint64_t kGather = 0x8040201008040201u;
    for (; i + 8 <= name.size(); i += 8) {
        uint64_t letters = 0;
        for (size_t k = 0; k < 8; ++k) // one load, as compilers read it
            letters |= uint64_t{static_cast<unsigned char>(name[i + k])} << (8 * k);
        letters -= 'q' * kEach;
        if ((letters & ~(3 * kEach)) != 0)
            return false;
        const uint64_t low = letters & kEach;
        const uint64_t high = (letters >> 1) & kEach;
        x = x << 8 | static_cast<uint32_t>(((low ^ high) * kGather) >> 56);
        y = y << 8 | static_cast<uint32_t>((high * kGather) >> 56);
    }
    for (; i < name.size(); ++i) {
        const char c = name[i];
        if (c < 'q' || c > 't')
            return false;
        x = x << 1 | (c == 'r' || c == 's' ? 1u : 0u);
        y = y << 1 | (c == 's' || c == 't' ? 1u : 0u);
    }
    *tile = Tile{static_cast<uint32_t>(name.size() - 1), x, y};
    return true;
}

// Writes the name of a valid tile, zero-terminated, into `out`, which holds
// at least tile.z + 2 characters; returns the name's length. Allocation-free
// because enumerations name every tile of a storage.
inline size_t Write(const Tile& tile, char* out) {
    static constexpr char kLetters[4] = {'q', 'r', 't', 's'}; // index: x bit | y bit << 1
    out[0] = 't';
    for (uint32_t i = 0; i < tile.z; ++i) {
        const uint32_t shift = tile.z - 1 - i;
        out[i + 1] = kLetters[((tile.x >> shift) & 1) | ((tile.y >> shift) & 1) << 1];
    }
    out[tile.z + 1] = '\0';
    return tile.z + 1;
}

inline std::string Name(const Tile& tile) {
    char buffer[kNameBufferSize];
    return std::string(buffer, Write(tile, buffer));
}

} // namespace plate_key
