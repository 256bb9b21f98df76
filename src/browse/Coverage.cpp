#include "browse/Coverage.h"

#include "base/ListSelection.h"
#include "browse/PlateList.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <new>

CoverageGrid::CoverageGrid(int zoom, int maxSide)
    : zoom_(std::clamp(zoom, 0, kZooms - 1))
{
    const int widest = std::bit_floor(static_cast<unsigned>(std::max(1, maxSide)));
    const int widestShift = std::countr_zero(static_cast<unsigned>(widest));
    side_ = 1 << std::min(zoom_, widestShift);
    shift_ = zoom_ - std::min(zoom_, widestShift);
    const std::size_t cells = static_cast<std::size_t>(side_) * static_cast<std::size_t>(side_);
    cells_.reset(static_cast<CoverageCell*>(std::calloc(cells, sizeof(CoverageCell))));
    if (!cells_)
        throw std::bad_alloc();
    rowTiles_.assign(static_cast<std::size_t>(side_), 0);
}

void CoverageGrid::ClearMarks()
{
    for (int y = 0; y < side_; ++y)
        if (RowHasTiles(y))
            for (int x = 0; x < side_; ++x)
                cells_[Index(x, y)].marked = 0;
}

int Coverage::DeepestZoom() const
{
    for (int z = CoverageGrid::kZooms - 1; z >= 0; --z)
        if (levels[static_cast<std::size_t>(z)].tiles > 0)
            return z;
    return -1;
}

CoverageBuilder::CoverageBuilder(int zoom, int maxSide) : zoom_(zoom), maxSide_(maxSide)
{
    if (zoom_ != kDeepest) {
        coverage_.grid = CoverageGrid(zoom_, maxSide_);
        started_ = true;
    }
}

void CoverageBuilder::Add(std::string_view name, uint32_t size)
{
    if (const std::optional<PlateKey::Tile> tile = PlateKey(name).ToTile())
        AddTile(*tile, size);
    else
        AddOther(size);
}

void CoverageBuilder::AddTile(const PlateKey::Tile& tile, uint32_t size)
{
    CoverageLevel& level = coverage_.levels[static_cast<std::size_t>(tile.z)];
    ++level.tiles;
    level.bytes += size;
    if (zoom_ == kDeepest && (!started_ || tile.z > coverage_.grid.Zoom())) {
        coverage_.grid = CoverageGrid(tile.z, maxSide_);
        started_ = true;
    }
    if (tile.z == coverage_.grid.Zoom())
        coverage_.grid.Add(tile.x, tile.y, size);
}

Coverage CoverageBuilder::Take() { return std::move(coverage_); }

namespace {

// The even bits of v, packed together.
uint32_t CompactEvenBits(uint64_t v)
{
    v &= 0x5555555555555555u;
    v = (v | v >> 1) & 0x3333333333333333u;
    v = (v | v >> 2) & 0x0F0F0F0F0F0F0F0Fu;
    v = (v | v >> 4) & 0x00FF00FF00FF00FFu;
    v = (v | v >> 8) & 0x0000FFFF0000FFFFu;
    v = (v | v >> 16) & 0x00000000FFFFFFFFu;
    return static_cast<uint32_t>(v);
}

uint32_t Reverse32(uint32_t v)
{
    v = (v >> 1 & 0x55555555u) | (v & 0x55555555u) << 1;
    v = (v >> 2 & 0x33333333u) | (v & 0x33333333u) << 2;
    v = (v >> 4 & 0x0F0F0F0Fu) | (v & 0x0F0F0F0Fu) << 4;
    return __builtin_bswap32(v);
}

} // namespace

std::optional<PlateKey::Tile> TileOfPackedLetters(uint64_t letters, int length)
{
    // Letter codes q 0, r 1, s 2, t 3: the code's high bit is the row's bit,
    // high xor low the column's. The first letter, the root 't', is the
    // lowest pair and becomes the coordinates' top bit, which is dropped.
    if (length < 1 || length > 32 || (letters & 3) != 3)
        return std::nullopt;
    const uint64_t low = letters & 0x5555555555555555u;
    const uint64_t high = letters >> 1 & 0x5555555555555555u;
    const uint32_t mask = (uint32_t{1} << (length - 1)) - 1;
    const uint32_t x = Reverse32(CompactEvenBits(low ^ high)) >> (32 - length) & mask;
    const uint32_t y = Reverse32(CompactEvenBits(high)) >> (32 - length) & mask;
    return PlateKey::Tile{length - 1, x, y};
}

std::optional<PlateKey::Tile> TileOfPlate(const PlateList& plates, int index)
{
    uint64_t letters = 0;
    int length = 0;
    if (plates.PackedLettersAt(index, &letters, &length))
        return TileOfPackedLetters(letters, length);
    PlateItem item;
    if (!plates.At(index, &item))
        return std::nullopt;
    return PlateKey({item.name, static_cast<std::size_t>(item.nameLength)}).ToTile();
}

std::optional<Coverage> BuildCoverage(const PlateList& plates, int zoom, int maxSide,
                                      const std::function<bool(int done)>& progress)
{
    constexpr int kStep = 1 << 20;
    const int count = plates.Count();
    if (zoom == CoverageBuilder::kDeepest) {
        // The deepest zoom first, from the names' lengths alone: cheaper than
        // filling the grid of every level on the way down.
        for (int i = 0; i < count; ++i) {
            uint64_t letters = 0;
            int length = 0;
            if (plates.PackedLettersAt(i, &letters, &length)) {
                if (length - 1 > zoom && (letters & 3) == 3)
                    zoom = length - 1;
            } else if (const std::optional<PlateKey::Tile> tile = TileOfPlate(plates, i); tile && tile->z > zoom) {
                zoom = tile->z;
            }
        }
        zoom = std::max(zoom, 0);
    }
    CoverageBuilder builder(zoom, maxSide);
    for (int start = 0; start < count; start += kStep) {
        if (progress && !progress(start))
            return std::nullopt;
        const int end = std::min(count, start + kStep);
        for (int i = start; i < end; ++i) {
            const uint32_t size = plates.SizeAt(i);
            if (const std::optional<PlateKey::Tile> tile = TileOfPlate(plates, i))
                builder.AddTile(*tile, size);
            else
                builder.AddOther(size);
        }
    }
    return builder.Take();
}

void MarkSelection(CoverageGrid& grid, const PlateList& plates, const ListSelection& selection)
{
    grid.ClearMarks();
    const int count = plates.Count();
    selection.ForEachSelectedWord([&](int first, uint64_t bits) {
        for (; bits != 0; bits &= bits - 1) {
            const int index = first + std::countr_zero(bits);
            if (index >= count)
                return;
            const std::optional<PlateKey::Tile> tile = TileOfPlate(plates, index);
            if (tile && tile->z == grid.Zoom())
                grid.Mark(tile->x, tile->y);
        }
    });
}

void SelectArea(ListSelection& selection, const PlateList& plates, const GeoBox& box, int fromZoom)
{
    const GeoBoxTest test(box);
    const int count = plates.Count();
    selection.SelectWhere([&](int index) {
        if (index >= count)
            return false;
        const std::optional<PlateKey::Tile> tile = TileOfPlate(plates, index);
        return tile && tile->z >= fromZoom && test.Overlaps(*tile);
    });
}

namespace {

struct Rgb {
    uint8_t r, g, b;
};

Rgb Blend(Rgb a, Rgb b, double t)
{
    auto mix = [t](uint8_t from, uint8_t to) { return static_cast<uint8_t>(std::lround(from + (to - from) * t)); };
    return {mix(a.r, b.r), mix(a.g, b.g), mix(a.b, b.b)};
}

void Put(std::vector<uint8_t>& pixels, std::size_t at, Rgb colour)
{
    pixels[at] = colour.r;
    pixels[at + 1] = colour.g;
    pixels[at + 2] = colour.b;
    pixels[at + 3] = 255;
}

} // namespace

std::vector<uint8_t> CoveragePicture(const CoverageGrid& grid)
{
    constexpr Rgb kSmall{150, 190, 240};
    constexpr Rgb kLarge{20, 60, 150};
    constexpr Rgb kMarked{255, 140, 0};
    const int side = grid.Side();
    double largest = 0;
    for (int y = 0; y < side; ++y)
        for (int x = 0; x < side && grid.RowHasTiles(y); ++x)
            if (const CoverageCell& cell = grid.Cell(x, y); cell.tiles > 0)
                largest = std::max(largest, static_cast<double>(cell.bytes) / cell.tiles);
    std::vector<uint8_t> pixels(static_cast<std::size_t>(side) * static_cast<std::size_t>(side) * 4, 0);
    for (int y = 0; y < side; ++y)
        for (int x = 0; x < side && grid.RowHasTiles(y); ++x) {
            const CoverageCell& cell = grid.Cell(x, y);
            if (cell.tiles == 0)
                continue;
            const double mean = static_cast<double>(cell.bytes) / cell.tiles;
            const Rgb shade = Blend(kSmall, kLarge, largest > 0 ? std::sqrt(mean / largest) : 1.0);
            const std::size_t at = (static_cast<std::size_t>(y) * static_cast<std::size_t>(side) + static_cast<std::size_t>(x)) * 4;
            Put(pixels, at, cell.marked > 0 ? Blend(shade, kMarked, 0.8) : shade);
        }
    return pixels;
}

namespace {

// Digits 3 x 5, a row a 3-bit number, the left pixel highest.
constexpr uint8_t kDigits[10][5] = {
    {7, 5, 5, 5, 7}, {2, 6, 2, 2, 7}, {7, 1, 7, 4, 7}, {7, 1, 7, 1, 7}, {5, 5, 7, 1, 1},
    {7, 4, 7, 1, 7}, {7, 4, 7, 5, 7}, {7, 1, 1, 1, 1}, {7, 5, 7, 5, 7}, {7, 5, 7, 1, 7},
};

class Canvas {
public:
    Canvas(int width, int height) : width_(width), height_(height), pixels_(static_cast<std::size_t>(width) * height * 4, 255) {}
    void Fill(int x0, int y0, int x1, int y1, Rgb colour)
    {
        for (int y = std::max(0, y0); y < std::min(height_, y1); ++y)
            for (int x = std::max(0, x0); x < std::min(width_, x1); ++x)
                Put(pixels_, (static_cast<std::size_t>(y) * width_ + x) * 4, colour);
    }
    // `number` centred on x, its top at y, each font pixel `scale` wide.
    void Number(int number, int x, int y, int scale, Rgb colour)
    {
        const std::string text = std::to_string(number);
        const int width = static_cast<int>(text.size()) * 4 * scale - scale;
        int left = x - width / 2;
        for (char c : text) {
            for (int row = 0; row < 5; ++row)
                for (int column = 0; column < 3; ++column)
                    if (kDigits[c - '0'][row] >> (2 - column) & 1)
                        Fill(left + column * scale, y + row * scale, left + (column + 1) * scale, y + (row + 1) * scale, colour);
            left += 4 * scale;
        }
    }
    std::vector<uint8_t> Take() { return std::move(pixels_); }

private:
    int width_;
    int height_;
    std::vector<uint8_t> pixels_;
};

} // namespace

std::vector<uint8_t> CoverageChart(const std::array<CoverageLevel, CoverageGrid::kZooms>& levels, int* width, int* height)
{
    constexpr int kBar = 12;
    constexpr int kGroup = 2 * kBar + 10;
    constexpr int kMargin = 10;
    constexpr int kPlot = 200;
    constexpr int kLabel = 18;
    constexpr Rgb kTiles{40, 90, 180};
    constexpr Rgb kBytes{240, 140, 30};
    constexpr Rgb kInk{60, 60, 60};
    int first = -1;
    int last = -1;
    uint64_t mostTiles = 0;
    uint64_t mostBytes = 0;
    for (int z = 0; z < CoverageGrid::kZooms; ++z) {
        const CoverageLevel& level = levels[static_cast<std::size_t>(z)];
        if (level.tiles == 0)
            continue;
        first = first < 0 ? z : first;
        last = z;
        mostTiles = std::max(mostTiles, level.tiles);
        mostBytes = std::max(mostBytes, level.bytes);
    }
    const int groups = first < 0 ? 0 : last - first + 1;
    *width = 2 * kMargin + std::max(1, groups) * kGroup;
    *height = 2 * kMargin + kPlot + kLabel;
    Canvas canvas(*width, *height);
    const int base = kMargin + kPlot;
    canvas.Fill(kMargin, base, *width - kMargin, base + 1, kInk);
    // Logarithmic: levels grow fourfold, and a linear scale would leave all
    // but the deepest few as slivers. A level with one plate still shows.
    auto barHeight = [](uint64_t value, uint64_t most) {
        if (value == 0)
            return 0;
        return std::max(2, static_cast<int>(std::lround(kPlot * std::log1p(static_cast<double>(value)) /
                                                        std::log1p(static_cast<double>(most)))));
    };
    for (int i = 0; i < groups; ++i) {
        const CoverageLevel& level = levels[static_cast<std::size_t>(first + i)];
        const int left = kMargin + i * kGroup + 5;
        canvas.Fill(left, base - barHeight(level.tiles, mostTiles), left + kBar, base, kTiles);
        canvas.Fill(left + kBar, base - barHeight(level.bytes, mostBytes), left + 2 * kBar, base, kBytes);
        canvas.Number(first + i, left + kBar, base + 5, 2, kInk);
    }
    return canvas.Take();
}
