// Colour values and the blend rule the list draws selection and grid with.
#include "widgets/ColorRef.h"

#include <gtest/gtest.h>

namespace {

TEST(ColorRefTest, ChannelsByByte)
{
    // The grid colour of both lists of the program.
    EXPECT_EQ(RedOf(12615680), 0);
    EXPECT_EQ(GreenOf(12615680), 128);
    EXPECT_EQ(BlueOf(12615680), 192);
    EXPECT_EQ(Rgb(0, 64, 128), 8404992u);
    EXPECT_TRUE(IsSystemColor(clHighlight));
    EXPECT_EQ(SystemColorIndex(clHighlight), 13);
    EXPECT_FALSE(IsSystemColor(0xFFFFFF));
}

TEST(ColorRefTest, Blend)
{
    struct Case {
        ColorRef base;
        ColorRef color;
        int weight;
        ColorRef expected;
    };
    const ColorRef white = Rgb(255, 255, 255);
    const Case cases[] = {
        // Window white with the plugins editor's highlight: the row and its frame.
        {white, Rgb(0, 64, 128), 2, Rgb(128, 160, 192)},
        {white, Rgb(0, 64, 128), 8, Rgb(32, 88, 144)},
        // Halves round up.
        {Rgb(0, 0, 0), Rgb(1, 3, 255), 2, Rgb(1, 2, 128)},
        {Rgb(10, 20, 30), Rgb(200, 100, 0), 0, Rgb(10, 20, 30)},
        {Rgb(10, 20, 30), Rgb(200, 100, 0), 9, Rgb(200, 100, 0)},
        {Rgb(10, 20, 30), Rgb(200, 100, 0), 40, Rgb(200, 100, 0)},
        {Rgb(10, 20, 30), Rgb(200, 100, 0), -3, Rgb(10, 20, 30)},
        // Weight 1 is all base; the rounding term must not carry into the next channel.
        {white, Rgb(0, 0, 0), 1, white},
        // Full channels stay full at every weight.
        {white, white, 3, white},
        {white, white, 7, white},
    };
    for (const Case& c : cases)
        EXPECT_EQ(BlendColor(c.base, c.color, c.weight), c.expected)
            << std::hex << c.base << " + " << c.color << " @" << std::dec << c.weight;
}

} // namespace
