#pragma once
// What the program's windows share: texts through the dictionary, the design
// font, and the data module's image list and file dialogs.

#include <QFont>
#include <QIcon>
#include <QList>
#include <QString>

class QDialog;
class QFileDialog;
class QPushButton;

// The translation of `text` as a Qt text.
QString Tr(const char* text);

// The font the windows are designed in: "MS Sans Serif", 8 point.
QFont DesignFont();

// The "Ok" (default, image 0) and "Cancel" (image 1, rejects) buttons of the
// program's small dialogs, 111 x 30; the caller connects "Ok".
void MakeOkCancelButtons(QDialog* dialog, QPushButton** ok, QPushButton** cancel);

// The shared image list and dialogs; the data module is one.
struct SharedGui {
    QFileDialog* open = nullptr;
    QFileDialog* save = nullptr;
    QList<QIcon> Images;
};

// The shared resources while the data module exists, else null.
SharedGui* Shared();
void SetShared(SharedGui* shared);
