// Export, Copy to and Delete in the real main window, offscreen: the selection, the
// options dialog and its keys, the tree on disk, the reload, and the
// deletion's confirmation.
#include "app/MainForm.h"
#include "app/MetadataForm.h"

#include "ScriptedBoxes.h"
#include "StartConfig.h"
#include "app/Data.h"
#include "base/ListSelection.h"
#include "log/LogComboBox.h"
#include "plates/AskCopyForm.h"
#include "plates/AskExportForm.h"
#include "plugins/Plugin.h"
#include "plugins/Registry.h"
#include "widgets/BkList.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QTableWidget>
#include <QToolButton>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

namespace fs = std::filesystem;

namespace {

class PlateCommandsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        storage = folder.File("world.mbtiles");
        fs::copy_file(FIXTURE_MBTILES, storage);
        data = std::make_unique<TData>();
        window = std::make_unique<TMainForm>(StartConfig(folder, MBTILES_PLUGIN, storage));
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
    // Selects the plates of one zoom level.
    void SelectLevel(int level)
    {
        const PlateList& plates = window->Core().Plates();
        window->list->EditSelection([&](ListSelection& selection) {
            selection.SelectWhere([&](int index) {
                PlateItem plate;
                return plates.At(index, &plate) && plate.nameLength == level;
            });
        });
    }

    TempFolder folder;
    ScriptedBoxes boxes;
    std::string storage;
    std::unique_ptr<TData> data;
    std::unique_ptr<TMainForm> window;
};

TEST_F(PlateCommandsTest, ExportWritesTheTreeAndReloads)
{
    SelectLevel(2);
    ASSERT_EQ(window->list->SelectedCount(), 4);
    const std::string base = folder.File("tiles");
    bool dialogSeen = false;
    QTimer::singleShot(0, [&] {
        auto* dialog = qobject_cast<TAskExportForm*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        dialogSeen = true;
        EXPECT_EQ(dialog->windowTitle(), "Export options...");
        EXPECT_EQ(dialog->OverIndex(), 0) << "Ask by default";
        EXPECT_TRUE(dialog->chAskOnError->isChecked());
        EXPECT_FALSE(dialog->chMove->isChecked());
        dialog->edtBasePath->setText(QString::fromStdString(base));
        dialog->chOverItems[1]->setChecked(true);
        QTest::mouseClick(dialog->btnOk, Qt::LeftButton);
    });
    QTest::mouseClick(window->btnExport, Qt::LeftButton);
    ASSERT_TRUE(dialogSeen);
    EXPECT_TRUE(boxes.shown.empty()) << boxes.shown.front().text;

    for (const char* file : {"t/q.jpg", "t/r.jpg", "t/s.jpg", "t/t.jpg"}) {
        const std::string bytes = ReadWholeFile(base + "/" + file);
        ASSERT_GT(bytes.size(), 2u) << file;
        EXPECT_EQ(bytes.substr(0, 2), "\xFF\xD8") << file << " is the plate's JPEG";
    }
    EXPECT_FALSE(fs::exists(base + "/t.jpg")) << "only the selected plates";
    EXPECT_EQ(window->list->ItemsCount(), 21) << "the storage was loaded again";
    EXPECT_EQ(window->list->SelectedCount(), 0);
    EXPECT_TRUE(window->StorageLoaded());
    EXPECT_EQ(window->Link()->ReadString("Export/BasePath", ""), base);
    EXPECT_EQ(window->Link()->ReadInt("Export/Over", 0), 1);

    // Cancel changes nothing.
    SelectLevel(1);
    QTimer::singleShot(0, [] {
        auto* dialog = qobject_cast<TAskExportForm*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        QTest::mouseClick(dialog->btnCancel, Qt::LeftButton);
    });
    QTest::mouseClick(window->btnExport, Qt::LeftButton);
    EXPECT_FALSE(fs::exists(base + "/t.jpg"));
    EXPECT_EQ(window->list->SelectedCount(), 1) << "no reload after Cancel";
}

// "Copy to..." with the plugin the dialog picks from the path: the selected
// plates land in the new target through that plugin, the storage copied from
// is not loaded again, and the plates copied are deselected.
TEST_F(PlateCommandsTest, CopyToWritesTheSelectionThroughThePluginThePathPicks)
{
    ASSERT_NE(window->Core().Plugins().AddPlugin(FOLDER_PLUGIN), nullptr);
    const struct {
        const char* label;
        std::string target;
        const char* plugin; // the library the dialog picks
    } cases[] = {
        {"an MBTiles file", folder.File("copy.mbtiles"), MBTILES_PLUGIN},
        {"a new folder", folder.File("tree"), FOLDER_PLUGIN},
    };
    StorageAction& source = *window->Core().Connection().Action();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        SelectLevel(2);
        ASSERT_EQ(window->list->SelectedCount(), 4);
        boxes.shown.clear();
        bool dialogSeen = false;
        QTimer::singleShot(0, [&] {
            auto* dialog = qobject_cast<TAskCopyForm*>(QApplication::activeModalWidget());
            ASSERT_NE(dialog, nullptr);
            dialogSeen = true;
            EXPECT_EQ(dialog->windowTitle(), "Copy to...");
            dialog->edtTarget->setText(QString::fromStdString(c.target));
            // Registered paths are kept relative to the program's folder.
            EXPECT_EQ(fs::path(dialog->cbTargetPlugin->currentText().toStdString()).filename(),
                      fs::path(c.plugin).filename());
            QTest::mouseClick(dialog->btnOk, Qt::LeftButton);
        });
        QTest::mouseClick(window->btnCopy, Qt::LeftButton);
        ASSERT_TRUE(dialogSeen);
        EXPECT_TRUE(boxes.shown.empty()) << boxes.shown.front().text;
        EXPECT_EQ(window->list->SelectedCount(), 0) << "the plates copied are deselected";
        EXPECT_EQ(window->list->ItemsCount(), 21);
        EXPECT_EQ(window->Link()->ReadString("Copy/Target", ""), c.target);

        std::unique_ptr<StoragePlugin> plugin = LoadPlugin(c.plugin, &HostInfo(), PluginTypeStorage);
        ASSERT_NE(plugin, nullptr);
        StorageAction* copy = plugin->CreateAction();
        ASSERT_TRUE(copy != nullptr && copy->Open(c.target.c_str()));
        for (const char* name : {"tq", "tr", "ts", "tt"}) {
            const void* block = nullptr;
            uint32_t size = 0;
            ASSERT_EQ(source.GetPlateData(name, &block, &size), uint32_t{Done}) << name;
            const std::string original(static_cast<const char*>(block), size);
            ASSERT_EQ(copy->GetPlateData(name, &block, &size), uint32_t{Done}) << name;
            EXPECT_EQ(std::string(static_cast<const char*>(block), size), original) << name;
        }
        const void* block = nullptr;
        uint32_t size = 0;
        EXPECT_EQ(copy->GetPlateData("t", &block, &size), uint32_t{Failed}) << "only the selected plates";
    }
}

TEST_F(PlateCommandsTest, TheDialogOffersThePlateTreeAndBothZxyLayouts)
{
    // tq is the north-west quarter at zoom 1, a JPEG; ttq lies in the south-west.
    const struct {
        int layout;
        std::vector<std::string> files;
    } cases[] = {
        {0, {"t/q.jpg", "t/t/q.jpg"}},
        {1, {"1/0/0.jpg", "2/0/2.jpg"}},
        {2, {"1/0/1.jpg", "2/0/1.jpg"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.layout);
        const PlateList& plates = window->Core().Plates();
        window->list->EditSelection([&](ListSelection& selection) {
            selection.SelectWhere([&](int index) {
                PlateItem plate;
                return plates.At(index, &plate) && (std::string(plate.name) == "tq" || std::string(plate.name) == "ttq");
            });
        });
        ASSERT_EQ(window->list->SelectedCount(), 2);
        const std::string base = folder.File("tiles" + std::to_string(c.layout));
        int offered = 0;
        QTimer::singleShot(0, [&] {
            auto* dialog = qobject_cast<TAskExportForm*>(QApplication::activeModalWidget());
            ASSERT_NE(dialog, nullptr);
            offered = dialog->cbLayout->count();
            dialog->cbLayout->setCurrentIndex(c.layout);
            dialog->edtBasePath->setText(QString::fromStdString(base));
            QTest::mouseClick(dialog->btnOk, Qt::LeftButton);
        });
        QTest::mouseClick(window->btnExport, Qt::LeftButton);
        EXPECT_EQ(offered, 3);
        EXPECT_TRUE(boxes.shown.empty()) << boxes.shown.front().text;
        std::vector<std::string> written;
        for (const auto& entry : fs::recursive_directory_iterator(base))
            if (entry.is_regular_file())
                written.push_back(fs::relative(entry.path(), base).string());
        std::sort(written.begin(), written.end());
        std::vector<std::string> expected = c.files;
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(written, expected);
        EXPECT_EQ(window->Link()->ReadInt("Export/Layout", -1), c.layout);
    }
}

TEST_F(PlateCommandsTest, DeleteAsksThenDeletesAndReloads)
{
    SelectLevel(3);
    ASSERT_EQ(window->list->SelectedCount(), 16);
    boxes.Reply(BoxNo);
    QTest::mouseClick(window->btnDelete, Qt::LeftButton);
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].text, "Delete 16 selected plates?");
    EXPECT_EQ(window->list->ItemsCount(), 21);

    boxes.Reply(BoxYes);
    QTest::mouseClick(window->btnDelete, Qt::LeftButton);
    EXPECT_EQ(boxes.shown.size(), 2u);
    EXPECT_EQ(window->list->ItemsCount(), 5) << "the list shows what is left";
    EXPECT_TRUE(window->StorageLoaded());
}

// Files → Compact storage... asks with the free space measured, and only a
// Yes writes the file anew: smaller by the pages the deletion freed, the
// same plates listed, the storage still loaded.
TEST_F(PlateCommandsTest, CompactAsksThenGivesTheFreeSpaceBack)
{
    SelectLevel(3);
    boxes.Reply(BoxYes);
    QTest::mouseClick(window->btnDelete, Qt::LeftButton);
    ASSERT_EQ(window->list->ItemsCount(), 5);
    const auto before = fs::file_size(storage);

    boxes.Reply(BoxNo);
    window->mnuCompact->trigger();
    ASSERT_EQ(boxes.shown.size(), 2u);
    EXPECT_EQ(boxes.shown[1].kind, "ask");
    EXPECT_NE(boxes.shown[1].text.find(" free of "), std::string::npos) << boxes.shown[1].text;
    EXPECT_EQ(fs::file_size(storage), before);

    boxes.Reply(BoxYes);
    window->mnuCompact->trigger();
    ASSERT_EQ(boxes.shown.size(), 3u) << boxes.shown.back().text;
    EXPECT_LT(fs::file_size(storage), before);
    EXPECT_TRUE(window->StorageLoaded());
    EXPECT_EQ(window->list->ItemsCount(), 5);
}

// The base folder as the dialog takes it: a path longer than 260 characters
// is used whole, and the storage itself is no target.
TEST_F(PlateCommandsTest, TheDialogsFolderIsUsedWholeAndNeverTheStorage)
{
    const std::string longBase = folder.File(std::string(150, 'd') + "/" + std::string(150, 'e'));
    const struct {
        const char* label;
        std::string base;
        bool move;
        bool written;
    } cases[] = {
        {"a folder of 300 characters", longBase, false, true},
        {"the storage itself, with Move", storage, true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        SelectLevel(2);
        boxes.shown.clear();
        QTimer::singleShot(0, [&] {
            auto* dialog = qobject_cast<TAskExportForm*>(QApplication::activeModalWidget());
            ASSERT_NE(dialog, nullptr);
            dialog->edtBasePath->setText(QString::fromStdString(c.base));
            dialog->chMove->setChecked(c.move);
            QTest::mouseClick(dialog->btnOk, Qt::LeftButton);
        });
        QTest::mouseClick(window->btnExport, Qt::LeftButton);

        EXPECT_EQ(window->Link()->ReadString("Export/BasePath", ""), c.base);
        for (const char* file : {"t/q.jpg", "t/r.jpg", "t/s.jpg", "t/t.jpg"})
            EXPECT_EQ(fs::is_regular_file(c.base + "/" + file), c.written) << file;
        if (c.written) {
            EXPECT_TRUE(boxes.shown.empty()) << boxes.shown.front().text;
            EXPECT_EQ(window->list->ItemsCount(), 21);
        } else {
            ASSERT_EQ(boxes.shown.size(), 1u);
            EXPECT_EQ(boxes.shown[0].kind, "error");
            EXPECT_TRUE(fs::is_regular_file(storage));
            EXPECT_EQ(window->list->SelectedCount(), 4) << "nothing was moved or reloaded";
        }
    }
}

// The storage line's metadata button shows the loaded storage's keys and
// what they say; a value edited there is written; the window's copy carries
// the keys into another format, with the zooms of what it copied.
TEST_F(PlateCommandsTest, TheMetadataWindowShowsAndEditsTheKeysAndCopyKeepsThem)
{
    auto* button = window->findChild<QToolButton*>("btnMetadata");
    ASSERT_NE(button, nullptr);
    // What the window shows is taken down and the window closed before any
    // check: a check that failed inside would leave it open for good.
    bool seen = false;
    std::vector<std::pair<std::string, std::string>> shown;
    QString fields;
    QTimer::singleShot(0, [&] {
        auto* form = qobject_cast<MetadataForm*>(QApplication::activeModalWidget());
        if (form == nullptr)
            return;
        seen = true;
        QTableWidget* table = form->Table();
        for (int row = 0; row < table->rowCount(); ++row) {
            shown.emplace_back(table->item(row, 0)->text().toStdString(), table->item(row, 1)->text().toStdString());
            if (shown.back().first == "name")
                table->item(row, 1)->setText("Edited world");
        }
        fields = form->Fields()->text();
        form->reject();
    });
    QTest::mouseClick(button, Qt::LeftButton);
    ASSERT_TRUE(seen);
    EXPECT_EQ(shown.size(), 8u);
    EXPECT_NE(std::find(shown.begin(), shown.end(), std::make_pair(std::string("name"), std::string("Ulmora test world"))),
              shown.end());
    EXPECT_TRUE(fields.contains("Zooms: 0-2")) << fields.toStdString();
    EXPECT_TRUE(fields.contains("Bounds: -180, -85.051129, 180, 85.051129")) << fields.toStdString();
    EXPECT_TRUE(fields.contains("Format: jpg")) << fields.toStdString();
    EXPECT_TRUE(boxes.shown.empty()) << boxes.shown.front().text;
    StorageAction& source = *window->Core().Connection().Action();
    StorageAction::MetadataEntries keys;
    ASSERT_EQ(source.ReadMetadata(&keys), uint32_t{Done});
    EXPECT_NE(std::find(keys.begin(), keys.end(), std::make_pair(std::string("name"), std::string("Edited world"))),
              keys.end());

    const std::string pmtilesPlugin = SHIPPED_PLUGIN_DIR "/pmtiles.so";
    ASSERT_NE(window->Core().Plugins().AddPlugin(pmtilesPlugin.c_str()), nullptr);
    const std::string target = folder.File("copy.pmtiles");
    SelectLevel(2);
    bool asked = false;
    QTimer::singleShot(0, [&] {
        auto* dialog = qobject_cast<TAskCopyForm*>(QApplication::activeModalWidget());
        if (dialog == nullptr)
            return;
        asked = true;
        dialog->edtTarget->setText(QString::fromStdString(target));
        QTest::mouseClick(dialog->btnOk, Qt::LeftButton);
    });
    QTest::mouseClick(window->btnCopy, Qt::LeftButton);
    ASSERT_TRUE(asked);
    EXPECT_TRUE(boxes.shown.empty()) << boxes.shown.front().text;
    std::unique_ptr<StoragePlugin> plugin = LoadPlugin(pmtilesPlugin.c_str(), &HostInfo(), PluginTypeStorage);
    ASSERT_NE(plugin, nullptr);
    StorageAction* copy = plugin->CreateAction();
    ASSERT_TRUE(copy != nullptr && copy->Open(target.c_str()));
    keys.clear();
    ASSERT_EQ(copy->ReadMetadata(&keys), uint32_t{Done});
    for (const auto& expected : StorageAction::MetadataEntries{{"header.min_zoom", "1"},
                                                              {"header.max_zoom", "1"},
                                                              {"name", "Edited world"},
                                                              {"description", "gdal-world"}})
        EXPECT_NE(std::find(keys.begin(), keys.end(), expected), keys.end()) << expected.first;
}

// After a run and its reload the result line is the one the log line shows,
// the plates left undone (the run stopped before them) are still selected
// and the focused plate is still focused, wherever the new list puts them.
TEST_F(PlateCommandsTest, TheResultLineShowsAndTheUndonePlatesStaySelectedAfterTheReload)
{
    const PlateList& plates = window->Core().Plates();
    auto nameAt = [&](int index) {
        PlateItem plate;
        return plates.At(index, &plate) ? std::string(plate.name) : std::string();
    };
    auto selectedNames = [&] {
        std::vector<std::string> names;
        window->Core().Selection().ForEachSelected([&](int index) { names.push_back(nameAt(index)); });
        return names;
    };
    auto indexOf = [&](const std::string& name) {
        for (int i = 0; i < plates.Count(); ++i)
            if (nameAt(i) == name)
                return i;
        return -1;
    };
    const struct {
        const char* label;
        bool exportRun; // else Delete
        int level;
        const char* line;
        int keptFrom; // the selected plates from this one on stay selected; -1 none
    } cases[] = {
        // The second file exists and the question is answered Cancel: one written, three left.
        {"an export that stops", true, 2, "Plates successfully exported from storage: 1 of 4", 1},
        {"a delete", false, 3, "Plates successfully deleted from storage: 16 of 16", -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        SelectLevel(c.level);
        const std::vector<std::string> chosen = selectedNames();
        ASSERT_FALSE(chosen.empty());
        const int focused = indexOf("t"); // not selected, and never deleted here
        window->list->SetItemIndex(focused);
        boxes.shown.clear();
        const std::string base = folder.File(std::string("tiles-") + (c.exportRun ? "export" : "delete"));
        if (c.exportRun) {
            // The plate tree's file of the second plate: its name's letters as folders.
            const std::string second = chosen[1];
            fs::create_directories(base + "/" + second.substr(0, 1));
            WriteWholeFile(base + "/" + second.substr(0, 1) + "/" + second.substr(1) + ".jpg", "kept");
            boxes.Reply(BoxCancel);
            QTimer::singleShot(0, [&] {
                auto* dialog = qobject_cast<TAskExportForm*>(QApplication::activeModalWidget());
                ASSERT_NE(dialog, nullptr);
                dialog->edtBasePath->setText(QString::fromStdString(base));
                dialog->chOverItems[0]->setChecked(true); // ask
                QTest::mouseClick(dialog->btnOk, Qt::LeftButton);
            });
            QTest::mouseClick(window->btnExport, Qt::LeftButton);
        } else {
            boxes.Reply(BoxYes);
            QTest::mouseClick(window->btnDelete, Qt::LeftButton);
        }
        ASSERT_TRUE(window->StorageLoaded());
        EXPECT_EQ(window->cbLog->currentText().toStdString(), c.line);
        const std::vector<std::string> kept =
            c.keptFrom < 0 ? std::vector<std::string>{}
                           : std::vector<std::string>(chosen.begin() + c.keptFrom, chosen.end());
        EXPECT_EQ(selectedNames(), kept);
        EXPECT_EQ(nameAt(window->list->ItemIndex()), "t");
    }
}

} // namespace
