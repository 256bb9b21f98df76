// The real program's window with the crash reporter, offscreen: loads a
// storage through a plugin that faults in GetPlateData, clicks a plate (the
// preview faults), and after an ignored fault releases and loads the storage
// again. crash_app_victim HELPER FOLDER PLUGIN; the log is FOLDER/u.log.
#include "ScriptedBoxes.h"
#include "app/Application.h"
#include "app/Data.h"
#include "app/MainForm.h"
#include "config/ConfigItem.h"
#include "config/TreeConfig.h"
#include "crash/CrashHandler.h"
#include "log/DiagnosticLog.h"
#include "log/Log.h"
#include "widgets/BkList.h"

#include <QPushButton>
#include <QTest>

#include <fstream>
#include <string>
#include <vector>

int main(int argc, char** argv)
{
    if (argc != 4)
        return 2;
    const std::string folder = argv[2];
    crash::InstallOptions options;
    options.helperPath = argv[1];
    if (!crash::Install(options))
        return 3;
    Application application(argc, argv);
    ScriptedBoxes boxes;

    const std::string storage = folder + "/storage.db";
    std::ofstream(storage).put('\n');
    TreeConfig tree;
    ConfigItem* ide = tree.Root()->Item("IDE");
    ide->WriteInt("Plugins/Count", 1);
    ide->WriteString("Plugins/Item0", argv[3]);
    ide->WriteInt("LastUsedPlugin", 0);
    ide->WriteString("LastUsedData", storage);
    if (!tree.Save(folder + "/u.hcfg"))
        return 4;

    int code = 0;
    {
        TData data;
        TMainForm window({"ulmora", "-CFG=" + folder + "/u.hcfg", "-LOG=" + folder + "/u.log"});
        crash::SetLogFile(CurrentLogFilePath());
        window.show();
        if (!QTest::qWaitForWindowExposed(&window))
            return 5;
        QTest::mouseClick(window.btnLoad, Qt::LeftButton);
        if (window.list->ItemsCount() != 1)
            return 6;
        // The preview asks the plugin for the plate's data: the fault.
        QTest::mouseClick(window.list->viewport(), Qt::LeftButton, {}, window.list->ItemRect(0).center());
        Log("After the preview");
        // The program goes on: release the storage and load it again.
        QTest::mouseClick(window.btnLoad, Qt::LeftButton);
        QTest::mouseClick(window.btnLoad, Qt::LeftButton);
        Log("Loaded again: %d plates", window.list->ItemsCount());
        code = window.list->ItemsCount() == 1 && boxes.shown.empty() ? 0 : 7;
        window.close();
    }
    return code;
}
