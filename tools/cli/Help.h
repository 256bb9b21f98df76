#pragma once
// The help of ulmora-cli: the whole tool's and each command's.

namespace cli {

struct CommandInfo;

void PrintToolHelp();
void PrintCommandHelp(const CommandInfo& command);

} // namespace cli
