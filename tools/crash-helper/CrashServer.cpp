#include "CrashServer.h"

#include "crash/CrashHandler.h"
#include "crash/ReportText.h"
#include "crash/StackWalk.h"
#include "crash/VCLExceptionInfoForm.h"
#include "widgets/BkList.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSocketNotifier>
#include <QTimer>

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

using crash::CrashAnswer;
using crash::CrashRequest;

namespace {

void Send(int fd, char kind, const std::string& text)
{
    std::string message(1, kind);
    message.append(text, 0, std::min<std::size_t>(text.size(), crash::kMaxMessage - 1));
    while (send(fd, message.data(), message.size(), MSG_NOSIGNAL) < 0 && errno == EINTR) {
    }
}

void Answer(int fd, CrashAnswer answer) { Send(fd, crash::kAnswerMessage, std::string(1, static_cast<char>(answer))); }

void PrintTest(const QString& line) { std::fprintf(stderr, "crash-helper: %s\n", line.toUtf8().constData()); }

} // namespace

CrashServer::CrashServer(int fd, int& argc, char** argv) : fd_(fd), argc_(argc), argv_(argv)
{
    const QString script = qEnvironmentVariable("ULMORA_CRASH_TEST_WINDOW");
    testing_ = qEnvironmentVariableIsSet("ULMORA_CRASH_TEST_WINDOW");
    steps_ = script.split(',', Qt::SkipEmptyParts);
}

CrashServer::~CrashServer()
{
    window_.reset();
    application_.reset();
}

int CrashServer::Run()
{
    while (!closed_) {
        CrashRequest request;
        int answerFd = -1;
        if (!Receive(request, answerFd))
            break;
        Handle(request, answerFd);
    }
    return 0;
}

bool CrashServer::Receive(CrashRequest& request, int& answerFd)
{
    while (true) {
        iovec part{&request, sizeof request};
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
        msghdr message{};
        message.msg_iov = &part;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        ssize_t got = recvmsg(fd_, &message, MSG_CMSG_CLOEXEC);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            closed_ = true;
            return false;
        }
        answerFd = -1;
        if (cmsghdr* header = CMSG_FIRSTHDR(&message);
            header != nullptr && header->cmsg_level == SOL_SOCKET && header->cmsg_type == SCM_RIGHTS)
            std::memcpy(&answerFd, CMSG_DATA(header), sizeof(int));
        if (answerFd >= 0 && got == static_cast<ssize_t>(sizeof request) && request.magic == crash::kRequestMagic &&
            request.size == sizeof request)
            return true;
        if (answerFd >= 0)
            close(answerFd); // not a request of this build: the thread gets no answer and goes its way
    }
}

void CrashServer::Handle(const CrashRequest& request, int answerFd)
{
    auto line = [answerFd](const std::string& text) { Send(answerFd, crash::kLineMessage, text); };
    crash::CrashReport report;
    report.request = request;
    crash::WalkStack(report, line);
    if (!report.frames.empty()) {
        line("VCL.Demangling " + std::to_string(report.frames.size()) + " symbols");
        crash::DemangleSymbols(report);
    }
    line("VCL.Write to log file");
    std::vector<std::string> text = crash::ReportTextLines(report, request.options);
    if (request.options & crash::vclxDumpToFile)
        for (const std::string& reportLine : text)
            line(reportLine);

    const bool window = request.showWindow && EnsureApplication();
    if (request.depth >= 2) {
        if (window)
            ShowUnrecoverableBox();
        Answer(answerFd, CrashAnswer::Abort);
    } else if (!window) {
        Answer(answerFd, CrashAnswer::LeaveUnhandled);
    } else {
        line("VCL.ExceptionFilter Show exception dialog");
        if (!window_)
            window_ = std::make_unique<TVCLExceptionInfoForm>();
        window_->Fill(report, std::move(text), request.canIgnore != 0);
        Answer(answerFd, ShowWindow(answerFd));
    }
    close(answerFd);
}

bool CrashServer::EnsureApplication()
{
    if (application_)
        return true;
    // Without any display the window cannot be shown; Qt would end the
    // helper instead of answering.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY") &&
        qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        return false;
    application_ = std::make_unique<QApplication>(argc_, argv_);
    return true;
}

void CrashServer::ShowUnrecoverableBox()
{
    QMessageBox box(QMessageBox::Information, "Unrecoverable error!",
                    "Exception occurs inside exception handler.\nProgramm will be terminated.", QMessageBox::Ok);
    box.setWindowModality(Qt::ApplicationModal);
    if (testing_) {
        PrintTest("box: " + box.windowTitle() + ": " + box.text().replace('\n', ' '));
        QTimer::singleShot(0, &box, [&box] { box.accept(); });
    }
    box.exec();
}

CrashAnswer CrashServer::ShowWindow(int answerFd)
{
    TVCLExceptionInfoForm& window = *window_;
    // Another fault of the program while the window is open is the second
    // nesting level: handled at once, inside the window's loop.
    QSocketNotifier requests(fd_, QSocketNotifier::Read);
    QObject::connect(&requests, &QSocketNotifier::activated, &window, [this, &requests, &window] {
        requests.setEnabled(false);
        CrashRequest nested;
        int nestedFd = -1;
        if (Receive(nested, nestedFd))
            Handle(nested, nestedFd);
        if (closed_)
            window.done(QDialog::Rejected);
        else
            requests.setEnabled(true);
    });
    // The faulting process never writes to its answer socket: readable
    // means it is gone (ended by a nested fault), and so is the question.
    QSocketNotifier gone(answerFd, QSocketNotifier::Read);
    QObject::connect(&gone, &QSocketNotifier::activated, &window, [&window] { window.done(QDialog::Rejected); });
    if (testing_)
        QTimer::singleShot(0, &window, [this] { RunTestSteps(); });
    window.exec();
    switch (window.Answer()) {
    case TVCLExceptionInfoForm::Choice::Ignore:
        return CrashAnswer::Ignore;
    case TVCLExceptionInfoForm::Choice::End:
        return CrashAnswer::End;
    case TVCLExceptionInfoForm::Choice::LeaveUnhandled:
        break;
    }
    return CrashAnswer::LeaveUnhandled;
}

void CrashServer::RunTestSteps()
{
    TVCLExceptionInfoForm& window = *window_;
    PrintTest("window: " + window.windowTitle());
    PrintTest("program: " + window.lblProgram->text());
    PrintTest("type: " + window.lblType->text());
    PrintTest("address: " + window.lblAddress->text());
    PrintTest("operation: " + window.lblOperation->text());
    PrintTest(QString("ignorable: %1").arg(window.btnIgnore->isEnabled() ? 1 : 0));
    for (const QString& row : window.listStack->Items())
        PrintTest("frame: " + QString(row).replace('\t', '|'));
    PrintTest(QString("code lines: %1").arg(window.listCode->ItemsCount()));
    PrintTest(QString("stack words: %1").arg(window.listData->ItemsCount()));
    for (const QString& step : steps_) {
        if (step.startsWith("save=")) {
            const QString path = step.mid(5);
            window.ChooseSaveFile = [path](QWidget*, const QString&) { return path; };
            window.btnSave->click();
        } else if (step == "ignore") {
            window.btnIgnore->click();
        } else if (step == "escape") {
            QKeyEvent press(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
            QApplication::sendEvent(&window, &press);
        } else if (step == "end") {
            window.btnEnd->click();
        } else if (step == "close") {
            window.close();
        }
    }
}
