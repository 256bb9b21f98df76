// The pyramid's description through the metadata extension: every non-null
// column of its gpkg_contents and gpkg_tile_matrix_set rows, named
// "table.column" as the format names them, and the zoom levels its
// gpkg_tile_matrix describes.
#include "geopackage_storage.h"

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

} // namespace

uint32_t Storage::ReadMetadata(MetadataCallback callback, void* cookie) {
    if (!db_)
        return Fail("The storage is not open");
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
