// Storing and restoring a real window's placement.
#include "config/TreeConfig.h"
#include "config/WindowPlacement.h"

#include <QWidget>

#include <gtest/gtest.h>

namespace {

TEST(WindowPlacementTest, BoundsAndStateComeBack)
{
    TreeConfig tree;
    ConfigItem* item = tree.Root()->Item("Window");
    QWidget form;
    form.move(30, 40);
    form.resize(320, 200);
    SaveWindowPlacement(item, &form);
    EXPECT_EQ(item->ReadInt("X", 0), 30);
    EXPECT_EQ(item->ReadInt("H", 0), 200);
    EXPECT_EQ(item->ReadInt("WindowState", -1), 0);

    QWidget restored;
    LoadWindowPlacement(item, &restored);
    EXPECT_EQ(restored.pos(), QPoint(30, 40));
    EXPECT_EQ(restored.size(), QSize(320, 200));

    form.setWindowState(Qt::WindowMaximized);
    SaveWindowPlacement(item, &form);
    EXPECT_EQ(item->ReadInt("WindowState", -1), 2);
    QWidget maximised;
    maximised.move(1, 2);
    LoadWindowPlacement(item, &maximised);
    EXPECT_TRUE(maximised.windowState().testFlag(Qt::WindowMaximized));
    EXPECT_EQ(maximised.pos(), QPoint(1, 2)) << "the bounds are left alone";
}

TEST(WindowPlacementTest, NothingWithoutItemOrWindow)
{
    TreeConfig tree;
    QWidget form;
    SaveWindowPlacement(nullptr, &form);
    SaveWindowPlacement(tree.Root(), nullptr);
    LoadWindowPlacement(tree.Root(), nullptr);
    EXPECT_EQ(tree.Root()->Count(), 0);
}

} // namespace
