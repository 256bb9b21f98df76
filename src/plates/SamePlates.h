#pragma once
// Selections by what the plates hold: Duplicates (plates whose bytes equal
// another plate's) and Blank (pictures of one colour). The window's Select
// menu and ulmora-cli's --duplicates and --blank share them.
//
// Both read the plates through the plugin on the caller's thread, one call
// at a time as the contract asks, with the progress text and Abort of every
// long operation; Duplicates takes the plates from the plugin's plate stream
// where it has one (one walk of the storage instead of a lookup each). An aborted run finds nothing: half an answer would pass for
// a whole one in a deletion.

#include "plates/ImageLibrary.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

class ListSelection;
class Operation;
class PlateList;
class PRPeriod;
class StorageAction;

struct SameScan {
    StorageAction& action;
    const PlateList& plates;
    const ListSelection& selection; // the plates looked at
    Operation& operation;
    PRPeriod& period;
    std::function<void()> pump = {}; // lets a window handle its events after each progress text
};

struct SameResult {
    int selected = 0;
    int read = 0;       // plates read (twice for a duplicate: once to hash, once to compare)
    int unreadable = 0; // the plugin failed to give the data: never found
    bool aborted = false;
    int sets = 0;          // Duplicates: sets of two or more equal plates
    std::vector<int> found; // list indexes, ascending; empty when aborted
};

// The hash a plate's bytes are grouped by; a seam for tests, which force
// collisions with it.
using PlateHash = uint64_t (*)(const void* data, std::size_t size);

// How many bytes of plates the duplicates' first pass keeps to compare with.
inline constexpr std::size_t kDuplicateKeepBytes = std::size_t{64} << 20;

// Every plate of a set of equal plates but its first in list order: deleting
// them keeps one copy of each. Plates are grouped by a hash of their bytes,
// and a plate is found only after its bytes were compared with the set's
// first: kept from the first reading (up to `keepBytes` of them), else read
// again. Plates without data are left to "Broken plates". Memory: 16 bytes
// a plate and the kept bytes. Logs "Look for duplicates among %d plates..."
// and the summary.
SameResult FindDuplicatePlates(const SameScan& scan, PlateHash hash = nullptr,
                               std::size_t keepBytes = kDuplicateKeepBytes);

// Whether a picture is of one colour: every pixel alike, and every fully
// transparent pixel alike whatever its colour channels. A block the decoder
// refuses, or an empty one, is no blank picture. The decoder's native test
// (ImageLibrary::OneColour) answers where it can; the preview's reader the
// rest.
bool IsBlankPicture(const ImageLibrary& decoder, const void* data, std::size_t size);

// The plates whose picture is of one colour. Logs "Look for blank plates
// among %d plates..." and the summary.
SameResult FindBlankPlates(const SameScan& scan, const ImageLibrary& decoder);
