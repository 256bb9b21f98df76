// Browsing a storage in the real main window, offscreen: loading, the five
// columns, the preview following the focused plate, and the Select menu.
#include "app/MainForm.h"

#include "ScriptedBoxes.h"
#include "StartConfig.h"
#include "app/Data.h"
#include "base/Dictionary.h"
#include "browse/AskZoomForm.h"
#include "config/ConfigItem.h"
#include "config/TreeConfig.h"
#include "widgets/BkList.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>

namespace fs = std::filesystem;

namespace {

class BrowseTest : public ::testing::Test {
protected:
    void Start(const std::string& plugin, const std::string& storage)
    {
        const std::vector<std::string> arguments = StartConfig(folder, plugin, storage);
        data = std::make_unique<TData>();
        window = std::make_unique<TMainForm>(arguments);
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    }
    void TearDown() override
    {
        if (window)
            window->close();
        window.reset();
        data.reset();
    }
    QString Label() const { return window->txtImage->text(); }

    TempFolder folder;
    ScriptedBoxes boxes;
    std::unique_ptr<TData> data;
    std::unique_ptr<TMainForm> window;
};

TEST_F(BrowseTest, LoadsAnMBTilesStorageAndPreviewsThePlates)
{
    const std::string storage = folder.File("world.mbtiles");
    fs::copy_file(FIXTURE_MBTILES, storage);
    Start(MBTILES_PLUGIN, storage);
    EXPECT_EQ(window->txtPlugin->text(), "Storage");

    QTest::mouseClick(window->btnLoad, Qt::LeftButton);
    EXPECT_TRUE(boxes.shown.empty()) << boxes.shown.front().text;
    EXPECT_EQ(window->list->ItemsCount(), 21);
    EXPECT_EQ(window->btnLoad->text(), "&L Release storage");
    EXPECT_TRUE(window->btnExport->isEnabled());

    // A click on the first row previews the whole world, a 256 x 256 JPEG.
    QTest::mouseClick(window->list->viewport(), Qt::LeftButton, {}, window->list->ItemRect(0).center());
    EXPECT_EQ(window->list->ItemIndex(), 0);
    EXPECT_TRUE(Label().startsWith("Item: t\nSizes: 256x256 (")) << Label().toStdString();
    const QImage shown = window->image->pixmap().toImage();
    EXPECT_EQ(shown.size(), QSize(256, 256));
    EXPECT_NE(shown.pixel(128, 128), qRgb(255, 255, 255));

    // The preview follows the arrow keys.
    window->list->setFocus();
    QTest::keyClick(window->list, Qt::Key_Down);
    EXPECT_EQ(window->list->ItemIndex(), 1);
    EXPECT_TRUE(Label().startsWith("Item: t") && Label().contains("\nSizes: 256x256 (")) << Label().toStdString();
    EXPECT_NE(Label().split('\n')[0], "Item: t");

    QTest::mouseClick(window->btnLoad, Qt::LeftButton);
    EXPECT_EQ(window->list->ItemsCount(), 0);
    EXPECT_EQ(window->btnLoad->text(), "&L Load storage");
    EXPECT_FALSE(window->btnExport->isEnabled());
}

TEST_F(BrowseTest, AMissingStorageIsReportedAndTheButtonStillLoads)
{
    Start(MBTILES_PLUGIN, folder.File("missing.mbtiles"));
    QTest::mouseClick(window->btnLoad, Qt::LeftButton);
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].text.rfind("Error initialize storage data \"" + folder.File("missing.mbtiles") + "\": ", 0),
              0u)
        << boxes.shown[0].text;
    EXPECT_FALSE(window->StorageLoaded());
    EXPECT_EQ(window->btnLoad->text(), "&L Load storage");
    EXPECT_TRUE(window->btnLoad->isEnabled());
}

TEST_F(BrowseTest, APlateThatCannotBeShownLeavesAWhitePicture)
{
    // The folder plugin over a tree whose only plate is no picture.
    fs::create_directories(folder.Path() / "tree" / "t");
    std::ofstream(folder.Path() / "tree" / "t" / "q.jpg") << "not a picture";
    std::ofstream(folder.Path() / "tree" / "t.jpg") << "not a picture either";
    Start(FOLDER_PLUGIN, (folder.Path() / "tree").string());
    QTest::mouseClick(window->btnLoad, Qt::LeftButton);
    ASSERT_EQ(window->list->ItemsCount(), 2) << (boxes.shown.empty() ? "" : boxes.shown.front().text);
    window->list->SetItemIndex(1);
    EXPECT_TRUE(Label().startsWith("Error loading plate data!\nPlate: ")) << Label().toStdString();
    EXPECT_TRUE(Label().endsWith("Error: Unknown picture format")) << Label().toStdString();
    const QImage shown = window->image->pixmap().toImage();
    ASSERT_FALSE(shown.isNull());
    EXPECT_EQ(shown.pixel(shown.width() / 2, shown.height() / 2), qRgb(255, 255, 255));
}

// Answers the zoom dialog once it is up.
void AnswerZoomDialog(int from, int to, bool ok)
{
    QTimer::singleShot(0, [=] {
        auto* dialog = qobject_cast<TAskZoomForm*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        dialog->btnFrom->setValue(from);
        dialog->btnTo->setValue(to);
        QTest::mouseClick(ok ? dialog->btnOk : dialog->btnCancel, Qt::LeftButton);
    });
}

TEST_F(BrowseTest, SelectMenuCommands)
{
    const std::string storage = folder.File("world.mbtiles");
    fs::copy_file(FIXTURE_MBTILES, storage);
    Start(MBTILES_PLUGIN, storage);
    QTest::mouseClick(window->btnLoad, Qt::LeftButton);
    ASSERT_EQ(window->list->ItemsCount(), 21); // 1 + 4 + 16 plates of zoom 1, 2 and 3

    window->A1->trigger();
    EXPECT_EQ(window->list->SelectedCount(), 21);
    window->I1->trigger();
    EXPECT_EQ(window->list->SelectedCount(), 0);
    window->I1->trigger();
    EXPECT_EQ(window->list->SelectedCount(), 21) << "inverting twice gives the start back";

    AnswerZoomDialog(2, 2, true);
    window->L1->trigger();
    EXPECT_EQ(window->list->SelectedCount(), 4);
    EXPECT_EQ(window->Link()->ReadInt("Sel/FromPos", 0), 2);
    EXPECT_EQ(window->Link()->ReadInt("Sel/ToPos", 0), 2);

    AnswerZoomDialog(1, 3, false); // cancel keeps both the values and the selection
    window->L1->trigger();
    EXPECT_EQ(window->list->SelectedCount(), 4);
    EXPECT_EQ(window->Link()->ReadInt("Sel/ToPos", 0), 2);

    AnswerZoomDialog(3, 1, true);
    window->L1->trigger();
    EXPECT_EQ(window->list->SelectedCount(), 0);
}

TEST_F(BrowseTest, ThePreviewIsEmptiedWithTheList)
{
    const std::string storage = folder.File("world.mbtiles");
    fs::copy_file(FIXTURE_MBTILES, storage);
    Start(MBTILES_PLUGIN, storage);
    auto previewShown = [this] { return !window->image->pixmap().isNull(); };

    QTest::mouseClick(window->btnLoad, Qt::LeftButton);
    window->list->SetItemIndex(0);
    ASSERT_TRUE(previewShown());
    QTest::mouseClick(window->btnLoad, Qt::LeftButton); // release
    EXPECT_FALSE(previewShown());
    EXPECT_EQ(Label(), "-\n-");

    // Enter in the path field loads; and again, while loaded, reloads.
    QTest::keyClick(window->edtStorage, Qt::Key_Return);
    ASSERT_EQ(window->list->ItemsCount(), 21);
    window->list->SetItemIndex(3);
    ASSERT_TRUE(previewShown());
    QTest::keyClick(window->edtStorage, Qt::Key_Return);
    EXPECT_EQ(window->list->ItemsCount(), 21);
    EXPECT_EQ(window->btnLoad->text(), "&L Release storage");
    EXPECT_FALSE(previewShown());
    EXPECT_EQ(Label(), "-\n-");
    EXPECT_TRUE(boxes.shown.empty());
}

TEST_F(BrowseTest, TheSummaryCountsThePlatesListedAndSelected)
{
    // A folder tree of three plates of known sizes: "t" (1000 bytes) of zoom 1,
    // "tq" (2000) and "tr" (500) of zoom 2.
    const fs::path tree = folder.Path() / "tree";
    fs::create_directories(tree / "t");
    std::ofstream(tree / "t.jpg") << std::string(1000, 'x');
    std::ofstream(tree / "t" / "q.jpg") << std::string(2000, 'x');
    std::ofstream(tree / "t" / "r.jpg") << std::string(500, 'x');
    Start(FOLDER_PLUGIN, tree.string());
    EXPECT_EQ(window->txtSummary->text(), "Plates: 0, selected: 0 (0)");
    QTest::mouseClick(window->btnLoad, Qt::LeftButton);
    ASSERT_EQ(window->list->ItemsCount(), 3);
    EXPECT_EQ(window->txtSummary->text(), "Plates: 3, selected: 0 (0)");

    window->A1->trigger();
    EXPECT_EQ(window->txtSummary->text(), "Plates: 3, selected: 3 (3.500K)");
    window->I1->trigger();
    EXPECT_EQ(window->txtSummary->text(), "Plates: 3, selected: 0 (0)");
    AnswerZoomDialog(2, 2, true);
    window->L1->trigger();
    EXPECT_EQ(window->txtSummary->text(), "Plates: 3, selected: 2 (2.500K)");

    // Ctrl+A in the window selects every plate; a click selects one.
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    window->list->setFocus();
    QTest::keyClick(window->list, Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(window->list->SelectedCount(), 3);
    EXPECT_EQ(window->txtSummary->text(), "Plates: 3, selected: 3 (3.500K)");
    QTest::mouseClick(window->list->viewport(), Qt::LeftButton, {}, window->list->ItemRect(1).center());
    EXPECT_TRUE(window->txtSummary->text().startsWith("Plates: 3, selected: 1 (")) << window->txtSummary->text().toStdString();

    QTest::mouseClick(window->btnLoad, Qt::LeftButton); // release
    EXPECT_EQ(window->txtSummary->text(), "Plates: 0, selected: 0 (0)");
}

TEST_F(BrowseTest, ThePlateLabelFollowsTheLanguage)
{
    const std::string storage = folder.File("world.mbtiles");
    fs::copy_file(FIXTURE_MBTILES, storage);
    Start(MBTILES_PLUGIN, storage);
    ASSERT_TRUE(MainDictionary().Load(DICTIONARY_FILE));
    struct Restore {
        ~Restore() { MainDictionary().LoadText(""); }
    } restore;
    QTest::mouseClick(window->btnLoad, Qt::LeftButton);
    window->list->SetItemIndex(0);
    ASSERT_TRUE(Label().startsWith("Item: t\nSizes: 256x256 (")) << Label().toStdString();
    MainDictionary().SetLanguage(1);
    EXPECT_TRUE(Label().startsWith(QString::fromUtf8("Плитка: t\nРазмеры: 256x256 ("))) << Label().toStdString();
    EXPECT_EQ(window->btnLoad->text(), QString::fromUtf8("&L Освободить хранилище"));
    EXPECT_GE(window->btnLoad->width(), window->btnLoad->sizeHint().width()) << "the caption is not cut";
    MainDictionary().SetLanguage(0);
    EXPECT_TRUE(Label().startsWith("Item: t\nSizes: 256x256 (")) << Label().toStdString();
}

} // namespace

TEST_F(BrowseTest, BrokenPlatesSelectsTheEmptyAndUndecodableOnes)
{
    // The plate tree t, t/q, t/r, t/s: t/q is no picture, t/r is empty.
    const fs::path tree = folder.Path() / "tree";
    fs::create_directories(tree / "t");
    std::ofstream(tree / "t" / "q.jpg") << "not a picture";
    std::ofstream(tree / "t" / "r.jpg").flush();
    Start(FOLDER_PLUGIN, tree.string());
    // The two good plates.
    QImage good(256, 256, QImage::Format_RGB32);
    good.fill(Qt::darkGreen);
    ASSERT_TRUE(good.save(QString::fromStdString((tree / "t.jpg").string()), "JPEG"));
    ASSERT_TRUE(good.save(QString::fromStdString((tree / "t" / "s.jpg").string()), "JPEG"));
    QTest::mouseClick(window->btnLoad, Qt::LeftButton);
    ASSERT_EQ(window->list->ItemsCount(), 4) << (boxes.shown.empty() ? "" : boxes.shown.front().text);

    window->A1->trigger();
    window->B1->trigger();
    EXPECT_EQ(window->list->SelectedCount(), 2);
    const PlateList& plates = window->Core().Plates();
    std::vector<std::string> selected;
    for (int i = 0; i < plates.Count(); ++i) {
        PlateItem item;
        if (plates.At(i, &item) && window->list->IsSelected(i))
            selected.push_back(item.name);
    }
    std::sort(selected.begin(), selected.end());
    EXPECT_EQ(selected, (std::vector<std::string>{"tq", "tr"}));
}

// A storage that says nothing of its rows' order is read from the top, and
// the window says it assumed so; one choice in the list beside the path
// reads it again the other way up and is remembered for that storage: a z/x/y tree
// through the folder plugin, a compact cache (written by MapProxy on
// GLOBAL_MERCATOR, away from its configuration) through its own plugin.
struct TurnCase {
    const char* label;
    const char* plugin;
    std::function<fs::path(const fs::path& dir)> make; // the storage
    const char* assumed;   // the start of the tooltip after the first load
    const char* choice;    // the list's item that turns it
    const char* turned;    // the tooltip after loading with it
    std::vector<std::string> before, after; // the plates of zoom 1 (names of two letters)
};

void PrintTo(const TurnCase& c, std::ostream* out) { *out << c.label; }

class TurnTest : public BrowseTest, public ::testing::WithParamInterface<TurnCase> {};

TEST_P(TurnTest, TheLayoutListTurnsAStorageAndIsRememberedForIt)
{
    const TurnCase& c = GetParam();
    const fs::path storage = c.make(folder.Path());
    Start(c.plugin, storage.string());
    auto zoomOne = [this] {
        std::vector<std::string> names;
        for (int i = 0; i < window->Core().Plates().Count(); ++i) {
            PlateItem item;
            if (window->Core().Plates().At(i, &item) && item.nameLength == 2)
                names.emplace_back(item.name, 2);
        }
        std::sort(names.begin(), names.end());
        return names;
    };
    ASSERT_TRUE(window->cbLayout->isEnabled());
    QTest::keyClick(window->edtStorage, Qt::Key_Return);
    EXPECT_EQ(zoomOne(), c.before);
    EXPECT_TRUE(window->cbLayout->toolTip().startsWith(c.assumed)) << window->cbLayout->toolTip().toStdString();

    const int turn = window->cbLayout->findText(c.choice);
    ASSERT_GT(turn, 0);
    window->cbLayout->setCurrentIndex(turn);
    emit window->cbLayout->activated(turn); // loads the storage again, turned
    EXPECT_EQ(zoomOne(), c.after);
    EXPECT_EQ(window->cbLayout->toolTip(), c.turned);

    window->edtStorage->setText(QString::fromStdString(folder.File("other")));
    EXPECT_EQ(window->cbLayout->currentIndex(), 0) << "another storage is read as found";
    window->edtStorage->setText(QString::fromStdString(storage.string()));
    EXPECT_EQ(window->cbLayout->currentIndex(), turn);
    EXPECT_TRUE(boxes.shown.empty());
}

const TurnCase kTurnCases[] = {
    {"FolderTree", FOLDER_PLUGIN,
     [](const fs::path& dir) {
         fs::create_directories(dir / "tree" / "1" / "0");
         std::ofstream(dir / "tree" / "1" / "0" / "0.png") << "north-west"; // the top row, or the bottom one
         return dir / "tree";
     },
     "layout: xyz, rows from the top (assumed", "tms, rows from the bottom",
     "layout: tms, rows from the bottom (named in the path)", {"tq"}, {"tt"}},
    {"CompactCache", COMPACT_PLUGIN,
     [](const fs::path& dir) {
         fs::copy(FIXTURES_DIR "/folders/mapproxy-compact-sw", dir / "tiles", fs::copy_options::recursive);
         return dir / "tiles";
     },
     "layout: compact v2, rows from the top (assumed", "rows from the bottom",
     "layout: compact v2, rows from the bottom (named in the path)", {"ts", "tt"}, {"tq", "tr"}},
};

INSTANTIATE_TEST_SUITE_P(Storages, TurnTest, ::testing::ValuesIn(kTurnCases),
                         [](const ::testing::TestParamInfo<TurnCase>& param) { return param.param.label; });

namespace {

// A click on a column header sorts the list by it, a second click the other
// way; the selected and the focused plates stay so, in their new rows; the
// sort holds over a reload. No shipped plugin names a plate's file: the File
// column is hidden.
TEST_F(BrowseTest, AHeaderClickSortsAndTheSelectionStaysWithItsPlates)
{
    const std::string storage = folder.File("world.mbtiles");
    fs::copy_file(FIXTURE_MBTILES, storage);
    Start(MBTILES_PLUGIN, storage);
    QTest::mouseClick(window->btnLoad, Qt::LeftButton);
    ASSERT_EQ(window->list->ItemsCount(), 21);
    EXPECT_TRUE(window->header->isSectionHidden(4));

    const PlateList& plates = window->Core().Plates();
    auto plate = [&](int index) {
        PlateItem item;
        plates.At(index, &item);
        return std::make_pair(std::string(item.name), item.size);
    };
    window->list->SetItemIndex(5);
    window->list->SetSelected(2, true);
    window->list->SetSelected(7, true);
    const std::string focused = plate(5).first;
    const std::vector<std::string> selected = {plate(2).first, plate(7).first};

    auto clickHeader = [&](int section) {
        const QPoint at(window->header->sectionViewportPosition(section) + 5, window->header->height() / 2);
        QTest::mouseClick(window->header->viewport(), Qt::LeftButton, {}, at);
    };
    auto sorted = [&](auto key, bool descending) {
        for (int i = 1; i < plates.Count(); ++i)
            if (descending ? key(plate(i - 1)) < key(plate(i)) : key(plate(i)) < key(plate(i - 1)))
                return false;
        return true;
    };
    auto bySize = [](const auto& p) { return p.second; };
    auto byName = [](const auto& p) { return p.first; };
    auto byLevel = [](const auto& p) { return p.first.size(); };
    const struct {
        int section;
        bool descending;
        std::function<bool()> check;
    } clicks[] = {
        {2, false, [&] { return sorted(bySize, false); }},
        {2, true, [&] { return sorted(bySize, true); }},
        {3, false, [&] { return sorted(byName, false); }},
        {1, false, [&] { return sorted(byLevel, false); }},
        {1, true, [&] { return sorted(byLevel, true); }},
    };
    for (const auto& c : clicks) {
        SCOPED_TRACE(c.section * 10 + c.descending);
        clickHeader(c.section);
        EXPECT_TRUE(c.check());
        EXPECT_EQ(window->header->sortIndicatorSection(), c.section);
        EXPECT_EQ(window->header->sortIndicatorOrder(), c.descending ? Qt::DescendingOrder : Qt::AscendingOrder);
        std::vector<std::string> now;
        window->Core().Selection().ForEachSelected([&](int index) { now.push_back(plate(index).first); });
        std::sort(now.begin(), now.end());
        EXPECT_EQ(now, selected);
        EXPECT_EQ(plate(window->list->ItemIndex()).first, focused);
    }
    // Released and loaded again: still by zoom, largest first.
    QTest::mouseClick(window->btnLoad, Qt::LeftButton);
    QTest::mouseClick(window->btnLoad, Qt::LeftButton);
    ASSERT_EQ(window->list->ItemsCount(), 21);
    EXPECT_TRUE(sorted(byLevel, true));
    EXPECT_EQ(plate(0).first.size(), 3u);
}

} // namespace
