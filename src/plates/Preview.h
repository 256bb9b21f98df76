#pragma once
// Showing one plate: its data block fetched through the storage action,
// decoded through the image decoder's table, and drawn by the caller.

#include "browse/PlateList.h"
#include "plates/ImageLibrary.h"

#include <cstdint>
#include <functional>
#include <string>

class StorageAction;

// The decoder's input: a block of the plugin's, read in place.
struct MemorySource {
    const uint8_t* data = nullptr;
    uint32_t size = 0;
    uint32_t position = 0;
};

uint32_t MemorySourceRead(void* handle, void* buffer, uint32_t count);
uint32_t MemorySourceTell(void* handle);
// Origins 0 (start), 1 (current), 2 (end: size - offset); the position is
// clamped to 0..size; other origins change nothing.
uint32_t MemorySourceSeek(void* handle, int32_t offset, int origin);

// Draws a decoded 24-bit blue-green-red bitmap (rows from the bottom up);
// false when it cannot.
using PlateDrawer = std::function<bool(const ImageBitmap& bitmap)>;

// Logs a wrong size and converts other colour models to blue-green-red.
// `plateName` names the plate in the warning.
bool NormalizeBitmap(ImageBitmap* bitmap, const char* plateName);

// Decodes the block and hands the bitmap to `draw`. False with the last
// error set when the decoder is missing or refuses the block; a drawing
// failure is logged. `width` and `height` receive the decoded size.
bool LoadPlateImage(const void* data, uint32_t size, const char* plateName, const PlateDrawer& draw,
                    int* width, int* height);

struct PreviewResult {
    bool shown = false;
    int width = 0;
    int height = 0;
    std::string label; // the two-line text under the picture
};

// The label of a plate that is shown: "Item: %s\nSizes: %dx%d (%s)",
// translated.
std::string ShownPlateLabel(const char* name, int width, int height, uint32_t size);

// Fetches, checks, decodes and draws one plate; the label says what the
// plate is or why it is not shown.
PreviewResult PreviewPlate(StorageAction& action, const PlateItem& plate, const PlateDrawer& draw);
