#include "widgets/GuiShared.h"

#include "base/Translate.h"

#include <QDialog>
#include <QPushButton>

namespace {
SharedGui* shared = nullptr;
}

QString Tr(const char* text) { return QString::fromUtf8(Translate(text)); }

QFont DesignFont()
{
    QFont font("MS Sans Serif");
    font.setPointSize(8);
    return font;
}

void MakeOkCancelButtons(QDialog* dialog, QPushButton** ok, QPushButton** cancel)
{
    *ok = new QPushButton(Tr("Ok"), dialog);
    (*ok)->setObjectName("btnOk");
    (*ok)->setDefault(true);
    *cancel = new QPushButton(Tr("Cancel"), dialog);
    (*cancel)->setObjectName("btnCancel");
    for (QPushButton* button : {*ok, *cancel})
        button->setFixedSize(111, 30);
    if (shared != nullptr && shared->Images.size() > 1) {
        (*ok)->setIcon(shared->Images[0]);
        (*cancel)->setIcon(shared->Images[1]);
    }
    QObject::connect(*cancel, &QPushButton::clicked, dialog, &QDialog::reject);
}

SharedGui* Shared() { return shared; }
void SetShared(SharedGui* resources) { shared = resources; }
