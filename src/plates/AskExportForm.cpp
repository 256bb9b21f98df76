#include "plates/AskExportForm.h"

#include "config/StorageLink.h"
#include "platform/Files.h"
#include "widgets/GuiShared.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QToolButton>
#include <QVBoxLayout>

namespace {
constexpr const char* kOverItems[4] = {"Ask", "Overwrite", "Stay as is and continue", "Cancel process"};
// By ExportLayout.
constexpr const char* kLayoutItems[3] = {"Plate tree: t/q/r.jpg", "z/x/y, rows from the top (.png, .jpg... by the data)",
                                         "TMS z/x/y, rows from the bottom (extension by the data)"};
constexpr const char* kExportLayoutKey = "Export/Layout";
} // namespace

TAskExportForm::TAskExportForm(StorageLink* link, QWidget* owner, bool canMove) : QDialog(owner), link_(link)
{
    setObjectName("AskExportForm");
    setWindowTitle(Tr("Export options..."));
    setFont(DesignFont());

    Label1 = new QLabel(Tr("Base directory"), this);
    Label1->setObjectName("Label1");
    edtBasePath = new QLineEdit(this);
    edtBasePath->setObjectName("edtBasePath");
    // A path is never cut: the field holds as much as the system opens.
    edtBasePath->setMaxLength(static_cast<int>(platform::kMaxPathLength));
    edtBasePath->setToolTip(Tr("Folder the plate tree is written into"));
    SpeedButton1 = new QToolButton(this);
    SpeedButton1->setObjectName("SpeedButton1");
    SpeedButton1->setText("...");
    SpeedButton1->setToolTip(Tr("Select base directory"));
    connect(SpeedButton1, &QToolButton::clicked, this, [this] { SpeedButton1Click(); });

    chOver = new QGroupBox(Tr(" Existing files "), this);
    chOver->setObjectName("chOver");
    chOver->setToolTip(Tr("What to do with an image file that already exists"));
    auto* overGroup = new QButtonGroup(this);
    auto* overColumn = new QVBoxLayout(chOver);
    for (int i = 0; i < 4; ++i) {
        chOverItems[i] = new QRadioButton(Tr(kOverItems[i]), chOver);
        chOverItems[i]->setObjectName(QString("chOver%1").arg(i));
        overGroup->addButton(chOverItems[i], i);
        overColumn->addWidget(chOverItems[i]);
    }
    cbLayout = new QComboBox(this);
    cbLayout->setObjectName("cbLayout");
    for (const char* item : kLayoutItems)
        cbLayout->addItem(Tr(item));
    cbLayout->setToolTip(Tr("How the files are named under the base directory"));
    chMove = new QCheckBox(Tr("Delete expported plates from storage"), this);
    chMove->setObjectName("chMove");
    chMove->setToolTip(Tr("Each plate is deleted from the storage once its file is safely on disk"));
    chAskOnError = new QCheckBox(Tr("Show notification on export errors"), this);
    chAskOnError->setObjectName("chAskOnError");
    chAskOnError->setToolTip(Tr("Ask after each error whether to go on; otherwise errors are only logged"));

    MakeOkCancelButtons(this, &btnOk, &btnCancel);
    connect(btnOk, &QPushButton::clicked, this, [this] { btnOkClick(); });

    if (link_ != nullptr)
        options_ = ReadExportOptions(*link_);
    edtBasePath->setText(QString::fromStdString(options_.BasePath));
    if (options_.Over >= 0 && options_.Over < 4)
        chOverItems[options_.Over]->setChecked(true);
    chMove->setChecked(options_.Move && canMove);
    chMove->setEnabled(canMove);
    chAskOnError->setChecked(options_.AskOnError);
    if (link_ != nullptr)
        options_.Layout = link_->ReadInt(kExportLayoutKey, LayoutPlates);
    cbLayout->setCurrentIndex(options_.Layout >= LayoutPlates && options_.Layout <= LayoutTms ? options_.Layout
                                                                                             : LayoutPlates);

    auto* pathRow = new QHBoxLayout();
    pathRow->addWidget(edtBasePath);
    pathRow->addWidget(SpeedButton1);
    auto* buttons = new QHBoxLayout();
    buttons->addStretch();
    buttons->addWidget(btnOk);
    buttons->addWidget(btnCancel);
    auto* column = new QVBoxLayout(this);
    column->addWidget(Label1);
    column->addLayout(pathRow);
    column->addWidget(cbLayout);
    column->addWidget(chOver);
    column->addWidget(chMove);
    column->addWidget(chAskOnError);
    column->addStretch();
    column->addLayout(buttons);
    // The design size, larger where a translation needs the room.
    setFixedSize(sizeHint().expandedTo(QSize(329, 258)));
}

int TAskExportForm::OverIndex() const
{
    for (int i = 0; i < 4; ++i)
        if (chOverItems[i]->isChecked())
            return i;
    return -1;
}

void TAskExportForm::SpeedButton1Click()
{
    // Qt's own dialog offers "Create New Folder", which asks for the name.
    QFileDialog dialog(this, Tr("Select base directory..."), edtBasePath->text());
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly, true);
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty())
        edtBasePath->setText(dialog.selectedFiles().first());
}

void TAskExportForm::btnOkClick()
{
    ExportOptions stored;
    stored.BasePath = edtBasePath->text().toStdString();
    stored.Over = OverIndex();
    stored.Move = chMove->isEnabled() ? chMove->isChecked() : options_.Move;
    stored.AskOnError = chAskOnError->isChecked();
    stored.Layout = cbLayout->currentIndex();
    if (link_ != nullptr) {
        WriteExportOptions(*link_, stored);
        link_->WriteInt(kExportLayoutKey, stored.Layout);
    }
    options_ = stored;
    options_.Move = chMove->isChecked();
    options_.BasePath = BasePathOf(stored.BasePath);
    accept();
}

bool AskExportOptions(StorageLink* link, QWidget* owner, ExportOptions* options, bool canMove)
{
    TAskExportForm form(link, owner, canMove);
    if (form.exec() != QDialog::Accepted)
        return false;
    *options = form.Options();
    return true;
}
