#pragma once
// The command line of ulmora-cli: what was asked, and the parsing of it.

#include "PlateFilter.h"

#include <string>
#include <vector>

namespace cli {

struct Options {
    std::string command;
    std::vector<std::string> arguments;
    std::vector<std::string> given; // the options given, for the per-command check
    std::string plugin;
    std::string targetPlugin;
    std::string log;
    std::string layout;
    std::string existing = "ask";
    std::string formats = "sample";
    std::string namesOut;
    std::string coverage; // info: the coverage picture's file
    std::string chart;    // info: the per-level chart's file
    bool json = false;
    bool quiet = false;
    bool verbose = false;
    bool dryRun = false;
    bool yes = false;
    bool move = false;
    bool help = false;
    bool version = false;
    int threads = 0;
    PlateFilter filter;
};

// Reads the command line into `options`; kExitDone, or kExitUsage after
// saying what is wrong. The command's own arguments are checked here too.
int Parse(int argc, char** argv, Options* options);

// Prints a usage error and the help to try; answers kExitUsage.
int Usage(const std::string& text, const char* command = nullptr);

} // namespace cli
