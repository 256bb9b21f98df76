// Select -> Duplicates through the core on a GDAL-written MBTiles file with
// sets of equal plates made by SQL, judged against SQLite's own grouping of
// the same blobs; with the real hash and with hashes that collide; with the
// plugin's plate stream and without it (every plate read by name), and
// with a list in another order than the stream's.
#include "plates/SamePlates.h"

#include "CommandOutput.h"
#include "ScriptedOperation.h"
#include "TempFolder.h"
#include "base/ListSelection.h"
#include "base/PlateKey.h"
#include "browse/PlateList.h"
#include "log/Errors.h"
#include "plugins/Plugin.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <sstream>

namespace fs = std::filesystem;

namespace {

std::string Sql(const std::string& database, const std::string& sql)
{
    return CommandOutput("sqlite3 -batch '" + database + "' \"" + sql + "\"");
}

class Lister {
public:
    PlateList plates;
    bool OnPlate(StorageAction*, int32_t number, const char* name, uint32_t, uint32_t size)
    {
        plates.Append(name, number, size);
        return true;
    }
};

uint64_t OneHash(const void*, std::size_t) { return 42; }
// Plates of one size collide, among them the random pair and the set it mimics.
uint64_t SizeHash(const void*, std::size_t size) { return size; }

struct HashCase {
    const char* label;
    PlateHash hash;
    std::size_t keepBytes; // 0: every plate compared is read again
    bool stream = true;    // false: the plugin's plate stream is not used
    bool reversed = false; // the list in the reverse of the storage's order
};

void PrintTo(const HashCase& c, std::ostream* out) { *out << c.label; }

class SamePlatesTest : public ::testing::TestWithParam<HashCase> {
protected:
    void SetUp() override
    {
        world = folder.File("world.mbtiles");
        fs::copy_file(FIXTURE_MBTILES, world);
        // Four sets: the world tile and three of zoom 2; two of zoom 1; a
        // plate of zoom 2 and a copy; and two random blobs of that plate's
        // size, so that sets of one size hold different bytes.
        Sql(world, "UPDATE tiles SET tile_data = (SELECT tile_data FROM tiles WHERE zoom_level = 0)"
                   "  WHERE zoom_level = 2 AND tile_column = 1 AND tile_row < 3;"
                   "UPDATE tiles SET tile_data = (SELECT tile_data FROM tiles WHERE zoom_level = 1 AND tile_column = 0"
                   "  AND tile_row = 0) WHERE zoom_level = 1 AND tile_column = 1 AND tile_row = 1;"
                   "CREATE TEMP TABLE noise AS SELECT randomblob(length(tile_data)) AS d FROM tiles"
                   "  WHERE zoom_level = 2 AND tile_column = 0 AND tile_row = 0;"
                   "UPDATE tiles SET tile_data = (SELECT d FROM noise) WHERE zoom_level = 2 AND tile_column = 3"
                   "  AND tile_row < 2;"
                   "UPDATE tiles SET tile_data = (SELECT tile_data FROM tiles WHERE zoom_level = 2 AND tile_column = 0"
                   "  AND tile_row = 0) WHERE zoom_level = 2 AND tile_column = 3 AND tile_row = 3;");
        static const PluginHostInfo kHost{ULMORA_PLUGIN_MAGIC, sizeof(PluginHostInfo), ULMORA_PLUGIN_HOST_VALUE, 0};
        plugin = LoadPlugin(MBTILES_PLUGIN, &kHost, PluginTypeStorage);
        ASSERT_NE(plugin, nullptr) << ErrorText(kCurrentError);
        action = plugin->CreateAction();
        ASSERT_TRUE(action != nullptr && action->Open(world.c_str())) << ErrorText(kCurrentError);
        ASSERT_EQ(action->Enumerate(0, StorageAction::PlateHandler::Bind<&Lister::OnPlate>(&lister), 2),
                  uint32_t{Done});
        ASSERT_EQ(lister.plates.Count(), 21);
        ASSERT_NE(plugin->PlateStream(), nullptr);
        if (!GetParam().stream)
            plugin->SetPlateStream(nullptr);
        if (GetParam().reversed) {
            std::vector<int32_t> order(static_cast<std::size_t>(lister.plates.Count()));
            for (std::size_t i = 0; i < order.size(); ++i)
                order[i] = static_cast<int32_t>(order.size() - 1 - i);
            lister.plates.Reorder(order);
        }
    }
    void TearDown() override
    {
        if (action != nullptr)
            plugin->FreeAction(action);
    }
    // SQLite's sets of equal blobs: each grouped plate's name and its set.
    std::map<std::string, std::string> SqliteSets()
    {
        std::map<std::string, std::string> sets;
        std::istringstream lines(Sql(world, "SELECT t.zoom_level, t.tile_column, t.tile_row, g.id FROM tiles t JOIN"
                                            " (SELECT tile_data AS d, min(rowid) AS id FROM tiles GROUP BY tile_data"
                                            "  HAVING count(*) > 1) g ON t.tile_data = g.d;"));
        std::string line;
        while (std::getline(lines, line)) {
            int z = 0;
            unsigned x = 0, row = 0;
            char id[32] = {};
            if (std::sscanf(line.c_str(), "%d|%u|%u|%31s", &z, &x, &row, id) == 4)
                sets[PlateKey::FromTile({z, x, (1u << z) - 1 - row})] = id;
        }
        return sets;
    }

    TempFolder folder;
    std::string world;
    std::unique_ptr<StoragePlugin> plugin;
    StorageAction* action = nullptr;
    Lister lister;
    ScriptedOperation operation;
    PRPeriod period{1000, &AlwaysElapsedClock};
};

TEST_P(SamePlatesTest, FindsAllButTheFirstOfEachOfSqlitesSets)
{
    const std::map<std::string, std::string> sets = SqliteSets();
    ASSERT_EQ(sets.size(), 10u) << "the fixture's sets: 4 + 2 + 2 + 2 plates";
    ListSelection every(lister.plates.Count());
    every.SelectAll();
    const SameResult result =
        FindDuplicatePlates({*action, lister.plates, every, operation, period}, GetParam().hash, GetParam().keepBytes);
    EXPECT_FALSE(result.aborted);
    EXPECT_EQ(result.sets, 4);
    EXPECT_EQ(result.unreadable, 0);
    ListSelection found(lister.plates.Count());
    for (int index : result.found)
        found.SetSelected(index, true);
    EXPECT_EQ(found.SelectedCount(), 6);
    // Walking the list in order: the first plate of each set is kept, every
    // later one found, and no plate outside the sets.
    std::map<std::string, int> seen;
    for (int i = 0; i < lister.plates.Count(); ++i) {
        PlateItem item;
        ASSERT_TRUE(lister.plates.At(i, &item));
        const auto set = sets.find(item.name);
        if (set == sets.end()) {
            EXPECT_FALSE(found.IsSelected(i)) << item.name << " is in no set";
            continue;
        }
        EXPECT_EQ(found.IsSelected(i), seen[set->second]++ > 0) << item.name;
    }
    EXPECT_EQ(operation.ends, 1);
}

// Abort in the first pass (from the stream too) and among the comparisons.
TEST_P(SamePlatesTest, AnAbortedSearchFindsNothing)
{
    ListSelection every(lister.plates.Count());
    every.SelectAll();
    for (int at : {5, 25}) { // in the hashing pass, and among the comparisons
        operation.abortAt = {at};
        operation.abortQueries = 0;
        const SameResult result = FindDuplicatePlates({*action, lister.plates, every, operation, period}, nullptr, 0);
        EXPECT_TRUE(result.aborted) << at;
        EXPECT_TRUE(result.found.empty()) << at;
        EXPECT_EQ(result.sets, 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Hashes, SamePlatesTest,
                         ::testing::Values(HashCase{"Xxh3", nullptr, kDuplicateKeepBytes},
                                           HashCase{"Xxh3ReadAgain", nullptr, 0},
                                           HashCase{"EveryPlateCollides", &OneHash, kDuplicateKeepBytes},
                                           HashCase{"EveryPlateCollidesReadAgain", &OneHash, 0},
                                           HashCase{"SizesCollide", &SizeHash, kDuplicateKeepBytes},
                                           HashCase{"SizesCollideReadAgain", &SizeHash, 0},
                                           HashCase{"Xxh3ByName", nullptr, kDuplicateKeepBytes, false},
                                           HashCase{"SizesCollideByName", &SizeHash, 0, false},
                                           HashCase{"Xxh3ListReversed", nullptr, kDuplicateKeepBytes, true, true},
                                           HashCase{"SizesCollideListReversed", &SizeHash, 0, true, true},
                                           HashCase{"ByNameListReversed", nullptr, kDuplicateKeepBytes, false, true}),
                         [](const ::testing::TestParamInfo<HashCase>& param) { return param.param.label; });

} // namespace
