#include "plate_stream.h"

#include "plate_key.h"

namespace mbtiles {

bool StreamReader::Start(const std::string& path, const char* sql) {
    if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX,
                        readAhead_.Available() ? ReadAheadUse::kReadAheadVfs : nullptr) != SQLITE_OK ||
        sqlite3_create_function_v2(db_, "ulmora_stream", 5, SQLITE_UTF8 | SQLITE_DIRECTONLY, this, nullptr,
                                   &StreamReader::CollectRow, &StreamReader::EndRows, nullptr) != SQLITE_OK ||
        sqlite3_prepare_v2(db_, sql, -1, &stmt_, nullptr) != SQLITE_OK) {
        error_ = std::string("Reading the tiles failed: ") + (db_ ? sqlite3_errmsg(db_) : "cannot open the file");
        Stop();
        return false;
    }
    sqlite3_busy_timeout(db_, 2000);
    thread_ = std::thread(&StreamReader::Run, this);
    return true;
}

bool StreamReader::Begin() {
    {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return stop_ || !ready_[filled_ % kSlots]; });
        if (stop_)
            return false;
    }
    filling_ = &slots_[filled_ % kSlots];
    filling_->rows.clear();
    filling_->bytes.clear();
    return true;
}

void StreamReader::Publish(bool last, std::string failure) {
    std::lock_guard lock(mutex_);
    ready_[filled_ % kSlots] = true;
    produced_ = ++filled_;
    if (last) {
        finished_ = true;
        error_ = std::move(failure);
    }
    changed_.notify_all();
}

// The aggregate ulmora_stream(number, zoom, column, row, data): the whole
// table is one sqlite3_step that files each row into the chunk being filled,
// its arguments read without the per-column cost of reading result rows.
void StreamReader::CollectRow(sqlite3_context* context, int, sqlite3_value** args) {
    auto* self = static_cast<StreamReader*>(sqlite3_user_data(context));
    Chunk* chunk = self->filling_;
    if (chunk->rows.size() >= kChunkRows || chunk->bytes.size() >= kChunkBytes) {
        self->Publish(false, {});
        if (!self->Begin()) {
            sqlite3_result_error(context, "stopped", -1);
            return;
        }
        chunk = self->filling_;
    }
    // Rows that name no tile are passed over and counted, as the listing does.
    ScanRow tile;
    if (!ReadTileOfValues(args, &tile, &self->notTiles_))
        return;
    const auto* data = static_cast<const unsigned char*>(sqlite3_value_blob(args[4]));
    const auto size = static_cast<uint32_t>(sqlite3_value_bytes(args[4]));
    const auto offset = static_cast<uint32_t>(chunk->bytes.size());
    if (size > 0)
        chunk->bytes.insert(chunk->bytes.end(), data, data + size);
    Row& added = chunk->rows.emplace_back();
    added.number = sqlite3_value_int64(args[0]);
    added.offset = offset;
    added.size = size;
    added.z = tile.z;
    added.x = tile.x;
    added.y = plate_key::FlipRow(tile.z, tile.row);
}

void StreamReader::EndRows(sqlite3_context* context) { sqlite3_result_null(context); }

void StreamReader::Run() {
    if (!Begin())
        return;
    const int rc = sqlite3_step(stmt_);
    bool stopped = false;
    {
        std::lock_guard lock(mutex_);
        stopped = stop_;
    }
    if (stopped)
        return;
    Publish(true, rc == SQLITE_ROW || rc == SQLITE_DONE
                      ? std::string()
                      : std::string("Reading the tiles failed: ") + sqlite3_errmsg(db_));
}

const StreamReader::Chunk* StreamReader::Next() {
    std::unique_lock lock(mutex_);
    if (holding_) {
        ready_[consumed_ % kSlots] = false;
        ++consumed_;
        holding_ = false;
        changed_.notify_all();
    }
    changed_.wait(lock, [&] { return consumed_ < produced_ || finished_ || stop_; });
    if (consumed_ >= produced_ || stop_)
        return nullptr;
    holding_ = true;
    return &slots_[consumed_ % kSlots];
}

void StreamReader::Stop() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
        changed_.notify_all();
    }
    if (thread_.joinable())
        thread_.join();
    sqlite3_finalize(stmt_);
    stmt_ = nullptr;
    if (db_)
        sqlite3_close_v2(db_);
    db_ = nullptr;
}

} // namespace mbtiles
