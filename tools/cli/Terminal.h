#pragma once
// What the core needs of a terminal: the view of a storage load, the
// progress bar of long operations, the answers to questions, and Ctrl-C as
// the Abort button.

#include "browse/StorageConnection.h"
#include "log/Boxes.h"
#include "log/Operation.h"

#include <chrono>
#include <string>

namespace cli {

// Ctrl-C sets a pending abort that the running operation takes at its next
// plate; a second Ctrl-C ends the program at once.
void InstallInterruptHandler();
// Ctrl-C was pressed during this run.
bool Interrupted();

// The progress bar on standard error: "Processed: N of M" in a progress text
// becomes done, total, rate and time left; "Processed: N" (a run whose total
// is known only at its end) and "Items found: N" a count and rate. Nothing
// is drawn when standard error is no terminal or the bar is turned off.
class TerminalProgress : public Operation {
public:
    explicit TerminalProgress(bool enabled);

protected:
    void ShowText(const std::string& text) override;
    void End() override;
    void ApplyAbortable(bool) override {}
    bool TakeAborted() override;

private:
    void Draw(const std::string& line);

    bool enabled_;
    bool drawn_ = false;
    bool started_ = false;
    std::chrono::steady_clock::time_point start_;
};

// Questions on the terminal. Without a terminal every question is answered
// No (or Cancel) and said so on standard error; `assumeYes` answers the
// yes/no questions Yes. After Ctrl-C an abort question ("Abort ...?") is
// answered Yes: the key was the answer.
class TerminalBoxes : public BoxPresenter {
public:
    explicit TerminalBoxes(bool assumeYes) : assumeYes_(assumeYes) {}
    void ShowError(BoxOwner owner, const std::string& caption, const std::string& text) override;
    Answer Ask(BoxOwner owner, const std::string& caption, const std::string& text, Buttons buttons,
               bool withCheckBox) override;
    void ShowFatal(const std::string& caption, const std::string& text) override;

private:
    bool assumeYes_;
};

// The text on one line: line breaks become blanks.
std::string OneLine(std::string text);

} // namespace cli
