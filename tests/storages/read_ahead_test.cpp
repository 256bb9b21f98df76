// The MBTiles listing's read-ahead file layer: the same bytes as SQLite's own
// layer, nothing stale after another connection changed the file, and no
// registration left behind once its last user is gone.
#include "read_ahead.h"
#include "sqlite_db.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <unistd.h>

namespace {

using mbtiles::ReadAheadUse;
using storage_test::SqliteDb;

class ReadAhead : public ::testing::Test {
protected:
    void SetUp() override {
        path_ = (std::filesystem::temp_directory_path() / ("read_ahead_" + std::to_string(getpid()) + ".db")).string();
        Remove();
    }
    void TearDown() override { Remove(); }
    void Remove() {
        for (const char* suffix : {"", "-wal", "-shm", "-journal"})
            std::filesystem::remove(path_ + suffix);
    }
    // Rows with blobs of many sizes, so that pages hold varying numbers of
    // rows and several megabytes are read ahead.
    void Make(const char* journalMode) {
        SqliteDb db(path_);
        db.Exec(std::string("PRAGMA journal_mode = ") + journalMode);
        // A table before it puts the root of t far from the file's start,
        // where a reader turns to it without reading ahead.
        db.Exec("CREATE TABLE f (data BLOB)");
        db.Exec("WITH RECURSIVE i(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM i WHERE n < 1000) "
                "INSERT INTO f SELECT randomblob(2000) FROM i");
        db.Exec("CREATE TABLE t (n INTEGER, data BLOB)");
        db.Exec("WITH RECURSIVE i(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM i WHERE n < 60000) "
                "INSERT INTO t SELECT n, randomblob(n % 300) FROM i");
    }
    // A digest of every row's bytes, read by `db` in one transaction.
    static uint64_t Digest(sqlite3* db, int from = 0) {
        sqlite3_stmt* stmt = nullptr;
        EXPECT_EQ(sqlite3_prepare_v2(db, "SELECT n, data FROM t WHERE rowid > ?1 ORDER BY rowid", -1, &stmt, nullptr),
                  SQLITE_OK);
        sqlite3_bind_int(stmt, 1, from);
        uint64_t digest = 14695981039346656037u; // FNV-1a
        const auto add = [&digest](unsigned char byte) { digest = (digest ^ byte) * 1099511628211u; };
        while (sqlite3_step(stmt) == SQLITE_ROW) {
            add(static_cast<unsigned char>(sqlite3_column_int64(stmt, 0)));
            const auto* bytes = static_cast<const unsigned char*>(sqlite3_column_blob(stmt, 1));
            for (int i = 0; i < sqlite3_column_bytes(stmt, 1); ++i)
                add(bytes[i]);
        }
        sqlite3_finalize(stmt);
        return digest;
    }
    sqlite3* OpenThroughLayer() {
        sqlite3* db = nullptr;
        EXPECT_EQ(sqlite3_open_v2(path_.c_str(), &db, SQLITE_OPEN_READONLY, ReadAheadUse::kReadAheadVfs), SQLITE_OK);
        return db;
    }

    std::string path_;
};

TEST_F(ReadAhead, ReadsWhatSqlitesOwnLayerReadsAndSeesLaterChanges) {
    for (const char* mode : {"DELETE", "WAL"}) {
        SCOPED_TRACE(mode);
        Make(mode);
        ReadAheadUse use;
        ASSERT_TRUE(use.Available());
        SqliteDb writer(path_);
        sqlite3* reader = OpenThroughLayer();
        EXPECT_EQ(Digest(reader), Digest(writer.get()));

        // The last rows rewritten in place (the same sizes) and, in WAL mode,
        // copied back into the file: the pages the layer read last now hold
        // other bytes, and the reader turns to them first.
        writer.Exec("UPDATE t SET data = randomblob(n % 300) WHERE n > 59950");
        writer.Exec("PRAGMA wal_checkpoint(TRUNCATE)");
        const uint64_t changed = Digest(writer.get(), 59950);
        EXPECT_EQ(Digest(reader, 59950), changed);
        sqlite3_close(reader);
        Remove();
    }
}

TEST_F(ReadAhead, IsRegisteredOnlyWhileInUse) {
    EXPECT_EQ(sqlite3_vfs_find(ReadAheadUse::kReadAheadVfs), nullptr);
    {
        ReadAheadUse first;
        {
            ReadAheadUse second;
            EXPECT_NE(sqlite3_vfs_find(ReadAheadUse::kReadAheadVfs), nullptr);
        }
        EXPECT_NE(sqlite3_vfs_find(ReadAheadUse::kReadAheadVfs), nullptr) << "the first use goes on";
    }
    EXPECT_EQ(sqlite3_vfs_find(ReadAheadUse::kReadAheadVfs), nullptr);
    EXPECT_EQ(sqlite3_vfs_find(nullptr), sqlite3_vfs_find("unix")) << "the default layer is untouched";
}

} // namespace
