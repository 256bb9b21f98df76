#pragma once
// The report window: what went wrong, the decoded stack, and the user's
// choice between ending the program and ignoring the error. Its texts are
// fixed Russian texts, not translated.

#include "crash/CrashReport.h"

#include <QDialog>
#include <QString>

#include <functional>
#include <string>
#include <vector>

class BkList;
class CustomBkList;
class QGroupBox;
class QHeaderView;
class QLabel;
class QPushButton;
class QSplitter;
class QWidget;

class TVCLExceptionInfoForm : public QDialog {
    Q_OBJECT

public:
    // LeaveUnhandled: no answer was given (the window was taken down from
    // outside); the close box answers Ignore, or End where Ignore is off.
    enum class Choice { Ignore, End, LeaveUnhandled };

    explicit TVCLExceptionInfoForm(QWidget* parent = nullptr);

    // Shows `report`; `text` is the report text "Save" writes. With
    // `canIgnore` false the window says that the program cannot go on and
    // "Ignore" is off.
    void Fill(const crash::CrashReport& report, std::vector<std::string> text, bool canIgnore);
    Choice Answer() const { return answer_; }

    // Asks for the file "Save" writes (empty: cancelled); the save dialog
    // unless a test puts something else here.
    std::function<QString(QWidget* parent, const QString& folder)> ChooseSaveFile;
    // Writes the report text into `path`; false when it cannot.
    bool SaveReport(const QString& path) const;

    QLabel* lblProgram = nullptr;
    QLabel* lblType = nullptr;
    QLabel* lblAddress = nullptr;
    QLabel* lblOperation = nullptr;
    QLabel* lblNoIgnore = nullptr;
    QWidget* pnlDeveloper = nullptr;
    BkList* listStack = nullptr;
    BkList* listCode = nullptr;
    BkList* listData = nullptr;
    QPushButton* btnSave = nullptr;
    QPushButton* btnEnd = nullptr;
    QPushButton* btnIgnore = nullptr;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void reject() override;

private:
    void CreateControls();
    void btnSaveClick();
    void btnEndClick();
    void btnIgnoreClick();
    void listStackClick(CustomBkList* sender);
    BkList* MakeList(QWidget* parent, const QStringList& captions, const std::vector<int>& widths, const char* name);

    std::vector<crash::StackFrame> frames_;
    std::vector<std::string> text_;
    QString folder_;
    bool canIgnore_ = true;
    Choice answer_ = Choice::LeaveUnhandled;
};

// The default of ChooseSaveFile: the save dialog for ".trap" files.
QString ChooseTrapFile(QWidget* parent, const QString& folder);
