#pragma once
// The selection options of every command: which plates a command works on.
// A plate must pass every option given; without options every plate passes.

#include "base/GeoBox.h"

#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace cli {

class PlateFilter {
public:
    // Each setter parses an option's value; false with `error` set when it
    // is not valid.
    // "3-8", "5", "3-" or "-8" in the window's level numbers (1 = the world).
    // A number beyond the deepest quadtree level is refused.
    bool SetLevels(std::string_view text, std::string* error);
    // The same in z/x/y numbers (0 = the world).
    bool SetZooms(std::string_view text, std::string* error);
    // Plates inside a quadtree area (a key: 't', then q, r, s or t): names
    // that start with it; a comma separates several areas.
    bool SetPrefixes(std::string_view text, std::string* error);
    // "WEST,SOUTH,EAST,NORTH" in finite degrees; plates that overlap the box.
    bool SetBoundingBox(std::string_view text, std::string* error);
    // One plate name a line, from a regular file only (a pipe or a device
    // could keep the command waiting); blank lines are skipped.
    bool ReadNames(const std::string& file, std::string* error);

    // Selections by content, which Matches cannot tell from a name: the
    // plates whose bytes equal an earlier plate's (--duplicates), the plates
    // of one colour (--blank). Applied after the others (SelectByContent).
    void SelectDuplicates() { duplicates_ = true; }
    void SelectBlank() { blank_ = true; }
    bool Duplicates() const { return duplicates_; }
    bool Blank() const { return blank_; }
    bool ByContent() const { return duplicates_ || blank_; }

    // Whether a name passes the options that look at names.
    bool Matches(std::string_view name) const;
    // The range of levels --levels or --z gave (the window's numbers), if any.
    const std::optional<std::pair<int, int>>& Levels() const { return levels_; }
    // The quadtree areas --prefix gave; empty: none.
    const std::vector<std::string>& Prefixes() const { return prefixes_; }
    bool Empty() const { return !levels_ && prefixes_.empty() && !box_ && !names_ && !ByContent(); }

private:
    std::optional<std::pair<int, int>> levels_;
    std::vector<std::string> prefixes_;
    std::optional<GeoBoxTest> box_;
    std::optional<std::unordered_set<std::string>> names_;
    bool duplicates_ = false;
    bool blank_ = false;
};

} // namespace cli
