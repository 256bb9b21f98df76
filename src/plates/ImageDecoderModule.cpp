#include "plates/ImageDecoderModule.h"

#include "base/Paths.h"
#include "base/ProgramFiles.h"
#include "log/Errors.h"
#include "platform/Library.h"

bool LoadImageDecoderModule(const std::string& path)
{
    if (ImageFunctions().Loaded())
        return true;
    std::string error;
    const std::string full = IsAbsolutePath(path) ? path : OwnFilePath(path, OwnFileKind::Library);
    platform::LibraryHandle module = platform::OpenLibrary(full, &error);
    if (module == nullptr) {
        SetErrorText("Cannot load the image decoder %s: %s", full.c_str(), error.c_str());
        return false;
    }
    auto bind = reinterpret_cast<BindImageDecoderFunction>(platform::FindSymbol(module, kImageDecoderExport, &error));
    if (bind == nullptr) {
        platform::CloseLibrary(module);
        SetErrorText("The image decoder %s lacks %s: %s", full.c_str(), kImageDecoderExport, error.c_str());
        return false;
    }
    ImageLibrary table;
    char text[256] = {};
    if (bind(&table, text, sizeof text) == 0 || !table.Loaded()) {
        platform::CloseLibrary(module);
        SetErrorText("%s", text);
        return false;
    }
    ImageFunctions() = table;
    return true;
}
