#include "log/QtBoxPresenter.h"

#include "widgets/GuiShared.h"

#include <QApplication>
#include <QCheckBox>
#include <QMessageBox>
#include <QPushButton>

#include <cstdio>

namespace {

QWidget* OwnerWidget(BoxOwner owner)
{
    return owner != nullptr ? static_cast<QWidget*>(owner) : QApplication::activeWindow();
}

QString Text(const std::string& text) { return QString::fromStdString(text); }

} // namespace

void QtBoxPresenter::ShowError(BoxOwner owner, const std::string& caption, const std::string& text)
{
    QMessageBox box(QMessageBox::Critical, Text(caption), Text(text), QMessageBox::NoButton,
                    OwnerWidget(owner));
    box.addButton(Tr(kOkText), QMessageBox::AcceptRole);
    box.exec();
}

BoxPresenter::Answer QtBoxPresenter::Ask(BoxOwner owner, const std::string& caption,
                                         const std::string& text, Buttons buttons, bool withCheckBox)
{
    QMessageBox box(QMessageBox::Question, Text(caption), Text(text), QMessageBox::NoButton,
                    OwnerWidget(owner));
    QPushButton* yes = box.addButton(Tr(kYesText), QMessageBox::YesRole);
    QPushButton* no = box.addButton(Tr(kNoText), QMessageBox::NoRole);
    QPushButton* cancel = nullptr;
    if (buttons == Buttons::YesNoCancel) {
        cancel = box.addButton(Tr(kCancelText), QMessageBox::RejectRole);
        box.setEscapeButton(cancel);
    } else {
        box.setEscapeButton(no);
    }
    box.setDefaultButton(buttons == Buttons::YesNoDefaultNo ? no : yes);
    if (withCheckBox)
        box.setCheckBox(new QCheckBox(Tr(kDontTellText), &box));
    QApplication::beep();
    box.exec();

    Answer answer;
    answer.checked = box.checkBox() != nullptr && box.checkBox()->isChecked();
    if (box.clickedButton() == yes)
        answer.button = BoxYes;
    else if (box.clickedButton() == no)
        answer.button = BoxNo;
    else
        answer.button = buttons == Buttons::YesNoCancel ? BoxCancel : BoxNo;
    return answer;
}

void QtBoxPresenter::ShowFatal(const std::string& caption, const std::string& text)
{
    if (qApp == nullptr) {
        std::fprintf(stderr, "%s %s\n", caption.c_str(), text.c_str());
        return;
    }
    QMessageBox box(QMessageBox::Critical, Text(caption), Text(text), QMessageBox::Ok,
                    QApplication::activeWindow());
    box.exec();
}
