// The module of ImageDecoderModule.h: the decoder of the window, with its own
// copy of the table, handed to the program that loaded the module.

#include "log/Errors.h"
#include "plates/ImageDecoderModule.h"

#include <QLoggingCategory>

#include <cstdio>

extern "C" __attribute__((visibility("default"))) int UlmoraBindImageDecoder(ImageLibrary* table, char* error,
                                                                            uint32_t errorSize)
{
    // A broken plate is a result here, reported by the caller; the readers'
    // own warnings about it would only clutter a terminal.
    QLoggingCategory::setFilterRules(QStringLiteral("qt.gui.imageio*=false"));
    if (!LoadImageLibrary()) {
        std::snprintf(error, errorSize, "%s", ErrorText(kCurrentError).c_str());
        return 0;
    }
    *table = ImageFunctions();
    return 1;
}
