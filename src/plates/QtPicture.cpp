#include "plates/QtPicture.h"

#include <cstring>

QImage PictureOf(const ImageBitmap& bitmap)
{
    if (bitmap.Type != kImageBGR || bitmap.BytesPerPixel != 3 || bitmap.Data == nullptr || bitmap.Width <= 0 ||
        bitmap.Height <= 0 || bitmap.BytesPerLine < bitmap.Width * 3)
        return QImage();
    QImage picture(bitmap.Width, bitmap.Height, QImage::Format_BGR888);
    if (picture.isNull())
        return picture;
    const std::size_t rowBytes = static_cast<std::size_t>(bitmap.Width) * 3;
    for (int y = 0; y < bitmap.Height; ++y) {
        const int source = bitmap.Origin == kOriginBottomLeft ? bitmap.Height - 1 - y : y;
        std::memcpy(picture.scanLine(y), bitmap.Data + static_cast<std::size_t>(source) * bitmap.BytesPerLine, rowBytes);
    }
    return picture;
}
