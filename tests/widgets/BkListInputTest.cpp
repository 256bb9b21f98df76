// Keyboard and mouse on the real control: selection rules, the click event,
// tracking, the section press event.
#include "ListFixture.h"

#include <QScrollBar>

namespace {

using Keys = std::vector<std::pair<Qt::Key, Qt::KeyboardModifiers>>;
constexpr Qt::KeyboardModifiers kNone = Qt::NoModifier;
constexpr Qt::KeyboardModifiers kShift = Qt::ShiftModifier;
constexpr Qt::KeyboardModifiers kCtrl = Qt::ControlModifier;

TEST_F(ListTest, KeysMoveTheFocusAndSelectAndClickOncePerMove)
{
    struct Case {
        const char* name;
        bool multi;
        int start; // focused item before the keys
        Keys keys;
        int focus;
        std::vector<int> selected;
        int clicks;
    };
    const Case cases[] = {
        {"down from nothing", true, -1, {{Qt::Key_Down, kNone}}, 0, {0}, 1},
        {"down twice", true, 5, {{Qt::Key_Down, kNone}, {Qt::Key_Down, kNone}}, 7, {7}, 2},
        {"up at the top", true, 0, {{Qt::Key_Up, kNone}}, 0, {}, 0},
        {"down at the end", true, 99, {{Qt::Key_Down, kNone}}, 99, {}, 0},
        {"shift extends", true, 5, {{Qt::Key_Down, kShift}, {Qt::Key_Down, kShift}, {Qt::Key_Down, kShift}}, 8,
         {5, 6, 7, 8}, 3},
        {"shift turns back over the anchor", true, 5,
         {{Qt::Key_Down, kShift}, {Qt::Key_Down, kShift}, {Qt::Key_Up, kShift}, {Qt::Key_Up, kShift},
          {Qt::Key_Up, kShift}},
         4, {4, 5}, 5},
        {"ctrl moves only the focus, ctrl space toggles", true, 5,
         {{Qt::Key_Down, kCtrl}, {Qt::Key_Down, kCtrl}, {Qt::Key_Space, kCtrl}}, 7, {7}, 3},
        {"ctrl space twice", true, 5, {{Qt::Key_Space, kCtrl}, {Qt::Key_Space, kCtrl}}, 5, {}, 2},
        {"home", true, 50, {{Qt::Key_Home, kNone}}, 0, {0}, 1},
        {"end", true, 50, {{Qt::Key_End, kNone}}, 99, {99}, 1},
        {"shift end", true, 95, {{Qt::Key_End, kShift}}, 99, {95, 96, 97, 98, 99}, 1},
        {"page down", true, 0, {{Qt::Key_PageDown, kNone}}, kVisibleRows - 1, {kVisibleRows - 1}, 1},
        {"page up", true, 50, {{Qt::Key_PageUp, kNone}}, 50 - (kVisibleRows - 1), {50 - (kVisibleRows - 1)}, 1},
        {"single down", false, 3, {{Qt::Key_Down, kNone}}, 4, {4}, 1},
        {"single shift end", false, 3, {{Qt::Key_End, kShift}}, 99, {99}, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MakeList({bkoVirtual, bkoColLines, bkoShowSelection, bkoShowBorder}, c.multi);
        list->SetItemsCount(100);
        list->SetItemIndex(c.start);
        if (c.multi)
            list->ClearSelection();
        owner.clicks = 0;
        for (const auto& [key, modifiers] : c.keys)
            QTest::keyClick(list, key, modifiers);
        EXPECT_EQ(list->ItemIndex(), c.focus);
        EXPECT_EQ(Selected(), c.selected);
        EXPECT_EQ(owner.clicks, c.clicks);
        EXPECT_FALSE(list->ItemRect(list->ItemIndex()).isEmpty()) << "the focused item is in view";
    }
}

TEST_F(ListTest, ClicksSelectByTheExtendedRules)
{
    struct Click {
        int row;
        Qt::KeyboardModifiers modifiers;
    };
    struct Case {
        const char* name;
        bool multi;
        int count;
        std::vector<Click> clicks;
        int focus;
        std::vector<int> selected;
        int fired;
    };
    const Case cases[] = {
        {"click", true, 100, {{2, kNone}}, 2, {2}, 1},
        {"click the same item again", true, 100, {{2, kNone}, {2, kNone}}, 2, {2}, 2},
        {"ctrl adds", true, 100, {{2, kNone}, {5, kCtrl}, {7, kCtrl}}, 7, {2, 5, 7}, 3},
        {"ctrl toggles off", true, 100, {{3, kCtrl}, {3, kCtrl}}, 3, {}, 2},
        {"shift range", true, 100, {{2, kNone}, {5, kShift}}, 5, {2, 3, 4, 5}, 2},
        {"shift range upwards replaces", true, 100, {{5, kNone}, {8, kShift}, {3, kShift}}, 3, {3, 4, 5}, 3},
        {"ctrl shift adds a range from the last ctrl click", true, 100,
         {{2, kNone}, {4, kShift}, {7, kCtrl}, {9, kCtrl | kShift}}, 9, {2, 3, 4, 7, 8, 9}, 4},
        {"below the items", true, 5, {{8, kNone}}, -1, {}, 0},
        {"single", false, 100, {{2, kNone}, {5, kCtrl}, {7, kShift}}, 7, {7}, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MakeList({bkoVirtual, bkoColLines, bkoShowSelection, bkoShowBorder}, c.multi);
        list->SetItemsCount(c.count);
        for (const Click& click : c.clicks)
            QTest::mouseClick(list->viewport(), Qt::LeftButton, click.modifiers, RowPoint(click.row));
        EXPECT_EQ(list->ItemIndex(), c.focus);
        EXPECT_EQ(Selected(), c.selected);
        EXPECT_EQ(owner.clicks, c.fired);
    }
}

TEST_F(ListTest, DoubleClickActsLikeOneClick)
{
    MakeList();
    list->SetItemsCount(10);
    // Through the window, so that the platform turns the second press into a double click.
    QTest::mouseDClick(window->windowHandle(), Qt::LeftButton, Qt::ControlModifier,
                       list->viewport()->mapTo(window.get(), RowPoint(3)));
    EXPECT_EQ(Selected(), std::vector<int>{3}) << "not toggled back by the second press";
    EXPECT_EQ(owner.clicks, 1);
}

TEST_F(ListTest, DraggingSelectsARangeAndScrollsPastTheEdge)
{
    MakeList();
    list->SetItemsCount(100);
    QTest::mousePress(list->viewport(), Qt::LeftButton, {}, RowPoint(1));
    QTest::mouseMove(list->viewport(), RowPoint(4));
    EXPECT_EQ(list->ItemIndex(), 4);
    EXPECT_EQ(Selected(), (std::vector<int>{1, 2, 3, 4}));
    QTest::mouseMove(list->viewport(), QPoint(30, kVisibleRows * kRowHeight + 5));
    EXPECT_EQ(list->ItemIndex(), kVisibleRows);
    EXPECT_EQ(list->TopIndex(), 1) << "dragging below the rows scrolls one row";
    QTest::mouseRelease(list->viewport(), Qt::LeftButton, {}, QPoint(30, kVisibleRows * kRowHeight + 5));
    EXPECT_EQ(list->SelectedCount(), kVisibleRows);
    EXPECT_EQ(owner.clicks, 1 + 1 + 1) << "the press and each change of the focus";
}

TEST_F(ListTest, WheelAndScrollBarMoveByRows)
{
    MakeList();
    list->SetItemsCount(1000);
    QScrollBar* bar = list->verticalScrollBar();
    EXPECT_EQ(bar->maximum(), 1000 - kVisibleRows);
    EXPECT_EQ(bar->pageStep(), kVisibleRows);
    bar->setValue(40);
    EXPECT_EQ(list->TopIndex(), 40);
    EXPECT_EQ(list->ItemAt(RowPoint(0)), 40);
    QWheelEvent wheel(QPointF(30, 30), list->viewport()->mapToGlobal(QPointF(30, 30)), QPoint(), QPoint(0, -120),
                      Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(list->viewport(), &wheel);
    EXPECT_GT(list->TopIndex(), 40);
    EXPECT_EQ(owner.clicks, 0) << "scrolling moves no focus";
}

TEST_F(ListTest, TrackingFollowsTheMouse)
{
    MakeList({bkoVirtual, bkoColLines, bkoShowSelection, bkoTrackItem});
    list->SetItemsCount(5);
    Hover(RowPoint(1));
    Hover(RowPoint(3));
    Hover(RowPoint(3, 100));
    Hover(RowPoint(7)); // below the items
    EXPECT_EQ(owner.tracked, (std::vector<int>{1, 3}));
    EXPECT_EQ(list->TrackedItem(), -1);
    Hover(RowPoint(2));
    EXPECT_EQ(list->TrackedItem(), 2);
    EXPECT_GE(owner.enters, 1);
    HoverWindow(QPoint(650, 380)); // out of the list
    EXPECT_EQ(list->TrackedItem(), -1);
    EXPECT_GE(owner.leaves, 1);

    list->SetOptions({bkoVirtual, bkoColLines});
    Hover(RowPoint(2));
    EXPECT_EQ(list->TrackedItem(), -1) << "without bkoTrackItem nothing is tracked";
}

struct SectionPresses {
    std::vector<std::pair<int, int>> seen; // (section, focused item)
    int handledSection = -1;
    void Press(CustomBkList*, int focused, bool& handled, QPoint, int section, Qt::KeyboardModifiers, Qt::MouseButton)
    {
        seen.push_back({section, focused});
        handled = section == handledSection;
    }
};

TEST_F(ListTest, SectionPressFindsTheSectionAndMayStopThePress)
{
    MakeList();
    list->SetItemsCount(20);
    SectionPresses presses;
    presses.handledSection = 1;
    list->OnSectionMouseDown = CustomBkList::SectionMouseEvent::Bind<&SectionPresses::Press>(&presses);

    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, RowPoint(3, 60));
    EXPECT_TRUE(presses.seen.empty()) << "no focused item yet: the press selects";
    EXPECT_EQ(list->ItemIndex(), 3);
    // Both ends of a span belong to it: x 60 is section 0's right end.
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, RowPoint(5, 60));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, RowPoint(6, 61));
    EXPECT_EQ(presses.seen, (std::vector<std::pair<int, int>>{{0, 3}, {1, 5}}));
    EXPECT_EQ(list->ItemIndex(), 5) << "the handled press changed nothing";
    EXPECT_EQ(Selected(), std::vector<int>{5});
    EXPECT_EQ(list->SectionAt(479), 4);
    EXPECT_EQ(list->SectionAt(481), -1);
}

} // namespace
