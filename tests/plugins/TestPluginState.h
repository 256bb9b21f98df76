#pragma once
// Reaching a test plugin's knobs and counters from a test.

#include "test_plugin_control.h"

#include <dlfcn.h>

#include <stdexcept>
#include <string>

// Loads the test plugin a second time and keeps it loaded for the rest of the
// test program, so that its counters survive the loader's own unloads (the
// system maps a library once, so both loads share them). Resets the knobs:
// everything off, Open succeeds.
inline TestPluginControl* KeepTestPluginLoaded(const char* path)
{
    void* handle = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr)
        throw std::runtime_error(std::string("cannot load ") + path);
    auto stateOf = reinterpret_cast<TestPluginStateFn>(dlsym(handle, "TestPluginState"));
    if (stateOf == nullptr)
        throw std::runtime_error(std::string("no TestPluginState in ") + path);
    TestPluginControl* state = stateOf();
    *state = TestPluginControl{};
    state->openResult = 1;
    return state;
}
