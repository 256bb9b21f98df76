// ulmora-crash --crash-helper FD: serves the crash reports of the program
// that started it, on the socket FD, until that program ends.
#include "CrashServer.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv)
{
    if (argc != 3 || std::strcmp(argv[1], "--crash-helper") != 0) {
        std::fprintf(stderr, "ulmora-crash is started by Ulmora's crash reporter, not by hand.\n");
        return 2;
    }
    CrashServer server(std::atoi(argv[2]), argc, argv);
    return server.Run();
}
