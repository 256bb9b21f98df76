// Whether a picture is of one colour, with the formats' own libraries
// (libspng, libjpeg-turbo, libwebp), rows decoded one at a time so that most
// pictures stop after their first row.

#include "plates/NativeDecode.h"

#include <csetjmp>
#include <cstdio> // before jpeglib.h, which uses FILE
#include <cstring>
#include <vector>

#include <jpeglib.h>
#include <spng.h>
#include <webp/decode.h>

namespace {

constexpr int kUndecided = -1;
// Pictures larger than this are left to the general decoder: plates are
// small, and a forged header must not make us allocate gigabytes.
constexpr uint64_t kMaxPixels = uint64_t{1} << 26;

// Compares pixels with the picture's first; a pixel whose alpha is 0 is
// alike with any other such pixel.
class OnePixel {
public:
    OnePixel(std::size_t pixelBytes, int alphaAt) : bytes_(pixelBytes), alphaAt_(alphaAt) {}

    // False at the first pixel of another colour in `row` (`count` pixels).
    bool Row(const uint8_t* row, std::size_t count)
    {
        if (!haveFirst_) {
            std::memcpy(first_, row, bytes_);
            clear_ = alphaAt_ >= 0 && Alpha(row) == 0;
            haveFirst_ = true;
        }
        for (std::size_t x = 0; x < count; ++x, row += bytes_)
            if (clear_ ? Alpha(row) != 0 : std::memcmp(row, first_, bytes_) != 0)
                return false;
        return true;
    }

private:
    // 16-bit samples: either byte of the alpha makes it not transparent.
    unsigned Alpha(const uint8_t* pixel) const
    {
        return bytes_ == 8 ? unsigned{pixel[alphaAt_]} | pixel[alphaAt_ + 1] : pixel[alphaAt_];
    }

    std::size_t bytes_;
    int alphaAt_;
    uint8_t first_[8] = {};
    bool haveFirst_ = false;
    bool clear_ = false;
};

// --- PNG: RGBA of 8 or 16 bits, tRNS applied ---------------------------------

int PngOneColour(const uint8_t* data, size_t size)
{
    spng_ctx* context = spng_ctx_new(0);
    if (context == nullptr)
        return kUndecided;
    int answer = kUndecided;
    spng_ihdr header{};
    if (spng_set_png_buffer(context, data, size) == 0 && spng_get_ihdr(context, &header) == 0 &&
        uint64_t{header.width} * header.height <= kMaxPixels) {
        const int format = header.bit_depth == 16 ? SPNG_FMT_RGBA16 : SPNG_FMT_RGBA8;
        const std::size_t pixelBytes = header.bit_depth == 16 ? 8 : 4;
        OnePixel pixels(pixelBytes, header.bit_depth == 16 ? 6 : 3);
        size_t total = 0;
        if (spng_decoded_image_size(context, format, &total) == 0) {
            thread_local std::vector<uint8_t> buffer;
            if (header.interlace_method != 0) {
                // Interlaced rows come a pass at a time: the whole picture.
                buffer.resize(total);
                if (spng_decode_image(context, buffer.data(), total, format, SPNG_DECODE_TRNS) == 0)
                    answer = pixels.Row(buffer.data(), total / pixelBytes) ? 1 : 0;
            } else if (spng_decode_image(context, nullptr, 0, format, SPNG_DECODE_TRNS | SPNG_DECODE_PROGRESSIVE) ==
                       0) {
                const std::size_t rowBytes = total / header.height;
                buffer.resize(rowBytes);
                int status = 0;
                do {
                    status = spng_decode_row(context, buffer.data(), rowBytes);
                    if (status != 0 && status != SPNG_EOI)
                        break;
                    if (!pixels.Row(buffer.data(), header.width)) {
                        answer = 0;
                        break;
                    }
                } while (status == 0);
                if (status == SPNG_EOI && answer != 0)
                    answer = 1;
            }
        }
    }
    spng_ctx_free(context);
    return answer;
}

// --- JPEG: RGB or grey, as the preview's reader converts it -------------------

struct JpegErrors {
    jpeg_error_mgr manager;
    std::jmp_buf failed;
    bool warned;
};

[[noreturn]] void JpegFail(j_common_ptr info) { std::longjmp(reinterpret_cast<JpegErrors*>(info->err)->failed, 1); }

void JpegMessage(j_common_ptr info, int level)
{
    if (level < 0)
        reinterpret_cast<JpegErrors*>(info->err)->warned = true;
}

// Kept out of JpegOneColour, whose locals would be clobbered by longjmp.
int RunJpeg(jpeg_decompress_struct& info, const uint8_t* data, size_t size, const bool& warned)
{
    jpeg_mem_src(&info, data, static_cast<unsigned long>(size));
    if (jpeg_read_header(&info, TRUE) != JPEG_HEADER_OK)
        return kUndecided;
    if (uint64_t{info.image_width} * info.image_height > kMaxPixels)
        return kUndecided;
    if (info.jpeg_color_space == JCS_GRAYSCALE)
        info.out_color_space = JCS_GRAYSCALE;
    else if (info.jpeg_color_space == JCS_YCbCr || info.jpeg_color_space == JCS_RGB)
        info.out_color_space = JCS_RGB;
    else
        return kUndecided; // CMYK and YCCK: the preview's reader converts them its own way
    if (!jpeg_start_decompress(&info))
        return kUndecided;
    const std::size_t pixelBytes = static_cast<std::size_t>(info.output_components);
    thread_local std::vector<uint8_t> row;
    row.resize(static_cast<std::size_t>(info.output_width) * pixelBytes);
    OnePixel pixels(pixelBytes, -1);
    while (info.output_scanline < info.output_height) {
        JSAMPROW rows[1] = {row.data()};
        if (jpeg_read_scanlines(&info, rows, 1) != 1)
            return kUndecided;
        if (!pixels.Row(row.data(), info.output_width)) {
            jpeg_abort_decompress(&info);
            return 0;
        }
    }
    jpeg_finish_decompress(&info);
    return warned ? kUndecided : 1;
}

int JpegOneColour(const uint8_t* data, size_t size)
{
    if (size < 3 || data[0] != 0xFF || data[1] != 0xD8 || data[2] != 0xFF)
        return kUndecided;
    jpeg_decompress_struct info;
    JpegErrors errors;
    info.err = jpeg_std_error(&errors.manager);
    errors.manager.error_exit = &JpegFail;
    errors.manager.emit_message = &JpegMessage;
    errors.warned = false;
    jpeg_create_decompress(&info);
    int answer = kUndecided;
    if (setjmp(errors.failed) == 0)
        answer = RunJpeg(info, data, size, errors.warned);
    jpeg_destroy_decompress(&info);
    return answer;
}

// --- WebP: RGBA, the whole picture ------------------------------------------

int WebpOneColour(const uint8_t* data, size_t size)
{
    if (size < 12 || std::memcmp(data, "RIFF", 4) != 0 || std::memcmp(data + 8, "WEBP", 4) != 0)
        return kUndecided;
    WebPDecoderConfig config;
    if (!WebPInitDecoderConfig(&config) || WebPGetFeatures(data, size, &config.input) != VP8_STATUS_OK)
        return kUndecided;
    if (config.input.has_animation || config.input.width <= 0 || config.input.height <= 0 ||
        uint64_t(config.input.width) * uint64_t(config.input.height) > kMaxPixels)
        return kUndecided;
    config.output.colorspace = MODE_RGBA;
    int answer = kUndecided;
    if (WebPDecode(data, size, &config) == VP8_STATUS_OK) {
        const WebPRGBABuffer& rgba = config.output.u.RGBA;
        OnePixel pixels(4, 3);
        answer = 1;
        for (int y = 0; y < config.output.height && answer == 1; ++y)
            if (!pixels.Row(rgba.rgba + static_cast<std::size_t>(y) * static_cast<std::size_t>(rgba.stride),
                            static_cast<std::size_t>(config.output.width)))
                answer = 0;
    }
    WebPFreeDecBuffer(&config.output);
    return answer;
}

} // namespace

int OneColourNatively(const void* data, size_t size)
{
    const auto* bytes = static_cast<const uint8_t*>(data);
    if (bytes == nullptr || size < 3)
        return kUndecided;
    if (bytes[0] == 0x89)
        return PngOneColour(bytes, size);
    if (bytes[0] == 0xFF)
        return JpegOneColour(bytes, size);
    if (bytes[0] == 'R')
        return WebpOneColour(bytes, size);
    return kUndecided;
}
