#pragma once
// Finds the broken plates among the selected ones: plates whose data is
// empty or cannot be read, cannot be decoded by the preview's decoder, or
// does not decode to the storage's tile size (its most common square size,
// 256 x 256 when none is square). The command-line tool's verify and
// the window's "Broken plates" selection share it.
//
// The plugin is called on the caller's thread only (one call at a time, as
// the contract asks); the blocks are copied and decoded on worker threads.
// Progress and Abort go through the Operation, like every long operation.

#include "plates/ImageLibrary.h"

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

class ListSelection;
class Operation;
class PlateList;
class PRPeriod;
class StorageAction;

inline constexpr int kPlateSide = 256;

enum class PlateFault {
    Empty,       // no data (an empty block or the plugin's Empty)
    Unreadable,  // the plugin failed to give the data
    Undecodable, // the decoder refused the block
    WrongSize,   // decoded, but not the storage's tile size
};

struct BrokenPlate {
    int index = 0; // in the plate list
    PlateFault fault = PlateFault::Empty;
    int width = 0; // WrongSize: the decoded size
    int height = 0;
    int expected = kPlateSide; // WrongSize: the storage's tile side
    std::string detail; // Unreadable, Undecodable: the reason
};

struct BrokenCheckResult {
    int selected = 0;
    int checked = 0;    // plates read and judged
    bool aborted = false;
    bool noDecoder = false; // the decoder table is empty: nothing was checked
    int tileSide = kPlateSide; // the storage's tile side the sizes were judged by
    std::vector<BrokenPlate> broken; // in list order
};

// One line for a broken plate: "empty", "cannot be decoded: ...",
// "not 256 x 256: 512 x 256", "cannot be read: ...".
std::string DescribeFault(const BrokenPlate& plate);

struct BrokenCheck {
    StorageAction& action;
    const PlateList& plates;
    const ListSelection& selection;
    Operation& operation;
    PRPeriod& period;
    const ImageLibrary& decoder;
    int threads = 0;                  // decoding threads; 0: one per core
    std::function<void()> pump = {};  // lets a window handle its events after each progress text
};

// Judges one plate's data (not empty) with `decoder` against the usual
// 256-pixel side: false for a good plate, else true with the fault in
// *broken (its index left alone).
bool JudgePlate(const ImageLibrary& decoder, const void* data, size_t size, BrokenPlate* broken);

// Reads every selected plate and judges it. Logs "Check %d plates..." and
// the summary; ends the operation (SetText(nullptr)) on every way out.
BrokenCheckResult FindBrokenPlates(const BrokenCheck& check);
