#include "log/LogComboBox.h"

#include "base/Text.h"
#include "log/DiagnosticLog.h"
#include "log/LastErrorKeeper.h"

#include <QAbstractItemView>
#include <QCoreApplication>
#include <QEvent>
#include <QThread>

namespace {

// Carries a line made by another thread to the control's own thread.
class LogLineEvent : public QEvent {
public:
    static QEvent::Type EventType()
    {
        static const int type = QEvent::registerEventType(QEvent::User + 100);
        return static_cast<QEvent::Type>(type);
    }
    explicit LogLineEvent(std::string line) : QEvent(EventType()), text(std::move(line)) {}
    std::string text;
};

} // namespace

LogComboBox::LogComboBox(QWidget* parent) : QComboBox(parent), ownerThread_(QThread::currentThread())
{
    ApplyStyle();
}

LogComboBox::~LogComboBox() = default;

bool LogComboBox::HasWindow() const { return hasWindow_.load(); }

void LogComboBox::NoteWindow()
{
    if (!hasWindow_.load() && testAttribute(Qt::WA_WState_Created))
        hasWindow_.store(true);
}

void LogComboBox::EnsureWindow()
{
    if (!testAttribute(Qt::WA_WState_Created))
        create();
    NoteWindow();
    ApplyDropDownWidth();
}

bool LogComboBox::event(QEvent* event)
{
    NoteWindow();
    if (event->type() == LogLineEvent::EventType()) {
        AddLog("%s", static_cast<LogLineEvent*>(event)->text.c_str());
        return true;
    }
    if (event->type() == QEvent::Show || event->type() == QEvent::WinIdChange)
        ApplyDropDownWidth();
    return QComboBox::event(event);
}

void LogComboBox::AddLog(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    AddLogV(format, args);
    va_end(args);
}

void LogComboBox::AddLogV(const char* format, va_list args)
{
    if (format == nullptr || (options_ & acbLog) == 0)
        return;
    LastErrorKeeper keep;
    std::string text = FormatV(format, args);

    if (QThread::currentThread() != ownerThread_) {
        if (hasWindow_.load())
            QCoreApplication::postEvent(this, new LogLineEvent(std::move(text)));
        return;
    }

    NoteWindow();
    if (hasWindow_.load())
        AddLines(text);
    if ((options_ & acbFileLog) != 0 && !logFile_.empty())
        WriteLogFile(logFile_, "%s", text.c_str());
}

void LogComboBox::ShowLine(const std::string& line)
{
    const QString text = QString::fromStdString(line);
    for (int i = count() - 1; i >= 0; --i)
        if (itemText(i) == text) {
            setCurrentIndex(i);
            return;
        }
    if (hasWindow_.load() && (options_ & acbLog) != 0)
        AddLines(line);
}

void LogComboBox::AddLines(const std::string& text)
{
    // Trimming 50 lines at a time keeps the work per message small.
    if (logLimit_ != 0 && count() > logLimit_) {
        const int keep = std::max(logLimit_ - 50, 0);
        while (count() > keep)
            removeItem(0);
    }
    std::size_t start = 0;
    while (true) {
        std::size_t end = text.find('\n', start);
        addItem(QString::fromUtf8(text.data() + start,
                                  static_cast<qsizetype>((end == std::string::npos ? text.size() : end) - start)));
        if ((options_ & acbIndexOnLast) != 0)
            setCurrentIndex(count() - 1);
        // A text that ends with a line feed adds no empty line after it.
        if (end == std::string::npos || end + 1 == text.size())
            break;
        start = end + 1;
    }
}

void LogComboBox::SetOptions(AlignCBStyles options)
{
    if (options == options_)
        return;
    options_ = options;
    if ((options_ & acbLog) != 0 && style_ != ComboStyle::DropDownList) {
        style_ = ComboStyle::DropDownList;
        ApplyStyle();
    }
}

void LogComboBox::SetStyle(ComboStyle style)
{
    if ((options_ & acbLog) != 0 && style != ComboStyle::DropDownList)
        return;
    style_ = style;
    ApplyStyle();
}

void LogComboBox::ApplyStyle() { setEditable(style_ != ComboStyle::DropDownList); }

void LogComboBox::SetDropDownWidth(int width)
{
    dropDownWidth_ = width;
    if (HasWindow())
        ApplyDropDownWidth();
}

void LogComboBox::ApplyDropDownWidth()
{
    // The opened list is never narrower than the control; its minimum width
    // widens it.
    view()->setMinimumWidth(dropDownWidth_ == -1 ? 0 : dropDownWidth_);
}
