#pragma once
// The plugins editor: a modal window that lists the registered plugin
// libraries, loads another one and frees a loaded one. It holds no data of its
// own; row r shows the registry's plugin r, and the window follows the
// registry's change notifications while it exists.

#include <QDialog>
#include <QStringList>

class BasePlugin;
class BkList;
class CustomBkList;
class PluginsArray;
class QGroupBox;
class QHeaderView;
class QPainter;
class QToolButton;
class StorageLink;

inline constexpr int kPluginSectionCount = 4;

class TPluginsEditor : public QDialog {
    Q_OBJECT
public:
    // `link` is the program's configuration link (may be null: nothing is
    // read or written); `plugins` the registry shown.
    TPluginsEditor(QWidget* owner, StorageLink* link, PluginsArray& plugins);
    ~TPluginsEditor() override;

    // The registry's change notification; the argument is ignored.
    void Refresh(int);

    // The Qt name filters the load dialog offers: the entries of the
    // translated "name|patterns|name|patterns" text, then this platform's
    // shared libraries.
    static QStringList LoadFilters();

    // Controls, named as the program knows them.
    QGroupBox* GroupBox1;
    QHeaderView* header;
    BkList* list;
    QToolButton* btnAdd;
    QToolButton* btnDel;
    QToolButton* ToolbarButton971;

    // Every way of closing ends here, so that the state is saved once.
    void done(int result) override;

private:
    void CreateControls();
    BasePlugin* CurrentPlugin() const;

    void listClick(CustomBkList* sender);
    bool listDrawItemSection(CustomBkList* sender, QPainter& canvas, unsigned state, const QRect& rect,
                             int section, int index);
    void btnAddClick();
    void btnDelClick();
    void FormClose();

    StorageLink* link_;
    PluginsArray& plugins_;
    bool listening_ = false;
};
