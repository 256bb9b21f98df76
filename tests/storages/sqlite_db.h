#pragma once
// A thin SQLite handle for tests that build or inspect MBTiles files
// next to the plugin.

#include <sqlite3.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace storage_test {

class SqliteDb {
public:
    explicit SqliteDb(const std::string& path) {
        if (sqlite3_open(path.c_str(), &db_) != SQLITE_OK)
            ADD_FAILURE() << "cannot open " << path << ": " << sqlite3_errmsg(db_);
    }
    ~SqliteDb() { sqlite3_close(db_); }
    SqliteDb(const SqliteDb&) = delete;
    SqliteDb& operator=(const SqliteDb&) = delete;

    sqlite3* get() const { return db_; }

    void Exec(const std::string& sql) {
        char* error = nullptr;
        if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK)
            ADD_FAILURE() << sql << ": " << (error ? error : "?");
        sqlite3_free(error);
    }

    // The first column of the first row as an integer; -1 without a row.
    int64_t Int(const std::string& sql) {
        sqlite3_stmt* stmt = nullptr;
        int64_t value = -1;
        if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK)
            ADD_FAILURE() << sql << ": " << sqlite3_errmsg(db_);
        else if (sqlite3_step(stmt) == SQLITE_ROW)
            value = sqlite3_column_int64(stmt, 0);
        sqlite3_finalize(stmt);
        return value;
    }

private:
    sqlite3* db_ = nullptr;
};

} // namespace storage_test
