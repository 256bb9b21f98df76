#include "mbtiles_storage.h"

#include "plate_key.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

namespace mbtiles {

namespace {

// length() reads a blob's size from its record header, never the blob.
constexpr const char* kEnumeratePlain =
    "SELECT rowid, zoom_level, tile_column, tile_row, length(tile_data) FROM tiles";
// Numbered by the map row, which names the plate; images are shared.
constexpr const char* kEnumerateDeduplicated =
    "SELECT map.rowid, map.zoom_level, map.tile_column, map.tile_row, length(images.tile_data)"
    " FROM map LEFT JOIN images ON images.tile_id = map.tile_id";
// A view has no rowid: such plates are numbered in the view's order.
constexpr const char* kEnumerateOtherView =
    "SELECT NULL, zoom_level, tile_column, tile_row, length(tile_data) FROM tiles";

constexpr const char* kSelectTile =
    "SELECT tile_data FROM tiles WHERE zoom_level = ?1 AND tile_column = ?2 AND tile_row = ?3";
constexpr const char* kDeleteTile =
    "DELETE FROM tiles WHERE zoom_level = ?1 AND tile_column = ?2 AND tile_row = ?3";
constexpr const char* kFindMapRow =
    "SELECT rowid, tile_id FROM map WHERE zoom_level = ?1 AND tile_column = ?2 AND tile_row = ?3";
constexpr const char* kDeleteMapRow = "DELETE FROM map WHERE rowid = ?1";
constexpr const char* kDeleteImage = "DELETE FROM images WHERE tile_id = ?1";
constexpr const char* kCountImageUses = "SELECT tile_id, count(*) FROM map GROUP BY tile_id";

std::string LastComponent(const char* path) {
    const char* slash = std::strrchr(path, '/');
    return slash ? slash + 1 : path;
}

// Plate names in messages are cut so the text fits the program's buffer.
std::string Quoted(const char* name) {
    std::string text(name, strnlen(name, 40));
    return "\"" + text + (text.size() == 40 ? "...\"" : "\"");
}

// Resets a statement when leaving a scope, so no read stays open between calls.
class ResetOnExit {
public:
    explicit ResetOnExit(sqlite3_stmt* stmt) : stmt_(stmt) {}
    ~ResetOnExit() {
        sqlite3_reset(stmt_);
        sqlite3_clear_bindings(stmt_);
    }
    ResetOnExit(const ResetOnExit&) = delete;
    ResetOnExit& operator=(const ResetOnExit&) = delete;

private:
    sqlite3_stmt* stmt_;
};

void BindTile(sqlite3_stmt* stmt, uint32_t z, uint32_t x, uint32_t row) {
    sqlite3_bind_int64(stmt, 1, z);
    sqlite3_bind_int64(stmt, 2, x);
    sqlite3_bind_int64(stmt, 3, row);
}

// tile_id may be stored as text, integer or blob; equal values of different
// types are different ids to SQLite, so the type is part of the key.
std::string ImageKey(sqlite3_stmt* stmt, int column) {
    const int type = sqlite3_column_type(stmt, column);
    const void* bytes = type == SQLITE_BLOB ? sqlite3_column_blob(stmt, column)
                                            : static_cast<const void*>(sqlite3_column_text(stmt, column));
    const int length = sqlite3_column_bytes(stmt, column);
    std::string key(1, static_cast<char>('0' + type));
    if (bytes)
        key.append(static_cast<const char*>(bytes), static_cast<size_t>(length));
    return key;
}

bool TableExists(sqlite3* db, const char* name, const char* type) {
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db, "SELECT 1 FROM sqlite_master WHERE name = ?1 AND type = ?2", -1,
                           &stmt, nullptr) != SQLITE_OK)
        return false;
    sqlite3_bind_text(stmt, 1, name, -1, SQLITE_STATIC);
    sqlite3_bind_text(stmt, 2, type, -1, SQLITE_STATIC);
    const bool found = sqlite3_step(stmt) == SQLITE_ROW;
    sqlite3_finalize(stmt);
    return found;
}

} // namespace

bool Statement::Prepare(sqlite3* db, const char* sql) {
    if (stmt_)
        return true;
    return sqlite3_prepare_v3(db, sql, -1, SQLITE_PREPARE_PERSISTENT, &stmt_, nullptr) == SQLITE_OK;
}

void Statement::Finalize() {
    sqlite3_finalize(stmt_);
    stmt_ = nullptr;
}

bool Storage::Open(const char* path) {
    fileName_ = LastComponent(path);
    struct stat info {};
    if (*path == '\0')
        return FailOpen("No MBTiles file given");
    if (stat(path, &info) != 0)
        return FailOpen(fileName_ + ": " + std::strerror(errno));
    if (S_ISDIR(info.st_mode))
        return FailOpen(fileName_ + " is a folder, not an MBTiles file");

    // A file without write bits is opened read-only even for root, who could
    // write it anyway: the owner marked it as not to be changed.
    const bool writable = (info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) && access(path, W_OK) == 0;
    const int flags = (writable ? SQLITE_OPEN_READWRITE : SQLITE_OPEN_READONLY) | SQLITE_OPEN_NOMUTEX;
    if (sqlite3_open_v2(path, &db_, flags, nullptr) != SQLITE_OK) {
        std::string text = fileName_ + ": " + (db_ ? sqlite3_errmsg(db_) : "cannot open");
        Close();
        return FailOpen(std::move(text));
    }
    sqlite3_busy_timeout(db_, 2000);
    // Debian's SQLite zeroes deleted content by default, which doubles the
    // writes of a deletion; map tiles are no secret.
    sqlite3_exec(db_, "PRAGMA secure_delete = OFF", nullptr, nullptr, nullptr);
    readOnly_ = sqlite3_db_readonly(db_, "main") == 1;

    // SQLite reads the file only now: a file of another kind fails here.
    sqlite3_stmt* probe = nullptr;
    int rc = sqlite3_prepare_v2(db_, "SELECT type FROM sqlite_master WHERE name = 'tiles'", -1,
                                &probe, nullptr);
    std::string tilesType;
    if (rc == SQLITE_OK) {
        rc = sqlite3_step(probe);
        if (rc == SQLITE_ROW) {
            tilesType = reinterpret_cast<const char*>(sqlite3_column_text(probe, 0));
            rc = SQLITE_OK;
        } else if (rc == SQLITE_DONE) {
            rc = SQLITE_OK;
        }
    }
    sqlite3_finalize(probe);
    if (rc != SQLITE_OK) {
        std::string text = rc == SQLITE_NOTADB ? fileName_ + " is not an SQLite database"
                                               : fileName_ + ": " + sqlite3_errmsg(db_);
        Close();
        return FailOpen(std::move(text));
    }
    if (tilesType.empty()) {
        Close();
        return FailOpen(fileName_ + " has no tiles table or view: not an MBTiles file");
    }

    const char* enumerateSql = kEnumeratePlain;
    layout_ = Layout::Plain;
    if (tilesType == "view") {
        layout_ = Layout::OtherView;
        enumerateSql = kEnumerateOtherView;
        if (TableExists(db_, "map", "table") && TableExists(db_, "images", "table") &&
            enumerate_.Prepare(db_, kEnumerateDeduplicated) && findMapRow_.Prepare(db_, kFindMapRow)) {
            layout_ = Layout::Deduplicated;
            enumerateSql = kEnumerateDeduplicated;
        } else {
            enumerate_.Finalize();
            findMapRow_.Finalize();
        }
    }
    // Preparing checks the columns too, so a table of another shape fails now.
    if (!enumerate_.Prepare(db_, enumerateSql) || !select_.Prepare(db_, kSelectTile)) {
        std::string text = fileName_ + ": not MBTiles tiles: " + sqlite3_errmsg(db_);
        Close();
        return FailOpen(std::move(text));
    }
    return true;
}

void Storage::Close() {
    if (!db_)
        return;
    if (inTransaction_ && !Exec("COMMIT"))
        Exec("ROLLBACK");
    inTransaction_ = false;
    batchDeletes_ = 0;
    for (Statement* stmt : {&enumerate_, &select_, &deleteTile_, &findMapRow_, &deleteMapRow_,
                            &deleteImage_, &countImageUses_})
        stmt->Finalize();
    sqlite3_close_v2(db_);
    db_ = nullptr;
    imageUsesLoaded_ = false;
    imageUses_.clear();
    data_.clear();
    data_.shrink_to_fit();
}

bool Storage::Exec(const char* sql) {
    return sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

uint32_t Storage::FailSql(const char* what) {
    return Fail(std::string(what) + ": " + sqlite3_errmsg(db_));
}

uint32_t Storage::Enumerate(PlateCallback callback, void* cookie) {
    if (!db_)
        return Fail("The storage is not open");

    // One scan in storage order, sorted by zoom in memory: reading the table
    // through its (zoom, column, row) index instead would jump around the
    // file for every tile, about a third slower even when it is cached.
    struct Row {
        int64_t number;
        uint32_t x;
        uint32_t y; // from the top
        uint32_t size;
        uint32_t z;
    };
    std::vector<Row> rows;
    {
        sqlite3_stmt* stmt = enumerate_.get();
        ResetOnExit reset(stmt);
        int64_t ordinal = 0;
        int rc;
        while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
            ++ordinal;
            const sqlite3_int64 z = sqlite3_column_int64(stmt, 1);
            const sqlite3_int64 x = sqlite3_column_int64(stmt, 2);
            const sqlite3_int64 row = sqlite3_column_int64(stmt, 3);
            // A row outside the tile grid has no plate name: it cannot be listed.
            if (z < 0 || z > plate_key::kMaxZoom || x < 0 || row < 0 || x >> z != 0 || row >> z != 0)
                continue;
            const auto zoom = static_cast<uint32_t>(z);
            const int64_t number =
                sqlite3_column_type(stmt, 0) == SQLITE_NULL ? ordinal : sqlite3_column_int64(stmt, 0);
            rows.push_back({number, static_cast<uint32_t>(x), plate_key::FlipRow(zoom, static_cast<uint32_t>(row)),
                            static_cast<uint32_t>(sqlite3_column_int64(stmt, 4)), zoom});
        }
        if (rc != SQLITE_DONE)
            return FailSql("Reading the tiles failed");
    }
    if (rows.empty())
        return Empty;
    std::stable_sort(rows.begin(), rows.end(), [](const Row& a, const Row& b) { return a.z < b.z; });

    char name[plate_key::kNameBufferSize];
    for (const Row& row : rows) {
        plate_key::Write({row.z, row.x, row.y}, name);
        if (callback(cookie, static_cast<int32_t>(row.number), name, 0, row.size) == 0)
            return Aborted;
    }
    return Done;
}

uint32_t Storage::GetPlateData(const char* name, const void** data, uint32_t* size) {
    if (!db_)
        return Fail("The storage is not open");
    plate_key::Tile tile;
    if (!plate_key::Parse(name, &tile))
        return Fail("Invalid plate name " + Quoted(name));
    sqlite3_stmt* stmt = select_.get();
    ResetOnExit reset(stmt);
    BindTile(stmt, tile.z, tile.x, plate_key::FlipRow(tile.z, tile.y));
    const int rc = sqlite3_step(stmt);
    if (rc == SQLITE_DONE)
        return Fail("No plate " + Quoted(name) + " in " + fileName_);
    if (rc != SQLITE_ROW)
        return FailSql("Reading the plate failed");
    const auto* bytes = static_cast<const unsigned char*>(sqlite3_column_blob(stmt, 0));
    const int length = sqlite3_column_bytes(stmt, 0);
    // Copied because the program reads the block after this call returns,
    // and keeping the statement open would hold a read lock until then.
    data_.assign(bytes, bytes + length);
    *data = data_.data();
    *size = static_cast<uint32_t>(data_.size());
    return data_.empty() ? Empty : Done;
}

uint32_t Storage::Write(const char* name, const void*, uint32_t, uint32_t mode) {
    if (!db_)
        return Fail("The storage is not open");
    if (mode != WriteModeDelete)
        return Fail("Only deleting plates (write mode 2) is supported");
    if (readOnly_)
        return Fail(fileName_ + " is read-only: plates cannot be deleted");
    if (layout_ == Layout::OtherView)
        return Fail(fileName_ + ": tiles is a view of unknown tables; cannot delete");
    plate_key::Tile tile;
    if (!plate_key::Parse(name, &tile))
        return Fail("Invalid plate name " + Quoted(name));
    if (!inTransaction_) {
        if (!Exec("BEGIN IMMEDIATE"))
            return FailSql("Cannot start deleting");
        inTransaction_ = true;
        batchDeletes_ = 0;
        batchStart_ = std::chrono::steady_clock::now();
    }
    const uint32_t row = plate_key::FlipRow(tile.z, tile.y);
    const uint32_t result = layout_ == Layout::Plain ? DeletePlain(tile.z, tile.x, row, name)
                                                     : DeleteDeduplicated(tile.z, tile.x, row, name);
    if (result != Done)
        return result;
    return AfterDelete();
}

uint32_t Storage::DeletePlain(uint32_t z, uint32_t x, uint32_t row, const char* name) {
    if (!deleteTile_.Prepare(db_, kDeleteTile))
        return FailSql("Cannot delete");
    sqlite3_stmt* stmt = deleteTile_.get();
    ResetOnExit reset(stmt);
    BindTile(stmt, z, x, row);
    if (sqlite3_step(stmt) != SQLITE_DONE)
        return FailSql("Deleting the plate failed");
    if (sqlite3_changes(db_) == 0)
        return Fail("No plate " + Quoted(name) + " in " + fileName_);
    return Done;
}

uint32_t Storage::DeleteDeduplicated(uint32_t z, uint32_t x, uint32_t row, const char* name) {
    if (!deleteMapRow_.Prepare(db_, kDeleteMapRow) || !deleteImage_.Prepare(db_, kDeleteImage))
        return FailSql("Cannot delete");
    if (!LoadImageUses())
        return FailSql("Counting the image uses failed");

    sqlite3_stmt* find = findMapRow_.get();
    ResetOnExit resetFind(find);
    BindTile(find, z, x, row);
    const int rc = sqlite3_step(find);
    if (rc == SQLITE_DONE)
        return Fail("No plate " + Quoted(name) + " in " + fileName_);
    if (rc != SQLITE_ROW)
        return FailSql("Finding the plate failed");
    const sqlite3_int64 mapRow = sqlite3_column_int64(find, 0);
    sqlite3_stmt* deleteImage = deleteImage_.get();
    ResetOnExit resetImage(deleteImage);
    sqlite3_bind_value(deleteImage, 1, sqlite3_column_value(find, 1));
    const std::string key = ImageKey(find, 1);

    sqlite3_stmt* deleteMap = deleteMapRow_.get();
    ResetOnExit resetMap(deleteMap);
    sqlite3_bind_int64(deleteMap, 1, mapRow);
    if (sqlite3_step(deleteMap) != SQLITE_DONE)
        return FailSql("Deleting the plate failed");

    auto uses = imageUses_.find(key);
    if (uses != imageUses_.end() && --uses->second > 0)
        return Done;
    if (uses != imageUses_.end())
        imageUses_.erase(uses);
    if (sqlite3_step(deleteImage) != SQLITE_DONE)
        return FailSql("Deleting the plate's image failed");
    return Done;
}

bool Storage::LoadImageUses() {
    if (imageUsesLoaded_)
        return true;
    if (!countImageUses_.Prepare(db_, kCountImageUses))
        return false;
    sqlite3_stmt* stmt = countImageUses_.get();
    ResetOnExit reset(stmt);
    imageUses_.clear();
    int rc;
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW)
        imageUses_[ImageKey(stmt, 0)] = static_cast<uint32_t>(sqlite3_column_int64(stmt, 1));
    imageUsesLoaded_ = rc == SQLITE_DONE;
    return imageUsesLoaded_;
}

uint32_t Storage::AfterDelete() {
    ++batchDeletes_;
    if (batchDeletes_ >= kBatchSize || std::chrono::steady_clock::now() - batchStart_ >= kMaxBatchAge) {
        if (!CommitBatch())
            return FailSql("Committing the deletions failed");
    }
    return Done;
}

bool Storage::CommitBatch() {
    if (!Exec("COMMIT"))
        return false;
    inTransaction_ = false;
    batchDeletes_ = 0;
    return true;
}

} // namespace mbtiles
