#include "tile_scan.h"

#include "plate_key.h"

namespace mbtiles {

std::string NotTiles::Reasons() const {
    std::string text;
    const auto add = [&text](uint64_t count, const char* what) {
        if (count == 0)
            return;
        if (!text.empty())
            text += ", ";
        text += std::to_string(count) + " " + what;
    };
    add(zoom, "zoom not 0-30");
    add(grid, "off the grid");
    add(type, "not integers");
    return text;
}

namespace {

// Classifies one row read through `Column`, which gives (type, value) of the
// columns 1 to 3 and the value of 0 and 4 (number and size).
template <class Type, class Int>
bool Classify(Type type, Int value, int64_t ordinal, ScanRow* out, NotTiles* notTiles) {
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
    out->number = type(0) == SQLITE_NULL ? ordinal : value(0);
    out->z = static_cast<uint32_t>(z);
    out->x = static_cast<uint32_t>(x);
    out->row = static_cast<uint32_t>(row);
    out->size = static_cast<uint32_t>(value(4));
    return true;
}

} // namespace

bool ReadRow(sqlite3_stmt* stmt, int64_t ordinal, ScanRow* out, NotTiles* notTiles) {
    return Classify([stmt](int i) { return sqlite3_column_type(stmt, i); },
                    [stmt](int i) { return sqlite3_column_int64(stmt, i); }, ordinal, out, notTiles);
}

// The aggregate ulmora_tiles(number, zoom, column, row, size) of a worker's
// connection: it files each row into the worker's current chunk. A whole
// range is then one sqlite3_step, and the arguments are read without the
// per-column cost of reading result rows.
void ChunkReader::CollectRow(sqlite3_context* context, int, sqlite3_value** args) {
    auto* chunk = static_cast<Chunk*>(*static_cast<Chunk**>(sqlite3_user_data(context)));
    ScanRow row;
    if (Classify([args](int i) { return sqlite3_value_type(args[i]); },
                 [args](int i) { return sqlite3_value_int64(args[i]); }, 0, &row, &chunk->notTiles))
        chunk->rows.push_back(row);
}

void ChunkReader::EndRows(sqlite3_context* context) { sqlite3_result_null(context); }

bool ChunkReader::OpenWorkers(const std::string& path, const char* sql, int count) {
    workers_ = std::vector<Worker>(static_cast<size_t>(count));
    for (Worker& worker : workers_) {
        if (sqlite3_open_v2(path.c_str(), &worker.db, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr) !=
                SQLITE_OK ||
            sqlite3_create_function_v2(worker.db, "ulmora_tiles", 5, SQLITE_UTF8 | SQLITE_DIRECTONLY, &worker.filling,
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
    ranges_ = true;
    first_ = first;
    span_ = span;
    chunkCount_ = (last - first) / span + 1;
    if (!OpenWorkers(path, sql, workers))
        return false;
    for (size_t i = 0; i < workers_.size(); ++i)
        workers_[i].thread = std::thread(&ChunkReader::RunRanges, this, i);
    return true;
}

bool ChunkReader::StartStream(const std::string& path, const char* sql, int64_t span) {
    ranges_ = false;
    span_ = span;
    if (!OpenWorkers(path, sql, 1))
        return false;
    workers_[0].thread = std::thread(&ChunkReader::RunStream, this);
    return true;
}

bool ChunkReader::WaitFree(Worker& worker, int slot) {
    std::unique_lock lock(mutex_);
    consumed_.wait(lock, [&] { return stop_ || !worker.ready[slot]; });
    return !stop_;
}

void ChunkReader::Publish(Worker& worker, int slot, std::string failure) {
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
    for (int64_t i = static_cast<int64_t>(index), round = 0; i < chunkCount_; i += count, ++round) {
        const int slot = static_cast<int>(round % kSlots);
        if (!WaitFree(worker, slot))
            return;
        Chunk& chunk = worker.slots[slot];
        chunk.rows.clear();
        chunk.notTiles = {};
        chunk.last = i + count >= chunkCount_;
        sqlite3_bind_int64(worker.stmt, 1, first_ + i * span_);
        sqlite3_bind_int64(worker.stmt, 2, first_ + (i + 1) * span_);
        worker.filling = &chunk;
        int rc;
        while ((rc = sqlite3_step(worker.stmt)) == SQLITE_ROW) {
        }
        std::string failure;
        if (rc != SQLITE_DONE)
            failure = std::string("Reading the tiles failed: ") + sqlite3_errmsg(worker.db);
        sqlite3_reset(worker.stmt);
        Publish(worker, slot, std::move(failure));
        if (rc != SQLITE_DONE)
            return;
    }
}

void ChunkReader::RunStream() {
    Worker& worker = workers_[0];
    int64_t ordinal = 0;
    for (int round = 0;; ++round) {
        const int slot = round % kSlots;
        if (!WaitFree(worker, slot))
            return;
        Chunk& chunk = worker.slots[slot];
        chunk.rows.clear();
        chunk.notTiles = {};
        ScanRow row;
        int rc = SQLITE_ROW;
        while (static_cast<int64_t>(chunk.rows.size()) < span_ && (rc = sqlite3_step(worker.stmt)) == SQLITE_ROW)
            if (ReadRow(worker.stmt, ++ordinal, &row, &chunk.notTiles))
                chunk.rows.push_back(row);
        chunk.last = rc != SQLITE_ROW;
        std::string failure;
        if (rc != SQLITE_ROW && rc != SQLITE_DONE)
            failure = std::string("Reading the tiles failed: ") + sqlite3_errmsg(worker.db);
        Publish(worker, slot, std::move(failure));
        if (chunk.last)
            return;
    }
}

const ChunkReader::Chunk* ChunkReader::Next() {
    std::unique_lock lock(mutex_);
    if (held_) {
        held_->ready[heldSlot_] = false;
        held_ = nullptr;
        consumed_.notify_all();
    }
    if (ended_ || !error_.empty())
        return nullptr;
    const auto count = static_cast<int64_t>(workers_.size());
    Worker& worker = workers_[static_cast<size_t>(next_ % count)];
    const int slot = static_cast<int>(next_ / count % kSlots);
    produced_.wait(lock, [&] { return worker.ready[slot] || !error_.empty(); });
    if (!error_.empty())
        return nullptr;
    ++next_;
    held_ = &worker;
    heldSlot_ = slot;
    if (ranges_ ? next_ >= chunkCount_ : worker.slots[slot].last)
        ended_ = true;
    return &worker.slots[slot];
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
