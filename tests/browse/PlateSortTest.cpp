// Sorting the plate list by a column: the order, the plates' numbers going
// with them, and the selection staying with its plates.
#include "base/ListSelection.h"
#include "browse/PlateList.h"
#include "browse/PlateSort.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<std::string> Names(const PlateList& plates)
{
    std::vector<std::string> names;
    for (int i = 0; i < plates.Count(); ++i) {
        PlateItem plate;
        plates.At(i, &plate);
        names.push_back(plate.name);
    }
    return names;
}

TEST(PlateSortTest, EachColumnSortsBothWaysAndTheSelectionStaysWithItsPlates)
{
    struct Plate {
        const char* name;
        int32_t number;
        uint32_t size;
    };
    // Packed quadtree names, and the same with one text name (the slow path).
    const std::vector<Plate> quadtree = {
        {"tq", 7, 300}, {"t", 3, 100}, {"tqr", 9, 300}, {"ts", 1, 50}, {"tqq", -2, 70000}, {"r", 5, 50},
    };
    std::vector<Plate> mixed = quadtree;
    mixed.push_back({"12/3/4", 4, 1});
    const struct {
        const char* label;
        const std::vector<Plate>* plates;
        PlateSortKey key;
        bool descending;
        std::vector<std::string> expected;
    } cases[] = {
        {"name", &quadtree, PlateSortKey::Name, false, {"r", "t", "tq", "tqq", "tqr", "ts"}},
        {"name down", &quadtree, PlateSortKey::Name, true, {"ts", "tqr", "tqq", "tq", "t", "r"}},
        {"text names", &mixed, PlateSortKey::Name, false, {"12/3/4", "r", "t", "tq", "tqq", "tqr", "ts"}},
        {"text names down", &mixed, PlateSortKey::Name, true, {"ts", "tqr", "tqq", "tq", "t", "r", "12/3/4"}},
        // Ties keep their order, both ways.
        {"size", &quadtree, PlateSortKey::Size, false, {"ts", "r", "t", "tq", "tqr", "tqq"}},
        {"size down", &quadtree, PlateSortKey::Size, true, {"tqq", "tq", "tqr", "t", "ts", "r"}},
        {"level", &quadtree, PlateSortKey::Level, false, {"t", "r", "tq", "ts", "tqr", "tqq"}},
        {"level down", &quadtree, PlateSortKey::Level, true, {"tqr", "tqq", "tq", "ts", "t", "r"}},
        {"number", &quadtree, PlateSortKey::Number, false, {"tqq", "ts", "t", "r", "tq", "tqr"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        PlateList plates;
        for (const Plate& plate : *c.plates)
            plates.Append(plate.name, plate.number, plate.size);
        ListSelection selection(plates.Count());
        selection.SetSelected(0, true); // tq
        selection.SetSelected(3, true); // ts
        selection.SetFocus(2);          // tqr
        SortPlates(plates, selection, c.key, c.descending);
        const std::vector<std::string> names = Names(plates);
        EXPECT_EQ(names, c.expected);
        std::vector<std::string> selected;
        selection.ForEachSelected([&](int index) { selected.push_back(names[static_cast<std::size_t>(index)]); });
        std::sort(selected.begin(), selected.end());
        EXPECT_EQ(selected, (std::vector<std::string>{"tq", "ts"}));
        ASSERT_GE(selection.Focus(), 0);
        EXPECT_EQ(names[static_cast<std::size_t>(selection.Focus())], "tqr");
        for (int i = 0; i < plates.Count(); ++i) {
            PlateItem plate;
            plates.At(i, &plate);
            for (const Plate& original : *c.plates)
                if (plate.name == std::string(original.name)) {
                    EXPECT_EQ(plate.number, original.number) << plate.name;
                    EXPECT_EQ(plate.size, original.size) << plate.name;
                }
        }
    }
}

// Records and numbers move across the list's blocks (some of a hundred
// thousand plates each) and back.
TEST(PlateSortTest, ALongListSortsAcrossItsBlocks)
{
    PlateList plates;
    const int count = 500000;
    for (int i = 0; i < count; ++i)
        plates.Append(i % 3 == 0 ? "tq" : "t", i, static_cast<uint32_t>(count - i));
    ListSelection selection(count);
    selection.SetSelected(count - 1, true);
    SortPlates(plates, selection, PlateSortKey::Size, false);
    PlateItem plate;
    for (int i : {0, 1, count / 2, count - 1}) {
        ASSERT_TRUE(plates.At(i, &plate));
        EXPECT_EQ(plate.size, static_cast<uint32_t>(i + 1));
        EXPECT_EQ(plate.number, count - 1 - i);
        EXPECT_EQ(plate.nameLength, (count - 1 - i) % 3 == 0 ? 2 : 1);
    }
    EXPECT_EQ(selection.NextSelected(0), 0);
    EXPECT_EQ(selection.SelectedCount(), 1);
    SortPlates(plates, selection, PlateSortKey::Number, false);
    for (int i : {0, 1, count / 2, count - 1}) {
        ASSERT_TRUE(plates.At(i, &plate));
        EXPECT_EQ(plate.number, i);
    }
    EXPECT_EQ(selection.NextSelected(0), count - 1);
}

} // namespace
