#include "plates/StorageMetadata.h"

#include "base/GeoBox.h"
#include "base/ImageFormat.h"
#include "base/Paths.h"
#include "base/PlateKey.h"
#include "base/Text.h"
#include "log/Errors.h"
#include "log/LastErrorKeeper.h"
#include "log/Log.h"
#include "plugins/Plugin.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {

using Json = nlohmann::ordered_json;

constexpr double kPi = 3.14159265358979323846;
constexpr double kEarthRadius = 6378137.0; // the Web-Mercator sphere
constexpr double kMaxMercatorLat = 85.0511287798066;
constexpr int kMetreDecimals = 6; // a micrometre: finer is the arithmetic's noise

const std::string* Find(const MetadataList& keys, std::string_view key)
{
    for (const auto& entry : keys)
        if (entry.first == key)
            return &entry.second;
    return nullptr;
}

void Set(MetadataList* keys, std::string_view key, std::string value)
{
    for (auto& entry : *keys)
        if (entry.first == key) {
            entry.second = std::move(value);
            return;
        }
    keys->emplace_back(std::string(key), std::move(value));
}

// Numbers separated by commas or blanks, in brackets or not ("[1, 2]" is how
// a TileJSON file writes what an MBTiles row writes "1,2").
std::vector<double> Numbers(std::string_view text)
{
    std::vector<double> out;
    std::string copy(text);
    for (char& c : copy)
        if (c == '[' || c == ']' || c == ',')
            c = ' ';
    const char* at = copy.c_str();
    for (;;) {
        char* end = nullptr;
        const double value = std::strtod(at, &end);
        if (end == at)
            break;
        if (!std::isfinite(value))
            return {};
        out.push_back(value);
        at = end;
    }
    while (*at == ' ')
        ++at;
    return *at == '\0' ? out : std::vector<double>{};
}

// Degrees and zooms written short: no trailing zeros, no exponent.
std::string Number(double value, int decimals = 10)
{
    char text[48];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    std::string out = text;
    out.erase(out.find_last_not_of('0') + 1);
    if (out.back() == '.')
        out.pop_back();
    return out == "-0" ? "0" : out;
}

std::string BoundsText(const std::array<double, 4>& b)
{
    return Number(b[0]) + "," + Number(b[1]) + "," + Number(b[2]) + "," + Number(b[3]);
}

std::string CenterText(const std::array<double, 3>& c)
{
    return Number(c[0]) + "," + Number(c[1]) + "," + Number(std::round(c[2]));
}

std::optional<std::array<double, 4>> ParseBounds(std::string_view text)
{
    const std::vector<double> n = Numbers(text);
    if (n.size() != 4 || n[0] > n[2] || n[1] > n[3] || std::fabs(n[0]) > 180 || std::fabs(n[2]) > 180 ||
        std::fabs(n[1]) > 90 || std::fabs(n[3]) > 90)
        return std::nullopt;
    return std::array<double, 4>{n[0], n[1], n[2], n[3]};
}

std::optional<std::array<double, 3>> ParseCenter(std::string_view text)
{
    const std::vector<double> n = Numbers(text);
    if (n.size() < 2 || n.size() > 3 || std::fabs(n[0]) > 180 || std::fabs(n[1]) > 90)
        return std::nullopt;
    return std::array<double, 3>{n[0], n[1], n.size() == 3 ? n[2] : 0.0};
}

int ParseZoom(std::string_view text)
{
    const std::vector<double> n = Numbers(text);
    return n.size() == 1 && n[0] >= 0 && n[0] <= 40 && n[0] == std::floor(n[0]) ? static_cast<int>(n[0]) : -1;
}

double MetersToLon(double x) { return x / kEarthRadius * 180 / kPi; }
double MetersToLat(double y) { return std::atan(std::sinh(y / kEarthRadius)) * 180 / kPi; }
double LonToMeters(double lon) { return lon * kPi / 180 * kEarthRadius; }
double LatToMeters(double lat)
{
    lat = std::clamp(lat, -kMaxMercatorLat, kMaxMercatorLat);
    return std::log(std::tan(kPi / 4 + lat * kPi / 360)) * kEarthRadius;
}

// A box in an SRS: degrees for EPSG:4326, Web-Mercator meters for 3857 and
// its old names; a box whose numbers all lie within degrees is taken as
// degrees whatever it names (a tile tree's description often does so).
std::optional<std::array<double, 4>> BoxToDegrees(std::array<double, 4> box, std::string_view srs)
{
    const bool degrees = std::fabs(box[0]) <= 180 && std::fabs(box[2]) <= 180 && std::fabs(box[1]) <= 90 &&
                         std::fabs(box[3]) <= 90;
    const bool mercator = srs.find("3857") != std::string_view::npos || srs.find("900913") != std::string_view::npos ||
                          srs.find("3785") != std::string_view::npos;
    if (!degrees && mercator)
        box = {MetersToLon(box[0]), MetersToLat(box[1]), MetersToLon(box[2]), MetersToLat(box[3])};
    else if (!degrees)
        return std::nullopt;
    return ParseBounds(BoundsText(box));
}

// MBTiles names picture formats by extension, PMTiles by its tile type.
std::string FormatOfTileType(std::string_view type)
{
    if (type == "mvt")
        return "pbf";
    if (type == "png" || type == "jpg" || type == "webp" || type == "avif")
        return std::string(type);
    return {};
}

// Keys that describe a format's own bookkeeping, not the tiles: they mean
// nothing in another format.
bool TileJsonBookkeeping(std::string_view key)
{
    return key == "tilejson" || key == "tiles" || key == "scheme" || key == "grids" || key == "data";
}

// The source's keys in the common (MBTiles) terms.
MetadataList ToCommon(const MetadataList& source, MetadataDialect from)
{
    MetadataList common;
    switch (from) {
    case MetadataDialect::MBTiles:
        return source;
    case MetadataDialect::PMTiles: {
        Json json = Json::object();
        for (const auto& [key, value] : source) {
            if (key == "header.bounds")
                Set(&common, "bounds", value);
            else if (key == "header.center")
                Set(&common, "center", value);
            else if (key == "header.min_zoom")
                Set(&common, "minzoom", value);
            else if (key == "header.max_zoom")
                Set(&common, "maxzoom", value);
            else if (key == "header.tile_type") {
                if (std::string format = FormatOfTileType(value); !format.empty())
                    Set(&common, "format", format);
            } else if (key.starts_with("header."))
                continue;
            else if (key == "vector_layers" || key == "tilestats") {
                // MBTiles keeps them in its "json" row.
                Json value_ = Json::parse(value, nullptr, false);
                if (!value_.is_discarded())
                    json[key] = std::move(value_);
            } else if (key == "format" && Find(common, "format")) {
                continue; // the header's tile type says it for sure
            } else
                Set(&common, key, value);
        }
        if (!json.empty())
            Set(&common, "json", json.dump(-1, ' ', false, Json::error_handler_t::replace));
        return common;
    }
    case MetadataDialect::GeoPackage: {
        const std::string* srs = Find(source, "gpkg_contents.srs_id");
        const std::string* box[4] = {Find(source, "gpkg_contents.min_x"), Find(source, "gpkg_contents.min_y"),
                                     Find(source, "gpkg_contents.max_x"), Find(source, "gpkg_contents.max_y")};
        if (const std::string* name = Find(source, "gpkg_contents.identifier"); name && !name->empty())
            Set(&common, "name", *name);
        else if (const std::string* table = Find(source, "gpkg_contents.table_name"))
            Set(&common, "name", *table);
        if (const std::string* text = Find(source, "gpkg_contents.description"); text && !text->empty())
            Set(&common, "description", *text);
        if (box[0] && box[1] && box[2] && box[3]) {
            std::array<double, 4> numbers{};
            bool ok = true;
            for (int i = 0; i < 4; ++i) {
                const std::vector<double> n = Numbers(*box[i]);
                ok = ok && n.size() == 1;
                numbers[static_cast<std::size_t>(i)] = ok ? n[0] : 0;
            }
            if (ok)
                if (auto degrees = BoxToDegrees(numbers, srs ? *srs : "3857"))
                    Set(&common, "bounds", BoundsText(*degrees));
        }
        if (const std::string* levels = Find(source, "gpkg_tile_matrix.zoom_level")) {
            const std::vector<double> n = Numbers(*levels);
            if (!n.empty()) {
                Set(&common, "minzoom", Number(*std::min_element(n.begin(), n.end())));
                Set(&common, "maxzoom", Number(*std::max_element(n.begin(), n.end())));
            }
        }
        // Keys of no table (GDAL's metadata items) are common terms, but
        // for GDAL's note of how its raster's pixels are placed.
        for (const auto& [key, value] : source)
            if (!key.starts_with("gpkg_") && key != "AREA_OR_POINT")
                Set(&common, key, value);
        return common;
    }
    case MetadataDialect::Folder: {
        const std::string* srs = Find(source, "tilemapresource.srs");
        for (const auto& [key, value] : source) {
            if (key == "tilemapresource.title")
                Set(&common, "name", value);
            else if (key == "tilemapresource.abstract")
                Set(&common, "description", value);
            else if (key == "tilemapresource.bounding_box") {
                const std::vector<double> n = Numbers(value);
                if (n.size() == 4)
                    if (auto degrees = BoxToDegrees({n[0], n[1], n[2], n[3]}, srs ? *srs : ""))
                        Set(&common, "bounds", BoundsText(*degrees));
            } else if (key == "tilemapresource.tile_format")
                Set(&common, "format", value == "jpeg" ? "jpg" : value);
            else if (key == "tilemapresource.zoom_levels") {
                const std::vector<double> n = Numbers(value);
                if (!n.empty()) {
                    Set(&common, "minzoom", Number(*std::min_element(n.begin(), n.end())));
                    Set(&common, "maxzoom", Number(*std::max_element(n.begin(), n.end())));
                }
            } else if (key.starts_with("tilemapresource.") || TileJsonBookkeeping(key))
                continue;
            else if (key == "vector_layers" || key == "tilestats") {
                Json json = Json::object();
                if (const std::string* had = Find(common, "json"))
                    json = Json::parse(*had, nullptr, false);
                Json value_ = Json::parse(value, nullptr, false);
                if (json.is_object() && !value_.is_discarded()) {
                    json[key] = std::move(value_);
                    Set(&common, "json", json.dump(-1, ' ', false, Json::error_handler_t::replace));
                }
            } else if (key == "bounds") {
                if (auto b = ParseBounds(value))
                    Set(&common, key, BoundsText(*b));
            } else if (key == "center") {
                if (auto c = ParseCenter(value))
                    Set(&common, key, CenterText(*c));
            } else
                Set(&common, key, value); // metadata.json: MBTiles rows as a tile tree keeps them
        }
        return common;
    }
    }
    return common;
}

} // namespace

MetadataDialect DialectOfKeys(const MetadataList& keys)
{
    for (const auto& entry : keys) {
        if (entry.first.starts_with("header."))
            return MetadataDialect::PMTiles;
        if (entry.first.starts_with("gpkg_"))
            return MetadataDialect::GeoPackage;
        if (entry.first.starts_with("tilemapresource.") || entry.first == "tilejson")
            return MetadataDialect::Folder;
    }
    return MetadataDialect::MBTiles;
}

MetadataDialect DialectOfExtension(std::string_view extension)
{
    if (extension == "pmtiles")
        return MetadataDialect::PMTiles;
    if (extension == "gpkg")
        return MetadataDialect::GeoPackage;
    // A bucket's tree keeps a folder's metadata.json.
    if (extension.empty() || extension.starts_with("s3,") || extension == "s3")
        return MetadataDialect::Folder;
    return MetadataDialect::MBTiles;
}

MetadataFields InterpretMetadata(const MetadataList& keys, MetadataDialect dialect)
{
    const MetadataList common = ToCommon(keys, dialect);
    MetadataFields fields;
    for (const auto& [key, value] : common) {
        if (key == "name")
            fields.name = value;
        else if (key == "description")
            fields.description = value;
        else if (key == "attribution")
            fields.attribution = value;
        else if (key == "format")
            fields.format = value;
        else if (key == "bounds")
            fields.bounds = ParseBounds(value);
        else if (key == "center")
            fields.center = ParseCenter(value);
        else if (key == "minzoom")
            fields.minZoom = ParseZoom(value);
        else if (key == "maxzoom")
            fields.maxZoom = ParseZoom(value);
        else if (key == "tile_size" || key == "tilesize")
            fields.tileSize = std::max(0, std::atoi(value.c_str()));
    }
    if (dialect == MetadataDialect::Folder)
        if (const std::string* size = Find(keys, "tilemapresource.tile_size"))
            fields.tileSize = std::max(0, std::atoi(size->c_str()));
    return fields;
}

MetadataList TranslateMetadata(const MetadataList& source, MetadataDialect from, MetadataDialect into,
                               const MetadataFields& changed)
{
    MetadataList common = ToCommon(source, from);
    // What the copy changed; a text that says the same stays as written.
    const auto replace = [&](std::string_view key, const std::string& value, auto parse) {
        if (const std::string* had = Find(common, key); had && parse(*had) == parse(value))
            return;
        Set(&common, key, value);
    };
    if (changed.bounds)
        replace("bounds", BoundsText(*changed.bounds), [](const std::string& t) {
            auto b = ParseBounds(t);
            return b ? BoundsText(*b) : std::string();
        });
    if (changed.center)
        replace("center", CenterText(*changed.center), [](const std::string& t) {
            auto c = ParseCenter(t);
            return c ? CenterText(*c) : std::string();
        });
    if (changed.minZoom >= 0)
        replace("minzoom", std::to_string(changed.minZoom), ParseZoom);
    if (changed.maxZoom >= 0)
        replace("maxzoom", std::to_string(changed.maxZoom), ParseZoom);
    if (!changed.format.empty())
        Set(&common, "format", changed.format);
    if (!Find(common, "name") && !changed.name.empty())
        Set(&common, "name", changed.name);

    MetadataList out;
    switch (into) {
    case MetadataDialect::MBTiles:
    case MetadataDialect::Folder:
        return common;
    case MetadataDialect::PMTiles:
        for (const auto& [key, value] : common) {
            if (key == "minzoom" || key == "maxzoom")
                continue; // the header's zooms come from the tiles
            if (key == "json") {
                // vector_layers and the like are members of the JSON metadata.
                const Json json = Json::parse(value, nullptr, false);
                if (json.is_object()) {
                    for (const auto& [member, inner] : json.items())
                        Set(&out, member, inner.dump(-1, ' ', false, Json::error_handler_t::replace));
                    continue;
                }
            }
            Set(&out, key, value);
        }
        return out;
    case MetadataDialect::GeoPackage:
        for (const auto& [key, value] : common) {
            if (key == "name")
                Set(&out, "gpkg_contents.identifier", value);
            else if (key == "description")
                Set(&out, "gpkg_contents.description", value);
            else if (key == "bounds") {
                // The copy's own numbers, not their ten-decimal text: a
                // ten-billionth of a degree is micrometres near the poles.
                if (auto b = changed.bounds ? changed.bounds : ParseBounds(value)) {
                    Set(&out, "gpkg_contents.min_x", Number(LonToMeters((*b)[0]), kMetreDecimals));
                    Set(&out, "gpkg_contents.min_y", Number(LatToMeters((*b)[1]), kMetreDecimals));
                    Set(&out, "gpkg_contents.max_x", Number(LonToMeters((*b)[2]), kMetreDecimals));
                    Set(&out, "gpkg_contents.max_y", Number(LatToMeters((*b)[3]), kMetreDecimals));
                }
            } else if (key != "minzoom" && key != "maxzoom" && key != "format" && key.compare(0, 5, "gpkg_") != 0)
                Set(&out, key, value); // attribution, type, ...: items of GDAL's metadata document
            // Zooms and format are the tile matrix's and the tiles'.
        }
        return out;
    }
    return common;
}

void CopiedExtent::Add(std::string_view plate, const void* data, uint32_t size)
{
    if (const std::optional<PlateKey::Tile> tile = PlateKey(plate).ToTile())
        AddTile(*tile, data, size);
}

void CopiedExtent::AddPacked(uint64_t letters, int length, const void* data, uint32_t size)
{
    // A quadtree key starts with 't' (3); q r s t are 0 1 2 3.
    if (length < 1 || length > PlateKey::kMaxQuadtreeLevel || (letters & 3) != 3)
        return;
    PlateKey::Tile tile;
    tile.z = length - 1;
    for (int i = 1; i < length; ++i) {
        const auto letter = static_cast<uint32_t>(letters >> (2 * i)) & 3;
        tile.x = tile.x << 1 | ((0b0110u >> letter) & 1u); // r and s lie right
        tile.y = tile.y << 1 | (letter >> 1);              // s and t lie below
    }
    AddTile(tile, data, size);
}

void CopiedExtent::AddTile(const PlateKey::Tile& tile, const void* data, uint32_t size)
{
    // Whole plates of each zoom, made fractions of the world once in Apply.
    Span& span = spans_[tile.z];
    span.minX = std::min(span.minX, tile.x);
    span.maxX = std::max(span.maxX, tile.x);
    span.minY = std::min(span.minY, tile.y);
    span.maxY = std::max(span.maxY, tile.y);
    minZoom_ = minZoom_ < 0 ? tile.z : std::min(minZoom_, tile.z);
    maxZoom_ = std::max(maxZoom_, tile.z);
    if (size == 0 || format_ == -2)
        return;
    const int format = static_cast<int>(SniffImageFormat(data, size));
    if (format_ != format)
        format_ = format_ == -1 ? format : -2;
}

void CopiedExtent::Apply(MetadataFields* fields, bool whole) const
{
    if (Empty())
        return;
    fields->minZoom = minZoom_;
    fields->maxZoom = maxZoom_;
    if (format_ >= 0) {
        switch (static_cast<ImageFormat>(format_)) {
        case ImageFormat::Png: fields->format = "png"; break;
        case ImageFormat::Jpeg: fields->format = "jpg"; break;
        case ImageFormat::Webp: fields->format = "webp"; break;
        default: break; // vector tiles and the like: as the source says
        }
    }
    if (whole && fields->bounds)
        return;
    double west = 1, east = 0, north = 1, south = 0; // fractions of the world, rows from the top
    for (int zoom = minZoom_; zoom <= maxZoom_; ++zoom) {
        const Span& span = spans_[zoom];
        if (span.minX > span.maxX)
            continue;
        const double scale = std::ldexp(1.0, -zoom);
        west = std::min(west, span.minX * scale);
        east = std::max(east, (span.maxX + 1.0) * scale);
        north = std::min(north, span.minY * scale);
        south = std::max(south, (span.maxY + 1.0) * scale);
    }
    fields->bounds = std::array<double, 4>{LonOfTileX(west, 0), LatOfTileY(south, 0), LonOfTileX(east, 0),
                                           LatOfTileY(north, 0)};
    const auto& b = *fields->bounds;
    const double zoom = fields->center ? std::clamp<double>((*fields->center)[2], minZoom_, maxZoom_) : minZoom_;
    const bool inside = fields->center && (*fields->center)[0] >= b[0] && (*fields->center)[0] <= b[2] &&
                        (*fields->center)[1] >= b[1] && (*fields->center)[1] <= b[3];
    if (!inside)
        fields->center = std::array<double, 3>{(b[0] + b[2]) / 2, (b[1] + b[3]) / 2, zoom};
    else
        (*fields->center)[2] = zoom;
}

int CopyStorageMetadata(StorageAction& from, StorageAction& into, const CopiedExtent& extent, bool whole)
{
    if (!from.HasMetadata() || !into.CanWriteMetadata())
        return 0;
    LastErrorKeeper keep; // the copy's own errors stay what it reports
    MetadataList source;
    MetadataList target;
    if (from.ReadMetadata(&source) == Failed) {
        Log("Cannot read the metadata of %s: %s", from.StoragePath().c_str(), ErrorText(kCurrentError).c_str());
        source.clear();
    }
    if (into.ReadMetadata(&target) == Failed)
        return 0;
    // A tree's metadata.json holds MBTiles rows beside the tree's own keys:
    // only the plugin tells it from an MBTiles file.
    MetadataDialect from_ = DialectOfKeys(source);
    if (from_ == MetadataDialect::MBTiles)
        from_ = DialectOfExtension(from.Extension());
    const MetadataDialect into_ = DialectOfExtension(into.Extension());
    MetadataFields changed = InterpretMetadata(source, from_);
    extent.Apply(&changed, whole);
    if (changed.name.empty()) {
        // MBTiles requires a name: the source's file name says it best.
        std::string name(LastComponent(from.StoragePath()));
        if (const std::size_t dot = name.rfind('.'); dot != std::string::npos && dot > 0)
            name.resize(dot);
        changed.name = name;
    }
    int kept = 0;
    for (const auto& [key, value] : TranslateMetadata(source, from_, into_, changed)) {
        // The target's own keys stay as they are.
        if (Find(target, key))
            continue;
        if (into.WriteMetadata(key.c_str(), value.c_str()) != Done) {
            Log("Metadata key %s not kept in %s: %s", key.c_str(), into.StoragePath().c_str(),
                ErrorText(kCurrentError).c_str());
            continue;
        }
        ++kept;
    }
    if (kept > 0)
        Log("Metadata keys copied: %d", kept);
    return kept;
}
