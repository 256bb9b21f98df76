// What the control paints: grid lines at each cell edge, selection colours by
// the blend rule, the frames, section texts of text lists, and the cost of a
// viewport at either end of ten million items.
#include "ListFixture.h"

namespace {

constexpr ColorRef kYellow = Rgb(255, 255, 0);

std::vector<int> CellRightEdges()
{
    std::vector<int> edges;
    int x = 0;
    for (int width : kSectionWidths)
        edges.push_back((x += width) - 1);
    return edges;
}

TEST_F(ListTest, ColumnLinesAtTheLastPixelOfEveryCellAndRepaintOnResize)
{
    MakeList();
    list->SetItemsCount(20);
    const ColorRef grid = BlendColor(kWhite, kGrid, 2);
    const auto expectLines = [&](const std::vector<int>& edges) {
        const QImage image = Shot();
        for (int row = 0; row < kVisibleRows; ++row) {
            const int y = row * kRowHeight + kRowHeight / 2;
            for (int x : edges) {
                EXPECT_EQ(At(image, x, y), grid) << "row " << row << " x " << x;
                EXPECT_EQ(At(image, x - 1, y), kWhite) << "row " << row << " x " << x - 1;
                EXPECT_EQ(At(image, x + 1, y), kWhite) << "row " << row << " x " << x + 1;
            }
        }
    };
    expectLines(CellRightEdges());

    QApplication::processEvents();
    owner.cellCalls = 0;
    header->resizeSection(1, 80);
    QApplication::processEvents();
    EXPECT_GT(owner.cellCalls, 0) << "resizing a section repaints the rows";
    expectLines({59, 139, 209, 409, 509});
}

TEST_F(ListTest, RowLinesByStyle)
{
    struct Case {
        BkGridStyle style;
        bool gridPixels;
        bool backgroundPixels;
    };
    const Case cases[] = {
        {BkGridStyle::Solid, true, false},
        {BkGridStyle::Dot, true, true},
        {BkGridStyle::InsideFrame, true, true},
        {BkGridStyle::Clear, false, true},
    };
    MakeList({bkoVirtual, bkoRowLines, bkoShowSelection});
    list->SetItemsCount(20);
    const ColorRef grid = BlendColor(kWhite, kGrid, 2);
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.style));
        list->SetRowGrid(c.style);
        const QImage image = Shot();
        for (int row = 0; row < 3; ++row) {
            bool sawGrid = false;
            bool sawBackground = false;
            const int y = row * kRowHeight + kRowHeight - 1; // the row's last pixel line
            for (int x = 0; x < 200; ++x) {
                const ColorRef pixel = At(image, x, y);
                sawGrid |= pixel == grid;
                sawBackground |= pixel == kWhite;
                EXPECT_TRUE(pixel == grid || pixel == kWhite) << std::hex << pixel;
            }
            EXPECT_EQ(sawGrid, c.gridPixels);
            EXPECT_EQ(sawBackground, c.backgroundPixels);
            EXPECT_EQ(At(image, 30, row * kRowHeight + kRowHeight - 2), kWhite) << "the line takes one pixel";
        }
    }
}

TEST_F(ListTest, SelectedRowsByTheBlendRuleWithFrameAndFocusFrame)
{
    struct Case {
        const char* name;
        bool blend;
        bool showSelection;
        ColorRef back;  // inside a selected row
        ColorRef frame; // its one-pixel frame
        ColorRef pen;   // text colour handed to the owner for a selected row
    };
    const Case cases[] = {
        {"blended", true, true, BlendColor(kWhite, kHighlight, 2), BlendColor(kWhite, kHighlight, 8), kYellow},
        {"plain", false, true, kHighlight, kHighlight, kYellow},
        {"selection not shown", true, false, kWhite, BlendColor(kWhite, kHighlight, 8), 0},
    };
    // Spelled out once: window white and highlight (0, 64, 128).
    ASSERT_EQ(BlendColor(kWhite, kHighlight, 2), Rgb(128, 160, 192));
    ASSERT_EQ(BlendColor(kWhite, kHighlight, 8), Rgb(32, 88, 144));

    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MakeList(c.showSelection ? BkListOptions{bkoVirtual, bkoColLines, bkoShowSelection}
                                 : BkListOptions{bkoVirtual, bkoColLines});
        list->SetBlendDraw(c.blend);
        list->SetItemsCount(20);
        GiveFocus();
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, RowPoint(2));
        QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::ControlModifier, RowPoint(4));
        ASSERT_EQ(Selected(), (std::vector<int>{2, 4}));
        ASSERT_EQ(list->ItemIndex(), 4);

        owner.recordCells = true;
        owner.cells.clear();
        const QImage image = Shot();
        const int width = list->viewport()->width();
        const ColorRef grid = c.blend ? BlendColor(kWhite, kGrid, 2) : kGrid;
        for (int row : {2, 4}) {
            const int top = row * kRowHeight;
            const int bottom = top + kRowHeight - 1;
            EXPECT_EQ(At(image, 30, top + 8), c.back) << "row " << row;
            for (int x = 0; x < width; ++x) {
                ASSERT_EQ(At(image, x, top), c.frame) << "row " << row << " top edge x " << x;
                ASSERT_EQ(At(image, x, bottom), c.frame) << "row " << row << " bottom edge x " << x;
            }
            for (int y = top; y <= bottom; ++y) {
                ASSERT_EQ(At(image, 0, y), c.frame) << "row " << row << " left edge";
                ASSERT_EQ(At(image, width - 1, y), c.frame) << "row " << row << " right edge";
            }
            // The dotted focus frame runs just inside, on the focused row only.
            int dots = 0;
            for (int x = 1; x < width - 1; ++x)
                dots += At(image, x, top + 1) != c.back && At(image, x, top + 1) != grid;
            if (row == 4) {
                EXPECT_GT(dots, width / 4) << "focus frame";
            } else {
                EXPECT_EQ(dots, 0) << "no focus frame";
            }
        }
        EXPECT_EQ(At(image, 30, 6 * kRowHeight + 8), kWhite) << "an unselected row";

        for (const ListOwner::Cell& cell : owner.cells) {
            const bool selected = cell.index == 2 || cell.index == 4;
            EXPECT_EQ((cell.state & bkisSelected) != 0, selected) << cell.index;
            EXPECT_EQ((cell.state & bkisFocused) != 0, cell.index == 4) << cell.index;
            if (selected && c.showSelection) {
                EXPECT_EQ(Rgb(cell.pen.red(), cell.pen.green(), cell.pen.blue()), c.pen);
            } else {
                EXPECT_EQ(cell.pen, list->palette().color(QPalette::Text)) << cell.index;
            }
        }

        // Without the keyboard focus there is no focus frame.
        list->clearFocus();
        QApplication::processEvents();
        const QImage unfocused = Shot();
        for (int x = 1; x < width - 1; ++x)
            ASSERT_TRUE(At(unfocused, x, 4 * kRowHeight + 1) == c.back || At(unfocused, x, 4 * kRowHeight + 1) == grid)
                << x;
    }
}

TEST_F(ListTest, DisabledAndTrackedRowsTextColours)
{
    MakeList({bkoVirtual, bkoColLines, bkoShowSelection, bkoTrackItem});
    list->SetItemsCount(5);
    owner.recordCells = true;
    Hover(RowPoint(1));
    ASSERT_EQ(list->TrackedItem(), 1);
    (void)Shot();
    for (const ListOwner::Cell& cell : owner.cells)
        if (cell.index == 1) {
            EXPECT_EQ(cell.pen, QColor(255, 0, 255)) << "tracked item";
        }
    owner.cells.clear();
    list->setEnabled(false);
    (void)Shot();
    ASSERT_FALSE(owner.cells.empty());
    for (const ListOwner::Cell& cell : owner.cells) {
        EXPECT_EQ(cell.pen, QColor(0x80, 0x80, 0x80));
        EXPECT_NE(cell.state & bkisDisabled, 0u);
    }
}

TEST_F(ListTest, SectionTextsAreTheFieldsOfTheItemText)
{
    struct Case {
        const char* text;
        const char* delimiters;
        std::vector<const char*> fields; // sections 0, 1, ...
    };
    const Case cases[] = {
        {"a;b;;d", ";", {"a", "b", "", "d", ""}},
        {"a,b;c", ";,", {"a", "b", "c", ""}},
        {";", ";", {"", "", ""}},
        {"", ";", {"", ""}},
        {"abc", "", {"abc", ""}},
    };
    for (const Case& c : cases)
        for (int section = 0; section < static_cast<int>(c.fields.size()); ++section)
            EXPECT_EQ(CustomBkList::SectionText(QString(c.text), QString(c.delimiters), section).toString(),
                      QString(c.fields[section]))
                << c.text << " section " << section;
    EXPECT_TRUE(CustomBkList::SectionText(u"a;b", u";", -1).isEmpty());
}

TEST_F(ListTest, TextListDrawsEachFieldInItsCell)
{
    MakeList({bkoShowSelection}, false);
    list->OnDrawItemSection = {}; // the list's own text drawing
    list->SetItems({"a;b;;d"});
    const QImage image = Shot();
    int left = 0;
    std::vector<int> inked;
    for (int width : kSectionWidths) {
        int count = 0;
        for (int x = left; x < left + width; ++x)
            for (int y = 0; y < kRowHeight; ++y)
                count += At(image, x, y) != kWhite;
        inked.push_back(count);
        left += width;
    }
    EXPECT_GT(inked[0], 0);
    EXPECT_GT(inked[1], 0);
    EXPECT_EQ(inked[2], 0) << "the empty field";
    EXPECT_GT(inked[3], 0);
    EXPECT_EQ(inked[4], 0) << "no fifth field";
}

TEST_F(ListTest, CellsEndAtTheControlsWidth)
{
    MakeList();
    list->SetItemsCount(3);
    list->resize(300, list->height());
    QApplication::processEvents();
    owner.recordCells = true;
    (void)Shot();
    const int width = list->viewport()->width();
    std::vector<int> sections;
    for (const ListOwner::Cell& cell : owner.cells) {
        if (cell.index != 0)
            continue;
        sections.push_back(cell.section);
        if (cell.section == 3) {
            EXPECT_EQ(cell.rect.right(), width - 2) << "cut at the width, less the column line";
        }
    }
    EXPECT_EQ(sections, (std::vector<int>{0, 1, 2, 3})) << "the File column starts beyond the width";
}

TEST_F(ListTest, DoubleBufferPaintsTheSame)
{
    MakeList({bkoColLines, bkoRowLines, bkoShowSelection}, true);
    list->OnDrawItemSection = {};
    list->SetItems({"1;one;x", "2;two;y", "3;three;z"});
    GiveFocus();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, RowPoint(1));
    const QImage direct = Shot();
    list->SetOptions(list->Options().With(bkoDoubleBuffer));
    EXPECT_EQ(Shot(), direct);
}

TEST_F(ListTest, AViewportAtTheEndOfTenMillionItemsCostsWhatItCostsAtTheTop)
{
    MakeList();
    list->SetItemsCount(10'000'000);
    owner.recordCells = true;
    (void)Shot();
    const auto top = owner.cells;
    owner.cells.clear();
    list->SetTopIndex(9'999'999);
    EXPECT_EQ(list->TopIndex(), 10'000'000 - kVisibleRows);
    (void)Shot();
    const auto end = owner.cells;
    ASSERT_EQ(top.size(), static_cast<size_t>(kVisibleRows * 5));
    EXPECT_EQ(end.size(), top.size());
    EXPECT_EQ(end.front().index, 10'000'000 - kVisibleRows);
    EXPECT_EQ(end.back().index, 9'999'999);
    EXPECT_EQ(end.back().rect.bottom(), kVisibleRows * kRowHeight - 1);
}

} // namespace
