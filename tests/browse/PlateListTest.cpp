// The plate list and the size text.
#include "browse/PlateList.h"
#include "browse/Selection.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(PlateListTest, NamesAreCutAndTheirLengthIsTheZoom)
{
    // Quadtree keys of up to 28 letters are packed into the record, all
    // other names and every file go to the text blocks: both read back alike.
    const std::string longName(300, 't');
    const std::string packedMost = "t" + std::string(27, 's');
    const std::string oneTooMany = packedMost + "r";
    const struct {
        const char* name;
        const char* file;
        std::string expectedName;
        int32_t number;
        uint32_t size;
    } cases[] = {
        {longName.c_str(), nullptr, std::string(260, 't'), 1, 10},
        {nullptr, nullptr, "", 2, 20},
        {"t", nullptr, "t", 3, 30},
        {"tq", nullptr, "tq", 4, 40},
        {"tqrs", nullptr, "tqrs", -5, 4294967295u},
        {packedMost.c_str(), nullptr, packedMost, 6, 60},
        {oneTooMany.c_str(), nullptr, oneTooMany, 7, 70},
        {"tqp", nullptr, "tqp", 8, 80},   // letters just outside q to t
        {"tqu", nullptr, "tqu", 9, 90},
        {"12/3/4", nullptr, "12/3/4", 10, 100},
        {"tq", "tq.jpg", "tq", 11, 110}, // a file keeps even a packable name in text
        {"tr", "", "tr", 12, 120},
        {"t\xC3\xA9", nullptr, "t\xC3\xA9", 13, 130},
    };
    PlateList plates;
    for (const auto& c : cases)
        plates.Append(c.name, c.number, c.size, c.file);
    ASSERT_EQ(plates.Count(), static_cast<int>(std::size(cases)));
    for (int i = 0; i < plates.Count(); ++i) {
        const auto& c = cases[i];
        PlateItem plate;
        ASSERT_TRUE(plates.At(i, &plate));
        EXPECT_EQ(plate.name, c.expectedName) << i;
        EXPECT_EQ(plate.nameLength, static_cast<int>(c.expectedName.size())) << i;
        EXPECT_EQ(plates.LevelAt(i), plate.nameLength) << i;
        EXPECT_EQ(plate.number, c.number) << i;
        EXPECT_EQ(plate.size, c.size) << i;
        const std::string file = c.file != nullptr ? c.file : "";
        EXPECT_EQ(plate.file, file) << i;
        EXPECT_EQ(plate.fileLength, static_cast<int>(file.size())) << i;
    }
    PlateItem none;
    EXPECT_FALSE(plates.At(plates.Count(), &none));
    EXPECT_FALSE(plates.At(-1, &none));
}

TEST(PlateListTest, HoldsManyPlatesAndKeepsItsMemoryWhenEmptied)
{
    PlateList plates;
    const int count = 300000; // several record and text blocks
    for (int i = 0; i < count; ++i)
        plates.Append(("t" + std::to_string(i)).c_str(), i, static_cast<uint32_t>(i * 3), i % 7 == 0 ? "f.jpg" : nullptr);
    ASSERT_EQ(plates.Count(), count);
    // Around the ends of record blocks (174,762 records each) and text blocks.
    for (int i : {0, 1, 65535, 65536, 123457, 174761, 174762, 262144, count - 1}) {
        PlateItem plate;
        ASSERT_TRUE(plates.At(i, &plate));
        EXPECT_EQ(plate.name, "t" + std::to_string(i));
        EXPECT_EQ(plate.number, i);
        EXPECT_EQ(plate.size, static_cast<uint32_t>(i * 3));
        EXPECT_STREQ(plate.file, i % 7 == 0 ? "f.jpg" : "");
    }
    const std::size_t held = plates.MemoryBytes();
    EXPECT_LE(held / count, 48u) << "bytes per plate";
    plates.Clear();
    EXPECT_EQ(plates.Count(), 0);
    EXPECT_EQ(plates.MemoryBytes(), held);
    // Filled again, with quadtree keys (packed) among other names.
    const auto key = [](int i) {
        std::string name = "t";
        for (int level = 0, rest = i; level < 9; ++level, rest /= 4)
            name += "qrst"[rest % 4];
        return i % 5 == 0 ? name + "x" : name;
    };
    // Numbers that count up are not stored; these count up, wrap around,
    // jump within the first block and go down in the second.
    const auto number = [](int i) {
        if (i == 1000)
            return -7;
        if (i >= 174762)
            return 500000 - i;
        return static_cast<int32_t>(static_cast<uint32_t>(INT32_MAX - 5) + static_cast<uint32_t>(i));
    };
    for (int i = 0; i < 200000; ++i)
        plates.Append(key(i).c_str(), number(i), 1);
    for (int i : {0, 1, 4, 5, 6, 999, 1000, 1001, 174761, 174762, 174763, 199999}) {
        PlateItem plate;
        ASSERT_TRUE(plates.At(i, &plate));
        EXPECT_EQ(plate.name, key(i));
        EXPECT_EQ(plate.number, number(i)) << i;
    }
}

TEST(PlateListTest, FormatSizeCutsToThreeDigits)
{
    const std::pair<uint32_t, const char*> cases[] = {
        {0, "0"},           {999, "999"},         {1000, "1.000K"},   {15360, "15.360K"}, {65536, "65.536K"},
        {999999, "999.999K"}, {1000000, "1.000M"}, {1999999, "1.999M"}, {4294967295u, "4.294G"},
    };
    for (const auto& [bytes, text] : cases)
        EXPECT_EQ(FormatSize(bytes), text) << bytes;
}

TEST(SelectionTest, AZoomRangeReplacesTheSelection)
{
    PlateList plates;
    for (const char* name : {"tqr", "tq", "tqrst", "tqrstq"})
        plates.Append(name, 0, 0);
    ListSelection selection(4);
    selection.SetSelected(1, true);
    selection.SetSelected(3, true);
    SelectZoomRange(selection, plates, 3, 5);
    EXPECT_EQ(std::vector<bool>({selection.IsSelected(0), selection.IsSelected(1), selection.IsSelected(2),
                                 selection.IsSelected(3)}),
              std::vector<bool>({true, false, true, false}));
    SelectZoomRange(selection, plates, 5, 3);
    EXPECT_EQ(selection.SelectedCount(), 0);
}

TEST(PlateListTest, FormatTotalSizeGoesPastFourGigabytes)
{
    const std::pair<uint64_t, const char*> cases[] = {
        {0, "0"}, {65536, "65.536K"}, {4294967296ull, "4.294G"}, {1234567890123ull, "1.234T"},
        {18446744073709551615ull, "18.446E"},
    };
    for (const auto& [bytes, text] : cases)
        EXPECT_EQ(FormatTotalSize(bytes), text) << bytes;
}

// 200 plates: plate i has i + 1 bytes, so a selection's total is easy to
// count by hand; the cases cross the 64-item words of the selection.
TEST(SelectionTest, TheSummaryCountsTheSelectedPlatesAndTheirBytes)
{
    PlateList plates;
    for (int i = 0; i < 200; ++i)
        plates.Append("tq", i, static_cast<uint32_t>(i + 1));
    struct Case {
        const char* what;
        int first, last; // selected range, both included; first > last selects nothing
        int selected;
        uint64_t bytes;
    };
    const Case cases[] = {
        {"nothing", 1, 0, 0, 0},
        {"one plate", 5, 5, 1, 6},
        {"a range across words", 60, 130, 71, 71 * (61 + 131) / 2},
        {"the last, short word", 192, 199, 8, 8 * (193 + 200) / 2},
        {"most, all but the first ten", 10, 199, 190, 190 * (11 + 200) / 2},
        {"all", 0, 199, 200, 200 * 201 / 2},
    };
    for (const Case& c : cases) {
        ListSelection selection(200);
        selection.SetRange(c.first, c.last, true);
        EXPECT_EQ(SummarizeSelection(plates, selection), (SelectionSummary{200, c.selected, c.bytes})) << c.what;
    }
}

TEST(SelectionTest, TheSummaryAddsPastFourGigabytesAndIgnoresItemsBeyondTheList)
{
    PlateList plates;
    for (int i = 0; i < 3; ++i)
        plates.Append("t", i, 4000000000u);
    ListSelection selection(70); // a selection longer than the list, as while a scan grows it
    selection.SelectAll();
    const SelectionSummary summary = SummarizeSelection(plates, selection);
    EXPECT_EQ(summary, (SelectionSummary{3, 3, 12000000000ull}));
    EXPECT_EQ(SummaryText(summary), "Plates: 3, selected: 3 (12.000G)");
}

} // namespace
