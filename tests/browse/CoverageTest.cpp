// The coverage grid, the area selection and the shared box test.
#include "base/GeoBox.h"
#include "base/ListSelection.h"
#include "browse/Coverage.h"
#include "browse/PlateList.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace {

// Every key of zoom z whose tile passes keep(x, y).
template <typename Keep>
void AddLevel(PlateList& plates, int z, Keep keep, uint32_t size = 100)
{
    for (uint32_t y = 0; y < (1u << z); ++y)
        for (uint32_t x = 0; x < (1u << z); ++x)
            if (keep(x, y))
                plates.Append(PlateKey::FromTile({z, x, y}).c_str(), 0, size);
}

// The packed fast path reads the same tile as the key's own conversion, for
// every length the list packs and for the names it keeps as text.
TEST(CoverageTest, PlatesGiveTheTilesOfTheirKeys)
{
    std::mt19937 random(7);
    std::vector<std::string> names = {"t", "tq", "tr", "ts", "tt", "q", "tqx", "12/3/4", "", "tqrs" + std::string(27, 's')};
    for (int length = 1; length <= PlateKey::kMaxQuadtreeLevel; ++length)
        for (int i = 0; i < 20; ++i) {
            std::string name = "t";
            while (static_cast<int>(name.size()) < length)
                name.push_back(static_cast<char>('q' + random() % 4));
            names.push_back(name);
        }
    PlateList plates;
    for (const std::string& name : names)
        plates.Append(name.c_str(), 0, 1);
    for (int i = 0; i < plates.Count(); ++i)
        EXPECT_EQ(TileOfPlate(plates, i), PlateKey(names[static_cast<std::size_t>(i)]).ToTile()) << names[static_cast<std::size_t>(i)];
}

TEST(CoverageTest, GridCountsTilesNorthUpAndInBlocksBeyondItsSide)
{
    // Zoom 3 without its north-west quarter, zoom 2 whole, and a name
    // that is no quadtree key.
    PlateList plates;
    AddLevel(plates, 2, [](uint32_t, uint32_t) { return true; }, 7);
    AddLevel(plates, 3, [](uint32_t x, uint32_t y) { return x >= 4 || y >= 4; });
    plates.Append("12/3/4", 0, 5);

    const std::optional<Coverage> deepest = BuildCoverage(plates);
    ASSERT_TRUE(deepest);
    EXPECT_EQ(deepest->DeepestZoom(), 3);
    EXPECT_EQ(deepest->grid.Zoom(), 3);
    EXPECT_EQ(deepest->grid.Side(), 8);
    EXPECT_EQ(deepest->levels[2].tiles, 16u);
    EXPECT_EQ(deepest->levels[2].bytes, 16u * 7);
    EXPECT_EQ(deepest->levels[3].tiles, 48u);
    EXPECT_EQ(deepest->otherPlates, 1u);
    EXPECT_EQ(deepest->otherBytes, 5u);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x)
            EXPECT_EQ(deepest->grid.Cell(x, y).tiles, x < 4 && y < 4 ? 0u : 1u) << x << "," << y;

    // Four cells a side: blocks of two tiles a side.
    const std::optional<Coverage> blocks = BuildCoverage(plates, 3, 4);
    ASSERT_TRUE(blocks);
    EXPECT_EQ(blocks->grid.Side(), 4);
    EXPECT_EQ(blocks->grid.Shift(), 1);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x) {
            EXPECT_EQ(blocks->grid.Cell(x, y).tiles, x < 2 && y < 2 ? 0u : 4u) << x << "," << y;
            EXPECT_EQ(blocks->grid.Cell(x, y).bytes, x < 2 && y < 2 ? 0u : 400u) << x << "," << y;
        }

    // A level without plates: an empty grid of its size.
    const std::optional<Coverage> empty = BuildCoverage(plates, 5);
    ASSERT_TRUE(empty);
    EXPECT_EQ(empty->grid.Side(), 32);
    EXPECT_EQ(empty->grid.Tiles(), 0u);
    const std::vector<uint8_t> picture = CoveragePicture(empty->grid);
    EXPECT_EQ(picture, std::vector<uint8_t>(32 * 32 * 4, 0));

    // Stopped by its progress: nothing.
    EXPECT_FALSE(BuildCoverage(plates, CoverageBuilder::kDeepest, 4096, [](int) { return false; }));
}

// The box of a rectangle of tiles overlaps those tiles and everything below
// them, and not the tiles beside them, down to the deepest zoom.
TEST(CoverageTest, BoxOfTilesOverlapsExactlyThoseTilesAndTheirChildren)
{
    const struct {
        int z;
        uint32_t x0, y0, x1, y1;
    } cases[] = {{0, 0, 0, 1, 1}, {3, 2, 1, 5, 4}, {8, 0, 0, 128, 128}, {12, 4000, 5, 4096, 77}, {20, 12345, 1, 12346, 2}};
    for (const auto& c : cases) {
        const GeoBoxTest test(GeoBox::OfTiles(c.z, c.x0, c.y0, c.x1, c.y1));
        for (int below = 0; c.z + below <= 30; below += 5) {
            const int z = c.z + below;
            const uint32_t last = static_cast<uint32_t>((uint64_t{1} << z) - 1);
            auto check = [&](uint32_t x, uint32_t y) {
                const bool inside = (x >> below) >= c.x0 && (x >> below) < c.x1 && (y >> below) >= c.y0 && (y >> below) < c.y1;
                EXPECT_EQ(test.Overlaps(PlateKey::Tile{z, x, y}), inside) << c.z << ": " << z << "/" << x << "/" << y;
            };
            // The corners of the area and their outer neighbours.
            for (uint32_t x : {c.x0 << below, (c.x1 << below) - 1})
                for (uint32_t y : {c.y0 << below, (c.y1 << below) - 1})
                    for (int dx = -1; dx <= 1; ++dx)
                        for (int dy = -1; dy <= 1; ++dy) {
                            const int64_t nx = int64_t{x} + dx;
                            const int64_t ny = int64_t{y} + dy;
                            if (nx >= 0 && ny >= 0 && nx <= last && ny <= last)
                                check(static_cast<uint32_t>(nx), static_cast<uint32_t>(ny));
                        }
        }
    }
}

TEST(CoverageTest, AreaSelectionTakesThatLevelAndBelowAndMarksTheGrid)
{
    PlateList plates;
    for (int z = 0; z <= 4; ++z)
        AddLevel(plates, z, [](uint32_t, uint32_t) { return true; });
    plates.Append("12/3/4", 0, 5);
    ListSelection selection(plates.Count());
    // Zoom 2's tiles x 1..2, y 0: the north middle.
    SelectArea(selection, plates, GeoBox::OfTiles(2, 1, 0, 3, 1), 2);
    int expected = 0;
    for (int i = 0; i < plates.Count(); ++i) {
        PlateItem item;
        ASSERT_TRUE(plates.At(i, &item));
        const std::optional<PlateKey::Tile> tile = PlateKey(item.name).ToTile();
        const bool inside = tile && tile->z >= 2 && (tile->x >> (tile->z - 2)) >= 1 && (tile->x >> (tile->z - 2)) <= 2 &&
                            (tile->y >> (tile->z - 2)) == 0;
        EXPECT_EQ(selection.IsSelected(i), inside) << item.name;
        expected += inside;
    }
    EXPECT_EQ(expected, 2 + 8 + 32);

    std::optional<Coverage> coverage = BuildCoverage(plates, 3);
    ASSERT_TRUE(coverage);
    MarkSelection(coverage->grid, plates, selection);
    const std::vector<uint8_t> picture = CoveragePicture(coverage->grid);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) {
            const bool marked = y < 2 && x >= 2 && x < 6;
            EXPECT_EQ(coverage->grid.Cell(x, y).marked, marked ? 1u : 0u) << x << "," << y;
            const uint8_t* pixel = &picture[static_cast<std::size_t>(y * 8 + x) * 4];
            EXPECT_EQ(pixel[3], 255); // every tile is there
            EXPECT_EQ(pixel[0] > 200, marked) << x << "," << y; // orange over blue
        }
}

} // namespace
