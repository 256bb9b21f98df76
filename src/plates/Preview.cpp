#include "plates/Preview.h"

#include "base/Text.h"
#include "base/Translate.h"
#include "log/Errors.h"
#include "log/Log.h"
#include "plates/BitmapHeader.h"
#include "platform/Process.h"
#include "plugins/Plugin.h"

#include <algorithm>
#include <cstring>

uint32_t MemorySourceRead(void* handle, void* buffer, uint32_t count)
{
    auto* source = static_cast<MemorySource*>(handle);
    if (count == 0)
        return 0;
    const uint32_t left = source->size - source->position;
    const uint32_t n = std::min(count, left);
    if (n != 0) {
        std::memcpy(buffer, source->data + source->position, n);
        source->position += n;
    }
    return n;
}

uint32_t MemorySourceTell(void* handle) { return static_cast<MemorySource*>(handle)->position; }

uint32_t MemorySourceSeek(void* handle, int32_t offset, int origin)
{
    auto* source = static_cast<MemorySource*>(handle);
    int64_t target = 0;
    switch (origin) {
    case 0: target = offset; break;
    case 1: target = int64_t{source->position} + offset; break;
    case 2: target = int64_t{source->size} - offset; break;
    default: return source->position;
    }
    source->position = static_cast<uint32_t>(std::clamp<int64_t>(target, 0, source->size));
    return source->position;
}

bool NormalizeBitmap(ImageBitmap* bitmap, const char* plateName)
{
    if (bitmap->Width != kPlateSide || bitmap->Height != kPlateSide)
        LogDetail(Translate("Loaded bitmap [%s] has wrong sizes %dx%d (Tarvel has %dx%d"), plateName, bitmap->Width,
            bitmap->Height, kPlateSide, kPlateSide);
    if (bitmap->Type == kImageBGR)
        return true;
    switch (bitmap->Type) {
    case kImageBinary:
    case kImageGrey:
    case kImagePalette:
    case kImageRGB:
    case kImageRGBA:
    case kImageABGR:
    case kImageBGRA:
    case kImageARGB:
    case kImageCMYK:
        LogDetail(Translate("Change image colorspace from %d to BGR"), bitmap->Type);
        ImageFunctions().ChangeColorDepth(bitmap, nullptr, kModeToBGR, nullptr);
        break;
    default:
        break;
    }
    return true;
}

bool LoadPlateImage(const void* data, uint32_t size, const char* plateName, const PlateDrawer& draw, int* width,
                    int* height)
{
    const ImageLibrary& decoder = ImageFunctions();
    if (!decoder.Loaded()) {
        SetErrorText("%s", Translate("Image show is not possible!"));
        return false;
    }
    ImageLoadParams params;
    decoder.GetDefaultLoadParams(&params);
    params.Flags |= kLoadNoAlpha;
    params.ColorModel = kImageBGR;
    params.LinePadding = 4;
    params.ImageWanted = 0;
    params.Origin = kOriginBottomLeft;
    params.Read = &MemorySourceRead;
    params.Tell = &MemorySourceTell;
    params.Seek = &MemorySourceSeek;
    MemorySource source{static_cast<const uint8_t*>(data), size, 0};

    ImageBitmap* bitmap = nullptr;
    ImageFileInformation information;
    const int16_t code = decoder.LoadBitmapFromHandle(&source, &bitmap, &params, &information);
    if (code != 0) {
        SetErrorText("%s", decoder.GetErrorString(code));
        return false;
    }
    NormalizeBitmap(bitmap, plateName);
    *width = bitmap->Width;
    *height = bitmap->Height;
    bool drawn = bitmap->Type == kImageBGR && draw(*bitmap);
    if (!drawn) {
        const std::string why = ErrorText(kCurrentError);
        Log("Error draw item image (img: %p, rc=%d, sz: %d): %s", static_cast<void*>(bitmap->Data), -1,
            static_cast<int>(size), why.c_str());
    }
    decoder.FreeFileInformation(&information);
    decoder.FreeBitmap(bitmap);
    return drawn;
}

std::string ShownPlateLabel(const char* name, int width, int height, uint32_t size)
{
    return Format(Translate("Item: %s\nSizes: %dx%d (%s)"), name, width, height, FormatSize(size).c_str());
}

PreviewResult PreviewPlate(StorageAction& action, const PlateItem& plate, const PlateDrawer& draw)
{
    PreviewResult result;
    const void* data = nullptr;
    uint32_t size = 0;
    std::string failure;
    const uint32_t answer = action.GetPlateData(plate.name, &data, &size);
    if (answer == Done) {
        const bool probe = platform::IsReadable(data, size);
        if (data != nullptr && size != 0 && probe) {
            result.shown = LoadPlateImage(data, size, plate.name, draw, &result.width, &result.height);
            if (!result.shown)
                failure = ErrorText(kCurrentError);
        } else {
            failure = Format(Translate("Plugin returns bad data pointer: %p[%d] (%d) for plate \"%s\""), data,
                             static_cast<int>(size), probe ? 0 : 1, plate.name);
        }
    } else if (answer == Failed) {
        failure = ErrorText(kCurrentError);
    }
    if (result.shown) {
        result.label = ShownPlateLabel(plate.name, result.width, result.height, plate.size);
    } else {
        if (failure.empty())
            failure = ErrorText(kCurrentError);
        result.label =
            Format("Error loading plate data!\nPlate: %s\nFile: %s\nError: %s", plate.name, plate.file, failure.c_str());
    }
    return result;
}
