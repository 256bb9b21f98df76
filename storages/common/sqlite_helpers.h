#pragma once
// Small SQLite helpers shared by the shipped plugins that keep their plates
// in SQLite files. Header-only: a plugin that includes it links SQLite itself.

#include <sqlite3.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

namespace sqlite_helpers {

// A prepared statement, finalized with its owner.
class Statement {
public:
    Statement() = default;
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    ~Statement() { Finalize(); }

    // Prepares `sql` unless already prepared; false leaves sqlite's message.
    bool Prepare(sqlite3* db, const char* sql) {
        if (stmt_)
            return true;
        return sqlite3_prepare_v3(db, sql, -1, SQLITE_PREPARE_PERSISTENT, &stmt_, nullptr) == SQLITE_OK;
    }
    bool Prepare(sqlite3* db, const std::string& sql) { return Prepare(db, sql.c_str()); }
    void Finalize() {
        sqlite3_finalize(stmt_);
        stmt_ = nullptr;
    }
    sqlite3_stmt* get() const { return stmt_; }

private:
    sqlite3_stmt* stmt_ = nullptr;
};

// Resets a statement when leaving a scope, so no read stays open between calls.
class ResetOnExit {
public:
    explicit ResetOnExit(sqlite3_stmt* stmt) : stmt_(stmt) {}
    ~ResetOnExit() {
        sqlite3_reset(stmt_);
        sqlite3_clear_bindings(stmt_);
    }
    ResetOnExit(const ResetOnExit&) = delete;
    ResetOnExit& operator=(const ResetOnExit&) = delete;

private:
    sqlite3_stmt* stmt_;
};

// Binds a tile's zoom, column and row to ?1, ?2 and ?3.
inline void BindTile(sqlite3_stmt* stmt, uint32_t z, uint32_t x, uint32_t row) {
    sqlite3_bind_int64(stmt, 1, z);
    sqlite3_bind_int64(stmt, 2, x);
    sqlite3_bind_int64(stmt, 3, row);
}

// Hands out the blob in `column` of the current row through `buffer`, which
// keeps it: the program reads the block after the call returns, and keeping
// the statement open would hold a read lock until then. False: no bytes.
inline bool HandOutBlob(sqlite3_stmt* stmt, int column, std::vector<unsigned char>& buffer, const void** data,
                        uint32_t* size) {
    const auto* bytes = static_cast<const unsigned char*>(sqlite3_column_blob(stmt, column));
    const int length = sqlite3_column_bytes(stmt, column);
    buffer.assign(bytes, bytes + length);
    *data = buffer.data();
    *size = static_cast<uint32_t>(buffer.size());
    return !buffer.empty();
}

// Waits for another connection's lock, as SQLite's busy timeout does, but
// bounds the whole time waited since a lock was last taken too: while
// another program holds the file, the first calls wait up to kPerCall each,
// and once kTotal has gone by in all, every call gives up at once (still
// taking the lock when it is free). A deletion of many plates thus fails
// within seconds, instead of waiting the timeout for every plate.
class LockWait {
public:
    static constexpr std::chrono::milliseconds kPerCall{2000};
    static constexpr std::chrono::milliseconds kTotal{5000};

    // Installs the wait on `db` (replacing any busy timeout).
    void Install(sqlite3* db) {
        waited_ = std::chrono::milliseconds(0);
        sqlite3_busy_handler(db, &LockWait::Busy, this);
    }
    // A lock was taken: the next wait starts afresh.
    void Taken() { waited_ = std::chrono::milliseconds(0); }
    // Whether the waits so far have used up the whole time.
    bool Exhausted() const { return waited_ >= kTotal; }

private:
    static int Busy(void* self, int count) {
        auto* wait = static_cast<LockWait*>(self);
        const auto now = std::chrono::steady_clock::now();
        if (count == 0)
            wait->since_ = now;
        else
            wait->waited_ += std::chrono::duration_cast<std::chrono::milliseconds>(now - wait->last_);
        wait->last_ = now;
        if (wait->waited_ >= kTotal || now - wait->since_ >= kPerCall)
            return 0;
        // Short sleeps first, as SQLite's own busy timeout does.
        static constexpr int kDelays[] = {1, 2, 5, 10, 15, 20, 25, 25, 25, 50, 50, 100};
        const int delay = kDelays[count < 12 ? count : 11];
        std::this_thread::sleep_for(std::chrono::milliseconds(delay));
        return 1;
    }

    std::chrono::milliseconds waited_{0};
    std::chrono::steady_clock::time_point since_;
    std::chrono::steady_clock::time_point last_;
};

} // namespace sqlite_helpers
