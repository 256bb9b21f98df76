#pragma once
// Decoding a plate only to judge it, with the formats' own libraries made for
// speed (libdeflate for PNG, libspng for interlaced PNG, libjpeg-turbo,
// libwebp): every pixel is decoded, into the format's own pixel layout (a
// PNG's unfiltered rows, a JPEG's colour space, a lossy WebP's YUV planes),
// with no conversion for a display that nobody will look at.
//
// Only a clean decode is an answer. Anything else (another format, a
// warning, a damaged or truncated block) leaves the verdict to the preview's
// decoder, so that a plate is judged as the preview would show it.

#include <cstddef>
#include <cstdint>

// True with the picture's size when `data` is a PNG, JPEG or WebP picture
// that decoded cleanly to its last pixel. Safe on any thread.
bool DecodeNatively(const void* data, size_t size, int32_t* width, int32_t* height);

// Whether a PNG, JPEG or WebP picture is of one colour (fully transparent
// pixels alike whatever their colour), decoded only up to the first pixel of
// another colour (NativeOneColour.cpp): 1 one colour (a clean decode to the
// last pixel), 0 another colour found, -1 when the preview's decoder must
// tell. Safe on any thread.
int OneColourNatively(const void* data, size_t size);
