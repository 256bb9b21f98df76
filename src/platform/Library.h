#pragma once
// Shared libraries loaded at run time.

#include <string>

namespace platform {

using LibraryHandle = void*;

// Loads a library with all symbols resolved now and kept local to it.
// Returns null on failure with the loader's text in *error.
LibraryHandle OpenLibrary(const std::string& path, std::string* error);

// The address of an exported symbol, or null with the loader's text in *error.
void* FindSymbol(LibraryHandle library, const char* name, std::string* error);

void CloseLibrary(LibraryHandle library);

} // namespace platform
