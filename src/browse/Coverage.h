#pragma once
// Where a cache has plates: one level's grid, north up, for the window's
// coverage map and the picture of `ulmora-cli info --coverage`, and the
// plates and bytes of every level. Built in one pass over the plates.
//
// A level whose side holds at most `maxSide` tiles (4096 by default, zoom
// 12) gets a cell a tile; deeper levels group the tiles into square blocks
// of 2, 4, 8... tiles a side, so that the grid stays `maxSide` cells a side.

#include "base/GeoBox.h"
#include "base/PlateKey.h"

#include <array>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

class ListSelection;
class PlateList;

struct CoverageCell {
    uint64_t bytes;  // the sizes of its plates added up
    uint32_t tiles;  // plates in the cell
    uint32_t marked; // of them marked (selected, say)
};

class CoverageGrid {
public:
    static constexpr int kMaxSide = 4096;
    // Quadtree zooms: 0 (the world) to the deepest key's.
    static constexpr int kZooms = PlateKey::kMaxQuadtreeLevel;

    // Zoom 0 with nothing in it.
    CoverageGrid() : CoverageGrid(0) {}
    // `maxSide` is rounded down to a power of two.
    explicit CoverageGrid(int zoom, int maxSide = kMaxSide);

    int Zoom() const { return zoom_; }
    int Side() const { return side_; }
    // A cell is 2^Shift() tiles a side.
    int Shift() const { return shift_; }
    // Row 0 is the north.
    const CoverageCell& Cell(int x, int y) const { return cells_[Index(x, y)]; }
    uint64_t Tiles() const { return tiles_; }
    // Whether row y has a plate: empty rows need not be read (nor their
    // pages brought in).
    bool RowHasTiles(int y) const { return rowTiles_[static_cast<std::size_t>(y)] != 0; }
    uint64_t Bytes() const { return bytes_; }

    // A tile of the grid's zoom, x and y (rows from the top) below 2^zoom.
    void Add(uint32_t x, uint32_t y, uint32_t size)
    {
        const int row = static_cast<int>(y >> shift_);
        CoverageCell& cell = cells_[Index(static_cast<int>(x >> shift_), row)];
        ++rowTiles_[static_cast<std::size_t>(row)];
        ++cell.tiles;
        cell.bytes += size;
        ++tiles_;
        bytes_ += size;
    }
    void Mark(uint32_t x, uint32_t y) { ++cells_[Index(static_cast<int>(x >> shift_), static_cast<int>(y >> shift_))].marked; }
    void ClearMarks();

private:
    struct Free {
        void operator()(CoverageCell* cells) const { std::free(cells); }
    };
    std::size_t Index(int x, int y) const { return static_cast<std::size_t>(y) * static_cast<std::size_t>(side_) + static_cast<std::size_t>(x); }

    int zoom_ = 0;
    int side_ = 1;
    int shift_ = 0;
    uint64_t tiles_ = 0;
    uint64_t bytes_ = 0;
    // Zeroed by calloc, whose fresh pages stay untouched until a plate lands
    // on them: a regional cache's grid costs little memory.
    std::unique_ptr<CoverageCell[], Free> cells_;
    std::vector<uint64_t> rowTiles_;
};

struct CoverageLevel {
    uint64_t tiles = 0;
    uint64_t bytes = 0;
};

struct Coverage {
    CoverageGrid grid;
    std::array<CoverageLevel, CoverageGrid::kZooms> levels{}; // by zoom
    uint64_t otherPlates = 0; // plates whose names are not quadtree keys
    uint64_t otherBytes = 0;
    // The deepest zoom with a plate, or -1.
    int DeepestZoom() const;
};

// Gathers plates one at a time, as a listing reports them.
class CoverageBuilder {
public:
    static constexpr int kDeepest = -1;
    // The grid's zoom, or kDeepest: the deepest zoom that has a plate (a
    // deeper plate starts the grid afresh, the shallower ones have no place
    // in it anyway).
    explicit CoverageBuilder(int zoom = kDeepest, int maxSide = CoverageGrid::kMaxSide);

    void Add(std::string_view name, uint32_t size);
    void AddTile(const PlateKey::Tile& tile, uint32_t size);
    void AddOther(uint32_t size)
    {
        ++coverage_.otherPlates;
        coverage_.otherBytes += size;
    }
    // What was gathered; the builder is spent.
    Coverage Take();

private:
    int zoom_;
    int maxSide_;
    bool started_ = false;
    Coverage coverage_;
};

// The tile of a name the plate list keeps packed, when it is a quadtree key.
std::optional<PlateKey::Tile> TileOfPackedLetters(uint64_t letters, int length);
// The tile of plate `index` when its name is a quadtree key.
std::optional<PlateKey::Tile> TileOfPlate(const PlateList& plates, int index);

// One pass over the list. `progress(done)` is called now and then; when it
// answers false the pass stops and nothing is returned.
std::optional<Coverage> BuildCoverage(const PlateList& plates, int zoom = CoverageBuilder::kDeepest,
                                      int maxSide = CoverageGrid::kMaxSide,
                                      const std::function<bool(int done)>& progress = {});

// Sets each cell's marked count to the selected plates of the grid's zoom
// in it.
void MarkSelection(CoverageGrid& grid, const PlateList& plates, const ListSelection& selection);

// Replaces the selection with the plates of zoom `fromZoom` and deeper that
// overlap `box`: with a box of GeoBox::OfTiles, the plates of those tiles
// and below. The test is --bbox's.
void SelectArea(ListSelection& selection, const PlateList& plates, const GeoBox& box, int fromZoom);

// The grid as a picture, 4 bytes a pixel (red, green, blue, alpha), Side()
// pixels a side, row 0 north: a cell without plates is fully transparent,
// one with plates opaque, darker the larger its plates are on average;
// marked cells are orange.
std::vector<uint8_t> CoveragePicture(const CoverageGrid& grid);

// Plates and bytes per zoom as bars on a white ground, for reports: for each
// zoom from the shallowest to the deepest with a plate a blue bar (plates)
// and an orange one (bytes), each on a logarithmic scale of its own, with
// the zoom written under them. 4 bytes a pixel, `width` x `height`.
std::vector<uint8_t> CoverageChart(const std::array<CoverageLevel, CoverageGrid::kZooms>& levels, int* width,
                                   int* height);
