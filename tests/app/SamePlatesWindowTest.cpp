// Select -> Duplicates and Blank in the real main window, offscreen.
#include "app/MainForm.h"

#include "ScriptedBoxes.h"
#include "StartConfig.h"
#include "app/Data.h"
#include "widgets/BkList.h"

#include <QAction>
#include <QImage>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

namespace fs = std::filesystem;

namespace {

std::vector<std::string> SelectedNames(TMainForm& window)
{
    const PlateList& plates = window.Core().Plates();
    std::vector<std::string> selected;
    for (int i = 0; i < plates.Count(); ++i) {
        PlateItem item;
        if (plates.At(i, &item) && window.list->IsSelected(i))
            selected.push_back(item.name);
    }
    std::sort(selected.begin(), selected.end());
    return selected;
}

TEST(SamePlatesWindowTest, DuplicatesAndBlankReplaceTheSelection)
{
    // t and t/q: one blank PNG; t/s: a blank JPEG; t/r: two colours.
    TempFolder folder;
    const fs::path tree = folder.Path() / "tree";
    fs::create_directories(tree / "t");
    auto save = [&](const QImage& picture, const fs::path& file, const char* format) {
        ASSERT_TRUE(picture.save(QString::fromStdString(file.string()), format));
    };
    QImage sea(256, 256, QImage::Format_RGB32);
    sea.fill(qRgb(10, 120, 200));
    save(sea, tree / "t.jpg", "PNG");
    fs::copy_file(tree / "t.jpg", tree / "t" / "q.jpg");
    save(sea, tree / "t" / "s.jpg", "JPEG");
    QImage coast = sea;
    coast.setPixel(0, 0, qRgb(200, 180, 90));
    save(coast, tree / "t" / "r.jpg", "PNG");

    ScriptedBoxes boxes;
    TData data;
    TMainForm window(StartConfig(folder, FOLDER_PLUGIN, tree.string()));
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    QTest::mouseClick(window.btnLoad, Qt::LeftButton);
    ASSERT_EQ(window.list->ItemsCount(), 4) << (boxes.shown.empty() ? "" : boxes.shown.front().text);

    window.A1->trigger();
    window.D1->trigger();
    EXPECT_EQ(SelectedNames(window), (std::vector<std::string>{"tq"}));
    window.K1->trigger();
    EXPECT_EQ(SelectedNames(window), (std::vector<std::string>{"t", "tq", "ts"}));
    EXPECT_TRUE(boxes.shown.empty());
    window.close();
}

} // namespace
