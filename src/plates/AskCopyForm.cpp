#include "plates/AskCopyForm.h"

#include "config/StorageLink.h"
#include "platform/Files.h"
#include "plugins/PluginChoice.h"
#include "plugins/Registry.h"
#include "widgets/GuiShared.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

TAskCopyForm::TAskCopyForm(StorageLink* link, const PluginsArray& plugins, QWidget* owner) : QDialog(owner), link_(link)
{
    setObjectName("AskCopyForm");
    setWindowTitle(Tr("Copy to..."));
    setFont(DesignFont());

    Label1 = new QLabel(Tr("Target storage"), this);
    Label1->setObjectName("Label1");
    edtTarget = new QLineEdit(this);
    edtTarget->setObjectName("edtTarget");
    edtTarget->setMaxLength(static_cast<int>(platform::kMaxPathLength));
    edtTarget->setToolTip(Tr("The storage file or folder the plates are copied into; a missing one is made"));
    Label2 = new QLabel(Tr("Target plugin"), this);
    Label2->setObjectName("Label2");
    cbTargetPlugin = new QComboBox(this);
    cbTargetPlugin->setObjectName("cbTargetPlugin");
    cbTargetPlugin->setToolTip(Tr("The storage plugin that writes the target; chosen by the path until you pick one"));
    for (int i = 0; i < plugins.Count(); ++i) {
        BasePlugin* plugin = plugins.Plugin(i);
        if (plugin == nullptr || plugin->Type() != PluginTypeStorage || !plugin->HasFlag(SupportsWrite))
            continue;
        kinds_.push_back(KindOf(*plugin));
        cbTargetPlugin->addItem(QString::fromStdString(plugin->LibraryPath()));
    }
    chAskOnError = new QCheckBox(Tr("Show notification on copy errors"), this);
    chAskOnError->setObjectName("chAskOnError");
    chAskOnError->setToolTip(Tr("Ask after each error whether to go on; otherwise errors are only logged"));
    MakeOkCancelButtons(this, &btnOk, &btnCancel);

    if (link_ != nullptr) {
        edtTarget->setText(QString::fromStdString(link_->ReadString("Copy/Target", "")));
        chAskOnError->setChecked(link_->ReadBool("Copy/AskOnError", true));
    }
    edtTargetChange();
    connect(edtTarget, &QLineEdit::textChanged, this, [this] { edtTargetChange(); });
    connect(cbTargetPlugin, &QComboBox::activated, this, [this] { pickedByHand_ = true; });
    connect(btnOk, &QPushButton::clicked, this, [this] { btnOkClick(); });

    auto* buttons = new QHBoxLayout();
    buttons->addStretch();
    buttons->addWidget(btnOk);
    buttons->addWidget(btnCancel);
    auto* column = new QVBoxLayout(this);
    column->addWidget(Label1);
    column->addWidget(edtTarget);
    column->addWidget(Label2);
    column->addWidget(cbTargetPlugin);
    column->addWidget(chAskOnError);
    column->addStretch();
    column->addLayout(buttons);
    resize(420, sizeHint().height());
}

TAskCopyForm::~TAskCopyForm() = default;

// The plugin follows the path (a folder plugin for a folder or a name
// without an extension, else the one of the file's extension) until the
// user picks one.
void TAskCopyForm::edtTargetChange()
{
    const std::string path = edtTarget->text().toStdString();
    if (!pickedByHand_ && !path.empty()) {
        const PathChoice chosen = ChoosePluginForPath(kinds_, path);
        if (chosen.chosen >= 0)
            cbTargetPlugin->setCurrentIndex(chosen.chosen);
    }
    btnOk->setEnabled(!path.empty() && cbTargetPlugin->currentIndex() >= 0);
}

void TAskCopyForm::btnOkClick()
{
    choice_.path = edtTarget->text().toStdString();
    choice_.pluginPath = cbTargetPlugin->currentText().toStdString();
    choice_.askOnError = chAskOnError->isChecked();
    if (choice_.path.empty() || choice_.pluginPath.empty())
        return;
    if (link_ != nullptr) {
        link_->WriteString("Copy/Target", choice_.path);
        link_->WriteBool("Copy/AskOnError", choice_.askOnError);
    }
    accept();
}

bool AskCopyTarget(StorageLink* link, const PluginsArray& plugins, QWidget* owner, CopyTargetChoice* choice)
{
    TAskCopyForm form(link, plugins, owner);
    if (form.exec() != QDialog::Accepted)
        return false;
    *choice = form.Choice();
    return true;
}
