// Count, focus, the click event, forced selection, update brackets and the
// item texts of lists that are not virtual.
#include "ListFixture.h"

#include <QEvent>
#include <QScrollBar>

namespace {

TEST_F(ListTest, NewCountKeepsFocusAndTopRowWhileTheyExist)
{
    struct Case {
        const char* name;
        int count;
        int focus;
        int top;
        int newCount;
        int expectedFocus;
        int expectedTop;
        int expectedClicks;
    };
    const Case cases[] = {
        {"grow", 1000, 500, 495, 2000, 500, 495, 0},
        {"shrink above focus", 1000, 500, 495, 600, 500, 495, 0},
        {"same count", 1000, 500, 495, 1000, 500, 495, 0},
        {"focus goes away", 1000, 500, 480, 499, -1, 480, 1},
        {"top row goes away", 1000, 500, 495, 300, -1, 300 - kVisibleRows, 1},
        {"empty", 1000, 7, 3, 0, -1, 0, 1},
        {"tens of millions", 10'000'000, 9'999'990, 9'999'985, 10'000'001, 9'999'990, 9'999'985, 0},
    };
    MakeList();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        list->SetItemsCount(0);
        list->SetItemsCount(c.count);
        list->SetItemIndex(c.focus);
        list->SetTopIndex(c.top);
        ASSERT_EQ(list->TopIndex(), c.top);
        owner.clicks = 0;
        list->SetItemsCount(c.newCount);
        EXPECT_EQ(list->ItemsCount(), c.newCount);
        EXPECT_EQ(list->ItemIndex(), c.expectedFocus);
        EXPECT_EQ(list->TopIndex(), c.expectedTop);
        EXPECT_EQ(list->verticalScrollBar()->value(), c.expectedTop);
        EXPECT_EQ(owner.clicks, c.expectedClicks);
        EXPECT_EQ(list->UpdateCount(), 0);
    }
}

TEST_F(ListTest, NewCountKeepsTheSelectionOfTheItemsThatRemain)
{
    MakeList();
    list->SetItemsCount(200);
    list->SetSelectedRange(90, 110, true);
    list->SetItemsCount(100);
    EXPECT_EQ(list->SelectedCount(), 10);
    list->SetItemsCount(200);
    EXPECT_EQ(list->SelectedCount(), 10);
    EXPECT_FALSE(list->IsSelected(105));
}

TEST_F(ListTest, ItemIndexFiresTheClickOnceWhenItChanges)
{
    struct Step {
        int assign;
        int expectedIndex;
        int expectedClicks; // total so far
    };
    const Step steps[] = {
        {5, 5, 1},  {5, 5, 1},     // the same value: no click
        {9, 9, 2},  {10, 9, 2},    // out of range: refused
        {-2, 9, 2}, {-1, -1, 3},   // -1 clears the focus
        {0, 0, 4},
    };
    MakeList();
    list->SetItemsCount(10);
    for (const Step& s : steps) {
        list->SetItemIndex(s.assign);
        EXPECT_EQ(list->ItemIndex(), s.expectedIndex) << "after " << s.assign;
        EXPECT_EQ(owner.clicks, s.expectedClicks) << "after " << s.assign;
    }
    // A focused item far down is scrolled into view.
    list->SetItemsCount(1000);
    list->SetItemIndex(900);
    EXPECT_FALSE(list->ItemRect(900).isEmpty());
}

TEST_F(ListTest, SingleSelectionSelectsTheFocusedItem)
{
    MakeList({bkoVirtual, bkoColLines, bkoShowSelection}, false);
    list->SetItemsCount(50);
    list->SetItemIndex(4);
    EXPECT_EQ(Selected(), std::vector<int>{4});
    list->SetItemIndex(30);
    EXPECT_EQ(Selected(), std::vector<int>{30});
    list->SetItemIndex(-1);
    EXPECT_TRUE(Selected().empty());
}

TEST_F(ListTest, ForcedSelectionAlwaysHasAFocusedItem)
{
    // The plugins editor's list.
    MakeList({bkoVirtual, bkoColLines, bkoShowSelection, bkoForceSelection}, false);
    EXPECT_EQ(list->ItemIndex(), -1);
    list->SetItemsCount(3);
    EXPECT_EQ(list->ItemIndex(), 0) << "focused as soon as there are items";
    EXPECT_EQ(owner.clicks, 1);
    EXPECT_EQ(Selected(), std::vector<int>{0});
    list->SetItemIndex(2);
    list->SetItemIndex(-1);
    EXPECT_EQ(list->ItemIndex(), 0);
    list->SetItemIndex(2);
    list->SetItemsCount(2);
    EXPECT_EQ(list->ItemIndex(), 0) << "the focused item went away";
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, RowPoint(5));
    EXPECT_EQ(list->ItemIndex(), 0) << "a click below the items keeps the focus";
    list->SetItemsCount(0);
    EXPECT_EQ(list->ItemIndex(), -1);

    // The option implies that the selection is shown.
    list->SetOptions({bkoVirtual, bkoForceSelection});
    EXPECT_TRUE(list->HasOption(bkoShowSelection));
}

TEST_F(ListTest, UpdateBracketsRepaintOnceAtTheEnd)
{
    MakeList();
    list->SetItemsCount(1000);
    QApplication::processEvents();
    int paints = 0;
    struct Counter : QObject {
        int* paints;
        explicit Counter(int* p) : paints(p) {}
        bool eventFilter(QObject*, QEvent* event) override
        {
            if (event->type() == QEvent::Paint)
                ++*paints;
            return false;
        }
    } counter(&paints);
    list->viewport()->installEventFilter(&counter);

    list->BeginUpdate();
    list->BeginUpdate();
    list->SelectAll();
    list->SetSelected(3, false);
    list->SetItemsCount(2000);
    list->SetTopIndex(500);
    list->EndUpdate();
    QApplication::processEvents();
    EXPECT_EQ(paints, 0) << "still inside the outer bracket";
    list->EndUpdate();
    QApplication::processEvents();
    EXPECT_EQ(paints, 1);
    EXPECT_EQ(list->UpdateCount(), 0);
    list->EndUpdate(); // unbalanced: stays at 0
    EXPECT_EQ(list->UpdateCount(), 0);
    list->viewport()->removeEventFilter(&counter);
}

TEST_F(ListTest, DestroyedHeaderIsUnbound)
{
    MakeList();
    list->SetItemsCount(20);
    ASSERT_EQ(list->Header(), header);
    EXPECT_EQ(header->parentWidget(), list);
    EXPECT_EQ(header->geometry().bottom() + 1, list->viewport()->geometry().top()) << "header sits on the rows";
    delete header;
    EXPECT_EQ(list->Header(), nullptr);
    owner.cellCalls = 0;
    (void)Shot();
    EXPECT_EQ(owner.cellCalls, 0) << "no sections, no cells";
    EXPECT_EQ(list->viewport()->geometry().top(), list->frameWidth());
}

TEST_F(ListTest, HeaderFollowsHorizontalScrollingAndEnabling)
{
    MakeList();
    list->SetItemsCount(20);
    list->resize(300, list->height()); // narrower than the sections (480)
    QApplication::processEvents();
    QScrollBar* bar = list->horizontalScrollBar();
    ASSERT_GT(bar->maximum(), 0);
    bar->setValue(120);
    EXPECT_EQ(header->offset(), 120);
    EXPECT_EQ(list->SectionAt(0), 2) << "x 0 is at 120 in the header: the Size column";
    list->setEnabled(false);
    EXPECT_FALSE(header->isEnabled());
    list->setEnabled(true);
    EXPECT_TRUE(header->isEnabled());
}

TEST_F(ListTest, TextItemsLogStyleAndLimitedSize)
{
    struct Case {
        const char* name;
        BkListOptions options;
        bool sorted;
        int limit;
        QStringList adds;
        QStringList expected;
        std::vector<int> removed;
        int focus;
    };
    const QStringList four = {"1", "2", "3", "4"};
    const Case cases[] = {
        {"plain", {}, false, 0, four, four, {}, -1},
        {"sorted", {}, true, 0, {"b", "a", "c", "a"}, {"a", "a", "b", "c"}, {}, -1},
        {"log at the top", {bkoLogStyle}, true, 0, four, {"4", "3", "2", "1"}, {}, -1},
        {"log at the end", {bkoLogStyle, bkoNewLogAtEnd}, false, 0, four, four, {}, -1},
        {"limit drops the first", {bkoLimitedSize, bkoRemoveOnLimitExceed}, false, 2, four, {"3", "4"}, {0, 0}, -1},
        {"log at the top drops the last",
         {bkoLogStyle, bkoLimitedSize, bkoRemoveOnLimitExceed}, false, 2, four, {"4", "3"}, {1, 1}, -1},
        {"full list refuses", {bkoLimitedSize}, false, 2, four, {"1", "2"}, {}, -1},
        {"log focuses the new item", {bkoLogStyle, bkoAutoScrollToLastUsed}, false, 0, four, {"4", "3", "2", "1"}, {}, 0},
        {"log at the end focuses the new item",
         {bkoLogStyle, bkoNewLogAtEnd, bkoAutoScrollToLastUsed}, false, 0, four, four, {}, 3},
    };
    MakeList({}, false, false);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        owner.removed.clear();
        list->SetOptions(c.options);
        list->SetItems({});
        list->SetSorted(c.sorted);
        list->SetItemsLimit(c.limit);
        for (const QString& text : c.adds)
            list->AddItem(text);
        EXPECT_EQ(list->Items(), c.expected);
        EXPECT_EQ(list->ItemsCount(), c.expected.size());
        EXPECT_EQ(owner.removed, c.removed);
        EXPECT_EQ(list->ItemIndex(), c.focus);
        EXPECT_EQ(list->Sorted(), c.sorted && !c.options.Has(bkoLogStyle));
    }
}

TEST_F(ListTest, TextItemsFocusAndLimitChanges)
{
    MakeList({bkoForceSelection, bkoLimitedSize, bkoRemoveOnLimitExceed}, false, false);
    list->SetItems({"a", "b", "c", "d", "e"});
    EXPECT_EQ(list->ItemIndex(), 0);
    list->SetItemIndex(2);
    list->DeleteItem(2);
    EXPECT_EQ(list->Items(), (QStringList{"a", "b", "d", "e"}));
    EXPECT_EQ(list->ItemIndex(), 2) << "the next item takes the focus";
    list->SetItemIndex(3);
    list->DeleteItem(3);
    EXPECT_EQ(list->ItemIndex(), 2) << "the last item went: the new last one";
    list->InsertItem(0, "z");
    EXPECT_EQ(list->ItemIndex(), 3) << "the focus stays on its item";
    list->SetItemsLimit(2);
    EXPECT_EQ(list->Items(), (QStringList{"b", "d"}));
    EXPECT_EQ(owner.removed, (std::vector<int>{0, 0}));
    EXPECT_EQ(list->AddItem("x"), 1);
    EXPECT_EQ(list->Items(), (QStringList{"d", "x"})) << "never more than the limit";
    list->SetOptions({bkoVirtual});
    EXPECT_EQ(list->AddItem("y"), -1) << "a virtual list holds no texts";
}

TEST_F(ListTest, CountOfATextListCutsOrPadsTheTexts)
{
    MakeList({}, false, false);
    list->SetItems({"a", "b", "c"});
    list->SetItemsCount(5);
    EXPECT_EQ(list->Items(), (QStringList{"a", "b", "c", "", ""}));
    list->SetItemsCount(1);
    EXPECT_EQ(list->Items(), QStringList{"a"});
}

} // namespace
