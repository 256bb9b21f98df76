#pragma once
// One open GeoPackage (an SQLite database) and the one tile pyramid of it
// whose tiles are plates: the first, in gpkg_contents order, that is a
// quadtree of the whole Web-Mercator world with square tiles of 256 or 512
// pixels. Its rows count from the top, as plate names do.
//
// An empty file (a copy's new target) is a GeoPackage without plates: the
// first store or metadata change makes its tables and one such pyramid,
// "tiles"; opening and listing it leave it empty.

#include "plugin_glue.h"
#include "sqlite_helpers.h"

#include <sqlite3.h>

#include <chrono>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

namespace geopackage {

using sqlite_helpers::Statement;

class Storage : public storage_glue::StorageBase {
public:
    static constexpr const char* kExtension = "gpkg";
    // Changes are committed in batches of this many, and at the latest
    // after kMaxBatchAge, so a crash loses little and writing stays fast.
    static constexpr int kBatchSize = 1000;
    static constexpr std::chrono::milliseconds kMaxBatchAge{1000};

    ~Storage() { Close(); }

    bool Open(const char* path);
    void Close();
    uint32_t GetPlateData(const char* name, const void** data, uint32_t* size);
    uint32_t Write(const char* name, const void* data, uint32_t size, uint32_t mode);
    uint32_t Enumerate(PlateCallback callback, void* cookie);
    // Every plate with its data in one walk of the pyramid's table, in its
    // own order (the plate stream extension).
    uint32_t StreamPlates(PlateStreamCallback callback, void* cookie);
    static constexpr uint32_t kStreamFlags = 0;
    // The pyramid's rows of gpkg_contents and gpkg_tile_matrix_set, and its
    // zoom levels; the columns of its gpkg_contents row a writer may choose
    // can be changed (geopackage_metadata.cpp).
    uint32_t ReadMetadata(MetadataCallback callback, void* cookie);
    uint32_t WriteMetadata(const char* key, const char* value);
    // The SQLite file itself: checked, measured, compacted (sqlite_container.h).
    uint32_t CheckContainer(ContainerCallback callback, void* cookie);
    uint32_t MeasureSpace(uint64_t* fileBytes, uint64_t* freeBytes);
    uint32_t ReclaimSpace(ContainerCallback callback, void* cookie, uint64_t* before, uint64_t* after);

    // The pyramid (tile table) the plates come from.
    const std::string& Pyramid() const { return table_; }

    // A file's views can make a query run for ever; a statement that gives
    // no row for this long is stopped, so the program never hangs.
    void SetStatementTimeLimit(std::chrono::milliseconds limit) { timeLimit_ = limit; }

private:
    // Why `table` is no Web-Mercator quadtree, or an empty text; fills
    // *zooms with the zoom levels of its tile matrix.
    std::string CheckPyramid(const std::string& table, std::set<uint32_t>* zooms, uint32_t* tileSize);
    // Prepares the listing's and the lookup's statements for table_.
    bool PrepareReads();
    // Makes the tables of an empty file and its pyramid in the open batch.
    bool CreateSchemaInBatch();
    // Names a pyramid made here that nobody named, on closing.
    void NameNewPyramid();
    // Registers the WebP extension for the pyramid's tiles, once.
    bool RegisterWebp();
    bool Exec(const char* sql);
    uint32_t FailSql(const char* what);
    uint32_t Store(uint32_t z, uint32_t x, uint32_t y, const void* data, uint32_t size);
    uint32_t Delete(uint32_t z, uint32_t x, uint32_t y, const char* name);
    bool EnsureMatrix(uint32_t z, const void* data, uint32_t size);
    void Arm() { deadline_ = std::chrono::steady_clock::now() + timeLimit_; }
    static int Watchdog(void* self);
    // Whether SQLite has a transaction open: the batch's state is SQLite's,
    // which rolls a transaction back by itself after some failures (a full
    // disk, an I/O error).
    bool InTransaction() const { return db_ && sqlite3_get_autocommit(db_) == 0; }
    // Notices a batch that SQLite ended by itself.
    void FollowSqlite();
    // Forgets what a batch that did not commit had changed.
    void BatchLost();
    bool BeginBatch();
    uint32_t AfterChange();
    bool CommitBatch();

    sqlite3* db_ = nullptr;
    std::string fileName_; // for messages: the last path component
    std::string path_;     // the database file, for the container's own connections
    std::string table_;
    bool readOnly_ = false;
    bool isView_ = false;
    std::set<uint32_t> zooms_; // zoom levels gpkg_tile_matrix has for the pyramid
    // The tile size of the pyramid's described levels, for a new level whose
    // tiles' size cannot be read from their data.
    uint32_t tileSize_ = 256;
    bool webpRegistered_ = false; // the pyramid's WebP extension row exists
    // An empty file: its tables are made with the first change, inside that
    // change's batch (schemaInBatch_), and are gone again if it fails.
    bool schemaPending_ = false;
    bool schemaInBatch_ = false;
    // The pyramid was made by this action: its bounds in gpkg_contents start
    // out unknown and are those of the plates stored.
    bool madeHere_ = false;

    Statement enumerate_;
    Statement select_;
    Statement update_;
    Statement insert_;
    Statement delete_;
    Statement insertMatrix_;

    std::vector<unsigned char> data_; // the block GetPlateData handed out

    std::chrono::milliseconds timeLimit_{10000};
    std::chrono::steady_clock::time_point deadline_;

    bool inBatch_ = false; // a batch of changes is open
    int batchChanges_ = 0;
    sqlite_helpers::LockWait lockWait_;
    // The extent of the plates stored in this batch (Web-Mercator metres),
    // for the pyramid's bounds in gpkg_contents; empty when min > max.
    double storedMinX_ = 1, storedMinY_ = 1, storedMaxX_ = 0, storedMaxY_ = 0;
    std::chrono::steady_clock::time_point batchStart_;
};

} // namespace geopackage
