#include "app/MetadataForm.h"

#include "base/Translate.h"
#include "log/Boxes.h"
#include "log/Errors.h"
#include "plates/StorageMetadata.h"
#include "plugins/Plugin.h"
#include "widgets/GuiShared.h"

#include <QDialogButtonBox>
#include <QEvent>
#include <QGridLayout>
#include <QHeaderView>
#include <QLabel>
#include <QRegularExpression>
#include <QTableWidget>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

QString Degrees(double value) { return QString::number(value, 'f', 6).remove(QRegularExpression("\\.?0+$")); }

// What the program understands of the keys, on one line.
QString FieldsText(const MetadataFields& f)
{
    QStringList parts;
    if (!f.name.empty())
        parts << Tr("Name: %1").arg(QString::fromStdString(f.name));
    if (f.minZoom >= 0 || f.maxZoom >= 0)
        parts << Tr("Zooms: %1-%2").arg(f.minZoom).arg(f.maxZoom);
    if (f.bounds) {
        const auto& b = *f.bounds;
        parts << Tr("Bounds: %1, %2, %3, %4").arg(Degrees(b[0]), Degrees(b[1]), Degrees(b[2]), Degrees(b[3]));
    }
    if (f.center)
        parts << Tr("Center: %1, %2").arg(Degrees((*f.center)[0]), Degrees((*f.center)[1]));
    if (!f.format.empty())
        parts << Tr("Format: %1").arg(QString::fromStdString(f.format));
    if (f.tileSize > 0)
        parts << Tr("Tile size: %1").arg(f.tileSize);
    return parts.join(QStringLiteral("; "));
}

// The tooltip is fetched when shown, so that it follows a language switch.
class MetadataButton final : public QToolButton {
public:
    using QToolButton::QToolButton;

protected:
    bool event(QEvent* event) override
    {
        if (event->type() == QEvent::ToolTip)
            setToolTip(Tr("Show the storage's metadata"));
        return QToolButton::event(event);
    }
};

} // namespace

MetadataForm::MetadataForm(StorageAction& action, QWidget* parent) : QDialog(parent), action_(action)
{
    setObjectName("MetadataForm");
    setWindowTitle(Tr("Metadata of %1").arg(QString::fromStdString(action.StoragePath())));
    table_ = new QTableWidget(0, 2, this);
    table_->setObjectName("tblMetadata");
    table_->setHorizontalHeaderLabels({Tr("Key"), Tr("Value")});
    table_->horizontalHeader()->setStretchLastSection(true);
    table_->verticalHeader()->hide();
    table_->setEditTriggers(action.CanWriteMetadata() ? QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed
                                                      : QAbstractItemView::NoEditTriggers);
    fields_ = new QLabel(this);
    fields_->setObjectName("txtMetadataFields");
    fields_->setWordWrap(true);
    fields_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(table_);
    layout->addWidget(fields_);
    layout->addWidget(buttons);
    connect(table_, &QTableWidget::itemChanged, this, &MetadataForm::ValueEdited);
    resize(560, 360);
}

bool MetadataForm::Reload()
{
    MetadataList keys;
    const bool read = action_.HasMetadata() && action_.ReadMetadata(&keys) != Failed;
    filling_ = true;
    table_->setRowCount(static_cast<int>(keys.size()));
    for (int row = 0; row < static_cast<int>(keys.size()); ++row) {
        const auto& [key, value] = keys[static_cast<std::size_t>(row)];
        auto* name = new QTableWidgetItem(QString::fromStdString(key));
        name->setFlags(name->flags() & ~Qt::ItemIsEditable);
        table_->setItem(row, 0, name);
        table_->setItem(row, 1, new QTableWidgetItem(QString::fromStdString(value)));
    }
    filling_ = false;
    table_->resizeColumnToContents(0);
    if (!action_.HasMetadata())
        fields_->setText(Tr("The plugin cannot read a storage's metadata"));
    else if (!read)
        fields_->setText(Tr("Cannot read the metadata: %1").arg(QString::fromStdString(ErrorText(kCurrentError))));
    else if (keys.empty())
        fields_->setText(Tr("The storage has no metadata"));
    else
        fields_->setText(FieldsText(InterpretMetadata(keys, DialectOfKeys(keys))));
    return read;
}

void MetadataForm::ValueEdited(QTableWidgetItem* item)
{
    if (filling_ || item->column() != 1)
        return;
    const std::string key = table_->item(item->row(), 0)->text().toStdString();
    const std::string value = item->text().toStdString();
    if (action_.WriteMetadata(key.c_str(), value.c_str()) == Failed)
        ErrorBox(this, "%s", ErrorText(kCurrentError).c_str());
    // Not from inside the item's own signal: reloading replaces the item.
    QTimer::singleShot(0, this, [this] { Reload(); });
}

QToolButton* AddMetadataButton(QGridLayout* grid, int row, int column, std::function<StorageAction*()> loaded)
{
    auto* button = new MetadataButton(grid->parentWidget());
    button->setObjectName("btnMetadata");
    button->setText("i");
    button->setFixedSize(23, 22);
    button->setToolTip(Tr("Show the storage's metadata"));
    grid->addWidget(button, row, column);
    QObject::connect(button, &QToolButton::clicked, button, [button, loaded = std::move(loaded)] {
        QWidget* window = button->window();
        StorageAction* action = loaded();
        if (action == nullptr) {
            ErrorBox(window, "%s", Translate("Load a storage first: its metadata is shown then"));
            return;
        }
        MetadataForm form(*action, window);
        form.Reload();
        form.exec();
    });
    return button;
}
