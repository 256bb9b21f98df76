#pragma once
// A BoxPresenter for tests: questions are answered from a script, and every
// box shown is recorded.

#include "log/Boxes.h"

#include <deque>
#include <string>
#include <vector>

class ScriptedBoxes : public BoxPresenter {
public:
    struct Shown {
        std::string kind; // "error", "ask" or "fatal"
        std::string caption;
        std::string text;
        bool withCheckBox = false;
        Buttons buttons = Buttons::YesNo;
    };

    ScriptedBoxes() { previous_ = GetBoxPresenter(); SetBoxPresenter(this); }
    ~ScriptedBoxes() override { SetBoxPresenter(previous_); }

    // The next question is answered with this button, and the check box ticked or not.
    void Reply(int button, bool checked = false) { answers_.push_back({button, checked}); }

    void ShowError(BoxOwner, const std::string& caption, const std::string& text) override
    {
        shown.push_back({"error", caption, text});
    }
    BoxPresenter::Answer Ask(BoxOwner, const std::string& caption, const std::string& text,
                             Buttons buttons, bool withCheckBox) override
    {
        shown.push_back({"ask", caption, text, withCheckBox, buttons});
        if (answers_.empty()) {
            unanswered++;
            return {BoxCancel, false};
        }
        BoxPresenter::Answer answer = answers_.front();
        answers_.pop_front();
        return answer;
    }
    void ShowFatal(const std::string& caption, const std::string& text) override
    {
        shown.push_back({"fatal", caption, text});
    }

    std::vector<Shown> shown;
    int unanswered = 0; // questions asked beyond the script

private:
    std::deque<BoxPresenter::Answer> answers_;
    BoxPresenter* previous_ = nullptr;
};
