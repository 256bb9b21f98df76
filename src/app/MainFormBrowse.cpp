#include "app/MainForm.h"

// The main window's storage commands: the plugin choice, loading and
// releasing, the plate list's cells, the preview and the Select menu.

#include "app/Data.h"
#include "base/Paths.h"
#include "base/PlateKey.h"
#include "base/Text.h"
#include "base/Translate.h"
#include "browse/AskZoomForm.h"
#include "browse/ChooseFolder.h"
#include "browse/Coverage.h"
#include "browse/CoverageView.h"
#include "browse/FolderLayoutChoice.h"
#include "browse/KeptSelection.h"
#include "browse/Selection.h"
#include "plates/BrokenPlates.h"
#include "config/ConfigKeys.h"
#include "log/Boxes.h"
#include "log/Errors.h"
#include "log/Log.h"
#include "log/LogComboBox.h"
#include "plates/PlateCommands.h"
#include "plates/Preview.h"
#include "plates/QtPicture.h"
#include "plugins/Registry.h"
#include "widgets/BkList.h"
#include "widgets/GuiShared.h"

#include <filesystem>
#include <utility>

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QFileDialog>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QTimer>
#include <QMenu>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QToolButton>

// ---- storage connection ----------------------------------------------------

void TMainForm::FillPluginChoice()
{
    PluginChoice& choice = session_.Choice();
    choice.Fill();
    {
        const QSignalBlocker quiet(cbPlugins);
        cbPlugins->clear();
        for (int i = 0; i < choice.Count(); ++i)
            cbPlugins->addItem(QString::fromStdString(choice.PluginAt(i)->LibraryPath()));
        cbPlugins->setCurrentIndex(choice.Chosen());
    }
    cbPluginsChange();
}

void TMainForm::cbPluginsChange()
{
    session_.Choice().Choose(cbPlugins->currentIndex());
    BasePlugin* plugin = SelectedPlugin();
    // The list on screen belongs to the plugin that loaded it: another
    // plugin releases it. An emptied plugin list (the plugin freed in the
    // editor) is no choice: the window's own load of it stays.
    if (StorageLoaded() && btnLoad->isEnabled() && plugin != nullptr &&
        session_.Connection().Plugin()->LibraryPath() != plugin->LibraryPath())
        ReleaseStorage();
    txtPlugin->setText(plugin != nullptr ? QString::fromUtf8(PluginTypeName(plugin->Type())) : QString());
    chUseDir->setChecked(plugin != nullptr && plugin->HasFlag(UsesDirectory));
    chCanWrite->setChecked(plugin != nullptr && plugin->HasFlag(SupportsWrite));
    chCanEnum->setChecked(plugin != nullptr && plugin->HasFlag(SupportsList));
    edtDesc->setPlainText(plugin != nullptr ? QString::fromUtf8(plugin->Description() ? plugin->Description() : "")
                                            : Tr("Not loaded"));
    const bool browse = plugin != nullptr && plugin->Type() == PluginTypeStorage && plugin->HasFlag(SupportsList);
    edtStorage->setEnabled(browse);
    btnStorage->setEnabled(browse);
    ShowLayoutChoices();
    cbLayout->setEnabled(browse && FolderLayoutApplies());
}

void TMainForm::ShowLayoutChoices()
{
    const BasePlugin* plugin = SelectedPlugin();
    layoutChoices_ =
        plugin != nullptr ? LayoutChoicesFor(std::filesystem::path(plugin->LibraryPath()).stem().string()) : nullptr;
    // A plugin without choices leaves the list as it is, disabled.
    const LayoutChoices* shown = layoutChoices_ ? layoutChoices_ : shownLayouts_ ? shownLayouts_ : LayoutChoicesFor("folder");
    if (shown != shownLayouts_) {
        shownLayouts_ = shown;
        const QSignalBlocker quiet(cbLayout);
        cbLayout->clear();
        for (int i = 0; i < shown->count; ++i)
            cbLayout->addItem(Tr(shown->options[i].caption));
        cbLayout->setToolTip(Tr(shown->tooltip));
    }
    ShowFolderLayout();
}

void TMainForm::ShowFolderLayout()
{
    if (layoutChoices_ == nullptr)
        return;
    const int option = RememberedLayoutOption(*layoutChoices_, session_.Link().ReadString(layoutChoices_->configKey, ""),
                                              edtStorage->text().toStdString());
    cbLayout->setCurrentIndex(option);
}

void TMainForm::cbLayoutActivated(int option)
{
    if (layoutChoices_ == nullptr)
        return;
    StorageLink& link = session_.Link();
    link.WriteString(layoutChoices_->configKey,
                     RememberLayoutOption(*layoutChoices_, link.ReadString(layoutChoices_->configKey, ""),
                                          edtStorage->text().toStdString(), option));
    // A storage on screen is read again at once the way just chosen: one
    // step turns a cache read upside down. Not while a scan runs.
    if (StorageLoaded() && btnLoad->isEnabled())
        RunWindowCommand([this] { LoadStorage(); });
}

void TMainForm::ReleaseStorage() { session_.ReleaseStorage(); }

void TMainForm::LoadStorage()
{
    const std::string storage = edtStorage->text().toStdString();
    const std::string path = FromProgramFolder(storage);
    ChoosePluginFor(path);
    const LoadResult result = session_.LoadStorage(
        FolderLayoutApplies() ? WithLayoutOption(*layoutChoices_, path, cbLayout->currentIndex()) : path);
    // How the plugin read the storage ("layout: xyz, rows from the top
    // (assumed...)"), where the user chooses another reading.
    cbLayout->setToolTip(result.notice.empty() ? Tr(shownLayouts_->tooltip) : QString::fromStdString(result.notice));
    if (result.StorageLoaded())
        RememberStorage(storage);
    ApplySort();
}

void TMainForm::ChoosePluginFor(const std::string& storage)
{
    if (storage.empty())
        return;
    const int entry = session_.Choice().EntryForPath(storage);
    if (entry < 0 || entry == session_.Choice().Chosen())
        return;
    {
        const QSignalBlocker quiet(cbPlugins);
        cbPlugins->setCurrentIndex(entry);
    }
    cbPluginsChange();
}

void TMainForm::OpenStorage(const QString& path)
{
    if (path.isEmpty())
        return;
    // Not inside another command (a scan, a run, a sort on its worker, which
    // let events through): the open follows once that command has ended.
    if (sorting_ || commandDepth_ > 1 || !btnLoad->isEnabled()) {
        pendingOpen_ = path;
        return;
    }
    edtStorage->setText(path);
    if (StorageLoaded())
        ReleaseStorage();
    LoadStorage();
}

std::vector<std::string> TMainForm::RecentStorages()
{
    std::vector<std::string> recent;
    StorageLink& link = session_.Link();
    const int count = std::clamp(link.ReadInt(cfgkey::kRecentCount, 0), 0, cfgkey::kRecentLimit);
    for (int i = 0; i < count; ++i) {
        std::string storage = link.ReadString(Format(cfgkey::kRecentItem, i), "");
        if (!storage.empty() && std::find(recent.begin(), recent.end(), storage) == recent.end())
            recent.push_back(std::move(storage));
    }
    return recent;
}

void TMainForm::RememberStorage(const std::string& storage)
{
    std::vector<std::string> recent = RecentStorages();
    recent.erase(std::remove(recent.begin(), recent.end(), storage), recent.end());
    recent.insert(recent.begin(), storage);
    if (recent.size() > static_cast<std::size_t>(cfgkey::kRecentLimit))
        recent.resize(cfgkey::kRecentLimit);
    StorageLink& link = session_.Link();
    link.WriteInt(cfgkey::kRecentCount, static_cast<int>(recent.size()));
    for (std::size_t i = 0; i < recent.size(); ++i)
        link.WriteString(Format(cfgkey::kRecentItem, static_cast<int>(i)), recent[i]);
    FillRecentMenu();
}

void TMainForm::FillRecentMenu()
{
    mnuRecent->clear();
    const std::vector<std::string> recent = session_.Running() ? RecentStorages() : std::vector<std::string>{};
    for (const std::string& storage : recent) {
        const QString path = QString::fromStdString(storage);
        QAction* item = mnuRecent->addAction(path);
        connect(item, &QAction::triggered, this, [this, path] { RunWindowCommand([this, path] { OpenStorage(path); }); });
    }
    mnuRecent->setEnabled(!recent.empty());
}

bool TMainForm::StorageWritable() const
{
    const StoragePlugin* plugin = session_.Connection().Plugin();
    return plugin != nullptr && plugin->HasFlag(SupportsWrite);
}

QString TMainForm::PlaceText(const std::string& name)
{
    const std::optional<PlateKey::Tile> tile = PlateKey(name).ToTile();
    if (!tile)
        return {};
    return QString("z/x/y: %1/%2/%3").arg(tile->z).arg(tile->x).arg(tile->y);
}

QString TMainForm::PlaceLine(const std::string& name)
{
    const QString place = PlaceText(name);
    return place.isEmpty() ? QString() : "\n" + place;
}

int TMainForm::PlateCount() const { return session_.Plates().Count(); }

void TMainForm::ShowLoadButton(LoadButton state)
{
    loadCaption_ = state == LoadButton::Load ? kLoadCaption : state == LoadButton::Loading ? kLoadingCaption
                                                                                            : kReleaseCaption;
    btnLoad->setText(Tr(loadCaption_.toUtf8().constData()));
    FitButton(btnLoad, 130);
    btnLoad->setEnabled(state != LoadButton::Loading);
    // A finished load or release: the map, when shown, follows once the
    // command is over.
    if (state != LoadButton::Loading && coverage->isVisible())
        QTimer::singleShot(0, this, [this] {
            if (coverage->isVisible())
                RunWindowCommand([this] { RefreshCoverage(); });
        });
}

void TMainForm::ShowPlateCount(int count)
{
    const int current = list->ItemIndex();
    list->SetItemsCount(count);
    coverage->PlatesChanged();
    if (current >= 0 && current < count && list->ItemIndex() != current)
        list->SetItemIndex(current);
}

void TMainForm::PumpMessages() { QCoreApplication::processEvents(); }

void TMainForm::listClick()
{
    PlateItem plate;
    StorageConnection* connection = &session_.Connection();
    if (connection->Plugin() != nullptr && connection->Action() != nullptr &&
        connection->Plates().At(list->ItemIndex(), &plate)) {
        QImage picture;
        const PreviewResult result = PreviewPlate(*connection->Action(), plate, [&picture](const ImageBitmap& bitmap) {
            picture = PictureOf(bitmap);
            return !picture.isNull();
        });
        const std::string name(plate.name, static_cast<std::size_t>(plate.nameLength));
        txtImage->setText(QString::fromStdString(result.label) + (result.shown ? PlaceLine(name) : QString()));
        shownPlate_ = {result.shown, plate.name, result.width, result.height, plate.size};
        if (!result.shown) {
            picture = QImage(std::max(1, image->width()), std::max(1, image->height()), QImage::Format_RGB32);
            picture.fill(Qt::white);
        }
        ShowPicture(picture);
    } else {
        // No plate to show: whatever was shown belonged to a list that is gone.
        ClearPreview();
    }
    const bool plates = PlateCount() > 0;
    btnSelect->setEnabled(plates);
    btnExport->setEnabled(plates);
    btnCopy->setEnabled(plates);
    // A storage its plugin cannot write keeps its plates: nothing to delete.
    btnDelete->setEnabled(plates && StorageWritable());
    // Kept current here too, for Ctrl+A, which works without the menu.
    A1->setEnabled(plates);
    I1->setEnabled(plates);
}

void TMainForm::ClearPreview()
{
    shownPlate_ = {};
    shownPicture_ = QImage();
    image->clear();
    txtImage->setText("-\n-");
}

void TMainForm::UpdateSummary()
{
    txtSummary->setText(QString::fromStdString(SummaryText(SummarizeSelection(session_.Plates(), session_.Selection()))));
}

void TMainForm::listSelectionChange(CustomBkList*)
{
    UpdateSummary();
    if (coverage->isVisible())
        coverage->SelectionChanged();
}

void TMainForm::btnCoverageClick()
{
    const bool map = btnCoverage->isChecked();
    image->setVisible(!map);
    txtImage->setVisible(!map);
    coverage->setVisible(map);
    LayoutPreview();
    if (map)
        RefreshCoverage();
}

void TMainForm::RefreshCoverage()
{
    coverage->Refresh();
    coverage->SelectionChanged();
}

bool TMainForm::CoverageProgress(int done, int count)
{
    if (session_.Period().Elapsed()) {
        operation_.SetText(Translate("Building the coverage map...\nProcessed: %d of %d"), done, count);
        PumpMessages();
    }
    return !operation_.IsAborted();
}

void TMainForm::CoverageSelectArea(const GeoBox& box, int fromZoom)
{
    list->EditSelection([&](ListSelection& selection) { SelectArea(selection, session_.Plates(), box, fromZoom); });
}

void TMainForm::ShowPicture(const QImage& picture)
{
    shownPicture_ = picture;
    RenderPicture();
    image->repaint();
}

bool TMainForm::listDrawItemSection(CustomBkList*, QPainter& canvas, unsigned, const QRect& rect, int section,
                                    int index)
{
    PlateItem plate;
    if (!session_.Plates().At(index, &plate))
        return false;
    QString text;
    Qt::Alignment alignment = Qt::AlignRight;
    switch (section) {
    case 0: text = QString::number(plate.number); break;
    case 1: text = QString::number(plate.nameLength); break;
    case 2: text = QString::fromStdString(FormatSize(plate.size)); break;
    case 3: text = QString::fromUtf8(plate.name, plate.nameLength); alignment = Qt::AlignLeft; break;
    case 4: text = QString::fromUtf8(plate.file, plate.fileLength); alignment = Qt::AlignLeft; break;
    default: return false;
    }
    if (!text.isEmpty()) {
        // No ellipsis: what does not fit is cut at the cell's edge.
        const QRect cell = rect.adjusted(2, 0, -2, 0);
        canvas.save();
        canvas.setClipRect(cell, Qt::IntersectClip);
        canvas.drawText(cell, static_cast<int>(alignment | Qt::AlignVCenter | Qt::TextSingleLine), text);
        canvas.restore();
    }
    return true;
}

void TMainForm::PopupMenu1MenuItemCheck()
{
    for (QAction* item : PopupMenu1->actions())
        if (item->data().toInt() < 3)
            item->setEnabled(PlateCount() > 0);
}

void TMainForm::btnLoadClick()
{
    if (StorageLoaded())
        ReleaseStorage();
    else
        LoadStorage();
}

void TMainForm::edtStorageReturnPressed()
{
    // Not while a scan runs: it lets events through, this one included.
    if (btnLoad->isEnabled())
        LoadStorage();
}

PlateCommandWindow TMainForm::PlateCommandParts()
{
    return {this,         &session_.Link(),     session_.Connection().Action(), &session_.Plates(), list,
            &operation_, &session_.Period(), [this] { ReloadKeepingSelection(); },
            &session_.Plugins(), StorageWritable(), &session_.Selection(),
            [this](const std::string& line) { cbLog->ShowLine(line); }};
}

void TMainForm::ReloadKeepingSelection()
{
    KeptSelection kept;
    kept.Take(session_.Plates(), session_.Selection());
    ReleaseStorage();
    LoadStorage();
    int focus = -1;
    list->EditSelection([&](ListSelection& selection) { focus = kept.Restore(session_.Plates(), selection); });
    if (focus >= 0)
        list->SetItemIndex(focus);
}

void TMainForm::btnExportClick() { RunExportCommand(PlateCommandParts()); }

void TMainForm::btnCopyClick() { RunCopyCommand(PlateCommandParts()); }

void TMainForm::btnDeleteClick() { RunDeleteCommand(PlateCommandParts()); }

void TMainForm::A1Click() { list->SelectAll(); }

void TMainForm::I1Click() { list->InvertSelection(); }

void TMainForm::L1Click()
{
    int from = 0;
    int to = 0;
    if (!AskZoomRange(Link(), this, &from, &to))
        return;
    const PlateList& plates = session_.Plates();
    list->EditSelection([&](ListSelection& selection) { SelectZoomRange(selection, plates, from, to); });
}

void TMainForm::B1Click()
{
    StorageAction* action = session_.Connection().Action();
    if (action == nullptr)
        return;
    // The container first: a damaged one hides plates from the list.
    CheckContainerBeforePlates(*action);
    if (PlateCount() == 0)
        return;
    ListSelection every(PlateCount());
    every.SelectAll();
    const BrokenCheckResult result = FindBrokenPlates(
        {*action, session_.Plates(), every, operation_, session_.Period(), ImageFunctions(), 0, [this] { PumpMessages(); }});
    list->EditSelection([&](ListSelection& selection) {
        selection.ClearAll();
        for (const BrokenPlate& plate : result.broken)
            selection.SetSelected(plate.index, true);
    });
}

void TMainForm::btnStorageClick()
{
    BasePlugin* plugin = SelectedPlugin();
    if (plugin == nullptr) {
        ErrorBox(this, "%s", Translate("Plugin is not loaded or selected"));
        return;
    }
    if (plugin->Type() != PluginTypeStorage) {
        ErrorBox(this, "%s", Translate("Plugin is not of STORAGE type plugin"));
        return;
    }
    if (plugin->HasFlag(UsesDirectory)) {
        const QString folder = ChooseStorageFolder(this, edtStorage->text());
        if (!folder.isEmpty())
            edtStorage->setText(folder);
        return;
    }
    StorageAction* action = plugin->CreateAction();
    if (action == nullptr) {
        const std::string why = ErrorText(kCurrentError);
        ErrorBox(this, Translate("Error creating storage action: %s"), why.c_str());
        return;
    }
    const QString extension = QString::fromUtf8(action->Extension());
    QFileDialog* dialog = Data() != nullptr ? Data()->open : nullptr;
    QFileDialog local;
    if (dialog == nullptr)
        dialog = &local;
    dialog->setFileMode(QFileDialog::ExistingFile);
    dialog->setNameFilters({Tr("All files") + " (*)", "*." + extension + " (*." + extension + ")"});
    const std::string lastFile =
        session_.Link().ReadString(cfgkey::kLastStorageFile, JoinToProgramFolder(edtStorage->text().toStdString()));
    dialog->setDirectory(QString::fromStdString(FolderPart(lastFile).empty() ? lastFile : FolderPart(lastFile)));
    dialog->setWindowTitle(Tr("Select storage file..."));
    if (dialog->exec() == QDialog::Accepted && !dialog->selectedFiles().isEmpty()) {
        const QString chosen = dialog->selectedFiles().first();
        session_.Link().WriteString(cfgkey::kLastStorageFile, chosen.toStdString());
        edtStorage->setText(chosen);
    }
    plugin->FreeAction(action);
}

void TMainForm::listClickEvent(CustomBkList*)
{
    // A command of its own: the preview calls the plugin.
    RunWindowCommand([this] { listClick(); });
}

void TMainForm::AfterCommand(bool finished)
{
    if (!finished)
        Log("%s", Translate("Command abandoned after an ignored fault"));
    if (commandDepth_ == 0)
        session_.Connection().ReleaseFaulted();
    // An open that came during the command runs now, as a command of its own.
    if (commandDepth_ == 0 && !pendingOpen_.isEmpty() && btnLoad->isEnabled()) {
        const QString path = std::exchange(pendingOpen_, QString());
        QTimer::singleShot(0, this, [this, path] { RunWindowCommand([this, path] { OpenStorage(path); }); });
    }
}
