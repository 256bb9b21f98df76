// Choosing the storage: the browse button's file dialog or folder chooser.
#include "app/MainForm.h"

#include "ScriptedBoxes.h"
#include "StartConfig.h"
#include "app/Data.h"
#include "config/ConfigItem.h"
#include "config/TreeConfig.h"

#include <QApplication>
#include <QComboBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

namespace fs = std::filesystem;

namespace {

// Runs `answer` on the file dialog once it is up.
void WhenDialogShows(std::function<void(QFileDialog*)> answer)
{
    QTimer::singleShot(0, [answer] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr) << "no file dialog";
        answer(dialog);
    });
}

class StorageChoiceTest : public ::testing::Test {
protected:
    void Start(const char* plugin)
    {
        const std::vector<std::string> arguments = StartConfig(folder, plugin);
        data = std::make_unique<TData>();
        window = std::make_unique<TMainForm>(arguments);
    }
    void TearDown() override
    {
        if (window)
            window->close();
        window.reset();
        data.reset();
    }

    TempFolder folder;
    ScriptedBoxes boxes;
    std::unique_ptr<TData> data;
    std::unique_ptr<TMainForm> window;
};

TEST_F(StorageChoiceTest, AFileStorageIsChosenWithThePluginsExtension)
{
    Start(TP_STORAGE_PATH);
    const std::string chosen = folder.File("cache.db");
    std::ofstream(chosen) << "x";
    QStringList filters;
    QString firstFilter;
    WhenDialogShows([&](QFileDialog* dialog) {
        filters = dialog->nameFilters();
        firstFilter = dialog->selectedNameFilter();
        dialog->selectFile(QString::fromStdString(chosen));
        static_cast<QDialog*>(dialog)->accept(); // QFileDialog's own accept is protected
    });
    QTest::mouseClick(window->btnStorage, Qt::LeftButton);
    EXPECT_EQ(filters, (QStringList{"All files (*)", "*.db (*.db)"}));
    EXPECT_EQ(firstFilter, "All files (*)");
    EXPECT_EQ(window->edtStorage->text().toStdString(), chosen);
    EXPECT_EQ(window->Link()->ReadString("EXP_S/LastFile", ""), chosen);

    // Cancelled: nothing changes.
    WhenDialogShows([](QFileDialog* dialog) { dialog->reject(); });
    window->edtStorage->setText("kept");
    QTest::mouseClick(window->btnStorage, Qt::LeftButton);
    EXPECT_EQ(window->edtStorage->text(), "kept");
    EXPECT_TRUE(boxes.shown.empty());
}

TEST_F(StorageChoiceTest, AFolderStorageIsChosenAndMadeAfterAsking)
{
    Start(TP_FOLDER_PATH);
    const std::string wanted = folder.File("new-cache");
    WhenDialogShows([&](QFileDialog* dialog) {
        dialog->selectFile(QString::fromStdString(wanted));
        static_cast<QDialog*>(dialog)->accept(); // QFileDialog's own accept is protected
    });
    boxes.Reply(BoxYes);
    QTest::mouseClick(window->btnStorage, Qt::LeftButton);
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].text, "Folder \"" + wanted + "\" does not exist. Create it?");
    EXPECT_EQ(boxes.shown[0].buttons, BoxPresenter::Buttons::YesNoDefaultNo) << "No is the default";
    EXPECT_TRUE(fs::is_directory(wanted));
    EXPECT_EQ(window->edtStorage->text().toStdString(), wanted);
    EXPECT_EQ(window->Link()->Item("")->FindItem("EXP_S/LastFile"), nullptr) << "folders do not use the key";
}

TEST_F(StorageChoiceTest, WithoutAPluginTheButtonSaysSo)
{
    Start(TP_STORAGE_PATH);
    window->cbPlugins->setCurrentIndex(-1);
    window->btnStorage->setEnabled(true); // a disabled button cannot be clicked
    QTest::mouseClick(window->btnStorage, Qt::LeftButton);
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].text, "Plugin is not loaded or selected");
}

TEST_F(StorageChoiceTest, AnExistingFolderIsChosenAtOnce)
{
    Start(TP_FOLDER_PATH);
    const fs::path cache = folder.Path() / "cache";
    fs::create_directories(cache / "t");
    // The path names a file inside the folder (left from a file storage):
    // the chooser opens in the folder, with no name to carry along.
    window->edtStorage->setText(QString::fromStdString((cache / "earth.mbtiles").string()));
    QString startedIn;
    QStringList offered;
    WhenDialogShows([&](QFileDialog* dialog) {
        startedIn = dialog->directory().absolutePath();
        offered = dialog->selectedFiles();
        static_cast<QDialog*>(dialog)->accept(); // the accept button, name box empty
    });
    QTest::mouseClick(window->btnStorage, Qt::LeftButton);
    EXPECT_EQ(startedIn.toStdString(), cache.string());
    EXPECT_EQ(offered, QStringList{QString::fromStdString(cache.string())});
    EXPECT_EQ(window->edtStorage->text().toStdString(), cache.string());
    EXPECT_TRUE(boxes.shown.empty()) << "nothing to ask about an existing folder";

    // A folder picked in the list is taken as it is, not entered.
    WhenDialogShows([&](QFileDialog* dialog) {
        dialog->selectFile(QString::fromStdString((cache / "t").string()));
        static_cast<QDialog*>(dialog)->accept();
    });
    QTest::mouseClick(window->btnStorage, Qt::LeftButton);
    EXPECT_EQ(window->edtStorage->text().toStdString(), (cache / "t").string());
    EXPECT_TRUE(boxes.shown.empty());
}

} // namespace
