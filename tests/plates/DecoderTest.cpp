// The real decoder (Qt's image readers behind the table) and the picture
// made from what it decodes.
#include "plates/BrokenPlates.h"
#include "plates/Preview.h"
#include "plates/QtPicture.h"

#include "log/Errors.h"
#include "log/Log.h"

#include <QBuffer>
#include <QImage>

#include <gtest/gtest.h>

#include <functional>

namespace {

QByteArray Encode(const QImage& picture, const char* format)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    picture.save(&buffer, format);
    return bytes;
}

// Top half red, bottom half blue: shows whether rows come out the right way up.
QImage TwoBands(int width, int height, QImage::Format format)
{
    QImage picture(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            picture.setPixel(x, y, y < height / 2 ? qRgb(230, 20, 20) : qRgb(20, 20, 230));
    return picture.convertToFormat(format);
}

class DecoderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(LoadImageLibrary()) << ErrorText(kCurrentError);
        logSubscription = SubscribeLog([this](const std::string& line) { logged.push_back(line); });
    }
    void TearDown() override { UnsubscribeLog(logSubscription); }
    bool Decode(const QByteArray& bytes, QImage* picture, int* width, int* height)
    {
        return LoadPlateImage(bytes.constData(), static_cast<uint32_t>(bytes.size()), "tq",
                              [picture](const ImageBitmap& bitmap) {
                                  *picture = PictureOf(bitmap);
                                  return !picture->isNull();
                              },
                              width, height);
    }
    std::vector<std::string> logged;
    int logSubscription = 0;
};

TEST_F(DecoderTest, AJpegPlateDecodesTheRightWayUpWithoutALogLine)
{
    QImage picture;
    int width = 0;
    int height = 0;
    ASSERT_TRUE(Decode(Encode(TwoBands(256, 256, QImage::Format_RGB32), "JPEG"), &picture, &width, &height))
        << ErrorText(kCurrentError);
    EXPECT_EQ(width, 256);
    EXPECT_EQ(height, 256);
    EXPECT_GT(qRed(picture.pixel(10, 10)), 180);
    EXPECT_GT(qBlue(picture.pixel(10, 250)), 180);
    EXPECT_TRUE(logged.empty()) << logged.front();
}

TEST_F(DecoderTest, GreyAndPalettePlatesAreConvertedWithOneLine)
{
    struct Case {
        QImage::Format format;
        std::string line;
    };
    const Case cases[] = {{QImage::Format_Grayscale8, "Change image colorspace from 2 to BGR"},
                          {QImage::Format_Indexed8, "Change image colorspace from 4 to BGR"}};
    for (const Case& c : cases) {
        logged.clear();
        QImage picture;
        int width = 0;
        int height = 0;
        ASSERT_TRUE(Decode(Encode(TwoBands(256, 256, c.format), "PNG"), &picture, &width, &height));
        EXPECT_EQ(logged, std::vector<std::string>{c.line});
        if (c.format == QImage::Format_Indexed8) {
            EXPECT_EQ(picture.pixel(3, 3), qRgb(230, 20, 20)) << "palette colours kept";
            EXPECT_EQ(picture.pixel(3, 200), qRgb(20, 20, 230));
        } else {
            EXPECT_EQ(qRed(picture.pixel(3, 3)), qGreen(picture.pixel(3, 3)));
        }
    }
}

TEST_F(DecoderTest, APlateOfAnotherSizeIsDrawnFromItsOwnRows)
{
    QImage picture;
    int width = 0;
    int height = 0;
    ASSERT_TRUE(Decode(Encode(TwoBands(100, 50, QImage::Format_RGB32), "PNG"), &picture, &width, &height));
    EXPECT_EQ(picture.size(), QSize(100, 50));
    EXPECT_EQ(picture.pixel(99, 0), qRgb(230, 20, 20));
    EXPECT_EQ(picture.pixel(99, 49), qRgb(20, 20, 230));
    EXPECT_EQ(logged, std::vector<std::string>{"Loaded bitmap [tq] has wrong sizes 100x50 (Tarvel has 256x256"});
}

TEST_F(DecoderTest, DataThatIsNoPictureIsRefused)
{
    QImage picture;
    int width = 0;
    int height = 0;
    const QByteArray junk("definitely not a picture");
    EXPECT_FALSE(Decode(junk, &picture, &width, &height));
    EXPECT_EQ(ErrorText(kCurrentError), "Unknown picture format");
    QByteArray cut = Encode(TwoBands(256, 256, QImage::Format_RGB32), "PNG");
    cut.truncate(cut.size() / 3);
    EXPECT_FALSE(Decode(cut, &picture, &width, &height));
}

// Pictures as verify meets them: the fast decoders answer for clean ones
// (and decode them), and the verdict on every plate is the one Qt's readers
// alone give.
enum class Verdict { Good, Undecodable, WrongSize };

struct JudgeCase {
    const char* label;
    std::function<QByteArray()> make;
    Verdict verdict;
    bool native; // the fast decoders answer (a clean picture)
};

QByteArray Cut(QByteArray bytes, double keep)
{
    bytes.truncate(static_cast<int>(bytes.size() * keep));
    return bytes;
}

// Flips bytes in the middle of the picture's data, leaving headers alone.
QByteArray Damage(QByteArray bytes)
{
    for (int i = bytes.size() / 2; i < bytes.size() / 2 + 24 && i < bytes.size(); ++i)
        bytes[i] = static_cast<char>(bytes[i] ^ 0x5A);
    return bytes;
}

QImage Noise(int width, int height, QImage::Format format)
{
    QImage picture(width, height, QImage::Format_ARGB32);
    uint32_t state = 12345;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            state = state * 1103515245u + 12345u;
            picture.setPixel(x, y, qRgba(x, y, static_cast<int>(state >> 24), y < height / 2 ? 255 : 128));
        }
    return picture.convertToFormat(format);
}

QByteArray EncodeLossless(const QImage& picture)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    picture.save(&buffer, "WEBP", 100); // 100: lossless
    return bytes;
}

const QImage& Band() { static const QImage band = TwoBands(256, 256, QImage::Format_RGB32); return band; }

const JudgeCase kJudgeCases[] = {
    {"PngRgb", [] { return Encode(Noise(256, 256, QImage::Format_RGB888), "PNG"); }, Verdict::Good, true},
    {"PngRgba", [] { return Encode(Noise(256, 256, QImage::Format_ARGB32), "PNG"); }, Verdict::Good, true},
    {"PngRgba16", [] { return Encode(Noise(256, 256, QImage::Format_RGBA64), "PNG"); }, Verdict::Good, true},
    {"PngPalette", [] { return Encode(TwoBands(256, 256, QImage::Format_Indexed8), "PNG"); }, Verdict::Good, true},
    {"PngGrey", [] { return Encode(Noise(256, 256, QImage::Format_Grayscale8), "PNG"); }, Verdict::Good, true},
    {"PngMono", [] { return Encode(TwoBands(256, 256, QImage::Format_Mono), "PNG"); }, Verdict::Good, true},
    {"PngWide", [] { return Encode(Noise(512, 256, QImage::Format_RGB888), "PNG"); }, Verdict::WrongSize, true},
    {"PngTruncated", [] { return Cut(Encode(Noise(256, 256, QImage::Format_RGB888), "PNG"), 0.6); },
     Verdict::Undecodable, false},
    {"PngDamaged", [] { return Damage(Encode(Noise(256, 256, QImage::Format_RGB888), "PNG")); },
     Verdict::Undecodable, false},
    {"JpegColour", [] { return Encode(Noise(256, 256, QImage::Format_RGB32), "JPEG"); }, Verdict::Good, true},
    {"JpegGrey", [] { return Encode(Noise(256, 256, QImage::Format_Grayscale8), "JPEG"); }, Verdict::Good, true},
    {"JpegSmall", [] { return Encode(Noise(1, 1, QImage::Format_RGB32), "JPEG"); }, Verdict::WrongSize, true},
    {"JpegTruncated", [] { return Cut(Encode(Noise(256, 256, QImage::Format_RGB32), "JPEG"), 0.5); },
     Verdict::Good, false},
    {"JpegDamaged", [] { return Damage(Encode(Noise(256, 256, QImage::Format_RGB32), "JPEG")); },
     Verdict::Good, false},
    {"JpegHeaderOnly", [] { return Cut(Encode(Band(), "JPEG"), 0.05); }, Verdict::Undecodable, false},
    {"WebpLossy", [] { return Encode(Noise(256, 256, QImage::Format_RGB32), "WEBP"); }, Verdict::Good, true},
    {"WebpAlpha", [] { return Encode(Noise(256, 256, QImage::Format_ARGB32), "WEBP"); }, Verdict::Good, true},
    {"WebpLossless", [] { return EncodeLossless(Noise(256, 256, QImage::Format_RGB32)); }, Verdict::Good, true},
    {"WebpWide", [] { return Encode(Noise(256, 512, QImage::Format_RGB32), "WEBP"); }, Verdict::WrongSize, true},
    {"WebpTruncated", [] { return Cut(Encode(Noise(256, 256, QImage::Format_RGB32), "WEBP"), 0.5); },
     Verdict::Undecodable, false},
    // Lossy WebP carries no checksum: damaged pixels decode cleanly, for both.
    {"WebpDamaged", [] { return Damage(Encode(Noise(256, 256, QImage::Format_RGB32), "WEBP")); },
     Verdict::Good, true},
    {"Bmp", [] { return Encode(Band(), "BMP"); }, Verdict::Good, false},
    {"NoPicture", [] { return QByteArray("\x89PNG but nothing more"); }, Verdict::Undecodable, false},
};

void PrintTo(const JudgeCase& c, std::ostream* out) { *out << c.label; }

Verdict VerdictOf(const ImageLibrary& decoder, const QByteArray& bytes, BrokenPlate* plate)
{
    if (!JudgePlate(decoder, bytes.constData(), static_cast<size_t>(bytes.size()), plate))
        return Verdict::Good;
    return plate->fault == PlateFault::WrongSize ? Verdict::WrongSize : Verdict::Undecodable;
}

class JudgeTest : public ::testing::TestWithParam<JudgeCase> {
protected:
    void SetUp() override { ASSERT_TRUE(LoadImageLibrary()) << ErrorText(kCurrentError); }
};

TEST_P(JudgeTest, GivesQtsVerdict)
{
    const QByteArray bytes = GetParam().make();
    ASSERT_FALSE(bytes.isEmpty());
    ImageLibrary qtAlone = ImageFunctions();
    qtAlone.DecodeToJudge = nullptr;
    BrokenPlate withQt, withBoth;
    const Verdict byQt = VerdictOf(qtAlone, bytes, &withQt);
    EXPECT_EQ(byQt, GetParam().verdict) << "Qt's readers changed their mind";
    EXPECT_EQ(VerdictOf(ImageFunctions(), bytes, &withBoth), byQt);
    EXPECT_EQ(DescribeFault(withBoth), DescribeFault(withQt));
    int32_t width = 0, height = 0;
    ASSERT_NE(ImageFunctions().DecodeToJudge, nullptr);
    EXPECT_EQ(ImageFunctions().DecodeToJudge(bytes.constData(), static_cast<size_t>(bytes.size()), &width, &height),
              GetParam().native);
}

INSTANTIATE_TEST_SUITE_P(Pictures, JudgeTest, ::testing::ValuesIn(kJudgeCases),
                         [](const ::testing::TestParamInfo<JudgeCase>& param) { return param.param.label; });

} // namespace
