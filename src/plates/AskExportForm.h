#pragma once
// The export options dialog: the base folder, what to do with existing
// files, whether exported plates leave the storage, and whether errors are
// asked about. Its four values live under the "Export/..." keys, and the
// layout of the files under "Export/Layout".

#include "plates/ExportOptions.h"

#include <QDialog>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QGroupBox;
class QToolButton;
class StorageLink;

class TAskExportForm : public QDialog {
    Q_OBJECT
public:
    // Takes the four values from the keys (creating missing ones). Without
    // `canMove` (a storage that cannot delete) Move is off and disabled, and
    // the stored choice is kept for the next storage.
    TAskExportForm(StorageLink* link, QWidget* owner, bool canMove = true);

    // The options as confirmed; valid after Ok.
    const ExportOptions& Options() const { return options_; }
    // The selected item of chOver, or -1.
    int OverIndex() const;

    QLabel* Label1;
    QLineEdit* edtBasePath;
    QToolButton* SpeedButton1;
    QGroupBox* chOver;
    QRadioButton* chOverItems[4];
    QComboBox* cbLayout; // the plate tree, z/x/y or TMS; its position is the ExportLayout
    QCheckBox* chMove;
    QCheckBox* chAskOnError;
    QPushButton* btnOk;
    QPushButton* btnCancel;

private:
    void SpeedButton1Click();
    void btnOkClick();

    StorageLink* link_;
    ExportOptions options_;
};

// Runs the dialog modally; false when it was cancelled, else `options` holds
// its values and the keys are written.
bool AskExportOptions(StorageLink* link, QWidget* owner, ExportOptions* options, bool canMove = true);
