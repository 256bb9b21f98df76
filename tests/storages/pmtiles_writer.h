#pragma once
// A small PMTiles version 3 writer, written from the format's description
// apart from the plugin's reader, for tests and benchmarks that need
// archives the peer-written fixtures do not cover: leaf directories, runs,
// millions of tiles, damage at a chosen place.

#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace pmtiles_writer {

struct Entry {
    uint64_t tileId = 0;
    uint64_t offset = 0; // in the tile data (tiles) or the leaf section (leaves)
    uint64_t length = 0;
    uint64_t runLength = 1; // 0: a leaf directory
};

// The Hilbert tile id of z/x/y (y from the top): the tiles of all lower
// zooms first, then the cell's index along the curve.
inline uint64_t TileId(uint32_t z, uint32_t x, uint32_t y) {
    uint64_t id = 0;
    for (uint32_t i = 0; i < z; ++i)
        id += uint64_t{1} << (2 * i);
    const uint64_t n = uint64_t{1} << z;
    uint64_t cx = x;
    uint64_t cy = y;
    for (uint64_t s = n / 2; s > 0; s /= 2) {
        const bool rx = (cx & s) != 0;
        const bool ry = (cy & s) != 0;
        id += s * s * ((rx ? 3u : 0u) ^ (ry ? 1u : 0u));
        if (!ry) {
            if (rx) {
                cx = s - 1 - (cx & (s - 1));
                cy = s - 1 - (cy & (s - 1));
            }
            std::swap(cx, cy);
        }
        cx &= s - 1;
        cy &= s - 1;
    }
    return id;
}

// The zoom of a tile id: the first zoom whose ids end after it.
inline uint32_t ZoomOf(uint64_t id) {
    uint32_t z = 0;
    for (uint64_t end = 1; id >= end && z < 31; end += uint64_t{1} << (2 * ++z)) {
    }
    return z;
}

inline void PutVarint(std::string* out, uint64_t value) {
    while (value >= 0x80) {
        out->push_back(static_cast<char>((value & 0x7F) | 0x80));
        value >>= 7;
    }
    out->push_back(static_cast<char>(value));
}

inline std::string EncodeDirectory(const std::vector<Entry>& entries) {
    std::string out;
    PutVarint(&out, entries.size());
    uint64_t last = 0;
    for (const Entry& e : entries) {
        PutVarint(&out, e.tileId - last);
        last = e.tileId;
    }
    for (const Entry& e : entries)
        PutVarint(&out, e.runLength);
    for (const Entry& e : entries)
        PutVarint(&out, e.length);
    for (size_t i = 0; i < entries.size(); ++i) {
        const bool follows = i > 0 && entries[i].offset == entries[i - 1].offset + entries[i - 1].length;
        PutVarint(&out, follows ? 0 : entries[i].offset + 1);
    }
    return out;
}

inline std::string Gzip(const std::string& data) {
    z_stream stream{};
    if (deflateInit2(&stream, Z_BEST_SPEED, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        throw std::runtime_error("deflateInit2 failed");
    std::string out(deflateBound(&stream, data.size()) + 32, '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    stream.avail_in = static_cast<uInt>(data.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    if (deflate(&stream, Z_FINISH) != Z_STREAM_END)
        throw std::runtime_error("deflate failed");
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return out;
}

struct Options {
    bool gzip = true;
    size_t leafSize = 0; // tile entries per leaf directory; 0: all in the root
    uint8_t tileType = 2; // PNG
};

inline void PutU64(std::string* out, size_t at, uint64_t value) {
    for (int i = 0; i < 8; ++i)
        (*out)[at + i] = static_cast<char>(value >> (8 * i));
}

// Everything of an archive before its tile data: header, root directory,
// metadata, leaf directories. The tile data of `tileDataLength` bytes
// follows directly. `tiles` are the tile entries in tile id order.
inline std::string ArchiveHead(const std::vector<Entry>& tiles, uint64_t tileDataLength, const Options& options = {}) {
    auto pack = [&](const std::string& raw) { return options.gzip ? Gzip(raw) : raw; };
    std::string root;
    std::string leaves;
    if (options.leafSize == 0) {
        root = pack(EncodeDirectory(tiles));
    } else {
        std::vector<Entry> rootEntries;
        for (size_t first = 0; first < tiles.size(); first += options.leafSize) {
            const std::vector<Entry> chunk(tiles.begin() + static_cast<ptrdiff_t>(first),
                                           tiles.begin() + static_cast<ptrdiff_t>(std::min(tiles.size(), first + options.leafSize)));
            const std::string leaf = pack(EncodeDirectory(chunk));
            rootEntries.push_back({chunk.front().tileId, leaves.size(), leaf.size(), 0});
            leaves += leaf;
        }
        root = pack(EncodeDirectory(rootEntries));
    }
    const std::string metadata = pack("{}");

    uint64_t addressed = 0;
    uint32_t minZoom = 31, maxZoom = 0;
    for (const Entry& e : tiles) {
        addressed += e.runLength;
        minZoom = std::min(minZoom, ZoomOf(e.tileId));
        maxZoom = std::max(maxZoom, ZoomOf(e.tileId + e.runLength - 1));
    }
    std::string head(127, '\0');
    head.replace(0, 7, "PMTiles");
    head[7] = 3;
    const uint64_t rootOffset = 127;
    const uint64_t metadataOffset = rootOffset + root.size();
    const uint64_t leafOffset = metadataOffset + metadata.size();
    const uint64_t tileDataOffset = leafOffset + leaves.size();
    const uint64_t fields[11] = {rootOffset, root.size(), metadataOffset, metadata.size(), leafOffset,
                                 leaves.size(), tileDataOffset, tileDataLength, addressed, tiles.size(), 0};
    for (size_t i = 0; i < 11; ++i)
        PutU64(&head, 8 + 8 * i, fields[i]);
    head[96] = 1;                       // clustered
    head[97] = options.gzip ? 2 : 1;    // internal compression
    head[98] = 1;                       // tiles as they are
    head[99] = static_cast<char>(options.tileType);
    head[100] = static_cast<char>(tiles.empty() ? 0 : minZoom);
    head[101] = static_cast<char>(maxZoom);
    return head + root + metadata + leaves;
}

} // namespace pmtiles_writer
