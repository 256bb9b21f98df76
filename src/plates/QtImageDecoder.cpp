#include "plates/ImageLibrary.h"

// Our decoder: Qt's image readers behind the table's functions.

#include "base/Text.h"
#include "log/Errors.h"
#include "plates/NativeDecode.h"

#include <QIODevice>
#include <QImage>
#include <QImageReader>

#include <cstring>
#include <new>

namespace {

enum DecodeError : int16_t {
    kNoError = 0,
    kErrorNoInput = 1,
    kErrorUnknownFormat = 2,
    kErrorDecode = 3,
    kErrorNoMemory = 4,
    kErrorBadParameters = 5,
};

// The caller's input, read through its callbacks, as a Qt device.
class CallbackDevice : public QIODevice {
public:
    CallbackDevice(void* handle, const ImageLoadParams& params) : handle_(handle), params_(params)
    {
        open(QIODevice::ReadOnly);
    }
    bool isSequential() const override { return false; }
    qint64 size() const override
    {
        // The size is where a seek to the end lands; the position is restored.
        const uint32_t here = params_.Tell(handle_);
        const uint32_t end = params_.Seek(handle_, 0, 2);
        params_.Seek(handle_, static_cast<int32_t>(here), 0);
        return end;
    }
    bool seek(qint64 position) override
    {
        QIODevice::seek(position);
        return params_.Seek(handle_, static_cast<int32_t>(position), 0) == position;
    }

protected:
    qint64 readData(char* data, qint64 maxSize) override
    {
        const uint32_t count = static_cast<uint32_t>(std::min<qint64>(maxSize, 0x7fffffff));
        return params_.Read(handle_, data, count);
    }
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    void* handle_;
    const ImageLoadParams& params_;
};

void FreeBitmap(ImageBitmap* bitmap)
{
    if (bitmap == nullptr)
        return;
    delete[] bitmap->Data;
    delete[] bitmap->ColorMap;
    delete bitmap;
}

int32_t PaddedLine(int32_t bytes, uint32_t padding)
{
    if (padding <= 1)
        return bytes;
    return static_cast<int32_t>((static_cast<uint32_t>(bytes) + padding - 1) / padding * padding);
}

// Copies the picture into a bitmap of the given model, rows in the wanted order.
ImageBitmap* MakeBitmap(const QImage& picture, uint16_t type, uint16_t bytesPerPixel, uint32_t padding,
                        uint16_t origin)
{
    auto* bitmap = new (std::nothrow) ImageBitmap;
    if (bitmap == nullptr)
        return nullptr;
    bitmap->Type = type;
    bitmap->Width = picture.width();
    bitmap->Height = picture.height();
    bitmap->BytesPerPixel = bytesPerPixel;
    bitmap->BytesPerLine = PaddedLine(picture.width() * bytesPerPixel, padding);
    bitmap->Origin = origin;
    bitmap->LinePadding = padding;
    const std::size_t total = static_cast<std::size_t>(bitmap->BytesPerLine) * static_cast<std::size_t>(bitmap->Height);
    bitmap->Data = new (std::nothrow) uint8_t[total == 0 ? 1 : total]();
    if (bitmap->Data == nullptr) {
        delete bitmap;
        return nullptr;
    }
    const std::size_t rowBytes = static_cast<std::size_t>(picture.width()) * bytesPerPixel;
    for (int y = 0; y < picture.height(); ++y) {
        const int target = origin == kOriginBottomLeft ? picture.height() - 1 - y : y;
        std::memcpy(bitmap->Data + static_cast<std::size_t>(target) * static_cast<std::size_t>(bitmap->BytesPerLine),
                    picture.constScanLine(y), rowBytes);
    }
    return bitmap;
}

void GetDefaultLoadParams(ImageLoadParams* params) { *params = ImageLoadParams{}; }

int16_t LoadBitmapFromHandle(void* handle, ImageBitmap** bitmap, ImageLoadParams* params,
                             ImageFileInformation* information)
{
    if (bitmap == nullptr || params == nullptr || params->Read == nullptr || params->Tell == nullptr ||
        params->Seek == nullptr)
        return kErrorBadParameters;
    CallbackDevice device(handle, *params);
    QImageReader reader(&device);
    reader.setDecideFormatFromContent(true);
    if (params->ImageWanted > 0 && !reader.jumpToImage(params->ImageWanted))
        return kErrorDecode;
    const QByteArray format = reader.format();
    if (format.isEmpty())
        return device.size() == 0 ? kErrorNoInput : kErrorUnknownFormat;
    QImage picture = reader.read();
    if (picture.isNull())
        return reader.error() == QImageReader::UnsupportedFormatError ? kErrorUnknownFormat : kErrorDecode;

    if (information != nullptr) {
        *information = ImageFileInformation{};
        std::strncpy(information->FormatName, format.constData(), sizeof information->FormatName - 1);
        information->Width = picture.width();
        information->Height = picture.height();
    }

    // Grey, two-colour and palette pictures keep their own model; the rest
    // come in the wanted colour order.
    const bool keepAlpha = (params->Flags & kLoadNoAlpha) == 0 && picture.hasAlphaChannel();
    ImageBitmap* result = nullptr;
    switch (picture.format()) {
    case QImage::Format_Grayscale8:
        result = MakeBitmap(picture, kImageGrey, 1, params->LinePadding, params->Origin);
        break;
    case QImage::Format_Mono:
    case QImage::Format_MonoLSB:
    case QImage::Format_Indexed8:
        if (picture.colorTable().size() <= 2 && picture.isGrayscale()) {
            result = MakeBitmap(picture.convertToFormat(QImage::Format_Grayscale8), kImageBinary, 1,
                                params->LinePadding, params->Origin);
        } else {
            const QImage indexed = picture.convertToFormat(QImage::Format_Indexed8);
            result = MakeBitmap(indexed, kImagePalette, 1, params->LinePadding, params->Origin);
            if (result != nullptr) {
                const QList<QRgb> colors = indexed.colorTable();
                result->ColorCount = static_cast<int32_t>(colors.size());
                result->ColorMap = new (std::nothrow) uint32_t[colors.size() + 1]();
                if (result->ColorMap == nullptr) {
                    FreeBitmap(result);
                    return kErrorNoMemory;
                }
                std::copy(colors.begin(), colors.end(), result->ColorMap);
            }
        }
        break;
    default:
        if (keepAlpha)
            result = MakeBitmap(picture.convertToFormat(QImage::Format_RGBA8888), kImageRGBA, 4,
                                params->LinePadding, params->Origin);
        else if (params->ColorModel == kImageBGR)
            result = MakeBitmap(picture.convertToFormat(QImage::Format_BGR888), kImageBGR, 3,
                                params->LinePadding, params->Origin);
        else
            result = MakeBitmap(picture.convertToFormat(QImage::Format_RGB888), kImageRGB, 3,
                                params->LinePadding, params->Origin);
        break;
    }
    if (result == nullptr)
        return kErrorNoMemory;
    *bitmap = result;
    return kNoError;
}

const char* GetErrorString(int16_t code)
{
    switch (code) {
    case kNoError: return "No error";
    case kErrorNoInput: return "The data block is empty";
    case kErrorUnknownFormat: return "Unknown picture format";
    case kErrorDecode: return "The picture cannot be decoded";
    case kErrorNoMemory: return "Not enough memory";
    case kErrorBadParameters: return "Bad parameters";
    default: return "Unknown error";
    }
}

// The blue, green and red of one pixel of a bitmap of any model we make.
void PixelToBGR(const ImageBitmap& bitmap, const uint8_t* pixel, uint8_t* bgr)
{
    switch (bitmap.Type) {
    case kImageBinary:
    case kImageGrey:
        bgr[0] = bgr[1] = bgr[2] = pixel[0];
        break;
    case kImagePalette: {
        const uint32_t color = pixel[0] < bitmap.ColorCount ? bitmap.ColorMap[pixel[0]] : 0;
        bgr[0] = static_cast<uint8_t>(color);
        bgr[1] = static_cast<uint8_t>(color >> 8);
        bgr[2] = static_cast<uint8_t>(color >> 16);
        break;
    }
    case kImageBGR:
        std::memcpy(bgr, pixel, 3);
        break;
    default: // RGB and RGBA
        bgr[0] = pixel[2];
        bgr[1] = pixel[1];
        bgr[2] = pixel[0];
        break;
    }
}

int16_t ChangeColorDepth(ImageBitmap* bitmap, ImageBitmap** destination, int mode, void*)
{
    if (bitmap == nullptr || destination != nullptr || mode != kModeToBGR)
        return kErrorBadParameters;
    if (bitmap->Type == kImageBGR)
        return kNoError;
    const int32_t line = PaddedLine(bitmap->Width * 3, bitmap->LinePadding);
    const std::size_t total = static_cast<std::size_t>(line) * static_cast<std::size_t>(bitmap->Height);
    auto* data = new (std::nothrow) uint8_t[total == 0 ? 1 : total]();
    if (data == nullptr)
        return kErrorNoMemory;
    for (int32_t y = 0; y < bitmap->Height; ++y) {
        const uint8_t* from = bitmap->Data + static_cast<std::size_t>(y) * static_cast<std::size_t>(bitmap->BytesPerLine);
        uint8_t* to = data + static_cast<std::size_t>(y) * static_cast<std::size_t>(line);
        for (int32_t x = 0; x < bitmap->Width; ++x)
            PixelToBGR(*bitmap, from + static_cast<std::size_t>(x) * bitmap->BytesPerPixel, to + x * 3);
    }
    delete[] bitmap->Data;
    delete[] bitmap->ColorMap;
    bitmap->Data = data;
    bitmap->ColorMap = nullptr;
    bitmap->ColorCount = 0;
    bitmap->Type = kImageBGR;
    bitmap->BytesPerPixel = 3;
    bitmap->BytesPerLine = line;
    return kNoError;
}

void FreeFileInformation(ImageFileInformation* information)
{
    if (information != nullptr)
        *information = ImageFileInformation{};
}

} // namespace

bool LoadImageLibrary(const char* const* formats)
{
    static const char* const kPlateFormats[] = {"jpeg", "png", nullptr};
    if (ImageFunctions().Loaded())
        return true;
    const QList<QByteArray> supported = QImageReader::supportedImageFormats();
    std::string missing;
    for (const char* const* format = formats != nullptr ? formats : kPlateFormats; *format != nullptr; ++format) {
        if (!supported.contains(QByteArray(*format)))
            missing += missing.empty() ? *format : std::string(", ") + *format;
    }
    if (!missing.empty()) {
        SetErrorText("No image reader for %s", missing.c_str());
        return false;
    }
    ImageLibrary& table = ImageFunctions();
    table.GetDefaultLoadParams = &GetDefaultLoadParams;
    table.LoadBitmapFromHandle = &LoadBitmapFromHandle;
    table.GetErrorString = &GetErrorString;
    table.ChangeColorDepth = &ChangeColorDepth;
    table.FreeFileInformation = &FreeFileInformation;
    table.FreeBitmap = &FreeBitmap;
    table.DecodeToJudge = &DecodeNatively;
    table.OneColour = &OneColourNatively;
    return true;
}

