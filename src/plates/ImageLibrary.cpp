#include "plates/ImageLibrary.h"

ImageLibrary& ImageFunctions()
{
    static ImageLibrary table;
    return table;
}

void UnloadImageLibrary() { ImageFunctions() = ImageLibrary{}; }
