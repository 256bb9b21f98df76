// The plugins editor, offscreen: its list of the registry, loading through the
// shared open dialog, freeing with its question, and what it keeps.
#include "plugins/PluginsEditor.h"

#include "ScriptedBoxes.h"
#include "TempFolder.h"
#include "app/Data.h"
#include "app/MainForm.h"
#include "base/Paths.h"
#include "config/CfgStorage.h"
#include "config/StorageLink.h"
#include "config/TreeConfig.h"
#include "log/QtBoxPresenter.h"
#include "plugins/Registry.h"
#include "TestPluginState.h"
#include "widgets/BkList.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QGroupBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QLabel>
#include <QMessageBox>
#include <QPaintEngine>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <map>

namespace fs = std::filesystem;

namespace {

const std::string kStorage = MakeRelativeToProgramFolder(TP_STORAGE_PATH);
const std::string kFolder = MakeRelativeToProgramFolder(TP_FOLDER_PATH);


// Answers the next modal window that `match` accepts, from inside the modal
// loop that runs it. The window is looked for at each turn of the event loop.
// A window that never comes, or one still open long after its answer, is
// reported and closed, so that a broken test fails instead of hanging.
class ModalResponder : public QObject {
public:
    using Match = std::function<bool(QWidget*)>;
    using Action = std::function<void(QWidget*)>;

    ModalResponder(Match match, Action action) : match_(std::move(match)), action_(std::move(action))
    {
        connect(&timer_, &QTimer::timeout, this, [this] { Poll(); });
        timer_.start(5);
    }
    bool Answered() const { return answered_; }

private:
    static constexpr int kGuardPolls = 4000; // a guard against a hang, not a timing condition

    void Poll()
    {
        QWidget* modal = QApplication::activeModalWidget();
        if (answered_) {
            if (modal == nullptr || modal != answeredWindow_) {
                timer_.stop();
            } else if (++polls_ > kGuardPolls) {
                timer_.stop();
                ADD_FAILURE() << "the modal window stayed open after its answer";
                modal->close();
            }
            return;
        }
        if (modal != nullptr && match_(modal)) {
            timer_.stop();
            answered_ = true;
            answeredWindow_ = modal;
            action_(modal);
            polls_ = 0;
            timer_.start();
            return;
        }
        if (++polls_ > kGuardPolls) {
            timer_.stop();
            ADD_FAILURE() << "the expected modal window never came";
            if (modal != nullptr)
                modal->close();
        }
    }

    Match match_;
    Action action_;
    QTimer timer_;
    bool answered_ = false;
    QPointer<QWidget> answeredWindow_;
    int polls_ = 0;
};

template <typename T>
ModalResponder::Match Is()
{
    return [](QWidget* widget) { return qobject_cast<T*>(widget) != nullptr; };
}

// Names `file` in the open dialog's file name box, which has the focus, and
// presses Enter, as the user does.
void Choose(QFileDialog* dialog, const std::string& file)
{
    auto* name = qobject_cast<QLineEdit*>(dialog->focusWidget());
    ASSERT_NE(name, nullptr);
    name->setText(QString::fromStdString(file));
    QTest::keyClick(name, Qt::Key_Return);
}

// A paint device that keeps the texts drawn on it with their positions, so
// that the list's real painting can be read back cell by cell.
class TextRecorder : public QPaintDevice {
public:
    struct Text {
        QPointF at;
        QString text;
    };

    QPaintEngine* paintEngine() const override { return &engine_; }
    std::vector<Text>& Texts() { return engine_.texts; }

protected:
    int metric(PaintDeviceMetric metric) const override
    {
        switch (metric) {
        case PdmWidth:
            return 2000;
        case PdmHeight:
            return 1000;
        case PdmWidthMM:
        case PdmHeightMM:
            return 500;
        case PdmDevicePixelRatioScaled:
            return static_cast<int>(devicePixelRatioFScale());
        case PdmDevicePixelRatio:
            return 1;
        case PdmNumColors:
            return INT_MAX;
        case PdmDepth:
            return 32;
        default:
            return 96;
        }
    }

private:
    class Engine : public QPaintEngine {
    public:
        Engine() : QPaintEngine(QPaintEngine::AllFeatures) {}
        bool begin(QPaintDevice*) override { return true; }
        bool end() override { return true; }
        void updateState(const QPaintEngineState& newState) override
        {
            if (newState.state() & DirtyTransform)
                transform_ = newState.transform();
        }
        // Fills, lines and frames all end in these two; only the texts matter here.
        void drawPolygon(const QPointF*, int, PolygonDrawMode) override {}
        void drawPath(const QPainterPath&) override {}
        void drawPixmap(const QRectF&, const QPixmap&, const QRectF&) override {}
        void drawTextItem(const QPointF& p, const QTextItem& item) override
        {
            texts.push_back({transform_.map(p), item.text()});
        }
        Type type() const override { return QPaintEngine::User; }

        std::vector<Text> texts;

    private:
        QTransform transform_;
    };
    mutable Engine engine_;
};

// Whatever a test loaded below the program folder goes again at the end.
class ProgramFolderCopies {
public:
    ~ProgramFolderCopies()
    {
        std::error_code ignored;
        for (const fs::path& path : made_)
            fs::remove_all(path, ignored);
    }
    // A copy of the plugin `source` at `relative` below the program folder;
    // returns its absolute path.
    std::string Copy(const char* source, const std::string& relative)
    {
        const fs::path target = fs::path(ProgramFolder()) / relative;
        const fs::path top = fs::path(ProgramFolder()) / *fs::path(relative).begin();
        made_.push_back(top);
        fs::create_directories(target.parent_path());
        fs::copy_file(source, target, fs::copy_options::overwrite_existing);
        return target.string();
    }
    // Names unique to this test process.
    static std::string Unique(const std::string& name) { return "pe-" + std::to_string(getpid()) + "-" + name; }

private:
    std::vector<fs::path> made_;
};

class PluginsEditorTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        data = std::make_unique<TData>();
        boxes.shown.clear(); // the data module may have reported a missing image decoder
        link.SetStorage(&cfg);
        link.SetKeyPath("IDE");
    }
    void TearDown() override
    {
        editor.reset();
        storages.Clear();
        plugins.Clear();
        data.reset();
    }

    TPluginsEditor& Open()
    {
        editor = std::make_unique<TPluginsEditor>(nullptr, &link, plugins);
        editor->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(editor.get()));
        return *editor;
    }
    void Activate()
    {
        editor->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(editor.get()));
    }
    void CloseWithButton()
    {
        QTest::mouseClick(editor->ToolbarButton971, Qt::LeftButton);
        EXPECT_FALSE(editor->isVisible());
        EXPECT_EQ(editor->result(), QDialog::Rejected);
    }

    QPoint RowPoint(int row) const { return QPoint(30, row * 16 + 8); }

    // The texts the list paints, by (row, section).
    std::map<std::pair<int, int>, QString> Cells()
    {
        TextRecorder recorder;
        editor->list->viewport()->render(&recorder);
        std::map<std::pair<int, int>, QString> cells;
        for (const TextRecorder::Text& text : recorder.Texts()) {
            const int row = static_cast<int>(text.at.y()) / 16;
            const int section = editor->header->logicalIndexAt(static_cast<int>(text.at.x()));
            cells[{row, section}] += text.text;
        }
        return cells;
    }

    // Presses "&Load" and answers the open dialog with `file` (cancels it when
    // empty); `seen` gets the folder the dialog opened in.
    void LoadThroughDialog(const std::string& file, QString* seen = nullptr, QStringList* filters = nullptr)
    {
        ModalResponder responder(Is<QFileDialog>(), [&](QWidget* modal) {
            auto* dialog = static_cast<QFileDialog*>(modal);
            EXPECT_EQ(dialog->windowTitle(), "Load plugin...");
            if (seen != nullptr)
                *seen = dialog->directory().absolutePath();
            if (filters != nullptr)
                *filters = dialog->nameFilters();
            if (file.empty()) {
                QTest::keyClick(dialog, Qt::Key_Escape);
                return;
            }
            Choose(dialog, file);
        });
        QTest::mouseClick(editor->btnAdd, Qt::LeftButton);
        EXPECT_TRUE(responder.Answered());
    }

    static QString Canonical(const std::string& folder) { return QDir(QString::fromStdString(folder)).canonicalPath(); }

    ScriptedBoxes boxes;
    std::unique_ptr<TData> data;
    CfgStorage cfg;
    StorageLink link;
    PluginsArray plugins;
    StorageArray storages{plugins};
    std::unique_ptr<TPluginsEditor> editor;
};

TEST_F(PluginsEditorTest, AnEmptyRegistryLeavesOnlyLoadEnabled)
{
    TPluginsEditor& window = Open();
    EXPECT_EQ(window.windowTitle(), "Korvane: Plugins...");
    EXPECT_EQ(window.GroupBox1->title(), " Loaded plugins ");
    EXPECT_EQ(window.btnAdd->text(), "&Load");
    EXPECT_EQ(window.btnDel->text(), "&Free");
    EXPECT_EQ(window.ToolbarButton971->text(), "&Close");
    EXPECT_EQ(window.size(), QSize(611, 230));
    EXPECT_EQ(window.list->Header(), window.header);

    EXPECT_EQ(window.list->ItemsCount(), 0);
    EXPECT_EQ(window.list->ItemIndex(), -1);
    EXPECT_TRUE(window.btnAdd->isEnabled());
    EXPECT_FALSE(window.btnDel->isEnabled());
    EXPECT_TRUE(Cells().empty());

    // Clicks into the empty list and on the disabled button change nothing.
    QTest::mouseClick(window.list->viewport(), Qt::LeftButton, {}, RowPoint(0));
    QTest::mouseClick(window.btnDel, Qt::LeftButton);
    EXPECT_FALSE(window.btnDel->isEnabled());
    EXPECT_TRUE(boxes.shown.empty());
}

TEST_F(PluginsEditorTest, CellsShowTypeFileDescriptionAndProperties)
{
    struct Case {
        const char* path;
        const char* type;
        const char* properties;
    };
    const Case cases[] = {
        {TP_STORAGE_PATH, "Storage", "ReadWrite, Uses file"}, // flags 6
        {TP_READONLY_PATH, "Storage", "RdOnly, Uses file"},   // flags 4
        {TP_FOLDER_PATH, "Storage", "ReadWrite, Uses dir"},   // flags 7
        {TP_FLAGS3_PATH, "Storage", "ReadWrite, Uses dir"},   // flags 3
        {TP_FLAGS0_PATH, "Storage", "RdOnly, Uses file"},     // flags 0
    };
    for (const Case& c : cases)
        ASSERT_NE(plugins.AddPlugin(c.path), nullptr) << c.path;
    TPluginsEditor& window = Open();
    ASSERT_EQ(window.list->ItemsCount(), static_cast<int>(std::size(cases)));

    const auto cells = Cells();
    for (int row = 0; row < static_cast<int>(std::size(cases)); ++row) {
        const Case& c = cases[row];
        auto cell = [&](int section) {
            auto found = cells.find({row, section});
            return found != cells.end() ? found->second.toStdString() : std::string("<not drawn>");
        };
        EXPECT_EQ(cell(0), c.type) << c.path;
        EXPECT_EQ(cell(1), MakeRelativeToProgramFolder(c.path)) << c.path;
        EXPECT_EQ(cell(2), "Test storage") << c.path;
        EXPECT_EQ(cell(3), c.properties) << c.path;
    }
    EXPECT_EQ(cells.count({static_cast<int>(std::size(cases)), 0}), 0u) << "nothing below the last plugin";
}

TEST_F(PluginsEditorTest, ThePluginsFolderIsKeptRelativeAndOpensTheNextDialog)
{
    ProgramFolderCopies copies;
    const std::string sub = ProgramFolderCopies::Unique("sub");
    const std::string inSub = copies.Copy(TP_STORAGE_PATH, sub + "/tp_storage.so");
    const std::string inProgramFolder = copies.Copy(TP_FOLDER_PATH, ProgramFolderCopies::Unique("tp_folder.so"));
    TPluginsEditor& window = Open();

    // Nothing stored yet: the dialog opens in the program folder.
    QString seen;
    QStringList filters;
    LoadThroughDialog(inSub, &seen, &filters);
    EXPECT_EQ(seen, Canonical(ProgramFolder()));
    EXPECT_EQ(filters, (QStringList{"DLL files (*.dll)", "Shared libraries (*.so)"}));
    EXPECT_EQ(link.ReadString("PluginsPath", "?"), sub) << "relative, without a final separator";
    ASSERT_EQ(plugins.Count(), 1);
    EXPECT_EQ(plugins.Plugin(0)->LibraryPath(), sub + "/tp_storage.so");
    EXPECT_EQ(window.list->ItemsCount(), 1);
    EXPECT_EQ(window.list->ItemIndex(), 0);
    EXPECT_TRUE(window.btnDel->isEnabled());

    LoadThroughDialog(inProgramFolder, &seen);
    EXPECT_EQ(seen, Canonical(ProgramFolder() + sub));
    EXPECT_EQ(link.ReadString("PluginsPath", "?"), "") << "the program folder itself";
    EXPECT_EQ(window.list->ItemsCount(), 2);

    LoadThroughDialog("", &seen);
    EXPECT_EQ(seen, Canonical(ProgramFolder()));
    EXPECT_EQ(plugins.Count(), 2) << "a cancelled dialog loads nothing";
    EXPECT_TRUE(boxes.shown.empty());
}

TEST_F(PluginsEditorTest, RefusedLibrariesShowTheRegistrysBoxAndLeaveTheList)
{
    struct Case {
        const char* path;
        const char* boxStart;
    };
    const Case cases[] = {
        {TP_STORAGE_PATH, "Plugin library \""},      // already registered
        {TP_BADMAGIC_PATH, "Error loading plugin libray ["},
    };
    ASSERT_NE(plugins.AddPlugin(TP_STORAGE_PATH), nullptr);
    TPluginsEditor& window = Open();
    for (const Case& c : cases) {
        boxes.shown.clear();
        LoadThroughDialog(c.path);
        ASSERT_EQ(boxes.shown.size(), 1u) << c.path;
        EXPECT_EQ(boxes.shown[0].kind, "error");
        EXPECT_EQ(boxes.shown[0].text.rfind(c.boxStart, 0), 0u) << boxes.shown[0].text;
        EXPECT_EQ(window.list->ItemsCount(), 1) << c.path;
        // The folder was chosen all the same.
        EXPECT_EQ(link.ReadString("PluginsPath", "?"), MakeRelativeToProgramFolder(FolderPart(c.path)));
    }
}

struct PlateCounter {
    int plates = 0;
    bool Plate(StorageAction*, int32_t, const char*, uint32_t, uint32_t)
    {
        ++plates;
        return true;
    }
};

TEST_F(PluginsEditorTest, FreeingClosesItsStorageDefinitionsButNotAnotherLoadOfTheLibrary)
{
    TestPluginControl* state = KeepTestPluginLoaded(TP_STORAGE_PATH);
    TempFolder temp;
    const std::string storageFile = temp.File("cache.db");
    WriteWholeFile(storageFile, "x");
    ASSERT_NE(plugins.AddPlugin(TP_STORAGE_PATH), nullptr);
    ASSERT_NE(plugins.AddPlugin(TP_FOLDER_PATH), nullptr);
    StorageItem* item = storages.Add();
    item->libraryName = kStorage;
    item->storagePath = storageFile;
    item->Open();
    ASSERT_TRUE(item->Enabled());
    // The main window's storage connection loads the library on its own.
    std::unique_ptr<StoragePlugin> own = LoadPlugin(TP_STORAGE_PATH, &HostInfo(), PluginTypeStorage);
    ASSERT_NE(own, nullptr);
    StorageAction* action = own->CreateAction();
    ASSERT_NE(action, nullptr);
    ASSERT_TRUE(action->Open(storageFile.c_str()));

    TPluginsEditor& window = Open();
    Activate();
    QTest::mouseClick(window.list->viewport(), Qt::LeftButton, {}, RowPoint(0));
    ASSERT_EQ(window.list->ItemIndex(), 0);

    // No: nothing changes.
    boxes.Reply(BoxNo);
    QTest::mouseClick(window.btnDel, Qt::LeftButton);
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].kind, "ask");
    EXPECT_EQ(boxes.shown[0].text, "Free loaded plugin " + kStorage + " and delete all associated actions?");
    EXPECT_EQ(plugins.Count(), 2);
    EXPECT_TRUE(item->Enabled());

    // Yes, by the button's access key.
    boxes.Reply(BoxYes);
    QTest::keyClick(&window, Qt::Key_F, Qt::AltModifier);
    // An access key clicks its button a moment later, as an animated click.
    ASSERT_TRUE(QTest::qWaitFor([&] { return boxes.shown.size() == 2; }));
    ASSERT_EQ(plugins.Count(), 1);
    EXPECT_EQ(plugins.Plugin(0)->LibraryPath(), kFolder);
    EXPECT_FALSE(item->Enabled());
    EXPECT_EQ(item->Action(), nullptr);
    EXPECT_EQ(window.list->ItemsCount(), 1);
    EXPECT_EQ(window.list->ItemIndex(), 0);
    EXPECT_TRUE(window.btnDel->isEnabled());
    EXPECT_EQ(Cells()[std::make_pair(0, 1)].toStdString(), kFolder);

    // The other load of the library still works.
    EXPECT_TRUE(own->IsLoaded());
    EXPECT_TRUE(action->IsOpen());
    state->plateCount = 3;
    PlateCounter counter;
    EXPECT_EQ(action->Enumerate(0, StorageAction::PlateHandler::Bind<&PlateCounter::Plate>(&counter), 0), 0u);
    EXPECT_EQ(counter.plates, 3);

    // Freeing the last one leaves nothing to free.
    boxes.Reply(BoxYes);
    QTest::mouseClick(window.btnDel, Qt::LeftButton);
    EXPECT_EQ(plugins.Count(), 0);
    EXPECT_EQ(window.list->ItemsCount(), 0);
    EXPECT_FALSE(window.btnDel->isEnabled());
    EXPECT_EQ(boxes.unanswered, 0);
}

TEST_F(PluginsEditorTest, TheRealQuestionBoxIsOwnedByTheEditorAndAnsweredByItsButtons)
{
    QtBoxPresenter presenter;
    SetBoxPresenter(&presenter);
    ASSERT_NE(plugins.AddPlugin(TP_STORAGE_PATH), nullptr);
    TPluginsEditor& window = Open();

    for (const char* answer : {"&No", "&Yes"}) {
        ModalResponder responder(Is<QMessageBox>(), [&](QWidget* modal) {
            auto* box = static_cast<QMessageBox*>(modal);
            EXPECT_EQ(box->parentWidget(), &window);
            EXPECT_EQ(box->text().toStdString(), "Free loaded plugin " + kStorage + " and delete all associated actions?");
            for (QAbstractButton* button : box->buttons())
                if (button->text() == answer)
                    QTest::mouseClick(button, Qt::LeftButton);
        });
        QTest::mouseClick(window.btnDel, Qt::LeftButton);
        EXPECT_TRUE(responder.Answered());
        EXPECT_EQ(plugins.Count(), std::string(answer) == "&No" ? 1 : 0) << answer;
    }
    SetBoxPresenter(&boxes);
}

TEST_F(PluginsEditorTest, ColumnWidthsAndPlacementComeBackNextTime)
{
    TPluginsEditor& first = Open();
    // Drag the right edge of "Type" 40 pixels to the right, as the user does.
    QHeaderView* header = first.header;
    const int edge = header->sectionViewportPosition(0) + header->sectionSize(0) - 1;
    const int y = header->height() / 2;
    QTest::mousePress(header->viewport(), Qt::LeftButton, {}, QPoint(edge, y));
    QTest::mouseMove(header->viewport(), QPoint(edge + 20, y));
    QTest::mouseMove(header->viewport(), QPoint(edge + 40, y));
    QTest::mouseRelease(header->viewport(), Qt::LeftButton, {}, QPoint(edge + 40, y));
    ASSERT_EQ(header->sectionSize(0), 110);
    header->resizeSection(3, 90);
    first.resize(700, 300);
    first.move(40, 50);
    QApplication::processEvents();
    const QRect bounds = first.geometry();
    const QPoint position = first.pos();
    CloseWithButton();

    const int expected[kPluginSectionCount] = {110, 260, 200, 90};
    for (int i = 0; i < kPluginSectionCount; ++i)
        EXPECT_EQ(link.ReadInt("PE/Hdr/Sec" + std::to_string(i), -1), expected[i]) << i;

    TPluginsEditor& second = Open();
    for (int i = 0; i < kPluginSectionCount; ++i)
        EXPECT_EQ(second.header->sectionSize(i), expected[i]) << i;
    EXPECT_EQ(second.size(), bounds.size());
    EXPECT_EQ(second.pos(), position);
}

TEST_F(PluginsEditorTest, FirstCloseWritesTheDesignWidths)
{
    Open();
    // Escape closes the window with Cancel too.
    Activate();
    QTest::keyClick(editor.get(), Qt::Key_Escape);
    EXPECT_FALSE(editor->isVisible());
    EXPECT_EQ(editor->result(), QDialog::Rejected);
    const int design[kPluginSectionCount] = {70, 260, 200, 150};
    for (int i = 0; i < kPluginSectionCount; ++i)
        EXPECT_EQ(link.ReadInt("PE/Hdr/Sec" + std::to_string(i), -1), design[i]) << i;
    ConfigItem* window = cfg.Root()->FindItem("IDE/PE/Window");
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->ReadInt("W", -1), 611);
    EXPECT_EQ(window->ReadInt("H", -1), 230);
}

TEST_F(PluginsEditorTest, TheListFollowsTheRegistryOnlyWhileOpen)
{
    TPluginsEditor& window = Open();
    ASSERT_NE(plugins.AddPlugin(TP_STORAGE_PATH), nullptr); // a change made elsewhere
    EXPECT_EQ(window.list->ItemsCount(), 1);
    EXPECT_EQ(window.list->ItemIndex(), 0) << "a row is always focused";
    EXPECT_TRUE(window.btnDel->isEnabled());

    CloseWithButton();
    ASSERT_NE(plugins.AddPlugin(TP_FOLDER_PATH), nullptr);
    EXPECT_EQ(window.list->ItemsCount(), 1) << "no longer listening";

    // An editor destroyed without being closed leaves no listener behind.
    editor.reset();
    editor = std::make_unique<TPluginsEditor>(nullptr, &link, plugins);
    editor.reset();
    plugins.NotifyListeners();
    EXPECT_EQ(plugins.Count(), 2);
}

// ---- from the main window ---------------------------------------------------

class MainFormPluginsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        config = temp.File("u.hcfg");
        arguments = {"ulmora", "-CFG=" + config, "-LOG=" + temp.File("u.log")};
    }
    void TearDown() override
    {
        if (form != nullptr)
            form->close();
        form.reset();
        data.reset();
    }
    // Starts with tp_storage registered, and chosen with `storage` when one is given.
    TMainForm& Start(const std::string& storage = "")
    {
        TreeConfig tree;
        ConfigItem& ide = *tree.Root()->Item("IDE");
        ide.WriteInt("Plugins/Count", 1);
        ide.WriteString("Plugins/Item0", kStorage);
        if (!storage.empty()) {
            ide.WriteInt("LastUsedPlugin", 0);
            ide.WriteString("LastUsedData", storage);
        }
        EXPECT_TRUE(tree.Save(config));
        data = std::make_unique<TData>();
        form = std::make_unique<TMainForm>(arguments);
        form->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(form.get()));
        return *form;
    }

    ScriptedBoxes boxes;
    TempFolder temp;
    std::string config;
    std::vector<std::string> arguments;
    std::unique_ptr<TData> data;
    std::unique_ptr<TMainForm> form;
};

TEST_F(MainFormPluginsTest, TheButtonOpensTheEditorModallyAndThePluginChoiceIsRebuilt)
{
    TMainForm& window = Start();
    ASSERT_EQ(window.cbPlugins->count(), 1);

    ModalResponder responder(Is<TPluginsEditor>(), [&](QWidget* modal) {
        auto* editorWindow = static_cast<TPluginsEditor*>(modal);
        EXPECT_EQ(editorWindow->parentWidget(), &window);
        EXPECT_TRUE(editorWindow->isModal());
        EXPECT_EQ(editorWindow->list->ItemsCount(), 1);
        boxes.Reply(BoxYes);
        QTest::mouseClick(editorWindow->btnDel, Qt::LeftButton);
        EXPECT_EQ(editorWindow->list->ItemsCount(), 0);
        QTest::mouseClick(editorWindow->ToolbarButton971, Qt::LeftButton);
    });
    QTest::mouseClick(window.bntPlugins, Qt::LeftButton);
    EXPECT_TRUE(responder.Answered());
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    EXPECT_EQ(window.cbPlugins->count(), 0);
    EXPECT_EQ(window.Core().Plugins().Count(), 0);
}

TEST_F(MainFormPluginsTest, ClosingTheEditorKeepsTheChosenPluginAndItsDisplay)
{
    TMainForm& window = Start(temp.File("cache.db"));
    ASSERT_EQ(window.cbPlugins->currentIndex(), 0);
    ModalResponder unchanged(Is<TPluginsEditor>(), [](QWidget* modal) { modal->close(); });
    QTest::mouseClick(window.bntPlugins, Qt::LeftButton);
    ASSERT_TRUE(unchanged.Answered());
    EXPECT_EQ(window.cbPlugins->currentIndex(), 0);
    EXPECT_EQ(window.txtPlugin->text(), "Storage");
    EXPECT_TRUE(window.btnStorage->isEnabled());
    window.SaveState(false);
    EXPECT_EQ(window.Link()->ReadInt("LastUsedPlugin", -5), 0);

    ModalResponder freed(Is<TPluginsEditor>(), [&](QWidget* modal) {
        auto* editorWindow = static_cast<TPluginsEditor*>(modal);
        boxes.Reply(BoxYes);
        QTest::mouseClick(editorWindow->btnDel, Qt::LeftButton);
        editorWindow->close();
    });
    QTest::mouseClick(window.bntPlugins, Qt::LeftButton);
    ASSERT_TRUE(freed.Answered());
    EXPECT_EQ(window.cbPlugins->currentIndex(), -1);
    EXPECT_EQ(window.txtPlugin->text(), "");
    EXPECT_EQ(window.edtDesc->toPlainText(), "Not loaded");
    EXPECT_FALSE(window.btnStorage->isEnabled());
}

TEST_F(MainFormPluginsTest, FreeingThePluginLeavesTheLoadedStorageAlone)
{
    TestPluginControl* state = KeepTestPluginLoaded(TP_STORAGE_PATH);
    state->plateCount = 3;
    const std::string storage = temp.File("cache.db");
    WriteWholeFile(storage, "x");
    TMainForm& window = Start(storage);
    QTest::mouseClick(window.btnLoad, Qt::LeftButton);
    ASSERT_TRUE(window.StorageLoaded());
    ASSERT_EQ(window.list->ItemsCount(), 3);

    state->events[0] = '\0';
    ModalResponder responder(Is<TPluginsEditor>(), [&](QWidget* modal) {
        auto* editorWindow = static_cast<TPluginsEditor*>(modal);
        boxes.Reply(BoxYes);
        QTest::mouseClick(editorWindow->btnDel, Qt::LeftButton);
        QTest::mouseClick(editorWindow->ToolbarButton971, Qt::LeftButton);
    });
    QTest::mouseClick(window.bntPlugins, Qt::LeftButton);
    ASSERT_TRUE(responder.Answered());
    EXPECT_EQ(window.Core().Plugins().Count(), 0);
    // Only the registry's load was shut down; the window's action stayed open.
    EXPECT_STREQ(state->events, "shutdown");
    EXPECT_TRUE(window.StorageLoaded());
    EXPECT_EQ(window.list->ItemsCount(), 3);
    EXPECT_EQ(window.cbPlugins->count(), 0);

    // Its own load is released as usual.
    state->events[0] = '\0';
    QTest::mouseClick(window.btnLoad, Qt::LeftButton);
    EXPECT_FALSE(window.StorageLoaded());
    EXPECT_EQ(std::string(state->events).rfind("close:", 0), 0u) << state->events;
    EXPECT_NE(std::string(state->events).find("shutdown"), std::string::npos) << state->events;
}

TEST_F(MainFormPluginsTest, TheMenuCommandOpensTheEditorAndALoadedPluginIsOffered)
{
    TMainForm& window = Start();
    ModalResponder responder(Is<TPluginsEditor>(), [&](QWidget* modal) {
        auto* editorWindow = static_cast<TPluginsEditor*>(modal);
        ModalResponder files(Is<QFileDialog>(), [](QWidget* dialog) {
            Choose(static_cast<QFileDialog*>(dialog), TP_FOLDER_PATH);
        });
        QTest::mouseClick(editorWindow->btnAdd, Qt::LeftButton);
        EXPECT_TRUE(files.Answered());
        EXPECT_EQ(editorWindow->list->ItemsCount(), 2);
        editorWindow->close();
    });
    window.mnuPluginsEdit->trigger();
    EXPECT_TRUE(responder.Answered());
    ASSERT_EQ(window.cbPlugins->count(), 2);
    EXPECT_EQ(window.cbPlugins->itemText(1).toStdString(), kFolder);
    // The window's state went into the program's configuration.
    EXPECT_EQ(window.Link()->ReadString("PluginsPath", "?"), MakeRelativeToProgramFolder(FolderPart(TP_FOLDER_PATH)));
    EXPECT_EQ(window.Link()->ReadInt("PE/Hdr/Sec1", -1), 260);
}

} // namespace
