#pragma once
// A decoded plate as a Qt picture.

#include "plates/ImageLibrary.h"

#include <QImage>

// The 24-bit blue-green-red bitmap as a picture of its own size. Only the
// bitmap's own rows are read, whatever size it has. A null picture when the
// bitmap is not 24-bit or has no pixels.
QImage PictureOf(const ImageBitmap& bitmap);
