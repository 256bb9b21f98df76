#pragma once
// The folder layouts tile tools write, as data: how a plate's tile turns into
// a path below the base folder and back. No file system access here, so the
// parsing can be tested and fuzzed on its own.
//
//  plates   t/q/r/s.jpg: one folder per name letter but the last
//  xyz      {z}/{x}/{y}.png, rows from the top (GDAL --xyz, most web maps)
//  tms      {z}/{x}/{y}.png, rows from the bottom (GDAL's default; its
//           tilemapresource.xml tells it from xyz)
//  tc       {zz}/{xxx}/{xxx}/{xxx}/{yyy}/{yyy}/{yyy}.png, zero-padded
//  mp       {zz}/{xxxx}/{xxxx}/{yyyy}/{yyyy}.png, zero-padded
//  quadkey  {quadkey digits}.png, flat; the world tile is ".png"
//  arcgis   L{zz}/R{yyyyyyyy}/C{xxxxxxxx}.png, rows and columns in hex
// tc and mp count rows from the bottom, as the seeding tool's default grid
// does; the origin option turns them (see ParseLocation).

#include "plate_key.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace folder {

enum class LayoutKind : uint8_t { PlateTree, Numbered, Quadkey };
enum class Coord : uint8_t { Z, X, Y };

// One path component of a numbered layout: the part of one coordinate it
// holds is (value / divisor) % modulus (modulus 0: no bound), written with
// an optional prefix letter, in `radix`, zero-padded to `width` (0: no
// padding, and then no leading zeros either).
struct Field {
    char prefix = 0;
    Coord coord = Coord::Z;
    uint8_t radix = 10;
    uint8_t width = 0;
    uint32_t divisor = 1;
    uint32_t modulus = 0;
};

inline constexpr size_t kMaxFields = 7;

struct Layout {
    const char* name = "";
    LayoutKind kind = LayoutKind::PlateTree;
    bool rowsFromBottom = false;
    // Numbered layouts: folders then the file's stem; the first is the zoom.
    uint8_t depth = 0;
    Field fields[kMaxFields] = {};
};

// The known layouts by name ("plates", "xyz", ...), null for another name.
const Layout* FindLayout(std::string_view name);
// "plates, xyz, tms, tc, mp, quadkey, arcgis", for messages.
const char* LayoutNames();
const Layout& DefaultLayout(); // xyz: what a new, empty folder becomes

// The part of `value` one field holds, from its component text; false when
// the text is not written the way the field writes it.
bool ParseField(const Field& field, std::string_view text, uint64_t* part);
// Writes the field's component for the coordinate `value`; returns its length
// (at most kMaxFieldLength characters, no terminating zero).
inline constexpr size_t kMaxFieldLength = 12;
size_t FormatField(const Field& field, uint64_t value, char* out);

// Quadkey digits (0 top-left, 1 top-right, 2 bottom-left, 3 bottom-right;
// none for the world tile) <-> plate names. QuadkeyToName writes the plate
// name, zero-terminated, into `name` (kNameBufferSize characters);
// NameToQuadkey takes a valid plate name and writes no terminating zero.
bool QuadkeyToName(std::string_view digits, char* name);
size_t NameToQuadkey(std::string_view name, char* digits);

// Image file names: "stem.ext" with an image extension (any letter case).
// The stem may be empty (the quadkey world tile ".png").
bool SplitImageFile(std::string_view file, std::string_view* stem);
bool IsImageExtension(std::string_view ext);
// Lower case, most common first: lookups try them in this order.
inline constexpr const char* kImageExtensions[] = {"png", "jpg", "jpeg", "webp", "gif", "bmp"};
// The extension for a data block by its first bytes; "jpg" when unknown,
// the extension the program's own exports give every plate.
const char* ExtensionFor(const void* data, size_t size);

// A storage path with its options: "FOLDER" or "FOLDER?layout=NAME", with
// "&origin=nw" or "&origin=sw" to count rows from the top or the bottom.
struct Location {
    std::string folder;
    const Layout* layout = nullptr; // null: recognise it from the files
    int origin = 0;                 // 0 the layout's own, 1 nw (top), 2 sw (bottom)
};
// Splits the options off `path`. False with a text that says what is wrong
// when the options cannot be read.
bool ParseLocation(std::string_view path, Location* location, std::string* error);

} // namespace folder
