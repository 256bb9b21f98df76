#include "app/MainForm.h"

// The main window's storage commands: the plugin choice, loading and
// releasing, the plate list's cells, the preview and the Select menu.

#include "app/Data.h"
#include "app/Services.h"
#include "base/Paths.h"
#include "base/Translate.h"
#include "browse/AskZoomForm.h"
#include "browse/ChooseFolder.h"
#include "browse/Selection.h"
#include "log/Boxes.h"
#include "log/Errors.h"
#include "plates/PlateCommands.h"
#include "plates/Preview.h"
#include "plates/QtPicture.h"
#include "plugins/Registry.h"
#include "widgets/BkList.h"
#include "widgets/GuiShared.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QFileDialog>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QToolButton>

// ---- storage connection ----------------------------------------------------

void TMainForm::FillPluginChoice()
{
    const QSignalBlocker quiet(cbPlugins);
    cbPlugins->clear();
    for (int i = 0; i < Plugins().Count(); ++i) {
        BasePlugin* plugin = Plugins().Plugin(i);
        if (plugin->Type() == PluginTypeStorage)
            cbPlugins->addItem(QString::fromStdString(plugin->LibraryPath()), i);
    }
    cbPlugins->setCurrentIndex(-1);
}

BasePlugin* TMainForm::SelectedPlugin() const
{
    if (cbPlugins->currentIndex() < 0)
        return nullptr;
    bool ok = false;
    const int position = cbPlugins->currentData().toInt(&ok);
    if (!ok || position < 0 || position >= Plugins().Count())
        return nullptr;
    return Plugins().Plugin(position);
}

void TMainForm::cbPluginsChange()
{
    BasePlugin* plugin = SelectedPlugin();
    txtPlugin->setText(plugin != nullptr ? QString::fromUtf8(PluginTypeName(plugin->Type())) : QString());
    chUseDir->setChecked(plugin != nullptr && plugin->HasFlag(UsesDirectory));
    chCanWrite->setChecked(plugin != nullptr && plugin->HasFlag(SupportsWrite));
    chCanEnum->setChecked(plugin != nullptr && plugin->HasFlag(SupportsList));
    edtDesc->setPlainText(plugin != nullptr ? QString::fromUtf8(plugin->Description() ? plugin->Description() : "")
                                            : Tr("Not loaded"));
    const bool browse = plugin != nullptr && plugin->Type() == PluginTypeStorage && plugin->HasFlag(SupportsList);
    edtStorage->setEnabled(browse);
    btnStorage->setEnabled(browse);
}

void TMainForm::ReleaseStorage()
{
    if (connection_ != nullptr)
        connection_->ReleaseStorage();
}

void TMainForm::LoadStorage()
{
    if (connection_ != nullptr)
        connection_->LoadStorage(cbPlugins->currentText().toStdString(), edtStorage->text().toStdString());
}

int TMainForm::PlateCount() const { return connection_ != nullptr ? connection_->Plates().Count() : 0; }

void TMainForm::ShowLoadButton(LoadButton state)
{
    loadCaption_ = state == LoadButton::Load ? kLoadCaption : state == LoadButton::Loading ? kLoadingCaption
                                                                                            : kReleaseCaption;
    btnLoad->setText(Tr(loadCaption_.toUtf8().constData()));
    btnLoad->setEnabled(state != LoadButton::Loading);
}

void TMainForm::ShowPlateCount(int count)
{
    const int current = list->ItemIndex();
    list->SetItemsCount(count);
    if (current >= 0 && current < count && list->ItemIndex() != current)
        list->SetItemIndex(current);
}

void TMainForm::PumpMessages() { QCoreApplication::processEvents(); }

void TMainForm::listClick()
{
    PlateItem plate;
    StorageConnection* connection = connection_.get();
    if (connection != nullptr && connection->Plugin() != nullptr && connection->Action() != nullptr &&
        connection->Plates().At(list->ItemIndex(), &plate)) {
        QImage picture;
        const PreviewResult result = PreviewPlate(*connection->Action(), plate, [&picture](const ImageBitmap& bitmap) {
            picture = PictureOf(bitmap);
            return !picture.isNull();
        });
        txtImage->setText(QString::fromStdString(result.label));
        if (!result.shown) {
            picture = QImage(std::max(1, image->width()), std::max(1, image->height()), QImage::Format_RGB32);
            picture.fill(Qt::white);
        }
        ShowPicture(picture);
    }
    const bool plates = PlateCount() > 0;
    btnSelect->setEnabled(plates);
    btnExport->setEnabled(plates);
    btnDelete->setEnabled(plates);
}

void TMainForm::ShowPicture(const QImage& picture)
{
    image->setPixmap(QPixmap::fromImage(picture));
    image->repaint();
}

bool TMainForm::listDrawItemSection(CustomBkList*, QPainter& canvas, unsigned, const QRect& rect, int section,
                                    int index)
{
    PlateItem plate;
    if (connection_ == nullptr || !connection_->Plates().At(index, &plate))
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

void TMainForm::btnExportClick()
{
    if (connection_ != nullptr)
        RunExportCommand({this, link_.get(), connection_->Action(), &connection_->Plates(), list, ProgramOperation(),
                          ProgramPeriod(), [this] { ReleaseStorage(); LoadStorage(); }});
}

void TMainForm::btnDeleteClick()
{
    if (connection_ != nullptr)
        RunDeleteCommand({this, link_.get(), connection_->Action(), &connection_->Plates(), list, ProgramOperation(),
                          ProgramPeriod(), [this] { ReleaseStorage(); LoadStorage(); }});
}

void TMainForm::A1Click() { list->SelectAll(); }

void TMainForm::I1Click() { list->InvertSelection(); }

void TMainForm::L1Click()
{
    int from = 0;
    int to = 0;
    if (!AskZoomRange(link_.get(), this, &from, &to) || connection_ == nullptr)
        return;
    const PlateList& plates = connection_->Plates();
    list->EditSelection([&](ListSelection& selection) { SelectZoomRange(selection, plates, from, to); });
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
        link_->ReadString("EXP_S/LastFile", JoinToProgramFolder(edtStorage->text().toStdString()));
    dialog->setDirectory(QString::fromStdString(FolderPart(lastFile).empty() ? lastFile : FolderPart(lastFile)));
    dialog->setWindowTitle(Tr("Select storage file..."));
    if (dialog->exec() == QDialog::Accepted && !dialog->selectedFiles().isEmpty()) {
        const QString chosen = dialog->selectedFiles().first();
        link_->WriteString("EXP_S/LastFile", chosen.toStdString());
        edtStorage->setText(chosen);
    }
    plugin->FreeAction(action);
}

void TMainForm::listClickEvent(CustomBkList*) { listClick(); }
