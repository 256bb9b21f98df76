#include "app/MainForm.h"
#include "app/MetadataForm.h"

#include "app/CommandLine.h"
#include "app/Data.h"
#include "base/Dictionary.h"
#include "base/Text.h"
#include "base/Translate.h"
#include "browse/CoverageView.h"
#include "browse/FolderLayoutChoice.h"
#include "browse/Selection.h"
#include "config/ConfigItem.h"
#include "config/ConfigKeys.h"
#include "config/WindowPlacement.h"
#include "log/Boxes.h"
#include "log/Errors.h"
#include "log/Log.h"
#include "log/LogComboBox.h"
#include "plates/Preview.h"
#include "plugins/PluginsEditor.h"
#include "plugins/Registry.h"
#include "widgets/BkList.h"
#include "widgets/ColorRef.h"
#include "widgets/GuiShared.h"

#include <QActionGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QTimer>
#include <QUrl>
#include <QComboBox>
#include <QCoreApplication>
#include <QGridLayout>
#include <QGuiApplication>
#include <QScreen>
#include <QHelpEvent>
#include <QToolTip>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSplitter>
#include <QStandardItemModel>
#include <QToolButton>
#include <QVBoxLayout>

#include <filesystem>

namespace {

struct Section {
    const char* text;
    int width;
    Qt::Alignment alignment;
};
const Section kSections[kSectionCount] = {
    {"N", 70, Qt::AlignCenter},          {"Zoom", 50, Qt::AlignLeft | Qt::AlignVCenter},
    {"Size", 100, Qt::AlignCenter},      {"Name", 150, Qt::AlignLeft | Qt::AlignVCenter},
    {"File", 40, Qt::AlignLeft | Qt::AlignVCenter},
};


} // namespace

TMainForm::TMainForm(const std::vector<std::string>& arguments, const SessionFiles& files)
    : session_(*this, operation_)
{
    setObjectName("MainForm");
    ExceptionDialog.SetOptions(crash::kPublishedOptions);

    CreateControls();
    CreateMenu();
    BuildLanguageMenu();
    ApplyCaptions();
    MainDictionary().AddListener(Dictionary::Listener::Bind<&TMainForm::LanguageChanged>(this));

    // The log window shows the session's lines from the first one on.
    cbLog->EnsureWindow();
    logSubscription_ =
        SubscribeLog([this](const std::string& line) { cbLog->AddLog("%s", line.c_str()); }, false);
    list->SetSelectionStore(&session_.Selection());
    session_.Start(arguments, files);
    RestoreState();
    session_.Started();
    setAcceptDrops(true);

    // A storage named on the command line opens as soon as the window runs.
    const std::string given = StorageArgument(arguments);
    if (!given.empty()) {
        std::error_code error;
        const std::filesystem::path absolute = std::filesystem::absolute(given, error);
        const QString path = QString::fromStdString(error ? given : absolute.lexically_normal().string());
        edtStorage->setText(path);
        QTimer::singleShot(0, this, [this, path] { RunWindowCommand([this, path] { OpenStorage(path); }); });
    }
}

TMainForm::~TMainForm()
{
    MainDictionary().RemoveListener(Dictionary::Listener::Bind<&TMainForm::LanguageChanged>(this));
    if (!closed_)
        FormClose();
    list->SetSelectionStore(nullptr);
    UnsubscribeLog(logSubscription_);
}

// ---- construction ----------------------------------------------------------

void TMainForm::CreateControls()
{
    resize(680, 608);
    move(363, 108);
    setFont(DesignFont());

    auto* central = new QWidget(this);
    auto* column = new QVBoxLayout(central);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    setCentralWidget(central);

    CreateStorageGroup(central);
    CreateToolBar(central);
    CreatePlateArea(central);
    CreateLogWindow(central);
    column->addWidget(grpStorage);
    column->addWidget(toolBar);
    column->addWidget(splitter, 1);
    column->addWidget(cbLog);
    ConnectCommands();
}

void TMainForm::CreateStorageGroup(QWidget* parent)
{
    grpStorage = new QGroupBox(parent);
    grpStorage->setObjectName("grpStorage");
    grpStorage->setFixedHeight(106);
    auto* grid = new QGridLayout(grpStorage);
    grid->setContentsMargins(4, 2, 4, 2);
    grid->setSpacing(3);
    bntPlugins = new QToolButton(grpStorage);
    bntPlugins->setObjectName("bntPlugins");
    bntPlugins->setFixedSize(23, 22);
    cbPlugins = new QComboBox(grpStorage);
    cbPlugins->setObjectName("cbPlugins");
    cbPlugins->setEditable(false);
    txtPlugin = new QLabel(grpStorage);
    txtPlugin->setObjectName("txtPlugin");
    txtPlugin->setText("-"); // until a plugin is shown
    edtDesc = new QPlainTextEdit(grpStorage);
    edtDesc->setObjectName("edtDesc");
    edtDesc->setReadOnly(true);
    edtDesc->setFixedHeight(36);
    edtDesc->setMinimumWidth(248);
    edtDesc->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    chUseDir = new QCheckBox(grpStorage);
    chUseDir->setObjectName("chUseDir");
    chCanWrite = new QCheckBox(grpStorage);
    chCanWrite->setObjectName("chCanWrite");
    chCanEnum = new QCheckBox(grpStorage);
    chCanEnum->setObjectName("chCanEnum");
    for (QCheckBox* box : {chUseDir, chCanWrite, chCanEnum})
        box->setEnabled(false); // they only show the plugin's flags
    btnStorage = new QToolButton(grpStorage);
    btnStorage->setObjectName("btnStorage");
    btnStorage->setFixedSize(23, 22);
    edtStorage = new QLineEdit(grpStorage);
    edtStorage->setObjectName("edtStorage");
    cbLayout = new QComboBox(grpStorage);
    cbLayout->setObjectName("cbLayout");
    ShowLayoutChoices();
    cbLayout->setSizeAdjustPolicy(QComboBox::AdjustToContents);

    auto* flags = new QHBoxLayout();
    flags->addWidget(chUseDir);
    flags->addWidget(chCanWrite);
    flags->addWidget(chCanEnum);
    flags->addStretch();
    grid->addWidget(bntPlugins, 0, 0);
    grid->addWidget(cbPlugins, 0, 1);
    grid->addWidget(txtPlugin, 0, 2, Qt::AlignRight);
    grid->addWidget(edtDesc, 1, 1);
    grid->addLayout(flags, 1, 2);
    grid->addWidget(btnStorage, 2, 0);
    grid->addWidget(edtStorage, 2, 1);
    grid->addWidget(cbLayout, 2, 2);
    grid->setColumnStretch(1, 1);
    AddMetadataButton(grid, 2, 3, [this] { return StorageLoaded() ? session_.Connection().Action() : nullptr; });
}

void TMainForm::CreateToolBar(QWidget* parent)
{
    toolBar = new QWidget(parent);
    toolBar->setObjectName("toolBar");
    toolBar->setFixedHeight(33);
    auto* tools = new QHBoxLayout(toolBar);
    tools->setContentsMargins(2, 2, 2, 2);
    tools->setSpacing(0);
    btnLoad = new QPushButton(toolBar);
    btnLoad->setObjectName("btnLoad");
    btnLoad->setFixedWidth(130);
    btnSelect = new QToolButton(toolBar);
    btnSelect->setObjectName("btnSelect");
    btnSelect->setFixedWidth(103);
    btnSelect->setPopupMode(QToolButton::InstantPopup);
    btnSelect->setToolButtonStyle(Qt::ToolButtonTextOnly);
    btnExport = new QPushButton(toolBar);
    btnExport->setObjectName("btnExport");
    btnExport->setFixedWidth(90);
    btnCopy = new QPushButton(toolBar);
    btnCopy->setObjectName("btnCopy");
    btnCopy->setFixedWidth(90);
    btnDelete = new QPushButton(toolBar);
    btnDelete->setObjectName("btnDelete");
    btnDelete->setFixedWidth(90);
    tools->addWidget(btnLoad);
    tools->addSpacing(10);
    tools->addWidget(btnSelect);
    tools->addWidget(btnExport);
    tools->addWidget(btnCopy);
    tools->addWidget(btnDelete);
    btnCoverage = new QToolButton(toolBar);
    btnCoverage->setObjectName("btnCoverage");
    btnCoverage->setCheckable(true);
    btnCoverage->setToolButtonStyle(Qt::ToolButtonTextOnly);
    tools->addWidget(btnCoverage);
    tools->addSpacing(10);
    txtSummary = new QLabel(toolBar);
    txtSummary->setObjectName("txtSummary");
    tools->addWidget(txtSummary, 1);

    PopupMenu1 = new QMenu(btnSelect);
    PopupMenu1->setObjectName("PopupMenu1");
    A1 = PopupMenu1->addAction(QString());
    A1->setObjectName("A1");
    A1->setData(1);
    I1 = PopupMenu1->addAction(QString());
    I1->setObjectName("I1");
    I1->setData(2);
    L1 = PopupMenu1->addAction(QString());
    L1->setObjectName("L1");
    L1->setData(3);
    B1 = PopupMenu1->addAction(QString());
    B1->setObjectName("B1");
    B1->setData(0); // enabled with plates, like All
    D1 = PopupMenu1->addAction(QString());
    D1->setObjectName("D1");
    D1->setData(0);
    K1 = PopupMenu1->addAction(QString());
    K1->setObjectName("K1");
    K1->setData(0);
    btnSelect->setMenu(PopupMenu1);
    // Ctrl+A anywhere in the window but in a text field, which keeps it.
    A1->setShortcut(QKeySequence::SelectAll);
    A1->setShortcutContext(Qt::WindowShortcut);
    addAction(A1);
}

void TMainForm::CreatePlateArea(QWidget* parent)
{
    splitter = new QSplitter(Qt::Horizontal, parent);
    splitter->setObjectName("splitter");
    splitter->setHandleWidth(5);
    splitter->setOpaqueResize(true);
    splitter->setChildrenCollapsible(false);

    listArea = new QWidget(splitter);
    listArea->setObjectName("listArea");
    auto* listColumn = new QVBoxLayout(listArea);
    listColumn->setContentsMargins(0, 0, 0, 0);
    listColumn->setSpacing(0);
    headerModel_ = new QStandardItemModel(0, kSectionCount, this);
    header = new QHeaderView(Qt::Horizontal, listArea);
    header->setObjectName("header");
    header->setModel(headerModel_);
    header->setFixedHeight(17);
    header->setSectionsMovable(false);
    CreateSorting();
    header->setStretchLastSection(true);
    header->setSectionResizeMode(QHeaderView::Interactive);
    for (int i = 0; i < kSectionCount; ++i) {
        headerModel_->setHeaderData(i, Qt::Horizontal, QVariant::fromValue(kSections[i].alignment),
                                    Qt::TextAlignmentRole);
        header->resizeSection(i, kSections[i].width);
    }
    list = new BkList(listArea);
    list->setObjectName("list");
    list->SetItemHeight(16);
    list->SetMultiSelect(true);
    list->SetOptions({bkoVirtual, bkoColLines, bkoShowSelection});
    list->SetBkColor(clWindow);
    list->SetGridColor(12615680);
    list->SetSectionDelimiters(";");
    list->SetHeader(header); // the list places the header above its rows
    list->OnClick = Delegate<void(CustomBkList*)>::Bind<&TMainForm::listClickEvent>(this);
    list->OnDrawItemSection = CustomBkList::DrawSectionEvent::Bind<&TMainForm::listDrawItemSection>(this);
    list->OnSelectionChange = Delegate<void(CustomBkList*)>::Bind<&TMainForm::listSelectionChange>(this);
    listColumn->addWidget(list, 1);
    list->viewport()->installEventFilter(this); // a row's tooltip: the plate's z/x/y

    // No layout: a layout would make the square picture's height the
    // panel's minimum, and a wide panel would push the window off the screen.
    panelRight = new QWidget(splitter);
    panelRight->setObjectName("panelRight");
    image = new QLabel(panelRight);
    image->setObjectName("image");
    image->setAlignment(Qt::AlignCenter);
    // The picture is fitted by RenderPicture: a plate of the panel's size
    // or smaller is shown pixel for pixel, a larger one scaled down smoothly.
    image->setScaledContents(false);
    image->setMinimumSize(1, 1);
    txtImage = new QLabel(panelRight);
    txtImage->setObjectName("txtImage");
    // At least two lines; a longer text (an error with its plate, file and
    // reason) takes the room below the picture, wrapped.
    txtImage->setMinimumHeight(kImageLabelHeight);
    txtImage->setWordWrap(true);
    txtImage->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    txtImage->setTextInteractionFlags(Qt::TextSelectableByMouse);
    txtImage->setText("-\n-");
    coverage = new CoverageView(panelRight);
    coverage->hide();
    coverage->SetSource(&session_.Plates(), &session_.Selection());
    coverage->RunBuild = [this](const std::function<void()>& build) {
        RunWindowCommand([&] {
            operation_.SetAbortable(true);
            OperationEnd end(operation_);
            build();
        });
    };
    coverage->OnProgress = [this](int done, int count) { return CoverageProgress(done, count); };
    coverage->OnSelectArea = [this](const GeoBox& box, int fromZoom) {
        RunWindowCommand([&] { CoverageSelectArea(box, fromZoom); });
    };
    panelRight->setMinimumSize(1, kImageLabelHeight + 1);
    panelRight->installEventFilter(this);
    splitter->addWidget(listArea);
    splitter->addWidget(panelRight);
    splitter->setStretchFactor(0, 1);
    splitter->setStretchFactor(1, 0);
}

void TMainForm::CreateLogWindow(QWidget* parent)
{
    cbLog = new LogComboBox(parent);
    cbLog->setObjectName("cbLog");
    cbLog->setFixedHeight(21);
    cbLog->setMaxVisibleItems(20);
    cbLog->setFocusPolicy(Qt::ClickFocus); // not reachable by Tab
    // Only shows the lines: the session writes the log file.
    cbLog->SetOptions(acbLog | acbIndexOnLast);
}

void TMainForm::ConnectCommands()
{
    connect(bntPlugins, &QToolButton::clicked, this, Command<&TMainForm::mnuPluginsEditClick>());
    connect(cbPlugins, &QComboBox::currentIndexChanged, this, Command<&TMainForm::cbPluginsChange>());
    connect(btnStorage, &QToolButton::clicked, this, Command<&TMainForm::btnStorageClick>());
    connect(btnLoad, &QPushButton::clicked, this, Command<&TMainForm::btnLoadClick>());
    connect(edtStorage, &QLineEdit::returnPressed, this, Command<&TMainForm::edtStorageReturnPressed>());
    connect(edtStorage, &QLineEdit::textChanged, this, [this] { ShowFolderLayout(); });
    connect(cbLayout, &QComboBox::activated, this, [this](int option) { cbLayoutActivated(option); });
    connect(btnExport, &QPushButton::clicked, this, Command<&TMainForm::btnExportClick>());
    connect(btnCopy, &QPushButton::clicked, this, Command<&TMainForm::btnCopyClick>());
    connect(btnDelete, &QPushButton::clicked, this, Command<&TMainForm::btnDeleteClick>());
    connect(PopupMenu1, &QMenu::aboutToShow, this, Command<&TMainForm::PopupMenu1MenuItemCheck>());
    connect(A1, &QAction::triggered, this, Command<&TMainForm::A1Click>());
    connect(I1, &QAction::triggered, this, Command<&TMainForm::I1Click>());
    connect(L1, &QAction::triggered, this, Command<&TMainForm::L1Click>());
    connect(B1, &QAction::triggered, this, Command<&TMainForm::B1Click>());
    connect(D1, &QAction::triggered, this, Command<&TMainForm::D1Click>());
    connect(K1, &QAction::triggered, this, Command<&TMainForm::K1Click>());
    connect(btnCoverage, &QToolButton::toggled, this, Command<&TMainForm::btnCoverageClick>());
}

void TMainForm::CreateMenu()
{
    F1 = menuBar()->addMenu(QString());
    F1->setObjectName("F1");
    mnuPluginsEdit = F1->addAction(QString());
    mnuPluginsEdit->setObjectName("mnuPluginsEdit");
    mnuRecent = F1->addMenu(QString());
    mnuRecent->setObjectName("mnuRecent");
    mnuRecent->setEnabled(false); // filled from the configuration
    mnuLang = F1->addMenu(QString());
    mnuLang->setObjectName("mnuLang");
    mnuSaveCfg = F1->addAction(QString());
    mnuSaveCfg->setObjectName("mnuSaveCfg");
    mnuSaveCfg->setShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F9));
    F1->addSeparator()->setObjectName("N2");
    mnuExit = F1->addAction(QString());
    mnuExit->setObjectName("mnuExit");
    if (Data() != nullptr && Data()->Images.size() > 2)
        mnuExit->setIcon(Data()->Images[2]);
    connect(mnuPluginsEdit, &QAction::triggered, this, Command<&TMainForm::mnuPluginsEditClick>());
    connect(mnuSaveCfg, &QAction::triggered, this, Command<&TMainForm::mnuSaveCfgClick>());
    connect(mnuExit, &QAction::triggered, this, Command<&TMainForm::mnuExitClick>());
    CreateContainerMenu();
}

// The languages of the dictionary loaded from the program folder; without
// one the menu is disabled.
void TMainForm::BuildLanguageMenu()
{
    mnuLang->clear();
    delete languageGroup_;
    languageGroup_ = new QActionGroup(this);
    languageGroup_->setExclusive(true);
    const std::vector<std::string>& languages = MainDictionary().Languages();
    for (std::size_t i = 0; i < languages.size(); ++i) {
        QAction* item = mnuLang->addAction(QString::fromStdString(languages[i]));
        const int tag = static_cast<int>(i);
        item->setData(tag);
        item->setCheckable(true);
        item->setChecked(tag == MainDictionary().Language());
        languageGroup_->addAction(item);
        connect(item, &QAction::triggered, this, [this, tag] { RunCommand([this, tag] { LanguageClick(tag); }); });
    }
    mnuLang->setEnabled(!languages.empty());
}

void TMainForm::ApplyCaptions()
{
    setWindowTitle("Ulmora");
    grpStorage->setTitle(Tr(" Storage "));
    bntPlugins->setText("...");
    btnStorage->setText("...");
    for (int i = 0; shownLayouts_ && i < shownLayouts_->count && i < cbLayout->count(); ++i)
        cbLayout->setItemText(i, Tr(shownLayouts_->options[i].caption));
    chUseDir->setText(Tr("Uses directory"));
    chCanWrite->setText(Tr("Support write"));
    chCanEnum->setText(Tr("Support list"));
    btnLoad->setText(Tr(loadCaption_.toUtf8().constData()));
    FitButton(btnLoad, 130);
    btnSelect->setText(Tr("&S Select"));
    btnExport->setText(Tr("&E Export..."));
    btnCopy->setText(Tr("&C Copy to..."));
    btnDelete->setText(Tr("&D Delete"));
    btnCoverage->setText(Tr("&M Map"));
    FitButton(btnSelect, 103);
    FitButton(btnExport, 90);
    FitButton(btnCopy, 90);
    FitButton(btnDelete, 90);
    A1->setText(Tr("All"));
    I1->setText(Tr("Invert selection"));
    L1->setText(Tr("Level..."));
    B1->setText(Tr("Broken plates"));
    D1->setText(Tr("Duplicates"));
    K1->setText(Tr("Blank"));
    for (int i = 0; i < kSectionCount; ++i)
        headerModel_->setHeaderData(i, Qt::Horizontal, Tr(kSections[i].text), Qt::DisplayRole);
    F1->setTitle(Tr("&F Files"));
    mnuPluginsEdit->setText(Tr("&P Plugins..."));
    mnuRecent->setTitle(Tr("&R Recent storages"));
    mnuLang->setTitle(Tr("&L Languages"));
    mnuSaveCfg->setText(Tr("&S Save configuration..."));
    mnuExit->setText(Tr("&X Exit"));
    ApplyContainerCaptions();
    if (cbPlugins->currentIndex() < 0)
        edtDesc->setPlainText(Tr("Not loaded"));
    if (BasePlugin* plugin = SelectedPlugin())
        txtPlugin->setText(QString::fromUtf8(PluginTypeName(plugin->Type())));
    if (shownPlate_.shown)
        txtImage->setText(QString::fromStdString(ShownPlateLabel(shownPlate_.name.c_str(), shownPlate_.width,
                                                                 shownPlate_.height, shownPlate_.size)) +
                          PlaceLine(shownPlate_.name));
    ApplyToolTips();
    UpdateSummary();
}

void TMainForm::ApplyToolTips()
{
    bntPlugins->setToolTip(Tr("Register and free plugin libraries"));
    cbPlugins->setToolTip(Tr("The storage plugin that loads the storage"));
    btnStorage->setToolTip(Tr("Choose the storage file or folder"));
    edtStorage->setToolTip(Tr("The storage file or folder; Enter loads it"));
    cbLayout->setToolTip(Tr(shownLayouts_ ? shownLayouts_->tooltip : LayoutChoicesFor("folder")->tooltip));
    chUseDir->setToolTip(Tr("The plugin keeps its plates in a folder"));
    chCanWrite->setToolTip(Tr("The plugin can write and delete plates"));
    chCanEnum->setToolTip(Tr("The plugin can list the plates of a storage"));
    btnLoad->setToolTip(Tr("Load the storage, or release the loaded one"));
    btnSelect->setToolTip(Tr("Select all plates (Ctrl+A), invert the selection or select by zoom levels"));
    btnExport->setToolTip(Tr("Export the selected plates into image files"));
    btnCopy->setToolTip(Tr("Copy the selected plates into another storage, through its plugin"));
    btnDelete->setToolTip(Tr("Delete the selected plates from the storage"));
    btnCoverage->setToolTip(Tr("Show where the storage has plates, level by level, instead of the preview"));
    coverage->ApplyCaptions();
}

void TMainForm::FitButton(QWidget* button, int designWidth)
{
    button->setFixedWidth(std::max(designWidth, button->sizeHint().width()));
}

void TMainForm::LanguageChanged(int language)
{
    if (languageGroup_ != nullptr)
        for (QAction* item : languageGroup_->actions())
            item->setChecked(item->data().toInt() == language);
    ApplyCaptions();
}

void TMainForm::LanguageClick(int tag)
{
    session_.Link().WriteInt(cfgkey::kUsedLang, tag);
    MainDictionary().SetLanguage(tag);
}

// ---- persisted state -------------------------------------------------------

void TMainForm::RestoreState()
{
    StorageLink& link = session_.Link();
    ReleaseStorage();
    MainDictionary().SetLanguage(link.ReadInt(cfgkey::kUsedLang, cfgkey::kDefaultLanguage));
    LoadWindowPlacement(link.Item(cfgkey::kWindow), this);
    FitToScreen();
    session_.LoadRegistry();
    FillPluginChoice();
    for (int i = 0; i < kSectionCount; ++i)
        header->resizeSection(i, link.ReadInt(Format(cfgkey::kHeaderSection, i), header->sectionSize(i)));
    rightWidth_ = link.ReadInt(cfgkey::kRightWidth, RightWidth());
    ApplyRightWidth();
    session_.RestoreChoice();
    {
        const QSignalBlocker quiet(cbPlugins);
        cbPlugins->setCurrentIndex(session_.Choice().Chosen());
    }
    cbPluginsChange();
    edtStorage->setText(QString::fromStdString(link.ReadString(cfgkey::kLastUsedData, "")));
    FillRecentMenu();
}

void TMainForm::StoreState()
{
    StorageLink& link = session_.Link();
    link.WriteInt(cfgkey::kLastUsedPlugin, session_.Choice().Chosen());
    link.WriteString(cfgkey::kLastUsedData, edtStorage->text().toStdString());
    for (int i = 0; i < kSectionCount; ++i)
        if (!header->isSectionHidden(i)) // a hidden one reads 0 wide
            link.WriteInt(Format(cfgkey::kHeaderSection, i), header->sectionSize(i));
    link.WriteInt(cfgkey::kRightWidth, RightWidth());
    SaveWindowPlacement(link.Item(cfgkey::kWindow), this);
}

void TMainForm::SaveState(bool ask)
{
    if (!session_.Running())
        return;
    if (ask && !AskYesNo(this, nullptr, "%s", Translate("Save configuration?")))
        return;
    StoreState();
    if (!session_.SaveConfig() && ask) {
        const std::string why = ErrorText(kCurrentError);
        ErrorBox(this, Translate("Error storing config.\nFile: %s\nError: %s"), session_.Config().FilePath().c_str(),
                 why.c_str());
    }
}

// The design placement (680 x 608 at 363, 108) runs off a 1024 x 768
// screen: the window is moved, and made smaller if it must, so that it and
// its frame lie on the screen's free area.
void TMainForm::FitToScreen()
{
    if (windowState() & (Qt::WindowMaximized | Qt::WindowMinimized | Qt::WindowFullScreen))
        return;
    QScreen* screen = this->screen() != nullptr ? this->screen() : QGuiApplication::primaryScreen();
    if (screen == nullptr)
        return;
    const QRect usable = screen->availableGeometry();
    // Before the first show the frame is not known: room for a usual one.
    const QSize frame = isVisible() ? frameGeometry().size() - size() : QSize(kFrameAllowance, kTitleAllowance);
    const QSize fitted = size().boundedTo(usable.size() - frame).expandedTo(minimumSizeHint()).boundedTo(usable.size());
    resize(fitted);
    const int x = std::clamp(this->x(), usable.left(), std::max(usable.left(), usable.right() + 1 - width() - frame.width()));
    const int y = std::clamp(this->y(), usable.top(), std::max(usable.top(), usable.bottom() + 1 - height() - frame.height()));
    move(x, y);
}

// Before the window is first shown the splitter has no real width yet: the
// panel's width is kept aside and applied at the first show.
int TMainForm::RightWidth() const
{
    const QList<int> sizes = splitter->sizes();
    return shownOnce_ && sizes.size() == 2 ? sizes[1] : rightWidth_;
}

void TMainForm::ApplyRightWidth()
{
    if (!shownOnce_)
        return;
    const QList<int> sizes = splitter->sizes();
    const int total = sizes.size() == 2 ? sizes[0] + sizes[1] : splitter->width();
    splitter->setSizes({std::max(1, total - rightWidth_), rightWidth_});
}

void TMainForm::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    if (!shownOnce_) {
        shownOnce_ = true;
        ApplyRightWidth();
    }
}

void TMainForm::mnuPluginsEditClick()
{
    {
        TPluginsEditor editor(this, Link(), session_.Plugins());
        editor.exec();
    } // destroyed on closing, before the choice is rebuilt
    FillPluginChoice();
}

// ---- layout ----------------------------------------------------------------

bool TMainForm::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == panelRight && event->type() == QEvent::Resize)
        panelRightResize();
    if (watched == list->viewport() && event->type() == QEvent::ToolTip) {
        auto* help = static_cast<QHelpEvent*>(event);
        PlateItem plate;
        const int index = list->ItemAt(help->pos());
        const QString tip = index >= 0 && session_.Plates().At(index, &plate)
                                ? PlaceText(std::string(plate.name, static_cast<std::size_t>(plate.nameLength)))
                                : QString();
        if (tip.isEmpty())
            QToolTip::hideText();
        else
            QToolTip::showText(help->globalPos(), tip, list->viewport());
        return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

void TMainForm::dragEnterEvent(QDragEnterEvent* event)
{
    const QList<QUrl> urls = event->mimeData()->urls();
    if (urls.size() == 1 && urls.first().isLocalFile())
        event->acceptProposedAction();
}

void TMainForm::dropEvent(QDropEvent* event)
{
    const QList<QUrl> urls = event->mimeData()->urls();
    if (urls.size() != 1 || !urls.first().isLocalFile())
        return;
    event->acceptProposedAction();
    const QString path = urls.first().toLocalFile();
    // The drag's source waits for the drop to end: the load runs after it.
    QTimer::singleShot(0, this, [this, path] { RunWindowCommand([this, path] { OpenStorage(path); }); });
}

void TMainForm::panelRightResize() { LayoutPreview(); }

// The picture is square and as wide as the panel, but never taller than the
// room the panel has above the label: it shrinks and centres instead.
void TMainForm::LayoutPreview()
{
    const int width = panelRight->width();
    const int room = panelRight->height() - kImageLabelHeight;
    const int side = std::max(1, std::min(width, room));
    image->setGeometry((width - side) / 2, 0, side, side);
    txtImage->setGeometry(0, side, width, std::max(kImageLabelHeight, panelRight->height() - side));
    coverage->setGeometry(0, 0, width, panelRight->height());
    RenderPicture();
}

void TMainForm::RenderPicture()
{
    if (shownPicture_.isNull()) {
        image->clear();
        return;
    }
    const QSize room = image->size();
    if (shownPicture_.width() <= room.width() && shownPicture_.height() <= room.height())
        image->setPixmap(QPixmap::fromImage(shownPicture_));
    else
        image->setPixmap(QPixmap::fromImage(shownPicture_.scaled(room, Qt::KeepAspectRatio, Qt::SmoothTransformation)));
}

// ---- shutdown --------------------------------------------------------------

void TMainForm::closeEvent(QCloseEvent* event)
{
    if (!closed_)
        FormClose();
    event->accept();
}

void TMainForm::FormClose()
{
    closed_ = true;
    session_.Stop([this] { StoreState(); });
}
