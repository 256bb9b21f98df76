// The MBTiles file as a container: checked, measured and compacted on
// connections of their own, around which the storage closes and reopens, so
// that what it had pending is committed first and it sees the new file after.
#include "mbtiles_storage.h"
#include "sqlite_container.h"

namespace mbtiles {

uint32_t Storage::CheckContainer(ContainerCallback callback, void* cookie) {
    const std::string path = path_;
    return sqlite_container::Reopened(this, path, [&](std::string* error) {
        return sqlite_container::Check(path, callback, cookie, error);
    });
}

uint32_t Storage::MeasureSpace(uint64_t* fileBytes, uint64_t* freeBytes) {
    const std::string path = path_;
    return sqlite_container::Reopened(this, path, [&](std::string* error) {
        return sqlite_container::Measure(path, fileBytes, freeBytes, error);
    });
}

uint32_t Storage::ReclaimSpace(ContainerCallback callback, void* cookie, uint64_t* before, uint64_t* after) {
    if (readOnly_)
        return Fail(fileName_ + " is read-only: its free space cannot be reclaimed");
    const std::string path = path_;
    return sqlite_container::Reopened(this, path, [&](std::string* error) {
        return sqlite_container::Reclaim(path, callback, cookie, before, after, error);
    });
}

} // namespace mbtiles
