#include "base/GeoBox.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <numbers>

namespace {

constexpr double kMaxLat = 85.05112877980659;

} // namespace

double TileXOf(double lon, int z) { return (lon + 180.0) / 360.0 * std::ldexp(1.0, z); }

double TileYOf(double lat, int z)
{
    lat = std::clamp(lat, -kMaxLat, kMaxLat) * std::numbers::pi / 180.0;
    return (1.0 - std::asinh(std::tan(lat)) / std::numbers::pi) / 2.0 * std::ldexp(1.0, z);
}

double LonOfTileX(double x, int z) { return x / std::ldexp(1.0, z) * 360.0 - 180.0; }

double LatOfTileY(double y, int z)
{
    return std::atan(std::sinh(std::numbers::pi * (1.0 - 2.0 * y / std::ldexp(1.0, z)))) * 180.0 / std::numbers::pi;
}

std::optional<GeoBox> GeoBox::Parse(std::string_view text, bool* numbers)
{
    if (numbers != nullptr)
        *numbers = false;
    double values[4];
    std::string_view rest = text;
    for (int i = 0; i < 4; ++i) {
        const std::size_t comma = rest.find(',');
        const std::string part(rest.substr(0, comma));
        char* end = nullptr;
        values[i] = std::strtod(part.c_str(), &end);
        if (part.empty() || end != part.c_str() + part.size() || (i < 3) == (comma == std::string_view::npos) ||
            !std::isfinite(values[i]))
            return std::nullopt;
        rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
    }
    if (numbers != nullptr)
        *numbers = true;
    const GeoBox box{values[0], values[1], values[2], values[3]};
    if (box.west < -180 || box.east > 180 || box.west >= box.east || box.south < -90 || box.north > 90 ||
        box.south >= box.north)
        return std::nullopt;
    return box;
}

std::string GeoBox::Text() const
{
    char text[128];
    std::snprintf(text, sizeof text, "%.17g,%.17g,%.17g,%.17g", west, south, east, north);
    return text;
}

GeoBox GeoBox::OfTiles(int z, uint32_t x0, uint32_t y0, uint32_t x1, uint32_t y1)
{
    // A tile of zoom 30 is 3e-7 degrees wide and, near the pole, 3e-8 high;
    // the round trip through degrees errs by far less than 1e-9 of a degree.
    constexpr double kHair = 1e-9;
    GeoBox box;
    box.west = x0 == 0 ? -180.0 : LonOfTileX(x0, z) + kHair;
    box.east = x1 >= (uint64_t{1} << z) ? 180.0 : LonOfTileX(x1, z) - kHair;
    box.north = y0 == 0 ? 90.0 : LatOfTileY(y0, z) - kHair;
    box.south = y1 >= (uint64_t{1} << z) ? -90.0 : LatOfTileY(y1, z) + kHair;
    return box;
}

GeoBoxTest::GeoBoxTest(const GeoBox& box)
{
    for (int z = 0; z < static_cast<int>(bounds_.size()); ++z)
        bounds_[static_cast<std::size_t>(z)] = {TileXOf(box.west, z), TileXOf(box.east, z), TileYOf(box.north, z),
                                                TileYOf(box.south, z)};
}

bool GeoBoxTest::Overlaps(std::string_view name) const
{
    const std::optional<PlateKey::Tile> tile = PlateKey(name).ToTile();
    return tile && Overlaps(*tile);
}
