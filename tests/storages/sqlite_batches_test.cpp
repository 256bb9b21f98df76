// The plugins that keep plates in SQLite files change them in batches. A
// batch that cannot commit, or a file held by another program, must leave
// the plugin's answers and the file in agreement: a plate answered Failed
// is not changed on disk, and the plugin goes on from SQLite's real state.

#include "plate_key.h"
#include "plugin_host.h"
#include "sqlite_db.h"

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <set>

namespace storage_test {
namespace {

constexpr uint32_t kDone = Done, kFailed = Failed;

// Files this process writes may not grow past `bytes` while it lives: a
// full disk to SQLite, made without root. SIGXFSZ is ignored, so a write
// past the limit fails with EFBIG instead of ending the process.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        previousHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &previous_);
        rlimit limit = previous_;
        limit.rlim_cur = bytes;
        EXPECT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &previous_);
        std::signal(SIGXFSZ, previousHandler_);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit previous_{};
    void (*previousHandler_)(int) = SIG_DFL;
};

struct SqlitePlugin {
    const char* label;
    const char* library;
    const char* file;    // the storage's file name
    const char* fixture; // copied as the storage; null: an empty file
    const char* table;   // the tile table, for a second connection's locks
};

std::ostream& operator<<(std::ostream& out, const SqlitePlugin& plugin) { return out << plugin.label; }

// Plate i of zoom 7, i below 16384: room for more than a batch of either
// plugin.
std::string Name(uint32_t i) { return plate_key::Name({7, i % 128, i / 128}); }

class SqliteBatches : public testing::TestWithParam<SqlitePlugin> {
protected:
    void SetUp() override {
        ASSERT_EQ(plugin_.LoadError(), "");
        if (GetParam().fixture)
            std::filesystem::copy_file(GetParam().fixture, path_);
        else
            WriteFile(path_, "");
    }

    // Stores plates 0 to count - 1 through the plugin and closes.
    void StorePlates(uint32_t count) {
        Action action(plugin_);
        ASSERT_TRUE(action.Open(path_)) << action.ErrorText();
        for (uint32_t i = 0; i < count; ++i)
            ASSERT_EQ(action.Store(Name(i), "plate " + std::to_string(i)), kDone) << action.ErrorText();
    }

    // The zoom 7 plates a fresh action lists: what is on disk.
    std::set<std::string> OnDisk() {
        Action action(plugin_);
        EXPECT_TRUE(action.Open(path_)) << action.ErrorText();
        std::vector<Plate> plates;
        action.Enumerate(&plates);
        std::set<std::string> names;
        for (const Plate& plate : plates)
            if (plate.name.size() == 8)
                names.insert(plate.name);
        return names;
    }

    LoadedPlugin plugin_{GetParam().library};
    TempDir dir_;
    const std::string path_ = dir_ / GetParam().file;
};

// A full disk in the middle of a batch: SQLite rolls the batch back. The
// plates answered Failed are not stored, the plates stored were answered
// Done, and once there is room again the plugin stores as before.
TEST_P(SqliteBatches, AFullDiskLeavesNoPlateAnsweredFailedOnDisk) {
    StorePlates(1);
    struct stat info {};
    ASSERT_EQ(stat(path_.c_str(), &info), 0);
    const std::string data(2000, 'd');
    std::set<std::string> failed;
    {
        Action action(plugin_);
        ASSERT_TRUE(action.Open(path_)) << action.ErrorText();
        {
            // Room for about a hundred plates, while a batch holds thousands.
            FileSizeLimit limit(static_cast<rlim_t>(info.st_size) + (256 << 10));
            for (uint32_t i = 1; i < 1600; ++i)
                if (action.Store(Name(i), data) != kDone) {
                    failed.insert(Name(i));
                    // SQLite's own reason, read before anything reset it.
                    EXPECT_EQ(action.ErrorText().find("not an error"), std::string::npos) << action.ErrorText();
                }
            action.Close(); // the last batch fails here, unanswered
        }
        ASSERT_FALSE(failed.empty()) << "the limit did not bite";
    }
    const std::set<std::string> stored = OnDisk();
    for (const std::string& name : failed)
        EXPECT_EQ(stored.count(name), 0u) << name << " answered Failed but stored";

    // Room again: the plugin goes on from SQLite's state.
    {
        Action action(plugin_);
        ASSERT_TRUE(action.Open(path_)) << action.ErrorText();
        for (uint32_t i = 2000; i < 2010; ++i)
            EXPECT_EQ(action.Store(Name(i), data), kDone) << action.ErrorText();
    }
    const std::set<std::string> after = OnDisk();
    for (uint32_t i = 2000; i < 2010; ++i)
        EXPECT_EQ(after.count(Name(i)), 1u) << Name(i);
}

// A second connection holding the file: a reader (shared lock) or a writer
// (reserved lock). Every plate answered Done is deleted on disk and every
// plate answered Failed is not; the waiting is bounded for the whole run,
// not paid again for every plate; once the file is free, deleting works.
TEST_P(SqliteBatches, AFileHeldByAnotherConnectionGivesAnswersThatMatchTheDisk) {
    StorePlates(8800);
    struct Holder {
        const char* label;
        std::string sql;
        uint32_t plates; // deleted while it holds the file
    };
    const Holder holders[] = {
        // More than a batch (8192 plates in the MBTiles plugin), so that a
        // batch would have to commit.
        {"reader", std::string("BEGIN; SELECT count(*) FROM \"") + GetParam().table + "\";", 8400},
        {"writer", "BEGIN IMMEDIATE;", 100},
    };
    uint32_t next = 0; // the first plate not yet deleted
    for (const Holder& holder : holders) {
        SCOPED_TRACE(holder.label);
        const std::set<std::string> before = OnDisk();
        std::set<std::string> done;
        {
            SqliteDb other(path_);
            sqlite3_stmt* stmt = nullptr;
            // The reader's statement is stepped and kept, which holds its lock.
            const std::string sql = holder.sql;
            const size_t split = sql.find(';') + 1;
            other.Exec(sql.substr(0, split));
            if (split < sql.size()) {
                ASSERT_EQ(sqlite3_prepare_v2(other.get(), sql.c_str() + split, -1, &stmt, nullptr), SQLITE_OK);
                ASSERT_EQ(sqlite3_step(stmt), SQLITE_ROW);
            }
            Action action(plugin_);
            ASSERT_TRUE(action.Open(path_)) << action.ErrorText();
            const auto start = std::chrono::steady_clock::now();
            const uint32_t end = next + holder.plates;
            for (uint32_t i = next; i < end; ++i)
                if (action.Delete(Name(i)) == kDone)
                    done.insert(Name(i));
            // Bounded, far below a wait for each plate: a guard against
            // hanging, not a speed target.
            EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(60));
            if (done.size() < holder.plates) {
                EXPECT_NE(action.ErrorText().find("locked"), std::string::npos) << action.ErrorText();
            }
            sqlite3_finalize(stmt);
            other.Exec("COMMIT");
            // Free again: the same action deletes at once.
            if (action.Delete(Name(end)) == kDone)
                done.insert(Name(end));
            EXPECT_EQ(done.count(Name(end)), 1u) << action.ErrorText();
        }
        const std::set<std::string> after = OnDisk();
        for (uint32_t i = next; i <= next + holder.plates; ++i)
            EXPECT_EQ(after.count(Name(i)) == 0, done.count(Name(i)) == 1)
                << Name(i) << (done.count(Name(i)) ? " answered Done" : " answered Failed");
        EXPECT_EQ(before.size() - after.size(), done.size());
        next += holder.plates + 1;
    }
}

// The first batch into an empty file makes the GeoPackage's tables: when it
// cannot commit (a full disk), they are undone with its plates, the file is
// a new GeoPackage again, and the same action makes them anew.
TEST(NewGeopackage, AFirstBatchThatFailsLeavesANewGeopackage) {
    LoadedPlugin plugin(GEOPACKAGE_PLUGIN);
    ASSERT_EQ(plugin.LoadError(), "");
    TempDir dir;
    const std::string path = dir / "new.gpkg";
    WriteFile(path, "");
    const auto* table = static_cast<const MetadataExtension*>(
        reinterpret_cast<QueryPluginExtensionFn>(dlsym(dlopen(GEOPACKAGE_PLUGIN, RTLD_NOW | RTLD_NOLOAD),
                                                       "QueryPluginExtension"))(ULMORA_METADATA_EXTENSION));
    ASSERT_NE(table, nullptr);
    Action action(plugin);
    ASSERT_TRUE(action.Open(path)) << action.ErrorText();
    {
        FileSizeLimit limit(4096);
        ASSERT_EQ(action.Store("tq", std::string(2000, 'q')), kDone) << action.ErrorText();
        // A metadata change commits the batch at once.
        EXPECT_EQ(table->WriteMetadata(action.Raw(), "gpkg_contents.description", "full"), kFailed);
        EXPECT_NE(action.ErrorText().find("Committing the changes failed"), std::string::npos) << action.ErrorText();
    }
    std::vector<Plate> plates;
    EXPECT_EQ(action.Enumerate(&plates), static_cast<uint32_t>(Empty)) << action.ErrorText();
    std::string bytes;
    EXPECT_EQ(action.GetPlateData("tq", &bytes), kFailed);
    ASSERT_EQ(action.Store("tr", "second"), kDone) << action.ErrorText();
    ASSERT_EQ(table->WriteMetadata(action.Raw(), "gpkg_contents.description", "room"), kDone) << action.ErrorText();
    action.Close();
    ASSERT_TRUE(action.Open(path)) << action.ErrorText();
    ASSERT_EQ(action.Enumerate(&plates), kDone) << action.ErrorText();
    ASSERT_EQ(plates.size(), 1u);
    EXPECT_EQ(plates[0].name, "tr");
    SqliteDb db(path);
    EXPECT_EQ(db.Int("SELECT count(*) FROM gpkg_contents WHERE description = 'room'"), 1);
}

INSTANTIATE_TEST_SUITE_P(Plugins, SqliteBatches,
                         testing::Values(SqlitePlugin{"mbtiles", MBTILES_PLUGIN, "plates.mbtiles", nullptr, "tiles"},
                                         SqlitePlugin{"geopackage", GEOPACKAGE_PLUGIN, "plates.gpkg",
                                                      FIXTURE_DIR "/geopackage/world.gpkg", "world"},
                                         // An empty file: the first store makes the GeoPackage.
                                         SqlitePlugin{"new_geopackage", GEOPACKAGE_PLUGIN, "plates.gpkg", nullptr,
                                                      "tiles"}),
                         [](const testing::TestParamInfo<SqlitePlugin>& tested) { return std::string(tested.param.label); });

} // namespace
} // namespace storage_test
