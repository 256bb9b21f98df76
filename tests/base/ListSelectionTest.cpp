// The selection store against a plain vector<bool> model: random operations
// over sizes around the 64-bit word edges must leave both in the same state.
#include "base/ListSelection.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

namespace {

struct Model {
    std::vector<bool> bits;
    int focus = -1;
    int anchor = -1;

    int Count() const { return static_cast<int>(bits.size()); }
    int Selected() const { return static_cast<int>(std::count(bits.begin(), bits.end(), true)); }
    void Clamp()
    {
        if (focus >= Count())
            focus = -1;
        if (anchor >= Count())
            anchor = -1;
    }
};

void ExpectSame(const ListSelection& s, const Model& m, const char* step)
{
    SCOPED_TRACE(step);
    ASSERT_EQ(s.Count(), m.Count());
    ASSERT_EQ(s.SelectedCount(), m.Selected());
    EXPECT_EQ(s.Focus(), m.focus);
    EXPECT_EQ(s.Anchor(), m.anchor);
    std::vector<int> walked;
    s.ForEachSelected([&](int i) { walked.push_back(i); });
    std::vector<int> expected;
    for (int i = 0; i < m.Count(); ++i) {
        ASSERT_EQ(s.IsSelected(i), m.bits[i]) << "item " << i;
        if (m.bits[i])
            expected.push_back(i);
    }
    EXPECT_EQ(walked, expected);
    EXPECT_FALSE(s.IsSelected(-1));
    EXPECT_FALSE(s.IsSelected(m.Count()));
}

TEST(ListSelectionTest, RandomOperationsMatchAPlainModel)
{
    std::mt19937 rng(20240517);
    for (int size : {0, 1, 63, 64, 65, 127, 128, 129, 700}) {
        SCOPED_TRACE(size);
        ListSelection s(size);
        Model m;
        m.bits.assign(size, false);
        const auto pick = [&](int spread) {
            return std::uniform_int_distribution<int>(-2, std::max(m.Count() + spread, 0))(rng);
        };
        for (int step = 0; step < 400; ++step) {
            const int op = std::uniform_int_distribution<int>(0, 10)(rng);
            const int a = pick(2);
            const int b = pick(2);
            switch (op) {
            case 0: {
                const bool on = rng() & 1;
                EXPECT_EQ(s.SetSelected(a, on), a >= 0 && a < m.Count());
                if (a >= 0 && a < m.Count())
                    m.bits[a] = on;
                ExpectSame(s, m, "SetSelected");
                break;
            }
            case 1: {
                const bool on = rng() & 1;
                s.SetRange(a, b, on);
                for (int i = std::max(a, 0); i <= std::min(b, m.Count() - 1); ++i)
                    m.bits[i] = on;
                ExpectSame(s, m, "SetRange");
                break;
            }
            case 2:
                s.SelectAll();
                std::fill(m.bits.begin(), m.bits.end(), true);
                ExpectSame(s, m, "SelectAll");
                break;
            case 3:
                s.ClearAll();
                std::fill(m.bits.begin(), m.bits.end(), false);
                ExpectSame(s, m, "ClearAll");
                break;
            case 4:
                s.Invert();
                m.bits.flip();
                ExpectSame(s, m, "Invert");
                break;
            case 5: {
                const int k = (a & 3) + 2;
                s.SelectWhere([k](int i) { return i % k == 1; });
                for (int i = 0; i < m.Count(); ++i)
                    m.bits[i] = i % k == 1;
                ExpectSame(s, m, "SelectWhere");
                break;
            }
            case 6: {
                // Resize around the original size, never far from it.
                const int count = std::max(0, size + (a % 70) - 35);
                s.Resize(count);
                m.bits.resize(count, false);
                m.Clamp();
                ExpectSame(s, m, "Resize");
                break;
            }
            case 7:
                s.SetFocus(a);
                s.SetAnchor(b);
                m.focus = a >= 0 && a < m.Count() ? a : -1;
                m.anchor = b >= 0 && b < m.Count() ? b : -1;
                ExpectSame(s, m, "SetFocus/SetAnchor");
                break;
            case 8:
                s.Insert(a);
                if (a >= 0 && a <= m.Count()) {
                    m.bits.insert(m.bits.begin() + a, false);
                    if (m.focus >= a)
                        ++m.focus;
                    if (m.anchor >= a)
                        ++m.anchor;
                }
                ExpectSame(s, m, "Insert");
                break;
            case 9:
                s.Erase(a);
                if (a >= 0 && a < m.Count()) {
                    m.bits.erase(m.bits.begin() + a);
                    m.focus = m.focus == a ? -1 : m.focus > a ? m.focus - 1 : m.focus;
                    m.anchor = m.anchor == a ? -1 : m.anchor > a ? m.anchor - 1 : m.anchor;
                }
                ExpectSame(s, m, "Erase");
                break;
            default: {
                // Walk from a random point, as the export's loop does.
                int expected = -1;
                for (int i = std::max(a, 0); i < m.Count(); ++i)
                    if (m.bits[i]) {
                        expected = i;
                        break;
                    }
                EXPECT_EQ(s.NextSelected(a), expected) << "from " << a;
                break;
            }
            }
        }
    }
}

TEST(ListSelectionTest, WalkThatDeselectsEverySelectedItemEndsEmpty)
{
    ListSelection s(10'000);
    s.SelectWhere([](int i) { return i % 7 == 0 || i % 64 == 63; });
    int visited = 0;
    for (int i = s.NextSelected(0); i >= 0; i = s.NextSelected(i + 1)) {
        s.SetSelected(i, false);
        ++visited;
    }
    EXPECT_EQ(s.SelectedCount(), 0);
    EXPECT_EQ(s.NextSelected(0), -1);
    EXPECT_GT(visited, 1428);
}

TEST(ListSelectionTest, ShrinkingDropsStatesBeyondTheEndAndGrowingAddsUnselected)
{
    ListSelection s(200);
    s.SelectAll();
    s.SetFocus(150);
    s.SetAnchor(99);
    s.Resize(100);
    EXPECT_EQ(s.SelectedCount(), 100);
    EXPECT_EQ(s.Focus(), -1);
    EXPECT_EQ(s.Anchor(), 99);
    s.Resize(300);
    EXPECT_EQ(s.SelectedCount(), 100) << "items that come back start unselected";
    EXPECT_FALSE(s.IsSelected(150));
    s.Resize(-5);
    EXPECT_EQ(s.Count(), 0);
    EXPECT_EQ(s.SelectedCount(), 0);
    EXPECT_EQ(s.Anchor(), -1);
}

} // namespace
