// Start-up and shutdown of the program with the shipped plugins registered.
// One run per process (the start-up of a process is what is measured);
// bench/run-startup.sh runs it several times and prints the median.
//
// Prints: exec-to-main, main-to-shown ("OK" logged, window shown), shutdown
// (close to the window destroyed), all in milliseconds.
#include "app/Data.h"
#include "app/MainForm.h"
#include "config/ConfigItem.h"
#include "config/TreeConfig.h"
#include "log/QtBoxPresenter.h"

#include <QApplication>
#include <QComboBox>

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

using Clock = std::chrono::steady_clock;

double Milliseconds(Clock::duration duration)
{
    return std::chrono::duration<double, std::milli>(duration).count();
}

// How long ago, in milliseconds, the kernel started this process.
double SinceProcessStart()
{
    std::ifstream stat("/proc/self/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string field;
    for (int i = 3; i <= 22 && fields >> field; ++i) {
    }
    const double started = std::stod(field) / static_cast<double>(sysconf(_SC_CLK_TCK));
    std::ifstream uptime("/proc/uptime");
    double now = 0;
    uptime >> now;
    return (now - started) * 1000.0;
}

} // namespace

int main(int argc, char** argv)
{
    const double beforeMain = SinceProcessStart();
    const auto mainStart = Clock::now();
    if (argc < 2) {
        std::fprintf(stderr, "usage: startup_bench WORK_DIR\n");
        return 2;
    }
    const std::filesystem::path work = argv[1];
    std::filesystem::create_directories(work);
    const std::string config = (work / "bench.hcfg").string();
    {
        TreeConfig tree;
        ConfigItem* ide = tree.Root()->Item("IDE");
        ide->WriteInt("Plugins/Count", 2);
        ide->WriteString("Plugins/Item0", MBTILES_PLUGIN);
        ide->WriteString("Plugins/Item1", FOLDER_PLUGIN);
        ide->WriteBool("Autosave", true);
        if (!tree.Save(config))
            return 1;
    }

    QApplication application(argc, argv);
    QtBoxPresenter boxes;
    SetBoxPresenter(&boxes);
    std::vector<std::string> arguments = {argv[0], "-CFG=" + config, "-LOG=" + (work / "bench.log").string()};
    double shown = 0;
    double shutdown = 0;
    {
        TData data;
        auto window = std::make_unique<TMainForm>(arguments);
        window->show();
        QApplication::processEvents();
        shown = Milliseconds(Clock::now() - mainStart);
        if (window->cbPlugins->count() != 2) {
            std::fprintf(stderr, "the shipped plugins did not register\n");
            return 1;
        }
        const auto closeStart = Clock::now();
        window->close();
        window.reset();
        shutdown = Milliseconds(Clock::now() - closeStart);
    }
    SetBoxPresenter(nullptr);
    std::printf("exec-to-main %.1f ms, main-to-shown %.1f ms, shutdown %.1f ms\n", beforeMain, shown, shutdown);
    return 0;
}
