// The MBTiles metadata table through the metadata extension: its rows as
// they are, written as single name/value rows.
#include "mbtiles_storage.h"

namespace mbtiles {

namespace {

bool HasMetadataTable(sqlite3* db) {
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db, "SELECT 1 FROM sqlite_master WHERE name = 'metadata' AND type IN ('table', 'view')",
                           -1, &stmt, nullptr) != SQLITE_OK)
        return false;
    const bool found = sqlite3_step(stmt) == SQLITE_ROW;
    sqlite3_finalize(stmt);
    return found;
}

} // namespace

uint32_t Storage::ReadMetadata(MetadataCallback callback, void* cookie) {
    if (!db_)
        return Fail("The storage is not open");
    FollowSqlite();
    if (schemaPending_ || !HasMetadataTable(db_))
        return Empty;
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db_, "SELECT name, value FROM metadata", -1, &stmt, nullptr) != SQLITE_OK)
        return FailSql("Cannot read the metadata");
    uint32_t result = Empty;
    int rc;
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
        const auto* key = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0));
        const auto* value = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 1));
        // A row without a name describes nothing the contract can name.
        if (!key || !*key)
            continue;
        result = Done;
        if (!callback(cookie, key, value ? value : "")) {
            result = Aborted;
            break;
        }
    }
    if (rc != SQLITE_ROW && rc != SQLITE_DONE)
        result = FailSql("Cannot read the metadata");
    sqlite3_finalize(stmt);
    FollowSqlite();
    return result;
}

uint32_t Storage::WriteMetadata(const char* key, const char* value) {
    if (!db_)
        return Fail("The storage is not open");
    if (readOnly_)
        return Fail(fileName_ + " is read-only: its metadata cannot be changed");
    FollowSqlite();
    if (!value && (schemaPending_ || !HasMetadataTable(db_)))
        return Empty;
    if (const uint32_t begun = BeginWrite("Cannot start changing the metadata"); begun != Done)
        return begun;
    // The key's rows are replaced as one step inside the batch: a failure
    // halfway leaves the key as it was.
    if (!Exec("SAVEPOINT ulmora_metadata"))
        return FailSql("Cannot change the metadata");
    bool ok = Exec("CREATE TABLE IF NOT EXISTS metadata (name TEXT, value TEXT)");
    sqlite3_stmt* stmt = nullptr;
    if (ok && sqlite3_prepare_v2(db_, "DELETE FROM metadata WHERE name = ?1", -1, &stmt, nullptr) == SQLITE_OK) {
        sqlite3_bind_text(stmt, 1, key, -1, SQLITE_STATIC);
        ok = sqlite3_step(stmt) == SQLITE_DONE;
    } else {
        ok = false;
    }
    sqlite3_finalize(stmt);
    const bool removed = ok && sqlite3_changes(db_) > 0;
    if (ok && value) {
        stmt = nullptr;
        ok = sqlite3_prepare_v2(db_, "INSERT INTO metadata (name, value) VALUES (?1, ?2)", -1, &stmt, nullptr) ==
             SQLITE_OK;
        if (ok) {
            sqlite3_bind_text(stmt, 1, key, -1, SQLITE_STATIC);
            sqlite3_bind_text(stmt, 2, value, -1, SQLITE_STATIC);
            ok = sqlite3_step(stmt) == SQLITE_DONE;
        }
        sqlite3_finalize(stmt);
    }
    if (!ok) {
        const uint32_t failed = FailSql("Cannot change the metadata");
        if (InTransaction()) {
            Exec("ROLLBACK TO ulmora_metadata");
            Exec("RELEASE ulmora_metadata");
        }
        FollowSqlite();
        return failed;
    }
    Exec("RELEASE ulmora_metadata");
    // Metadata changes are few and expected on disk at once: the batch,
    // with any plates pending in it, is committed now.
    ++batchCount_;
    if (!CommitBatch())
        return Failed;
    // Readers of another program kept the commit from ending: the change
    // is not on disk yet (the next commit or Close writes it), so it is not
    // answered Done.
    if (InTransaction())
        return Fail("Another program reads " + fileName_ + ": the change is written with the next one or on closing");
    return value || removed ? Done : Empty;
}

} // namespace mbtiles
