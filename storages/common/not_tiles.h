#pragma once
// Rows of a tile table that name no tile, counted by reason, so that a
// listing can leave them out and still say so.

#include <cstdint>
#include <string>

namespace not_tiles {

struct NotTiles {
    uint64_t zoom = 0; // zoom level outside 0 to 30
    uint64_t grid = 0; // column or row outside the level's grid
    uint64_t type = 0; // zoom, column or row not an integer (text, real, NULL)

    uint64_t Total() const { return zoom + grid + type; }
    void Add(const NotTiles& other) {
        zoom += other.zoom;
        grid += other.grid;
        type += other.type;
    }
    // "2 zoom not 0-30, 1 not integers": the reasons that occurred, short
    // enough for the program's 100-byte error text.
    std::string Reasons() const {
        std::string text;
        const auto add = [&text](uint64_t count, const char* what) {
            if (count == 0)
                return;
            if (!text.empty())
                text += ", ";
            text += std::to_string(count) + " " + what;
        };
        add(zoom, "zoom not 0-30");
        add(grid, "off the grid");
        add(type, "not integers");
        return text;
    }
    // The listing's notice after `listed` plates, or, when nothing was
    // listed, the reason it failed; empty when every row was a tile.
    std::string Notice(uint64_t listed) const {
        const uint64_t dropped = Total();
        if (dropped == 0)
            return {};
        const std::string reasons =
            std::to_string(dropped) + (dropped == 1 ? " row" : " rows") + " not tiles: " + Reasons();
        return listed ? "Left out " + reasons : "No tiles; " + reasons;
    }
};

} // namespace not_tiles
