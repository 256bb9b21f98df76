#pragma once
// Sorting the plate list by one of its columns. The order is worked out as
// a permutation (4 bytes a plate) and then applied to the list in place;
// the selection is carried along, so that it stays with its plates.
// Ties keep the order they had, in either direction.

#include "browse/PlateList.h"

#include <cstdint>
#include <vector>

class ListSelection;

enum class PlateSortKey { Number, Level, Size, Name };

// The order that sorts `plates` by `key`: position i of the sorted list is
// plate order[i]. Quadtree names sort as their letters do (a prefix first).
std::vector<int32_t> PlateSortOrder(const PlateList& plates, PlateSortKey key, bool descending);

// A sort worked out, not yet applied: PrepareSort only reads the list, so a
// window may run it on another thread and keep painting the list meanwhile.
struct PreparedSort {
    std::vector<int32_t> order;
    PlateList::Arrangement arrangement;
};
PreparedSort PrepareSort(const PlateList& plates, PlateSortKey key, bool descending);
// Applies a sort prepared of `plates` as they still are, and moves the
// selection's bits, focus and anchor with the plates. `selection` must have
// the list's count.
void ApplySort(PlateList& plates, ListSelection& selection, PreparedSort&& sort);
// Both at once.
void SortPlates(PlateList& plates, ListSelection& selection, PlateSortKey key, bool descending);
