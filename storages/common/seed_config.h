#pragma once
// What a tile server's configuration says about a cache folder it wrote:
// MapProxy keeps its tiles in the grid's own row order (GLOBAL_MERCATOR from
// the bottom, GLOBAL_WEBMERCATOR from the top), which the files alone do not
// tell. Its mapproxy.yaml names each cache's directory layout, directory and
// grid; a seed configuration may name the grid of a run.

#include <string>
#include <string_view>

// Shared by the folder and compact cache plugins: both read trees MapProxy
// writes in its grid's row order.
namespace seed_config {

struct SeedHint {
    std::string layout; // "tc", "mp", "tms", "quadkey", "arcgis", "compact"; empty: not named
    int origin = 0;     // 0 unknown, 1 rows from the top, 2 from the bottom
    std::string grid;   // the grid's name, for the notice
    std::string cache;  // the cache's name, for the notice
};

// Reads a MapProxy configuration (`text`, YAML) lying in the folder
// `configDirFd` and looks for the cache stored in the folder `folderName`
// whose identity is (device, inode): by its `directory` (resolved from the
// configuration's folder), by that directory's last name, or by MapProxy's
// own name for it, CACHE_GRID. False when no cache of it is stored there.
enum class HintFound { Nothing, Cache, GridOnly };
// A seed configuration names no directory: one whose seeds name a single
// grid gives that grid's origin alone (GridOnly, grid and origin set).
HintFound FindCacheIn(std::string_view text, int configDirFd, std::string_view folderName, unsigned long device,
                      unsigned long inode, SeedHint* hint);

// The row origin of MapProxy's built-in grids by name (1 top, 2 bottom, 0
// for another name).
int BuiltInGridOrigin(std::string_view grid);

// Looks for mapproxy.yaml, then seed.yaml, in the folder `folderFd` and the
// three above it (MapProxy's cache_data/CACHE_EPSG3857 and
// cache_data/CACHE/GRID beside its mapproxy.yaml) for the cache stored there, whose last name is
// `folderName` and whose identity is (device, inode). The first cache found
// wins; else the first seed configuration that names one grid. *file is the
// configuration's file name, for the notice.
HintFound LookForSeedConfig(int folderFd, std::string_view folderName, unsigned long device, unsigned long inode,
                            SeedHint* hint, std::string* file);

// MapProxy's own name for a cache folder when its configuration names no
// directory, "osm_GLOBAL_MERCATOR" or "osm/GLOBAL_MERCATOR" (whose last name
// is the grid): the built-in grid it ends in, else empty.
std::string GridInFolderName(const std::string& folder);

// A small text file below `dirFd` (at most 64 KiB of it); empty when it
// cannot be read or is no regular file. Never blocks on a FIFO.
std::string ReadSmallFile(int dirFd, const char* path);

} // namespace seed_config
