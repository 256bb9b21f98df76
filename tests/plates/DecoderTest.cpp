// The real decoder (Qt's image readers behind the table) and the picture
// made from what it decodes.
#include "plates/Preview.h"
#include "plates/QtPicture.h"

#include "log/Errors.h"
#include "log/Log.h"

#include <QBuffer>
#include <QImage>

#include <gtest/gtest.h>

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

} // namespace
