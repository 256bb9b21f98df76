// The real program's window with the crash reporter, offscreen, wired as the
// program is (crash::GuardCommands): crash_app_victim HELPER FOLDER PLUGIN
// MODE; the log is FOLDER/u.log, the configuration FOLDER/u.hcfg.
//
// MODE "preview": PLUGIN faults in GetPlateData whenever it is called; a
// click on a plate faults, and after the ignored fault the storage loads
// again.
//
// MODE "Enumerate", "GetPlateData", "Delete", "Move" or "Broken": PLUGIN is
// the test plugin, made to fault once in that call while a long command runs
// with its progress window up: the scan of the load, an export, a deletion,
// an export with Move (whose deletions fault), the check for broken plates
// (whose reading faults). Whatever the crash window answers, the
// victim then checks that the program is as usable as after any failed
// command, logs what it found ("Check ...: 1" for each check that held), uses
// the window again and leaves through Files -> Exit; FOLDER/saved.txt then
// holds what the configuration file kept of a change made before the fault.
//
// MODE "Close", "FreeAction" or "Shutdown": the test plugin faults once in
// that call while Files -> Exit releases the storage; the end goes on.
#include "ScriptedBoxes.h"
#include "app/Application.h"
#include "app/Data.h"
#include "app/MainForm.h"
#include "config/ConfigItem.h"
#include "config/TreeConfig.h"
#include "crash/CrashHandler.h"
#include "log/DiagnosticLog.h"
#include "log/Log.h"
#include "log/LongOperationForm.h"
#include "plates/AskExportForm.h"
#include "test_plugin_control.h"
#include "widgets/BkList.h"

#include <QAction>
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>

#include <dlfcn.h>

#include <cstdio>
#include <fstream>
#include <string>

namespace {

constexpr int kPlates = 6;

int Preview(TMainForm& window, ScriptedBoxes& boxes)
{
    QTest::mouseClick(window.btnLoad, Qt::LeftButton);
    if (window.list->ItemsCount() != 1)
        return 6;
    // The preview asks the plugin for the plate's data: the fault.
    QTest::mouseClick(window.list->viewport(), Qt::LeftButton, {}, window.list->ItemRect(0).center());
    Log("After the preview");
    // The plugin's state is unknown after its fault: its storage was let go.
    Log("Check released: %d", window.StorageLoaded() ? 0 : 1);
    QTest::mouseClick(window.btnLoad, Qt::LeftButton);
    Log("Loaded again: %d plates", window.list->ItemsCount());
    return window.list->ItemsCount() == 1 && boxes.shown.empty() ? 0 : 7;
}

void Check(const char* what, bool held) { Log("Check %s: %d", what, held ? 1 : 0); }

// Files -> Exit, which ends the program: its exit code, or 9 when it does not end.
int Exit(Application& application, TMainForm& window)
{
    QTimer::singleShot(0, window.mnuExit, [&window] { window.mnuExit->trigger(); });
    QTimer::singleShot(5000, &application, [&application] {
        Log("Exit did not end the program");
        application.exit(9);
    });
    return application.exec();
}

// Runs the long command of `mode`, in which the plugin faults once.
void RunFaultingCommand(TMainForm& window, ScriptedBoxes& boxes, TestPluginControl& plugin, const std::string& mode,
                        const std::string& folder)
{
    const char* call = mode == "Move" ? "Delete" : mode == "Broken" ? "GetPlateData" : mode.c_str();
    std::snprintf(plugin.faultIn, sizeof plugin.faultIn, "%s", call);
    plugin.faultAfter = 2; // two plates go through first: the progress window is up by then
    plugin.faultCalls = 0;
    // The first progress text comes once 400 ms have passed since the last one.
    QTest::qWait(450);
    if (mode == "Enumerate") {
        QTest::mouseClick(window.btnLoad, Qt::LeftButton);
        return;
    }
    if (mode == "Broken") {
        window.B1->trigger();
        return;
    }
    window.list->SelectAll();
    if (mode == "Delete") {
        boxes.Reply(BoxYes);
        QTest::mouseClick(window.btnDelete, Qt::LeftButton);
        return;
    }
    QTimer::singleShot(0, [&] {
        auto* dialog = qobject_cast<TAskExportForm*>(QApplication::activeModalWidget());
        if (dialog == nullptr)
            return;
        dialog->edtBasePath->setText(QString::fromStdString(folder + "/out"));
        dialog->chOverItems[1]->setChecked(true);
        dialog->chMove->setChecked(mode == "Move");
        QTest::mouseClick(dialog->btnOk, Qt::LeftButton);
    });
    QTest::mouseClick(window.btnExport, Qt::LeftButton);
}

int FaultInLongCommand(Application& application, TMainForm& window, ScriptedBoxes& boxes, const std::string& plugin,
                       const std::string& mode, const std::string& folder)
{
    void* library = dlopen(plugin.c_str(), RTLD_NOW | RTLD_NOLOAD);
    auto state = library != nullptr ? reinterpret_cast<TestPluginStateFn>(dlsym(library, "TestPluginState")) : nullptr;
    if (state == nullptr)
        return 8;
    TestPluginControl& control = *state();
    control.plateCount = kPlates;
    if (mode != "Enumerate") {
        QTest::mouseClick(window.btnLoad, Qt::LeftButton);
        if (window.list->ItemsCount() != kPlates)
            return 6;
    }
    // A change of the configuration that a clean end saves.
    window.Link()->WriteString("Victim/Mark", mode);
    if (mode == "Close" || mode == "FreeAction" || mode == "Shutdown") {
        std::snprintf(control.faultIn, sizeof control.faultIn, "%s", mode.c_str());
        control.faultAfter = 0;
        control.faultCalls = 0;
        return Exit(application, window);
    }

    RunFaultingCommand(window, boxes, control, mode, folder);
    Log("After the command");
    Check("fault fired", control.faults == 1);
    Check("progress window gone", LongOperationForm::Instance() == nullptr);
    Check("no modal window", QApplication::activeModalWidget() == nullptr);
    Check("list updates ended", window.list->UpdateCount() == 0);
    Check("load button enabled", window.btnLoad->isEnabled());

    // A later command works, by input as the user gives it: load the storage
    // (release it first where the reload kept it).
    if (window.StorageLoaded())
        QTest::mouseClick(window.btnLoad, Qt::LeftButton);
    QTest::mouseClick(window.btnLoad, Qt::LeftButton);
    Check("later load lists the plates", window.list->ItemsCount() == kPlates);
    window.list->SelectAll();
    Check("selection painted", window.list->SelectedCount() == kPlates && window.list->UpdateCount() == 0);
    // Ignoring a fault ends the command silently: the only box is the deletion's question.
    Check("no box", boxes.shown.size() == (mode == "Delete" ? 1u : 0u));

    return Exit(application, window);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 5)
        return 2;
    const std::string folder = argv[2];
    const std::string plugin = argv[3];
    const std::string mode = argv[4];
    crash::InstallOptions options;
    options.helperPath = argv[1];
    if (!crash::Install(options))
        return 3;
    crash::GuardCommands();
    Application application(argc, argv);
    ScriptedBoxes boxes;

    const std::string storage = folder + "/storage.db";
    const std::string config = folder + "/u.hcfg";
    std::ofstream(storage).put('\n');
    {
        TreeConfig tree;
        ConfigItem* ide = tree.Root()->Item("IDE");
        ide->WriteInt("Plugins/Count", 1);
        ide->WriteString("Plugins/Item0", plugin);
        ide->WriteInt("LastUsedPlugin", 0);
        ide->WriteString("LastUsedData", storage);
        if (!tree.Save(config))
            return 4;
    }

    int code = 0;
    {
        TData data;
        TMainForm window({"ulmora", "-CFG=" + config, "-LOG=" + folder + "/u.log"});
        crash::SetLogFile(CurrentLogFilePath());
        window.show();
        if (!QTest::qWaitForWindowExposed(&window))
            return 5;
        if (mode == "preview") {
            code = Preview(window, boxes);
            window.close();
            return code;
        }
        code = FaultInLongCommand(application, window, boxes, plugin, mode, folder);
    }
    // What the clean end saved.
    TreeConfig saved;
    const bool loaded = saved.Load(config);
    std::ofstream(folder + "/saved.txt")
        << (loaded ? saved.Root()->Item("IDE")->ReadString("Victim/Mark", "") : std::string("unreadable"));
    return code;
}
