#pragma once
// Reading the tile rows of an MBTiles file for a listing: classifying each
// row, and reading large tables ahead on worker threads with connections of
// their own, so that SQLite's work and the program's callbacks run on both
// cores while nothing is held per tile.

#include <sqlite3.h>

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace mbtiles {

// Rows that name no tile, by reason.
struct NotTiles {
    uint64_t zoom = 0; // zoom level outside 0 to 30
    uint64_t grid = 0; // column or row outside the level's grid
    uint64_t type = 0; // zoom, column or row not an integer

    uint64_t Total() const { return zoom + grid + type; }
    void Add(const NotTiles& other) {
        zoom += other.zoom;
        grid += other.grid;
        type += other.type;
    }
    // "2 zoom not 0-30, 1 not integers": the reasons that occurred, short
    // enough for the program's 100-byte error text.
    std::string Reasons() const;
};

// One tile row as stored: the row counts from the bottom.
struct ScanRow {
    int64_t number;
    uint32_t z;
    uint32_t x;
    uint32_t row;
    uint32_t size;
};

// Reads the current result row of `stmt`, whose columns are number (null:
// use `ordinal`), zoom_level, tile_column, tile_row and the data's length.
// True for a tile; a row that names none is counted in `notTiles`.
bool ReadRow(sqlite3_stmt* stmt, int64_t ordinal, ScanRow* out, NotTiles* notTiles);

// Reads rows on worker threads and hands them, in chunk order, to the one
// thread that calls Next. Two ways to cut the work:
//  - rowid ranges: chunk i holds the rows with rowid in [first + i * span,
//    first + (i + 1) * span), read by worker i % workers with `sql` (its
//    ?1 and ?2 are the range); the workers read in parallel;
//  - one stream: a single worker steps `sql` and cuts its rows into chunks
//    of `span` rows.
// Range statements hand their rows to the aggregate ulmora_tiles(number,
// zoom, column, row, size), e.g. "SELECT ulmora_tiles(rowid, ...) FROM tiles
// WHERE rowid >= ?1 AND rowid < ?2"; the stream statement returns the five
// columns as result rows (a sort may come between the two).
// Each worker holds kSlots chunks at most: memory does not grow with the table.
class ChunkReader {
public:
    // Chunks a worker may hold: enough slack that a worker or the reporting
    // thread waiting for its turn on a busy machine does not stall the rest.
    static constexpr int kSlots = 4;
    struct Chunk {
        std::vector<ScanRow> rows;
        NotTiles notTiles;
        bool last = false;
    };

    ChunkReader() = default;
    ChunkReader(const ChunkReader&) = delete;
    ChunkReader& operator=(const ChunkReader&) = delete;
    ~ChunkReader() { Stop(); }

    // Opens the workers' read-only connections to `path` and starts them.
    // False leaves a text in Error().
    bool StartRanges(const std::string& path, const char* sql, int64_t first, int64_t last,
                     int64_t span, int workers);
    bool StartStream(const std::string& path, const char* sql, int64_t span);

    // The next chunk, valid until the next call; null at the end or on a
    // failure (then Error() is not empty).
    const Chunk* Next();
    // Stops and joins the workers; safe to call twice.
    void Stop();
    const std::string& Error() const { return error_; }

private:
    struct Worker {
        sqlite3* db = nullptr;
        sqlite3_stmt* stmt = nullptr;
        Chunk slots[kSlots];
        bool ready[kSlots] = {};
        Chunk* filling = nullptr; // where ulmora_tile files rows
        std::thread thread;
    };

    static void CollectRow(sqlite3_context* context, int count, sqlite3_value** args);
    static void EndRows(sqlite3_context* context);
    bool OpenWorkers(const std::string& path, const char* sql, int count);
    void RunRanges(size_t index);
    void RunStream();
    // Waits until the worker's slot is free; false when stopping.
    bool WaitFree(Worker& worker, int slot);
    void Publish(Worker& worker, int slot, std::string failure);

    std::vector<Worker> workers_;
    bool ranges_ = true;
    int64_t first_ = 0;
    int64_t span_ = 0;
    int64_t chunkCount_ = 0; // ranges only
    int64_t next_ = 0;       // the chunk Next hands out next
    Worker* held_ = nullptr; // the chunk handed out last: its worker and slot
    int heldSlot_ = 0;
    bool ended_ = false;

    std::mutex mutex_;
    std::condition_variable produced_;
    std::condition_variable consumed_;
    bool stop_ = false;
    std::string error_;
};

} // namespace mbtiles
