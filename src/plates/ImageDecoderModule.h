#pragma once
// The preview's decoder for a program that links no Qt: the same decoder
// (Qt's image readers behind the ImageLibrary table) built as a small shared
// library, loaded only when a command decodes. Loading it fills the
// program-wide table, as LoadImageLibrary does in the window.

#include "plates/ImageLibrary.h"

#include <cstdint>
#include <string>

// The module's file name, one of the program's own files (base/ProgramFiles.h).
inline constexpr const char* kImageDecoderModule = "ulmora-image-decoder.so";
// The module's one export: fills `table`; 0 with a text in `error` when the
// decoder cannot read the plate formats.
inline constexpr const char* kImageDecoderExport = "UlmoraBindImageDecoder";
using BindImageDecoderFunction = int (*)(ImageLibrary* table, char* error, uint32_t errorSize);

// Loads the module (a relative path is one of the program's own files) and binds
// the table to it; the module stays loaded for the rest of the run. False
// with the last error set.
bool LoadImageDecoderModule(const std::string& path = kImageDecoderModule);
