// Select -> Blank's judgement of one picture, as a table: the native test
// and the preview's reader alone agree, and the native one answers where it
// should.
#include "plates/SamePlates.h"

#include "log/Errors.h"

#include <QBuffer>
#include <QImage>

#include <gtest/gtest.h>

#include <functional>

namespace {

QByteArray Encode(const QImage& picture, const char* format, int quality = -1)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    picture.save(&buffer, format, quality);
    return bytes;
}

QImage Filled(QRgb colour, QImage::Format format = QImage::Format_RGB32)
{
    QImage picture(256, 256, format);
    picture.fill(colour);
    return picture;
}

QImage WithPixel(QImage picture, int x, int y, QRgb colour)
{
    picture.setPixel(x, y, colour);
    return picture;
}

// Every pixel fully transparent, the colour channels all different.
QImage ClearNoise()
{
    QImage picture(256, 256, QImage::Format_ARGB32);
    for (int y = 0; y < 256; ++y)
        for (int x = 0; x < 256; ++x)
            picture.setPixel(x, y, qRgba(x, y, 7, 0));
    return picture;
}

// A palette of two transparent entries of different colours, both used.
QImage ClearPalette()
{
    QImage picture(256, 256, QImage::Format_Indexed8);
    picture.setColorTable({qRgba(255, 0, 0, 0), qRgba(0, 255, 0, 0)});
    for (int y = 0; y < 256; ++y)
        for (int x = 0; x < 256; ++x)
            picture.setPixel(x, y, static_cast<uint>((x + y) & 1));
    return picture;
}

const QRgb kSea = qRgb(10, 120, 200);

struct BlankCase {
    const char* label;
    std::function<QByteArray()> make;
    bool blank;
    int native; // the native test's answer: 1, 0, or -1 for the preview's reader
};

const BlankCase kBlankCases[] = {
    {"OpaquePng", [] { return Encode(Filled(kSea), "PNG"); }, true, 1},
    {"OpaqueJpeg", [] { return Encode(Filled(kSea), "JPEG"); }, true, 1},
    {"OpaqueLosslessWebp", [] { return Encode(Filled(kSea), "WEBP", 100); }, true, 1},
    {"OpaqueBmp", [] { return Encode(Filled(kSea), "BMP"); }, true, -1},
    {"TransparentPng", [] { return Encode(ClearNoise(), "PNG"); }, true, 1},
    {"TransparentPalettePng", [] { return Encode(ClearPalette(), "PNG"); }, true, 1},
    {"OnePixelDiffersPng", [] { return Encode(WithPixel(Filled(kSea), 250, 250, qRgb(10, 120, 201)), "PNG"); }, false, 0},
    {"OnePixelDiffersJpeg", [] { return Encode(WithPixel(Filled(kSea), 250, 250, qRgb(250, 250, 250)), "JPEG"); }, false, 0},
    {"OnePixelDiffersWebp", [] { return Encode(WithPixel(Filled(kSea), 250, 250, qRgb(10, 121, 200)), "WEBP", 100); }, false, 0},
    {"OnePixelShowsThroughPng",
     [] { return Encode(WithPixel(ClearNoise(), 128, 255, qRgba(1, 2, 3, 1)), "PNG"); }, false, 0},
    {"TruncatedPng", [] { const QByteArray whole = Encode(Filled(kSea), "PNG"); return whole.left(whole.size() / 2); },
     false, -1},
    {"DamagedPng",
     [] {
         QByteArray bytes = Encode(Filled(kSea), "PNG");
         const qsizetype data = bytes.indexOf("IDAT");
         bytes[data + 6] = static_cast<char>(bytes[data + 6] ^ 0x55);
         return bytes;
     },
     false, -1},
    {"NoPicture", [] { return QByteArray("\x89PNG but nothing more"); }, false, -1},
};

void PrintTo(const BlankCase& c, std::ostream* out) { *out << c.label; }

class BlankTest : public ::testing::TestWithParam<BlankCase> {
protected:
    void SetUp() override { ASSERT_TRUE(LoadImageLibrary()) << ErrorText(kCurrentError); }
};

TEST_P(BlankTest, IsJudgedAlikeNativelyAndByTheReader)
{
    const QByteArray bytes = GetParam().make();
    ASSERT_FALSE(bytes.isEmpty());
    const auto size = static_cast<size_t>(bytes.size());
    ImageLibrary readerAlone = ImageFunctions();
    readerAlone.OneColour = nullptr;
    EXPECT_EQ(IsBlankPicture(readerAlone, bytes.constData(), size), GetParam().blank) << "by the reader alone";
    EXPECT_EQ(IsBlankPicture(ImageFunctions(), bytes.constData(), size), GetParam().blank);
    ASSERT_NE(ImageFunctions().OneColour, nullptr);
    EXPECT_EQ(ImageFunctions().OneColour(bytes.constData(), size), GetParam().native);
}

INSTANTIATE_TEST_SUITE_P(Pictures, BlankTest, ::testing::ValuesIn(kBlankCases),
                         [](const ::testing::TestParamInfo<BlankCase>& param) { return param.param.label; });

TEST(BlankPictureTest, NothingIsBlankWithoutData)
{
    ASSERT_TRUE(LoadImageLibrary()) << ErrorText(kCurrentError);
    EXPECT_FALSE(IsBlankPicture(ImageFunctions(), "", 0));
    EXPECT_FALSE(IsBlankPicture(ImageLibrary{}, "BM", 2)) << "no decoder";
}

} // namespace
