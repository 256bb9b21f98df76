#pragma once
// The container functions of the plugins that keep their plates in one
// SQLite file: checking the file and giving its free pages back. They work
// on the file by its path with connections of their own, so a storage closes
// its connection around them (Reopened), which also commits what it had
// pending. Header-only: a plugin that includes it links SQLite itself.

#include <ulmora_plugin.h>

#include <sqlite3.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

namespace sqlite_container {

// SQLite's own check reports at most this many problems; a file with more
// is damaged all the same.
inline constexpr int kMaxFindings = 100;
// SQLite calls the progress handler after this many virtual machine steps.
inline constexpr int kProgressSteps = 4096;

// Closes `storage`, runs `work(std::string* error)` on its file and opens the
// storage again. The storage's failure text is the work's, or the reopening's.
template <class Storage, class Work>
uint32_t Reopened(Storage* storage, const std::string& path, Work work) {
    storage->Close();
    std::string error;
    const uint32_t result = work(&error);
    if (!storage->Open(path.c_str()))
        return Failed;
    if (result == Failed)
        storage->SetErrorText(std::move(error));
    return result;
}

namespace detail {

class Connection {
public:
    Connection() = default;
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;
    ~Connection() { Close(); }

    bool Open(const std::string& path, int flags, std::string* error) {
        if (sqlite3_open_v2(path.c_str(), &db_, flags | SQLITE_OPEN_NOMUTEX, nullptr) == SQLITE_OK) {
            sqlite3_busy_timeout(db_, 5000);
            return true;
        }
        *error = Message("cannot open");
        Close();
        return false;
    }
    void Close() {
        sqlite3_close_v2(db_);
        db_ = nullptr;
    }
    sqlite3* get() const { return db_; }
    std::string Message(const char* fallback) const { return db_ ? sqlite3_errmsg(db_) : fallback; }

    // The one integer a pragma answers; false leaves SQLite's message.
    bool Pragma(const char* sql, int64_t* value, std::string* error) {
        sqlite3_stmt* stmt = nullptr;
        int rc = sqlite3_prepare_v2(db_, sql, -1, &stmt, nullptr);
        if (rc == SQLITE_OK) {
            rc = sqlite3_step(stmt);
            if (rc == SQLITE_ROW) {
                *value = sqlite3_column_int64(stmt, 0);
                rc = SQLITE_OK;
            }
        }
        if (rc != SQLITE_OK)
            *error = Message("cannot read");
        sqlite3_finalize(stmt);
        return rc == SQLITE_OK;
    }

private:
    sqlite3* db_ = nullptr;
};

inline std::string FileName(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The errors that say the file itself is damaged, not that it cannot be read.
inline bool IsDamage(int rc) {
    rc &= 0xFF;
    return rc == SQLITE_CORRUPT || rc == SQLITE_NOTADB;
}

inline bool Sync(const char* path, int flags) {
    const int fd = open(path, flags);
    if (fd < 0)
        return false;
    const bool synced = fsync(fd) == 0;
    close(fd);
    return synced;
}

// The progress of a check: the pages read from the file so far (SQLite's
// cache misses) of all its pages. quick_check reads every page about once.
struct CheckProgress {
    sqlite3* db;
    uint32_t pages;
    ContainerCallback callback;
    void* cookie;

    static int Tick(void* self) {
        auto* p = static_cast<CheckProgress*>(self);
        int misses = 0, highest = 0;
        sqlite3_db_status(p->db, SQLITE_DBSTATUS_CACHE_MISS, &misses, &highest, 0);
        const uint32_t done = static_cast<uint32_t>(misses) < p->pages ? static_cast<uint32_t>(misses) : p->pages;
        return p->callback(p->cookie, done, p->pages, nullptr) ? 0 : 1;
    }
};

// The progress of a compaction: the bytes of the new file so far (KiB) of
// the bytes it will have.
struct CopyProgress {
    const char* target;
    uint32_t totalKiB;
    ContainerCallback callback;
    void* cookie;

    static int Tick(void* self) {
        auto* p = static_cast<CopyProgress*>(self);
        struct stat info {};
        uint64_t kib = stat(p->target, &info) == 0 ? static_cast<uint64_t>(info.st_size) / 1024 : 0;
        const uint32_t done = kib < p->totalKiB ? static_cast<uint32_t>(kib) : p->totalKiB;
        return p->callback(p->cookie, done, p->totalKiB, nullptr) ? 0 : 1;
    }
};

} // namespace detail

// Checks the SQLite file at `path` with SQLite's quick_check, reporting every
// problem through `callback`. quick_check rather than integrity_check: it
// reads every page once and finds what damage to the file does (pages that
// do not parse, broken b-trees, lost or doubly used pages, a broken free
// list), while integrity_check adds the comparison of every index with its
// table, which costs a sort per index (hours on caches of many gigabytes) and
// finds what only a faulty writer leaves behind, not a damaged page.
// Done when the check ran (damage included), Aborted, or Failed with `error`.
inline uint32_t Check(const std::string& path, ContainerCallback callback, void* cookie, std::string* error) {
    const std::string name = detail::FileName(path);
    detail::Connection db;
    if (!db.Open(path, SQLITE_OPEN_READONLY, error)) {
        *error = name + ": " + *error;
        return Failed;
    }
    int64_t pages = 0;
    std::string ignored;
    if (!db.Pragma("PRAGMA page_count", &pages, &ignored)) {
        const int rc = sqlite3_extended_errcode(db.get());
        if (!detail::IsDamage(rc)) {
            *error = name + ": " + ignored;
            return Failed;
        }
        return callback(cookie, 0, 0, ignored.c_str()) ? Done : Aborted;
    }
    detail::CheckProgress progress{db.get(), static_cast<uint32_t>(pages), callback, cookie};
    sqlite3_progress_handler(db.get(), kProgressSteps, &detail::CheckProgress::Tick, &progress);
    if (!callback(cookie, 0, progress.pages, nullptr))
        return Aborted;

    const std::string sql = "PRAGMA quick_check(" + std::to_string(kMaxFindings) + ")";
    sqlite3_stmt* stmt = nullptr;
    int rc = sqlite3_prepare_v2(db.get(), sql.c_str(), -1, &stmt, nullptr);
    bool stopped = false;
    while (rc == SQLITE_OK || rc == SQLITE_ROW) {
        rc = sqlite3_step(stmt);
        if (rc != SQLITE_ROW)
            break;
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0));
        const std::string row = text ? text : "";
        if (row == "ok")
            continue;
        // A row may hold several problems, a line each, under a line that
        // names the database.
        size_t start = 0;
        while (start < row.size() && !stopped) {
            size_t end = row.find('\n', start);
            if (end == std::string::npos)
                end = row.size();
            std::string line = row.substr(start, end - start);
            start = end + 1;
            if (line.empty() || line.rfind("*** in database", 0) == 0)
                continue;
            stopped = !callback(cookie, progress.pages, progress.pages, line.c_str());
        }
        if (stopped)
            break;
    }
    const int extended = sqlite3_extended_errcode(db.get());
    const std::string message = db.Message("cannot check");
    sqlite3_finalize(stmt);
    if (stopped || rc == SQLITE_INTERRUPT)
        return Aborted;
    if (rc != SQLITE_DONE && rc != SQLITE_ROW) {
        // A page so damaged that the check itself stops is a finding too.
        if (!detail::IsDamage(extended)) {
            *error = name + ": " + message;
            return Failed;
        }
        if (!callback(cookie, progress.pages, progress.pages, message.c_str()))
            return Aborted;
    }
    return callback(cookie, progress.pages, progress.pages, nullptr) ? Done : Aborted;
}

// The file's size and the part of it its free pages take.
inline uint32_t Measure(const std::string& path, uint64_t* fileBytes, uint64_t* freeBytes, std::string* error) {
    const std::string name = detail::FileName(path);
    detail::Connection db;
    int64_t pageSize = 0, pages = 0, freePages = 0;
    if (!db.Open(path, SQLITE_OPEN_READONLY, error) || !db.Pragma("PRAGMA page_size", &pageSize, error) ||
        !db.Pragma("PRAGMA page_count", &pages, error) || !db.Pragma("PRAGMA freelist_count", &freePages, error)) {
        *error = name + ": " + *error;
        return Failed;
    }
    struct stat info {};
    *fileBytes = stat(path.c_str(), &info) == 0 ? static_cast<uint64_t>(info.st_size)
                                                 : static_cast<uint64_t>(pages * pageSize);
    *freeBytes = static_cast<uint64_t>(freePages * pageSize);
    return Done;
}

// Writes a compacted copy of the file beside it (SQLite's VACUUM INTO),
// checks the copy, and puts it in the file's place with one rename, so that
// the file is either the old one or the whole new one. Refuses a read-only
// file, and a file system without room for the copy. A file without free
// pages is left alone.
inline uint32_t Reclaim(const std::string& path, ContainerCallback callback, void* cookie, uint64_t* before,
                        uint64_t* after, std::string* error) {
    const std::string name = detail::FileName(path);
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) {
        *error = name + ": " + std::strerror(errno);
        return Failed;
    }
    *before = *after = static_cast<uint64_t>(info.st_size);
    const std::filesystem::path folder = std::filesystem::path(path).parent_path();
    const std::string folderText = folder.empty() ? "." : folder.string();
    if (!(info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) || access(path.c_str(), W_OK) != 0 ||
        access(folderText.c_str(), W_OK) != 0) {
        *error = name + " is read-only: its free space cannot be reclaimed";
        return Failed;
    }

    uint64_t size = 0, freeBytes = 0;
    if (Measure(path, &size, &freeBytes, error) != Done)
        return Failed;
    if (freeBytes == 0)
        return callback(cookie, 1, 1, nullptr) ? Done : Aborted;
    // The copy holds the used pages; a little more for its own bookkeeping.
    const uint64_t needed = size - freeBytes + size / 64 + 65536;
    std::error_code failure;
    const std::filesystem::space_info room = std::filesystem::space(folderText, failure);
    if (!failure && room.available < needed) {
        *error = "No room to compact " + name + ": the copy needs " + std::to_string(needed) + " bytes, " +
                 std::to_string(room.available) + " are free";
        return Failed;
    }

    std::vector<char> temp(path.begin(), path.end());
    const char suffix[] = ".compact-XXXXXX";
    temp.insert(temp.end(), suffix, suffix + sizeof suffix);
    const int fd = mkstemp(temp.data());
    if (fd < 0) {
        *error = "Cannot make a file beside " + name + ": " + std::strerror(errno);
        return Failed;
    }
    close(fd);
    const std::string target = temp.data();
    auto discard = [&target] {
        for (const char* beside : {"", "-wal", "-shm", "-journal"})
            unlink((target + beside).c_str());
    };

    detail::Connection db;
    if (!db.Open(path, SQLITE_OPEN_READWRITE, error)) {
        discard();
        *error = name + ": " + *error;
        return Failed;
    }
    // VACUUM INTO writes a rollback-journal file whatever the source's mode:
    // a file in WAL mode is put back into it before it takes the old one's
    // place.
    bool wal = false;
    {
        sqlite3_stmt* mode = nullptr;
        if (sqlite3_prepare_v2(db.get(), "PRAGMA journal_mode", -1, &mode, nullptr) == SQLITE_OK &&
            sqlite3_step(mode) == SQLITE_ROW) {
            const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(mode, 0));
            wal = text != nullptr && std::strcmp(text, "wal") == 0;
        }
        sqlite3_finalize(mode);
    }
    detail::CopyProgress progress{target.c_str(), static_cast<uint32_t>((size - freeBytes) / 1024 + 1), callback,
                                  cookie};
    sqlite3_progress_handler(db.get(), kProgressSteps, &detail::CopyProgress::Tick, &progress);
    sqlite3_stmt* stmt = nullptr;
    int rc = sqlite3_prepare_v2(db.get(), "VACUUM INTO ?1", -1, &stmt, nullptr);
    if (rc == SQLITE_OK) {
        sqlite3_bind_text(stmt, 1, target.c_str(), -1, SQLITE_TRANSIENT);
        rc = sqlite3_step(stmt);
    }
    const std::string message = db.Message("cannot compact");
    sqlite3_finalize(stmt);
    db.Close();
    if (rc == SQLITE_INTERRUPT) {
        discard();
        return Aborted;
    }
    if (rc != SQLITE_DONE) {
        discard();
        *error = "Cannot compact " + name + ": " + message;
        return Failed;
    }

    // The copy is checked before it replaces anything: SQLite does not sync
    // what VACUUM INTO writes, and a damaged copy must not take the file's
    // place.
    std::vector<std::string> findings;
    struct Collect {
        std::vector<std::string>* findings;
        ContainerCallback callback;
        void* cookie;
        static uint32_t ULMORA_CALL Add(void* self, uint32_t done, uint32_t total, const char* finding) {
            auto* c = static_cast<Collect*>(self);
            if (finding)
                c->findings->emplace_back(finding);
            return c->callback(c->cookie, done, total, nullptr);
        }
    } collect{&findings, callback, cookie};
    const uint32_t checked = Check(target, &Collect::Add, &collect, error);
    if (checked != Done || !findings.empty()) {
        discard();
        if (checked == Aborted)
            return Aborted;
        if (checked == Done)
            *error = "The compacted copy of " + name + " failed its check: " + findings.front();
        return Failed;
    }
    // After the check, whose read-only connection would leave a WAL file's
    // -wal and -shm behind; closing this one removes them.
    if (wal) {
        detail::Connection copy;
        int64_t ignored = 0;
        std::string why;
        const bool set = copy.Open(target, SQLITE_OPEN_READWRITE, &why) &&
                         (sqlite3_exec(copy.get(), "PRAGMA journal_mode = WAL", nullptr, nullptr, nullptr) == SQLITE_OK ||
                          (why = copy.Message("cannot set WAL mode"), false)) &&
                         copy.Pragma("PRAGMA page_count", &ignored, &why);
        if (!set) {
            discard();
            *error = "Cannot compact " + name + ": " + why;
            return Failed;
        }
    }

    chmod(target.c_str(), info.st_mode & 07777);
    if (!detail::Sync(target.c_str(), O_RDONLY)) {
        *error = "Cannot write the compacted copy of " + name + ": " + std::strerror(errno);
        discard();
        return Failed;
    }
    if (rename(target.c_str(), path.c_str()) != 0) {
        *error = "Cannot replace " + name + ": " + std::strerror(errno);
        discard();
        return Failed;
    }
    detail::Sync(folderText.c_str(), O_RDONLY | O_DIRECTORY);
    if (stat(path.c_str(), &info) == 0)
        *after = static_cast<uint64_t>(info.st_size);
    return Done;
}

} // namespace sqlite_container
