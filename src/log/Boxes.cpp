#include "log/Boxes.h"

#include "base/Text.h"
#include "base/Translate.h"
#include "log/Errors.h"
#include "log/LastErrorKeeper.h"
#include "log/Log.h"
#include "platform/Process.h"

#include <cstdarg>
#include <cstdio>

namespace {

BoxPresenter* presenter = nullptr;
FatalHook fatalHook = nullptr;

// Caption of the question boxes: the program's full path, as there is no
// caption text of its own.
std::string QuestionCaption() { return platform::ExecutablePath(); }

BoxPresenter::Answer Ask(BoxOwner owner, const std::string& text, BoxPresenter::Buttons buttons,
                         bool withCheckBox)
{
    LastErrorKeeper keep;
    if (presenter == nullptr)
        return BoxPresenter::Answer{buttons == BoxPresenter::Buttons::YesNoCancel ? BoxCancel : BoxNo, false};
    return presenter->Ask(owner, QuestionCaption(), text, buttons, withCheckBox);
}

} // namespace

void SetBoxPresenter(BoxPresenter* newPresenter) { presenter = newPresenter; }
BoxPresenter* GetBoxPresenter() { return presenter; }

void ErrorBox(BoxOwner owner, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    std::string text = FormatV(format, args);
    va_end(args);
    Log("%s", text.c_str());
    ShowErrorBox(owner, text);
}

void ShowErrorBox(BoxOwner owner, const std::string& text)
{
    if (presenter != nullptr)
        presenter->ShowError(owner, Translate(kErrorCaption), text);
    else
        std::fprintf(stderr, "%s: %s\n", kErrorCaption, text.c_str());
}

bool AskYesNo(BoxOwner owner, int* answerSticks, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    std::string text = FormatV(format, args);
    va_end(args);
    if (answerSticks != nullptr && *answerSticks == 0)
        return true;
    BoxPresenter::Answer answer =
        Ask(owner, text, BoxPresenter::Buttons::YesNo, answerSticks != nullptr);
    if (answer.button != BoxYes)
        return false;
    if (answerSticks != nullptr && answer.checked)
        *answerSticks = 0;
    return true;
}

bool AskYesNoDefaultNo(BoxOwner owner, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    std::string text = FormatV(format, args);
    va_end(args);
    return Ask(owner, text, BoxPresenter::Buttons::YesNoDefaultNo, false).button == BoxYes;
}

int AskYesNoCancel(BoxOwner owner, int* remembered, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    std::string text = FormatV(format, args);
    va_end(args);
    if (remembered != nullptr && (*remembered == BoxYes || *remembered == BoxNo))
        return *remembered;
    BoxPresenter::Answer answer =
        Ask(owner, text, BoxPresenter::Buttons::YesNoCancel, remembered != nullptr);
    if (answer.button != BoxYes && answer.button != BoxNo)
        return BoxCancel;
    if (remembered != nullptr && answer.checked)
        *remembered = answer.button;
    return answer.button;
}

void FatalError(const char* format, ...)
{
    const int code = CurrentError();
    if (FatalHook hook = fatalHook) {
        fatalHook = nullptr;
        hook();
    }
    if (format != nullptr) {
        va_list args;
        va_start(args, format);
        std::string text = FormatV(format, args);
        va_end(args);
        text.resize(Utf8CutLength(text, kMaxErrorText));
        if (code != 0) {
            SetLastError(code);
            text += "\nStdError: " + ErrorText(kCurrentError);
            text.resize(Utf8CutLength(text, kMaxErrorText));
        }
        if (presenter != nullptr)
            presenter->ShowFatal(kFatalCaption, text);
        else
            std::fprintf(stderr, "%s %s\n", kFatalCaption, text.c_str());
    }
    platform::ExitProcess(1);
}

FatalHook SetFatalHook(FatalHook hook)
{
    FatalHook previous = fatalHook;
    fatalHook = hook;
    return previous;
}
