#pragma once
// The log window: a drop-down list whose entries are the log lines, the
// newest selected, each line also written to the log file.
//
// The list belongs to the thread that created the control. Other threads may
// call AddLog: their text is posted to that thread and shown (and written to
// the file) when it handles the event; before the control has a window such
// lines are dropped.

#include <QComboBox>

#include <atomic>
#include <cstdarg>
#include <string>

class QThread;

enum AlignCBStyle : unsigned {
    acbLog = 1u << 0,          // logging on; without it AddLog does nothing at all
    acbIndexOnLast = 1u << 1,  // the newest line is the selected one
    acbFileLog = 1u << 2,      // lines also go to LogFile through the diagnostic writer
};
using AlignCBStyles = unsigned;

// Styles of a drop-down list, as far as logging cares.
enum class ComboStyle { DropDown, Simple, DropDownList };

class LogComboBox : public QComboBox {
    Q_OBJECT
public:
    explicit LogComboBox(QWidget* parent = nullptr);
    ~LogComboBox() override;

    void AddLog(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void AddLogV(const char* format, va_list args);

    // Shows `line` as the current entry, where the eye meets the log, until
    // the next line comes: the newest entry with that text, or a new one
    // (not written to any file) when the list has none.
    void ShowLine(const std::string& line);

    AlignCBStyles Options() const { return options_; }
    // With acbLog on, an editable style becomes the drop-down list.
    void SetOptions(AlignCBStyles options);

    const std::string& LogFile() const { return logFile_; }
    void SetLogFile(std::string path) { logFile_ = std::move(path); }

    // Above this many lines the list is cut back to LogLimit - 50 before the
    // next message; 0 means no limit.
    int LogLimit() const { return logLimit_; }
    void SetLogLimit(int limit) { logLimit_ = limit; }

    // Width of the opened list in pixels; -1 means the control's own width.
    int DropDownWidth() const { return dropDownWidth_; }
    void SetDropDownWidth(int width);

    ComboStyle Style() const { return style_; }
    // While acbLog is on, the editable styles are refused.
    void SetStyle(ComboStyle style);

    // True once the control has its window; lines are shown from then on.
    bool HasWindow() const;
    // Makes the window exist, so that lines can be added before it is shown.
    void EnsureWindow();

protected:
    bool event(QEvent* event) override;

private:
    void AddLines(const std::string& text);
    void ApplyStyle();
    void ApplyDropDownWidth();
    void NoteWindow();

    QThread* ownerThread_;
    AlignCBStyles options_ = acbIndexOnLast;
    std::string logFile_;
    int logLimit_ = 500;
    int dropDownWidth_ = -1;
    ComboStyle style_ = ComboStyle::DropDownList;
    std::atomic<bool> hasWindow_{false}; // read by other threads
};
