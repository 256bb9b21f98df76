#pragma once
// A box in degrees on the Web-Mercator quadtree, and which quadtree tiles it
// overlaps. The tool's --bbox and the window's area selection both ask this
// one question, so that a rectangle dragged on the coverage map selects
// exactly what --bbox selects.

#include "base/PlateKey.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

struct GeoBox {
    double west = 0, south = 0, east = 0, north = 0; // degrees

    // "WEST,SOUTH,EAST,NORTH" in finite degrees, west below east and south
    // below north, within -180..180 and -90..90; nullopt otherwise, with
    // `numbers` (when given) saying whether the text held four numbers.
    static std::optional<GeoBox> Parse(std::string_view text, bool* numbers = nullptr);
    // The same four numbers, written so that Parse gives the box back bit
    // for bit.
    std::string Text() const;

    // The box of the tiles x0..x1-1, y0..y1-1 (rows from the top) at zoom
    // z, drawn in by a hair, far less than a tile of the deepest level: so
    // that the tiles beside it, which share its edges, do not overlap it.
    static GeoBox OfTiles(int z, uint32_t x0, uint32_t y0, uint32_t x1, uint32_t y1);
};

// Slippy-map tile coordinates, fractional, of a longitude and a latitude
// (clamped to the Mercator square), and back.
double TileXOf(double lon, int z);
double TileYOf(double lat, int z);
double LonOfTileX(double x, int z);
double LatOfTileY(double y, int z);

// A box's bounds in tile coordinates at every quadtree zoom, worked out once:
// the test then costs four comparisons, for loops over millions of plates.
class GeoBoxTest {
public:
    explicit GeoBoxTest(const GeoBox& box);
    bool Overlaps(const PlateKey::Tile& tile) const
    {
        const Bounds& b = bounds_[static_cast<std::size_t>(tile.z)];
        return tile.x + 1.0 > b.west && tile.x < b.east && tile.y + 1.0 > b.north && tile.y < b.south;
    }
    // A name that is not a quadtree key lies nowhere, and overlaps nothing.
    bool Overlaps(std::string_view name) const;

private:
    struct Bounds {
        double west, east, north, south;
    };
    std::array<Bounds, PlateKey::kMaxQuadtreeLevel> bounds_{};
};
