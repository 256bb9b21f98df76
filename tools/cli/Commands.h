#pragma once
// The commands of ulmora-cli: each one's name, arguments, options and help,
// and the function that runs it. Each command group lives in a file of its
// own (InfoCommand.cpp, CopyCommand.cpp, ...); they share Context.h.

#include <string>
#include <vector>

class StorageAction;

namespace cli {

struct Context;
using CommandFunction = int (*)(Context& context);

struct CommandInfo {
    const char* name;
    const char* arguments; // the positional arguments, for the usage line
    int argumentCount;
    const char* summary;
    const char* description;
    std::vector<const char*> options; // beyond the common ones
    const char* optionsHelp;
    CommandFunction run;
};

// Every command, in the order the help lists them.
const std::vector<CommandInfo>& Commands();
// Null when there is no command of that name.
const CommandInfo* FindCommand(const std::string& name);

// The commands; each answers the program's exit code.
int Info(Context& context);
int List(Context& context);
int Verify(Context& context);
int Copy(Context& context);
int Export(Context& context);
int Delete(Context& context);
int Meta(Context& context);
int Compact(Context& context);

// Checks the container of `storage` through its plugin's container
// extension (CompactCommand.cpp) and prints what it finds, one line each;
// `damaged` says whether it found any problem or could not check at all. A
// storage without a container of its own (a folder) is sound. Answers an
// exit code: kExitDone when the check ran.
int CheckContainerOf(Context& context, const std::string& storage, bool* damaged);

// The storage's metadata as info shows it (MetaCommand.cpp): lines of text,
// or a JSON value (an object; null when the plugin cannot read it).
std::string MetadataReport(StorageAction& action, bool json);
// Copies the source's metadata keys that the target lacks, when both are of
// one format and the target can hold them (MetaCommand.cpp). Failures are
// said and logged; they fail no copy.
void CopyMetadata(Context& context, StorageAction& from, StorageAction& into);
int ListPlugins(Context& context);

} // namespace cli
