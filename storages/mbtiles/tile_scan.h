#pragma once
// Reading the tile rows of an MBTiles file for a listing: classifying each
// row, and reading large tables ahead on worker threads with connections of
// their own, so that SQLite's work and the program's callbacks run on both
// cores while nothing is held per tile.

#include "not_tiles.h"
#include "read_ahead.h"

#include <sqlite3.h>

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace mbtiles {

using not_tiles::NotTiles;

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
// The same for a row whose column 4 is the data, not its length: `out`
// gets the tile, its size 0.
bool ReadTileOfRow(sqlite3_stmt* stmt, ScanRow* out, NotTiles* notTiles);
// The same from a function's arguments (number, zoom, column, row, data).
bool ReadTileOfValues(sqlite3_value** args, ScanRow* out, NotTiles* notTiles);

// Reads rows on worker threads and hands them, in order, in chunks of at
// most `span` rows, to the one thread that calls Next. Two ways to cut the
// work:
//  - rowid ranges: range i holds the rows with rowid in [first + i * width,
//    first + (i + 1) * width), read by worker i % workers with `sql` (its ?1
//    is where the range starts; the aggregate ends the step at the range's
//    end); the workers read in parallel. The statement hands its rows to
//    the aggregate ulmora_tiles(number, zoom, column, row, size), e.g.
//    "SELECT ulmora_tiles(rowid, ...) FROM tiles WHERE rowid >= ?1";
//  - one stream: a single worker steps `sql`, which returns those five
//    columns as result rows (a sort may come between the two).
// Each worker holds kSlots chunks at most: memory does not grow with the table.
class ChunkReader {
public:
    // Chunks a worker may hold: enough slack that a worker or the reporting
    // thread waiting for its turn on a busy machine does not stall the rest.
    // Two workers and the reporting thread share two cores in a large
    // listing; 16 chunks (6 MB a worker) keep both cores busy where 4 left
    // them idle for a tenth of the time.
    static constexpr int kSlots = 16;
    // At most this many rowid ranges, however sparse the rowids.
    static constexpr int64_t kMaxRanges = 8192;

    struct Chunk {
        std::vector<ScanRow> rows;
        NotTiles notTiles;
        bool endsRange = false;
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
        ChunkReader* reader = nullptr;
        sqlite3* db = nullptr;
        sqlite3_stmt* stmt = nullptr;
        Chunk slots[kSlots];
        bool ready[kSlots] = {}; // guarded by mutex_
        Chunk* filling = nullptr; // the worker's own
        int64_t produced = 0;     // chunks finished: the worker's own
        int64_t consumed = 0;     // chunks handed back: guarded by mutex_
        int64_t end = 0;          // the rowid the current range ends before
        bool reachedEnd = false;  // the step ended there, not in a failure
        std::thread thread;
    };

    static void CollectRow(sqlite3_context* context, int count, sqlite3_value** args);
    static void EndRows(sqlite3_context* context);
    bool OpenWorkers(const std::string& path, const char* sql, int count);
    void RunRanges(size_t index);
    void RunStream();
    // Waits for the worker's next slot to be free and starts filling it;
    // false when stopping.
    bool Begin(Worker& worker);
    // Hands the chunk being filled over to Next.
    void Finish(Worker& worker, bool endsRange, bool last, std::string failure);
    bool Stopping();

    ReadAheadUse readAhead_; // first made, last gone: it outlives the connections
    std::vector<Worker> workers_;
    int64_t first_ = 0;
    int64_t span_ = 0;
    int64_t width_ = 0;
    int64_t rangeCount_ = 0; // -1: one stream
    int64_t range_ = 0;      // the range Next hands out, in order
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
