// The PMTiles plugin's tile-id arithmetic against the test writer's own and
// against each other: the fast namer of listings must agree with the
// lookups' conversions for every id, in sequence and after jumps.
#include "plate_key.h"
#include "pmtiles_format.h"
#include "pmtiles_writer.h"

#include <gtest/gtest.h>

#include <random>

namespace {

std::string SlowName(uint64_t id) {
    plate_key::Tile tile;
    pmtiles::TileIdToZxy(id, &tile.z, &tile.x, &tile.y);
    return plate_key::Name(tile);
}

TEST(PmtilesTileIds, NamerConversionsAndWriterAgree) {
    pmtiles::TileNamer namer;
    // Every id of zoom 0 to 7 in a row, then from zoom 8 on a few jumps
    // followed by runs that cross the next zoom.
    std::vector<std::pair<uint64_t, uint64_t>> spans = {{0, pmtiles::FirstIdOfZoom(8)}};
    std::mt19937_64 random(15);
    for (int i = 0; i < 2000; ++i) {
        const uint64_t start = random() % pmtiles::kEndOfIds;
        spans.emplace_back(start, std::min(start + random() % 40, pmtiles::kEndOfIds));
    }
    for (uint32_t z = 9; z <= pmtiles::kMaxZoom; ++z)
        spans.emplace_back(pmtiles::FirstIdOfZoom(z) - 5, std::min(pmtiles::FirstIdOfZoom(z) + 5, pmtiles::kEndOfIds));
    for (const auto& [start, end] : spans)
        for (uint64_t id = start; id < end; ++id) {
            plate_key::Tile tile;
            pmtiles::TileIdToZxy(id, &tile.z, &tile.x, &tile.y);
            ASSERT_TRUE(plate_key::IsValid(tile)) << id;
            ASSERT_EQ(pmtiles::ZxyToTileId(tile.z, tile.x, tile.y), id);
            ASSERT_EQ(pmtiles_writer::TileId(tile.z, tile.x, tile.y), id);
            ASSERT_EQ(namer.Name(id), plate_key::Name(tile)) << id;
        }
    // The format's worked example and the last id a plate name can have.
    EXPECT_EQ(SlowName(19078479), plate_key::Name({12, 3423, 1763}));
    EXPECT_EQ(SlowName(pmtiles::kEndOfIds - 1).size(), 31u);
}

} // namespace
