// The picture format told by a block's first bytes, and byte counts for
// people: what export names its files by and what the tool's tables show.
#include "base/ImageFormat.h"
#include "base/SizeText.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(ImageFormatTest, SniffsByTheFirstBytes)
{
    using namespace std::string_literals;
    const struct {
        std::string data;
        ImageFormat format;
        const char* extension;
    } cases[] = {
        {"\x89PNG\r\n\x1a\n-pixels"s, ImageFormat::Png, "png"},
        {"\x89PNG\r\n\x1a"s, ImageFormat::Unknown, "jpg"}, // one byte short of the signature
        {"\xFF\xD8\xFF\xE0 jfif"s, ImageFormat::Jpeg, "jpg"},
        {"\xFF\xD8"s, ImageFormat::Unknown, "jpg"},
        {"RIFF\x10\0\0\0WEBPVP8 "s, ImageFormat::Webp, "webp"},
        {"RIFF\x10\0\0\0WAVEfmt "s, ImageFormat::Unknown, "jpg"}, // RIFF, but sound
        {"RIFF\x10\0\0\0WEB"s, ImageFormat::Unknown, "jpg"},
        {"GIF87a..."s, ImageFormat::Gif, "gif"},
        {"GIF89a..."s, ImageFormat::Gif, "gif"},
        {"GIF88a..."s, ImageFormat::Unknown, "jpg"},
        {"BM\x36\0"s, ImageFormat::Bmp, "bmp"},
        {"B"s, ImageFormat::Unknown, "jpg"},
        {""s, ImageFormat::Unknown, "jpg"},
    };
    for (const auto& c : cases) {
        const ImageFormat format = SniffImageFormat(c.data.data(), static_cast<uint32_t>(c.data.size()));
        EXPECT_EQ(format, c.format) << c.data;
        EXPECT_STREQ(ImageFormatExtension(format), c.extension) << c.data;
    }
    // The size counts, not what lies behind it.
    const std::string png = "\x89PNG\r\n\x1a\n"s;
    EXPECT_EQ(SniffImageFormat(png.data(), 7), ImageFormat::Unknown);
    EXPECT_EQ(SniffImageFormat(nullptr, 0), ImageFormat::Unknown);
}

TEST(SizeTextTest, BinaryUnitsWithOneDecimal)
{
    const struct {
        uint64_t bytes;
        const char* text;
    } cases[] = {
        {0, "0 B"},
        {1023, "1023 B"},
        {1024, "1.0 KiB"},
        {1536, "1.5 KiB"},
        {1048575, "1024.0 KiB"},
        {1048576, "1.0 MiB"},
        {3435973837ull, "3.2 GiB"},
        {1ull << 60, "1.0 EiB"},
        {~0ull, "16.0 EiB"}, // the largest unit stays
    };
    for (const auto& c : cases)
        EXPECT_EQ(FormatByteSize(c.bytes), c.text) << c.bytes;
}

} // namespace
