// The other drawing and layout modes: row events without sections, cell
// backgrounds, columnar flow, variable row heights, the flat border, the count
// taken from OnGetCount.
#include "ListFixture.h"

namespace {

constexpr ColorRef kRed = Rgb(255, 0, 0);

struct RowPainter {
    std::vector<std::pair<int, QRect>> rows;
    int heightBase = 10;
    bool Background(CustomBkList*, QPainter& canvas, unsigned, const QRect& rect, int)
    {
        canvas.fillRect(rect, QColor(255, 0, 0));
        return true;
    }
    bool Item(CustomBkList*, QPainter&, unsigned, const QRect& rect, int index)
    {
        rows.push_back({index, rect});
        return true;
    }
    bool CellBackground(CustomBkList*, QPainter& canvas, unsigned, const QRect& rect, int, int)
    {
        canvas.fillRect(rect, QColor(255, 0, 0));
        return true;
    }
    int Measure(CustomBkList*, int index) { return heightBase + (index % 3) * 5; }
    int count = 0;
    int GetCount(CustomBkList*) { return count; }
};

TEST_F(ListTest, RowEventsDrawWithoutSections)
{
    MakeList({bkoVirtual, bkoShowSelection}, true, false);
    RowPainter painter;
    list->OnDrawItemBk = CustomBkList::DrawItemEvent::Bind<&RowPainter::Background>(&painter);
    list->OnDrawItem = CustomBkList::DrawItemEvent::Bind<&RowPainter::Item>(&painter);
    list->SetItemsCount(3);
    const QImage image = Shot();
    ASSERT_EQ(painter.rows.size(), 3u);
    EXPECT_EQ(painter.rows[2].second, QRect(0, 2 * kRowHeight, list->viewport()->width(), kRowHeight));
    EXPECT_EQ(At(image, 100, 2 * kRowHeight + 8), kRed);
    EXPECT_EQ(At(image, 100, 3 * kRowHeight + 8), kWhite) << "below the rows: the background colour";
    EXPECT_EQ(owner.cellCalls, 0);
}

TEST_F(ListTest, CellBackgroundsLeaveTheRestOfTheRowToTheDefaultFill)
{
    MakeList({bkoVirtual, bkoShowSelection});
    RowPainter painter;
    list->OnDrawItemSectionBk = CustomBkList::DrawSectionEvent::Bind<&RowPainter::CellBackground>(&painter);
    list->OnDrawItemBk = CustomBkList::DrawItemEvent::Bind<&RowPainter::Background>(&painter);
    list->SetItemsCount(3);
    list->SetSelected(1, true);
    const QImage image = Shot();
    EXPECT_EQ(At(image, 470, 8), kRed) << "inside the last section";
    EXPECT_EQ(At(image, 500, 8), kWhite) << "past the last section; the row event is not used with cell events";
    EXPECT_EQ(At(image, 500, kRowHeight + 8), BlendColor(kWhite, kHighlight, 2)) << "a selected row's rest";
}

TEST_F(ListTest, ColumnarListFlowsItemsIntoColumns)
{
    MakeList({bkoVirtual, bkoColumnar, bkoColLines, bkoShowSelection});
    RowPainter painter;
    list->OnDrawItem = CustomBkList::DrawItemEvent::Bind<&RowPainter::Item>(&painter);
    list->SetColumnWidth(100);
    list->SetItemsCount(100);
    EXPECT_EQ(list->ItemRect(23), QRect(200, 3 * kRowHeight, 100, kRowHeight));
    EXPECT_EQ(list->ItemAt(QPoint(250, 3 * kRowHeight + 2)), 23);
    const QImage image = Shot();
    EXPECT_EQ(owner.cellCalls, 0) << "header sections are not used in columns";
    EXPECT_EQ(At(image, 99, 8), BlendColor(kWhite, kGrid, 2)) << "line on the row's right edge";
    EXPECT_EQ(At(image, 98, 8), kWhite);

    list->SetItemIndex(23);
    QTest::keyClick(list, Qt::Key_Right);
    EXPECT_EQ(list->ItemIndex(), 33);
    QTest::keyClick(list, Qt::Key_End);
    EXPECT_FALSE(list->ItemRect(99).isEmpty()) << "scrolled to the last column";
    EXPECT_EQ(list->TopIndex(), 50);

    // Back to rows: count, focus and top survive.
    list->SetOptions({bkoVirtual, bkoColLines, bkoShowSelection});
    EXPECT_EQ(list->ItemsCount(), 100);
    EXPECT_EQ(list->ItemIndex(), 99);
}

TEST_F(ListTest, VariableRowHeights)
{
    MakeList({bkoVirtual, bkoVariableHeight, bkoShowSelection}, true, false);
    RowPainter painter; // heights 10, 15, 20, 10, ...
    list->OnMeasureItem = Delegate<int(CustomBkList*, int)>::Bind<&RowPainter::Measure>(&painter);
    list->SetItemsCount(30);
    EXPECT_EQ(list->ItemRect(3), QRect(0, 45, list->viewport()->width(), 10));
    EXPECT_EQ(list->ItemAt(QPoint(5, 12)), 1);
    EXPECT_EQ(list->ItemAt(QPoint(5, 44)), 2);
    list->SetItemIndex(29);
    const QRect last = list->ItemRect(29);
    ASSERT_FALSE(last.isEmpty());
    EXPECT_LE(last.bottom(), list->viewport()->height() - 1) << "the last row shows whole";
    QTest::keyClick(list, Qt::Key_Home);
    EXPECT_EQ(list->TopIndex(), 0);
}

TEST_F(ListTest, FlatBorderShowsOnlyUnderTheMouse)
{
    MakeList({bkoVirtual, bkoShowBorder, bkoFlat});
    list->SetItemsCount(3);
    HoverWindow(QPoint(650, 380));
    EXPECT_EQ(list->frameStyle(), QFrame::NoFrame);
    Hover(RowPoint(1));
    EXPECT_NE(list->frameStyle(), QFrame::NoFrame);
    HoverWindow(QPoint(650, 380));
    EXPECT_EQ(list->frameStyle(), QFrame::NoFrame);
    list->SetOptions({bkoVirtual});
    EXPECT_EQ(list->frameStyle(), QFrame::NoFrame);
}

TEST_F(ListTest, VirtualCountFromOnGetCount)
{
    MakeList();
    RowPainter painter;
    painter.count = 42;
    list->SetItemsCount(7);
    list->OnGetCount = Delegate<int(CustomBkList*)>::Bind<&RowPainter::GetCount>(&painter);
    list->RefreshCount();
    EXPECT_EQ(list->ItemsCount(), 42);
    // Leaving and entering virtual mode takes the count again.
    list->SetOptions({bkoColLines});
    EXPECT_EQ(list->ItemsCount(), 0) << "no texts";
    painter.count = 5;
    list->SetOptions({bkoVirtual, bkoColLines});
    EXPECT_EQ(list->ItemsCount(), 5);
}

} // namespace
