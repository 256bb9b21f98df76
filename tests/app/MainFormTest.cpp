// The main window from start-up to shutdown, offscreen.
#include "app/MainForm.h"

#include "ScriptedBoxes.h"
#include "ShippedPlugins.h"
#include "TempFolder.h"
#include "TestPluginState.h"
#include "app/Data.h"
#include "base/Dictionary.h"
#include "base/Paths.h"
#include "config/ConfigItem.h"
#include "config/TreeConfig.h"
#include "plugins/Registry.h"

#include <QAbstractButton>
#include <QApplication>
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QSplitter>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace {

std::string ReadFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream content;
    content << in.rdbuf();
    return content.str();
}

// The texts of the log file's lines, without their prefixes.
std::vector<std::string> LogTexts(const fs::path& path)
{
    std::vector<std::string> texts;
    std::istringstream in(ReadFile(path));
    std::string line;
    std::getline(in, line); // the header line
    while (std::getline(in, line)) {
        std::size_t colon = line.find(": ");
        texts.push_back(colon == std::string::npos ? line : line.substr(colon + 2));
    }
    return texts;
}

class MainFormTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir = folder.Path();
        config = dir / "u.hcfg";
        log = dir / "u.log";
        arguments = {"ulmora", "-CFG=" + config.string(), "-LOG=" + log.string()};
    }
    void TearDown() override
    {
        form.reset();
        data.reset();
    }
    TMainForm& Start()
    {
        data = std::make_unique<TData>();
        form = std::make_unique<TMainForm>(arguments, files);
        return *form;
    }
    void Close()
    {
        form->close();
        form.reset();
    }
    void WriteConfig(void (*fill)(ConfigItem& ide))
    {
        TreeConfig tree;
        fill(*tree.Root()->Item("IDE"));
        ASSERT_TRUE(tree.Save(config.string()));
    }

    TempFolder folder;
    ScriptedBoxes boxes;
    fs::path dir, config, log;
    std::vector<std::string> arguments;
    SessionFiles files; // the plugins folder: none beside the tests unless a test names one
    std::unique_ptr<TData> data;
    std::unique_ptr<TMainForm> form;
};

TEST_F(MainFormTest, ANormalRunLogsStartAndShutdownInOrder)
{
    Start();
    Close();
    const std::vector<std::string> texts = LogTexts(log);
    ASSERT_GE(texts.size(), 11u);
    const std::string dashes(42, '-');
    EXPECT_EQ(texts[0], dashes);
    EXPECT_EQ(texts[1], "Programm: " + fs::read_symlink("/proc/self/exe").string());
    // The project's version, then the program file's time.
    const std::string version = std::string("Vesion: ") + PROJECT_VERSION + " (";
    EXPECT_EQ(texts[2].rfind(version, 0), 0u) << texts[2];
    EXPECT_EQ(texts[2].size(), (version + "10-12-2026 04:48:30)").size()) << texts[2];
    EXPECT_EQ(texts[3], dashes);
    EXPECT_EQ(std::vector<std::string>(texts.begin() + 4, texts.begin() + 7),
              (std::vector<std::string>{"Starting...", "Load cfg...", "OK"}));
    EXPECT_EQ(std::vector<std::string>(texts.end() - 4, texts.end()),
              (std::vector<std::string>{"Save cfg...", "Shutdown plugins...", "Shutdown programm...",
                                        "Shutting down..."}));
    EXPECT_TRUE(boxes.shown.empty());
}

// The About box's line is the project's version, as --version and the log's.
TEST(AboutTest, TheAboutLineGivesTheProjectsVersion)
{
    EXPECT_EQ(AboutLine(), std::string("Ulmora ") + PROJECT_VERSION);
}

TEST_F(MainFormTest, TheFirstRunWritesEveryKey)
{
    TMainForm& window = Start();
    std::vector<int> widths;
    for (int i = 0; i < kSectionCount; ++i)
        widths.push_back(window.header->sectionSize(i));
    Close();

    TreeConfig tree;
    ASSERT_TRUE(tree.Load(config.string()));
    ConfigItem* ide = tree.Root()->FindItem("IDE");
    ASSERT_NE(ide, nullptr);
    for (const char* key : {"UsedLang", "Window", "RightW", "LastUsedPlugin", "LastUsedData", "Autosave",
                            "Plugins/Count", "Storages/Count"})
        EXPECT_NE(ide->FindItem(key), nullptr) << key;
    for (int i = 0; i < kSectionCount; ++i)
        EXPECT_EQ(ide->ReadInt("Header/Sec" + std::to_string(i), -1), widths[i]) << i;
    EXPECT_EQ(widths[0], 70);
    EXPECT_EQ(widths[3], 150);
    EXPECT_TRUE(ide->ReadBool("Autosave", false));
    EXPECT_EQ(ide->ReadInt("LastUsedPlugin", 0), -1);
    EXPECT_EQ(ide->ReadString("LastUsedData", "x"), "");
}

TEST_F(MainFormTest, WithoutAutosaveNothingIsSavedYetTheLineIsLogged)
{
    WriteConfig([](ConfigItem& ide) { ide.WriteBool("Autosave", false); });
    const std::string before = ReadFile(config);
    Start();
    Close();
    EXPECT_EQ(ReadFile(config), before);
    const std::vector<std::string> texts = LogTexts(log);
    EXPECT_NE(std::find(texts.begin(), texts.end(), "Save cfg..."), texts.end());
}

TEST_F(MainFormTest, AStoredPluginPositionOutsideTheListChoosesNothing)
{
    WriteConfig([](ConfigItem& ide) {
        ide.WriteInt("Plugins/Count", 2);
        ide.WriteString("Plugins/Item0", MakeRelativeToProgramFolder(TP_STORAGE_PATH));
        ide.WriteString("Plugins/Item1", MakeRelativeToProgramFolder(TP_FOLDER_PATH));
        ide.WriteInt("LastUsedPlugin", 5);
        ide.WriteString("LastUsedData", "/data/cache.db");
    });
    TMainForm& window = Start();
    EXPECT_EQ(window.cbPlugins->count(), 2);
    EXPECT_EQ(window.cbPlugins->currentIndex(), -1);
    EXPECT_EQ(window.edtDesc->toPlainText(), "Not loaded");
    EXPECT_EQ(window.txtPlugin->text(), "");
    EXPECT_FALSE(window.btnStorage->isEnabled());
    EXPECT_EQ(window.edtStorage->text(), "/data/cache.db");
    EXPECT_TRUE(boxes.shown.empty());

    window.cbPlugins->setCurrentIndex(1);
    EXPECT_EQ(window.txtPlugin->text(), "Storage");
    EXPECT_EQ(window.edtDesc->toPlainText(), "Test storage");
    EXPECT_TRUE(window.chUseDir->isChecked());
    EXPECT_TRUE(window.btnStorage->isEnabled());
    Close();

    TreeConfig tree;
    ASSERT_TRUE(tree.Load(config.string()));
    EXPECT_EQ(tree.Root()->ReadInt("IDE/LastUsedPlugin", -1), 1);
    EXPECT_EQ(tree.Root()->ReadInt("IDE/Plugins/Count", 0), 2);
}

TEST_F(MainFormTest, PlateCommandsNeedPlates)
{
    TMainForm& window = Start();
    EXPECT_FALSE(window.btnSelect->isEnabled());
    EXPECT_FALSE(window.btnExport->isEnabled());
    EXPECT_FALSE(window.btnDelete->isEnabled());
    EXPECT_EQ(window.btnLoad->text(), "&L Load storage");
    emit window.PopupMenu1->aboutToShow();
    EXPECT_FALSE(window.A1->isEnabled());
    EXPECT_FALSE(window.I1->isEnabled());
    EXPECT_TRUE(window.L1->isEnabled());
}

TEST_F(MainFormTest, SaveConfigurationAsksFirst)
{
    TMainForm& window = Start();
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    boxes.Reply(BoxNo);
    QTest::keyClick(&window, Qt::Key_F9, Qt::ShiftModifier);
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].text, "Save configuration?");
    EXPECT_FALSE(fs::exists(config));
    boxes.Reply(BoxYes);
    QTest::keyClick(&window, Qt::Key_F9, Qt::ShiftModifier);
    EXPECT_TRUE(fs::exists(config));
}

TEST_F(MainFormTest, AFailedSaveIsReportedOnlyWhenAsked)
{
    arguments[1] = "-CFG=" + (dir / "missing-folder" / "u.hcfg").string();
    TMainForm& window = Start();
    boxes.Reply(BoxYes);
    window.SaveState(true);
    ASSERT_EQ(boxes.shown.size(), 2u);
    EXPECT_EQ(boxes.shown[1].text.rfind("Error storing config.\nFile: " + (dir / "missing-folder" / "u.hcfg").string() +
                                            "\nError: ", 0),
              0u)
        << boxes.shown[1].text;
    window.SaveState(false);
    EXPECT_EQ(boxes.shown.size(), 2u);
}

TEST_F(MainFormTest, ThePreviewStaysSquareAndItsWidthIsKept)
{
    TMainForm& window = Start();
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    EXPECT_EQ(window.splitter->sizes()[1], kRightPanelWidth) << "the design width on a first run";
    window.splitter->setSizes({300, 320});
    QApplication::processEvents();
    EXPECT_EQ(window.image->height(), window.panelRight->width());
    const int right = window.panelRight->width();
    Close();
    TreeConfig tree;
    ASSERT_TRUE(tree.Load(config.string()));
    EXPECT_EQ(tree.Root()->ReadInt("IDE/RightW", 0), right);

    Start();
    form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    EXPECT_EQ(form->splitter->sizes()[1], right);
}

TEST_F(MainFormTest, ChoosingALanguageTranslatesTheWindowAtOnce)
{
    TMainForm& window = Start();
    ASSERT_TRUE(MainDictionary().LoadText("languages\tEnglish\tРусский\n"
                                          "&E Export...\t&E Экспорт...\n"));
    window.BuildLanguageMenu();
    ASSERT_TRUE(window.mnuLang->isEnabled());
    ASSERT_EQ(window.mnuLang->actions().size(), 2);
    window.mnuLang->actions()[1]->trigger();
    EXPECT_EQ(window.btnExport->text(), QString::fromUtf8("&E Экспорт..."));
    EXPECT_EQ(window.txtPlugin->text(), "") << "no plugin is chosen: no type to show";
    EXPECT_EQ(window.Link()->ReadInt("UsedLang", 0), 1);
    window.mnuLang->actions()[0]->trigger();
    EXPECT_EQ(window.btnExport->text(), "&E Export...");
    MainDictionary().LoadText("");
}

TEST_F(MainFormTest, AFirstStartRegistersTheShippedPluginsAndChoosesTheFirst)
{
    files.plugins = SHIPPED_PLUGIN_DIR;
    TMainForm& window = Start();
    const std::vector<std::string> shipped = PluginLibraryNames(SHIPPED_PLUGIN_DIR);
    ASSERT_EQ(window.cbPlugins->count(), static_cast<int>(shipped.size()));
    for (int i = 0; i < window.cbPlugins->count(); ++i)
        EXPECT_TRUE(window.cbPlugins->itemText(i).endsWith(QString::fromStdString("plugins/" + shipped[i])))
            << window.cbPlugins->itemText(i).toStdString();
    EXPECT_EQ(window.cbPlugins->currentIndex(), 0);
    EXPECT_EQ(window.txtPlugin->text(), "Storage");
    EXPECT_TRUE(window.btnStorage->isEnabled()) << "the storage can be chosen at once";
    EXPECT_TRUE(boxes.shown.empty());
    Close();

    // From then on the list is the user's: a second start registers nothing more.
    Start();
    EXPECT_EQ(form->cbPlugins->count(), static_cast<int>(shipped.size()));
    EXPECT_EQ(form->cbPlugins->currentIndex(), 0);
}

TEST_F(MainFormTest, LoadingWithoutAChosenPluginSaysSo)
{
    files.plugins = SHIPPED_PLUGIN_DIR;
    WriteConfig([](ConfigItem& ide) { ide.WriteInt("Plugins/Count", 0); }); // emptied by the user: kept empty
    TMainForm& window = Start();
    EXPECT_EQ(window.cbPlugins->count(), 0);
    window.edtStorage->setText(QString::fromStdString(dir.string()));
    QTest::mouseClick(window.btnLoad, Qt::LeftButton);
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].text, "Plugin is not loaded or selected");
    EXPECT_EQ(window.btnLoad->text(), "&L Load storage");
}

// A storage opened from the command line, the recent list or a drop arrives
// as a queued event, and a column sort lets events through while its worker
// reads the plate list: the open must wait until the sort is applied, never
// release the list under the worker (nor get the old list's order after).
TEST_F(MainFormTest, AnOpenThatArrivesDuringASortWaitsForIt)
{
    TestPluginControl* state = KeepTestPluginLoaded(TP_STORAGE_PATH);
    state->plateCount = 1000000; // a sort long enough to let events through on any machine
    state->enumerateResult = Done;
    WriteConfig([](ConfigItem& ide) {
        ide.WriteInt("Plugins/Count", 1);
        ide.WriteString("Plugins/Item0", MakeRelativeToProgramFolder(TP_STORAGE_PATH));
        ide.WriteInt("LastUsedPlugin", 0);
        ide.WriteString("LastUsedData", "/data/first.db");
    });
    TMainForm& window = Start();
    QTest::mouseClick(window.btnLoad, Qt::LeftButton);
    ASSERT_EQ(window.Core().Plates().Count(), 1000000);

    // The open comes while the sort's wait cursor shows, as a queued open would.
    int opened = 0;
    QTimer during;
    during.setInterval(0);
    QObject::connect(&during, &QTimer::timeout, [&] {
        if (QApplication::overrideCursor() == nullptr || opened > 0)
            return;
        ++opened;
        state->plateCount = 3; // sizes 100, 101, 102
        window.OpenStorage("/data/second.db");
    });
    during.start();
    emit window.header->sectionClicked(2); // by size, ascending
    during.stop();
    ASSERT_EQ(opened, 1) << "the sort let no event through";
    EXPECT_EQ(window.Core().Plates().Count(), 1000000) << "the list was replaced under the sort";

    QTRY_COMPARE(window.Core().Plates().Count(), 3);
    EXPECT_EQ(window.edtStorage->text(), "/data/second.db");
    std::vector<uint32_t> sizes;
    for (int i = 0; i < window.Core().Plates().Count(); ++i) {
        PlateItem item;
        ASSERT_TRUE(window.Core().Plates().At(i, &item));
        sizes.push_back(item.size);
    }
    EXPECT_EQ(sizes, (std::vector<uint32_t>{100, 101, 102})) << "the new list is sorted by the header's column";
    EXPECT_EQ(window.header->sortIndicatorSection(), 2);
    EXPECT_TRUE(boxes.shown.empty());
}

TEST_F(MainFormTest, TheWindowStaysWithinTheScreen)
{
    WriteConfig([](ConfigItem& ide) {
        ConfigItem& placement = *ide.Item("Window");
        for (const char* key : {"X", "Y"})
            placement.WriteInt(key, 0);
        for (const char* key : {"W", "H"})
            placement.WriteInt(key, 5000);
        placement.WriteInt("WindowState", 0);
        ide.WriteInt("RightW", 5000); // a preview panel wider than the screen is high
    });
    TMainForm& window = Start();
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    QApplication::processEvents();
    const QSize screen = window.screen()->availableGeometry().size();
    EXPECT_LE(window.width(), screen.width());
    EXPECT_LE(window.height(), screen.height());

    // Widening the preview keeps the window's height; the picture stays square within the panel.
    window.splitter->setSizes({50, screen.width()});
    QApplication::processEvents();
    EXPECT_LE(window.height(), screen.height());
    EXPECT_EQ(window.image->width(), window.image->height());
    EXPECT_LE(window.image->height() + window.txtImage->height(), window.panelRight->height());
}

TEST_F(MainFormTest, TheLanguageMenuMarksTheLanguageAndEveryCaptionFollows)
{
    files.plugins = SHIPPED_PLUGIN_DIR; // a plugin chosen, so that its type text shows
    TMainForm& window = Start();
    ASSERT_TRUE(MainDictionary().Load(DICTIONARY_FILE));
    struct Restore {
        ~Restore() { MainDictionary().LoadText(""); }
    } restore;
    window.BuildLanguageMenu();
    const QList<QAction*> languages = window.mnuLang->actions();
    ASSERT_EQ(languages.size(), 2);
    EXPECT_TRUE(languages[0]->isChecked());
    languages[1]->trigger();
    EXPECT_TRUE(languages[1]->isChecked());
    EXPECT_FALSE(languages[0]->isChecked());
    EXPECT_EQ(window.txtPlugin->text(), QString::fromUtf8("Хранилище"));
    EXPECT_EQ(window.btnLoad->text(), QString::fromUtf8("&L Загрузить хранилище"));
    EXPECT_GE(window.btnLoad->width(), window.btnLoad->sizeHint().width()) << "the caption is not cut";
    EXPECT_EQ(window.btnDelete->toolTip(), QString::fromUtf8("Удалить выбранные плитки из хранилища"));
    EXPECT_EQ(window.txtSummary->text(), QString::fromUtf8("Плиток: 0, выбрано: 0 (0)"));
    languages[0]->trigger();
    EXPECT_EQ(window.txtPlugin->text(), "Storage");
    EXPECT_EQ(window.btnDelete->toolTip(), "Delete the selected plates from the storage");
    EXPECT_EQ(window.txtSummary->text(), "Plates: 0, selected: 0 (0)");
}

TEST_F(MainFormTest, TheFirstStartFitsTheScreenAndNoCaptionIsCut)
{
    files.plugins = SHIPPED_PLUGIN_DIR;
    TMainForm& window = Start();
    ASSERT_TRUE(MainDictionary().Load(DICTIONARY_FILE));
    struct Restore {
        ~Restore() { MainDictionary().LoadText(""); }
    } restore;
    window.BuildLanguageMenu();
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    const QRect usable = window.screen()->availableGeometry();
    ASSERT_LE(usable.width(), 1024) << "the test screen is no larger than the one asked about";
    EXPECT_TRUE(usable.contains(window.frameGeometry()))
        << window.frameGeometry().x() << "," << window.frameGeometry().y() << " " << window.frameGeometry().width()
        << "x" << window.frameGeometry().height() << " on " << usable.width() << "x" << usable.height();
    for (QAction* language : window.mnuLang->actions()) {
        language->trigger();
        QApplication::processEvents();
        SCOPED_TRACE(language->text().toStdString());
        for (QAbstractButton* button : window.findChildren<QAbstractButton*>()) {
            // The "..." tool buttons keep their design size of 23 x 22.
            if (button->isVisible() && !button->text().isEmpty() && !qobject_cast<QToolButton*>(button)) {
                EXPECT_GE(button->width(), button->sizeHint().width()) << button->text().toStdString();
            }
        }
    }
}

} // namespace
