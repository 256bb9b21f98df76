#include "app/Application.h"

#include "base/Command.h"
#include "crash/CrashHandler.h"
#include "log/Boxes.h"

#include <exception>

void ShowException(const char* what) { ErrorBox(nullptr, "%s", what != nullptr ? what : "Unknown exception"); }

bool Application::notify(QObject* receiver, QEvent* event)
{
    bool result = false;
    // Each event is a command to the crash reporter: a fault the user
    // ignores abandons this event's handling only.
    crash::RunCommand([&] {
        // A command that throws is ended and shown; the program goes on.
        try {
            result = QApplication::notify(receiver, event);
        } catch (const CommandAbandoned&) {
            throw; // an ignored fault: the recovery point ends the command silently
        } catch (const std::exception& error) {
            ShowException(error.what());
        } catch (...) {
            ShowException(nullptr);
        }
    });
    return result;
}
