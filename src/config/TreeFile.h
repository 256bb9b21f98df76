#pragma once
// The configuration file format. All integers little-endian, no padding.
//
//   file   := "TreE" u32:8 "RTSm0001" list          (header, then the root's children)
//   list   := "TreE" u32:n entry*n
//   entry  := u16:L name[L] u8:type value list
//   value  := nothing                 type 0
//           | 1 byte                  types 1, 2
//           | 2 bytes                 types 3, 4
//           | 4 bytes                 types 5, 6, 7 (7: IEEE single)
//           | 8 bytes                 type 8 (IEEE double)
//           | u32:M bytes[M]          types 9 (binary), 10 (text, M counts its zero byte)
//
// The root's own name and value are never written; a leaf ends with "TreE"
// and a count of 0.
//
// Reading: a header that does not match refuses the file and leaves the tree
// alone. A file that ends inside an entry's name length or name is taken as
// ending there: the entries read so far stay. Any other damage (bad list
// magic, a short count or value, an unknown type, a length beyond the end of
// the file) empties the tree. No length from the file is trusted: nothing is
// allocated beyond what the file holds, and nesting is walked without
// recursion.

#include <string>
#include <string_view>

class TreeValue;

inline constexpr std::string_view kTreeMagic = "TreE";
inline constexpr std::string_view kTreeSignature = "RTSm0001";

enum class TreeFileResult {
    Loaded,  // the tree holds the file's items
    Refused, // not a configuration file; the tree is unchanged
    Damaged, // the tree is empty
};

// The file image of the children of `root`.
std::string WriteTreeFile(const TreeValue& root);

// Replaces the children of `root` by the items of a file image.
TreeFileResult ReadTreeFile(std::string_view bytes, TreeValue& root);
