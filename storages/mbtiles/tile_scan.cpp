#include "tile_scan.h"

#include "plate_key.h"

#include <algorithm>

namespace mbtiles {

namespace {

// Classifies one row of plate `number` through `type` and `value`, which
// give the type and value of the columns 1 to 3 and the value of 4 (size).
template <class Type, class Int>
bool Classify(Type type, Int value, int64_t number, ScanRow* out, NotTiles* notTiles) {
    // A text or real value would read as 0: such a row names no tile at all.
    if (type(1) != SQLITE_INTEGER || type(2) != SQLITE_INTEGER || type(3) != SQLITE_INTEGER) {
        ++notTiles->type;
        return false;
    }
    const sqlite3_int64 z = value(1);
    const sqlite3_int64 x = value(2);
    const sqlite3_int64 row = value(3);
    if (z < 0 || z > plate_key::kMaxZoom) {
        ++notTiles->zoom;
        return false;
    }
    if (x < 0 || row < 0 || x >> z != 0 || row >> z != 0) {
        ++notTiles->grid;
        return false;
    }
    out->number = number;
    out->z = static_cast<uint32_t>(z);
    out->x = static_cast<uint32_t>(x);
    out->row = static_cast<uint32_t>(row);
    out->size = static_cast<uint32_t>(value(4));
    return true;
}

} // namespace

bool ReadRow(sqlite3_stmt* stmt, int64_t ordinal, ScanRow* out, NotTiles* notTiles) {
    const int64_t number = sqlite3_column_type(stmt, 0) == SQLITE_NULL ? ordinal : sqlite3_column_int64(stmt, 0);
    return Classify([stmt](int i) { return sqlite3_column_type(stmt, i); },
                    [stmt](int i) { return sqlite3_column_int64(stmt, i); }, number, out, notTiles);
}

bool ReadTileOfRow(sqlite3_stmt* stmt, ScanRow* out, NotTiles* notTiles) {
    return Classify([stmt](int i) { return sqlite3_column_type(stmt, i); },
                    [stmt](int i) { return i == 4 ? sqlite3_int64{0} : sqlite3_column_int64(stmt, i); }, 0, out,
                    notTiles);
}

bool ReadTileOfValues(sqlite3_value** args, ScanRow* out, NotTiles* notTiles) {
    return Classify([args](int i) { return sqlite3_value_type(args[i]); },
                    [args](int i) { return i == 4 ? sqlite3_int64{0} : sqlite3_value_int64(args[i]); }, 0, out,
                    notTiles);
}

// The aggregate ulmora_tiles(number, zoom, column, row, size) of a worker's
// connection: it files each row into the worker's current chunk, handing a
// full chunk over and going on in the next. A whole range is then one
// sqlite3_step, and the arguments are read without the per-column cost of
// reading result rows.
void ChunkReader::CollectRow(sqlite3_context* context, int, sqlite3_value** args) {
    auto* worker = static_cast<Worker*>(sqlite3_user_data(context));
    // The statement reads on past its range, which saves SQLite a rowid
    // comparison on every row: the first row beyond it ends the step.
    const int64_t number = sqlite3_value_int64(args[0]); // a rowid: never null
    if (number >= worker->end) {
        worker->reachedEnd = true;
        sqlite3_result_error(context, "end of range", -1);
        return;
    }
    if (static_cast<int64_t>(worker->filling->rows.size()) >= worker->reader->span_) {
        worker->reader->Finish(*worker, false, false, {});
        if (!worker->reader->Begin(*worker)) {
            sqlite3_result_error(context, "stopped", -1);
            return;
        }
    }
    ScanRow row;
    if (Classify([args](int i) { return sqlite3_value_type(args[i]); },
                 [args](int i) { return sqlite3_value_int64(args[i]); }, number, &row, &worker->filling->notTiles))
        worker->filling->rows.push_back(row);
}

void ChunkReader::EndRows(sqlite3_context* context) { sqlite3_result_null(context); }

bool ChunkReader::OpenWorkers(const std::string& path, const char* sql, int count) {
    workers_ = std::vector<Worker>(static_cast<size_t>(count));
    for (Worker& worker : workers_) {
        worker.reader = this;
        if (sqlite3_open_v2(path.c_str(), &worker.db, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX,
                            readAhead_.Available() ? ReadAheadUse::kReadAheadVfs : nullptr) !=
                SQLITE_OK ||
            sqlite3_create_function_v2(worker.db, "ulmora_tiles", 5, SQLITE_UTF8 | SQLITE_DIRECTONLY, &worker,
                                       nullptr, &ChunkReader::CollectRow, &ChunkReader::EndRows, nullptr) != SQLITE_OK ||
            sqlite3_prepare_v2(worker.db, sql, -1, &worker.stmt, nullptr) != SQLITE_OK) {
            error_ = std::string("Reading the tiles failed: ") +
                     (worker.db ? sqlite3_errmsg(worker.db) : "cannot open the file");
            Stop();
            return false;
        }
        sqlite3_busy_timeout(worker.db, 2000);
        // One snapshot for the whole listing, even across chunks.
        sqlite3_exec(worker.db, "BEGIN", nullptr, nullptr, nullptr);
    }
    return true;
}

bool ChunkReader::StartRanges(const std::string& path, const char* sql, int64_t first, int64_t last,
                              int64_t span, int workers) {
    first_ = first;
    span_ = span;
    // Sparse rowids make wider ranges, so that empty ones cost little.
    width_ = std::max(span, (last - first) / kMaxRanges + 1);
    rangeCount_ = (last - first) / width_ + 1;
    if (!OpenWorkers(path, sql, workers))
        return false;
    for (size_t i = 0; i < workers_.size(); ++i)
        workers_[i].thread = std::thread(&ChunkReader::RunRanges, this, i);
    return true;
}

bool ChunkReader::StartStream(const std::string& path, const char* sql, int64_t span) {
    span_ = span;
    rangeCount_ = -1;
    if (!OpenWorkers(path, sql, 1))
        return false;
    workers_[0].thread = std::thread(&ChunkReader::RunStream, this);
    return true;
}

bool ChunkReader::Begin(Worker& worker) {
    const int slot = static_cast<int>(worker.produced % kSlots);
    {
        std::unique_lock lock(mutex_);
        consumed_.wait(lock, [&] { return stop_ || !worker.ready[slot]; });
        if (stop_)
            return false;
    }
    Chunk& chunk = worker.slots[slot];
    chunk.rows.clear();
    chunk.notTiles = {};
    chunk.endsRange = false;
    chunk.last = false;
    worker.filling = &chunk;
    return true;
}

void ChunkReader::Finish(Worker& worker, bool endsRange, bool last, std::string failure) {
    const int slot = static_cast<int>(worker.produced % kSlots);
    worker.slots[slot].endsRange = endsRange;
    worker.slots[slot].last = last;
    ++worker.produced;
    {
        std::lock_guard lock(mutex_);
        worker.ready[slot] = true;
        if (!failure.empty() && error_.empty())
            error_ = std::move(failure);
    }
    produced_.notify_all();
}

void ChunkReader::RunRanges(size_t index) {
    Worker& worker = workers_[index];
    const auto count = static_cast<int64_t>(workers_.size());
    for (int64_t i = static_cast<int64_t>(index); i < rangeCount_; i += count) {
        if (!Begin(worker))
            return;
        sqlite3_bind_int64(worker.stmt, 1, first_ + i * width_);
        worker.end = first_ + (i + 1) * width_;
        worker.reachedEnd = false;
        int rc;
        while ((rc = sqlite3_step(worker.stmt)) == SQLITE_ROW) {
        }
        if (worker.reachedEnd)
            rc = SQLITE_DONE;
        std::string failure;
        if (rc != SQLITE_DONE)
            failure = std::string("Reading the tiles failed: ") + sqlite3_errmsg(worker.db);
        sqlite3_reset(worker.stmt);
        if (rc != SQLITE_DONE && Stopping())
            return; // the aggregate refused to go on: nobody waits for more
        Finish(worker, true, i == rangeCount_ - 1, std::move(failure));
        if (rc != SQLITE_DONE)
            return;
    }
}

void ChunkReader::RunStream() {
    Worker& worker = workers_[0];
    int64_t ordinal = 0;
    for (;;) {
        if (!Begin(worker))
            return;
        Chunk& chunk = *worker.filling;
        ScanRow row;
        int rc = SQLITE_ROW;
        while (static_cast<int64_t>(chunk.rows.size()) < span_ && (rc = sqlite3_step(worker.stmt)) == SQLITE_ROW)
            if (ReadRow(worker.stmt, ++ordinal, &row, &chunk.notTiles))
                chunk.rows.push_back(row);
        const bool last = rc != SQLITE_ROW;
        std::string failure;
        if (rc != SQLITE_ROW && rc != SQLITE_DONE)
            failure = std::string("Reading the tiles failed: ") + sqlite3_errmsg(worker.db);
        Finish(worker, true, last, std::move(failure));
        if (last)
            return;
    }
}

bool ChunkReader::Stopping() {
    std::lock_guard lock(mutex_);
    return stop_;
}

const ChunkReader::Chunk* ChunkReader::Next() {
    std::unique_lock lock(mutex_);
    if (held_) {
        held_->ready[heldSlot_] = false;
        ++held_->consumed;
        held_ = nullptr;
        consumed_.notify_all();
    }
    if (ended_ || !error_.empty())
        return nullptr;
    Worker& worker = workers_[static_cast<size_t>(range_ % static_cast<int64_t>(workers_.size()))];
    const int slot = static_cast<int>(worker.consumed % kSlots);
    produced_.wait(lock, [&] { return worker.ready[slot] || !error_.empty(); });
    if (!error_.empty())
        return nullptr;
    held_ = &worker;
    heldSlot_ = slot;
    const Chunk& chunk = worker.slots[slot];
    if (chunk.endsRange)
        ++range_;
    if (chunk.last)
        ended_ = true;
    return &chunk;
}

void ChunkReader::Stop() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    consumed_.notify_all();
    // A worker may be in a long step (SQLite sorting an unindexed table).
    for (Worker& worker : workers_)
        if (worker.db)
            sqlite3_interrupt(worker.db);
    for (Worker& worker : workers_) {
        if (worker.thread.joinable())
            worker.thread.join();
        sqlite3_finalize(worker.stmt);
        sqlite3_close_v2(worker.db);
        worker.stmt = nullptr;
        worker.db = nullptr;
    }
    workers_.clear();
}

} // namespace mbtiles
