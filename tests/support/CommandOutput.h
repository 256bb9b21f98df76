#pragma once
// What a shell command prints, for tests that ask other programs (sqlite3,
// GDAL's tools) about the files the program wrote.

#include <sys/wait.h>

#include <cstdio>
#include <string>

// The standard output of `command`, a shell command line; `status`, when
// given, gets its exit code (-1: it could not run, or a signal ended it).
inline std::string CommandOutput(const std::string& command, int* status = nullptr)
{
    std::string output;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe != nullptr) {
        char buffer[4096];
        std::size_t n;
        while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0)
            output.append(buffer, n);
    }
    const int code = pipe != nullptr ? pclose(pipe) : -1;
    if (status != nullptr)
        *status = code != -1 && WIFEXITED(code) ? WEXITSTATUS(code) : -1;
    return output;
}
