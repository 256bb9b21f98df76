#pragma once
// The one place where each command of the program starts and ends: every
// handler of a window command and every command of the command-line tool
// runs through RunCommand. A guard installed here (the crash reporter's
// recovery point) can end the running command early and let the program go
// on.

#include <type_traits>

using CommandBody = void (*)(void* context);
// Runs body(context) once; returns false when the command was ended early.
using CommandGuard = bool (*)(CommandBody body, void* context);

// Null runs every command directly. Returns the previous guard.
CommandGuard SetCommandGuard(CommandGuard guard);
CommandGuard CurrentCommandGuard();

// Runs `command` through the guard; false when it was ended early.
template <typename F>
bool RunCommand(F&& command)
{
    auto body = [](void* context) { (*static_cast<std::remove_reference_t<F>*>(context))(); };
    if (CommandGuard guard = CurrentCommandGuard())
        return guard(body, &command);
    body(&command);
    return true;
}
