#pragma once
// The selected plates of a list with their data, through the plugin's plate
// stream (one walk of the storage in its own order) instead of a lookup by
// name per plate. Runs over many plates (a copy, looking for duplicates)
// take what the stream hands out and read the rest by name as before.

#include <cstdint>
#include <functional>

class ListSelection;
class PlateList;
class StorageAction;
struct PlateItem;

// Called for each plate of `pending` that the stream hands out, with its
// index in the list, the item (its name checked against the stream's) and
// its data (null and 0 for a plate without data), valid only during the
// call; false stops the stream.
using StreamedPlate = std::function<bool(int index, const PlateItem& plate, const void* data, uint32_t size)>;

// Streams the plates of `action`, whose plugin must have the plate stream.
// Each plate that is selected in `pending` (one bit per item of `plates`)
// is cleared there and handed to `visit`; a plate the list does not have,
// or had already, is passed over. What stays in `pending` was not handed
// out (left out by the plugin, or the stream failed or stopped): the caller
// reads those through GetPlateData. False when `visit` stopped the stream.
bool StreamSelectedPlates(StorageAction& action, const PlateList& plates, ListSelection& pending,
                          const StreamedPlate& visit);
