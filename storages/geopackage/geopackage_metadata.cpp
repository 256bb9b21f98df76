// The pyramid's description through the metadata extension: every non-null
// column of its gpkg_contents and gpkg_tile_matrix_set rows, named
// "table.column" as the format names them, and the zoom levels its
// gpkg_tile_matrix describes.
//
// Keys WriteMetadata accepts (a null value clears the column):
//   gpkg_contents.identifier   the pyramid's name, as readers list it; unique
//                              among the file's contents
//   gpkg_contents.description  a text about it
//   gpkg_contents.min_x, gpkg_contents.min_y,
//   gpkg_contents.max_x, gpkg_contents.max_y
//                              its bounds, a number in metres of the
//                              pyramid's system (EPSG:3857, Web Mercator);
//                              stored plates still widen them
// Every other key the reading reports is fixed: gpkg_contents.table_name,
// .data_type and .srs_id name the pyramid, .last_change is set with every
// change, gpkg_tile_matrix_set.* is the tiling that makes the tiles plates,
// gpkg_tile_matrix.zoom_level follows the plates stored. Setting or clearing
// one of them, or a key of no column, is refused with a text.
// An empty file (a new GeoPackage) gets its tables with the first key set;
// its pyramid has no identifier or description until one is set, and is
// named after the file on closing when nothing named it.
#include "geopackage_storage.h"

#include "message_text.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

namespace geopackage {

namespace {

// Reports every non-null column of the rows `sql` (bound to the pyramid)
// gives, as "prefix.column". Done, Empty (no row), Aborted or Failed.
uint32_t ReportRow(sqlite3* db, const char* sql, const std::string& table, const char* prefix,
                   MetadataCallback callback, void* cookie, std::string* error) {
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr) != SQLITE_OK) {
        *error = std::string("Cannot read ") + prefix + ": " + sqlite3_errmsg(db);
        return Failed;
    }
    sqlite3_bind_text(stmt, 1, table.data(), static_cast<int>(table.size()), SQLITE_STATIC);
    uint32_t result = Empty;
    int rc = sqlite3_step(stmt);
    if (rc == SQLITE_ROW) {
        result = Done;
        for (int column = 0; column < sqlite3_column_count(stmt); ++column) {
            const auto* value = reinterpret_cast<const char*>(sqlite3_column_text(stmt, column));
            if (!value)
                continue;
            const std::string key = std::string(prefix) + "." + sqlite3_column_name(stmt, column);
            if (!callback(cookie, key.c_str(), value)) {
                result = Aborted;
                break;
            }
        }
    } else if (rc != SQLITE_DONE) {
        *error = std::string("Cannot read ") + prefix + ": " + sqlite3_errmsg(db);
        result = Failed;
    }
    sqlite3_finalize(stmt);
    return result;
}

// The gpkg_contents column a key may change, or null.
const char* WritableColumn(const char* key) {
    static constexpr const char* kColumns[] = {"identifier", "description", "min_x", "min_y", "max_x", "max_y"};
    static constexpr const char kPrefix[] = "gpkg_contents.";
    if (std::strncmp(key, kPrefix, sizeof kPrefix - 1) != 0)
        return nullptr;
    for (const char* column : kColumns)
        if (std::strcmp(key + sizeof kPrefix - 1, column) == 0)
            return column;
    return nullptr;
}

// Why a key the reading reports cannot be changed; empty for other keys.
std::string FixedReason(const std::string& key) {
    if (key == "gpkg_contents.table_name" || key == "gpkg_contents.data_type" || key == "gpkg_contents.srs_id")
        return "it names the pyramid the plates are";
    if (key == "gpkg_contents.last_change")
        return "it is set with every change";
    if (key.rfind("gpkg_tile_matrix_set.", 0) == 0)
        return "the tiling makes the tiles plates";
    if (key == "gpkg_tile_matrix.zoom_level")
        return "it follows the plates stored";
    return {};
}

bool IsBound(const char* column) { return column[0] == 'm'; }

} // namespace

uint32_t Storage::WriteMetadata(const char* key, const char* value) {
    if (!db_)
        return Fail("The storage is not open");
    const char* column = WritableColumn(key);
    if (!column) {
        const std::string reason = FixedReason(key);
        if (!reason.empty())
            return Fail(std::string(key).substr(0, 40) + " cannot be changed: " + reason);
        return Fail("Unknown key " + message_text::Quoted(key, 16) +
                    "; gpkg_contents' identifier, description, min_x...max_y can change");
    }
    double bound = 0;
    if (value && IsBound(column)) {
        char* end = nullptr;
        errno = 0;
        bound = std::strtod(value, &end);
        if (end == value || *end != '\0' || errno == ERANGE || !std::isfinite(bound))
            return Fail(std::string(key) + " takes a number of metres, not \"" + std::string(value).substr(0, 20) + "\"");
    }
    if (readOnly_)
        return Fail(fileName_ + " is read-only: its metadata cannot be changed");
    FollowSqlite();
    if (schemaPending_ && !value)
        return Empty;
    Arm();
    if (!inBatch_ && !BeginBatch())
        return FailSql("Cannot start changing the metadata");
    if (schemaPending_ && !CreateSchemaInBatch()) {
        const uint32_t failed = FailSql("Cannot make the GeoPackage's tables");
        if (InTransaction())
            Exec("ROLLBACK");
        BatchLost();
        return failed;
    }
    // One statement: a refused value (an identifier another table has)
    // leaves the row, and the batch, as they were.
    const std::string sql = std::string("UPDATE gpkg_contents SET ") + column + " = ?2 WHERE table_name = ?1" +
                            (value ? "" : std::string(" AND ") + column + " IS NOT NULL");
    sqlite3_stmt* stmt = nullptr;
    bool ok = sqlite3_prepare_v2(db_, sql.c_str(), -1, &stmt, nullptr) == SQLITE_OK;
    if (ok) {
        sqlite3_bind_text(stmt, 1, table_.data(), static_cast<int>(table_.size()), SQLITE_STATIC);
        if (!value)
            sqlite3_bind_null(stmt, 2);
        else if (IsBound(column))
            sqlite3_bind_double(stmt, 2, bound);
        else
            sqlite3_bind_text(stmt, 2, value, -1, SQLITE_STATIC);
        ok = sqlite3_step(stmt) == SQLITE_DONE;
    }
    sqlite3_finalize(stmt);
    const bool changed = ok && sqlite3_changes(db_) > 0;
    if (!ok) {
        const uint32_t failed = FailSql("Cannot change the metadata");
        FollowSqlite();
        // A batch begun for this change alone is ended, so that no write
        // lock stays on the file (and an empty file stays empty).
        if (inBatch_ && batchChanges_ == 0) {
            Exec("ROLLBACK");
            BatchLost();
        }
        return failed;
    }
    // Metadata changes are few and expected on disk at once: the batch,
    // with any plates pending in it, is committed now.
    ++batchChanges_;
    if (!CommitBatch())
        return Failed;
    // Readers of another program kept the commit from ending: the change
    // is not on disk yet (the next commit or Close writes it), so it is not
    // answered Done.
    if (inBatch_)
        return Fail("Another program reads " + fileName_ + ": the change is written with the next one or on closing");
    return value || changed ? Done : Empty;
}

uint32_t Storage::ReadMetadata(MetadataCallback callback, void* cookie) {
    if (!db_)
        return Fail("The storage is not open");
    FollowSqlite();
    if (schemaPending_)
        return Empty;
    Arm();
    std::string error;
    uint32_t result = ReportRow(db_, "SELECT * FROM gpkg_contents WHERE table_name = ?1", table_, "gpkg_contents",
                                callback, cookie, &error);
    if (result == Failed)
        return Fail(error);
    if (result == Aborted)
        return Aborted;
    const uint32_t set = ReportRow(db_, "SELECT * FROM gpkg_tile_matrix_set WHERE table_name = ?1", table_,
                                   "gpkg_tile_matrix_set", callback, cookie, &error);
    if (set == Failed)
        return Fail(error);
    if (set == Aborted)
        return Aborted;
    if (set == Done)
        result = Done;
    if (!zooms_.empty()) {
        std::string levels;
        for (const uint32_t z : zooms_)
            levels += (levels.empty() ? "" : ",") + std::to_string(z);
        if (!callback(cookie, "gpkg_tile_matrix.zoom_level", levels.c_str()))
            return Aborted;
        result = Done;
    }
    return result;
}

} // namespace geopackage
