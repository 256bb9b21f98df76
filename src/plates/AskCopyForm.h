#pragma once
// The copy dialog: the target storage's path and the plugin that writes it,
// chosen by what the path is until the user picks one, and whether errors
// are asked about. The path and the flag live under the "Copy/..." keys.

#include <QDialog>

#include <string>
#include <vector>

class PluginsArray;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class StorageLink;
struct PluginKind;

struct CopyTargetChoice {
    std::string path;       // the target storage
    std::string pluginPath; // the library of the plugin that opens it
    bool askOnError = true;
};

class TAskCopyForm : public QDialog {
    Q_OBJECT
public:
    // Offers the registered storage plugins that can write.
    TAskCopyForm(StorageLink* link, const PluginsArray& plugins, QWidget* owner);
    ~TAskCopyForm() override;

    // Valid after Ok.
    const CopyTargetChoice& Choice() const { return choice_; }

    QLabel* Label1;
    QLineEdit* edtTarget;
    QLabel* Label2;
    QComboBox* cbTargetPlugin;
    QCheckBox* chAskOnError;
    QPushButton* btnOk;
    QPushButton* btnCancel;

private:
    void edtTargetChange();
    void btnOkClick();

    StorageLink* link_;
    std::vector<PluginKind> kinds_; // one per entry of cbTargetPlugin
    bool pickedByHand_ = false;
    CopyTargetChoice choice_;
};

// Runs the dialog modally; false when it was cancelled.
bool AskCopyTarget(StorageLink* link, const PluginsArray& plugins, QWidget* owner, CopyTargetChoice* choice);
