#pragma once
// A compact cache of version 2, as MapProxy and ArcGIS servers write it: one
// folder per level, "L05", holding bundles of 128 x 128 tiles named by their
// first row and column in hex, "R0080C0100.bundle". A bundle starts with a
// 64-byte header, then an index of 16,384 entries of 8 bytes (row by row,
// rows from the top): the low 5 bytes the tile's offset in the file, the
// high 3 its size (0: no tile). Read only.

#include "plate_key.h"
#include "plugin_glue.h"

#include <cstdint>
#include <string>
#include <vector>

namespace compact {

inline constexpr uint32_t kBundleSide = 128;
inline constexpr uint32_t kIndexEntries = kBundleSide * kBundleSide;
inline constexpr uint32_t kHeaderSize = 64;
inline constexpr uint32_t kVersion = 3; // what a version 2 cache writes in its bundles

// A bundle file's name for the bundle holding column x and row y:
// "R0080C0100.bundle" (at least 4 lower-case hex digits each).
std::string BundleName(uint32_t x, uint32_t y);
// The first row and column of a bundle from its file name; false for
// another name or one whose row or column is not a multiple of 128.
bool ParseBundleName(const std::string& file, uint32_t* row, uint32_t* column);

class Storage : public storage_glue::StorageBase {
public:
    static constexpr const char* kExtension = "";

    ~Storage() { Close(); }

    bool Open(const char* path);
    void Close();
    uint32_t GetPlateData(const char* name, const void** data, uint32_t* size);
    uint32_t Write(const char* name, const void* data, uint32_t size, uint32_t mode);
    uint32_t Enumerate(PlateCallback callback, void* cookie);
    // What the cache's files show: format, tile size, zooms
    // (compact_metadata.cpp).
    uint32_t ReadMetadata(MetadataCallback callback, void* cookie);

private:
    struct Level {
        uint32_t zoom;
        std::string folder;
    };
    // Opens a bundle below the base and checks its header; -1 with the
    // reason in *error (errno ENOENT when there is no such file).
    int OpenBundle(const std::string& path, std::string* error) const;

    int baseFd_ = -1;
    std::string folderName_;
    std::vector<Level> levels_;
    std::vector<unsigned char> data_; // the block GetPlateData handed out
};

} // namespace compact
