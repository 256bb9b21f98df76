#pragma once
// A storage's description across formats. Each shipped format names its
// metadata in its own terms (an MBTiles file's rows, a PMTiles archive's
// "header.*" fields and JSON members, a GeoPackage's "gpkg_contents.*"
// columns and GDAL's metadata items, a tile tree's metadata.json and "tilemapresource.*" fields);
// here they are read into typed fields, and a copy's keys are put into the
// target's terms, with what the copy changed (extent, zooms, picture
// format) worked out from the plates it stored.

#include "base/PlateKey.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

class StorageAction;

using MetadataList = std::vector<std::pair<std::string, std::string>>;

enum class MetadataDialect { MBTiles, PMTiles, GeoPackage, Folder };

// The dialect of keys a storage reported: recognised by the keys that only
// one format has; MBTiles (the common terms) for anything else.
MetadataDialect DialectOfKeys(const MetadataList& keys);
// The dialect a storage of the plugin with this default extension takes
// ("mbtiles", "pmtiles", "gpkg"; a folder plugin has none, a bucket's
// tree plugin names "s3" first).
MetadataDialect DialectOfExtension(std::string_view extension);

// What every format can say of itself, in common terms.
struct MetadataFields {
    std::string name;
    std::string description;
    std::string attribution;
    std::string format;                         // as MBTiles names it: png, jpg, webp, pbf, ...
    std::optional<std::array<double, 4>> bounds; // west, south, east, north, degrees
    std::optional<std::array<double, 3>> center; // longitude, latitude, zoom
    int minZoom = -1;                           // -1: not said
    int maxZoom = -1;
    int tileSize = 0;                           // pixels; 0: not said
};

MetadataFields InterpretMetadata(const MetadataList& keys, MetadataDialect dialect);

// The keys of `source` (in `from`'s terms) in `into`'s terms. `changed`
// replaces what the source says of its extent, zooms and format where it
// has them; a name the source lacks is taken from `changed` as well.
MetadataList TranslateMetadata(const MetadataList& source, MetadataDialect from, MetadataDialect into,
                               const MetadataFields& changed);

// What a copy learns of the plates it stores, plate by plate.
class CopiedExtent {
public:
    void Add(std::string_view plate, const void* data, uint32_t size);
    // The same for a plate whose name the list keeps packed (its letters
    // and length, as PlateList::PackedLettersAt gives them): no text to read.
    void AddPacked(uint64_t letters, int length, const void* data, uint32_t size);
    bool Empty() const { return minZoom_ < 0; }
    // Puts the extent, the zooms and the picture format of the plates added
    // into `fields`. A whole copy keeps the source's finer bounds and center.
    void Apply(MetadataFields* fields, bool whole) const;

private:
    void AddTile(const PlateKey::Tile& tile, const void* data, uint32_t size);

    // The plates covered at one zoom, rows from the top: integers, cheaper
    // a plate than fractions of the world.
    struct Span {
        uint32_t minX = UINT32_MAX, maxX = 0, minY = UINT32_MAX, maxY = 0;
    };
    int minZoom_ = -1;
    int maxZoom_ = -1;
    Span spans_[PlateKey::kMaxQuadtreeLevel];
    int format_ = -1; // ImageFormat; -2: mixed
};

// Writes the metadata of `from` into `into` in the target's terms, keeping
// the keys the target already has; what failed is logged. The number of
// keys written.
int CopyStorageMetadata(StorageAction& from, StorageAction& into, const CopiedExtent& extent, bool whole);
