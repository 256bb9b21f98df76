#include "base/Command.h"

#include <atomic>

namespace {
std::atomic<CommandGuard> installed{nullptr};
std::atomic<CommandGuard> foreignGuard{nullptr};
} // namespace

CommandGuard SetCommandGuard(CommandGuard guard) { return installed.exchange(guard); }
CommandGuard CurrentCommandGuard() { return installed.load(); }

CommandGuard SetForeignCallGuard(CommandGuard guard) { return foreignGuard.exchange(guard); }
CommandGuard CurrentForeignCallGuard() { return foreignGuard.load(); }
