// Builds a database from arbitrary SQL and hands it to the GeoPackage
// storage: the file's bytes are SQLite's business, what the storage reads
// out of the GeoPackage tables (odd types, NULLs, huge or negative zoom
// levels, columns, rows, extents, triggers) is ours. Beyond not crashing, it
// checks that refusals and failures come with a text, that listed names are
// valid, that listed plates can be read, and that a stored plate reads back.
#include "geopackage_storage.h"
#include "fuzz_listing.h"
#include "plate_key.h"

#include <sqlite3.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

using FuzzListing = Listing<32>;

const std::string& DatabasePath() {
    static const std::string path = [] {
        // In memory where there is a tmpfs: every run writes and syncs.
        std::string pattern = access("/dev/shm", W_OK) == 0 ? "/dev/shm/gpkg-fuzz-XXXXXX" : "/tmp/gpkg-fuzz-XXXXXX";
        Require(mkdtemp(pattern.data()) != nullptr);
        return pattern + "/fuzz.gpkg";
    }();
    return path;
}

// Stops statements that would run for long (recursive queries and such).
int StopLongStatements(void* steps) {
    return ++*static_cast<int*>(steps) > 2000;
}

void BuildDatabase(const std::string& path, const std::string& sql) {
    unlink(path.c_str());
    for (const char* suffix : {"-journal", "-wal", "-shm"})
        unlink((path + suffix).c_str());
    sqlite3* db = nullptr;
    Require(sqlite3_open(path.c_str(), &db) == SQLITE_OK);
    sqlite3_limit(db, SQLITE_LIMIT_LENGTH, 1 << 20);
    sqlite3_limit(db, SQLITE_LIMIT_SQL_LENGTH, 1 << 16);
    // Attaching would write files elsewhere.
    sqlite3_limit(db, SQLITE_LIMIT_ATTACHED, 0);
    int steps = 0;
    sqlite3_progress_handler(db, 1000, &StopLongStatements, &steps);
    sqlite3_exec(db, "PRAGMA synchronous = OFF", nullptr, nullptr, nullptr);
    sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr);
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_close_v2(db);
}

// Statements that write files other than the database are not run.
bool WritesElsewhere(std::string sql) {
    for (char& c : sql)
        c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
    return sql.find("vacuum") != std::string::npos || sql.find("directory") != std::string::npos;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string sql(reinterpret_cast<const char*>(data), size);
    if (WritesElsewhere(sql))
        return -1;
    const std::string& path = DatabasePath();
    BuildDatabase(path, sql);

    geopackage::Storage storage;
    // Far below libFuzzer's time-out, so that a query running for ever
    // shows as the storage stopping it, not as a hang.
    storage.SetStatementTimeLimit(std::chrono::milliseconds(300));
    if (!storage.Open(path.c_str())) {
        Require(!storage.ErrorText().empty());
        return 0;
    }
    FuzzListing listing;
    const uint32_t listed = storage.Enumerate(&FuzzListing::Collect, &listing);
    Require(listed == Done || listed == Empty || listed == Failed || listed == Aborted);
    Require(listed != Failed || !storage.ErrorText().empty());
    for (const std::string& name : listing.names) {
        const void* block = nullptr;
        uint32_t blockSize = 0;
        const uint32_t result = storage.GetPlateData(name.c_str(), &block, &blockSize);
        Require(result == Done || result == Empty || result == Failed);
        Require(result != Failed || !storage.ErrorText().empty());
    }

    // Store a plate at a listed zoom or at a new one, read it back, delete it.
    const std::string stored = listing.names.empty() ? "trst" : listing.names.back() + "q";
    static const char kBytes[] = "fuzzed plate";
    const uint32_t store = storage.Write(stored.c_str(), kBytes, sizeof kBytes, WriteModeStore);
    Require(store == Done || store == Failed);
    if (store == Failed) {
        Require(!storage.ErrorText().empty());
    } else {
        const void* block = nullptr;
        uint32_t blockSize = 0;
        const uint32_t result = storage.GetPlateData(stored.c_str(), &block, &blockSize);
        // A trigger or a column type of the file may still change what is
        // stored; a failure must then say why.
        Require(result == Done || result == Empty || (result == Failed && !storage.ErrorText().empty()));
        const uint32_t removed = storage.Write(stored.c_str(), nullptr, 0, WriteModeDelete);
        Require(removed == Done || (removed == Failed && !storage.ErrorText().empty()));
    }
    storage.Close();
    return 0;
}
