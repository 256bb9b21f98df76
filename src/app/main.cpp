#include "app/Application.h"
#include "app/Data.h"
#include "app/MainForm.h"
#include "log/QtBoxPresenter.h"

#include <exception>
#include <string>
#include <vector>

int main(int argc, char** argv)
{
    Application application(argc, argv);
    QtBoxPresenter boxes;
    SetBoxPresenter(&boxes);

    std::vector<std::string> arguments(argv, argv + argc);
    int code = 0;
    try {
        TData data;
        TMainForm mainForm(arguments);
        mainForm.show();
        code = application.exec();
    } catch (const std::exception& error) {
        // Shown like any other failure; the program then ends normally.
        ShowException(error.what());
        code = 0;
    }
    SetBoxPresenter(nullptr);
    return code;
}
