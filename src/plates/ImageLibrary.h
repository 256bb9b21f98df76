#pragma once
// The image decoder of the preview, reached only through a table of
// functions that LoadImageLibrary fills at start-up. Our decoder is an
// adapter over Qt's image readers; the table keeps the preview independent
// of it, and an empty table (binding failed) means no preview.

#include <cstddef>
#include <cstdint>

// Colour models of a decoded bitmap (ImageBitmap::Type).
enum ImageColorModel : uint16_t {
    kImageBinary = 0x1,
    kImageGrey = 0x2,
    kImagePalette = 0x4,
    kImageRGB = 0x10,
    kImageRGBA = 0x20,
    kImageBGR = 0x40,
    kImageABGR = 0x80,
    kImageBGRA = 0x100,
    kImageARGB = 0x200,
    kImageCMYK = 0x400,
};

// ChangeColorDepth mode: to blue-green-red, 8 bits a channel.
inline constexpr int kModeToBGR = 21;
// Load flag: the alpha channel is not loaded.
inline constexpr uint32_t kLoadNoAlpha = 0x1;
// Origin: rows from the bottom up.
inline constexpr uint16_t kOriginBottomLeft = 0x10;

// Callbacks of the input, handed the caller's handle first.
using ImageReadCallback = uint32_t (*)(void* handle, void* buffer, uint32_t count);
using ImageTellCallback = uint32_t (*)(void* handle);
using ImageSeekCallback = uint32_t (*)(void* handle, int32_t offset, int origin);

struct ImageLoadParams {
    uint32_t Flags = 0;
    uint16_t ColorModel = 0; // wanted order of 24- and 32-bit pictures
    uint32_t LinePadding = 1; // rows padded to a multiple of this many bytes
    int32_t ImageWanted = 0;  // picture of the file, from 0
    uint16_t Origin = 0;      // 0: rows top down; kOriginBottomLeft: bottom up
    ImageReadCallback Read = nullptr;
    ImageTellCallback Tell = nullptr;
    ImageSeekCallback Seek = nullptr;
};

struct ImageBitmap {
    uint16_t Type = 0; // ImageColorModel
    int32_t Width = 0;
    int32_t Height = 0;
    int32_t BytesPerLine = 0;
    uint16_t BytesPerPixel = 0;
    uint16_t Origin = 0;
    uint32_t LinePadding = 1;
    uint8_t* Data = nullptr;       // Height rows of BytesPerLine bytes
    uint32_t* ColorMap = nullptr;  // palette pictures: 0xAARRGGBB per index
    int32_t ColorCount = 0;
};

struct ImageFileInformation {
    char FormatName[16] = {};
    int32_t Width = 0;
    int32_t Height = 0;
};

struct ImageLibrary {
    void (*GetDefaultLoadParams)(ImageLoadParams* params) = nullptr;
    // 0 on success, with *bitmap set; else an error code for GetErrorString.
    int16_t (*LoadBitmapFromHandle)(void* handle, ImageBitmap** bitmap, ImageLoadParams* params,
                                    ImageFileInformation* information) = nullptr;
    const char* (*GetErrorString)(int16_t code) = nullptr;
    // With no destination the bitmap is converted in place.
    int16_t (*ChangeColorDepth)(ImageBitmap* bitmap, ImageBitmap** destination, int mode,
                                void* parameters) = nullptr;
    void (*FreeFileInformation)(ImageFileInformation* information) = nullptr;
    void (*FreeBitmap)(ImageBitmap* bitmap) = nullptr;
    // Optional: decodes a whole picture only to judge it, faster than
    // LoadBitmapFromHandle; true with its size for a clean decode, false when
    // LoadBitmapFromHandle must judge (another format, or anything short of
    // a clean decode).
    bool (*DecodeToJudge)(const void* data, size_t size, int32_t* width, int32_t* height) = nullptr;
    // Optional: whether a picture is of one colour (fully transparent pixels
    // alike whatever their colour), decoded only up to the first pixel of
    // another colour: 1 one colour, 0 not, -1 when LoadBitmapFromHandle must
    // tell (another format, or anything short of a clean decode).
    int (*OneColour)(const void* data, size_t size) = nullptr;

    bool Loaded() const { return LoadBitmapFromHandle != nullptr; }
};

// The program-wide table; empty until LoadImageLibrary succeeded.
ImageLibrary& ImageFunctions();

// What the decoder is called in messages.
inline constexpr const char* kImageLibraryName = "Qt image readers";

// Binds the table to the decoder. Fails (last error set) when the decoder
// cannot read the plate formats: JPEG and PNG, or those named in `formats`
// (a null-terminated list, for tests). Binding twice is harmless.
bool LoadImageLibrary(const char* const* formats = nullptr);
// Empties the table.
void UnloadImageLibrary();
