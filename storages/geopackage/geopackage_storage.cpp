#include "geopackage_storage.h"

#include "image_size.h"
#include "message_text.h"
#include "not_tiles.h"
#include "plate_key.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <strings.h>

namespace geopackage {

using image_size::ImageSize;
using image_size::IsWebp;
using image_size::ReadImageSize;
using message_text::FileName;
using message_text::Quoted;
using sqlite_helpers::BindTile;
using sqlite_helpers::HandOutBlob;
using sqlite_helpers::ResetOnExit;

namespace {

// Half the side of the Web-Mercator square, in metres.
constexpr double kHalfWorld = 20037508.342789244;
// Writers round the extent differently (to centimetres, say); a metre is
// far below a pixel of any zoom a plate can have.
constexpr double kExtentTolerance = 1.0;
// The pyramid an empty file becomes.
constexpr const char* kNewPyramid = "tiles";

// What an empty file becomes with its first change, inside that change's
// batch: a GeoPackage 1.3 file ('GPKG' as the application id, 10300 as the
// user version) with the required tables and spatial reference systems,
// Web Mercator among them, and an empty pyramid "tiles" over the whole
// Web-Mercator world. Its gpkg_tile_matrix rows are added with the first
// tile of each zoom level; its bounds in gpkg_contents grow with the tiles.
// Its identifier and description are left for the copy that makes the file
// to give (a reader reports only what is set, and a copy keeps what the
// target has); Close names a pyramid nobody named after its file.
constexpr const char* kNewSchema =
    "PRAGMA application_id = 1196444487;"
    "PRAGMA user_version = 10300;"
    "CREATE TABLE gpkg_spatial_ref_sys (srs_name TEXT NOT NULL, srs_id INTEGER NOT NULL PRIMARY KEY,"
    " organization TEXT NOT NULL, organization_coordsys_id INTEGER NOT NULL, definition TEXT NOT NULL,"
    " description TEXT);"
    "INSERT INTO gpkg_spatial_ref_sys VALUES"
    " ('Undefined cartesian SRS', -1, 'NONE', -1, 'undefined', 'undefined cartesian coordinate reference system'),"
    " ('Undefined geographic SRS', 0, 'NONE', 0, 'undefined', 'undefined geographic coordinate reference system'),"
    " ('WGS 84 geodetic', 4326, 'EPSG', 4326, 'GEOGCS[\"WGS 84\",DATUM[\"WGS_1984\",SPHEROID[\"WGS 84\",6378137,"
    "298.257223563,AUTHORITY[\"EPSG\",\"7030\"]],AUTHORITY[\"EPSG\",\"6326\"]],PRIMEM[\"Greenwich\",0,"
    "AUTHORITY[\"EPSG\",\"8901\"]],UNIT[\"degree\",0.0174532925199433,AUTHORITY[\"EPSG\",\"9122\"]],"
    "AXIS[\"Latitude\",NORTH],AXIS[\"Longitude\",EAST],AUTHORITY[\"EPSG\",\"4326\"]]',"
    " 'longitude/latitude coordinates in decimal degrees on the WGS 84 spheroid'),"
    " ('WGS 84 / Pseudo-Mercator', 3857, 'EPSG', 3857, 'PROJCS[\"WGS 84 / Pseudo-Mercator\",GEOGCS[\"WGS 84\","
    "DATUM[\"WGS_1984\",SPHEROID[\"WGS 84\",6378137,298.257223563,AUTHORITY[\"EPSG\",\"7030\"]],"
    "AUTHORITY[\"EPSG\",\"6326\"]],PRIMEM[\"Greenwich\",0,AUTHORITY[\"EPSG\",\"8901\"]],"
    "UNIT[\"degree\",0.0174532925199433,AUTHORITY[\"EPSG\",\"9122\"]],AUTHORITY[\"EPSG\",\"4326\"]],"
    "PROJECTION[\"Mercator_1SP\"],PARAMETER[\"central_meridian\",0],PARAMETER[\"scale_factor\",1],"
    "PARAMETER[\"false_easting\",0],PARAMETER[\"false_northing\",0],UNIT[\"metre\",1,"
    "AUTHORITY[\"EPSG\",\"9001\"]],AXIS[\"Easting\",EAST],AXIS[\"Northing\",NORTH],"
    "AUTHORITY[\"EPSG\",\"3857\"]]', 'Web Mercator: the square world of web map tiles, in metres');"
    "CREATE TABLE gpkg_contents (table_name TEXT NOT NULL PRIMARY KEY, data_type TEXT NOT NULL,"
    " identifier TEXT UNIQUE, description TEXT DEFAULT '',"
    " last_change DATETIME NOT NULL DEFAULT (strftime('%Y-%m-%dT%H:%M:%fZ','now')),"
    " min_x DOUBLE, min_y DOUBLE, max_x DOUBLE, max_y DOUBLE, srs_id INTEGER,"
    " CONSTRAINT fk_gc_r_srs_id FOREIGN KEY (srs_id) REFERENCES gpkg_spatial_ref_sys(srs_id));"
    "CREATE TABLE gpkg_tile_matrix_set (table_name TEXT NOT NULL PRIMARY KEY, srs_id INTEGER NOT NULL,"
    " min_x DOUBLE NOT NULL, min_y DOUBLE NOT NULL, max_x DOUBLE NOT NULL, max_y DOUBLE NOT NULL,"
    " CONSTRAINT fk_gtms_table_name FOREIGN KEY (table_name) REFERENCES gpkg_contents(table_name),"
    " CONSTRAINT fk_gtms_srs FOREIGN KEY (srs_id) REFERENCES gpkg_spatial_ref_sys (srs_id));"
    "CREATE TABLE gpkg_tile_matrix (table_name TEXT NOT NULL, zoom_level INTEGER NOT NULL,"
    " matrix_width INTEGER NOT NULL, matrix_height INTEGER NOT NULL, tile_width INTEGER NOT NULL,"
    " tile_height INTEGER NOT NULL, pixel_x_size DOUBLE NOT NULL, pixel_y_size DOUBLE NOT NULL,"
    " CONSTRAINT pk_ttm PRIMARY KEY (table_name, zoom_level),"
    " CONSTRAINT fk_tmm_table_name FOREIGN KEY (table_name) REFERENCES gpkg_contents(table_name));"
    "CREATE TABLE tiles (id INTEGER PRIMARY KEY AUTOINCREMENT, zoom_level INTEGER NOT NULL,"
    " tile_column INTEGER NOT NULL, tile_row INTEGER NOT NULL, tile_data BLOB NOT NULL,"
    " UNIQUE (zoom_level, tile_column, tile_row));"
    "INSERT INTO gpkg_contents (table_name, data_type, identifier, description, srs_id)"
    " VALUES ('tiles', 'tiles', NULL, NULL, 3857);"
    "INSERT INTO gpkg_tile_matrix_set VALUES ('tiles', 3857, -20037508.342789244, -20037508.342789244,"
    " 20037508.342789244, 20037508.342789244);";

std::string QuotedIdentifier(const std::string& name) {
    std::string quoted = "\"";
    for (const char c : name) {
        quoted += c;
        if (c == '"')
            quoted += '"';
    }
    return quoted + "\"";
}

// A one-shot query; Step() answers SQLITE_ROW, SQLITE_DONE or an error.
class Query {
public:
    Query(sqlite3* db, const char* sql) { rc_ = sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr); }
    ~Query() { sqlite3_finalize(stmt_); }
    Query(const Query&) = delete;
    Query& operator=(const Query&) = delete;
    bool Prepared() const { return rc_ == SQLITE_OK; }
    Query& Bind(int index, const std::string& text) {
        sqlite3_bind_text(stmt_, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
        return *this;
    }
    Query& Bind(int index, int64_t value) {
        sqlite3_bind_int64(stmt_, index, value);
        return *this;
    }
    int Step() { return Prepared() ? sqlite3_step(stmt_) : rc_; }
    sqlite3_stmt* get() const { return stmt_; }
    std::string Text(int column) const {
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, column));
        return text ? std::string(text, static_cast<size_t>(sqlite3_column_bytes(stmt_, column))) : std::string();
    }
    bool IsNumber(int column) const {
        const int type = sqlite3_column_type(stmt_, column);
        return type == SQLITE_INTEGER || type == SQLITE_FLOAT;
    }

private:
    sqlite3_stmt* stmt_ = nullptr;
    int rc_ = SQLITE_ERROR;
};

// The object type ("table", "view") of `name` in the schema, or empty.
std::string SchemaType(sqlite3* db, const std::string& name) {
    Query query(db, "SELECT type FROM sqlite_master WHERE name = ?1 AND type IN ('table', 'view')");
    query.Bind(1, name);
    return query.Step() == SQLITE_ROW ? query.Text(0) : std::string();
}

} // namespace

bool Storage::Open(const char* path) {
    if (*path == '\0')
        return FailOpen("No GeoPackage file given");
    fileName_ = FileName(path);
    struct stat info {};
    if (stat(path, &info) != 0)
        return FailOpen(fileName_ + ": " + std::strerror(errno));
    if (S_ISDIR(info.st_mode))
        return FailOpen(fileName_ + " is a folder, not a GeoPackage");
    // SQLite would block reading a FIFO: only regular files are opened.
    if (!S_ISREG(info.st_mode))
        return FailOpen(fileName_ + " is not a regular file");
    // A file without write bits is opened read-only even for root, who could
    // write it anyway: the owner marked it as not to be changed.
    const bool writable = (info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) && access(path, W_OK) == 0;
    // An empty file is an empty database to SQLite: one that may be written
    // is a new GeoPackage, made by the first change; one that may not is
    // nothing. (A new database in WAL mode may have its pages in the -wal
    // file alone.)
    struct stat wal {};
    const bool empty = info.st_size == 0 &&
                       !(stat((std::string(path) + "-wal").c_str(), &wal) == 0 && wal.st_size > 0);
    if (empty && !writable)
        return FailOpen(fileName_ + " is empty: not a GeoPackage");
    const int flags = (writable ? SQLITE_OPEN_READWRITE : SQLITE_OPEN_READONLY) | SQLITE_OPEN_NOMUTEX;
    if (sqlite3_open_v2(path, &db_, flags, nullptr) != SQLITE_OK) {
        std::string text = fileName_ + ": " + (db_ ? sqlite3_errmsg(db_) : "cannot open");
        Close();
        return FailOpen(std::move(text));
    }
    path_ = sqlite3_db_filename(db_, "main");
    lockWait_.Install(db_);
    Arm();
    sqlite3_progress_handler(db_, 10000, &Storage::Watchdog, this);
    // Debian's SQLite zeroes deleted content by default, which doubles the
    // writes of a deletion; map tiles are no secret.
    sqlite3_exec(db_, "PRAGMA secure_delete = OFF", nullptr, nullptr, nullptr);
    readOnly_ = sqlite3_db_readonly(db_, "main") == 1;
    if (empty) {
        if (readOnly_) {
            Close();
            return FailOpen(fileName_ + " is empty: not a GeoPackage");
        }
        schemaPending_ = true;
        return true;
    }

    // SQLite reads the file only now: a file of another kind fails here.
    std::string contentsType;
    {
        Query probe(db_, "SELECT type FROM sqlite_master WHERE name = 'gpkg_contents'");
        const int rc = probe.Step();
        if (rc == SQLITE_ROW)
            contentsType = probe.Text(0);
        else if (rc != SQLITE_DONE) {
            std::string text = rc == SQLITE_NOTADB ? fileName_ + " is not an SQLite database, so no GeoPackage"
                                                   : fileName_ + ": " + sqlite3_errmsg(db_);
            Close();
            return FailOpen(std::move(text));
        }
    }
    if (contentsType.empty()) {
        Close();
        return FailOpen(fileName_ + " has no gpkg_contents table: not a GeoPackage");
    }

    std::vector<std::string> pyramids;
    {
        // In the order they were added; a gpkg_contents view has no rowid
        // and gives its own order.
        Query ordered(db_, "SELECT table_name FROM gpkg_contents WHERE data_type = 'tiles' ORDER BY rowid");
        Query unordered(db_, "SELECT table_name FROM gpkg_contents WHERE data_type = 'tiles'");
        Query& query = ordered.Prepared() ? ordered : unordered;
        int rc;
        while ((rc = query.Step()) == SQLITE_ROW)
            pyramids.push_back(query.Text(0));
        if (rc != SQLITE_DONE) {
            std::string text = fileName_ + ": gpkg_contents is unreadable: " + sqlite3_errmsg(db_);
            Close();
            return FailOpen(std::move(text));
        }
    }
    if (pyramids.empty()) {
        Close();
        return FailOpen(fileName_ + " has no tile pyramid (no \"tiles\" in gpkg_contents)");
    }

    std::string firstReason;
    for (const std::string& table : pyramids) {
        std::set<uint32_t> zooms;
        uint32_t tileSize = 256;
        std::string reason = CheckPyramid(table, &zooms, &tileSize);
        if (reason.empty()) {
            table_ = table;
            zooms_ = std::move(zooms);
            tileSize_ = tileSize;
            break;
        }
        if (firstReason.empty())
            firstReason = std::move(reason);
    }
    if (table_.empty()) {
        std::string text = pyramids.size() == 1
                               ? "Pyramid " + Quoted(pyramids[0], 20) + " is no Web-Mercator quadtree: " + firstReason
                               : "No pyramid is a Web-Mercator quadtree; " + Quoted(pyramids[0], 20) + ": " + firstReason;
        Close();
        return FailOpen(std::move(text));
    }

    isView_ = SchemaType(db_, table_) == "view";
    if (!PrepareReads()) {
        std::string text = fileName_ + ": not a tile table: " + sqlite3_errmsg(db_);
        Close();
        return FailOpen(std::move(text));
    }
    return true;
}

bool Storage::PrepareReads() {
    const std::string table = QuotedIdentifier(table_);
    const std::string where = " WHERE zoom_level = ?1 AND tile_column = ?2 AND tile_row = ?3";
    // Tile tables have an integer id; a view has none and is numbered in order.
    const std::string enumerate = " zoom_level, tile_column, tile_row, length(tile_data) FROM " + table;
    return (isView_ ? enumerate_.Prepare(db_, "SELECT NULL," + enumerate)
                    : enumerate_.Prepare(db_, "SELECT rowid," + enumerate)) &&
           select_.Prepare(db_, "SELECT tile_data FROM " + table + where);
}

bool Storage::CreateSchemaInBatch() {
    const bool made = Exec(kNewSchema);
    schemaPending_ = false;
    schemaInBatch_ = true;
    madeHere_ = true;
    table_ = kNewPyramid;
    isView_ = false;
    zooms_.clear();
    tileSize_ = 256;
    if (made && PrepareReads())
        return true;
    return false;
}

bool Storage::RegisterWebp() {
    if (webpRegistered_)
        return true;
    if (!Exec("CREATE TABLE IF NOT EXISTS gpkg_extensions (table_name TEXT, column_name TEXT,"
              " extension_name TEXT NOT NULL, definition TEXT NOT NULL, scope TEXT NOT NULL,"
              " CONSTRAINT ge_tce UNIQUE (table_name, column_name, extension_name))"))
        return false;
    Query add(db_, "INSERT INTO gpkg_extensions (table_name, column_name, extension_name, definition, scope)"
                   " SELECT ?1, 'tile_data', 'gpkg_webp', 'http://www.geopackage.org/spec120/#extension_tiles_webp',"
                   " 'read-write' WHERE NOT EXISTS (SELECT 1 FROM gpkg_extensions WHERE table_name = ?1"
                   " AND column_name = 'tile_data' AND extension_name = 'gpkg_webp')");
    add.Bind(1, table_);
    if (add.Step() != SQLITE_DONE)
        return false;
    webpRegistered_ = true;
    return true;
}

std::string Storage::CheckPyramid(const std::string& table, std::set<uint32_t>* zooms, uint32_t* tileSize) {
    if (SchemaType(db_, table).empty())
        return "its table is missing";

    Query set(db_, "SELECT srs_id, min_x, min_y, max_x, max_y FROM gpkg_tile_matrix_set WHERE table_name = ?1");
    if (!set.Prepared())
        return "the file has no usable gpkg_tile_matrix_set";
    set.Bind(1, table);
    if (set.Step() != SQLITE_ROW)
        return "it has no row in gpkg_tile_matrix_set";
    const int64_t srsId = sqlite3_column_int64(set.get(), 0);

    Query srs(db_, "SELECT organization, organization_coordsys_id FROM gpkg_spatial_ref_sys WHERE srs_id = ?1");
    if (!srs.Prepared())
        return "the file has no usable gpkg_spatial_ref_sys";
    srs.Bind(1, srsId);
    if (srs.Step() != SQLITE_ROW)
        return "its SRS " + std::to_string(srsId) + " is not in gpkg_spatial_ref_sys";
    const std::string organization = srs.Text(0).substr(0, 16);
    const int64_t code = sqlite3_column_int64(srs.get(), 1);
    // 900913 and 3785 are the older codes of the same projection.
    if (strcasecmp(organization.c_str(), "EPSG") != 0 || (code != 3857 && code != 900913 && code != 3785))
        return "its SRS is " + organization + ":" + std::to_string(code) + ", not EPSG:3857";

    for (int column = 1; column <= 4; ++column) {
        const double expected = column <= 2 ? -kHalfWorld : kHalfWorld;
        if (!set.IsNumber(column) || !(std::fabs(sqlite3_column_double(set.get(), column) - expected) <= kExtentTolerance))
            return "its extent is not the whole Web-Mercator world";
    }

    Query matrix(db_, "SELECT zoom_level, matrix_width, matrix_height, tile_width, tile_height"
                      " FROM gpkg_tile_matrix WHERE table_name = ?1 ORDER BY zoom_level");
    if (!matrix.Prepared())
        return "the file has no usable gpkg_tile_matrix";
    matrix.Bind(1, table);
    int rc;
    while ((rc = matrix.Step()) == SQLITE_ROW) {
        sqlite3_stmt* row = matrix.get();
        const int64_t zoom = sqlite3_column_int64(row, 0);
        if (zoom < 0 || zoom > plate_key::kMaxZoom)
            return "its zoom " + std::to_string(zoom) + " is outside 0 to " + std::to_string(plate_key::kMaxZoom);
        const int64_t side = int64_t{1} << zoom;
        const int64_t width = sqlite3_column_int64(row, 1);
        const int64_t height = sqlite3_column_int64(row, 2);
        if (width != side || height != side)
            return "zoom " + std::to_string(zoom) + " has " + std::to_string(width) + " x " + std::to_string(height) +
                   " tiles, not " + std::to_string(side) + " x " + std::to_string(side);
        const int64_t tileWidth = sqlite3_column_int64(row, 3);
        const int64_t tileHeight = sqlite3_column_int64(row, 4);
        // Both sizes of web map tiles; a plate is the tile whatever its size.
        if (tileWidth != tileHeight || (tileWidth != 256 && tileWidth != 512))
            return "zoom " + std::to_string(zoom) + " has tiles of " + std::to_string(tileWidth) + " x " +
                   std::to_string(tileHeight) + " pixels, not 256 x 256 or 512 x 512";
        if (zooms->empty())
            *tileSize = static_cast<uint32_t>(tileWidth);
        zooms->insert(static_cast<uint32_t>(zoom));
    }
    if (rc != SQLITE_DONE)
        return std::string("reading gpkg_tile_matrix failed: ") + sqlite3_errmsg(db_);
    return {};
}

void Storage::NameNewPyramid() {
    // After the file's name without its extension, as a layer is named
    // after its file; unless another pyramid has that name.
    std::string identifier = fileName_.substr(0, fileName_.rfind('.'));
    if (identifier.empty())
        identifier = kNewPyramid;
    Query name(db_, "UPDATE gpkg_contents SET identifier = ?2 WHERE table_name = ?1 AND identifier IS NULL"
                    " AND NOT EXISTS (SELECT 1 FROM gpkg_contents WHERE identifier = ?2)");
    name.Bind(1, table_).Bind(2, identifier);
    // A failure leaves the pyramid without a name, which readers allow.
    name.Step();
}

void Storage::Close() {
    if (!db_)
        return;
    // Nothing may stop the last commit.
    sqlite3_progress_handler(db_, 0, nullptr, nullptr);
    FollowSqlite();
    if (madeHere_ && !schemaPending_ && !readOnly_)
        NameNewPyramid();
    if (inBatch_) {
        // Readers of other programs may hold the file a while: the changes
        // answered Done must not be lost to a short wait.
        sqlite3_busy_timeout(db_, 30000);
        CommitBatch();
    }
    inBatch_ = false;
    batchChanges_ = 0;
    for (Statement* stmt : {&enumerate_, &select_, &update_, &insert_, &delete_, &insertMatrix_})
        stmt->Finalize();
    sqlite3_close_v2(db_);
    db_ = nullptr;
    table_.clear();
    zooms_.clear();
    tileSize_ = 256;
    webpRegistered_ = false;
    schemaPending_ = false;
    schemaInBatch_ = false;
    madeHere_ = false;
    isView_ = false;
    data_.clear();
    data_.shrink_to_fit();
}

int Storage::Watchdog(void* self) {
    return std::chrono::steady_clock::now() > static_cast<Storage*>(self)->deadline_ ? 1 : 0;
}

bool Storage::Exec(const char* sql) { return sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) == SQLITE_OK; }

uint32_t Storage::FailSql(const char* what) {
    if (sqlite3_errcode(db_) == SQLITE_INTERRUPT)
        return Fail(std::string(what) + ": stopped, a query of the file ran too long");
    return Fail(std::string(what) + ": " + sqlite3_errmsg(db_));
}

uint32_t Storage::Enumerate(PlateCallback callback, void* cookie) {
    if (!db_)
        return Fail("The storage is not open");
    FollowSqlite();
    if (schemaPending_) {
        SetErrorText("");
        return Empty;
    }
    Arm();

    // One scan in storage order, sorted by zoom in memory, as writers add
    // the deepest zoom first and the overviews after.
    struct Row {
        int64_t number;
        uint32_t x;
        uint32_t y;
        uint32_t size;
        uint32_t z;
    };
    std::vector<Row> rows;
    not_tiles::NotTiles notTiles;
    {
        sqlite3_stmt* stmt = enumerate_.get();
        ResetOnExit reset(stmt);
        int64_t ordinal = 0;
        int rc;
        while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
            Arm();
            ++ordinal;
            // A text, real or NULL would read as 0, a second copy of a real
            // plate; such a row, like one outside the grid, names no plate.
            if (sqlite3_column_type(stmt, 1) != SQLITE_INTEGER || sqlite3_column_type(stmt, 2) != SQLITE_INTEGER ||
                sqlite3_column_type(stmt, 3) != SQLITE_INTEGER) {
                ++notTiles.type;
                continue;
            }
            const sqlite3_int64 z = sqlite3_column_int64(stmt, 1);
            const sqlite3_int64 x = sqlite3_column_int64(stmt, 2);
            const sqlite3_int64 y = sqlite3_column_int64(stmt, 3);
            if (z < 0 || z > plate_key::kMaxZoom) {
                ++notTiles.zoom;
                continue;
            }
            if (x < 0 || y < 0 || x >> z != 0 || y >> z != 0) {
                ++notTiles.grid;
                continue;
            }
            const int64_t number =
                sqlite3_column_type(stmt, 0) == SQLITE_NULL ? ordinal : sqlite3_column_int64(stmt, 0);
            rows.push_back({number, static_cast<uint32_t>(x), static_cast<uint32_t>(y),
                            static_cast<uint32_t>(sqlite3_column_int64(stmt, 4)), static_cast<uint32_t>(z)});
        }
        if (rc != SQLITE_DONE)
            return FailSql("Reading the tiles failed");
    }
    // What was left out is said: as the failure when nothing was listed,
    // else as the text after a listing that went through.
    std::string notice = notTiles.Notice(rows.size());
    if (rows.empty())
        return notice.empty() ? static_cast<uint32_t>(Empty) : Fail(std::move(notice));
    std::stable_sort(rows.begin(), rows.end(), [](const Row& a, const Row& b) { return a.z < b.z; });

    char name[plate_key::kNameBufferSize];
    for (const Row& row : rows) {
        plate_key::Write({row.z, row.x, row.y}, name);
        if (callback(cookie, static_cast<int32_t>(row.number), name, 0, row.size) == 0)
            return Aborted;
    }
    SetErrorText(std::move(notice));
    return Done;
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
    Arm();
    sqlite3_stmt* stmt = select_.get();
    ResetOnExit reset(stmt);
    BindTile(stmt, tile.z, tile.x, tile.y);
    const int rc = sqlite3_step(stmt);
    if (rc == SQLITE_DONE)
        return Fail("No plate " + Quoted(name) + " in " + fileName_);
    if (rc != SQLITE_ROW)
        return FailSql("Reading the plate failed");
    return HandOutBlob(stmt, 0, data_, data, size) ? Done : Empty;
}

uint32_t Storage::Write(const char* name, const void* data, uint32_t size, uint32_t mode) {
    if (!db_)
        return Fail("The storage is not open");
    if (mode != WriteModeStore && mode != WriteModeDelete)
        return Fail("Unknown write mode " + std::to_string(mode));
    if (readOnly_)
        return Fail(fileName_ + " is read-only: plates cannot be changed");
    if (isView_)
        return Fail(fileName_ + ": the pyramid is a view; its plates cannot be changed");
    plate_key::Tile tile;
    if (!plate_key::Parse(name, &tile))
        return Fail("Invalid plate name " + Quoted(name));
    if (mode == WriteModeStore && !data && size > 0)
        return Fail("No data to store for plate " + Quoted(name));
    Arm();
    FollowSqlite();
    if (schemaPending_ && mode == WriteModeDelete)
        return Fail("No plate " + Quoted(name) + " in " + fileName_);
    if (!inBatch_ && !BeginBatch())
        return FailSql("Cannot start changing");
    if (schemaPending_ && !CreateSchemaInBatch()) {
        const uint32_t failed = FailSql("Cannot make the GeoPackage's tables");
        if (InTransaction())
            Exec("ROLLBACK");
        BatchLost();
        return failed;
    }
    const uint32_t result =
        mode == WriteModeStore ? Store(tile.z, tile.x, tile.y, data, size) : Delete(tile.z, tile.x, tile.y, name);
    if (result != Done) {
        // A failure that made SQLite roll the batch back took its earlier
        // changes with it: none of them is on disk.
        const int lost = batchChanges_;
        FollowSqlite();
        if (!inBatch_ && lost > 0)
            SetErrorText(ErrorText() + "; the " + std::to_string(lost) + " changes before it were undone");
        return result;
    }
    return AfterChange();
}

uint32_t Storage::Delete(uint32_t z, uint32_t x, uint32_t y, const char* name) {
    if (!delete_.Prepare(db_, "DELETE FROM " + QuotedIdentifier(table_) +
                                  " WHERE zoom_level = ?1 AND tile_column = ?2 AND tile_row = ?3"))
        return FailSql("Cannot delete");
    sqlite3_stmt* stmt = delete_.get();
    ResetOnExit reset(stmt);
    BindTile(stmt, z, x, y);
    if (sqlite3_step(stmt) != SQLITE_DONE)
        return FailSql("Deleting the plate failed");
    if (sqlite3_changes(db_) == 0)
        return Fail("No plate " + Quoted(name) + " in " + fileName_);
    return Done;
}

uint32_t Storage::Store(uint32_t z, uint32_t x, uint32_t y, const void* data, uint32_t size) {
    const double side = 2 * kHalfWorld / static_cast<double>(uint64_t{1} << z);
    const double minX = -kHalfWorld + side * x, maxX = minX + side;
    const double maxY = kHalfWorld - side * y, minY = maxY - side;
    if (storedMinX_ > storedMaxX_) {
        storedMinX_ = minX, storedMinY_ = minY, storedMaxX_ = maxX, storedMaxY_ = maxY;
    } else {
        storedMinX_ = std::min(storedMinX_, minX), storedMinY_ = std::min(storedMinY_, minY);
        storedMaxX_ = std::max(storedMaxX_, maxX), storedMaxY_ = std::max(storedMaxY_, maxY);
    }
    // The matrix row first: GeoPackage writers add triggers that refuse a
    // tile of a zoom level gpkg_tile_matrix does not describe.
    if (!EnsureMatrix(z, data, size))
        return FailSql("Cannot describe the zoom level");
    if (IsWebp(data, size) && !RegisterWebp())
        return FailSql("Cannot register the WebP extension");
    const std::string table = QuotedIdentifier(table_);
    // Updating in place keeps the tile's id, which is its number in lists.
    if (!update_.Prepare(db_, "UPDATE " + table +
                                  " SET tile_data = ?4 WHERE zoom_level = ?1 AND tile_column = ?2 AND tile_row = ?3") ||
        !insert_.Prepare(db_, "INSERT INTO " + table + " (zoom_level, tile_column, tile_row, tile_data)"
                                                        " VALUES (?1, ?2, ?3, ?4)"))
        return FailSql("Cannot store");
    const void* bytes = data ? data : "";
    {
        sqlite3_stmt* stmt = update_.get();
        ResetOnExit reset(stmt);
        BindTile(stmt, z, x, y);
        sqlite3_bind_blob(stmt, 4, bytes, static_cast<int>(size), SQLITE_STATIC);
        if (sqlite3_step(stmt) != SQLITE_DONE)
            return FailSql("Storing the plate failed");
        if (sqlite3_changes(db_) > 0)
            return Done;
    }
    sqlite3_stmt* stmt = insert_.get();
    ResetOnExit reset(stmt);
    BindTile(stmt, z, x, y);
    sqlite3_bind_blob(stmt, 4, bytes, static_cast<int>(size), SQLITE_STATIC);
    if (sqlite3_step(stmt) != SQLITE_DONE)
        return FailSql("Storing the plate failed");
    return Done;
}

bool Storage::EnsureMatrix(uint32_t z, const void* data, uint32_t size) {
    if (zooms_.count(z))
        return true;
    if (!insertMatrix_.Prepare(db_, "INSERT INTO gpkg_tile_matrix (table_name, zoom_level, matrix_width,"
                                    " matrix_height, tile_width, tile_height, pixel_x_size, pixel_y_size)"
                                    " SELECT ?1, ?2, ?3, ?3, ?5, ?5, ?4, ?4 WHERE NOT EXISTS"
                                    " (SELECT 1 FROM gpkg_tile_matrix WHERE table_name = ?1 AND zoom_level = ?2)"))
        return false;
    // The level's tiles are as large as the first one stored into it says;
    // data of no known image format takes the pyramid's size.
    ImageSize image;
    const uint32_t tileSize =
        ReadImageSize(data, size, &image) && image.width == image.height && (image.width == 256 || image.width == 512)
            ? image.width
            : tileSize_;
    sqlite3_stmt* stmt = insertMatrix_.get();
    ResetOnExit reset(stmt);
    const int64_t side = int64_t{1} << z;
    sqlite3_bind_text(stmt, 1, table_.data(), static_cast<int>(table_.size()), SQLITE_STATIC);
    sqlite3_bind_int64(stmt, 2, z);
    sqlite3_bind_int64(stmt, 3, side);
    sqlite3_bind_double(stmt, 4, 2 * kHalfWorld / (tileSize * static_cast<double>(side)));
    sqlite3_bind_int64(stmt, 5, tileSize);
    if (sqlite3_step(stmt) != SQLITE_DONE)
        return false;
    zooms_.insert(z);
    return true;
}

// A file another program writes fails here, before anything changed;
// readers go on reading until the commit.
bool Storage::BeginBatch() {
    if (!Exec("BEGIN IMMEDIATE"))
        return false;
    lockWait_.Taken();
    inBatch_ = true;
    batchChanges_ = 0;
    batchStart_ = std::chrono::steady_clock::now();
    return true;
}

void Storage::FollowSqlite() {
    if (inBatch_ && !InTransaction())
        BatchLost();
}

void Storage::BatchLost() {
    inBatch_ = false;
    batchChanges_ = 0;
    // The zoom levels and bounds added in the batch are unknown again.
    zooms_.clear();
    webpRegistered_ = false;
    storedMinX_ = 1, storedMaxX_ = 0;
    if (schemaInBatch_) {
        // The tables went with the batch: the file is empty again.
        schemaInBatch_ = false;
        schemaPending_ = true;
        madeHere_ = false;
        table_.clear();
        for (Statement* stmt : {&enumerate_, &select_, &update_, &insert_, &delete_, &insertMatrix_})
            stmt->Finalize();
    }
}

uint32_t Storage::AfterChange() {
    ++batchChanges_;
    if (batchChanges_ >= kBatchSize || std::chrono::steady_clock::now() - batchStart_ >= kMaxBatchAge) {
        if (!CommitBatch())
            return Failed;
    }
    return Done;
}

bool Storage::CommitBatch() {
    // Readers of the file use last_change to see that the pyramid changed,
    // and show only what lies inside its bounds: they grow to take in the
    // stored plates when they are given in the pyramid's own system.
    Query touch(db_, "UPDATE gpkg_contents SET last_change = strftime('%Y-%m-%dT%H:%M:%fZ', 'now')"
                     " WHERE table_name = ?1");
    touch.Bind(1, table_);
    // A failure of these two is no reason to lose the batch, unless SQLite
    // rolled it back then (a full disk): its message is kept for the text.
    std::string why;
    const auto lostAt = [this, &why](int rc) {
        if (rc != SQLITE_DONE && why.empty() && !InTransaction())
            why = sqlite3_errmsg(db_);
    };
    lostAt(touch.Step());
    if (storedMinX_ <= storedMaxX_) {
        // Bounds left unknown by another writer stay so; a pyramid made
        // here starts from the first plates' extent.
        Query grow(db_, madeHere_ ? "UPDATE gpkg_contents SET min_x = coalesce(min(min_x, ?2), ?2),"
                                    " min_y = coalesce(min(min_y, ?3), ?3), max_x = coalesce(max(max_x, ?4), ?4),"
                                    " max_y = coalesce(max(max_y, ?5), ?5) WHERE table_name = ?1"
                                    " AND srs_id = (SELECT srs_id FROM gpkg_tile_matrix_set WHERE table_name = ?1)"
                                  : "UPDATE gpkg_contents SET min_x = min(min_x, ?2), min_y = min(min_y, ?3),"
                                    " max_x = max(max_x, ?4), max_y = max(max_y, ?5) WHERE table_name = ?1"
                                    " AND min_x IS NOT NULL AND min_y IS NOT NULL AND max_x IS NOT NULL"
                                    " AND max_y IS NOT NULL"
                                    " AND srs_id = (SELECT srs_id FROM gpkg_tile_matrix_set WHERE table_name = ?1)");
        grow.Bind(1, table_);
        const double bounds[] = {storedMinX_, storedMinY_, storedMaxX_, storedMaxY_};
        for (int i = 0; i < 4; ++i)
            sqlite3_bind_double(grow.get(), i + 2, bounds[i]);
        lostAt(grow.Step());
        storedMinX_ = 1, storedMaxX_ = 0;
    }
    if (why.empty() && Exec("COMMIT")) {
        inBatch_ = false;
        batchChanges_ = 0;
        schemaInBatch_ = false;
        return true;
    }
    // A commit that waited in vain for readers leaves the batch open, as
    // SQLite does: its changes stay pending, and the next change or Close
    // tries again.
    if (why.empty() && sqlite3_errcode(db_) == SQLITE_BUSY && InTransaction())
        return true;
    // A batch that does not commit for any other reason is rolled back
    // whole, so that none of its changes is on disk. The message is taken
    // before anything else runs, as each later call resets it.
    if (why.empty())
        why = sqlite3_errcode(db_) == SQLITE_INTERRUPT ? "stopped, a query of the file ran too long"
                                                       : sqlite3_errmsg(db_);
    SetErrorText("Committing the changes failed: " + why + "; the batch's " + std::to_string(batchChanges_) +
                 " changes were undone");
    if (InTransaction())
        Exec("ROLLBACK");
    BatchLost();
    return false;
}

} // namespace geopackage
