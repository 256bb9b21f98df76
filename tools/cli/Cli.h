#pragma once
// ulmora-cli: the storage commands of the window, from a terminal.

namespace cli {

// Exit codes; the help and the README list them.
enum ExitCode : int {
    kExitDone = 0,         // everything asked was done
    kExitPlatesFailed = 1, // some plates failed (verify: broken plates found)
    kExitUsage = 2,        // the command line is wrong
    kExitNoStorage = 3,    // a storage, plugin, decoder or file could not be opened, made or written
    kExitCancelled = 4,    // an answer stopped the run (a declined deletion or export, --existing cancel)
    kExitFault = 5,        // a fault inside the program ended the command
    kExitInterrupted = 130 // Ctrl-C stopped the run; what was done is kept
};

int Run(int argc, char** argv);

} // namespace cli
