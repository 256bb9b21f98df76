// What a compact cache says of itself through the metadata extension. Its
// bundles keep no description, so only what its files show is reported, in
// the common (MBTiles) terms: "format" (png, jpg or webp) and "tile_size"
// (pixels) of its first tile, "minzoom" and "maxzoom" of its level
// folders. Nothing is written: the cache is read only, and the servers that
// own it rewrite its folder as they see fit (a file of ours beside the
// levels would not survive, nor be read by them).
#include "compact_storage.h"

#include "image_size.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace compact {

namespace {

const char* FormatOf(const unsigned char* d, uint32_t n) {
    if (n >= 8 && std::memcmp(d, "\x89PNG\r\n\x1a\n", 8) == 0)
        return "png";
    if (n >= 3 && d[0] == 0xFF && d[1] == 0xD8 && d[2] == 0xFF)
        return "jpg";
    if (n >= 12 && std::memcmp(d, "RIFF", 4) == 0 && std::memcmp(d + 8, "WEBP", 4) == 0)
        return "webp";
    return nullptr;
}

uint32_t ULMORA_CALL KeepFirst(void* found, int32_t, const char* name, uint32_t, uint32_t) {
    *static_cast<std::string*>(found) = name;
    return 0;
}

} // namespace

uint32_t Storage::ReadMetadata(MetadataCallback callback, void* cookie) {
    if (baseFd_ < 0)
        return Fail("The storage is not open");
    std::vector<std::pair<std::string, std::string>> keys;
    // The first tile listed tells the picture format and the tile size.
    std::string first;
    const uint32_t listed = Enumerate(&KeepFirst, &first);
    if (listed == Failed)
        return Failed;
    if (!first.empty()) {
        const void* data = nullptr;
        uint32_t size = 0;
        if (GetPlateData(first.c_str(), &data, &size) != Done)
            return Failed;
        const auto* bytes = static_cast<const unsigned char*>(data);
        if (const char* format = FormatOf(bytes, size))
            keys.emplace_back("format", format);
        image_size::ImageSize image;
        if (image_size::ReadImageSize(data, size, &image) && image.width == image.height)
            keys.emplace_back("tile_size", std::to_string(image.width));
    }
    if (!levels_.empty()) {
        const auto [low, high] = std::minmax_element(levels_.begin(), levels_.end(),
                                                     [](const Level& a, const Level& b) { return a.zoom < b.zoom; });
        keys.emplace_back("minzoom", std::to_string(low->zoom));
        keys.emplace_back("maxzoom", std::to_string(high->zoom));
    }
    for (const auto& [key, value] : keys)
        if (!callback(cookie, key.c_str(), value.c_str()))
            return Aborted;
    return keys.empty() ? Empty : Done;
}

} // namespace compact
