#pragma once
// The dialog that asks for a range of zoom levels, remembered under
// "Sel/FromPos" and "Sel/ToPos" when confirmed with Ok.

#include <QDialog>

class QLabel;
class QPushButton;
class QSpinBox;
class StorageLink;

class TAskZoomForm : public QDialog {
    Q_OBJECT
public:
    TAskZoomForm(StorageLink* link, QWidget* owner);

    QLabel* Label1;
    QSpinBox* btnFrom; // the edit box and its up-down control in one
    QLabel* Label2;
    QLabel* txtLegend; // levels against zooms, and the quadrant letters
    QSpinBox* btnTo;
    QPushButton* btnOk;
    QPushButton* btnCancel;

private:
    void btnOkClick();
    StorageLink* link_;
};

// Shows the dialog modally; false unless it was closed with Ok.
bool AskZoomRange(StorageLink* link, QWidget* owner, int* from, int* to);
