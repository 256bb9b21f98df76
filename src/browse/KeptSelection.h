#pragma once
// The selection carried over a reload of the plate list: the names of the
// selected plates (and of the focused one) are taken before the list is
// emptied and picked again from the new list, so that the plates that are
// still in the storage stay selected wherever the new list puts them.

#include <cstdint>
#include <string>
#include <vector>

class ListSelection;
class PlateList;

class KeptSelection {
public:
    // Takes the selected plates of `plates` and the focused one.
    void Take(const PlateList& plates, const ListSelection& selection);
    // Selects the plates of `plates` whose names were taken (the selection
    // is replaced) and returns the index of the plate focused before, or -1.
    int Restore(const PlateList& plates, ListSelection& selection) const;
    bool Empty() const { return packed_.empty() && texts_.empty() && !focusTaken_; }

private:
    // A quadtree name the list keeps packed, as one number: letters and length.
    static uint64_t PackedKey(uint64_t letters, int length) { return letters | uint64_t(length) << 58; }

    std::vector<uint64_t> packed_;   // sorted
    std::vector<std::string> texts_; // sorted: the other names
    bool focusTaken_ = false;
    bool focusPacked_ = false;
    uint64_t focusKey_ = 0;
    std::string focusText_;
};
