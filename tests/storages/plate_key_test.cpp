#include "plate_key.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace {

using plate_key::Tile;

struct KnownTile {
    const char* name;
    Tile tile; // slippy z/x/y, y from the top
};

// Quadrants: q top-left, r top-right, s bottom-right, t bottom-left. "ttrs"
// is the tile x 3, y 5 at zoom 3, whose Bing quadkey is "213": the same
// quadtree with digits 0 1 2 3 for q r t s.
const KnownTile kKnownTiles[] = {
    {"t", {0, 0, 0}},
    {"tq", {1, 0, 0}},
    {"tr", {1, 1, 0}},
    {"ts", {1, 1, 1}},
    {"tt", {1, 0, 1}},
    {"tqq", {2, 0, 0}},
    {"tsss", {3, 7, 7}},
    {"ttrs", {3, 3, 5}},
    {"trst", {3, 6, 3}},
    {"trrrrrrrrrrrrrrrrrrrrrrrrrrrrrr", {30, (1u << 30) - 1, 0}},
    {"tssssssssssssssssssssssssssssss", {30, (1u << 30) - 1, (1u << 30) - 1}},
    {"tqrstqrst", {8, 0b01100110, 0b00110011}},
    {"ttsrqqrstt", {9, 0b011001100, 0b110000111}},
    {"trrrrrrrrsqrtsqrt", {16, 0xFFAA, 0x0099}},
};

TEST(PlateKey, KnownTilesConvertBothWays) {
    for (const KnownTile& known : kKnownTiles) {
        SCOPED_TRACE(known.name);
        Tile parsed;
        ASSERT_TRUE(plate_key::Parse(known.name, &parsed));
        EXPECT_EQ(parsed, known.tile);
        EXPECT_EQ(plate_key::Name(known.tile), known.name);
    }
}

TEST(PlateKey, EveryTileOfTheFirstZoomsHasItsOwnNameThatParsesBack) {
    std::set<std::string> names;
    for (uint32_t z = 0; z <= 5; ++z)
        for (uint32_t x = 0; x < (1u << z); ++x)
            for (uint32_t y = 0; y < (1u << z); ++y) {
                const Tile tile{z, x, y};
                const std::string name = plate_key::Name(tile);
                ASSERT_EQ(name.size(), z + 1);
                Tile parsed;
                ASSERT_TRUE(plate_key::Parse(name, &parsed)) << name;
                ASSERT_EQ(parsed, tile) << name;
                names.insert(name);
            }
    EXPECT_EQ(names.size(), 1u + 4 + 16 + 64 + 256 + 1024);
}

TEST(PlateKey, RefusesNamesThatAreNoQuadtreeKey) {
    const char* const invalid[] = {
        "",                                 // no world letter
        "q",                                // must start at the world plate
        "T",                                // letters are lower case
        "tx", "tQ", "t t", "t1", "tqrsa",   // a letter outside q, r, s, t
        "tqqqqqqqqqqqqqqqqqqqqqqqqqqqqqqq", // 32 letters: deeper than zoom 30
    };
    for (const char* name : invalid) {
        Tile tile;
        EXPECT_FALSE(plate_key::Parse(name, &tile)) << '"' << name << '"';
    }
    // One wrong letter anywhere in a long name, beside letters of every kind.
    for (const char wrong : {'p', 'u', 'Q', '\0', '\x80', '\xf1'})
        for (size_t at = 1; at < 21; ++at) {
            std::string name = "tqrstsrqtqrstsrqtqrst";
            name[at] = wrong;
            Tile tile;
            EXPECT_FALSE(plate_key::Parse(name, &tile)) << int{wrong} << " at " << at;
        }
}

TEST(PlateKey, FlipsRowsBetweenTopAndBottomCounting) {
    struct Case {
        uint32_t z, row, flipped;
    };
    const Case cases[] = {{0, 0, 0}, {1, 0, 1}, {2, 0, 3}, {3, 5, 2}, {30, 0, (1u << 30) - 1}};
    for (const Case& c : cases) {
        EXPECT_EQ(plate_key::FlipRow(c.z, c.row), c.flipped) << c.z << "/" << c.row;
        EXPECT_EQ(plate_key::FlipRow(c.z, c.flipped), c.row) << c.z << "/" << c.flipped;
    }
}

} // namespace
