#pragma once
// Selecting plates by a range of zoom levels (a plate's zoom is the length of
// its name), and the figures of what is listed and selected.

#include "base/ListSelection.h"

#include <cstdint>
#include <string>

class PlateList;

inline constexpr int kMinZoom = 1;
inline constexpr int kMaxZoom = 30;

// Replaces the whole selection: a plate is selected exactly when
// from <= its zoom <= to. With from above to nothing is selected.
void SelectZoomRange(ListSelection& selection, const PlateList& plates, int from, int to);

struct SelectionSummary {
    int listed = 0;     // plates in the list
    int selected = 0;   // of them selected
    uint64_t bytes = 0; // the selected plates' sizes added up
    bool operator==(const SelectionSummary&) const = default;
};

// Walks the selection a 64-bit word at a time, so that it stays quick with
// tens of millions of plates selected. Selected items beyond the plate list
// count for nothing.
SelectionSummary SummarizeSelection(const PlateList& plates, const ListSelection& selection);

// "Plates: 21, selected: 4 (61.440K)", translated.
std::string SummaryText(const SelectionSummary& summary);
