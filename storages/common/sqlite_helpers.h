#pragma once
// Small SQLite helpers shared by the shipped plugins that keep their plates
// in SQLite files. Header-only: a plugin that includes it links SQLite itself.

#include <sqlite3.h>

#include <cstdint>
#include <string>
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

} // namespace sqlite_helpers
