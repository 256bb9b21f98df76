#include "app/Data.h"
#include "app/MainForm.h"
#include "log/QtBoxPresenter.h"

#include <QApplication>

#include <string>
#include <vector>

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    QtBoxPresenter boxes;
    SetBoxPresenter(&boxes);

    std::vector<std::string> arguments(argv, argv + argc);
    int code = 0;
    {
        TData data;
        TMainForm mainForm(arguments);
        mainForm.show();
        code = application.exec();
    }
    SetBoxPresenter(nullptr);
    return code;
}
