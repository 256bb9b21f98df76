#pragma once
// The crash helper's work: one fault report after the other from the socket
// the program passed, each walked, logged through the faulting thread and
// shown in the report window, until the program closes the socket.
//
// Test hook: ULMORA_CRASH_TEST_WINDOW, a comma-separated list of steps done
// in the report window once it is shown ("save=PATH", "ignore", "escape",
// "end", "close"; "hold" leaves it open). With it set, the window's contents
// and every message box are printed to the standard error, and message
// boxes close by themselves.

#include "crash/CrashProtocol.h"

#include <QString>
#include <QStringList>

#include <memory>
#include <string>

class QApplication;
class TVCLExceptionInfoForm;

class CrashServer {
public:
    CrashServer(int fd, int& argc, char** argv);
    ~CrashServer();

    // Serves until the program closes the socket; the exit code.
    int Run();

private:
    // One request and its answer socket; false when the program is gone.
    bool Receive(crash::CrashRequest& request, int& answerFd);
    void Handle(const crash::CrashRequest& request, int answerFd);
    bool EnsureApplication();
    void ShowUnrecoverableBox();
    crash::CrashAnswer ShowWindow(int answerFd);
    void RunTestSteps();

    int fd_;
    int& argc_;
    char** argv_;
    bool closed_ = false;
    bool testing_ = false;
    QStringList steps_;
    std::unique_ptr<QApplication> application_;
    std::unique_ptr<TVCLExceptionInfoForm> window_; // made at the first fault and kept
};
