#pragma once
// A plate's key: the name a plugin reports for a plate. Its length is the
// plate's level (zoom); for export every character but the last names a
// folder and the last one the file, so a name is usable as a path only when
// each of its characters is safe as a path component on its own.
//
// Names of the shipped storages are quadtree keys: 't' is the whole world and
// every further letter picks a quadrant of its parent (q top-left, r
// top-right, s bottom-right, t bottom-left); Tile() gives their slippy-map
// coordinates. Other plugins may use any names; the program lists them all.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

class PlateKey {
public:
    struct Tile {
        int z = 0;    // slippy zoom: the level minus 1
        uint32_t x = 0;
        uint32_t y = 0; // rows counted from the top
        friend bool operator==(const Tile&, const Tile&) = default;
    };

    // The deepest level whose coordinates fit 32 bits, plus the root letter.
    static constexpr int kMaxQuadtreeLevel = 31;

    PlateKey() = default;
    explicit constexpr PlateKey(std::string_view name) : name_(name) {}

    std::string_view Name() const { return name_; }
    int Level() const { return static_cast<int>(name_.size()); }

    // A character that may stand alone as a folder or file name on the file
    // systems a user exports to: printable ASCII other than '.', the
    // separators and what Windows file systems refuse.
    static bool IsPathSafe(char c);
    // Not empty and every character path-safe.
    bool IsPathSafe() const;
    // The relative path of the plate's file: one folder per character but the
    // last, '/' between them, then the last character and `extension`
    // ("tqr" + ".jpg" gives "t/q/r.jpg"). Only for a path-safe name.
    std::string RelativePath(std::string_view extension) const;

    // A key in q, r, s, t that starts with 't' and has at most
    // kMaxQuadtreeLevel letters: what ToTile accepts, without computing the
    // tile, for loops over millions of names.
    static bool IsQuadtreeKey(std::string_view name);
    // The quadtree coordinates of a quadtree key.
    std::optional<Tile> ToTile() const;
    static std::string FromTile(const Tile& tile);

    // This plate lies inside the plate `area` (its name starts with it).
    bool IsWithin(std::string_view area) const { return name_.starts_with(area); }

private:
    std::string_view name_;
};
