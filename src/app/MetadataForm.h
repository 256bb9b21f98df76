#pragma once
// The loaded storage's metadata in a small window reached from the storage
// line: its keys as the format names them, and what the program reads from
// them (extent, zooms, format). A value is edited in place where the plugin
// can write it.

#include <QDialog>

#include <functional>

class QGridLayout;
class QLabel;
class QTableWidget;
class QTableWidgetItem;
class QToolButton;
class StorageAction;

class MetadataForm : public QDialog {
    Q_OBJECT
public:
    MetadataForm(StorageAction& action, QWidget* parent);

    QTableWidget* Table() const { return table_; }
    QLabel* Fields() const { return fields_; }

    // Reads the keys again; false with the error text set when the plugin
    // could not read them.
    bool Reload();

private:
    void ValueEdited(QTableWidgetItem* item);

    StorageAction& action_;
    QTableWidget* table_;
    QLabel* fields_;
    bool filling_ = false;
};

// Puts the storage line's metadata button into `grid` at (row, column); a
// click shows the metadata of the storage `loaded` gives (null: none is
// loaded, and the button says so).
QToolButton* AddMetadataButton(QGridLayout* grid, int row, int column, std::function<StorageAction*()> loaded);
