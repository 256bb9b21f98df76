#include "browse/AskZoomForm.h"

#include "browse/Selection.h"
#include "config/StorageLink.h"
#include "widgets/GuiShared.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include <cstdint>

TAskZoomForm::TAskZoomForm(StorageLink* link, QWidget* owner) : QDialog(owner), link_(link)
{
    setObjectName("AskZoomForm");
    setWindowTitle(Tr("Select zoom levels..."));
    setFont(DesignFont());

    Label1 = new QLabel(Tr("From"), this);
    Label1->setObjectName("Label1");
    btnFrom = new QSpinBox(this);
    btnFrom->setObjectName("btnFrom");
    Label2 = new QLabel(Tr("To"), this);
    Label2->setObjectName("Label2");
    btnTo = new QSpinBox(this);
    btnTo->setObjectName("btnTo");
    for (QSpinBox* box : {btnFrom, btnTo}) {
        box->setRange(kMinZoom, kMaxZoom);
        box->setWrapping(false);
    }
    if (link_ != nullptr) {
        btnFrom->setValue(link_->ReadInt("Sel/FromPos", 1));
        btnTo->setValue(link_->ReadInt("Sel/ToPos", 1));
    }

    MakeOkCancelButtons(this, &btnOk, &btnCancel);
    connect(btnOk, &QPushButton::clicked, this, [this] { btnOkClick(); });

    auto* fields = new QGridLayout();
    fields->addWidget(Label1, 0, 0);
    fields->addWidget(btnFrom, 0, 1);
    fields->addWidget(Label2, 1, 0);
    fields->addWidget(btnTo, 1, 1);
    auto* buttons = new QHBoxLayout();
    buttons->addStretch();
    buttons->addWidget(btnOk);
    buttons->addWidget(btnCancel);
    auto* column = new QVBoxLayout(this);
    column->addLayout(fields);
    column->addStretch();
    column->addLayout(buttons);
    setFixedSize(258, 148);
}

void TAskZoomForm::btnOkClick()
{
    if (link_ != nullptr) {
        link_->WriteInt("Sel/FromPos", static_cast<int16_t>(btnFrom->value()));
        link_->WriteInt("Sel/ToPos", static_cast<int16_t>(btnTo->value()));
    }
    accept();
}

bool AskZoomRange(StorageLink* link, QWidget* owner, int* from, int* to)
{
    TAskZoomForm form(link, owner);
    if (form.exec() != QDialog::Accepted)
        return false;
    *from = static_cast<int16_t>(form.btnFrom->value());
    *to = static_cast<int16_t>(form.btnTo->value());
    return true;
}
