#include "pmtiles_format.h"

#include <zlib.h>

#include <cstring>
#include <limits>

namespace pmtiles {

namespace {

uint64_t ReadU64(const uint8_t* p) {
    uint64_t value = 0;
    for (int i = 7; i >= 0; --i)
        value = value << 8 | p[i];
    return value;
}

int32_t ReadI32(const uint8_t* p) {
    return static_cast<int32_t>(uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24);
}

void PutU64(uint8_t* p, uint64_t value) {
    for (int i = 0; i < 8; ++i)
        p[i] = static_cast<uint8_t>(value >> (8 * i));
}

void PutI32(uint8_t* p, int32_t value) {
    const uint32_t bits = static_cast<uint32_t>(value);
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<uint8_t>(bits >> (8 * i));
}

// Writes `value` at `out` (room for ten bytes); returns the end.
uint8_t* PutVarint(uint8_t* out, uint64_t value) {
    while (value >= 0x80) {
        *out++ = static_cast<uint8_t>((value & 0x7F) | 0x80);
        value >>= 7;
    }
    *out++ = static_cast<uint8_t>(value);
    return out;
}

// Reads protobuf-style varints, remembering the first fault.
class VarintReader {
public:
    VarintReader(const uint8_t* bytes, size_t size) : p_(bytes), end_(bytes + size) {}

    uint64_t Next() {
        // Most numbers of a directory (id deltas, run lengths, offsets) fit
        // one byte.
        if (p_ != end_ && *p_ < 0x80)
            return *p_++;
        return NextLong();
    }
    uint64_t NextLong() {
        uint64_t value = 0;
        for (int shift = 0; shift < 64; shift += 7) {
            if (p_ == end_) {
                Fault("it ends inside an entry");
                return 0;
            }
            const uint8_t byte = *p_++;
            // The tenth byte may only carry the top bit of 64.
            if (shift == 63 && byte > 1) {
                Fault("a number has more than 64 bits");
                return 0;
            }
            value |= uint64_t{byte & 0x7Fu} << shift;
            if (byte < 0x80)
                return value;
        }
        Fault("a number has more than 64 bits");
        return 0;
    }
    size_t Left() const { return static_cast<size_t>(end_ - p_); }
    const std::string& Error() const { return error_; }
    void Fault(const char* text) {
        if (error_.empty())
            error_ = text;
        p_ = end_;
    }

private:
    const uint8_t* p_;
    const uint8_t* end_;
    std::string error_;
};

// Where a section ends, or false when offset + length overflows.
bool SectionEnd(uint64_t offset, uint64_t length, uint64_t* end) {
    if (length > std::numeric_limits<uint64_t>::max() - offset)
        return false;
    *end = offset + length;
    return true;
}

} // namespace

const char* CompressionName(uint8_t compression) {
    switch (compression) {
    case kUnknown: return "an unknown method";
    case kNone: return "none";
    case kGzip: return "gzip";
    case kBrotli: return "brotli";
    case kZstd: return "zstd";
    default: return "an undefined method";
    }
}

std::string ParseHeader(const uint8_t* bytes, size_t size, uint64_t fileSize, Header* header) {
    if (fileSize == 0 || size == 0)
        return "The file is empty: not a PMTiles archive";
    static constexpr char kMagic[] = "PMTiles";
    const bool fullMagic = size >= 7 && std::memcmp(bytes, kMagic, 7) == 0;
    if (!fullMagic) {
        // Versions 1 and 2 started with "PM" and a 16-bit version.
        if (size >= 4 && bytes[0] == 'P' && bytes[1] == 'M' && bytes[3] == 0 && (bytes[2] == 1 || bytes[2] == 2))
            return "PMTiles version " + std::to_string(bytes[2]) + " is not supported: only version 3 is read";
        return "Not a PMTiles archive: it does not start with \"PMTiles\"";
    }
    if (size < 8)
        return "Truncated PMTiles archive: the header has " + std::to_string(size) + " of 127 bytes";
    if (bytes[7] != 3)
        return "PMTiles version " + std::to_string(bytes[7]) + " is not supported: only version 3 is read";
    if (size < kHeaderSize)
        return "Truncated PMTiles archive: the header has " + std::to_string(size) + " of 127 bytes";

    Header h;
    h.rootOffset = ReadU64(bytes + 8);
    h.rootLength = ReadU64(bytes + 16);
    h.metadataOffset = ReadU64(bytes + 24);
    h.metadataLength = ReadU64(bytes + 32);
    h.leafOffset = ReadU64(bytes + 40);
    h.leafLength = ReadU64(bytes + 48);
    h.tileDataOffset = ReadU64(bytes + 56);
    h.tileDataLength = ReadU64(bytes + 64);
    h.addressedTiles = ReadU64(bytes + 72);
    h.tileEntries = ReadU64(bytes + 80);
    h.tileContents = ReadU64(bytes + 88);
    h.clustered = bytes[96] == 1;
    h.internalCompression = bytes[97];
    h.tileCompression = bytes[98];
    h.tileType = bytes[99];
    h.minZoom = bytes[100];
    h.maxZoom = bytes[101];
    h.minLonE7 = ReadI32(bytes + 102);
    h.minLatE7 = ReadI32(bytes + 106);
    h.maxLonE7 = ReadI32(bytes + 110);
    h.maxLatE7 = ReadI32(bytes + 114);
    h.centerZoom = bytes[118];
    h.centerLonE7 = ReadI32(bytes + 119);
    h.centerLatE7 = ReadI32(bytes + 123);

    if (h.internalCompression != kNone && h.internalCompression != kGzip)
        return std::string("PMTiles directories compressed with ") + CompressionName(h.internalCompression) +
               " are not supported (only gzip)";
    if (h.rootLength == 0)
        return "Bad PMTiles header: it has no root directory";

    struct Section {
        const char* name;
        uint64_t offset;
        uint64_t length;
    };
    const Section sections[] = {{"root directory", h.rootOffset, h.rootLength},
                                {"metadata", h.metadataOffset, h.metadataLength},
                                {"leaf directories", h.leafOffset, h.leafLength},
                                {"tile data", h.tileDataOffset, h.tileDataLength}};
    for (const Section& section : sections) {
        if (section.length == 0)
            continue;
        uint64_t end = 0;
        if (!SectionEnd(section.offset, section.length, &end))
            return std::string("Bad PMTiles header: the ") + section.name + " section overflows";
        if (end > fileSize)
            return "Truncated PMTiles archive: " + std::to_string(fileSize) + " bytes, the " + section.name +
                   " ends at byte " + std::to_string(end);
    }
    *header = h;
    return {};
}

void SerializeHeader(const Header& h, uint8_t out[kHeaderSize]) {
    std::memcpy(out, "PMTiles", 7);
    out[7] = 3;
    const uint64_t fields[11] = {h.rootOffset,     h.rootLength,     h.metadataOffset, h.metadataLength,
                                 h.leafOffset,     h.leafLength,     h.tileDataOffset, h.tileDataLength,
                                 h.addressedTiles, h.tileEntries,    h.tileContents};
    for (size_t i = 0; i < 11; ++i)
        PutU64(out + 8 + 8 * i, fields[i]);
    out[96] = h.clustered ? 1 : 0;
    out[97] = h.internalCompression;
    out[98] = h.tileCompression;
    out[99] = h.tileType;
    out[100] = h.minZoom;
    out[101] = h.maxZoom;
    PutI32(out + 102, h.minLonE7);
    PutI32(out + 106, h.minLatE7);
    PutI32(out + 110, h.maxLonE7);
    PutI32(out + 114, h.maxLatE7);
    out[118] = h.centerZoom;
    PutI32(out + 119, h.centerLonE7);
    PutI32(out + 123, h.centerLatE7);
}

void EncodeDirectory(const Entry* entries, size_t count, std::vector<uint8_t>* out) {
    // Room for the longest varints, cut to what was written: a large
    // archive encodes tens of millions of them, without a length check a
    // byte.
    const size_t start = out->size();
    out->resize(start + 10 + count * 40);
    uint8_t* at = out->data() + start;
    at = PutVarint(at, count);
    uint64_t last = 0;
    for (size_t i = 0; i < count; ++i) {
        at = PutVarint(at, entries[i].tileId - last);
        last = entries[i].tileId;
    }
    for (size_t i = 0; i < count; ++i)
        at = PutVarint(at, entries[i].runLength);
    for (size_t i = 0; i < count; ++i)
        at = PutVarint(at, entries[i].length);
    for (size_t i = 0; i < count; ++i) {
        const bool follows = i > 0 && entries[i].offset == entries[i - 1].offset + entries[i - 1].length;
        at = PutVarint(at, follows ? 0 : entries[i].offset + 1);
    }
    out->resize(static_cast<size_t>(at - out->data()));
}

struct Gzipper::Stream {
    z_stream z{};
    bool ready = false;
};

Gzipper::Gzipper() : stream_(new Stream) {
    // 15 + 16: a gzip wrapper, which every reader of the format inflates.
    stream_->ready =
        deflateInit2(&stream_->z, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) == Z_OK;
}

Gzipper::~Gzipper() {
    if (stream_->ready)
        deflateEnd(&stream_->z);
    delete stream_;
}

std::string Gzipper::Compress(const uint8_t* bytes, size_t size, std::vector<uint8_t>* out) {
    z_stream& stream = stream_->z;
    if (!stream_->ready || deflateReset(&stream) != Z_OK)
        return "cannot start gzip compression";
    out->resize(deflateBound(&stream, static_cast<uLong>(size)) + 32);
    stream.next_in = const_cast<Bytef*>(bytes);
    stream.avail_in = static_cast<uInt>(size);
    stream.next_out = out->data();
    stream.avail_out = static_cast<uInt>(out->size());
    const int rc = deflate(&stream, Z_FINISH);
    out->resize(stream.total_out);
    return rc == Z_STREAM_END ? std::string() : "gzip compression failed";
}

std::string Gzip(const uint8_t* bytes, size_t size, std::vector<uint8_t>* out) {
    z_stream stream{};
    // 15 + 16: a gzip wrapper, which every reader of the format inflates.
    if (deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        return "cannot start gzip compression";
    out->resize(deflateBound(&stream, static_cast<uLong>(size)) + 32);
    stream.next_in = const_cast<Bytef*>(bytes);
    stream.avail_in = static_cast<uInt>(size);
    stream.next_out = out->data();
    stream.avail_out = static_cast<uInt>(out->size());
    const int rc = deflate(&stream, Z_FINISH);
    out->resize(stream.total_out);
    deflateEnd(&stream);
    return rc == Z_STREAM_END ? std::string() : "gzip compression failed";
}

std::string DecodeDirectory(const uint8_t* bytes, size_t size, std::vector<Entry>* entries) {
    entries->clear();
    VarintReader in(bytes, size);
    const uint64_t count = in.Next();
    // Each entry takes at least four bytes: this bounds the allocation by
    // what the file holds.
    if (in.Error().empty() && count > in.Left() / 4)
        return "it is too short for its " + std::to_string(count) + " entries";
    entries->resize(static_cast<size_t>(count));

    uint64_t id = 0;
    for (Entry& entry : *entries) {
        const uint64_t delta = in.Next();
        if (delta > std::numeric_limits<uint64_t>::max() - id)
            in.Fault("its tile ids overflow");
        id += delta;
        entry.tileId = id;
    }
    for (Entry& entry : *entries)
        entry.runLength = in.Next();
    for (Entry& entry : *entries)
        entry.length = in.Next();
    for (size_t i = 0; i < entries->size(); ++i) {
        Entry& entry = (*entries)[i];
        const uint64_t value = in.Next();
        if (value != 0) {
            entry.offset = value - 1;
            continue;
        }
        if (i == 0) {
            in.Fault("its first entry has no offset");
            break;
        }
        const Entry& previous = (*entries)[i - 1];
        if (!SectionEnd(previous.offset, previous.length, &entry.offset))
            in.Fault("its offsets overflow");
    }
    if (!in.Error().empty()) {
        entries->clear();
        return in.Error();
    }
    return {};
}

std::string Inflate(const uint8_t* bytes, size_t size, size_t limit, std::vector<uint8_t>* out) {
    out->clear();
    z_stream stream{};
    // 15 + 32: a gzip or a zlib header, whichever the data has.
    if (inflateInit2(&stream, 15 + 32) != Z_OK)
        return "cannot start gzip decompression";
    stream.next_in = const_cast<Bytef*>(bytes);
    stream.avail_in = static_cast<uInt>(size < std::numeric_limits<uInt>::max() ? size : std::numeric_limits<uInt>::max());
    size_t produced = 0;
    int rc = Z_OK;
    std::string error;
    while (rc == Z_OK) {
        if (produced == out->size()) {
            if (out->size() >= limit) {
                error = "it inflates to more than " + std::to_string(limit >> 20) + " MiB";
                break;
            }
            const size_t grown = out->size() < 4096 ? 16384 : out->size() * 2;
            out->resize(grown < limit ? grown : limit);
        }
        stream.next_out = out->data() + produced;
        const size_t room = out->size() - produced;
        stream.avail_out = static_cast<uInt>(room < std::numeric_limits<uInt>::max() ? room : std::numeric_limits<uInt>::max());
        const uInt before = stream.avail_out;
        rc = inflate(&stream, Z_NO_FLUSH);
        produced += before - stream.avail_out;
        if (rc == Z_BUF_ERROR && stream.avail_out != 0) {
            error = "its gzip data is cut short";
            break;
        }
        if (rc == Z_BUF_ERROR)
            rc = Z_OK;
    }
    if (error.empty() && rc != Z_STREAM_END)
        error = "its gzip data is damaged";
    inflateEnd(&stream);
    out->resize(produced);
    return error;
}

void TileIdToZxy(uint64_t id, uint32_t* z, uint32_t* x, uint32_t* y) {
    uint32_t zoom = 0;
    while (zoom < kMaxZoom && id >= FirstIdOfZoom(zoom + 1))
        ++zoom;
    uint64_t t = id - FirstIdOfZoom(zoom);
    uint32_t tx = 0;
    uint32_t ty = 0;
    // The Hilbert curve index back to a cell, level by level from the finest.
    for (uint64_t s = 1; s < (uint64_t{1} << zoom); s <<= 1) {
        const uint32_t rx = static_cast<uint32_t>(1 & (t >> 1));
        const uint32_t ry = static_cast<uint32_t>(1 & (t ^ rx));
        if (ry == 0) {
            if (rx == 1) {
                tx = static_cast<uint32_t>(s - 1 - tx);
                ty = static_cast<uint32_t>(s - 1 - ty);
            }
            const uint32_t swap = tx;
            tx = ty;
            ty = swap;
        }
        tx += static_cast<uint32_t>(s * rx);
        ty += static_cast<uint32_t>(s * ry);
        t >>= 2;
    }
    *z = zoom;
    *x = tx;
    *y = ty;
}

namespace {

// The curve's symmetries on a quadrant (x bit | y bit << 1): identity,
// transposition, anti-transposition and the half turn. Each level of the
// curve transposes its first quarter and anti-transposes its last.
constexpr uint8_t Apply(uint8_t symmetry, uint8_t quadrant) {
    const uint8_t x = quadrant & 1, y = quadrant >> 1;
    switch (symmetry) {
    case 1: return static_cast<uint8_t>(y | x << 1);
    case 2: return static_cast<uint8_t>((1 - y) | (1 - x) << 1);
    case 3: return static_cast<uint8_t>((1 - x) | (1 - y) << 1);
    default: return quadrant;
    }
}

// The symmetry of the sub-curve at curve digit `digit` inside a curve of
// symmetry `symmetry`: their composition.
constexpr uint8_t Compose(uint8_t symmetry, uint8_t digit) {
    const uint8_t inner = digit == 0 ? 1 : digit == 3 ? 2 : 0;
    for (uint8_t result = 0; result < 4; ++result) {
        bool same = true;
        for (uint8_t q = 0; q < 4; ++q)
            same = same && Apply(result, q) == Apply(symmetry, Apply(inner, q));
        if (same)
            return result;
    }
    return 0;
}

// Quadrant of each curve digit in a curve of no symmetry.
constexpr uint8_t kDigitQuadrant[4] = {0, 2, 3, 1}; // (0,0), (0,1), (1,1), (1,0)
// Plate letters by quadrant (x bit | y bit << 1), y from the top.
constexpr char kLetters[4] = {'q', 'r', 't', 's'};

struct Tables {
    char letter[4][4] = {};
    uint8_t next[4][4] = {};
    uint8_t digit[4][4] = {}; // the inverse of letter, by quadrant
};

constexpr Tables MakeTables() {
    Tables tables;
    for (uint8_t symmetry = 0; symmetry < 4; ++symmetry)
        for (uint8_t digit = 0; digit < 4; ++digit) {
            const uint8_t quadrant = Apply(symmetry, kDigitQuadrant[digit]);
            tables.letter[symmetry][digit] = kLetters[quadrant];
            tables.next[symmetry][digit] = Compose(symmetry, digit);
            tables.digit[symmetry][quadrant] = digit;
        }
    return tables;
}

constexpr Tables kTables = MakeTables();

// Four levels of the curve at once: by symmetry and the four x bits and
// four y bits of those levels (x in the low half), their four digits and
// the symmetry below them (bits 8 and 9).
struct FourLevels {
    uint16_t step[4][256] = {};
};

constexpr FourLevels MakeFourLevels() {
    FourLevels four;
    for (uint8_t symmetry = 0; symmetry < 4; ++symmetry)
        for (uint32_t bits = 0; bits < 256; ++bits) {
            uint8_t s = symmetry;
            uint32_t digits = 0;
            for (int level = 3; level >= 0; --level) {
                const uint8_t quadrant = static_cast<uint8_t>(((bits >> level) & 1) | ((bits >> (level + 4)) & 1) << 1);
                const uint8_t digit = kTables.digit[s][quadrant];
                digits = digits << 2 | digit;
                s = kTables.next[s][digit];
            }
            four.step[symmetry][bits] = static_cast<uint16_t>(digits | uint32_t{s} << 8);
        }
    return four;
}

constexpr FourLevels kFourLevels = MakeFourLevels();

} // namespace

uint64_t ZxyToTileId(uint32_t z, uint32_t x, uint32_t y) {
    // Down the levels from the top with table look-ups, four levels each
    // after the odd ones: a large copy does this for every plate, and the
    // branches of the arithmetic form mispredict on every other level.
    uint64_t position = 0;
    uint8_t symmetry = 0;
    uint32_t level = z;
    for (; level % 4 != 0; --level) {
        const uint8_t quadrant = static_cast<uint8_t>(((x >> (level - 1)) & 1) | ((y >> (level - 1)) & 1) << 1);
        const uint8_t digit = kTables.digit[symmetry][quadrant];
        position = position << 2 | digit;
        symmetry = kTables.next[symmetry][digit];
    }
    for (; level > 0; level -= 4) {
        const uint32_t bits = ((x >> (level - 4)) & 15) | ((y >> (level - 4)) & 15) << 4;
        const uint16_t step = kFourLevels.step[symmetry][bits];
        position = position << 8 | (step & 255);
        symmetry = static_cast<uint8_t>(step >> 8);
    }
    return FirstIdOfZoom(z) + position;
}

const char* TileNamer::Name(uint64_t id) {
    if (valid_ && id == id_ + 1 && id < zoomEnd_) {
        id_ = id;
        // Add one to the curve position; only the digits that changed and
        // those below them get new letters.
        uint32_t level = z_;
        while (digits_[level] == 3)
            digits_[level--] = 0;
        ++digits_[level];
        Redo(level);
        return name_;
    }
    uint32_t zoom = 0;
    while (zoom < kMaxZoom && id >= FirstIdOfZoom(zoom + 1))
        ++zoom;
    valid_ = true;
    id_ = id;
    z_ = zoom;
    zoomEnd_ = FirstIdOfZoom(zoom + 1);
    uint64_t position = id - FirstIdOfZoom(zoom);
    for (uint32_t level = zoom; level >= 1; --level) {
        digits_[level] = static_cast<uint8_t>(position & 3);
        position >>= 2;
    }
    name_[0] = 't';
    name_[zoom + 1] = '\0';
    orientation_[1] = 0;
    Redo(1);
    return name_;
}

void TileNamer::Redo(uint32_t fromLevel) {
    for (uint32_t level = fromLevel; level <= z_; ++level) {
        const uint8_t symmetry = orientation_[level];
        name_[level] = kTables.letter[symmetry][digits_[level]];
        orientation_[level + 1] = kTables.next[symmetry][digits_[level]];
    }
}

} // namespace pmtiles
