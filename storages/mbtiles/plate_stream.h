#pragma once
// The plate stream of a large table: a worker thread with a connection of
// its own walks the rows in rowid order and copies each tile's name parts
// and data into chunks, which the calling thread hands to the program's
// callback. SQLite's work and the program's (a copy's stores into another
// storage) then run on both cores; a few chunks are held at a time, so
// memory does not grow with the table.

#include "plate_key.h"
#include "read_ahead.h"
#include "tile_scan.h"

#include <sqlite3.h>

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace mbtiles {

class StreamReader {
public:
    // One tile row: its number, the tile (y from the top) and where its
    // data lie in the chunk's bytes. The name is spelt out by the caller:
    // SQLite's walk is the slower of the two threads.
    struct Row {
        int64_t number;
        uint32_t offset;
        uint32_t size;
        uint32_t z, x, y;
    };
    struct Chunk {
        std::vector<Row> rows;
        std::vector<unsigned char> bytes;
    };
    // Chunks end after this many rows or bytes, whichever comes first.
    static constexpr size_t kChunkRows = 8192;
    static constexpr size_t kChunkBytes = size_t{4} << 20;
    static constexpr int kSlots = 4;

    StreamReader() = default;
    StreamReader(const StreamReader&) = delete;
    StreamReader& operator=(const StreamReader&) = delete;
    ~StreamReader() { Stop(); }

    // Opens a read-only connection to `path` and starts walking `sql`, one
    // aggregate ulmora_stream(number, zoom_level, tile_column, tile_row,
    // tile_data) over the rows.
    // False leaves a text in Error().
    bool Start(const std::string& path, const char* sql);
    // The next chunk, valid until the next call; null at the end or on a
    // failure (then Error() is not empty).
    const Chunk* Next();
    // Stops and joins the worker; safe to call twice.
    void Stop();
    const std::string& Error() const { return error_; }
    // The rows passed over as naming no tile; read once Next gave null.
    const NotTiles& PassedOver() const { return notTiles_; }

private:
    void Run();
    // Waits for a free slot and makes it the chunk being filled; false when
    // stopped.
    bool Begin();
    // Hands the chunk being filled over; `last` with the walk's failure.
    void Publish(bool last, std::string failure);
    static void CollectRow(sqlite3_context* context, int count, sqlite3_value** args);
    static void EndRows(sqlite3_context* context);

    ReadAheadUse readAhead_; // first made, last gone: it outlives the connection
    sqlite3* db_ = nullptr;
    sqlite3_stmt* stmt_ = nullptr;
    Chunk slots_[kSlots];
    bool ready_[kSlots] = {}; // guarded by mutex_
    Chunk* filling_ = nullptr; // the worker's chunk being filled
    int64_t filled_ = 0;       // the worker's count of chunks handed over
    int64_t produced_ = 0;    // chunks finished, guarded by mutex_
    int64_t consumed_ = 0;    // chunks handed out: the caller's own
    bool holding_ = false;    // a chunk handed out is still in use
    bool finished_ = false;   // the worker wrote its last chunk
    bool stop_ = false;
    std::string error_;
    NotTiles notTiles_; // the worker's until it finished
    std::mutex mutex_;
    std::condition_variable changed_;
    std::thread thread_;
};

} // namespace mbtiles
