// The coverage map in the real main window, offscreen: it shows the loaded
// storage's levels, and a dragged rectangle selects what --bbox selects.
#include "app/MainForm.h"

#include "PlateFilter.h"
#include "ScriptedBoxes.h"
#include "StartConfig.h"
#include "app/Data.h"
#include "browse/CoverageView.h"
#include "widgets/BkList.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QToolButton>
#include <QWheelEvent>

#include <gtest/gtest.h>

#include <filesystem>

namespace fs = std::filesystem;

namespace {

class CoverageViewTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const std::string storage = folder.File("world.mbtiles");
        fs::copy_file(FIXTURE_MBTILES, storage);
        data = std::make_unique<TData>();
        window = std::make_unique<TMainForm>(StartConfig(folder, MBTILES_PLUGIN, storage));
        window->resize(900, 700);
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
        QTest::mouseClick(window->btnLoad, Qt::LeftButton);
        ASSERT_EQ(window->list->ItemsCount(), 21);
    }
    void TearDown() override
    {
        if (window)
            window->close();
        window.reset();
        data.reset();
    }
    // The middle of a cell of the map shown.
    QPoint CellCentre(int x, int y) const
    {
        const QRect square = window->coverage->Map()->Square();
        const int side = window->coverage->Shown()->grid.Side();
        return {square.left() + (2 * x + 1) * square.width() / (2 * side),
                square.top() + (2 * y + 1) * square.height() / (2 * side)};
    }
    void Drag(QPoint from, QPoint to)
    {
        QWidget* map = window->coverage->Map();
        QTest::mousePress(map, Qt::LeftButton, {}, from);
        QTest::mouseMove(map, to);
        QTest::mouseRelease(map, Qt::LeftButton, {}, to);
    }

    TempFolder folder;
    ScriptedBoxes boxes;
    std::unique_ptr<TData> data;
    std::unique_ptr<TMainForm> window;
};

TEST_F(CoverageViewTest, ShowsTheDeepestLevelAndTheWheelChangesIt)
{
    QTest::mouseClick(window->btnCoverage, Qt::LeftButton);
    ASSERT_TRUE(window->coverage->isVisible());
    EXPECT_FALSE(window->image->isVisible());
    ASSERT_TRUE(window->coverage->Shown());
    EXPECT_EQ(window->coverage->Zoom(), 2);
    EXPECT_EQ(window->coverage->Shown()->grid.Side(), 4);
    EXPECT_EQ(window->coverage->Shown()->grid.Tiles(), 16u);

    QWidget* map = window->coverage->Map();
    QWheelEvent down(QPointF(10, 10), map->mapToGlobal(QPointF(10, 10)), {}, QPoint(0, -120), Qt::NoButton, {},
                     Qt::NoScrollPhase, false);
    QApplication::sendEvent(map, &down);
    EXPECT_EQ(window->coverage->Zoom(), 1);
    EXPECT_EQ(window->coverage->Shown()->grid.Side(), 2);
    EXPECT_EQ(window->coverage->Shown()->grid.Tiles(), 4u);

    QTest::mouseClick(window->btnCoverage, Qt::LeftButton);
    EXPECT_FALSE(window->coverage->isVisible());
    EXPECT_TRUE(window->image->isVisible());
}

// Each rectangle selects the same plates as the tool's --bbox of the
// rectangle's tiles with --levels from the level shown.
TEST_F(CoverageViewTest, ADraggedRectangleSelectsWhatBboxSelects)
{
    QTest::mouseClick(window->btnCoverage, Qt::LeftButton);
    const struct {
        int zoom;
        QPoint from, to;  // cells
        uint32_t x0, y0, x1, y1; // the tiles they cover
        int selected;
    } cases[] = {
        {1, {1, 0}, {1, 0}, 1, 0, 2, 1, 1 + 4},            // the north-east quarter and its plates below
        {2, {2, 2}, {0, 1}, 0, 1, 3, 3, 6},                // dragged up and left
        {0, {0, 0}, {0, 0}, 0, 0, 1, 1, 21},               // the world
        {2, {3, 3}, {3, 3}, 3, 3, 4, 4, 1},                // one corner tile
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.zoom);
        window->coverage->SetZoom(c.zoom);
        ASSERT_EQ(window->coverage->Shown()->grid.Zoom(), c.zoom);
        Drag(CellCentre(c.from.x(), c.from.y()), CellCentre(c.to.x(), c.to.y()));

        cli::PlateFilter filter;
        std::string error;
        ASSERT_TRUE(filter.SetBoundingBox(GeoBox::OfTiles(c.zoom, c.x0, c.y0, c.x1, c.y1).Text(), &error)) << error;
        ASSERT_TRUE(filter.SetLevels(std::to_string(c.zoom + 1) + "-", &error)) << error;
        const ListSelection& selection = window->Core().Selection();
        int matching = 0;
        for (int i = 0; i < window->Core().Plates().Count(); ++i) {
            PlateItem item;
            ASSERT_TRUE(window->Core().Plates().At(i, &item));
            const bool match = filter.Matches({item.name, static_cast<std::size_t>(item.nameLength)});
            EXPECT_EQ(selection.IsSelected(i), match) << item.name;
            matching += match;
        }
        EXPECT_EQ(matching, c.selected);
        EXPECT_EQ(selection.SelectedCount(), c.selected);
        // The selection is drawn over the level's cells that hold it.
        uint64_t marked = 0;
        const CoverageGrid& grid = window->coverage->Shown()->grid;
        for (int y = 0; y < grid.Side(); ++y)
            for (int x = 0; x < grid.Side(); ++x)
                marked += grid.Cell(x, y).marked;
        EXPECT_EQ(marked, (c.x1 - c.x0) * (c.y1 - c.y0));
    }
}

} // namespace
