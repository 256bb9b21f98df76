#pragma once
// A compact cache of version 2, as MapProxy and ArcGIS servers write it: one
// folder per level, "L05", holding bundles of 128 x 128 tiles named by their
// first row and column in hex, "R0080C0100.bundle". A bundle starts with a
// 64-byte header, then an index of 16,384 entries of 8 bytes (row by row,
// rows from the top): the low 5 bytes the tile's offset in the file, the
// high 3 its size (0: no tile). Read only.
//
// The bundles hold the rows in the grid's own order: from the top on an
// ArcGIS server and on MapProxy's GLOBAL_WEBMERCATOR, from the bottom on
// its GLOBAL_MERCATOR (its default grid). Open takes the order from the
// path ("CACHE?origin=sw"), else from MapProxy's configuration beside the
// cache or the cache folder's name, else assumes rows from the top and says
// so in its notice.

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

// A storage path with its option: "CACHE", "CACHE?origin=nw" (rows from the
// top) or "CACHE?origin=sw" (from the bottom). *origin is 0 without the
// option, 1 for nw, 2 for sw. False with the reason in *error.
bool ParseLocation(const std::string& path, std::string* folder, int* origin, std::string* error);

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

    // "layout: compact v2, rows from the bottom (mapproxy.yaml: cache
    // osm, grid GLOBAL_MERCATOR)", or "(assumed: ...)" when nothing told the
    // rows' order. Handed to the host as the text after a listing.
    std::string Notice() const;
    bool Assumed() const { return assumed_; }

private:
    struct Level {
        uint32_t zoom;
        std::string folder;
    };
    // Opens a bundle below the base and checks its header; -1 with the
    // reason in *error (errno ENOENT when there is no such file).
    int OpenBundle(const std::string& path, std::string* error) const;
    // Works out the rows' order of the cache in `folderFd` (the folder
    // given, before Layers/_alllayers); false with the reason for a grid
    // whose tiles are no plates.
    bool RecogniseOrigin(int folderFd, bool arcgisServer);
    // The bundle row of a plate's row and back: the same when rows count
    // from the top, mirrored in the level's side when from the bottom.
    uint64_t GridRow(uint32_t zoom, uint64_t y) const {
        return rowsFromBottom_ ? (uint64_t{1} << zoom) - 1 - y : y;
    }

    int baseFd_ = -1;
    std::string folderName_;
    std::vector<Level> levels_;
    bool rowsFromBottom_ = false;
    bool assumed_ = false; // nothing told the rows' order
    std::string how_;      // what told it, for Notice
    std::vector<unsigned char> data_; // the block GetPlateData handed out
};

} // namespace compact
