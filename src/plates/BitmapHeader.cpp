#include "plates/BitmapHeader.h"

BitmapInfoHeader& PreviewHeader()
{
    static BitmapInfoHeader header{};
    return header;
}

void FillPreviewHeader()
{
    PreviewHeader() = BitmapInfoHeader{sizeof(BitmapInfoHeader), kPlateSide, kPlateSide, 1, 24, 0,
                                       kPlateSide * kPlateSide * 3, 1, 1, 0, 0};
}
