#pragma once
// The small progress window of long operations: a text of several lines, an
// Abort button and a (never used) progress bar. There is at most one; it is
// made on demand and destroyed when its last reference goes.

#include "log/Operation.h"

#include <QWidget>

class QLabel;
class QProgressBar;
class QPushButton;

class LongOperationForm : public QWidget {
    Q_OBJECT
public:
    // The one window, or null while there is none.
    static LongOperationForm* Instance() { return instance_; }
    static LongOperationForm* Create();

    void AddRef() { ++references_; }
    void Release();

    void SetText(const QString& text);
    void SetAbortable(bool abortable);
    void SetAborted(bool aborted);
    void SetProgress(int progress);
    bool Aborted() const { return aborted_; }
    bool Abortable() const { return abortable_; }

    QLabel* txtText;
    QProgressBar* pbProgress;
    QPushButton* btnAbort;

private:
    LongOperationForm();
    ~LongOperationForm() override;
    void btnAbortClick() { SetAborted(true); }
    void UpdateLayout();

    static LongOperationForm* instance_;
    int references_ = 1;
    bool abortable_ = false;
    bool aborted_ = false;
    int progress_ = 0;
};

// The program's Operation, shown in the LongOperationForm.
class QtOperation : public Operation {
public:
    QtOperation();
    ~QtOperation() override;

protected:
    void ShowText(const std::string& text) override;
    void End() override;
    void ApplyAbortable(bool abortable) override;
    bool TakeAborted() override;

private:
    LongOperationForm* Window();
    int active_ = 1;
};
