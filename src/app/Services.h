#pragma once
// The program-wide services: the log call's target, the one long-operation
// reporter and its 400 ms throttle, and the placement of the configuration
// and log files. They exist from StartServices to StopServices.

#include <string>
#include <vector>

class CfgStorage;
class LogComboBox;
class Operation;
class PRPeriod;
class QWidget;

inline constexpr unsigned kProgressPeriodMs = 400;

// `arguments` is the command line, the program first; the switches CFG and
// LOG in it place the two files.
void StartServices(QWidget* mainWindow, LogComboBox* logWindow, CfgStorage* cfg,
                   const std::vector<std::string>& arguments);
void StopServices();

// Null outside StartServices..StopServices.
Operation* ProgramOperation();
PRPeriod* ProgramPeriod();

// The four lines the log starts with.
void WriteLogHeader();
