#pragma once
// Choosing the folder of a folder storage: an existing one, or a new one that
// is made after the user agreed.

#include <QString>

class QWidget;

// The chosen folder, or an empty text when the user cancelled or the folder
// could not be made (that is shown in an error box).
QString ChooseStorageFolder(QWidget* owner, const QString& start);
