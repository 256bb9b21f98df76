#include "read_ahead.h"

#include <sqlite3.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace mbtiles {
namespace {

constexpr int kAhead = 256 * 1024;
// A read that starts at most this far past the end of the last one counts as
// going on from it: a table's leaves lie in file order, with an interior page
// here and there between them.
constexpr sqlite3_int64 kNearby = 64 * 1024;
constexpr int kLargestPage = 65536;

struct File {
    sqlite3_file base;
    sqlite3_file* inner;     // the system layer's file, right after this struct
    bool mainDb;             // only the database itself is read ahead
    char* buffer;            // kAhead bytes once needed
    sqlite3_int64 start;     // the file offset of buffer[0]
    int length;              // valid bytes in the buffer
    sqlite3_int64 lastEnd;   // where the last read ended
};

sqlite3_vfs gLayer;
std::mutex gMutex;
int gUses = 0;

sqlite3_vfs* System() { return static_cast<sqlite3_vfs*>(gLayer.pAppData); }
File* Of(sqlite3_file* file) { return reinterpret_cast<File*>(file); }
sqlite3_file* Inner(sqlite3_file* file) { return Of(file)->inner; }
// What another connection or process may have changed is read afresh after
// any change of locks: a new transaction starts with one.
void Forget(sqlite3_file* file) { Of(file)->length = 0; }

int Close(sqlite3_file* file)
{
    const int rc = Inner(file)->pMethods->xClose(Inner(file));
    std::free(Of(file)->buffer);
    Of(file)->buffer = nullptr;
    return rc;
}

int Read(sqlite3_file* file, void* out, int amount, sqlite3_int64 offset)
{
    File& f = *Of(file);
    sqlite3_file* inner = f.inner;
    if (f.length > 0 && offset >= f.start && offset + amount <= f.start + f.length) {
        std::memcpy(out, f.buffer + (offset - f.start), static_cast<size_t>(amount));
        f.lastEnd = offset + amount;
        return SQLITE_OK;
    }
    const bool onward = f.mainDb && amount <= kLargestPage && offset >= f.lastEnd && offset - f.lastEnd <= kNearby;
    f.lastEnd = offset + amount;
    if (!onward)
        return inner->pMethods->xRead(inner, out, amount, offset);
    sqlite3_int64 size = 0;
    if (inner->pMethods->xFileSize(inner, &size) != SQLITE_OK || size - offset < amount)
        return inner->pMethods->xRead(inner, out, amount, offset); // the end of the file: short reads as usual
    if (f.buffer == nullptr && (f.buffer = static_cast<char*>(std::malloc(kAhead))) == nullptr)
        return inner->pMethods->xRead(inner, out, amount, offset);
    const int fill = static_cast<int>(std::min<sqlite3_int64>(kAhead, size - offset));
    f.length = 0;
    if (inner->pMethods->xRead(inner, f.buffer, fill, offset) != SQLITE_OK)
        return inner->pMethods->xRead(inner, out, amount, offset);
    f.start = offset;
    f.length = fill;
    std::memcpy(out, f.buffer, static_cast<size_t>(amount));
    return SQLITE_OK;
}

int Write(sqlite3_file* file, const void* data, int amount, sqlite3_int64 offset)
{
    Forget(file);
    return Inner(file)->pMethods->xWrite(Inner(file), data, amount, offset);
}

int Truncate(sqlite3_file* file, sqlite3_int64 size)
{
    Forget(file);
    return Inner(file)->pMethods->xTruncate(Inner(file), size);
}

int Sync(sqlite3_file* file, int flags) { return Inner(file)->pMethods->xSync(Inner(file), flags); }
int FileSize(sqlite3_file* file, sqlite3_int64* size) { return Inner(file)->pMethods->xFileSize(Inner(file), size); }

int Lock(sqlite3_file* file, int level)
{
    Forget(file);
    return Inner(file)->pMethods->xLock(Inner(file), level);
}

int Unlock(sqlite3_file* file, int level)
{
    Forget(file);
    return Inner(file)->pMethods->xUnlock(Inner(file), level);
}

int CheckReservedLock(sqlite3_file* file, int* out)
{
    return Inner(file)->pMethods->xCheckReservedLock(Inner(file), out);
}

int FileControl(sqlite3_file* file, int op, void* arg)
{
    return Inner(file)->pMethods->xFileControl(Inner(file), op, arg);
}

int SectorSize(sqlite3_file* file) { return Inner(file)->pMethods->xSectorSize(Inner(file)); }

int DeviceCharacteristics(sqlite3_file* file)
{
    return Inner(file)->pMethods->xDeviceCharacteristics(Inner(file));
}

int ShmMap(sqlite3_file* file, int region, int size, int extend, void volatile** out)
{
    if (Inner(file)->pMethods->iVersion < 2)
        return SQLITE_IOERR;
    return Inner(file)->pMethods->xShmMap(Inner(file), region, size, extend, out);
}

// A WAL reader starts each transaction here rather than in Lock.
int ShmLock(sqlite3_file* file, int offset, int count, int flags)
{
    if (Inner(file)->pMethods->iVersion < 2)
        return SQLITE_IOERR;
    Forget(file);
    return Inner(file)->pMethods->xShmLock(Inner(file), offset, count, flags);
}

void ShmBarrier(sqlite3_file* file)
{
    if (Inner(file)->pMethods->iVersion >= 2)
        Inner(file)->pMethods->xShmBarrier(Inner(file));
}

int ShmUnmap(sqlite3_file* file, int deleteFlag)
{
    if (Inner(file)->pMethods->iVersion < 2)
        return SQLITE_OK;
    return Inner(file)->pMethods->xShmUnmap(Inner(file), deleteFlag);
}

int Fetch(sqlite3_file* file, sqlite3_int64 offset, int amount, void** out)
{
    if (Inner(file)->pMethods->iVersion < 3) {
        *out = nullptr;
        return SQLITE_OK;
    }
    return Inner(file)->pMethods->xFetch(Inner(file), offset, amount, out);
}

int Unfetch(sqlite3_file* file, sqlite3_int64 offset, void* page)
{
    if (Inner(file)->pMethods->iVersion < 3)
        return SQLITE_OK;
    return Inner(file)->pMethods->xUnfetch(Inner(file), offset, page);
}

const sqlite3_io_methods kMethods = {
    3, Close, Read, Write, Truncate, Sync, FileSize, Lock, Unlock, CheckReservedLock, FileControl, SectorSize,
    DeviceCharacteristics, ShmMap, ShmLock, ShmBarrier, ShmUnmap, Fetch, Unfetch,
};

int Open(sqlite3_vfs*, sqlite3_filename name, sqlite3_file* file, int flags, int* outFlags)
{
    File& f = *Of(file);
    f.inner = reinterpret_cast<sqlite3_file*>(&f + 1);
    f.mainDb = (flags & SQLITE_OPEN_MAIN_DB) != 0;
    f.buffer = nullptr;
    f.start = 0;
    f.length = 0;
    f.lastEnd = 0;
    const int rc = System()->xOpen(System(), name, f.inner, flags, outFlags);
    // Without the system's methods SQLite calls no method of ours either.
    f.base.pMethods = f.inner->pMethods != nullptr ? &kMethods : nullptr;
    return rc;
}

int Delete(sqlite3_vfs*, const char* name, int syncDir) { return System()->xDelete(System(), name, syncDir); }
int Access(sqlite3_vfs*, const char* name, int flags, int* out) { return System()->xAccess(System(), name, flags, out); }
int FullPathname(sqlite3_vfs*, const char* name, int room, char* out)
{
    return System()->xFullPathname(System(), name, room, out);
}
void* DlOpen(sqlite3_vfs*, const char* name) { return System()->xDlOpen(System(), name); }
void DlError(sqlite3_vfs*, int room, char* out) { System()->xDlError(System(), room, out); }
void (*DlSym(sqlite3_vfs*, void* handle, const char* symbol))(void)
{
    return System()->xDlSym(System(), handle, symbol);
}
void DlClose(sqlite3_vfs*, void* handle) { System()->xDlClose(System(), handle); }
int Randomness(sqlite3_vfs*, int room, char* out) { return System()->xRandomness(System(), room, out); }
int Sleep(sqlite3_vfs*, int microseconds) { return System()->xSleep(System(), microseconds); }
int CurrentTime(sqlite3_vfs*, double* out) { return System()->xCurrentTime(System(), out); }
int GetLastError(sqlite3_vfs*, int room, char* out) { return System()->xGetLastError(System(), room, out); }
int CurrentTimeInt64(sqlite3_vfs*, sqlite3_int64* out)
{
    if (System()->iVersion >= 2 && System()->xCurrentTimeInt64 != nullptr)
        return System()->xCurrentTimeInt64(System(), out);
    double days = 0;
    const int rc = System()->xCurrentTime(System(), &days);
    *out = static_cast<sqlite3_int64>(days * 86400000.0);
    return rc;
}

} // namespace

ReadAheadUse::ReadAheadUse()
{
    std::lock_guard lock(gMutex);
    if (gUses > 0) {
        ++gUses;
        available_ = true;
        return;
    }
    sqlite3_vfs* system = sqlite3_vfs_find(nullptr);
    if (system == nullptr)
        return;
    gLayer = sqlite3_vfs{};
    gLayer.iVersion = 2;
    gLayer.szOsFile = static_cast<int>(sizeof(File)) + system->szOsFile;
    gLayer.mxPathname = system->mxPathname;
    gLayer.zName = kReadAheadVfs;
    gLayer.pAppData = system;
    gLayer.xOpen = Open;
    gLayer.xDelete = Delete;
    gLayer.xAccess = Access;
    gLayer.xFullPathname = FullPathname;
    gLayer.xDlOpen = DlOpen;
    gLayer.xDlError = DlError;
    gLayer.xDlSym = DlSym;
    gLayer.xDlClose = DlClose;
    gLayer.xRandomness = Randomness;
    gLayer.xSleep = Sleep;
    gLayer.xCurrentTime = CurrentTime;
    gLayer.xGetLastError = GetLastError;
    gLayer.xCurrentTimeInt64 = CurrentTimeInt64;
    if (sqlite3_vfs_register(&gLayer, 0) != SQLITE_OK)
        return;
    gUses = 1;
    available_ = true;
}

ReadAheadUse::~ReadAheadUse()
{
    if (!available_)
        return;
    std::lock_guard lock(gMutex);
    if (--gUses == 0)
        sqlite3_vfs_unregister(&gLayer);
}

} // namespace mbtiles
