#include "Terminal.h"

#include "base/Translate.h"

#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <iostream>

namespace cli {

namespace {

volatile sig_atomic_t gPending = 0;
volatile sig_atomic_t gPresses = 0;

void OnInterrupt(int)
{
    gPresses = gPresses + 1;
    if (gPresses >= 2) {
        // The second press: the user does not want to wait for the plate.
        signal(SIGINT, SIG_DFL);
        raise(SIGINT);
        return;
    }
    gPending = 1;
}

std::string Duration(double seconds)
{
    const long total = seconds < 0 ? 0 : static_cast<long>(seconds + 0.5);
    char text[32];
    if (total >= 3600)
        std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", total / 3600, total / 60 % 60, total % 60);
    else
        std::snprintf(text, sizeof text, "%ld:%02ld", total / 60, total % 60);
    return text;
}

} // namespace

void InstallInterruptHandler()
{
    struct sigaction action {};
    action.sa_handler = &OnInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
}

bool Interrupted() { return gPresses > 0; }

std::string OneLine(std::string text)
{
    for (char& c : text)
        if (c == '\n' || c == '\r')
            c = ' ';
    return text;
}

TerminalProgress::TerminalProgress(bool enabled) : enabled_(enabled && isatty(STDERR_FILENO) != 0) {}

bool TerminalProgress::TakeAborted()
{
    if (gPending == 0)
        return false;
    gPending = 0;
    return true;
}

void TerminalProgress::ShowText(const std::string& text)
{
    if (!enabled_)
        return;
    const auto now = std::chrono::steady_clock::now();
    if (!started_) {
        started_ = true;
        start_ = now;
    }
    const double seconds = std::chrono::duration<double>(now - start_).count();
    char line[160];
    long done = 0;
    long total = 0;
    if (const char* processed = std::strstr(text.c_str(), "Processed: ");
        processed != nullptr && std::sscanf(processed, "Processed: %ld of %ld", &done, &total) == 2 && total > 0) {
        const double rate = seconds > 0 ? done / seconds : 0;
        const int width = 24;
        const int filled = static_cast<int>(static_cast<double>(width) * done / total);
        std::string bar(static_cast<std::size_t>(std::min(filled, width)), '#');
        bar.resize(width, '.');
        const std::string left = rate > 0 ? Duration(static_cast<double>(total - done) / rate) : "?";
        std::snprintf(line, sizeof line, "[%s] %ld/%ld %3d%% %.0f/s left %s", bar.c_str(), done, total,
                      static_cast<int>(100.0 * done / total), rate, left.c_str());
    } else if (processed != nullptr && std::sscanf(processed, "Processed: %ld", &done) == 1) {
        // A run whose number of plates is known only at its end.
        std::snprintf(line, sizeof line, "%ld plates, %.0f/s", done, seconds > 0 ? done / seconds : 0.0);
    } else if (const char* found = std::strstr(text.c_str(), "Items found: ");
               found != nullptr && std::sscanf(found, "Items found: %ld", &done) == 1) {
        std::snprintf(line, sizeof line, "listing: %ld plates, %.0f/s", done, seconds > 0 ? done / seconds : 0.0);
    } else {
        const std::size_t cut = text.find('\n');
        std::snprintf(line, sizeof line, "%s", text.substr(0, cut).c_str());
    }
    Draw(line);
}

void TerminalProgress::Draw(const std::string& line)
{
    std::fprintf(stderr, "\r\033[K%s", line.c_str());
    std::fflush(stderr);
    drawn_ = true;
}

void TerminalProgress::End()
{
    if (drawn_) {
        std::fputs("\r\033[K", stderr);
        std::fflush(stderr);
    }
    drawn_ = false;
    started_ = false;
}

void TerminalBoxes::ShowError(BoxOwner, const std::string&, const std::string& text)
{
    std::fprintf(stderr, "ulmora-cli: %s\n", OneLine(text).c_str());
}

void TerminalBoxes::ShowFatal(const std::string& caption, const std::string& text)
{
    std::fprintf(stderr, "ulmora-cli: %s %s\n", caption.c_str(), OneLine(text).c_str());
}

BoxPresenter::Answer TerminalBoxes::Ask(BoxOwner, const std::string&, const std::string& text, Buttons buttons,
                                        bool withCheckBox)
{
    const bool cancel = buttons == Buttons::YesNoCancel;
    if (Interrupted() && text.rfind(Translate("Abort"), 0) == 0)
        return {BoxYes, false};
    if (assumeYes_ && !cancel)
        return {BoxYes, false};
    const bool interactive = isatty(STDIN_FILENO) != 0 && isatty(STDERR_FILENO) != 0;
    if (!interactive) {
        std::fprintf(stderr, "ulmora-cli: %s - no terminal to answer: %s\n", OneLine(text).c_str(),
                     cancel ? "Cancel" : "No");
        return {cancel ? BoxCancel : BoxNo, false};
    }
    std::string prompt = cancel ? "[y]es, [n]o, [c]ancel" : "[y]es, [n]o";
    if (withCheckBox)
        prompt += ", [Y]es or [N]o to all";
    for (;;) {
        std::fprintf(stderr, "\r\033[K%s (%s) ", OneLine(text).c_str(), prompt.c_str());
        std::fflush(stderr);
        std::string reply;
        if (!std::getline(std::cin, reply))
            return {cancel ? BoxCancel : BoxNo, false};
        if (reply == "y" || reply == "yes")
            return {BoxYes, false};
        if (reply == "n" || reply == "no")
            return {BoxNo, false};
        if (withCheckBox && reply == "Y")
            return {BoxYes, true};
        if (withCheckBox && reply == "N")
            return {BoxNo, true};
        if (cancel && (reply == "c" || reply == "cancel"))
            return {BoxCancel, false};
    }
}

} // namespace cli
