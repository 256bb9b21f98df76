#include "app/Application.h"

#include "log/Boxes.h"

#include <exception>

void ShowException(const char* what) { ErrorBox(nullptr, "%s", what != nullptr ? what : "Unknown exception"); }

bool Application::notify(QObject* receiver, QEvent* event)
{
    // A command that throws is ended and shown; the program goes on.
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& error) {
        ShowException(error.what());
    } catch (...) {
        ShowException(nullptr);
    }
    return false;
}
