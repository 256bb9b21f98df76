#include "platform/Library.h"

#include <dlfcn.h>

namespace platform {

namespace {
std::string LoaderText(const char* fallback)
{
    const char* text = dlerror();
    return text != nullptr ? text : fallback;
}
} // namespace

LibraryHandle OpenLibrary(const std::string& path, std::string* error)
{
    dlerror();
    LibraryHandle library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr && error != nullptr)
        *error = LoaderText("cannot load library");
    return library;
}

void* FindSymbol(LibraryHandle library, const char* name, std::string* error)
{
    dlerror();
    void* symbol = dlsym(library, name);
    if (symbol == nullptr && error != nullptr)
        *error = LoaderText("symbol not found");
    return symbol;
}

void CloseLibrary(LibraryHandle library)
{
    if (library != nullptr)
        dlclose(library);
}

} // namespace platform
