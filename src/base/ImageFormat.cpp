#include "base/ImageFormat.h"

#include <cstring>

ImageFormat SniffImageFormat(const void* data, uint32_t size)
{
    if (data == nullptr)
        return ImageFormat::Unknown;
    const auto* b = static_cast<const unsigned char*>(data);
    if (size >= 8 && std::memcmp(b, "\x89PNG\r\n\x1a\n", 8) == 0)
        return ImageFormat::Png;
    if (size >= 3 && b[0] == 0xFF && b[1] == 0xD8 && b[2] == 0xFF)
        return ImageFormat::Jpeg;
    if (size >= 12 && std::memcmp(b, "RIFF", 4) == 0 && std::memcmp(b + 8, "WEBP", 4) == 0)
        return ImageFormat::Webp;
    if (size >= 6 && (std::memcmp(b, "GIF87a", 6) == 0 || std::memcmp(b, "GIF89a", 6) == 0))
        return ImageFormat::Gif;
    if (size >= 2 && b[0] == 'B' && b[1] == 'M')
        return ImageFormat::Bmp;
    return ImageFormat::Unknown;
}

const char* ImageFormatExtension(ImageFormat format)
{
    switch (format) {
    case ImageFormat::Png: return "png";
    case ImageFormat::Webp: return "webp";
    case ImageFormat::Gif: return "gif";
    case ImageFormat::Bmp: return "bmp";
    case ImageFormat::Jpeg:
    case ImageFormat::Unknown: break;
    }
    return "jpg";
}
