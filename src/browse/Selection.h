#pragma once
// Selecting plates by a range of zoom levels (a plate's zoom is the length of
// its name).

#include "base/ListSelection.h"

class PlateList;

inline constexpr int kMinZoom = 1;
inline constexpr int kMaxZoom = 30;

// Replaces the whole selection: a plate is selected exactly when
// from <= its zoom <= to. With from above to nothing is selected.
void SelectZoomRange(ListSelection& selection, const PlateList& plates, int from, int to);
