#include "app/Services.h"

#include "app/CommandLine.h"
#include "base/Text.h"
#include "base/Translate.h"
#include "config/CfgStorage.h"
#include "log/DiagnosticLog.h"
#include "log/Log.h"
#include "log/LogComboBox.h"
#include "log/LongOperationForm.h"
#include "platform/FileInfo.h"
#include "platform/Process.h"

#include <memory>

namespace {

LogComboBox* logTarget = nullptr;
std::unique_ptr<PRPeriod> period;
std::unique_ptr<QtOperation> operation;
LogFileProvider previousProvider = nullptr;

std::string TargetLogFile() { return logTarget != nullptr ? logTarget->LogFile() : std::string(); }

constexpr const char* kDashes = "------------------------------------------";

} // namespace

Operation* ProgramOperation() { return operation.get(); }
PRPeriod* ProgramPeriod() { return period.get(); }

void WriteLogHeader()
{
    Log("%s", kDashes);
    const std::string program = platform::ExecutablePath();
    Log(Translate("Programm: %s"), program.c_str());
    if (auto made = platform::FileCreationTime(program)) {
        const std::string when = Format("%02d-%02d-%04d %02d:%02d:%02d", made->day, made->month, made->year,
                                        made->hour, made->minute, made->second);
        Log(Translate("Vesion: %s"), when.c_str());
    } else {
        Log("%s", Translate("Version: Error getting programm version!"));
    }
    Log("%s", kDashes);
}

void StartServices(QWidget*, LogComboBox* logWindow, CfgStorage* cfg, const std::vector<std::string>& arguments)
{
    logTarget = logWindow;
    if (logWindow != nullptr)
        SetLogTarget([logWindow](const std::string& line) { logWindow->AddLog("%s", line.c_str()); });
    period = std::make_unique<PRPeriod>(kProgressPeriodMs);
    operation = std::make_unique<QtOperation>();
    if (cfg != nullptr)
        cfg->SetFileName(ResolveFilePath(arguments, kConfigSwitch, cfg->FileName()));
    if (logWindow != nullptr) {
        logWindow->SetLogFile(ResolveFilePath(arguments, kLogSwitch, logWindow->LogFile()));
        logWindow->EnsureWindow();
    }
    previousProvider = SetLogFileProvider(&TargetLogFile);
    WriteLogHeader();
}

void StopServices()
{
    Log("%s", Translate("Shutting down..."));
    SetLogTarget({});
    logTarget = nullptr;
    period.reset();
    operation.reset();
    SetLogFileProvider(previousProvider);
    previousProvider = nullptr;
}
