// Window bounds as stored, fitted to the usable screen area.
#include "config/TreeConfig.h"
#include "config/WindowBounds.h"

#include <gtest/gtest.h>

namespace {

TEST(PlacementTest, StoredBoundsAreFittedToTheScreen)
{
    struct Case {
        const char* what;
        int x, y, w, h, state;
        bool hasBounds;
        WindowBounds expected;
    };
    const Case cases[] = {
        {"inside", 10, 20, 800, 600, 0, true, {10, 20, 800, 600}},
        {"beyond the right edge", 5000, 20, 800, 600, 0, true, {224, 20, 800, 600}},
        {"beyond the bottom edge", 10, 900, 800, 600, 0, true, {10, 168, 800, 600}},
        {"wider and higher than the screen", 0, 0, 2000, 1000, 0, true, {0, 0, 1024, 768}},
        {"exactly at the edge", 1024, 768, 100, 100, 0, true, {1024, 768, 100, 100}},
        {"missing width", 10, 20, -1, 600, 0, false, {}},
        {"maximised", 5000, 20, 800, 600, 2, false, {}},
        {"state in the low byte", 10, 20, 800, 600, 0x100, true, {10, 20, 800, 600}},
    };
    for (const Case& c : cases) {
        TreeConfig tree;
        ConfigItem& item = *tree.Root()->Item("Window");
        WritePlacement(item, WindowBounds{c.x, c.y, c.w, c.h}, c.state);
        StoredPlacement placement = ReadPlacement(item, 1024, 768);
        EXPECT_EQ(placement.hasBounds, c.hasBounds) << c.what;
        EXPECT_EQ(placement.state, c.state & 0xFF) << c.what;
        if (c.hasBounds) {
            EXPECT_EQ(placement.bounds, c.expected) << c.what;
        }
    }
}

TEST(PlacementTest, KeysAreWrittenInOrderAndMissingOnesCreated)
{
    TreeConfig tree;
    ConfigItem& item = *tree.Root()->Item("Window");
    StoredPlacement placement = ReadPlacement(item, 1024, 768);
    EXPECT_FALSE(placement.hasBounds);
    ASSERT_EQ(item.Count(), 5);
    const char* names[] = {"X", "Y", "W", "H", "WindowState"};
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(item.Child(i)->Name(), names[i]);
        EXPECT_EQ(item.Child(i)->Type(), TypeInt);
    }
    EXPECT_EQ(item.ReadInt("X", 0), -1);
    EXPECT_EQ(item.ReadInt("WindowState", 5), 0);
}

} // namespace
