#include "base/Command.h"

#include <atomic>

namespace {
std::atomic<CommandGuard> installed{nullptr};
}

CommandGuard SetCommandGuard(CommandGuard guard) { return installed.exchange(guard); }
CommandGuard CurrentCommandGuard() { return installed.load(); }
