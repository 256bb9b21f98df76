// The container extension of the shipped plugins, driven through the
// contract header alone: the table found as a host finds it, the check run
// on sound files of other writers and on archives damaged here, and Abort.
#include "plugin_host.h"
#include "pmtiles_format.h"

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace storage_test {
namespace {

constexpr uint32_t kDone = Done, kAborted = Aborted;

const ContainerExtension* ContainerTable(const char* library) {
    void* handle = dlopen(library, RTLD_NOW | RTLD_LOCAL);
    if (!handle)
        return nullptr;
    auto query = reinterpret_cast<QueryPluginExtensionFn>(dlsym(handle, "QueryPluginExtension"));
    // The handle stays open: the table lives in the library.
    return query ? static_cast<const ContainerExtension*>(query(ULMORA_CONTAINER_EXTENSION)) : nullptr;
}

struct Report {
    std::vector<std::string> findings;
    int calls = 0;
    int stopAt = -1; // the call that answers 0; -1: never

    static uint32_t ULMORA_CALL Add(void* cookie, uint32_t, uint32_t, const char* finding) {
        auto* report = static_cast<Report*>(cookie);
        if (finding)
            report->findings.emplace_back(finding);
        return ++report->calls == report->stopAt ? 0 : 1;
    }
};

// A PMTiles archive of four 10-byte tiles at zoom 1 (ids 1 to 4), whose
// directories are as given: the root's entries, and leaf entries that the
// root's run-length-0 entries point at (offsets into the leaf section).
std::string Archive(const std::string& path, const std::vector<pmtiles::Entry>& root,
                    const std::vector<pmtiles::Entry>& leaf = {}) {
    std::vector<uint8_t> rootBytes, leafBytes;
    pmtiles::EncodeDirectory(root.data(), root.size(), &rootBytes);
    if (!leaf.empty())
        pmtiles::EncodeDirectory(leaf.data(), leaf.size(), &leafBytes);
    const std::string tileData(40, 'x');
    pmtiles::Header header;
    header.rootOffset = pmtiles::kHeaderSize;
    header.rootLength = rootBytes.size();
    header.leafOffset = header.rootOffset + header.rootLength;
    header.leafLength = leafBytes.size();
    header.metadataOffset = header.leafOffset + header.leafLength;
    header.tileDataOffset = header.metadataOffset;
    header.tileDataLength = tileData.size();
    header.addressedTiles = 4;
    header.internalCompression = pmtiles::kNone;
    header.tileCompression = pmtiles::kNone;
    header.tileType = 2; // PNG
    header.maxZoom = 1;
    uint8_t head[pmtiles::kHeaderSize];
    pmtiles::SerializeHeader(header, head);
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(head), sizeof head);
    out.write(reinterpret_cast<const char*>(rootBytes.data()), static_cast<std::streamsize>(rootBytes.size()));
    out.write(reinterpret_cast<const char*>(leafBytes.data()), static_cast<std::streamsize>(leafBytes.size()));
    out << tileData;
    return path;
}

std::string TempPath(const char* name) {
    return (std::filesystem::temp_directory_path() /
            (std::string("ulmora-container-") + std::to_string(getpid()) + "-" + name))
        .string();
}

} // namespace

// Every shipped plugin with a container of its own has the table; a folder
// has none. Only the SQLite formats reclaim space.
TEST(ContainerExtension, EachPluginAnswersForItsFormat) {
    struct Case {
        const char* library;
        bool table;
        bool reclaims;
    };
    for (const Case& c : {Case{MBTILES_PLUGIN, true, true}, Case{GEOPACKAGE_PLUGIN, true, true},
                          Case{PMTILES_PLUGIN, true, false}, Case{FOLDER_PLUGIN, false, false},
                          Case{COMPACT_PLUGIN, false, false}}) {
        SCOPED_TRACE(c.library);
        const ContainerExtension* table = ContainerTable(c.library);
        ASSERT_EQ(table != nullptr, c.table);
        if (!table)
            continue;
        EXPECT_EQ(table->magic, ULMORA_PLUGIN_MAGIC);
        EXPECT_GE(table->size, sizeof(ContainerExtension));
        EXPECT_EQ(table->ReclaimSpace != nullptr, c.reclaims);
    }
}

// Sound files of other writers pass; archives damaged here (they open, and
// their listing stops at the damage) are reported with where it is.
TEST(ContainerExtension, TheCheckFindsDamageAndPassesSoundFiles) {
    using pmtiles::Entry;
    const std::string fixtures = FIXTURE_DIR;
    const std::string outside = TempPath("outside.pmtiles");
    const std::string unordered = TempPath("unordered.pmtiles");
    const std::string lostLeaf = TempPath("leaf.pmtiles");
    Archive(outside, {{1, 0, 10, 1}, {2, 10, 10, 1}, {3, 400, 10, 1}, {4, 30, 10, 1}});
    Archive(unordered, {{1, 0, 10, 1}, {2, 10, 10, 1}, {2, 20, 10, 1}, {4, 30, 10, 1}}); // two entries for id 2
    Archive(lostLeaf, {{1, 0, 0, 0}, {3, 900, 50, 0}}, {{1, 0, 10, 1}, {2, 10, 10, 1}});
    struct Case {
        const char* library;
        std::string file;
        const char* finding; // a text the first finding holds; null: sound
    };
    const std::vector<Case> cases = {
        {MBTILES_PLUGIN, fixtures + "/gdal-world.mbtiles", nullptr},
        {MBTILES_PLUGIN, fixtures + "/grids.mbtiles", nullptr},
        {GEOPACKAGE_PLUGIN, fixtures + "/geopackage/world.gpkg", nullptr},
        {PMTILES_PLUGIN, fixtures + "/pmtiles/stamen-toner-raster-z3.pmtiles", nullptr},
        {PMTILES_PLUGIN, fixtures + "/pmtiles/test_fixture_1.pmtiles", nullptr},
        {PMTILES_PLUGIN, outside, "root directory, entry 3: its tile lies outside the tile data section"},
        {PMTILES_PLUGIN, unordered, "root directory, entry 3: tile ids are out of order"},
        {PMTILES_PLUGIN, lostLeaf, "it lies outside the leaf section"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        const ContainerExtension* table = ContainerTable(c.library);
        ASSERT_NE(table, nullptr);
        LoadedPlugin plugin(c.library);
        ASSERT_EQ(plugin.LoadError(), "");
        Action action(plugin);
        ASSERT_TRUE(action.Open(c.file)) << action.ErrorText();
        Report report;
        ASSERT_EQ(table->CheckContainer(action.Raw(), &Report::Add, &report), kDone) << action.ErrorText();
        EXPECT_GT(report.calls, 0) << "no progress was reported";
        if (!c.finding) {
            EXPECT_EQ(report.findings, std::vector<std::string>{});
        } else {
            ASSERT_FALSE(report.findings.empty());
            EXPECT_NE(report.findings.front().find(c.finding), std::string::npos) << report.findings.front();
        }
        uint64_t fileBytes = 0, freeBytes = 1;
        EXPECT_EQ(table->MeasureSpace(action.Raw(), &fileBytes, &freeBytes), kDone) << action.ErrorText();
        EXPECT_EQ(fileBytes, std::filesystem::file_size(c.file));
        EXPECT_LT(freeBytes, fileBytes);
        // A sound storage lists after the check as before it.
        std::vector<Plate> plates;
        if (!c.finding) {
            EXPECT_EQ(action.Enumerate(&plates), kDone) << action.ErrorText();
        }
    }
    for (const std::string& path : {outside, unordered, lostLeaf})
        std::filesystem::remove(path);
}

// The callback's 0 stops the check at once, with Aborted.
TEST(ContainerExtension, ACallbackAnswering0StopsTheCheck) {
    for (const char* library : {MBTILES_PLUGIN, PMTILES_PLUGIN}) {
        SCOPED_TRACE(library);
        const ContainerExtension* table = ContainerTable(library);
        ASSERT_NE(table, nullptr);
        LoadedPlugin plugin(library);
        Action action(plugin);
        const std::string file = std::string(FIXTURE_DIR) + (library == std::string(MBTILES_PLUGIN)
                                                                 ? "/gdal-world.mbtiles"
                                                                 : "/pmtiles/stamen-toner-raster-z3.pmtiles");
        ASSERT_TRUE(action.Open(file)) << action.ErrorText();
        Report report;
        report.stopAt = 1;
        EXPECT_EQ(table->CheckContainer(action.Raw(), &Report::Add, &report), kAborted);
        EXPECT_EQ(report.calls, 1);
    }
}

} // namespace storage_test
