// The pyramid's description through the metadata extension: every non-null
// column of its gpkg_contents and gpkg_tile_matrix_set rows, named
// "table.column" as the format names them, the zoom levels its
// gpkg_tile_matrix describes, then the items of the metadata documents GDAL
// keeps for the file and for the pyramid in gpkg_metadata (see
// gdal_metadata.h), named as they are ("attribution", "version", ...).
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
//   any key not beginning with "gpkg_"
//                              an item of the pyramid's GDAL metadata
//                              document (reference scope 'table'), where
//                              GDAL writes and reads a raster's metadata;
//                              the document, its tables and the metadata
//                              extension's rows are made when missing, and
//                              a document left without items is removed.
//                              IDENTIFIER, DESCRIPTION and ZOOM_LEVEL are
//                              refused: GDAL takes them from the columns.
// Every other key the reading reports is fixed: gpkg_contents.table_name,
// .data_type and .srs_id name the pyramid, .last_change is set with every
// change, gpkg_tile_matrix_set.* is the tiling that makes the tiles plates,
// gpkg_tile_matrix.zoom_level follows the plates stored. Setting or clearing
// one of them, or another "gpkg_" key, is refused with a text.
// An empty file (a new GeoPackage) gets its tables with the first key set;
// its pyramid has no identifier or description until one is set, and is
// named after the file on closing when nothing named it.
#include "geopackage_storage.h"

#include "gdal_metadata.h"
#include "message_text.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <strings.h>

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

// Keys GDAL keeps out of its document: it answers them from the columns.
bool GdalColumnKey(const char* key) {
    return strcasecmp(key, "IDENTIFIER") == 0 || strcasecmp(key, "DESCRIPTION") == 0 ||
           strcasecmp(key, "ZOOM_LEVEL") == 0 || strncasecmp(key, "GPKG_METADATA_ITEM_", 19) == 0;
}

bool HasTable(sqlite3* db, const char* name) {
    sqlite3_stmt* stmt = nullptr;
    bool found = false;
    if (sqlite3_prepare_v2(db, "SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = ?1", -1, &stmt,
                           nullptr) == SQLITE_OK) {
        sqlite3_bind_text(stmt, 1, name, -1, SQLITE_STATIC);
        found = sqlite3_step(stmt) == SQLITE_ROW;
    }
    sqlite3_finalize(stmt);
    return found;
}

// The GDAL documents that describe the pyramid: the file's (reference
// scope 'geopackage') first, then the pyramid's own, as GDAL reads them.
constexpr const char* kGdalDocuments =
    "SELECT md.metadata FROM gpkg_metadata md JOIN gpkg_metadata_reference mdr ON md.id = mdr.md_file_id"
    " WHERE md.md_standard_uri = 'http://gdal.org' AND md.mime_type = 'text/xml'"
    " AND (mdr.reference_scope = 'geopackage'"
    " OR (mdr.reference_scope = 'table' AND lower(mdr.table_name) = lower(?1)))"
    " ORDER BY mdr.reference_scope = 'table', md.id LIMIT 1000";

// The pyramid's own document, the one GDAL rewrites.
constexpr const char* kGdalTableDocument =
    "SELECT md.id, md.metadata FROM gpkg_metadata md JOIN gpkg_metadata_reference mdr ON md.id = mdr.md_file_id"
    " WHERE md.md_scope = 'dataset' AND md.md_standard_uri = 'http://gdal.org' AND md.mime_type = 'text/xml'"
    " AND mdr.reference_scope = 'table' AND lower(mdr.table_name) = lower(?1) ORDER BY md.id LIMIT 1";

// The metadata extension's tables (as GDAL makes them) and its rows.
constexpr const char* kMetadataSchema =
    "CREATE TABLE IF NOT EXISTS gpkg_metadata (id INTEGER CONSTRAINT m_pk PRIMARY KEY ASC NOT NULL,"
    " md_scope TEXT NOT NULL DEFAULT 'dataset', md_standard_uri TEXT NOT NULL,"
    " mime_type TEXT NOT NULL DEFAULT 'text/xml', metadata TEXT NOT NULL DEFAULT '');"
    "CREATE TABLE IF NOT EXISTS gpkg_metadata_reference (reference_scope TEXT NOT NULL, table_name TEXT,"
    " column_name TEXT, row_id_value INTEGER,"
    " timestamp DATETIME NOT NULL DEFAULT (strftime('%Y-%m-%dT%H:%M:%fZ','now')),"
    " md_file_id INTEGER NOT NULL, md_parent_id INTEGER,"
    " CONSTRAINT crmr_mfi_fk FOREIGN KEY (md_file_id) REFERENCES gpkg_metadata(id),"
    " CONSTRAINT crmr_mpi_fk FOREIGN KEY (md_parent_id) REFERENCES gpkg_metadata(id));"
    "CREATE TABLE IF NOT EXISTS gpkg_extensions (table_name TEXT, column_name TEXT,"
    " extension_name TEXT NOT NULL, definition TEXT NOT NULL, scope TEXT NOT NULL,"
    " CONSTRAINT ge_tce UNIQUE (table_name, column_name, extension_name));"
    "INSERT INTO gpkg_extensions (table_name, column_name, extension_name, definition, scope)"
    " SELECT t, NULL, 'gpkg_metadata', 'http://www.geopackage.org/spec120/#extension_metadata', 'read-write'"
    " FROM (SELECT 'gpkg_metadata' AS t UNION ALL SELECT 'gpkg_metadata_reference')"
    " WHERE NOT EXISTS (SELECT 1 FROM gpkg_extensions e WHERE e.table_name = t"
    " AND e.column_name IS NULL AND e.extension_name = 'gpkg_metadata')";

// Sets or removes an item of the pyramid's GDAL document, inside the open
// batch. An error text, empty when it went well; *changed says whether
// anything was.
std::string WriteGdalItem(sqlite3* db, const std::string& table, const char* key, const char* value, bool* changed) {
    *changed = false;
    const auto sqlError = [&](const char* what) { return std::string(what) + ": " + sqlite3_errmsg(db); };
    const bool tables = HasTable(db, "gpkg_metadata") && HasTable(db, "gpkg_metadata_reference");
    if (!tables && !value)
        return {};
    int64_t id = -1;
    GdalMetadata document;
    if (tables) {
        sqlite3_stmt* stmt = nullptr;
        if (sqlite3_prepare_v2(db, kGdalTableDocument, -1, &stmt, nullptr) != SQLITE_OK)
            return sqlError("Cannot read gpkg_metadata");
        sqlite3_bind_text(stmt, 1, table.data(), static_cast<int>(table.size()), SQLITE_STATIC);
        const int rc = sqlite3_step(stmt);
        bool parsed = true;
        if (rc == SQLITE_ROW) {
            id = sqlite3_column_int64(stmt, 0);
            const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 1));
            parsed = ParseGdalMetadata(text ? text : "", &document);
        }
        sqlite3_finalize(stmt);
        if (rc != SQLITE_ROW && rc != SQLITE_DONE)
            return sqlError("Cannot read gpkg_metadata");
        if (!parsed)
            return "The pyramid's GDAL metadata document (gpkg_metadata " + std::to_string(id) +
                   ") is no XML it can read: left as it is";
    }
    if (!SetGdalMetadataItem(&document, key, value))
        return {};
    if (!tables && sqlite3_exec(db, kMetadataSchema, nullptr, nullptr, nullptr) != SQLITE_OK)
        return sqlError("Cannot make the metadata tables");
    sqlite3_stmt* stmt = nullptr;
    bool ok = true;
    if (document.items.empty() && document.otherDomains.empty()) {
        // As GDAL does: no document rather than an empty one.
        ok = sqlite3_prepare_v2(db, "DELETE FROM gpkg_metadata_reference WHERE md_file_id = ?1", -1, &stmt, nullptr) ==
             SQLITE_OK;
        if (ok) {
            sqlite3_bind_int64(stmt, 1, id);
            ok = sqlite3_step(stmt) == SQLITE_DONE;
        }
        sqlite3_finalize(stmt);
        stmt = nullptr;
        ok = ok && sqlite3_prepare_v2(db, "DELETE FROM gpkg_metadata WHERE id = ?1", -1, &stmt, nullptr) == SQLITE_OK;
        if (ok) {
            sqlite3_bind_int64(stmt, 1, id);
            ok = sqlite3_step(stmt) == SQLITE_DONE;
        }
        sqlite3_finalize(stmt);
        if (!ok)
            return sqlError("Cannot change gpkg_metadata");
        *changed = true;
        return {};
    }
    const std::string xml = WriteGdalMetadata(document);
    if (id >= 0) {
        ok = sqlite3_prepare_v2(db, "UPDATE gpkg_metadata SET metadata = ?2 WHERE id = ?1", -1, &stmt, nullptr) ==
             SQLITE_OK;
        if (ok) {
            sqlite3_bind_int64(stmt, 1, id);
            sqlite3_bind_text(stmt, 2, xml.data(), static_cast<int>(xml.size()), SQLITE_STATIC);
            ok = sqlite3_step(stmt) == SQLITE_DONE;
        }
        sqlite3_finalize(stmt);
    } else {
        ok = sqlite3_prepare_v2(db,
                                "INSERT INTO gpkg_metadata (md_scope, md_standard_uri, mime_type, metadata)"
                                " VALUES ('dataset', 'http://gdal.org', 'text/xml', ?1)",
                                -1, &stmt, nullptr) == SQLITE_OK;
        if (ok) {
            sqlite3_bind_text(stmt, 1, xml.data(), static_cast<int>(xml.size()), SQLITE_STATIC);
            ok = sqlite3_step(stmt) == SQLITE_DONE;
        }
        sqlite3_finalize(stmt);
        stmt = nullptr;
        ok = ok && sqlite3_prepare_v2(db,
                                      "INSERT INTO gpkg_metadata_reference (reference_scope, table_name, md_file_id)"
                                      " VALUES ('table', ?1, last_insert_rowid())",
                                      -1, &stmt, nullptr) == SQLITE_OK;
        if (ok) {
            sqlite3_bind_text(stmt, 1, table.data(), static_cast<int>(table.size()), SQLITE_STATIC);
            ok = sqlite3_step(stmt) == SQLITE_DONE;
        }
        sqlite3_finalize(stmt);
    }
    if (!ok)
        return sqlError("Cannot change gpkg_metadata");
    *changed = true;
    return {};
}

// Reports the items of the GDAL documents that describe the pyramid.
uint32_t ReportGdalItems(sqlite3* db, const std::string& table, MetadataCallback callback, void* cookie,
                         std::string* error) {
    if (!HasTable(db, "gpkg_metadata") || !HasTable(db, "gpkg_metadata_reference"))
        return Empty;
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db, kGdalDocuments, -1, &stmt, nullptr) != SQLITE_OK) {
        *error = std::string("Cannot read gpkg_metadata: ") + sqlite3_errmsg(db);
        return Failed;
    }
    sqlite3_bind_text(stmt, 1, table.data(), static_cast<int>(table.size()), SQLITE_STATIC);
    uint32_t result = Empty;
    int rc = SQLITE_DONE;
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0));
        GdalMetadata document;
        // A document of another writer's making is not ours to report.
        if (!ParseGdalMetadata(text ? text : "", &document))
            continue;
        for (const auto& [key, value] : document.items) {
            if (strncasecmp(key.c_str(), "gpkg_", 5) == 0)
                continue; // would read as a column
            result = Done;
            if (!callback(cookie, key.c_str(), value.c_str())) {
                sqlite3_finalize(stmt);
                return Aborted;
            }
        }
    }
    sqlite3_finalize(stmt);
    if (rc != SQLITE_DONE) {
        *error = std::string("Cannot read gpkg_metadata: ") + sqlite3_errmsg(db);
        return Failed;
    }
    return result;
}

} // namespace

uint32_t Storage::WriteMetadata(const char* key, const char* value) {
    if (!db_)
        return Fail("The storage is not open");
    const char* column = WritableColumn(key);
    if (!column) {
        const std::string reason = FixedReason(key);
        if (!reason.empty())
            return Fail(std::string(key).substr(0, 40) + " cannot be changed: " + reason);
        if (strncasecmp(key, "gpkg_", 5) == 0)
            return Fail("Unknown key " + message_text::Quoted(key, 16) +
                        "; gpkg_contents' identifier, description, min_x...max_y can change");
        if (GdalColumnKey(key))
            return Fail(std::string(key).substr(0, 24) +
                        " is GDAL's name of a column: set gpkg_contents.identifier or .description");
    }
    double bound = 0;
    if (value && column && IsBound(column)) {
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
    bool ok = true;
    bool changed = false;
    std::string error;
    if (!column) {
        error = WriteGdalItem(db_, table_, key, value, &changed);
        ok = error.empty();
    } else {
        // One statement: a refused value (an identifier another table has)
        // leaves the row, and the batch, as they were.
        const std::string sql = std::string("UPDATE gpkg_contents SET ") + column + " = ?2 WHERE table_name = ?1" +
                                (value ? "" : std::string(" AND ") + column + " IS NOT NULL");
        sqlite3_stmt* stmt = nullptr;
        ok = sqlite3_prepare_v2(db_, sql.c_str(), -1, &stmt, nullptr) == SQLITE_OK;
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
        changed = ok && sqlite3_changes(db_) > 0;
    }
    if (!ok) {
        const uint32_t failed = error.empty() ? FailSql("Cannot change the metadata") : Fail(error);
        FollowSqlite();
        // A batch begun for this change alone is ended, so that no write
        // lock stays on the file (and an empty file stays empty).
        if (inBatch_ && batchChanges_ == 0) {
            Exec("ROLLBACK");
            BatchLost();
        }
        return failed;
    }
    if (!changed && !value && inBatch_ && batchChanges_ == 0) {
        // Nothing to remove: no write lock stays for nothing.
        Exec("ROLLBACK");
        BatchLost();
        return Empty;
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
        for (const uint32_t z : zooms_) {
            if (!levels.empty())
                levels += ',';
            levels += std::to_string(z);
        }
        if (!callback(cookie, "gpkg_tile_matrix.zoom_level", levels.c_str()))
            return Aborted;
        result = Done;
    }
    const uint32_t items = ReportGdalItems(db_, table_, callback, cookie, &error);
    if (items == Failed)
        return Fail(error);
    if (items == Aborted)
        return Aborted;
    return items == Done ? static_cast<uint32_t>(Done) : result;
}

} // namespace geopackage
