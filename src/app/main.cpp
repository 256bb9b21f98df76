#include "app/Application.h"
#include "app/Data.h"
#include "app/MainForm.h"
#include "crash/CrashHandler.h"
#include "log/DiagnosticLog.h"
#include "log/QtBoxPresenter.h"
#include "platform/Process.h"

#include <QSocketNotifier>

#include <exception>
#include <memory>
#include <string>
#include <vector>

int main(int argc, char** argv)
{
    // Before Qt starts threads: faults anywhere from here on are reported.
    crash::Install({});
    // Every command of the window runs behind a recovery point, and every
    // call into a plugin behind one of its own.
    crash::GuardCommands();
    // The session's end (SIGTERM) or Ctrl-C closes the window as the user
    // would, so that the configuration is saved and the log closed; taken
    // from here on, a signal during start-up closes the window once shown.
    const int stopPipe = platform::TerminationSignalPipe();
    Application application(argc, argv);
    QtBoxPresenter boxes;
    SetBoxPresenter(&boxes);

    std::vector<std::string> arguments(argv, argv + argc);
    int code = 0;
    try {
        TData data;
        TMainForm mainForm(arguments);
        crash::SetLogFile(CurrentLogFilePath()); // the log file the main window placed
        mainForm.show();
        std::unique_ptr<QSocketNotifier> stop;
        if (stopPipe >= 0) {
            stop = std::make_unique<QSocketNotifier>(stopPipe, QSocketNotifier::Read);
            QObject::connect(stop.get(), &QSocketNotifier::activated, &mainForm, [&mainForm] {
                if (platform::TakeTerminationSignal() != 0)
                    mainForm.close();
            });
        }
        code = application.exec();
    } catch (const std::exception& error) {
        // Shown like any other failure; the program then ends normally.
        ShowException(error.what());
        code = 0;
    }
    SetBoxPresenter(nullptr);
    return code;
}
