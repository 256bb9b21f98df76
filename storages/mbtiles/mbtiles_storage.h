#pragma once
// One open MBTiles file (an SQLite database of map tiles).

#include "plugin_glue.h"

#include <sqlite3.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

namespace mbtiles {

// A prepared statement, finalized with its owner.
class Statement {
public:
    Statement() = default;
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    ~Statement() { Finalize(); }

    // Prepares `sql` unless already prepared; false leaves sqlite's message.
    bool Prepare(sqlite3* db, const char* sql);
    void Finalize();
    sqlite3_stmt* get() const { return stmt_; }

private:
    sqlite3_stmt* stmt_ = nullptr;
};

class Storage : public storage_glue::StorageBase {
public:
    static constexpr const char* kExtension = "mbtiles";
    // Deletions are committed in batches of this many, and at the latest
    // after kMaxBatchAge, so a crash loses little and deleting stays fast.
    static constexpr int kBatchSize = 1000;
    static constexpr std::chrono::milliseconds kMaxBatchAge{1000};

    ~Storage() { Close(); }

    bool Open(const char* path);
    void Close();
    uint32_t GetPlateData(const char* name, const void** data, uint32_t* size);
    uint32_t Write(const char* name, const void* data, uint32_t size, uint32_t mode);
    uint32_t Enumerate(PlateCallback callback, void* cookie);

private:
    enum class Layout {
        Plain,        // a tiles table
        Deduplicated, // map + images tables behind a tiles view
        OtherView     // some other tiles view: readable, not changeable
    };

    bool Exec(const char* sql);
    uint32_t FailSql(const char* what);
    uint32_t DeletePlain(uint32_t z, uint32_t x, uint32_t row, const char* name);
    uint32_t DeleteDeduplicated(uint32_t z, uint32_t x, uint32_t row, const char* name);
    bool LoadImageUses();
    uint32_t AfterDelete();
    bool CommitBatch();

    sqlite3* db_ = nullptr;
    std::string fileName_; // for messages: the last path component
    Layout layout_ = Layout::Plain;
    bool readOnly_ = false;

    Statement enumerate_;
    Statement select_;
    Statement deleteTile_;
    Statement findMapRow_;
    Statement deleteMapRow_;
    Statement deleteImage_;
    Statement countImageUses_;

    std::vector<unsigned char> data_; // the block GetPlateData handed out

    bool inTransaction_ = false;
    int batchDeletes_ = 0;
    std::chrono::steady_clock::time_point batchStart_;

    // Deduplicated layout: how many map rows use each image. Counted once on
    // the first deletion, because map usually has no index on tile_id and a
    // per-deletion count would scan the whole table.
    bool imageUsesLoaded_ = false;
    std::unordered_map<std::string, uint32_t> imageUses_;
};

} // namespace mbtiles
