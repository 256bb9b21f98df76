#pragma once
// The boxes as Qt dialogs.

#include "log/Boxes.h"

class QtBoxPresenter : public BoxPresenter {
public:
    void ShowError(BoxOwner owner, const std::string& caption, const std::string& text) override;
    Answer Ask(BoxOwner owner, const std::string& caption, const std::string& text, Buttons buttons,
               bool withCheckBox) override;
    void ShowFatal(const std::string& caption, const std::string& text) override;

};
