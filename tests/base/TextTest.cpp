// Bounded texts: cuts keep whole UTF-8 characters.
#include "base/Text.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

TEST(TextTest, CopyBoundedCutsToTheRoom)
{
    char buffer[kTextRoom];
    const std::string longText(300, 'a');
    CopyBounded(buffer, longText.c_str(), sizeof buffer);
    EXPECT_EQ(std::string(buffer), std::string(260, 'a'));

    std::strcpy(buffer, "old");
    CopyBounded(buffer, nullptr, sizeof buffer);
    EXPECT_STREQ(buffer, "");
    std::strcpy(buffer, "old");
    CopyBounded(buffer, "new", 0);
    EXPECT_STREQ(buffer, "old") << "a room of 0 has no place for a terminator";
    CopyBounded(nullptr, "new", 10); // does nothing, and does not crash
    CopyBounded(buffer, "abc", 3);
    EXPECT_STREQ(buffer, "ab");
}

TEST(TextTest, CutsNeverSplitAUtf8Character)
{
    // "é" is two bytes, "€" three.
    EXPECT_EQ(Bounded("aé", 2), "a");
    EXPECT_EQ(Bounded("aé", 3), "aé");
    EXPECT_EQ(Bounded("€€", 4), "€");
    EXPECT_EQ(Bounded("€€", 5), "€");
    EXPECT_EQ(Bounded("€€", 6), "€€");
    char buffer[4];
    CopyBounded(buffer, "a€", sizeof buffer);
    EXPECT_STREQ(buffer, "a");
    EXPECT_EQ(Bounded(std::string(259, 'a') + "é"), std::string(259, 'a'));
}

TEST(TextTest, CompareTexts)
{
    struct Case {
        const char* a;
        const char* b;
        int count;
        bool ignoreCase;
        int expected;
    };
    const Case cases[] = {
        {"abc", "abc", -1, false, 0},  {"abc", "abd", -1, false, -1}, {"abd", "abc", -1, false, 1},
        {"ABC", "abc", -1, false, -1}, {"ABC", "abc", -1, true, 0},   {"abcx", "abcy", 3, false, 0},
        {"ab", "abc", -1, false, -1},  {nullptr, "a", -1, false, -1}, {"a", nullptr, -1, false, 1},
        {nullptr, nullptr, -1, false, 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(CompareTexts(c.a, c.b, c.count, c.ignoreCase), c.expected)
            << (c.a ? c.a : "null") << " / " << (c.b ? c.b : "null");
}

TEST(TextTest, FormatHasNoLengthLimit)
{
    const std::string longText(5000, 'z');
    EXPECT_EQ(Format("<%s>", longText.c_str()), "<" + longText + ">");
    EXPECT_EQ(Format("%d-%s", 7, "x"), "7-x");
}

} // namespace
