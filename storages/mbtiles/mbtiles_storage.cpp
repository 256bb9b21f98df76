#include "mbtiles_storage.h"

#include "message_text.h"
#include "plate_stream.h"
#include "plate_key.h"

#include <nettle/md5.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

namespace mbtiles {

using message_text::FileName;
using message_text::Quoted;
using sqlite_helpers::BindTile;
using sqlite_helpers::HandOutBlob;
using sqlite_helpers::ResetOnExit;

namespace {

// The listing reads five columns: number, zoom, column, row (from the
// bottom) and the data's length; length() reads a blob's size from its
// record header, never the blob. Plain tables are numbered by rowid.
constexpr const char* kRangePlain =
    "SELECT rowid, zoom_level, tile_column, tile_row, length(tile_data) FROM tiles"
    " WHERE rowid >= ?1 AND rowid < ?2";
constexpr const char* kCollectPlain =
    "SELECT ulmora_tiles(rowid, zoom_level, tile_column, tile_row, length(tile_data)) FROM tiles"
    " WHERE rowid >= ?1";
constexpr const char* kOrderedPlain =
    "SELECT rowid, zoom_level, tile_column, tile_row, length(tile_data) FROM tiles"
    " ORDER BY zoom_level, tile_column, tile_row";
// Numbered by the map row, which names the plate; images are shared. A map
// row without an image (files with interaction grids have them) is no plate,
// as in the tiles view. CROSS JOIN keeps map the outer table.
#define ULMORA_DEDUP_COLUMNS                                                                          \
    "SELECT map.rowid, map.zoom_level, map.tile_column, map.tile_row, length(images.tile_data)"    \
    " FROM map CROSS JOIN images ON images.tile_id = map.tile_id"
constexpr const char* kRangeDeduplicated = ULMORA_DEDUP_COLUMNS " WHERE map.rowid >= ?1 AND map.rowid < ?2";
constexpr const char* kCollectDeduplicated =
    "SELECT ulmora_tiles(map.rowid, map.zoom_level, map.tile_column, map.tile_row,"
    " length(images.tile_data)) FROM map CROSS JOIN images ON images.tile_id = map.tile_id"
    " WHERE map.rowid >= ?1";
constexpr const char* kOrderedDeduplicated =
    ULMORA_DEDUP_COLUMNS " ORDER BY map.zoom_level, map.tile_column, map.tile_row";
#undef ULMORA_DEDUP_COLUMNS
// A view has no rowid: such plates are numbered in the view's own order.
constexpr const char* kOrderedOtherView =
    "SELECT n, zoom_level, tile_column, tile_row, size FROM (SELECT row_number() OVER () AS n,"
    " zoom_level, tile_column, tile_row, length(tile_data) AS size FROM tiles)"
    " ORDER BY zoom_level, tile_column, tile_row";

// The plate stream: every row with its data, numbered as the listing
// numbers it, in rowid order (a view's own order), SQLite's cheapest walk.
constexpr const char* kStreamPlain =
    "SELECT rowid, zoom_level, tile_column, tile_row, tile_data FROM tiles ORDER BY rowid";
constexpr const char* kStreamDeduplicated =
    "SELECT map.rowid, map.zoom_level, map.tile_column, map.tile_row, images.tile_data"
    " FROM map CROSS JOIN images ON images.tile_id = map.tile_id ORDER BY map.rowid";
// The same walks for the worker of a large table, as one aggregate over the
// rows (see plate_stream.h); NOT INDEXED keeps the walk in rowid order.
constexpr const char* kStreamPlainCollected =
    "SELECT ulmora_stream(rowid, zoom_level, tile_column, tile_row, tile_data) FROM tiles NOT INDEXED";
constexpr const char* kStreamDeduplicatedCollected =
    "SELECT ulmora_stream(map.rowid, map.zoom_level, map.tile_column, map.tile_row, images.tile_data)"
    " FROM map NOT INDEXED CROSS JOIN images ON images.tile_id = map.tile_id";
constexpr const char* kStreamOtherView =
    "SELECT row_number() OVER (), zoom_level, tile_column, tile_row, tile_data FROM tiles";

constexpr const char* kSelectTile =
    "SELECT tile_data FROM tiles WHERE zoom_level = ?1 AND tile_column = ?2 AND tile_row = ?3";
constexpr const char* kSelectPlainTile =
    "SELECT rowid, tile_data FROM tiles WHERE zoom_level = ?1 AND tile_column = ?2 AND tile_row = ?3";
constexpr const char* kFollowPlain =
    "SELECT rowid, zoom_level, tile_column, tile_row, tile_data FROM tiles WHERE rowid > ?1 ORDER BY rowid";
constexpr const char* kDeleteTile =
    "DELETE FROM tiles WHERE zoom_level = ?1 AND tile_column = ?2 AND tile_row = ?3";
constexpr const char* kFindMapRow =
    "SELECT rowid, tile_id FROM map WHERE zoom_level = ?1 AND tile_column = ?2 AND tile_row = ?3";
constexpr const char* kDeleteMapRow = "DELETE FROM map WHERE rowid = ?1";
constexpr const char* kDeleteImage = "DELETE FROM images WHERE tile_id = ?1";
constexpr const char* kCountImageUses = "SELECT tile_id, count(*) FROM map GROUP BY tile_id";
constexpr const char* kStoreTile =
    "INSERT OR REPLACE INTO tiles (zoom_level, tile_column, tile_row, tile_data) VALUES (?1, ?2, ?3, ?4)";
constexpr const char* kUpdateTile =
    "UPDATE tiles SET tile_data = ?4 WHERE zoom_level = ?1 AND tile_column = ?2 AND tile_row = ?3";
constexpr const char* kFindImage = "SELECT tile_data FROM images WHERE tile_id = ?1";
constexpr const char* kAddImage = "INSERT INTO images (tile_data, tile_id) VALUES (?1, ?2)";
constexpr const char* kAddMapRow =
    "INSERT INTO map (zoom_level, tile_column, tile_row, tile_id) VALUES (?1, ?2, ?3, ?4)";
constexpr const char* kSetMapImage = "UPDATE map SET tile_id = ?2 WHERE rowid = ?1";

// What an empty file becomes with its first store, inside that store's
// batch: the plain layout with its unique index.
constexpr const char* kNewSchema =
    "PRAGMA application_id = 0x4D504258;" // 'MPBX', the MBTiles file type
    "CREATE TABLE metadata (name TEXT, value TEXT);"
    "CREATE UNIQUE INDEX name ON metadata (name);"
    "CREATE TABLE tiles (zoom_level INTEGER, tile_column INTEGER, tile_row INTEGER, tile_data BLOB);"
    "CREATE UNIQUE INDEX tile_index ON tiles (zoom_level, tile_column, tile_row);";

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

// The first integer of the first row of `sql` with `value` bound to ?1;
// false without a row or when it is no integer.
bool QueryInt(sqlite3* db, const char* sql, int64_t value, int64_t* out) {
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr) != SQLITE_OK)
        return false;
    sqlite3_bind_int64(stmt, 1, value);
    const bool found = sqlite3_step(stmt) == SQLITE_ROW && sqlite3_column_type(stmt, 0) == SQLITE_INTEGER;
    if (found)
        *out = sqlite3_column_int64(stmt, 0);
    sqlite3_finalize(stmt);
    return found;
}

// The count `sql` gives with `table` bound to ?1; 0 when it fails.
int64_t CountFor(sqlite3* db, const char* sql, const char* table) {
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr) != SQLITE_OK)
        return 0;
    sqlite3_bind_text(stmt, 1, table, -1, SQLITE_STATIC);
    const int64_t count = sqlite3_step(stmt) == SQLITE_ROW ? sqlite3_column_int64(stmt, 0) : 0;
    sqlite3_finalize(stmt);
    return count;
}

// The image's content id, as other writers of the deduplicated layout make
// it: the hex MD5 of the data.
std::string ContentId(const void* data, uint32_t size) {
    md5_ctx context;
    md5_init(&context);
    md5_update(&context, size, static_cast<const uint8_t*>(data));
    uint8_t digest[MD5_DIGEST_SIZE];
    md5_digest(&context, sizeof digest, digest);
    static constexpr char kHex[] = "0123456789abcdef";
    std::string id;
    for (const uint8_t byte : digest) {
        id += kHex[byte >> 4];
        id += kHex[byte & 15];
    }
    return id;
}

// The metadata's "format" value for a tile's bytes; null when unknown.
const char* SniffFormat(const void* data, uint32_t size) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    if (size >= 8 && std::memcmp(bytes, "\x89PNG\r\n\x1a\n", 8) == 0)
        return "png";
    if (size >= 3 && bytes[0] == 0xFF && bytes[1] == 0xD8 && bytes[2] == 0xFF)
        return "jpg";
    if (size >= 12 && std::memcmp(bytes, "RIFF", 4) == 0 && std::memcmp(bytes + 8, "WEBP", 4) == 0)
        return "webp";
    return nullptr;
}

} // namespace

// Reports the plates of one listing and counts the rows it left out.
class Lister {
public:
    Lister(PlateCallback callback, void* cookie) : callback_(callback), cookie_(cookie) {}

    // False when the callback asked to stop.
    bool Report(const ScanRow& row) {
        plate_key::Write({row.z, row.x, plate_key::FlipRow(row.z, row.row)}, name_);
        ++listed_;
        return callback_(cookie_, static_cast<int32_t>(row.number), name_, 0, row.size) != 0;
    }
    uint64_t Listed() const { return listed_; }
    NotTiles notTiles;

private:
    PlateCallback callback_;
    void* cookie_;
    uint64_t listed_ = 0;
    char name_[plate_key::kNameBufferSize];
};

bool Storage::Open(const char* path) {
    fileName_ = FileName(path);
    struct stat info {};
    if (*path == '\0')
        return FailOpen("No MBTiles file given");
    if (stat(path, &info) != 0)
        return FailOpen(fileName_ + ": " + std::strerror(errno));
    if (S_ISDIR(info.st_mode))
        return FailOpen(fileName_ + " is a folder, not an MBTiles file");
    // A FIFO or a device has no size: it would pass for an empty file, a new
    // MBTiles file whose stores go nowhere, and SQLite would block reading a
    // FIFO. Only regular files are storages.
    if (!S_ISREG(info.st_mode))
        return FailOpen(fileName_ + " is not a regular file");

    // A file without write bits is opened read-only even for root, who could
    // write it anyway: the owner marked it as not to be changed.
    const bool writable = (info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) && access(path, W_OK) == 0;
    const int flags = (writable ? SQLITE_OPEN_READWRITE : SQLITE_OPEN_READONLY) | SQLITE_OPEN_NOMUTEX;
    if (sqlite3_open_v2(path, &db_, flags, nullptr) != SQLITE_OK) {
        std::string text = fileName_ + ": " + (db_ ? sqlite3_errmsg(db_) : "cannot open");
        Close();
        return FailOpen(std::move(text));
    }
    // Absolute: the listing's own connections open it later.
    path_ = sqlite3_db_filename(db_, "main");
    lockWait_.Install(db_);
    // Debian's SQLite zeroes deleted content by default, which doubles the
    // writes of a deletion; map tiles are no secret.
    sqlite3_exec(db_, "PRAGMA secure_delete = OFF", nullptr, nullptr, nullptr);
    readOnly_ = sqlite3_db_readonly(db_, "main") == 1;

    // An empty file is an empty database to SQLite: it is an MBTiles file
    // without plates, the target of a copy, whose tables the first store
    // makes. Opening and listing it leave it as it is.
    // (A new database in WAL mode may have its pages in the -wal file alone.)
    struct stat wal {};
    const bool walPages = stat((std::string(path) + "-wal").c_str(), &wal) == 0 && wal.st_size > 0;
    if (info.st_size == 0 && !walPages && !readOnly_) {
        schemaPending_ = true;
        return true;
    }

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

    layout_ = Layout::Plain;
    if (tilesType == "view") {
        layout_ = Layout::OtherView;
        if (TableExists(db_, "map", "table") && TableExists(db_, "images", "table") &&
            ordered_.Prepare(db_, kOrderedDeduplicated) && findMapRow_.Prepare(db_, kFindMapRow))
            layout_ = Layout::Deduplicated;
        ordered_.Finalize();
        findMapRow_.Finalize();
    }
    // Preparing checks the columns too, so a table of another shape fails now.
    if (!PrepareListing() || !select_.Prepare(db_, kSelectTile)) {
        std::string text = fileName_ + ": not MBTiles tiles: " + sqlite3_errmsg(db_);
        Close();
        return FailOpen(std::move(text));
    }
    return true;
}

// Makes the tables of an empty file in the open batch of changes.
bool Storage::CreateSchemaInBatch() {
    if (!Exec(kNewSchema))
        return false;
    schemaPending_ = false;
    schemaInBatch_ = true;
    layout_ = Layout::Plain;
    if (PrepareListing() && select_.Prepare(db_, kSelectTile))
        return true;
    BatchLost();
    return false;
}

bool Storage::PrepareListing() {
    switch (layout_) {
    case Layout::Plain:
        rangeSql_ = kCollectPlain;
        zoomIndex_ = HasZoomIndex("tiles");
        uniqueTiles_ = HasUniqueTileIndex("tiles");
        return range_.Prepare(db_, kRangePlain) && ordered_.Prepare(db_, kOrderedPlain);
    case Layout::Deduplicated:
        rangeSql_ = kCollectDeduplicated;
        zoomIndex_ = HasZoomIndex("map");
        return range_.Prepare(db_, kRangeDeduplicated) && ordered_.Prepare(db_, kOrderedDeduplicated) &&
               findMapRow_.Prepare(db_, kFindMapRow);
    case Layout::OtherView:
        rangeSql_ = nullptr;
        zoomIndex_ = false;
        return ordered_.Prepare(db_, kOrderedOtherView);
    }
    return false;
}

bool Storage::HasZoomIndex(const char* table) {
    return CountFor(db_,
                    "SELECT count(*) FROM pragma_index_list(?1) AS l, pragma_index_info(l.name) AS i"
                    " WHERE l.partial = 0 AND i.seqno = 0 AND i.name = 'zoom_level'",
                    table) > 0;
}

bool Storage::HasUniqueTileIndex(const char* table) {
    return CountFor(db_,
                    "SELECT count(*) FROM pragma_index_list(?1) AS l WHERE l.\"unique\" = 1"
                    " AND l.partial = 0 AND (SELECT count(*) FROM pragma_index_info(l.name)) = 3"
                    " AND (SELECT count(*) FROM pragma_index_info(l.name)"
                    " WHERE name IN ('zoom_level', 'tile_column', 'tile_row')) = 3",
                    table) > 0;
}

void Storage::Close() {
    if (!db_)
        return;
    StopFollowing();
    lastRowid_ = -1;
    followSkip_ = followBackoff_ = 0;
    FollowSqlite();
    if (batch_ == Batch::Changes && !Exec("COMMIT")) {
        // Readers of other programs may hold the file a while: the stores
        // answered Done must not be lost to a short wait.
        sqlite3_busy_timeout(db_, 30000);
        if (!Exec("COMMIT") && InTransaction())
            Exec("ROLLBACK");
    } else if (InTransaction()) {
        Exec("ROLLBACK"); // reads only
    }
    batch_ = Batch::None;
    batchCount_ = 0;
    schemaPending_ = false;
    schemaInBatch_ = false;
    for (Statement* stmt : {&range_, &ordered_, &select_, &deleteTile_, &findMapRow_, &deleteMapRow_,
                            &deleteImage_, &countImageUses_, &store_, &update_, &findImage_, &addImage_,
                            &addMapRow_, &setMapImage_, &selectPlain_, &following_, &stream_})
        stmt->Finalize();
    sqlite3_close_v2(db_);
    db_ = nullptr;
    path_.clear();
    formatNoted_ = false;
    imageUsesLoaded_ = false;
    imageUses_.clear();
    data_.clear();
    data_.shrink_to_fit();
}

bool Storage::Exec(const char* sql) {
    // A transaction must not end under the walk's open read.
    StopFollowing();
    return sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

uint32_t Storage::FailSql(const char* what) {
    return Fail(std::string(what) + ": " + sqlite3_errmsg(db_));
}

// What every listing does first. The listings read with connections of their
// own, which see only what is committed, so pending changes are committed
// here. Done: go on; Empty: a new file without its tables; Failed.
uint32_t Storage::BeginListing() {
    StopFollowing();
    SetErrorText("");
    FollowSqlite();
    if (schemaPending_)
        return Empty;
    EndReads();
    if (batch_ == Batch::Changes && !CommitBatch())
        return Failed;
    if (batch_ == Batch::Changes)
        return Fail("Committing the changes failed: another program holds " + fileName_ + "; they are still pending");
    return Done;
}

// Plates are listed level by level. Tables with rowids are read in rowid
// order, in parallel rowid ranges on worker threads, whatever the order of
// their levels: that is SQLite's cheapest walk, while the index order costs
// a table seek per tile and defeats the read-ahead. A table written level by
// level (most are) is reported as it is read, holding nothing per tile; rows
// that come out of level order (all of them in a file written deepest zoom
// first) are held in memory, a few integers a row, and reported by level at
// the end. A view without rowids is read in its index order.
uint32_t Storage::Enumerate(PlateCallback callback, void* cookie) {
    if (!db_)
        return Fail("The storage is not open");
    if (const uint32_t ready = BeginListing(); ready != Done)
        return ready;

    Lister lister(callback, cookie);
    if (layout_ != Layout::OtherView) {
        const char* table = layout_ == Layout::Plain ? "tiles" : "map";
        int64_t first = 0;
        int64_t last = 0;
        const std::string lowest = std::string("SELECT min(rowid) FROM ") + table;
        const std::string highest = std::string("SELECT max(rowid) FROM ") + table;
        // An empty table has no bounds: the index walk below finds nothing.
        if (QueryInt(db_, lowest.c_str(), 0, &first) && QueryInt(db_, highest.c_str(), 0, &last)) {
            // Without an index the check would scan the table twice: hold every row.
            const bool streamed = zoomIndex_ && RowidOrderIsZoomOrder(first, last);
            return FinishListing(ListInRowidOrder(first, last, streamed, lister), lister);
        }
    }
    return FinishListing(ListInIndexOrder(lister), lister);
}

namespace {

// The plates of one level inside an area, by the index on the levels: the
// area's columns and rows (from the bottom) are ranges at every level.
constexpr const char* kPartPlain =
    "SELECT rowid, zoom_level, tile_column, tile_row, length(tile_data) FROM tiles"
    " WHERE zoom_level = ?1 AND tile_column BETWEEN ?2 AND ?3 AND tile_row BETWEEN ?4 AND ?5";
constexpr const char* kPartDeduplicated =
    "SELECT map.rowid, map.zoom_level, map.tile_column, map.tile_row, length(images.tile_data)"
    " FROM map CROSS JOIN images ON images.tile_id = map.tile_id"
    " WHERE map.zoom_level = ?1 AND map.tile_column BETWEEN ?2 AND ?3 AND map.tile_row BETWEEN ?4 AND ?5";

// Passes on the plates of a whole listing that lie in the part asked for.
struct PartFilter {
    PlateCallback callback;
    void* cookie;
    std::string_view area;
    uint32_t minLevel;
    uint32_t maxLevel;
    uint64_t passed = 0;

    static uint32_t ULMORA_CALL Pass(void* self, int32_t number, const char* name, uint32_t reserved,
                                     uint32_t size) {
        auto* filter = static_cast<PartFilter*>(self);
        const std::string_view plate(name);
        if (plate.size() < filter->minLevel || plate.size() > filter->maxLevel || !plate.starts_with(filter->area))
            return 1;
        ++filter->passed;
        return filter->callback(filter->cookie, number, name, reserved, size);
    }
};

} // namespace

// A level inside an area is one range of the index on the levels; a file
// without that index (or a view of unknown tables) is listed whole and
// filtered.
uint32_t Storage::EnumeratePart(const char* area, uint32_t minLevel, uint32_t maxLevel, PlateCallback callback,
                                void* cookie) {
    if (!db_)
        return Fail("The storage is not open");
    const std::string_view key = area ? area : "";
    plate_key::Tile corner; // the area's own tile; zoom 0 for every area
    if (!key.empty() && !plate_key::Parse(key, &corner))
        return Fail("Invalid area " + Quoted(std::string(key)));
    if (layout_ == Layout::OtherView || !zoomIndex_) {
        PartFilter filter{callback, cookie, key, minLevel, maxLevel};
        const uint32_t result = Enumerate(&PartFilter::Pass, &filter);
        return result == Done && filter.passed == 0 ? static_cast<uint32_t>(Empty) : result;
    }
    if (const uint32_t ready = BeginListing(); ready != Done)
        return ready;

    // Zooms are levels less one; levels beyond the deepest zoom hold nothing.
    const uint32_t lowest = std::max(std::max(minLevel, 1u) - 1, corner.z);
    const uint32_t highest = std::min(maxLevel, plate_key::kMaxZoom + 1);
    Lister lister(callback, cookie);
    if (highest == 0 || lowest > highest - 1)
        return Empty;
    Statement part;
    if (!part.Prepare(db_, layout_ == Layout::Plain ? kPartPlain : kPartDeduplicated))
        return FailSql("Cannot list a part of the tiles");
    sqlite3_stmt* stmt = part.get();
    for (uint32_t z = lowest; z <= highest - 1; ++z) {
        const uint32_t shift = z - corner.z;
        const int64_t west = int64_t{corner.x} << shift;
        const int64_t east = ((int64_t{corner.x} + 1) << shift) - 1;
        const int64_t top = int64_t{corner.y} << shift;
        const int64_t bottom = ((int64_t{corner.y} + 1) << shift) - 1;
        ResetOnExit reset(stmt);
        sqlite3_bind_int64(stmt, 1, z);
        sqlite3_bind_int64(stmt, 2, west);
        sqlite3_bind_int64(stmt, 3, east);
        sqlite3_bind_int64(stmt, 4, plate_key::FlipRow(z, static_cast<uint32_t>(bottom)));
        sqlite3_bind_int64(stmt, 5, plate_key::FlipRow(z, static_cast<uint32_t>(top)));
        ScanRow row;
        int rc;
        while ((rc = sqlite3_step(stmt)) == SQLITE_ROW)
            if (ReadRow(stmt, 0, &row, &lister.notTiles) && !lister.Report(row))
                return Aborted;
        if (rc != SQLITE_DONE)
            return FailSql("Reading the tiles failed");
    }
    return FinishListing(lister.Listed() ? Done : Empty, lister);
}

// Whether the table's rows come level by level in rowid order, judged from
// the ends and evenly spaced samples, each an index or rowid lookup. The few
// rows out of place that a table passing them may still have are listed at
// the end, again level by level: see ListInRowidOrder.
bool Storage::RowidOrderIsZoomOrder(int64_t first, int64_t last) {
    const bool plain = layout_ == Layout::Plain;
    const char* lowest = plain ? "SELECT zoom_level FROM tiles WHERE zoom_level BETWEEN 0 AND 30"
                                 " ORDER BY zoom_level LIMIT 1"
                               : "SELECT zoom_level FROM map WHERE zoom_level BETWEEN 0 AND 30"
                                 " ORDER BY zoom_level LIMIT 1";
    const char* highest = plain ? "SELECT zoom_level FROM tiles WHERE zoom_level BETWEEN 0 AND 30"
                                  " ORDER BY zoom_level DESC LIMIT 1"
                                : "SELECT zoom_level FROM map WHERE zoom_level BETWEEN 0 AND 30"
                                  " ORDER BY zoom_level DESC LIMIT 1";
    const char* at = plain ? "SELECT zoom_level FROM tiles NOT INDEXED WHERE rowid >= ?1"
                             " AND zoom_level BETWEEN 0 AND 30 ORDER BY rowid LIMIT 1"
                           : "SELECT zoom_level FROM map NOT INDEXED WHERE rowid >= ?1"
                             " AND zoom_level BETWEEN 0 AND 30 ORDER BY rowid LIMIT 1";
    const char* atEnd = plain ? "SELECT zoom_level FROM tiles NOT INDEXED WHERE rowid <= ?1"
                                " AND zoom_level BETWEEN 0 AND 30 ORDER BY rowid DESC LIMIT 1"
                              : "SELECT zoom_level FROM map NOT INDEXED WHERE rowid <= ?1"
                                " AND zoom_level BETWEEN 0 AND 30 ORDER BY rowid DESC LIMIT 1";
    int64_t low = 0;
    int64_t high = 0;
    int64_t zoom = 0;
    if (!QueryInt(db_, lowest, 0, &low) || !QueryInt(db_, highest, 0, &high))
        return false;
    if (!QueryInt(db_, at, first, &zoom) || zoom != low)
        return false;
    constexpr int kSamples = 256;
    int64_t previous = low;
    for (int i = 1; i < kSamples; ++i) {
        const int64_t rowid = first + static_cast<int64_t>(static_cast<double>(last - first) * i / kSamples);
        if (!QueryInt(db_, at, rowid, &zoom))
            break;
        if (zoom < previous)
            return false;
        previous = zoom;
    }
    return QueryInt(db_, atEnd, last, &zoom) && zoom == high && zoom >= previous;
}

// Lists the rows in rowid order. When `streamed`, rows are reported as they
// come while their levels do not go down; a row of a level that comes after
// a deeper level's row (a tile added later) is held. Otherwise every row is
// held. Held rows are reported level by level at the end, in rowid order
// within a level.
uint32_t Storage::ListInRowidOrder(int64_t first, int64_t last, bool streamed, Lister& lister) {
    constexpr uint32_t kLevels = plate_key::kMaxZoom + 1;
    uint32_t current = 0; // the deepest level reported so far
    std::vector<ScanRow> held[kLevels];
    const auto take = [&](const ScanRow& row) -> int {
        if (!streamed || row.z < current) {
            held[row.z].push_back(row);
            return 1;
        }
        current = row.z;
        return lister.Report(row) ? 1 : 0;
    };

    if (last - first + 1 < kThreadedRows) {
        sqlite3_stmt* stmt = range_.get();
        ResetOnExit reset(stmt);
        sqlite3_bind_int64(stmt, 1, first);
        sqlite3_bind_int64(stmt, 2, last + 1);
        ScanRow row;
        int rc;
        while ((rc = sqlite3_step(stmt)) == SQLITE_ROW)
            if (ReadRow(stmt, 0, &row, &lister.notTiles) && !take(row))
                return Aborted;
        if (rc != SQLITE_DONE)
            return FailSql("Reading the tiles failed");
    } else {
        const int workers = std::thread::hardware_concurrency() > 1 ? 2 : 1;
        ChunkReader reader;
        if (!reader.StartRanges(path_, rangeSql_, first, last, kChunkRows, workers))
            return Fail(reader.Error());
        while (const ChunkReader::Chunk* chunk = reader.Next()) {
            lister.notTiles.Add(chunk->notTiles);
            for (const ScanRow& row : chunk->rows)
                if (!take(row))
                    return Aborted;
        }
        if (!reader.Error().empty())
            return Fail(reader.Error());
    }

    for (std::vector<ScanRow>& level : held) {
        for (const ScanRow& row : level)
            if (!lister.Report(row))
                return Aborted;
        std::vector<ScanRow>().swap(level);
    }
    return lister.Listed() ? Done : Empty;
}

uint32_t Storage::ListInIndexOrder(Lister& lister) {
    int64_t first = 0;
    int64_t last = 0;
    const bool large = layout_ != Layout::OtherView &&
                       QueryInt(db_, layout_ == Layout::Plain ? "SELECT min(rowid) FROM tiles" : "SELECT min(rowid) FROM map", 0, &first) &&
                       QueryInt(db_, layout_ == Layout::Plain ? "SELECT max(rowid) FROM tiles" : "SELECT max(rowid) FROM map", 0, &last) &&
                       last - first + 1 >= kThreadedRows;
    if (!large) {
        sqlite3_stmt* stmt = ordered_.get();
        ResetOnExit reset(stmt);
        int64_t ordinal = 0;
        ScanRow row;
        int rc;
        while ((rc = sqlite3_step(stmt)) == SQLITE_ROW)
            if (ReadRow(stmt, ++ordinal, &row, &lister.notTiles) && !lister.Report(row))
                return Aborted;
        if (rc != SQLITE_DONE)
            return FailSql("Reading the tiles failed");
        return lister.Listed() ? Done : Empty;
    }
    // One worker walks the index while this thread reports.
    ChunkReader reader;
    if (!reader.StartStream(path_, sqlite3_sql(ordered_.get()), kChunkRows))
        return Fail(reader.Error());
    while (const ChunkReader::Chunk* chunk = reader.Next()) {
        lister.notTiles.Add(chunk->notTiles);
        for (const ScanRow& row : chunk->rows)
            if (!lister.Report(row))
                return Aborted;
    }
    if (!reader.Error().empty())
        return Fail(reader.Error());
    return lister.Listed() ? Done : Empty;
}

// Rows that name no tile are made visible: as the failure when nothing else
// was found, else as the error text left after a successful listing.
uint32_t Storage::FinishListing(uint32_t result, const Lister& lister) {
    return FinishWalk(result, lister.notTiles, lister.Listed());
}

uint32_t Storage::FinishWalk(uint32_t result, const NotTiles& notTiles, uint64_t listed) {
    if (result != Done && result != Empty)
        return result;
    std::string notice = notTiles.Notice(listed);
    if (notice.empty())
        return result;
    if (result == Empty)
        return Fail(std::move(notice));
    SetErrorText(std::move(notice));
    return Done;
}

// One walk of the table in rowid order. A large table with no batch of
// changes open is walked by a worker thread with a connection of its own
// (see plate_stream.h), so that the program's work on each plate overlaps
// SQLite's; otherwise the action's own connection walks it, so that it sees
// what GetPlateData sees, a batch not yet committed included, and each
// row's blob goes to the callback as SQLite holds it, without a copy. Rows
// that name no tile are passed over and told of, as the listing does.
uint32_t Storage::StreamPlates(PlateStreamCallback callback, void* cookie) {
    if (!db_)
        return Fail("The storage is not open");
    StopFollowing();
    FollowSqlite();
    if (schemaPending_)
        return Empty;
    if (layout_ != Layout::OtherView && batch_ != Batch::Changes) {
        const char* table = layout_ == Layout::Plain ? "tiles" : "map";
        int64_t first = 0;
        int64_t last = 0;
        if (QueryInt(db_, (std::string("SELECT min(rowid) FROM ") + table).c_str(), 0, &first) &&
            QueryInt(db_, (std::string("SELECT max(rowid) FROM ") + table).c_str(), 0, &last) &&
            last - first + 1 >= kThreadedRows && std::thread::hardware_concurrency() > 1) {
            // The worker sees what is committed: the reads' batch ends here.
            EndReads();
            StreamReader reader;
            if (!reader.Start(path_, layout_ == Layout::Plain ? kStreamPlainCollected : kStreamDeduplicatedCollected))
                return Fail(reader.Error());
            bool any = false;
            char name[plate_key::kNameBufferSize];
            while (const StreamReader::Chunk* chunk = reader.Next()) {
                for (const StreamReader::Row& row : chunk->rows) {
                    any = true;
                    plate_key::Write({row.z, row.x, row.y}, name);
                    if (callback(cookie, static_cast<int32_t>(row.number), name,
                                 row.size ? chunk->bytes.data() + row.offset : nullptr, row.size) == 0)
                        return Aborted;
                }
            }
            if (!reader.Error().empty())
                return Fail(reader.Error());
            return FinishWalk(any ? Done : Empty, reader.PassedOver(), any ? 1 : 0);
        }
    }
    const char* sql = layout_ == Layout::Plain          ? kStreamPlain
                      : layout_ == Layout::Deduplicated ? kStreamDeduplicated
                                                        : kStreamOtherView;
    if (!stream_.Prepare(db_, sql))
        return FailSql("Cannot read the tiles");
    sqlite3_stmt* stmt = stream_.get();
    ResetOnExit reset(stmt);
    char name[plate_key::kNameBufferSize];
    bool any = false;
    NotTiles notTiles;
    int rc;
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
        ScanRow tile;
        if (!ReadTileOfRow(stmt, &tile, &notTiles))
            continue;
        plate_key::Write({tile.z, tile.x, plate_key::FlipRow(tile.z, tile.row)}, name);
        const void* data = sqlite3_column_blob(stmt, 4);
        const auto size = static_cast<uint32_t>(sqlite3_column_bytes(stmt, 4));
        any = true;
        if (callback(cookie, static_cast<int32_t>(sqlite3_column_int64(stmt, 0)), name, size ? data : nullptr, size) ==
            0)
            return Aborted;
    }
    if (rc != SQLITE_DONE)
        return FailSql("Reading the tiles failed");
    lockWait_.Taken();
    return FinishWalk(any ? Done : Empty, notTiles, any ? 1 : 0);
}

uint32_t Storage::GetPlateData(const char* name, const void** data, uint32_t* size) {
    if (!db_)
        return Fail("The storage is not open");
    plate_key::Tile tile;
    if (!plate_key::Parse(name, &tile))
        return Fail("Invalid plate name " + Quoted(name));
    FollowSqlite();
    if (schemaPending_)
        return Fail("No plate " + Quoted(name) + " in " + fileName_);
    // Reads share one transaction, ended like a batch of changes, so that
    // SQLite takes and checks its file locks once per batch instead of once
    // per plate: an export reads every plate of a selection in a row. A
    // batch of changes open now is read from as it is, and committed once it
    // is old, so that other writers do not wait on the reads: if that fails,
    // so does the read, which tells the caller that changes were undone.
    if (batch_ == Batch::Changes && std::chrono::steady_clock::now() - batchStart_ >= kMaxBatchAge &&
        !CommitBatch())
        return Failed;
    if (batch_ == Batch::None && Exec("BEGIN")) {
        batch_ = Batch::Reads;
        batchCount_ = 0;
        batchStart_ = std::chrono::steady_clock::now();
    }
    const uint32_t result = ReadPlate(name, tile, data, size);
    // Outside a transaction the walk's read would hold the file.
    if (batch_ == Batch::None)
        StopFollowing();
    FollowSqlite();
    if (result != Failed)
        lockWait_.Taken();
    if (batch_ == Batch::Reads &&
        (++batchCount_ >= kBatchSize || std::chrono::steady_clock::now() - batchStart_ >= kMaxBatchAge))
        EndReads();
    return result;
}

uint32_t Storage::ReadPlate(const char* name, const plate_key::Tile& tile, const void** data, uint32_t* size) {
    const uint32_t row = plate_key::FlipRow(tile.z, tile.y);
    const bool plain = layout_ == Layout::Plain && uniqueTiles_;
    if (uint32_t result; plain && ReadFollowing(tile.z, tile.x, row, data, size, &result))
        return result;
    if (plain && !selectPlain_.Prepare(db_, kSelectPlainTile))
        return FailSql("Reading the plate failed");
    sqlite3_stmt* stmt = plain ? selectPlain_.get() : select_.get();
    ResetOnExit reset(stmt);
    BindTile(stmt, tile.z, tile.x, row);
    const int rc = sqlite3_step(stmt);
    if (rc == SQLITE_DONE)
        return Fail("No plate " + Quoted(name) + " in " + fileName_);
    if (rc != SQLITE_ROW)
        return FailSql("Reading the plate failed");
    if (!plain)
        return HandOutBlob(stmt, 0, data_, data, size) ? Done : Empty;
    lastRowid_ = sqlite3_column_int64(stmt, 0);
    return HandOutBlob(stmt, 1, data_, data, size) ? Done : Empty;
}

bool Storage::ReadFollowing(uint32_t z, uint32_t x, uint32_t row, const void** data, uint32_t* size,
                            uint32_t* result) {
    // After a miss the walk waits a growing number of look-ups, so that
    // plates read in another order pay little for it.
    if (followSkip_ > 0) {
        --followSkip_;
        return false;
    }
    if (lastRowid_ < 0 || !following_.Prepare(db_, kFollowPlain))
        return false;
    sqlite3_stmt* stmt = following_.get();
    if (!followActive_) {
        sqlite3_bind_int64(stmt, 1, lastRowid_);
        followActive_ = true;
    }
    const auto is = [stmt](int column, uint32_t value) {
        return sqlite3_column_type(stmt, column) == SQLITE_INTEGER &&
               sqlite3_column_int64(stmt, column) == static_cast<int64_t>(value);
    };
    if (sqlite3_step(stmt) == SQLITE_ROW && is(1, z) && is(2, x) && is(3, row)) {
        lastRowid_ = sqlite3_column_int64(stmt, 0);
        followBackoff_ = 0;
        *result = HandOutBlob(stmt, 4, data_, data, size) ? Done : Empty;
        return true;
    }
    StopFollowing();
    followBackoff_ = std::min<uint32_t>(followBackoff_ * 2 + 1, 63);
    followSkip_ = followBackoff_;
    return false;
}

void Storage::StopFollowing() {
    if (!followActive_)
        return;
    sqlite3_reset(following_.get());
    followActive_ = false;
}

uint32_t Storage::Write(const char* name, const void* data, uint32_t size, uint32_t mode) {
    if (!db_)
        return Fail("The storage is not open");
    StopFollowing();
    if (mode != WriteModeStore && mode != WriteModeDelete)
        return Fail("Unknown write mode " + std::to_string(mode));
    const bool store = mode == WriteModeStore;
    if (readOnly_)
        return Fail(fileName_ + (store ? " is read-only: plates cannot be stored"
                                       : " is read-only: plates cannot be deleted"));
    if (layout_ == Layout::OtherView)
        return Fail(fileName_ + (store ? ": tiles is a view of unknown tables; cannot store"
                                       : ": tiles is a view of unknown tables; cannot delete"));
    plate_key::Tile tile;
    if (!plate_key::Parse(name, &tile))
        return Fail("Invalid plate name " + Quoted(name));
    if (store && !data && size > 0)
        return Fail("No data to store for plate " + Quoted(name));
    FollowSqlite();
    if (schemaPending_ && !store)
        return Fail("No plate " + Quoted(name) + " in " + fileName_);
    if (const uint32_t begun = BeginWrite(store ? "Cannot start storing" : "Cannot start deleting"); begun != Done)
        return begun;
    const uint32_t row = plate_key::FlipRow(tile.z, tile.y);
    uint32_t result;
    if (store) {
        result = layout_ == Layout::Plain ? StorePlain(tile.z, tile.x, row, data, size)
                                          : StoreDeduplicated(tile.z, tile.x, row, data, size);
        if (result == Done)
            NoteFormat(data, size);
    } else {
        result = layout_ == Layout::Plain ? DeletePlain(tile.z, tile.x, row, name)
                                          : DeleteDeduplicated(tile.z, tile.x, row, name);
    }
    if (result != Done) {
        // A failure that made SQLite roll the batch back took its earlier
        // changes with it: none of them is on disk.
        const int lost = batchCount_;
        FollowSqlite();
        if (batch_ == Batch::None && lost > 0)
            SetErrorText(ErrorText() + "; the " + std::to_string(lost) + " changes before it were undone");
        return result;
    }
    return AfterWrite();
}

uint32_t Storage::BeginWrite(const char* what) {
    FollowSqlite();
    if (batch_ == Batch::Changes)
        return Done;
    EndReads();
    // A file another program writes fails here, before anything changed;
    // readers go on reading until the commit.
    if (!Exec("BEGIN IMMEDIATE"))
        return FailSql(what);
    lockWait_.Taken();
    batch_ = Batch::Changes;
    batchCount_ = 0;
    batchStart_ = std::chrono::steady_clock::now();
    if (schemaPending_ && !CreateSchemaInBatch()) {
        const uint32_t failed = FailSql("Cannot create the tables");
        if (InTransaction())
            Exec("ROLLBACK");
        BatchLost();
        return failed;
    }
    return Done;
}

void Storage::FollowSqlite() {
    if (batch_ != Batch::None && !InTransaction())
        BatchLost();
}

void Storage::BatchLost() {
    batch_ = Batch::None;
    batchCount_ = 0;
    // The cached facts of the batch went with it.
    imageUsesLoaded_ = false;
    imageUses_.clear();
    formatNoted_ = false;
    if (schemaInBatch_) {
        schemaInBatch_ = false;
        schemaPending_ = true;
        StopFollowing();
        for (Statement* stmt : {&range_, &ordered_, &select_, &store_, &update_, &selectPlain_, &following_, &stream_})
            stmt->Finalize();
    }
}

void Storage::EndReads() {
    if (batch_ != Batch::Reads)
        return;
    if (InTransaction() && !Exec("COMMIT"))
        Exec("ROLLBACK");
    batch_ = Batch::None;
    batchCount_ = 0;
}

// An empty blob is stored as such (zeroblob), never as NULL.
static void BindData(sqlite3_stmt* stmt, int index, const void* data, uint32_t size) {
    if (size == 0)
        sqlite3_bind_zeroblob(stmt, index, 0);
    else
        sqlite3_bind_blob(stmt, index, data, static_cast<int>(size), SQLITE_STATIC);
}

uint32_t Storage::StorePlain(uint32_t z, uint32_t x, uint32_t row, const void* data, uint32_t size) {
    if (size > static_cast<uint32_t>(INT32_MAX))
        return Fail("The plate is too large to store");
    // Without a unique index, INSERT OR REPLACE would add a second row for
    // the tile: such a table is updated in place first.
    if (!uniqueTiles_) {
        if (!update_.Prepare(db_, kUpdateTile))
            return FailSql("Cannot store");
        sqlite3_stmt* update = update_.get();
        ResetOnExit reset(update);
        BindTile(update, z, x, row);
        BindData(update, 4, data, size);
        if (sqlite3_step(update) != SQLITE_DONE)
            return FailSql("Storing the plate failed");
        if (sqlite3_changes(db_) > 0)
            return Done;
    }
    if (!store_.Prepare(db_, kStoreTile))
        return FailSql("Cannot store");
    sqlite3_stmt* stmt = store_.get();
    ResetOnExit reset(stmt);
    BindTile(stmt, z, x, row);
    BindData(stmt, 4, data, size);
    if (sqlite3_step(stmt) != SQLITE_DONE)
        return FailSql("Storing the plate failed");
    return Done;
}

uint32_t Storage::StoreDeduplicated(uint32_t z, uint32_t x, uint32_t row, const void* data, uint32_t size) {
    if (size > static_cast<uint32_t>(INT32_MAX))
        return Fail("The plate is too large to store");
    if (!addMapRow_.Prepare(db_, kAddMapRow) || !setMapImage_.Prepare(db_, kSetMapImage) ||
        !deleteImage_.Prepare(db_, kDeleteImage))
        return FailSql("Cannot store");
    std::string id;
    if (!FindOrAddImage(data, size, &id))
        return FailSql("Storing the plate's image failed");
    const std::string key = std::string(1, static_cast<char>('0' + SQLITE_TEXT)) + id;

    sqlite3_stmt* find = findMapRow_.get();
    ResetOnExit resetFind(find);
    BindTile(find, z, x, row);
    const int rc = sqlite3_step(find);
    if (rc != SQLITE_ROW && rc != SQLITE_DONE)
        return FailSql("Finding the plate failed");
    if (rc == SQLITE_DONE) {
        sqlite3_stmt* add = addMapRow_.get();
        ResetOnExit reset(add);
        BindTile(add, z, x, row);
        sqlite3_bind_text(add, 4, id.data(), static_cast<int>(id.size()), SQLITE_STATIC);
        if (sqlite3_step(add) != SQLITE_DONE)
            return FailSql("Storing the plate failed");
        if (imageUsesLoaded_)
            ++imageUses_[key];
        return Done;
    }
    const std::string oldKey = ImageKey(find, 1);
    if (oldKey == key)
        return Done;
    // The old image goes when this was its last plate; its uses are counted
    // before the map changes.
    if (!LoadImageUses())
        return FailSql("Counting the image uses failed");
    sqlite3_stmt* set = setMapImage_.get();
    ResetOnExit reset(set);
    sqlite3_bind_int64(set, 1, sqlite3_column_int64(find, 0));
    sqlite3_bind_text(set, 2, id.data(), static_cast<int>(id.size()), SQLITE_STATIC);
    if (sqlite3_step(set) != SQLITE_DONE)
        return FailSql("Storing the plate failed");
    ++imageUses_[key];
    if (!DropImageUse(oldKey, sqlite3_column_value(find, 1)))
        return FailSql("Deleting the plate's old image failed");
    return Done;
}

// Finds the image with the data's content id, or adds it. An id taken by
// other bytes (another writer's scheme) gets a suffix.
bool Storage::FindOrAddImage(const void* data, uint32_t size, std::string* id) {
    if (!findImage_.Prepare(db_, kFindImage) || !addImage_.Prepare(db_, kAddImage))
        return false;
    const std::string base = ContentId(data, size);
    for (int attempt = 0;; ++attempt) {
        *id = attempt == 0 ? base : base + "-" + std::to_string(attempt);
        sqlite3_stmt* find = findImage_.get();
        ResetOnExit resetFind(find);
        sqlite3_bind_text(find, 1, id->data(), static_cast<int>(id->size()), SQLITE_STATIC);
        const int rc = sqlite3_step(find);
        if (rc == SQLITE_ROW) {
            const auto stored = static_cast<uint32_t>(sqlite3_column_bytes(find, 0));
            const void* bytes = sqlite3_column_blob(find, 0);
            if (stored == size && (size == 0 || std::memcmp(bytes, data, size) == 0))
                return true;
            continue;
        }
        if (rc != SQLITE_DONE)
            return false;
        sqlite3_stmt* add = addImage_.get();
        ResetOnExit resetAdd(add);
        BindData(add, 1, data, size);
        sqlite3_bind_text(add, 2, id->data(), static_cast<int>(id->size()), SQLITE_STATIC);
        return sqlite3_step(add) == SQLITE_DONE;
    }
}

// Files made by other writers carry the tiles' format in their metadata; a
// file this plugin made gets it with its first plate.
void Storage::NoteFormat(const void* data, uint32_t size) {
    if (formatNoted_)
        return;
    formatNoted_ = true;
    const char* format = SniffFormat(data, size);
    if (!format || !TableExists(db_, "metadata", "table"))
        return;
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db_,
                           "INSERT INTO metadata (name, value) SELECT 'format', ?1"
                           " WHERE NOT EXISTS (SELECT 1 FROM metadata WHERE name = 'format')",
                           -1, &stmt, nullptr) == SQLITE_OK) {
        sqlite3_bind_text(stmt, 1, format, -1, SQLITE_STATIC);
        sqlite3_step(stmt);
    }
    sqlite3_finalize(stmt);
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
    const std::string key = ImageKey(find, 1);

    sqlite3_stmt* deleteMap = deleteMapRow_.get();
    ResetOnExit resetMap(deleteMap);
    sqlite3_bind_int64(deleteMap, 1, mapRow);
    if (sqlite3_step(deleteMap) != SQLITE_DONE)
        return FailSql("Deleting the plate failed");
    if (!DropImageUse(key, sqlite3_column_value(find, 1)))
        return FailSql("Deleting the plate's image failed");
    return Done;
}

// One plate less uses the image `key` (its tile_id `id`): the image goes
// with its last plate. False when deleting it failed.
bool Storage::DropImageUse(const std::string& key, sqlite3_value* id) {
    auto uses = imageUses_.find(key);
    if (uses != imageUses_.end() && --uses->second > 0)
        return true;
    if (uses != imageUses_.end())
        imageUses_.erase(uses);
    sqlite3_stmt* stmt = deleteImage_.get();
    ResetOnExit reset(stmt);
    sqlite3_bind_value(stmt, 1, id);
    return sqlite3_step(stmt) == SQLITE_DONE;
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

uint32_t Storage::AfterWrite() {
    ++batchCount_;
    if (batchCount_ >= kBatchSize || std::chrono::steady_clock::now() - batchStart_ >= kMaxBatchAge) {
        if (!CommitBatch())
            return Failed;
    }
    return Done;
}

// Commits the batch of changes. A commit that waited in vain for readers
// leaves the batch open, as SQLite does: its changes stay pending, and the
// next change, listing or Close tries again. A batch that does not commit
// for any other reason is rolled back whole (SQLite often has done so
// already), so that none of its changes is on disk, and the text says so.
// False for such a batch; true when committed or still pending.
bool Storage::CommitBatch() {
    const int count = batchCount_;
    if (Exec("COMMIT")) {
        batch_ = Batch::None;
        batchCount_ = 0;
        schemaInBatch_ = false;
        return true;
    }
    if (sqlite3_errcode(db_) == SQLITE_BUSY && InTransaction())
        return true;
    SetErrorText("Committing the changes failed: " + std::string(sqlite3_errmsg(db_)) + "; the batch's " +
                 std::to_string(count) + " changes were undone");
    if (InTransaction())
        Exec("ROLLBACK");
    BatchLost();
    return false;
}

} // namespace mbtiles
