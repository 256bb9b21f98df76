// A PMTiles archive's description through the metadata extension.
//
// Read: the header's fields first, as "header.*" keys (min_zoom, max_zoom,
// bounds "west,south,east,north", center "longitude,latitude,zoom",
// tile_type, tile_compression, addressed_tiles, tile_entries, tile_contents,
// clustered), then the members of the JSON metadata in their order, a string
// as it is and any other value as its JSON text.
//
// Written, only into a new archive (an existing one is written whole by
// someone else): "bounds" and "center" (or "header.bounds", "header.center")
// set the header's fields as the format's own converter does with an
// MBTiles file's rows; every other key becomes a member of the JSON
// metadata, an object or array value (vector_layers, tilestats) as JSON.
// The header's zooms, tile type and counts come from the tiles written.
#include "pmtiles_storage.h"

#include <nlohmann/json.hpp>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string_view>

namespace pmtiles {

namespace {

using Json = nlohmann::ordered_json;

// Degrees as the header holds them: seven decimals at most.
std::string Degrees(double degrees) {
    char text[32];
    std::snprintf(text, sizeof text, "%.7f", degrees);
    std::string out = text;
    out.erase(out.find_last_not_of('0') + 1);
    if (out.back() == '.')
        out.pop_back();
    return out == "-0" ? "0" : out;
}

const char* TileTypeName(uint8_t type) {
    switch (type) {
    case 1: return "mvt";
    case 2: return "png";
    case 3: return "jpg";
    case 4: return "webp";
    case 5: return "avif";
    case 6: return "mlt";
    default: return "unknown";
    }
}

std::string Degrees(int32_t e7) { return Degrees(e7 / 10000000.0); }

std::string CompressionKey(uint8_t compression) {
    switch (compression) {
    case kNone: return "none";
    case kGzip: return "gzip";
    case kBrotli: return "brotli";
    case kZstd: return "zstd";
    default: return "unknown";
    }
}

// Up to `most` numbers separated by commas; false for anything else.
bool ParseNumbers(const char* text, size_t least, size_t most, double* out, size_t* count) {
    *count = 0;
    const char* at = text;
    while (*count < most) {
        char* end = nullptr;
        const double value = std::strtod(at, &end);
        if (end == at || !std::isfinite(value))
            return false;
        out[(*count)++] = value;
        while (*end == ' ')
            ++end;
        if (*end == '\0')
            return *count >= least;
        if (*end != ',')
            return false;
        at = end + 1;
    }
    return false;
}

// The JSON text of a member's value: keys the format defines as strings
// stay strings; an object or array given as text is kept as such.
std::string MemberValue(std::string_view key, const char* value) {
    static constexpr std::string_view kStrings[] = {"name",    "description", "attribution", "type",
                                                    "version", "encoding",    "format"};
    bool text = false;
    for (const std::string_view name : kStrings)
        text = text || key == name;
    if (!text && (*value == '{' || *value == '[')) {
        const Json parsed = Json::parse(value, nullptr, false);
        if (!parsed.is_discarded())
            return parsed.dump(-1, ' ', false, Json::error_handler_t::replace);
    }
    return Json(value).dump(-1, ' ', false, Json::error_handler_t::replace);
}

// The value as the reader reports it: a string as it is, anything else as
// its JSON text.
std::string ReportedValue(const Json& value) {
    return value.is_string() ? value.get<std::string>() : value.dump(-1, ' ', false, Json::error_handler_t::replace);
}

} // namespace

uint32_t Storage::ReadMetadata(MetadataCallback callback, void* cookie) {
    if (!source_ && !newArchive_)
        return Fail("The storage is not open");
    std::vector<std::pair<std::string, std::string>> keys;
    if (newArchive_) {
        const ArchiveWriter::Description& d = description_;
        if (d.hasBounds)
            keys.emplace_back("header.bounds", Degrees(d.bounds[0]) + "," + Degrees(d.bounds[1]) + "," +
                                                   Degrees(d.bounds[2]) + "," + Degrees(d.bounds[3]));
        if (d.hasCenter)
            keys.emplace_back("header.center", Degrees(d.center[0]) + "," + Degrees(d.center[1]) + "," +
                                                   std::to_string(static_cast<int>(d.center[2])));
        for (const auto& [key, value] : d.members)
            keys.emplace_back(key, ReportedValue(Json::parse(value, nullptr, false)));
    } else {
        const Header& h = header_;
        keys = {{"header.min_zoom", std::to_string(h.minZoom)},
                {"header.max_zoom", std::to_string(h.maxZoom)},
                {"header.bounds", Degrees(h.minLonE7) + "," + Degrees(h.minLatE7) + "," + Degrees(h.maxLonE7) + "," +
                                      Degrees(h.maxLatE7)},
                {"header.center",
                 Degrees(h.centerLonE7) + "," + Degrees(h.centerLatE7) + "," + std::to_string(h.centerZoom)},
                {"header.tile_type", TileTypeName(h.tileType)},
                {"header.tile_compression", CompressionKey(h.tileCompression)},
                {"header.addressed_tiles", std::to_string(h.addressedTiles)},
                {"header.tile_entries", std::to_string(h.tileEntries)},
                {"header.tile_contents", std::to_string(h.tileContents)},
                {"header.clustered", h.clustered ? "true" : "false"}};
        if (h.metadataLength > 0) {
            if (h.metadataLength > kMaxDirectoryBytes)
                return Fail("The JSON metadata is larger than " + std::to_string(kMaxDirectoryBytes >> 20) + " MiB");
            std::vector<uint8_t> raw(static_cast<size_t>(h.metadataLength));
            std::vector<uint8_t> inflated;
            std::string error;
            if (!ReadAt(h.metadataOffset, raw.size(), raw.data(), &error))
                return Fail(std::move(error));
            const std::vector<uint8_t>* text = &raw;
            if (h.internalCompression == kGzip) {
                if (error = Inflate(raw.data(), raw.size(), kMaxDirectoryBytes, &inflated); !error.empty())
                    return Fail("Bad JSON metadata: " + error);
                text = &inflated;
            }
            const Json json = Json::parse(text->begin(), text->end(), nullptr, false);
            if (json.is_discarded() || !json.is_object())
                return Fail("Bad JSON metadata: not a JSON object");
            for (const auto& [key, value] : json.items())
                if (!key.empty())
                    keys.emplace_back(key, ReportedValue(value));
        }
    }
    for (const auto& [key, value] : keys)
        if (!callback(cookie, key.c_str(), value.c_str()))
            return Aborted;
    return keys.empty() ? Empty : Done;
}

uint32_t Storage::WriteMetadata(const char* key, const char* value) {
    if (!source_ && !newArchive_)
        return Fail("The storage is not open");
    if (!newArchive_)
        return Fail("A PMTiles archive is written whole: the metadata of an existing archive cannot be changed");
    const std::string_view name(key);
    ArchiveWriter::Description& d = description_;
    if (name == "bounds" || name == "header.bounds" || name == "center" || name == "header.center") {
        const bool bounds = name.back() == 's';
        bool& has = bounds ? d.hasBounds : d.hasCenter;
        if (!value) {
            const bool had = has;
            has = false;
            return had ? Done : Empty;
        }
        double numbers[4] = {};
        size_t count = 0;
        if (!ParseNumbers(value, bounds ? 4 : 2, bounds ? 4 : 3, numbers, &count))
            return Fail(std::string(key) + " takes " +
                        (bounds ? "west,south,east,north in degrees" : "longitude,latitude[,zoom] in degrees") +
                        ", not \"" + value + "\"");
        const bool inRange = bounds ? std::fabs(numbers[0]) <= 180 && std::fabs(numbers[2]) <= 180 &&
                                          std::fabs(numbers[1]) <= 90 && std::fabs(numbers[3]) <= 90 &&
                                          numbers[1] <= numbers[3]
                                    : std::fabs(numbers[0]) <= 180 && std::fabs(numbers[1]) <= 90 &&
                                          numbers[2] >= 0 && numbers[2] <= kMaxZoom;
        if (!inRange)
            return Fail(std::string(key) + " \"" + value + "\" lies outside the world");
        if (bounds)
            std::memcpy(d.bounds, numbers, sizeof d.bounds);
        else
            std::memcpy(d.center, numbers, sizeof d.center);
        has = true;
        return Done;
    }
    if (name.substr(0, 7) == "header." || name == "minzoom" || name == "maxzoom")
        return Fail("The archive's " + std::string(key) + " is set from the tiles written");
    auto& members = d.members;
    for (auto member = members.begin(); member != members.end(); ++member) {
        if (member->first != name)
            continue;
        if (!value) {
            members.erase(member);
            return Done;
        }
        member->second = MemberValue(name, value);
        return Done;
    }
    if (!value)
        return Empty;
    members.emplace_back(key, MemberValue(name, value));
    return Done;
}

} // namespace pmtiles
