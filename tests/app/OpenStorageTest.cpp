// Opening a storage in the window by its path alone: the plugin follows from
// what the path is, a storage named on the command line or dropped on the
// window opens at once, and what opened is kept in the recent list.
#include "app/MainForm.h"

#include "ScriptedBoxes.h"
#include "TempFolder.h"
#include "app/Data.h"
#include "log/LogComboBox.h"
#include "plates/AskExportForm.h"
#include "widgets/BkList.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QImage>
#include <QLabel>
#include <QTimer>
#include <QComboBox>
#include <QDropEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QPainter>
#include <QProcess>
#include <QPushButton>
#include <QTest>
#include <QUrl>

#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {

const std::string kFixtures = FIXTURES_DIR;

class OpenStorageTest : public ::testing::Test {
protected:
    // A first start: every shipped plugin registered, the first chosen.
    TMainForm& Start(std::vector<std::string> extra = {})
    {
        std::vector<std::string> arguments = {"ulmora", "-CFG=" + folder.File("u.hcfg"), "-LOG=" + folder.File("u.log")};
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        SessionFiles files;
        files.plugins = SHIPPED_PLUGIN_DIR;
        data = std::make_unique<TData>();
        window = std::make_unique<TMainForm>(arguments, files);
        return *window;
    }
    void TearDown() override
    {
        if (window)
            window->close();
        window.reset();
        data.reset();
    }
    std::string ChosenPlugin() const { return fs::path(window->cbPlugins->currentText().toStdString()).filename(); }
    int EntryOf(const std::string& library) const
    {
        for (int i = 0; i < window->cbPlugins->count(); ++i)
            if (fs::path(window->cbPlugins->itemText(i).toStdString()).filename() == library)
                return i;
        return -1;
    }

    TempFolder folder;
    ScriptedBoxes boxes;
    std::unique_ptr<TData> data;
    std::unique_ptr<TMainForm> window;
};

TEST_F(OpenStorageTest, ThePluginFollowsTheStoragePath)
{
    TMainForm& form = Start();
    const std::string unknown = folder.File("cache.unknown");
    std::ofstream(unknown) << "x";
    struct Case {
        std::string storage;
        std::string startWith; // the plugin chosen before
        std::string plugin;    // the plugin that loads it
        int plates;            // -1: not loaded
    };
    const Case cases[] = {
        {kFixtures + "/gdal-world.mbtiles", "folder.so", "mbtiles.so", 21},
        {kFixtures + "/folders/gdal-xyz", "mbtiles.so", "folder.so", 9},
        {kFixtures + "/geopackage/world.gpkg", "folder.so", "geopackage.so", -2},
        {kFixtures + "/pmtiles/stamen-toner-raster-z3.pmtiles", "folder.so", "pmtiles.so", 85},
        {kFixtures + "/folders/gdal-xyz?layout=xyz", "mbtiles.so", "folder.so", 9},
        // Nothing fits: the chosen plugin tries it.
        {unknown, "mbtiles.so", "mbtiles.so", -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.storage);
        ASSERT_GE(EntryOf(c.startWith), 0);
        form.cbPlugins->setCurrentIndex(EntryOf(c.startWith));
        boxes.shown.clear();
        form.edtStorage->setText(QString::fromStdString(c.storage));
        if (form.StorageLoaded())
            QTest::mouseClick(form.btnLoad, Qt::LeftButton); // release
        QTest::mouseClick(form.btnLoad, Qt::LeftButton);
        EXPECT_EQ(ChosenPlugin(), c.plugin);
        if (c.plates == -1) {
            EXPECT_FALSE(form.StorageLoaded());
        } else {
            EXPECT_TRUE(form.StorageLoaded());
            EXPECT_TRUE(boxes.shown.empty()) << boxes.shown.front().text;
            if (c.plates > 0) {
                EXPECT_EQ(form.list->ItemsCount(), c.plates);
            }
        }
    }
    // What loaded is in the recent list, the latest first, each once.
    const std::vector<std::string> recent = form.RecentStorages();
    ASSERT_EQ(recent.size(), 5u);
    EXPECT_EQ(recent[0], cases[4].storage);
    EXPECT_EQ(recent[4], cases[0].storage);
    EXPECT_EQ(form.mnuRecent->actions().size(), 5);
    EXPECT_TRUE(form.mnuRecent->isEnabled());
}

TEST_F(OpenStorageTest, TheCommandLineStorageOpensAtOnceAndIsRemembered)
{
    const std::string storage = kFixtures + "/gdal-world.mbtiles";
    TMainForm& form = Start({storage});
    EXPECT_EQ(form.edtStorage->text().toStdString(), storage);
    QTRY_VERIFY(form.StorageLoaded());
    EXPECT_EQ(ChosenPlugin(), "mbtiles.so") << "the first start chose folder.so";
    EXPECT_EQ(form.list->ItemsCount(), 21);
    EXPECT_TRUE(boxes.shown.empty());

    // Another plugin releases the list that the old one loaded.
    form.cbPlugins->setCurrentIndex(EntryOf("folder.so"));
    EXPECT_FALSE(form.StorageLoaded());
    EXPECT_EQ(form.list->ItemsCount(), 0);
    EXPECT_EQ(form.btnLoad->text(), "&L Load storage");
    window->close();
    window.reset();

    // The next start offers it in the recent list; choosing it opens it.
    TMainForm& again = Start();
    ASSERT_EQ(again.mnuRecent->actions().size(), 1);
    EXPECT_EQ(again.mnuRecent->actions()[0]->text().toStdString(), storage);
    EXPECT_FALSE(again.StorageLoaded());
    again.mnuRecent->actions()[0]->trigger();
    EXPECT_TRUE(again.StorageLoaded());
    EXPECT_EQ(again.list->ItemsCount(), 21);
}

TEST_F(OpenStorageTest, ADroppedFolderOpensAtOnce)
{
    TMainForm& form = Start();
    form.cbPlugins->setCurrentIndex(EntryOf("mbtiles.so"));
    const std::string storage = kFixtures + "/folders/gdal-xyz";
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(QString::fromStdString(storage))});
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&form, &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&form, &drop);
    QTRY_VERIFY(form.StorageLoaded());
    EXPECT_EQ(ChosenPlugin(), "folder.so");
    EXPECT_EQ(form.edtStorage->text().toStdString(), storage);
    EXPECT_EQ(form.list->ItemsCount(), 9);
}

TEST_F(OpenStorageTest, AStorageThatCannotWriteOffersNeitherDeleteNorMove)
{
    TMainForm& form = Start();
    const std::string writable = folder.File("world.mbtiles");
    fs::copy_file(kFixtures + "/gdal-world.mbtiles", writable);
    const struct {
        std::string storage;
        bool canWrite;
    } cases[] = {
        // A compact cache: its plugin reads only.
        {kFixtures + "/folders/mapproxy-compact", false},
        {writable, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.storage);
        form.OpenStorage(QString::fromStdString(c.storage));
        ASSERT_TRUE(form.StorageLoaded());
        form.list->SelectAll();
        form.listClick();
        EXPECT_TRUE(form.btnExport->isEnabled());
        EXPECT_EQ(form.btnDelete->isEnabled(), c.canWrite);
        bool moveEnabled = !c.canWrite;
        QTimer::singleShot(0, [&] {
            auto* dialog = qobject_cast<TAskExportForm*>(QApplication::activeModalWidget());
            ASSERT_NE(dialog, nullptr);
            moveEnabled = dialog->chMove->isEnabled();
            dialog->reject();
        });
        QTest::mouseClick(form.btnExport, Qt::LeftButton);
        EXPECT_EQ(moveEnabled, c.canWrite);
    }
    EXPECT_TRUE(boxes.shown.empty()) << boxes.shown.front().text;
}

TEST_F(OpenStorageTest, ThePreviewFitsALargePlateAndNamesItsPlace)
{
    // A z/x/y folder of one 512 x 512 grey plate.
    const fs::path tree = folder.Path() / "tiles";
    fs::create_directories(tree / "0" / "0");
    QImage grey(512, 512, QImage::Format_Grayscale8);
    grey.fill(128);
    ASSERT_TRUE(grey.save(QString::fromStdString((tree / "0" / "0" / "0.png").string())));

    TMainForm& form = Start();
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    form.OpenStorage(QString::fromStdString(tree.string()));
    ASSERT_EQ(form.list->ItemsCount(), 1);
    form.list->SetItemIndex(0);
    form.listClick();
    const QString label = form.txtImage->text();
    EXPECT_TRUE(label.startsWith("Item: t\nSizes: 512x512 (")) << label.toStdString();
    EXPECT_TRUE(label.endsWith("\nz/x/y: 0/0/0")) << label.toStdString();
    const QSize shown = form.image->pixmap().size();
    EXPECT_LE(shown.width(), form.image->width());
    EXPECT_EQ(shown.width(), shown.height());
    EXPECT_GT(shown.width(), 128);
    // The decoder's colour conversion goes to the log file, not the window's log line.
    for (int i = 0; i < form.cbLog->count(); ++i)
        EXPECT_FALSE(form.cbLog->itemText(i).contains("colorspace")) << form.cbLog->itemText(i).toStdString();
    EXPECT_TRUE(boxes.shown.empty());
}

// A 512-pixel WebP PMTiles archive, written by the tool's own copy from a
// z/x/y tree: verify finds nothing broken, nor does the window's "Broken
// plates", and the preview shows a plate whole, scaled to fit its square.
TEST_F(OpenStorageTest, A512PixelWebpArchiveVerifiesCleanAndPreviewsWhole)
{
    // Zooms 0 and 1, each plate four coloured quarters, so that a picture
    // cut instead of scaled shows at its corners.
    const fs::path tree = folder.Path() / "webp512";
    const QColor quarters[4] = {Qt::red, Qt::green, Qt::blue, Qt::yellow}; // NW, NE, SW, SE
    const std::vector<std::array<int, 3>> tiles = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {1, 0, 1}, {1, 1, 1}};
    for (const auto& [z, x, y] : tiles) {
        QImage picture(512, 512, QImage::Format_RGB32);
        QPainter painter(&picture);
        for (int q = 0; q < 4; ++q)
            painter.fillRect((q % 2) * 256, (q / 2) * 256, 256, 256, quarters[q]);
        painter.end();
        const fs::path file = tree / std::to_string(z) / std::to_string(x) / (std::to_string(y) + ".webp");
        fs::create_directories(file.parent_path());
        ASSERT_TRUE(picture.save(QString::fromStdString(file.string()), "WEBP", 90));
    }
    const std::string archive = folder.File("webp512.pmtiles");
    auto tool = [&](const QStringList& arguments) {
        QProcess process;
        process.start(CLI_TOOL, arguments);
        EXPECT_TRUE(process.waitForFinished(60000));
        return std::make_pair(process.exitCode(), QString::fromUtf8(process.readAllStandardOutput() +
                                                                    process.readAllStandardError()));
    };
    const auto copied = tool({"copy", QString::fromStdString(tree.string()), QString::fromStdString(archive)});
    ASSERT_EQ(copied.first, 0) << copied.second.toStdString();
    const auto verified = tool({"verify", QString::fromStdString(archive)});
    EXPECT_EQ(verified.first, 0) << verified.second.toStdString();
    EXPECT_FALSE(verified.second.contains("not 256 x 256")) << verified.second.toStdString();

    TMainForm& form = Start();
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    form.OpenStorage(QString::fromStdString(archive));
    ASSERT_EQ(form.list->ItemsCount(), static_cast<int>(tiles.size()));
    form.list->SelectAll();
    form.B1->trigger();
    EXPECT_EQ(form.list->SelectedCount(), 0) << "no broken plates";

    form.list->SetItemIndex(0);
    form.listClick();
    const QString label = form.txtImage->text();
    EXPECT_TRUE(label.contains("\nSizes: 512x512 (")) << label.toStdString();
    const QImage shown = form.image->pixmap().toImage();
    ASSERT_FALSE(shown.isNull());
    EXPECT_LE(shown.width(), form.image->width());
    EXPECT_EQ(shown.width(), shown.height());
    const int inset = shown.width() / 16;
    const QPoint corners[4] = {{inset, inset}, {shown.width() - 1 - inset, inset}, {inset, shown.height() - 1 - inset},
                               {shown.width() - 1 - inset, shown.height() - 1 - inset}};
    for (int q = 0; q < 4; ++q) {
        const QColor seen = shown.pixelColor(corners[q]);
        EXPECT_LT(std::abs(seen.red() - quarters[q].red()) + std::abs(seen.green() - quarters[q].green()) +
                      std::abs(seen.blue() - quarters[q].blue()),
                  60)
            << "quarter " << q << " seen " << seen.name().toStdString();
    }
    EXPECT_TRUE(boxes.shown.empty()) << boxes.shown.front().text;
}

} // namespace
