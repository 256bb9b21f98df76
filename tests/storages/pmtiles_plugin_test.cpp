#include "plate_key.h"
#include "plugin_host.h"
#include "pmtiles_writer.h"

#include <gtest/gtest.h>

#include <QImage>

#include <zlib.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <set>

namespace storage_test {
namespace {

constexpr uint32_t kDone = Done, kFailed = Failed, kAborted = Aborted;
const std::string kFixtures = FIXTURE_DIR "/pmtiles/";

// A tile as a second reader of the archive lists it (the .tiles files).
struct ListedTile {
    uint32_t size;
    uint32_t crc;
};

std::map<std::string, ListedTile> ReadTileList(const std::string& path) {
    std::map<std::string, ListedTile> tiles;
    std::ifstream in(path);
    uint32_t z, x, y, size;
    std::string crc;
    while (in >> z >> x >> y >> size >> crc)
        tiles[plate_key::Name({z, x, y})] = {size, static_cast<uint32_t>(std::stoul(crc, nullptr, 16))};
    return tiles;
}

uint32_t Crc(const std::string& bytes) {
    return static_cast<uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uInt>(bytes.size())));
}

// Tiles of zoom 0 to `maxZoom`, every one its own entry with its own bytes
// ("tile <name>"), except that the last `run` tiles share one entry.
struct Synthetic {
    std::vector<pmtiles_writer::Entry> entries;
    std::string data;
    std::map<std::string, std::string> bytes; // by plate name
};

Synthetic MakeTiles(uint32_t maxZoom, uint64_t run) {
    std::map<uint64_t, std::string> byId;
    for (uint32_t z = 0; z <= maxZoom; ++z)
        for (uint32_t x = 0; x < (1u << z); ++x)
            for (uint32_t y = 0; y < (1u << z); ++y)
                byId[pmtiles_writer::TileId(z, x, y)] = plate_key::Name({z, x, y});
    Synthetic s;
    std::string shared;
    for (const auto& [id, name] : byId) {
        const bool inRun = id + run >= byId.size();
        if (inRun && !shared.empty()) {
            ++s.entries.back().runLength;
            s.bytes[name] = shared;
            continue;
        }
        const std::string tile = "tile " + name;
        s.entries.push_back({id, s.data.size(), tile.size(), 1});
        s.data += tile;
        s.bytes[name] = tile;
        if (inRun)
            shared = tile;
    }
    return s;
}

class PmtilesPlugin : public testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(plugin_.LoadError(), ""); }

    std::string Save(const std::string& name, const std::string& contents) {
        const std::string path = dir_ / name;
        WriteFile(path, contents);
        return path;
    }

    LoadedPlugin plugin_{PMTILES_PLUGIN};
    TempDir dir_;
};

// Both peer-written archives, against the tile list a second reader made.
TEST_F(PmtilesPlugin, ListsAndHandsOutThePeerWrittenArchivesAsTheirTileListsSay) {
    for (const char* archive : {"stamen-toner-raster-z3", "test_fixture_1"}) {
        SCOPED_TRACE(archive);
        const auto expected = ReadTileList(kFixtures + archive + ".tiles");
        ASSERT_FALSE(expected.empty());
        Action action(plugin_);
        ASSERT_TRUE(action.Open(kFixtures + archive + ".pmtiles")) << action.ErrorText();
        std::vector<Plate> plates;
        ASSERT_EQ(action.Enumerate(&plates), kDone) << action.ErrorText();
        ASSERT_EQ(plates.size(), expected.size());
        std::set<std::string> seen;
        for (size_t i = 0; i < plates.size(); ++i) {
            const Plate& plate = plates[i];
            SCOPED_TRACE(plate.name);
            ASSERT_EQ(expected.count(plate.name), 1u);
            EXPECT_TRUE(seen.insert(plate.name).second);
            EXPECT_EQ(plate.size, expected.at(plate.name).size);
            EXPECT_EQ(plate.number, static_cast<int32_t>(i + 1));
            if (i > 0) {
                EXPECT_LE(plates[i - 1].name.size(), plate.name.size()) << "listed in zoom order";
            }
            std::string bytes;
            ASSERT_EQ(action.GetPlateData(plate.name, &bytes), kDone) << action.ErrorText();
            EXPECT_EQ(bytes.size(), plate.size);
            EXPECT_EQ(Crc(bytes), expected.at(plate.name).crc);
        }
    }
}

TEST_F(PmtilesPlugin, RasterPlatesAreImagesTheStoredBytesAsTheyAre) {
    Action action(plugin_);
    ASSERT_TRUE(action.Open(kFixtures + "stamen-toner-raster-z3.pmtiles")) << action.ErrorText();
    for (const char* name : {"t", "tqs", "tsrq"}) {
        std::string bytes;
        ASSERT_EQ(action.GetPlateData(name, &bytes), kDone) << action.ErrorText();
        QImage image;
        ASSERT_TRUE(image.loadFromData(reinterpret_cast<const uchar*>(bytes.data()), static_cast<int>(bytes.size())))
            << name;
        EXPECT_EQ(image.size(), QSize(256, 256)) << name;
    }
    // The vector archive keeps its tiles gzip-compressed: handed out so.
    ASSERT_TRUE(action.Open(kFixtures + "test_fixture_1.pmtiles")) << action.ErrorText();
    std::string bytes;
    ASSERT_EQ(action.GetPlateData("t", &bytes), kDone) << action.ErrorText();
    EXPECT_EQ(bytes.substr(0, 2), "\x1f\x8b");
}

// Leaf directories, a run reaching across a zoom boundary, and both
// directory compressions, against what the writer put in.
TEST_F(PmtilesPlugin, ReadsLeafDirectoriesAndRuns) {
    struct Case {
        const char* what;
        pmtiles_writer::Options options;
    };
    const Case cases[] = {
        {"root only, gzip", {true, 0, 2}},
        {"leaves of 7 entries, gzip", {true, 7, 2}},
        {"leaves of 1 entry, uncompressed", {false, 1, 2}},
    };
    // Zoom 0 to 4 (341 tiles); the last 30 (of zoom 4) share one entry.
    const Synthetic tiles = MakeTiles(4, 30);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path =
            Save("synthetic.pmtiles", pmtiles_writer::ArchiveHead(tiles.entries, tiles.data.size(), c.options) + tiles.data);
        Action action(plugin_);
        ASSERT_TRUE(action.Open(path)) << action.ErrorText();
        std::vector<Plate> plates;
        ASSERT_EQ(action.Enumerate(&plates), kDone) << action.ErrorText();
        ASSERT_EQ(plates.size(), tiles.bytes.size());
        std::set<std::string> names;
        for (const Plate& plate : plates) {
            ASSERT_EQ(tiles.bytes.count(plate.name), 1u) << plate.name;
            EXPECT_EQ(plate.size, tiles.bytes.at(plate.name).size()) << plate.name;
            names.insert(plate.name);
        }
        EXPECT_EQ(names.size(), plates.size());
        // Lookups in reverse order, so every leaf is read again.
        for (auto it = tiles.bytes.rbegin(); it != tiles.bytes.rend(); ++it) {
            std::string bytes;
            ASSERT_EQ(action.GetPlateData(it->first, &bytes), kDone) << it->first << ": " << action.ErrorText();
            EXPECT_EQ(bytes, it->second);
        }
        for (const size_t stopAt : {1u, 100u}) {
            EXPECT_EQ(action.Enumerate(&plates, stopAt), kAborted);
            EXPECT_EQ(plates.size(), stopAt);
        }
    }
}

// The worked example of the format's description: 12/3423/1763 is id 19078479.
TEST_F(PmtilesPlugin, NamesTilesByTheirHilbertIds) {
    ASSERT_EQ(pmtiles_writer::TileId(12, 3423, 1763), 19078479u);
    const std::vector<pmtiles_writer::Entry> entries = {{1, 0, 1, 1}, {4, 1, 1, 1}, {19078479, 2, 1, 1}};
    const std::string path = Save("ids.pmtiles", pmtiles_writer::ArchiveHead(entries, 3) + "abc");
    Action action(plugin_);
    ASSERT_TRUE(action.Open(path)) << action.ErrorText();
    std::vector<Plate> plates;
    ASSERT_EQ(action.Enumerate(&plates), kDone) << action.ErrorText();
    ASSERT_EQ(plates.size(), 3u);
    EXPECT_EQ(plates[0].name, plate_key::Name({1, 0, 0}));
    EXPECT_EQ(plates[1].name, plate_key::Name({1, 1, 0}));
    EXPECT_EQ(plates[2].name, plate_key::Name({12, 3423, 1763}));
    std::string bytes;
    ASSERT_EQ(action.GetPlateData(plates[2].name, &bytes), kDone) << action.ErrorText();
    EXPECT_EQ(bytes, "c");
}

// A run that reaches past the next entry ends there, in the root as in a
// leaf: the listing names the plates a lookup finds, no more.
TEST_F(PmtilesPlugin, CutsARunAtTheNextEntry) {
    const std::vector<pmtiles_writer::Entry> entries = {{1, 0, 1, 10}, {4, 1, 1, 1}};
    for (const size_t leafSize : {0u, 1u}) {
        SCOPED_TRACE(leafSize);
        const std::string path =
            Save("runs.pmtiles", pmtiles_writer::ArchiveHead(entries, 2, {true, leafSize, 2}) + "ab");
        Action action(plugin_);
        ASSERT_TRUE(action.Open(path)) << action.ErrorText();
        std::vector<Plate> plates;
        ASSERT_EQ(action.Enumerate(&plates), kDone) << action.ErrorText();
        ASSERT_EQ(plates.size(), 4u);
        const std::string expected[] = {"a", "a", "a", "b"};
        for (size_t i = 0; i < plates.size(); ++i) {
            std::string bytes;
            ASSERT_EQ(action.GetPlateData(plates[i].name, &bytes), kDone) << plates[i].name << ": " << action.ErrorText();
            EXPECT_EQ(bytes, expected[i]) << plates[i].name;
        }
        EXPECT_EQ(plates[3].name, plate_key::Name({1, 1, 0}));
        std::string bytes;
        EXPECT_EQ(action.GetPlateData(plate_key::Name({2, 0, 0}), &bytes), kFailed) << "id 5 is in no run";
    }
}

// The archive's header bounds its tile data; a plate beyond is damage.
TEST_F(PmtilesPlugin, RefusesPlateDataOutsideTheTileData) {
    const std::vector<pmtiles_writer::Entry> entries = {{0, 0, 2, 1}, {1, 2, 5, 1}};
    const std::string path = Save("short.pmtiles", pmtiles_writer::ArchiveHead(entries, 4) + "abcd");
    Action action(plugin_);
    ASSERT_TRUE(action.Open(path)) << action.ErrorText();
    std::string bytes;
    ASSERT_EQ(action.GetPlateData("t", &bytes), kDone) << action.ErrorText();
    EXPECT_EQ(bytes, "ab");
    EXPECT_EQ(action.GetPlateData("tq", &bytes), kFailed);
    EXPECT_NE(action.ErrorText().find("Plate \"tq\" lies outside the tile data"), std::string::npos)
        << action.ErrorText();
}

std::string Patched(std::string bytes, size_t at, const std::string& with) {
    bytes.replace(at, with.size(), with);
    return bytes;
}

TEST_F(PmtilesPlugin, RefusesArchivesItCannotReadAndSaysWhy) {
    const std::string stamen = ReadFile(kFixtures + "stamen-toner-raster-z3.pmtiles");
    ASSERT_EQ(stamen.size(), 716052u);
    struct Case {
        std::string path;
        const char* text;
    };
    const Case cases[] = {
        {kFixtures + "empty.pmtiles", "The file is empty: not a PMTiles archive"},
        {kFixtures + "invalid.pmtiles", "Not a PMTiles archive"},
        {kFixtures + "invalid_v4.pmtiles", "PMTiles version 4 is not supported"},
        {Save("v2.pmtiles", std::string("PM\x02\x00", 4) + std::string(600, '\0')), "PMTiles version 2 is not supported"},
        {Save("head.pmtiles", stamen.substr(0, 100)), "Truncated PMTiles archive: the header has 100 of 127 bytes"},
        {Save("cut.pmtiles", stamen.substr(0, 300000)), "Truncated PMTiles archive: 300000 bytes, the tile data ends"},
        {Save("brotli.pmtiles", Patched(stamen, 97, "\x03")), "compressed with brotli are not supported"},
        {Save("root.pmtiles", Patched(stamen, 127 + 20, std::string(20, 'x'))), "Bad PMTiles root directory"},
        {Save("noroot.pmtiles", Patched(stamen, 16, std::string(8, '\0'))), "no root directory"},
    };
    Action action(plugin_);
    for (const Case& c : cases) {
        EXPECT_FALSE(action.Open(c.path)) << c.path;
        EXPECT_NE(action.ErrorText().find(c.text), std::string::npos) << c.path << ": " << action.ErrorText();
    }
}

// Damage behind the root: the listing and the lookup stop with a text,
// never loop.
TEST_F(PmtilesPlugin, ReportsDamagedLeafDirectories) {
    const Synthetic tiles = MakeTiles(3, 1);
    // Uncompressed leaves of 10 entries; the first leaf's entry count (its
    // first byte) says 100 instead.
    std::string cutLeaf = pmtiles_writer::ArchiveHead(tiles.entries, tiles.data.size(), {false, 10, 2}) + tiles.data;
    uint64_t leafOffset = 0;
    for (int i = 7; i >= 0; --i)
        leafOffset = leafOffset << 8 | static_cast<uint8_t>(cutLeaf[40 + static_cast<size_t>(i)]);
    ASSERT_EQ(cutLeaf[leafOffset], 10);
    cutLeaf[leafOffset] = static_cast<char>(100);

    // A root of one leaf entry whose leaf section is the root itself.
    std::string self = pmtiles_writer::ArchiveHead({{0, 0, 1, 1}}, 1, {false, 0, 2}) + "x";
    const std::string selfRoot = pmtiles_writer::EncodeDirectory({{0, 0, 5, 0}});
    ASSERT_EQ(selfRoot.size(), 5u);
    ASSERT_EQ(self.substr(127, 5), pmtiles_writer::EncodeDirectory({{0, 0, 1, 1}})) << "the layout must stay";
    self.replace(127, 5, selfRoot);
    pmtiles_writer::PutU64(&self, 40, 127);
    pmtiles_writer::PutU64(&self, 48, 5);

    struct Case {
        const char* what;
        std::string archive;
        const char* text;
    };
    const Case cases[] = {
        {"a leaf claiming more entries than it holds", cutLeaf,
         "Bad PMTiles leaf directory at byte 0: it is too short for its 100 entries"},
        {"a leaf that is its own parent", self, "leaf directories nest too deeply"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Action action(plugin_);
        ASSERT_TRUE(action.Open(Save("damaged.pmtiles", c.archive))) << action.ErrorText();
        std::vector<Plate> plates;
        EXPECT_EQ(action.Enumerate(&plates), kFailed);
        EXPECT_NE(action.ErrorText().find(c.text), std::string::npos) << action.ErrorText();
        std::string bytes;
        EXPECT_EQ(action.GetPlateData("t", &bytes), kFailed);
        EXPECT_NE(action.ErrorText().find(c.text), std::string::npos) << action.ErrorText();
    }
}

// The 85 tiles of zoom 0 to 3, the last entry running for 2^40 tiles: a
// header that bounds the tiles (by its deepest zoom or its count of
// addressed tiles) makes the archive damaged, never a listing without end.
TEST_F(PmtilesPlugin, RefusesARunBeyondWhatTheHeaderAddresses) {
    Synthetic tiles = MakeTiles(3, 1);
    ASSERT_EQ(tiles.bytes.size(), 85u);
    tiles.entries.back().runLength = uint64_t{1} << 40;
    struct Case {
        const char* what;
        uint8_t maxZoom;
        uint64_t addressed; // 0: not given
        const char* text;
    };
    const Case cases[] = {
        {"past the deepest zoom", 3, 85, "reaches past its deepest zoom 3"},
        {"past the deepest zoom, no count", 3, 0, "reaches past its deepest zoom 3"},
        {"more than addressed", 30, 85, "address more than the 85 tiles"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::string archive = pmtiles_writer::ArchiveHead(tiles.entries, tiles.data.size()) + tiles.data;
        archive[101] = static_cast<char>(c.maxZoom);
        pmtiles_writer::PutU64(&archive, 72, c.addressed);
        Action action(plugin_);
        ASSERT_TRUE(action.Open(Save("endless.pmtiles", archive))) << action.ErrorText();
        std::vector<Plate> plates;
        // The bound on the callbacks keeps a failing run finite.
        EXPECT_EQ(action.Enumerate(&plates, 100000), kFailed);
        EXPECT_LE(plates.size(), 85u);
        EXPECT_NE(action.ErrorText().find(c.text), std::string::npos) << action.ErrorText();
        std::string bytes;
        EXPECT_EQ(action.GetPlateData(plate_key::Name({2, 0, 0}), &bytes), kDone) << action.ErrorText();
    }
    // Looked up, a tile of the run is damage too.
    std::string archive = pmtiles_writer::ArchiveHead(tiles.entries, tiles.data.size()) + tiles.data;
    archive[101] = 3;
    Action action(plugin_);
    ASSERT_TRUE(action.Open(Save("endless.pmtiles", archive))) << action.ErrorText();
    std::string bytes;
    EXPECT_EQ(action.GetPlateData(plate_key::Name({5, 0, 0}), &bytes), kFailed);
    EXPECT_NE(action.ErrorText().find("deepest zoom"), std::string::npos) << action.ErrorText();
}

} // namespace
} // namespace storage_test
