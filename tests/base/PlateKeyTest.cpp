#include "base/PlateKey.h"

#include <gtest/gtest.h>

TEST(PlateKeyTest, PathSafety)
{
    struct Case {
        std::string_view name;
        bool safe;
    };
    const Case cases[] = {
        {"tqrs", true}, {"0123", true},  {"", false},      {"t/q", false}, {"t\\q", false}, {"..", false},
        {"t.q", false}, {"t q", false},  {"t\tq", false},  {"t:q", false}, {"t|q", false},  {"t\x7f", false},
        {"t\xc3\xa9", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(PlateKey(c.name).IsPathSafe(), c.safe) << c.name;
}

TEST(PlateKeyTest, RelativePathHasOneFolderPerCharacterButTheLast)
{
    EXPECT_EQ(PlateKey("tqrs").RelativePath(".jpg"), "t/q/r/s.jpg");
    EXPECT_EQ(PlateKey("t").RelativePath(".jp"), "t.jp");
    EXPECT_EQ(PlateKey("tqrs").Level(), 4);
}

TEST(PlateKeyTest, QuadtreeTilesBothWays)
{
    struct Case {
        std::string_view name;
        PlateKey::Tile tile;
    };
    const Case cases[] = {
        {"t", {0, 0, 0}}, {"tq", {1, 0, 0}}, {"tr", {1, 1, 0}}, {"ts", {1, 1, 1}}, {"tt", {1, 0, 1}},
        {"tsq", {2, 2, 2}},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(PlateKey(c.name).ToTile(), c.tile) << c.name;
        EXPECT_EQ(PlateKey::FromTile(c.tile), c.name);
    }
    // Long keys, read eight letters a step.
    for (const int z : {8, 9, 13, 16, 17, 24, 30}) {
        const uint32_t mask = (uint32_t{1} << z) - 1;
        const PlateKey::Tile tile{z, 0x9E3779B9u & mask, 0x7F4A7C15u & mask};
        ASSERT_EQ(PlateKey(PlateKey::FromTile(tile)).ToTile(), tile) << z;
    }
    for (std::string_view bad : {"", "q", "tx", "tqa", "tqqqqqqqqqqqqqqqqqqqqqqqqqqqqqqq"})
        EXPECT_FALSE(PlateKey(bad).ToTile().has_value()) << bad;
    EXPECT_TRUE(PlateKey(std::string(31, 't')).ToTile().has_value());
    EXPECT_TRUE(PlateKey("tqrs").IsWithin("tq"));
    EXPECT_FALSE(PlateKey("tqrs").IsWithin("tr"));
}

TEST(PlateKeyTest, QuadtreeKeysAreWhatToTileAccepts)
{
    const struct {
        std::string name;
        bool key;
    } cases[] = {
        {"t", true},          {"tqrst", true},      {std::string(31, 't'), true},
        {std::string(32, 't'), false}, // past 32-bit coordinates
        {"", false},          {"q", false},         {"tu", false},
        {"tp", false},        {"Tq", false},        {std::string("t\0q", 3), false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(PlateKey::IsQuadtreeKey(c.name), c.key) << c.name;
        EXPECT_EQ(PlateKey(c.name).ToTile().has_value(), c.key) << c.name;
    }
    // One wrong letter anywhere in a long key, beside letters of every kind.
    for (const char wrong : {'p', 'u', 'Q', '\0', '\x80', '\xf1'})
        for (std::size_t at = 1; at < 21; ++at) {
            std::string name = "tqrstsrqtqrstsrqtqrst";
            name[at] = wrong;
            EXPECT_FALSE(PlateKey::IsQuadtreeKey(name)) << at;
            EXPECT_FALSE(PlateKey(name).ToTile().has_value()) << int{wrong} << " at " << at;
        }
}
