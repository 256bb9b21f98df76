#pragma once
// The one place where each command of the program starts and ends: every
// handler of a window command and every command of the command-line tool
// runs through RunCommand. A guard installed here (the crash reporter's
// recovery point) can end the running command early and let the program go
// on.
//
// A call into code that is not the program's own (a plugin) runs through
// CallForeign, behind a recovery point of its own. A fault inside it that the
// user ignores drops only the foreign frames (they hold nothing of ours);
// CallForeign then throws CommandAbandoned from an ordinary frame, so the
// program's frames above unwind as for any exception: their guards close the
// progress window, end the list's update, write the summary and reload. The
// command's recovery point catches it and ends the command.

#include <type_traits>
#include <utility>

using CommandBody = void (*)(void* context);
// Runs body(context) once; returns false when the command was ended early.
using CommandGuard = bool (*)(CommandBody body, void* context);

// Null runs every command directly. Returns the previous guard.
CommandGuard SetCommandGuard(CommandGuard guard);
CommandGuard CurrentCommandGuard();

// The guard of foreign calls; null runs them directly. Returns the previous one.
CommandGuard SetForeignCallGuard(CommandGuard guard);
CommandGuard CurrentForeignCallGuard();

// Thrown by CallForeign after an ignored fault in the foreign code. Not a
// std::exception on purpose: handlers that show a failure to the user must
// let it pass, since ignoring a fault ends the command silently.
struct CommandAbandoned {
    const char* where = ""; // what was called, for the log
};

// Runs `command` through the guard; false when it was ended early.
template <typename F>
bool RunCommand(F&& command)
{
    auto body = [](void* context) { (*static_cast<std::remove_reference_t<F>*>(context))(); };
    if (CommandGuard guard = CurrentCommandGuard())
        return guard(body, &command);
    try {
        body(&command);
    } catch (const CommandAbandoned&) {
        return false;
    }
    return true;
}

// Runs `call` (foreign code) through the foreign-call guard; throws
// CommandAbandoned when a fault in it was ignored. `where` names the call.
template <typename F>
void CallForeign(const char* where, F&& call)
{
    auto body = [](void* context) { (*static_cast<std::remove_reference_t<F>*>(context))(); };
    if (CommandGuard guard = CurrentForeignCallGuard()) {
        if (!guard(body, &call))
            throw CommandAbandoned{where};
        return;
    }
    body(&call);
}
