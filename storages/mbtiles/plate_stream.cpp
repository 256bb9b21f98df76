#include "plate_stream.h"

#include "plate_key.h"

namespace mbtiles {

bool StreamReader::Start(const std::string& path, const char* sql) {
    if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX,
                        readAhead_.Available() ? ReadAheadUse::kReadAheadVfs : nullptr) != SQLITE_OK ||
        sqlite3_prepare_v2(db_, sql, -1, &stmt_, nullptr) != SQLITE_OK) {
        error_ = std::string("Reading the tiles failed: ") + (db_ ? sqlite3_errmsg(db_) : "cannot open the file");
        Stop();
        return false;
    }
    sqlite3_busy_timeout(db_, 2000);
    thread_ = std::thread(&StreamReader::Run, this);
    return true;
}

void StreamReader::Run() {
    int64_t index = 0;
    std::string failure;
    bool more = true;
    while (more) {
        Chunk* chunk = nullptr;
        {
            std::unique_lock lock(mutex_);
            changed_.wait(lock, [&] { return stop_ || !ready_[index % kSlots]; });
            if (stop_)
                return;
            chunk = &slots_[index % kSlots];
        }
        chunk->rows.clear();
        chunk->bytes.clear();
        while (chunk->rows.size() < kChunkRows && chunk->bytes.size() < kChunkBytes) {
            const int rc = sqlite3_step(stmt_);
            if (rc != SQLITE_ROW) {
                if (rc != SQLITE_DONE)
                    failure = std::string("Reading the tiles failed: ") + sqlite3_errmsg(db_);
                more = false;
                break;
            }
            // Rows that name no tile are passed over and counted, as the listing does.
            ScanRow tile;
            if (!ReadTileOfRow(stmt_, &tile, &notTiles_))
                continue;
            const auto* data = static_cast<const unsigned char*>(sqlite3_column_blob(stmt_, 4));
            const auto size = static_cast<uint32_t>(sqlite3_column_bytes(stmt_, 4));
            const auto offset = static_cast<uint32_t>(chunk->bytes.size());
            if (size > 0)
                chunk->bytes.insert(chunk->bytes.end(), data, data + size);
            Row& added = chunk->rows.emplace_back();
            added.number = sqlite3_column_int64(stmt_, 0);
            added.offset = offset;
            added.size = size;
            plate_key::Write({tile.z, tile.x, plate_key::FlipRow(tile.z, tile.row)}, added.name);
        }
        std::lock_guard lock(mutex_);
        ready_[index % kSlots] = true;
        produced_ = ++index;
        if (!more) {
            finished_ = true;
            error_ = std::move(failure);
        }
        changed_.notify_all();
    }
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
