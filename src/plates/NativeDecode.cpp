#include "plates/NativeDecode.h"

#include <csetjmp>
#include <cstdio> // before jpeglib.h, which uses FILE
#include <cstring>
#include <vector>

#include <jpeglib.h>
#include <libdeflate.h>
#include <spng.h>
#include <webp/decode.h>

namespace {

// Pictures larger than this are left to the general decoder: plates are
// small, and a forged header must not make us allocate gigabytes.
constexpr uint64_t kMaxPixels = uint64_t{1} << 26;

uint32_t BigEndian32(const uint8_t* p)
{
    return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | uint32_t{p[3]};
}

// Each decoding thread keeps its inflater and buffers for the next plate.
struct ThreadBuffers {
    libdeflate_decompressor* inflater = nullptr;
    std::vector<uint8_t> compressed; // a PNG's IDAT chunks joined
    std::vector<uint8_t> pixels;
    ~ThreadBuffers()
    {
        if (inflater != nullptr)
            libdeflate_free_decompressor(inflater);
    }
};
ThreadBuffers& Buffers()
{
    thread_local ThreadBuffers buffers;
    return buffers;
}

// --- PNG -------------------------------------------------------------------

uint8_t Paeth(uint8_t a, uint8_t b, uint8_t c)
{
    const int p = int{a} + int{b} - int{c};
    const int pa = p > a ? p - a : a - p;
    const int pb = p > b ? p - b : b - p;
    const int pc = p > c ? p - c : c - p;
    if (pa <= pb && pa <= pc)
        return a;
    return pb <= pc ? b : c;
}

// Undoes the row filters in place; false on an unknown filter.
bool Unfilter(uint8_t* rows, uint32_t height, size_t rowBytes, size_t pixelBytes)
{
    const uint8_t* previous = nullptr;
    for (uint32_t y = 0; y < height; ++y) {
        uint8_t* filter = rows + static_cast<size_t>(y) * (rowBytes + 1);
        uint8_t* row = filter + 1;
        switch (*filter) {
        case 0:
            break;
        case 1:
            for (size_t i = pixelBytes; i < rowBytes; ++i)
                row[i] = static_cast<uint8_t>(row[i] + row[i - pixelBytes]);
            break;
        case 2:
            if (previous != nullptr)
                for (size_t i = 0; i < rowBytes; ++i)
                    row[i] = static_cast<uint8_t>(row[i] + previous[i]);
            break;
        case 3:
            for (size_t i = 0; i < rowBytes; ++i) {
                const unsigned left = i >= pixelBytes ? row[i - pixelBytes] : 0;
                const unsigned up = previous != nullptr ? previous[i] : 0;
                row[i] = static_cast<uint8_t>(row[i] + ((left + up) >> 1));
            }
            break;
        case 4:
            for (size_t i = 0; i < rowBytes; ++i) {
                const uint8_t left = i >= pixelBytes ? row[i - pixelBytes] : 0;
                const uint8_t up = previous != nullptr ? previous[i] : 0;
                const uint8_t corner = i >= pixelBytes && previous != nullptr ? previous[i - pixelBytes] : 0;
                row[i] = static_cast<uint8_t>(row[i] + Paeth(left, up, corner));
            }
            break;
        default:
            return false;
        }
        previous = row;
    }
    return true;
}

// Interlaced pictures are rare among plates: libspng decodes them.
bool DecodeInterlacedPng(const uint8_t* data, size_t size)
{
    spng_ctx* context = spng_ctx_new(0);
    if (context == nullptr)
        return false;
    size_t bytes = 0;
    bool clean = spng_set_png_buffer(context, data, size) == 0 &&
                 spng_decoded_image_size(context, SPNG_FMT_PNG, &bytes) == 0 && bytes <= kMaxPixels * 8;
    if (clean) {
        std::vector<uint8_t>& pixels = Buffers().pixels;
        pixels.resize(bytes);
        clean = spng_decode_image(context, pixels.data(), bytes, SPNG_FMT_PNG, 0) == 0;
    }
    spng_ctx_free(context);
    return clean;
}

bool DecodePng(const uint8_t* data, size_t size, int32_t* width, int32_t* height)
{
    static constexpr uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    if (size < 8 || std::memcmp(data, kSignature, 8) != 0)
        return false;
    ThreadBuffers& buffers = Buffers();
    uint32_t w = 0, h = 0;
    uint8_t depth = 0, colour = 0, interlace = 0;
    const uint8_t* firstData = nullptr; // the one IDAT chunk's data, while there is one
    size_t firstSize = 0;
    int dataChunks = 0;
    bool dataEnded = false, header = false, palette = false, end = false;
    buffers.compressed.clear();
    for (size_t at = 8; at < size;) {
        if (size - at < 12)
            return false;
        const uint32_t length = BigEndian32(data + at);
        if (length > size - at - 12)
            return false;
        const uint8_t* type = data + at + 4;
        const uint8_t* body = data + at + 8;
        if (libdeflate_crc32(0, type, length + 4) != BigEndian32(body + length))
            return false;
        at += 12 + size_t{length};
        const bool isData = std::memcmp(type, "IDAT", 4) == 0;
        if (!header) {
            if (std::memcmp(type, "IHDR", 4) != 0 || length != 13)
                return false;
            w = BigEndian32(body);
            h = BigEndian32(body + 4);
            depth = body[8];
            colour = body[9];
            interlace = body[12];
            if (body[10] != 0 || body[11] != 0 || interlace > 1)
                return false;
            header = true;
        } else if (isData) {
            if (dataEnded)
                return false;
            if (++dataChunks == 1) {
                firstData = body;
                firstSize = length;
            } else {
                if (dataChunks == 2)
                    buffers.compressed.assign(firstData, firstData + firstSize);
                buffers.compressed.insert(buffers.compressed.end(), body, body + length);
            }
        } else if (std::memcmp(type, "IEND", 4) == 0) {
            end = true;
            break;
        } else if (std::memcmp(type, "PLTE", 4) == 0 && dataChunks == 0) {
            palette = true;
        } else if (!(type[0] & 0x20)) {
            return false; // another critical chunk: the general decoder judges
        } else if (dataChunks > 0) {
            dataEnded = true;
        }
    }
    if (!end || dataChunks == 0 || w == 0 || h == 0 || w > 0x7fffffff || h > 0x7fffffff || uint64_t{w} * h > kMaxPixels)
        return false;
    int channels = 0;
    switch (colour) {
    case 0:
        channels = 1;
        break;
    case 2:
        channels = 3;
        break;
    case 3:
        channels = 1;
        break;
    case 4:
        channels = 2;
        break;
    case 6:
        channels = 4;
        break;
    default:
        return false;
    }
    const bool depthFits = colour == 0   ? (depth == 1 || depth == 2 || depth == 4 || depth == 8 || depth == 16)
                           : colour == 3 ? (depth == 1 || depth == 2 || depth == 4 || depth == 8)
                                         : (depth == 8 || depth == 16);
    if (!depthFits || (colour == 3 && !palette))
        return false;
    *width = static_cast<int32_t>(w);
    *height = static_cast<int32_t>(h);
    if (interlace == 1)
        return DecodeInterlacedPng(data, size);

    const size_t bitsPerPixel = static_cast<size_t>(channels) * depth;
    const size_t rowBytes = (static_cast<size_t>(w) * bitsPerPixel + 7) / 8;
    const size_t expected = static_cast<size_t>(h) * (rowBytes + 1);
    buffers.pixels.resize(expected);
    if (buffers.inflater == nullptr)
        buffers.inflater = libdeflate_alloc_decompressor();
    if (buffers.inflater == nullptr)
        return false;
    const uint8_t* in = dataChunks == 1 ? firstData : buffers.compressed.data();
    const size_t inSize = dataChunks == 1 ? firstSize : buffers.compressed.size();
    size_t used = 0, produced = 0;
    if (libdeflate_zlib_decompress_ex(buffers.inflater, in, inSize, buffers.pixels.data(), expected, &used,
                                      &produced) != LIBDEFLATE_SUCCESS ||
        produced != expected || used != inSize)
        return false;
    return Unfilter(buffers.pixels.data(), h, rowBytes, bitsPerPixel >= 8 ? bitsPerPixel / 8 : 1);
}

// --- JPEG ------------------------------------------------------------------

struct JpegErrors {
    jpeg_error_mgr manager;
    std::jmp_buf failed;
    bool warned;
};

[[noreturn]] void JpegFail(j_common_ptr info) { std::longjmp(reinterpret_cast<JpegErrors*>(info->err)->failed, 1); }

// A warning (a truncated file, corrupt data that the library papers over)
// is no clean decode; traces (levels above 0) are not warnings.
void JpegMessage(j_common_ptr info, int level)
{
    if (level < 0)
        reinterpret_cast<JpegErrors*>(info->err)->warned = true;
}

// Kept out of DecodeJpeg, whose locals would be clobbered by longjmp.
bool RunJpeg(jpeg_decompress_struct& info, const uint8_t* data, size_t size, int32_t* width, int32_t* height)
{
    jpeg_mem_src(&info, data, static_cast<unsigned long>(size));
    if (jpeg_read_header(&info, TRUE) != JPEG_HEADER_OK)
        return false;
    if (uint64_t{info.image_width} * info.image_height > kMaxPixels)
        return false;
    // The stored colour space, no conversion; box upsampling of the chroma.
    info.out_color_space = info.jpeg_color_space;
    info.do_fancy_upsampling = FALSE;
    if (!jpeg_start_decompress(&info))
        return false;
    const size_t rowBytes = static_cast<size_t>(info.output_width) * static_cast<size_t>(info.output_components);
    std::vector<uint8_t>& pixels = Buffers().pixels;
    pixels.resize(rowBytes * info.output_height);
    while (info.output_scanline < info.output_height) {
        JSAMPROW rows[8];
        const JDIMENSION left = info.output_height - info.output_scanline;
        const JDIMENSION count = left < 8 ? left : 8;
        for (JDIMENSION i = 0; i < count; ++i)
            rows[i] = pixels.data() + (info.output_scanline + i) * rowBytes;
        if (jpeg_read_scanlines(&info, rows, count) == 0)
            return false;
    }
    jpeg_finish_decompress(&info);
    *width = static_cast<int32_t>(info.output_width);
    *height = static_cast<int32_t>(info.output_height);
    return true;
}

bool DecodeJpeg(const uint8_t* data, size_t size, int32_t* width, int32_t* height)
{
    if (size < 3 || data[0] != 0xFF || data[1] != 0xD8 || data[2] != 0xFF)
        return false;
    jpeg_decompress_struct info;
    JpegErrors errors;
    info.err = jpeg_std_error(&errors.manager);
    errors.manager.error_exit = &JpegFail;
    errors.manager.emit_message = &JpegMessage;
    errors.warned = false;
    jpeg_create_decompress(&info);
    bool clean = false;
    if (setjmp(errors.failed) == 0)
        clean = RunJpeg(info, data, size, width, height);
    jpeg_destroy_decompress(&info);
    return clean && !errors.warned;
}

// --- WebP ------------------------------------------------------------------

bool DecodeWebp(const uint8_t* data, size_t size, int32_t* width, int32_t* height)
{
    if (size < 12 || std::memcmp(data, "RIFF", 4) != 0 || std::memcmp(data + 8, "WEBP", 4) != 0)
        return false;
    WebPDecoderConfig config;
    if (!WebPInitDecoderConfig(&config) || WebPGetFeatures(data, size, &config.input) != VP8_STATUS_OK)
        return false;
    if (config.input.has_animation || config.input.width <= 0 || config.input.height <= 0 ||
        uint64_t(config.input.width) * uint64_t(config.input.height) > kMaxPixels)
        return false;
    // Lossy pictures are stored as YUV; lossless ones, and alpha, as RGBA.
    config.output.colorspace = config.input.format == 1 && !config.input.has_alpha ? MODE_YUV : MODE_RGBA;
    const bool clean = WebPDecode(data, size, &config) == VP8_STATUS_OK;
    WebPFreeDecBuffer(&config.output);
    if (!clean)
        return false;
    *width = config.input.width;
    *height = config.input.height;
    return true;
}

} // namespace

bool DecodeNatively(const void* data, size_t size, int32_t* width, int32_t* height)
{
    const auto* bytes = static_cast<const uint8_t*>(data);
    if (bytes == nullptr || size < 3)
        return false;
    int32_t w = 0, h = 0;
    bool clean = false;
    if (bytes[0] == 0x89)
        clean = DecodePng(bytes, size, &w, &h);
    else if (bytes[0] == 0xFF)
        clean = DecodeJpeg(bytes, size, &w, &h);
    else if (bytes[0] == 'R')
        clean = DecodeWebp(bytes, size, &w, &h);
    if (!clean)
        return false;
    *width = w;
    *height = h;
    return true;
}
