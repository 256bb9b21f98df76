// A program run of its own: writes each argument after the first as a
// message to the log file named by the first.
#include "log/DiagnosticLog.h"

int main(int argc, char** argv)
{
    for (int i = 2; i < argc; ++i)
        WriteLogFile(argv[1], "%s", argv[i]);
    return 0;
}
