#pragma once
// The picture format of a plate's data block, told by its first bytes. A
// storage keeps blocks as they came; this names them for export file names
// and for statistics, without decoding anything.

#include <cstdint>

enum class ImageFormat { Png, Jpeg, Webp, Gif, Bmp, Unknown };

// Unknown for anything else, including an empty or null block.
ImageFormat SniffImageFormat(const void* data, uint32_t size);

// The usual file extension without the dot; "jpg" for Unknown, as the plate
// tree names every file.
const char* ImageFormatExtension(ImageFormat format);
