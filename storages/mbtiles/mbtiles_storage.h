#pragma once
// One open MBTiles file (an SQLite database of map tiles).

#include "plate_key.h"
#include "plugin_glue.h"
#include "sqlite_helpers.h"
#include "tile_scan.h"

#include <sqlite3.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

namespace mbtiles {

class Lister; // reports a listing's plates and counts what it left out

using sqlite_helpers::Statement;

class Storage : public storage_glue::StorageBase {
public:
    static constexpr const char* kExtension = "mbtiles";
    // Stores and deletions are committed in batches of this many, and at the
    // latest after kMaxBatchAge, so a crash loses at most a second of work
    // and writing stays fast; Close and Enumerate commit what is pending.
    // Each commit costs several syncs of the file and its journal: a
    // thousand a batch made deleting a level of 65,536 plates commit 66 times.
    static constexpr int kBatchSize = 8192;
    // Tables with rowids spanning fewer than this many are listed on the
    // calling thread alone: starting workers would cost more than it saves.
    static constexpr int64_t kChunkRows = 16384;
    static constexpr int64_t kThreadedRows = 4 * kChunkRows;
    static constexpr std::chrono::milliseconds kMaxBatchAge{1000};

    ~Storage() { Close(); }

    bool Open(const char* path);
    void Close();
    uint32_t GetPlateData(const char* name, const void** data, uint32_t* size);
    uint32_t Write(const char* name, const void* data, uint32_t size, uint32_t mode);
    uint32_t Enumerate(PlateCallback callback, void* cookie);
    // Every plate with its data in one walk of the table in rowid order
    // (the plate stream extension).
    uint32_t StreamPlates(PlateStreamCallback callback, void* cookie);
    // Its stream leaves out only the rows the listing leaves out; a read that
    // fails ends it.
    static constexpr uint32_t kStreamFlags = ULMORA_STREAM_WHOLE;
    // The plates of levels minLevel..maxLevel (name lengths) inside the
    // quadtree area `area` ("" for all): the "ulmora.part/1" listing.
    uint32_t EnumeratePart(const char* area, uint32_t minLevel, uint32_t maxLevel, PlateCallback callback,
                           void* cookie);
    // The metadata table's rows (mbtiles_metadata.cpp).
    uint32_t ReadMetadata(MetadataCallback callback, void* cookie);
    uint32_t WriteMetadata(const char* key, const char* value);
    // The SQLite file itself: checked, measured, compacted (sqlite_container.h).
    uint32_t CheckContainer(ContainerCallback callback, void* cookie);
    uint32_t MeasureSpace(uint64_t* fileBytes, uint64_t* freeBytes);
    uint32_t ReclaimSpace(ContainerCallback callback, void* cookie, uint64_t* before, uint64_t* after);

private:
    uint32_t BeginListing();
    // GetPlateData without its transaction handling.
    uint32_t ReadPlate(const char* name, const plate_key::Tile& tile, const void** data, uint32_t* size);
    // The plate from the row after the last one read, when that row is it;
    // false when it is not (or cannot be told): look it up then.
    bool ReadFollowing(uint32_t z, uint32_t x, uint32_t row, const void** data, uint32_t* size, uint32_t* result);
    // Ends the walk of ReadFollowing, before anything else runs on the connection.
    void StopFollowing();
    enum class Layout {
        Plain,        // a tiles table
        Deduplicated, // map + images tables behind a tiles view
        OtherView     // some other tiles view: readable, not changeable
    };

    bool Exec(const char* sql);
    uint32_t FailSql(const char* what);
    bool PrepareListing();
    bool HasZoomIndex(const char* table);
    bool HasUniqueTileIndex(const char* table);
    bool RowidOrderIsZoomOrder(int64_t first, int64_t last);
    uint32_t ListInRowidOrder(int64_t first, int64_t last, bool streamed, Lister& lister);
    uint32_t ListInIndexOrder(Lister& lister);
    uint32_t FinishListing(uint32_t result, const Lister& lister);
    // The end of a walk of the rows (a listing, the plate stream) that found
    // `listed` tiles and passed over `notTiles`.
    uint32_t FinishWalk(uint32_t result, const NotTiles& notTiles, uint64_t listed);
    uint32_t BeginWrite(const char* what);
    uint32_t StorePlain(uint32_t z, uint32_t x, uint32_t row, const void* data, uint32_t size);
    uint32_t StoreDeduplicated(uint32_t z, uint32_t x, uint32_t row, const void* data, uint32_t size);
    bool FindOrAddImage(const void* data, uint32_t size, std::string* id);
    void NoteFormat(const void* data, uint32_t size);
    uint32_t DeletePlain(uint32_t z, uint32_t x, uint32_t row, const char* name);
    uint32_t DeleteDeduplicated(uint32_t z, uint32_t x, uint32_t row, const char* name);
    bool LoadImageUses();
    bool DropImageUse(const std::string& key, sqlite3_value* id);
    // Whether SQLite has a transaction open on the connection: the batch's
    // state is SQLite's, which rolls a transaction back by itself after
    // some failures (a full disk, an I/O error).
    bool InTransaction() const { return db_ && sqlite3_get_autocommit(db_) == 0; }
    // Notices a batch that SQLite ended by itself.
    void FollowSqlite();
    // Forgets what a batch that did not commit had changed.
    void BatchLost();
    // Ends a batch of reads; false when a batch of changes is open.
    void EndReads();
    uint32_t AfterWrite();
    bool CommitBatch();
    bool CreateSchemaInBatch();

    sqlite3* db_ = nullptr;
    std::string fileName_; // for messages: the last path component
    std::string path_;     // the database file, for the listing's own connections
    Layout layout_ = Layout::Plain;
    bool readOnly_ = false;
    bool zoomIndex_ = false;    // an index starts with zoom_level
    bool uniqueTiles_ = false;  // plain: a unique index on the tile's coordinates
    bool formatNoted_ = false;  // the metadata's format was looked at this session

    // The listing's statements: whole rowid ranges, index order, and the
    // rows of one level that follow a deeper level in rowid order.
    const char* rangeSql_ = nullptr;
    Statement range_;
    Statement ordered_;
    Statement select_;
    Statement deleteTile_;
    Statement findMapRow_;
    Statement deleteMapRow_;
    Statement deleteImage_;
    Statement countImageUses_;
    Statement store_;
    Statement update_;
    Statement findImage_;
    Statement addImage_;
    Statement addMapRow_;
    Statement setMapImage_;

    std::vector<unsigned char> data_; // the block GetPlateData handed out

    // Plates read in the file's own order (a copy or an export of a listing
    // in rowid order) come from one walk of the table, a step each, instead
    // of an index look-up and a table look-up each. Plain tables with a
    // unique tile index only: there the next row names one plate for sure.
    Statement stream_;       // the plate stream's walk
    Statement selectPlain_;  // the look-up, with the row's number
    Statement following_;    // the rows after a number
    int64_t lastRowid_ = -1; // the row read last; -1: none known
    bool followActive_ = false;
    uint32_t followSkip_ = 0;    // look-ups to make before trying the walk again
    uint32_t followBackoff_ = 0; // how many after the next miss

    // The open batch: reads share one transaction, changes another.
    enum class Batch { None, Reads, Changes };
    Batch batch_ = Batch::None;
    int batchCount_ = 0; // reads or changes in the open batch
    std::chrono::steady_clock::time_point batchStart_;
    sqlite_helpers::LockWait lockWait_;
    // An empty file: its tables are made with the first store, so that
    // opening or listing it never writes to it.
    bool schemaPending_ = false;
    bool schemaInBatch_ = false; // made in the open batch: gone if it fails

    // Deduplicated layout: how many map rows use each image. Counted once on
    // the first deletion, because map usually has no index on tile_id and a
    // per-deletion count would scan the whole table.
    bool imageUsesLoaded_ = false;
    std::unordered_map<std::string, uint32_t> imageUses_;
};

} // namespace mbtiles
