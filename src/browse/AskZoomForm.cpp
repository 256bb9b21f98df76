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

    // Levels count the letters of a plate's name; web maps count zooms from 0.
    txtLegend = new QLabel(Tr("Level = name length = zoom + 1 (level 1, \"t\", is the whole world).\n"
                              "Letters: q NW, r NE, s SE, t SW."),
                           this);
    txtLegend->setObjectName("txtLegend");
    txtLegend->setWordWrap(true);

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
    column->addWidget(txtLegend);
    column->addStretch();
    column->addLayout(buttons);
    // The design size, taller for the legend.
    setFixedSize(QSize(258, 148).expandedTo(QSize(258, sizeHint().height())));
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
