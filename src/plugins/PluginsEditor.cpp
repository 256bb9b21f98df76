#include "plugins/PluginsEditor.h"

#include "base/Paths.h"
#include "base/Text.h"
#include "base/Translate.h"
#include "config/StorageLink.h"
#include "config/WindowPlacement.h"
#include "log/Boxes.h"
#include "plugins/Registry.h"
#include "widgets/BkList.h"
#include "widgets/GuiShared.h"
#include "widgets/ListHeader.h"

#include <QFile>
#include <QFileDialog>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QPainter>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

struct Section {
    const char* caption;
    int width;
};
const Section kSections[kPluginSectionCount] = {
    {"Type", 70}, {"File", 260}, {"Description", 200}, {"Properties", 150}};

constexpr ColorRef kHighlight = 8404992; // red 0, green 64, blue 128
constexpr ColorRef kGrid = 12615680;     // red 0, green 128, blue 192

// The library files of this platform, offered beside the DLL filter.
constexpr const char* kSharedLibraryFilter = "Shared libraries|*.so";

// "name|patterns|name|patterns" as Qt name filters "name (patterns)"; the
// patterns of one entry are separated by ';' there and by blanks here.
void AppendFilters(QStringList& filters, const QString& text)
{
    const QStringList parts = text.split('|');
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QString patterns = parts[i + 1];
        patterns.replace(';', ' ');
        filters.append(QStringLiteral("%1 (%2)").arg(parts[i], patterns.simplified()));
    }
}

QString PathText(const std::string& path) { return QFile::decodeName(QByteArray::fromStdString(path)); }

} // namespace

TPluginsEditor::TPluginsEditor(QWidget* owner, StorageLink* link, PluginsArray& plugins)
    : QDialog(owner), link_(link), plugins_(plugins)
{
    setObjectName("TPluginsEditor");
    // A sizeable tool window whose title bar offers only the close box.
    setWindowFlags(Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    setSizeGripEnabled(true);
    resize(611, 230);
    CreateControls();

    plugins_.AddListener(PluginsArray::Listener::Bind<&TPluginsEditor::Refresh>(this));
    listening_ = true;
    if (link_ != nullptr) {
        LoadWindowPlacement(link_->Item("PE/Window"), this);
        for (int i = 0; i < kPluginSectionCount; ++i)
            header->resizeSection(i, link_->ReadInt(Format("PE/Hdr/Sec%d", i), header->sectionSize(i)));
    }
    Refresh(-1);
}

TPluginsEditor::~TPluginsEditor()
{
    // Destroyed without being closed: the registry must not call a window that is gone.
    if (listening_)
        plugins_.RemoveListener(PluginsArray::Listener::Bind<&TPluginsEditor::Refresh>(this));
}

void TPluginsEditor::CreateControls()
{
    setWindowTitle(Tr("Korvane: Plugins..."));
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(4, 4, 4, 4);
    column->setSpacing(4);

    GroupBox1 = new QGroupBox(Tr(" Loaded plugins "), this);
    GroupBox1->setObjectName("GroupBox1");
    auto* inside = new QVBoxLayout(GroupBox1);
    inside->setContentsMargins(4, 2, 4, 4);
    QStringList captions;
    std::vector<int> widths;
    for (const Section& section : kSections) {
        captions.append(Tr(section.caption));
        widths.push_back(section.width);
    }
    header = MakeListHeader(captions, widths, GroupBox1);
    header->setObjectName("header");
    header->setSectionResizeMode(QHeaderView::Interactive);
    list = new BkList(GroupBox1);
    list->setObjectName("list");
    list->SetOptions({bkoVirtual, bkoColLines, bkoShowSelection, bkoForceSelection});
    list->SetMultiSelect(false);
    list->SetItemHeight(16);
    list->SetHighlightColor(kHighlight);
    list->SetGridColor(kGrid);
    list->SetBkColor(clWindow);
    list->SetSectionDelimiters(";");
    list->SetHeader(header);
    list->OnClick = Delegate<void(CustomBkList*)>::Bind<&TPluginsEditor::listClick>(this);
    list->OnDrawItemSection = CustomBkList::DrawSectionEvent::Bind<&TPluginsEditor::listDrawItemSection>(this);
    inside->addWidget(list);
    column->addWidget(GroupBox1, 1);

    const QList<QIcon> images = Shared() != nullptr ? Shared()->Images : QList<QIcon>();
    auto makeButton = [this, &images](const char* name, const char* caption, int image, bool flat) {
        auto* button = new QToolButton(this);
        button->setObjectName(name);
        button->setText(Tr(caption));
        button->setAutoRaise(flat);
        button->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
        button->setMinimumWidth(75);
        if (image < images.size())
            button->setIcon(images[image]);
        return button;
    };
    btnAdd = makeButton("btnAdd", "&Load", 0, true);
    btnDel = makeButton("btnDel", "&Free", 1, true);
    ToolbarButton971 = makeButton("ToolbarButton971", "&Close", 2, false);
    auto* buttons = new QHBoxLayout();
    buttons->addWidget(btnAdd);
    buttons->addWidget(btnDel);
    buttons->addStretch();
    buttons->addWidget(ToolbarButton971);
    column->addLayout(buttons);

    connect(btnAdd, &QToolButton::clicked, this, [this] { btnAddClick(); });
    connect(btnDel, &QToolButton::clicked, this, [this] { btnDelClick(); });
    connect(ToolbarButton971, &QToolButton::clicked, this, &QDialog::reject);
}

QStringList TPluginsEditor::LoadFilters()
{
    QStringList filters;
    AppendFilters(filters, Tr("DLL files|*.dll"));
    AppendFilters(filters, Tr(kSharedLibraryFilter));
    return filters;
}

void TPluginsEditor::Refresh(int)
{
    list->SetItemsCount(plugins_.Count());
    listClick(list);
}

BasePlugin* TPluginsEditor::CurrentPlugin() const
{
    const int row = list->ItemIndex();
    return row >= 0 && row < plugins_.Count() ? plugins_.Plugin(row) : nullptr;
}

void TPluginsEditor::listClick(CustomBkList*)
{
    btnAdd->setEnabled(true);
    btnDel->setEnabled(CurrentPlugin() != nullptr);
}

bool TPluginsEditor::listDrawItemSection(CustomBkList*, QPainter& canvas, unsigned, const QRect& rect, int section,
                                         int index)
{
    if (index < 0 || index >= plugins_.Count())
        return false;
    const BasePlugin* plugin = plugins_.Plugin(index);
    const bool storage = plugin->Type() == PluginTypeStorage;
    QString text;
    switch (section) {
    case 0:
        text = QString::fromUtf8(PluginTypeName(plugin->Type()));
        break;
    case 1:
        text = PathText(plugin->LibraryPath());
        break;
    case 2:
        text = QString::fromUtf8(plugin->Description() != nullptr ? plugin->Description() : "");
        break;
    case 3:
        if (storage) {
            // Each word is translated on its own, then put into the fixed pattern.
            const char* access = Translate(plugin->HasFlag(SupportsWrite) ? "ReadWrite" : "RdOnly");
            const char* place = Translate(plugin->HasFlag(UsesDirectory) ? "Uses dir" : "Uses file");
            text = QString::fromUtf8(Format("%s, %s", access, place));
        } else {
            text = Tr("Unknown plugin type");
        }
        break;
    default:
        break;
    }
    canvas.drawText(rect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, text);
    return true;
}

void TPluginsEditor::btnAddClick()
{
    QFileDialog* dialog = Shared() != nullptr ? Shared()->open : nullptr;
    if (dialog == nullptr)
        return;
    dialog->setWindowTitle(Tr("Load plugin..."));
    const QStringList filters = LoadFilters();
    dialog->setNameFilters(filters);
    // The libraries this platform loads are what the user looks for first.
    dialog->selectNameFilter(filters.last());
    const std::string stored = link_ != nullptr ? link_->ReadString("PluginsPath", "") : std::string();
    dialog->setDirectory(PathText(JoinToProgramFolder(stored)));
    dialog->selectFile(QString());
    if (dialog->exec() != QDialog::Accepted || dialog->selectedFiles().isEmpty())
        return;

    const std::string chosen = QFile::encodeName(dialog->selectedFiles().first()).toStdString();
    if (link_ != nullptr)
        link_->WriteString("PluginsPath", MakeRelativeToProgramFolder(FolderPart(chosen)));
    // Success notifies the listeners, which adds the row; failures show their own boxes.
    plugins_.AddPlugin(chosen.c_str());
}

void TPluginsEditor::btnDelClick()
{
    BasePlugin* plugin = CurrentPlugin();
    if (plugin == nullptr)
        return;
    if (!AskYesNo(this, nullptr, Translate("Free loaded plugin %s and delete all associated actions?"),
                  plugin->LibraryPath().c_str()))
        return;
    // Closes the storage definitions that use it, frees its actions and its library.
    plugins_.RemovePlugin(plugin);
    plugins_.NotifyListeners();
}

void TPluginsEditor::done(int result)
{
    FormClose();
    QDialog::done(result);
}

void TPluginsEditor::FormClose()
{
    if (!listening_)
        return;
    if (link_ != nullptr) {
        SaveWindowPlacement(link_->Item("PE/Window"), this);
        for (int i = 0; i < kPluginSectionCount; ++i)
            link_->WriteInt(Format("PE/Hdr/Sec%d", i), header->sectionSize(i));
    }
    plugins_.RemoveListener(PluginsArray::Listener::Bind<&TPluginsEditor::Refresh>(this));
    listening_ = false;
}
