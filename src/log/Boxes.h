#pragma once
// Error boxes and yes/no questions. The core asks through BoxPresenter; the
// Qt shell shows real dialogs and tests answer from a script.

#include <string>

// Button results, as the questions return them.
enum BoxResult : int { BoxCancel = 2, BoxYes = 6, BoxNo = 7 };

// A window of the GUI that owns a box, opaque to the core; null means the
// program's main window.
using BoxOwner = void*;

inline constexpr const char* kErrorCaption = "Error...";
inline constexpr const char* kFatalCaption = "Programm aborted:";
inline constexpr const char* kYesText = "&Yes";
inline constexpr const char* kNoText = "&No";
inline constexpr const char* kCancelText = "Cancel";
inline constexpr const char* kOkText = "OK";
inline constexpr const char* kDontTellText = "Don't tell me again";

class BoxPresenter {
public:
    // YesNoDefaultNo: Yes and No with No as the default button.
    enum class Buttons { YesNo, YesNoCancel, YesNoDefaultNo };
    struct Answer {
        int button = BoxCancel; // BoxYes, BoxNo or BoxCancel (also: the box was closed)
        bool checked = false;   // the check box was ticked
    };

    virtual ~BoxPresenter() = default;
    // The standard error box: caption, text, error icon and one OK button.
    virtual void ShowError(BoxOwner owner, const std::string& caption, const std::string& text) = 0;
    // The program's question box with the question icon and sound; it carries
    // the check box kDontTellText when `withCheckBox`.
    virtual Answer Ask(BoxOwner owner, const std::string& caption, const std::string& text,
                       Buttons buttons, bool withCheckBox) = 0;
    // The box of a fatal error, shown just before the process ends.
    virtual void ShowFatal(const std::string& caption, const std::string& text) = 0;
};

// The presenter the boxes use; null (the default) writes errors to stderr and
// answers every question with No or Cancel.
void SetBoxPresenter(BoxPresenter* presenter);
BoxPresenter* GetBoxPresenter();

// Shows `text` in an error box without logging it.
void ShowErrorBox(BoxOwner owner, const std::string& text);

// Logs the message, then shows it in an error box.
void ErrorBox(BoxOwner owner, const char* format, ...) __attribute__((format(printf, 2, 3)));

// `answerSticks`, when given, belongs to the caller: 0 means the user ticked
// the check box and answered yes earlier, so the answer is yes without a box.
// The thread's last error is the same after the call.
bool AskYesNo(BoxOwner owner, int* answerSticks, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

// Yes or No with No as the default button, for questions whose Yes makes
// something the user may not have meant; no check box.
bool AskYesNoDefaultNo(BoxOwner owner, const char* format, ...) __attribute__((format(printf, 2, 3)));

// `remembered`, when given, belongs to the caller: BoxYes or BoxNo there is
// returned at once; a ticked check box stores the answer there.
int AskYesNoCancel(BoxOwner owner, int* remembered, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

// Shows the message (with "\nStdError: " and the current error's text when
// there is one) and ends the process with exit code 1. A null format shows
// nothing.
[[noreturn]] void FatalError(const char* format, ...) __attribute__((format(printf, 1, 2)));

// A function FatalError runs once before its box; returns the previous one.
using FatalHook = void (*)();
FatalHook SetFatalHook(FatalHook hook);
