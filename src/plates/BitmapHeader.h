#pragma once
// The description of a preview picture: 256 x 256 pixels, 24-bit
// blue-green-red rows from the bottom up, in the layout of a device-independent
// bitmap header. Filled once at start-up.

#include <cstdint>

#pragma pack(push, 1)
struct BitmapInfoHeader {
    uint32_t size;
    int32_t width;
    int32_t height; // positive: rows bottom up
    uint16_t planes;
    uint16_t bitCount;
    uint32_t compression;
    uint32_t sizeImage;
    int32_t xPelsPerMeter;
    int32_t yPelsPerMeter;
    uint32_t clrUsed;
    uint32_t clrImportant;
};
#pragma pack(pop)
static_assert(sizeof(BitmapInfoHeader) == 40);

inline constexpr int kPlateSide = 256;

BitmapInfoHeader& PreviewHeader();
void FillPreviewHeader();
