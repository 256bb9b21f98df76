#pragma once
// The program's main window: the storage group (plugin choice, storage path),
// the tool bar of plate commands, the plate list with its header, the preview
// panel and the log window. It shows a Session, which does the work, and
// turns the window's commands into the session's.

#include "app/Session.h"
#include "base/Command.h"
#include "crash/CrashHandler.h"
#include "log/LongOperationForm.h"
#include "plates/PlateCommands.h"

#include <QImage>
#include <QMainWindow>

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

class LogComboBox;
class QAction;
class QActionGroup;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QHeaderView;
class QLabel;
class QLineEdit;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QSplitter;
class QStandardItemModel;
class QToolButton;
class BasePlugin;
struct LayoutChoices;
class BkList;
class CustomBkList;
class CoverageView;
class StorageAction;
struct GeoBox;
class QPainter;

// Caption texts of btnLoad.
inline constexpr const char* kLoadCaption = "&L Load storage";
inline constexpr const char* kLoadingCaption = "Loading...";
inline constexpr const char* kReleaseCaption = "&L Release storage";

inline constexpr int kSectionCount = 5;
inline constexpr int kRightPanelWidth = 257; // design width of the preview panel
inline constexpr int kFrameAllowance = 16;  // a window frame's borders, before it is known
inline constexpr int kTitleAllowance = 40;  // the same with the title bar
inline constexpr int kImageLabelHeight = 26; // the preview label's least height: two lines

// The About box's line: the program's name and its version, the one the
// build takes from the plugin contract's header.
std::string AboutLine();

class TMainForm : public QMainWindow, private BrowserView {
    Q_OBJECT
public:
    // `arguments` is the command line, the program first; `files` places the
    // session's files and the plugins folder.
    explicit TMainForm(const std::vector<std::string>& arguments, const SessionFiles& files = {});
    ~TMainForm() override;

    Session& Core() { return session_; }
    // The program's link into the configuration (key path "IDE"), or null
    // once the window has shut down.
    StorageLink* Link() { return session_.Running() ? &session_.Link() : nullptr; }

    void RestoreState();
    // With `ask`, asks first and reports a failed save; without, neither.
    void SaveState(bool ask);

    // Storage connection.
    void FillPluginChoice();
    BasePlugin* SelectedPlugin() const { return session_.Choice().Selected(); }
    void cbPluginsChange();
    void ReleaseStorage();
    // Loads the storage the path names, through the plugin that opens what
    // the path is; the chosen plugin when none (or several) fit.
    void LoadStorage();
    // Puts `path` into the storage path and loads it at once, releasing a
    // loaded storage first (the command line, a drop, the recent list).
    void OpenStorage(const QString& path);
    // The recent storages, the latest first.
    std::vector<std::string> RecentStorages();
    bool StorageLoaded() const { return session_.Connection().Loaded(); }

    // Previews the focused plate and sets the plate commands.
    void listClick();
    bool listDrawItemSection(CustomBkList* sender, QPainter& canvas, unsigned state, const QRect& rect,
                             int section, int index);

    // The "&L Languages" menu from the dictionary's languages.
    void BuildLanguageMenu();

    // Controls, named as the program knows them.
    QGroupBox* grpStorage;
    QToolButton* bntPlugins;
    QComboBox* cbPlugins;
    QLabel* txtPlugin;
    QPlainTextEdit* edtDesc;
    QCheckBox* chUseDir;
    QCheckBox* chCanWrite;
    QCheckBox* chCanEnum;
    QToolButton* btnStorage;
    QLineEdit* edtStorage;
    QComboBox* cbLayout; // a folder's layout and row origin, a compact cache's row origin, when not as found
    QWidget* toolBar;
    QPushButton* btnLoad;
    QToolButton* btnSelect;
    QPushButton* btnExport;
    QPushButton* btnCopy;
    QPushButton* btnDelete;
    QLabel* txtSummary; // plates listed, selected and their size
    QToolButton* btnCoverage; // shows the coverage map instead of the preview
    QMenu* PopupMenu1;
    QAction* A1;
    QAction* I1;
    QAction* L1;
    QAction* B1;
    QAction* D1; // Duplicates
    QAction* K1; // Blank
    QSplitter* splitter;
    QWidget* listArea;
    QHeaderView* header;
    BkList* list;
    QWidget* panelRight;
    QLabel* image;
    QLabel* txtImage;
    CoverageView* coverage;
    LogComboBox* cbLog;
    crash::ExceptionDialog ExceptionDialog; // the crash report's options
    QMenu* F1;
    QAction* mnuPluginsEdit;
    QMenu* mnuRecent;
    QMenu* mnuLang;
    QAction* mnuSaveCfg;
    QAction* mnuExit;
    QAction* mnuCompact; // MainFormContainer.cpp
    QAction* mnuAbout;

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    // A handler run as a command (log/crash reporting see where it starts and ends).
    template <auto Handler>
    auto Command()
    {
        return [this] { RunWindowCommand([this] { (this->*Handler)(); }); };
    }
    // Runs a command of the window. A command abandoned after an ignored
    // fault has its own frames unwound by then; what is left is a storage
    // whose plugin faulted, which is released once no command of the window
    // runs any more (an outer one may still hold its action).
    template <typename F>
    void RunWindowCommand(F&& command)
    {
        bool finished = false;
        {
            CommandDepth depth(commandDepth_);
            finished = RunCommand(std::forward<F>(command));
        }
        AfterCommand(finished);
    }
    struct CommandDepth {
        explicit CommandDepth(int& depth) : depth_(depth) { ++depth_; }
        ~CommandDepth() { --depth_; }
        CommandDepth(const CommandDepth&) = delete;
        CommandDepth& operator=(const CommandDepth&) = delete;
        int& depth_;
    };
    void AfterCommand(bool finished);

    void CreateControls();
    void CreateStorageGroup(QWidget* parent);
    void CreateToolBar(QWidget* parent);
    void CreatePlateArea(QWidget* parent);
    void CreateLogWindow(QWidget* parent);
    void ConnectCommands();
    void CreateMenu();
    // Keeps a normal window on its screen's free area.
    void FitToScreen();
    // Chooses the plugin entry that opens `storage`, when one does.
    void ChoosePluginFor(const std::string& storage);
    void RememberStorage(const std::string& storage);
    void FillRecentMenu();
    // Puts the window's state into the configuration (without saving it).
    void StoreState();
    void ApplyCaptions();
    void ApplyToolTips();
    // At least the design width, wider when the caption needs it.
    void FitButton(QWidget* button, int designWidth);
    void LanguageChanged(int language);
    void LanguageClick(int tag);
    void panelRightResize();
    void PopupMenu1MenuItemCheck();
    void FormClose();
    void listClickEvent(CustomBkList* sender);
    void listSelectionChange(CustomBkList* sender);
    // The figures of the plates listed and selected.
    void UpdateSummary();
    // The preview shows nothing: no plate of a storage that is gone.
    void ClearPreview();
    void LayoutPreview();
    // Puts the shown plate's picture into the preview, fitted to its square.
    void RenderPicture();
    // A quadtree key's web-map place, "z/x/y: 2/1/1"; empty for other names.
    static QString PlaceText(const std::string& name);
    // The same as a further line of the preview label, or nothing.
    static QString PlaceLine(const std::string& name);
    int PlateCount() const;
    // The loaded storage's plugin can delete and store plates.
    bool StorageWritable() const;
    int RightWidth() const;
    void ApplyRightWidth();

    void mnuPluginsEditClick();
    void mnuSaveCfgClick() { SaveState(true); }
    void mnuExitClick() { close(); }
    void btnLoadClick();
    // Enter in the storage path loads what it names.
    void edtStorageReturnPressed();
    void btnStorageClick();
    // The layout chosen for the storage in the path, remembered for it.
    void cbLayoutActivated(int option);
    // Shows the choice remembered for the storage in the path.
    void ShowFolderLayout();
    // The folder or the compact cache plugin is chosen: the layout list applies.
    bool FolderLayoutApplies() const { return layoutChoices_ != nullptr; }
    // Fills the layout list with the chosen plugin's choices.
    void ShowLayoutChoices();
    // Sorting by a column: the header's clicks, and the sort kept over loads.
    void CreateSorting();
    void headerSectionClicked(int section);
    // Sorts a list just loaded as the header shows, and shows the File
    // column only when some plate has a file.
    void ApplySort();
    // Loads the storage again after a run changed it: the plates still there
    // stay selected, and the focused one focused.
    void ReloadKeepingSelection();
    // What the export and delete commands work on.
    PlateCommandWindow PlateCommandParts();
    void btnExportClick();
    void btnCopyClick();
    void btnDeleteClick();
    void A1Click();
    void I1Click();
    void L1Click();
    // Selects the plates that are empty, cannot be decoded or are not 256 x 256.
    void B1Click();
    // Select -> Duplicates and Blank (MainFormSame.cpp): among every plate,
    // those whose bytes equal an earlier one's, and those of one colour.
    void D1Click();
    void K1Click();
    // The storage's container (MainFormContainer.cpp): its menu entries and
    // their captions, compacting it, and its check before the plates'.
    void CreateContainerMenu();
    void ApplyContainerCaptions();
    void mnuCompactClick();
    void mnuAboutClick();
    void CheckContainerBeforePlates(StorageAction& action);
    // The coverage map: shown instead of the preview, its grid built with
    // the progress window, and the area dragged on it selected.
    void btnCoverageClick();
    void RefreshCoverage();
    bool CoverageProgress(int done, int count);
    void CoverageSelectArea(const GeoBox& box, int fromZoom);

    // BrowserView
    void ShowLoadButton(LoadButton state) override;
    void ShowPlateCount(int count) override;
    void PumpMessages() override;
    void ListClick() override { listClick(); }
    BoxOwner Owner() override { return this; }

    void ShowPicture(const QImage& picture);

    // The plate the preview shows, to word its label again in another language.
    struct ShownPlate {
        bool shown = false;
        std::string name;
        int width = 0;
        int height = 0;
        uint32_t size = 0;
    };

    QStandardItemModel* headerModel_;
    QActionGroup* languageGroup_ = nullptr;
    ShownPlate shownPlate_;
    QImage shownPicture_; // the plate's picture as decoded
    QtOperation operation_;
    Session session_;
    int logSubscription_ = 0;
    int commandDepth_ = 0; // window commands running, nested ones included
    bool closed_ = false;
    bool shownOnce_ = false;
    int rightWidth_ = kRightPanelWidth;
    int sortSection_ = -1; // the column the list is sorted by; -1 the plugin's order
    bool sortDescending_ = false;
    QString loadCaption_ = kLoadCaption;
    // The choices the layout list shows: the chosen plugin's; null when it
    // has none (the list is disabled and shows the folder plugin's).
    const LayoutChoices* layoutChoices_ = nullptr;
    const LayoutChoices* shownLayouts_ = nullptr; // whose captions the list holds
    // A column sort runs on its worker, which reads the plate list, and
    // scans, runs and sorts let events through: an open that arrives
    // meanwhile waits here until the window's command ends, instead of
    // releasing the list under the worker or the run.
    bool sorting_ = false;
    QString pendingOpen_;
};
