#pragma once
// The pixel size of a tile image, read from its header alone: a new zoom
// level of a pyramid is described with the size of the tiles stored into it.
// PNG, JPEG and WebP, the image formats a GeoPackage holds. Shared by the
// plugins that describe a pyramid by its tiles.

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace image_size {

struct ImageSize {
    uint32_t width = 0;
    uint32_t height = 0;
};

namespace image_size_detail {

inline uint32_t Big16(const unsigned char* p) { return uint32_t{p[0]} << 8 | p[1]; }
inline uint32_t Big32(const unsigned char* p) { return Big16(p) << 16 | Big16(p + 2); }
inline uint32_t Little16(const unsigned char* p) { return uint32_t{p[1]} << 8 | p[0]; }
inline uint32_t Little24(const unsigned char* p) { return uint32_t{p[2]} << 16 | Little16(p); }
inline uint32_t Little32(const unsigned char* p) { return uint32_t{p[3]} << 24 | Little24(p); }

inline bool Jpeg(const unsigned char* p, size_t size, ImageSize* out) {
    size_t i = 2;
    while (i + 4 <= size) {
        if (p[i] != 0xFF)
            return false;
        const unsigned char marker = p[i + 1];
        if (marker == 0xFF) { // fill byte
            ++i;
            continue;
        }
        // Markers without a length: TEM and the restart markers.
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {
            i += 2;
            continue;
        }
        const size_t length = Big16(p + i + 2);
        // Start of frame: every SOFn but DHT (C4), JPG (C8) and DAC (CC).
        if (marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC) {
            if (i + 9 > size)
                return false;
            *out = {Big16(p + i + 7), Big16(p + i + 5)};
            return true;
        }
        if (marker == 0xDA || length < 2) // the scan starts: no frame header came
            return false;
        i += 2 + length;
    }
    return false;
}

inline bool Webp(const unsigned char* p, size_t size, ImageSize* out) {
    if (size < 30)
        return false;
    const unsigned char* chunk = p + 12;
    if (std::memcmp(chunk, "VP8 ", 4) == 0) {
        // A key frame: 3 bytes of frame tag, the start code, then the sizes.
        if (p[23] != 0x9D || p[24] != 0x01 || p[25] != 0x2A)
            return false;
        *out = {Little16(p + 26) & 0x3FFF, Little16(p + 28) & 0x3FFF};
        return true;
    }
    if (std::memcmp(chunk, "VP8L", 4) == 0) {
        if (p[20] != 0x2F)
            return false;
        const uint32_t bits = Little32(p + 21);
        *out = {(bits & 0x3FFF) + 1, ((bits >> 14) & 0x3FFF) + 1};
        return true;
    }
    if (std::memcmp(chunk, "VP8X", 4) == 0) {
        *out = {Little24(p + 24) + 1, Little24(p + 27) + 1};
        return true;
    }
    return false;
}

} // namespace image_size_detail

// False when the data is none of the three formats or its header is cut.
inline bool ReadImageSize(const void* data, size_t size, ImageSize* out) {
    namespace d = image_size_detail;
    const auto* p = static_cast<const unsigned char*>(data);
    if (!p)
        return false;
    if (size >= 24 && std::memcmp(p, "\x89PNG\r\n\x1a\n", 8) == 0 && std::memcmp(p + 12, "IHDR", 4) == 0) {
        *out = {d::Big32(p + 16), d::Big32(p + 20)};
        return true;
    }
    if (size >= 4 && p[0] == 0xFF && p[1] == 0xD8 && p[2] == 0xFF)
        return d::Jpeg(p, size, out);
    if (size >= 12 && std::memcmp(p, "RIFF", 4) == 0 && std::memcmp(p + 8, "WEBP", 4) == 0)
        return d::Webp(p, size, out);
    return false;
}

// Whether the data is a WebP image, which a GeoPackage holds only with the
// WebP extension registered.
inline bool IsWebp(const void* data, size_t size) {
    const auto* p = static_cast<const unsigned char*>(data);
    return p && size >= 12 && std::memcmp(p, "RIFF", 4) == 0 && std::memcmp(p + 8, "WEBP", 4) == 0;
}

} // namespace image_size
