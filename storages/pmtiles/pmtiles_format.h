#pragma once
// The byte layout of a PMTiles version 3 archive: its 127-byte header, its
// directories (varint columns, optionally gzip-compressed) and the Hilbert
// tile ids. Pure functions over bytes, so that they can be fuzzed alone.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace pmtiles {

inline constexpr size_t kHeaderSize = 127;

enum Compression : uint8_t { kUnknown = 0, kNone = 1, kGzip = 2, kBrotli = 3, kZstd = 4 };

struct Header {
    uint64_t rootOffset = 0;
    uint64_t rootLength = 0;
    uint64_t metadataOffset = 0;
    uint64_t metadataLength = 0;
    uint64_t leafOffset = 0;
    uint64_t leafLength = 0;
    uint64_t tileDataOffset = 0;
    uint64_t tileDataLength = 0;
    uint64_t addressedTiles = 0;
    uint64_t tileEntries = 0;
    uint64_t tileContents = 0;
    bool clustered = false;
    uint8_t internalCompression = kUnknown;
    uint8_t tileCompression = kUnknown;
    uint8_t tileType = 0;
    uint8_t minZoom = 0;
    uint8_t maxZoom = 0;
    // Degrees times 10,000,000, as stored.
    int32_t minLonE7 = 0;
    int32_t minLatE7 = 0;
    int32_t maxLonE7 = 0;
    int32_t maxLatE7 = 0;
    uint8_t centerZoom = 0;
    int32_t centerLonE7 = 0;
    int32_t centerLatE7 = 0;
};

// One directory entry. runLength 0 makes it a leaf directory, whose bytes
// are at `offset` in the leaf section; otherwise it is `runLength` tiles
// from `tileId` on sharing the bytes at `offset` in the tile data section.
struct Entry {
    uint64_t tileId = 0;
    uint64_t offset = 0;
    uint64_t length = 0;
    uint64_t runLength = 0;
};

// Reads the header from the first `size` bytes of a file of `fileSize`
// bytes. Checks the signature, the version and that every section lies
// inside the file. Returns an empty text, or what is wrong.
std::string ParseHeader(const uint8_t* bytes, size_t size, uint64_t fileSize, Header* header);

// The 127 bytes of `header`, as ParseHeader reads them.
void SerializeHeader(const Header& header, uint8_t out[kHeaderSize]);

// Encodes `count` entries as an uncompressed directory, appended to `out`.
void EncodeDirectory(const Entry* entries, size_t count, std::vector<uint8_t>* out);

// Compresses `size` bytes as gzip into `out` (replacing its contents).
// Returns an empty text, or what is wrong.
std::string Gzip(const uint8_t* bytes, size_t size, std::vector<uint8_t>* out);

// Gzip for many pieces in a row (the leaf directories): one compressor,
// reset between pieces, instead of one made and freed a piece (its
// quarter megabyte, given back to the system and taken again each time,
// cost more than the compression).
class Gzipper {
public:
    Gzipper();
    ~Gzipper();
    Gzipper(const Gzipper&) = delete;
    Gzipper& operator=(const Gzipper&) = delete;
    std::string Compress(const uint8_t* bytes, size_t size, std::vector<uint8_t>* out);

private:
    struct Stream;
    Stream* stream_;
};

// Decodes a decompressed directory into `entries` (its storage is reused,
// so that a listing allocates per directory at most, never per tile).
// Returns an empty text, or what is wrong.
std::string DecodeDirectory(const uint8_t* bytes, size_t size, std::vector<Entry>* entries);

// Inflates gzip (or zlib) data into `out`, refusing more than `limit`
// bytes. Returns an empty text, or what is wrong.
std::string Inflate(const uint8_t* bytes, size_t size, size_t limit, std::vector<uint8_t>* out);

// The name of a compression value, for messages.
const char* CompressionName(uint8_t compression);

// Deepest zoom a tile id is accepted for: deeper tiles have no plate name.
inline constexpr uint32_t kMaxZoom = 30;

// The first tile id of zoom z: the number of tiles of all shallower zooms.
constexpr uint64_t FirstIdOfZoom(uint32_t z) { return ((uint64_t{1} << (2 * z)) - 1) / 3; }

// One past the last id of the deepest accepted zoom.
inline constexpr uint64_t kEndOfIds = FirstIdOfZoom(kMaxZoom + 1);

// z/x/y (y from the top) of a tile id below kEndOfIds.
void TileIdToZxy(uint64_t id, uint32_t* z, uint32_t* x, uint32_t* y);
// The tile id of z/x/y, for z up to kMaxZoom and x, y below 2^z.
uint64_t ZxyToTileId(uint32_t z, uint32_t x, uint32_t y);

// Names consecutive tile ids as plates in constant time per id on the
// average: a listing of a million tiles should cost about what reading the
// directories does. Walks the Hilbert curve from the top, one quadrant per
// letter, and after id + 1 redoes only the letters whose quadrant changed.
class TileNamer {
public:
    // The plate name of `id` (below kEndOfIds), valid until the next call.
    const char* Name(uint64_t id);

private:
    void Redo(uint32_t fromLevel);

    bool valid_ = false;
    uint64_t id_ = 0;
    uint64_t zoomEnd_ = 0; // first id of the next zoom
    uint32_t z_ = 0;
    uint8_t digits_[kMaxZoom + 1] = {};     // curve position, base 4, level 1 first
    uint8_t orientation_[kMaxZoom + 2] = {}; // the curve's symmetry at each level
    char name_[kMaxZoom + 2] = {};
};

} // namespace pmtiles
