#pragma once
// What the tests of ulmora-cli share: a word for the shell, a run of the tool
// with its output kept in the test's folder, and a question to sqlite3. The
// test that includes it defines CLI_TOOL, the tool's path.

#include "CommandOutput.h"
#include "TempFolder.h"

#include <sys/wait.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace cli_test {

// `text` as one word of the shell, whatever it holds.
inline std::string Quote(const std::string& text)
{
    std::string quoted = "'";
    for (char c : text)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

struct Outcome {
    int code = -1; // the exit code; -1: ended by a signal
    std::string out;
    std::string err;
};

// Runs the tool with `arguments` and the `environment` settings
// (NAME=VALUE), without input, its output kept in the folder's files
// "stdout" and "stderr".
inline Outcome RunCli(const TempFolder& folder, const std::vector<std::string>& arguments,
                      const std::vector<std::string>& environment = {})
{
    std::string command = "env";
    for (const std::string& setting : environment)
        command += " " + Quote(setting);
    command += " " + Quote(CLI_TOOL);
    for (const std::string& argument : arguments)
        command += " " + Quote(argument);
    const int status = std::system((command + " >" + Quote(folder.File("stdout")) + " 2>" +
                                    Quote(folder.File("stderr")) + " </dev/null").c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadWholeFile(folder.File("stdout")),
            ReadWholeFile(folder.File("stderr"))};
}

// What the sqlite3 shell prints for `sql` on `database`.
inline std::string Sql(const std::string& database, const std::string& sql)
{
    return CommandOutput("sqlite3 -batch " + Quote(database) + " " + Quote(sql));
}

} // namespace cli_test
