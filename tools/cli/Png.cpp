#include "Png.h"

#include "log/Errors.h"

#include <png.h>

#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <memory>

namespace cli {

namespace {

struct FileClose {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

// libpng reports its errors by longjmp; the message is kept for the caller.
void OnPngError(png_structp png, png_const_charp message)
{
    *static_cast<std::string*>(png_get_error_ptr(png)) = message;
    png_longjmp(png, 1);
}

void OnPngWarning(png_structp, png_const_charp) {}

// The part that longjmp may leave: only plain data lives here.
bool Encode(std::FILE* file, const std::vector<uint8_t>& pixels, int width, int height, std::string* message)
{
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, message, &OnPngError, &OnPngWarning);
    if (png == nullptr)
        return false;
    png_infop info = png_create_info_struct(png);
    if (info == nullptr || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_init_io(png, file);
    png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8,
                 PNG_COLOR_TYPE_RGB_ALPHA, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int y = 0; y < height; ++y)
        png_write_row(png, pixels.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(width) * 4);
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return true;
}

} // namespace

bool WritePng(const std::string& file, const std::vector<uint8_t>& pixels, int width, int height, std::string* error)
{
    std::unique_ptr<std::FILE, FileClose> out(std::fopen(file.c_str(), "wb"));
    if (!out) {
        *error = "cannot write " + file + ": " + ErrorText(errno);
        return false;
    }
    std::string message;
    const bool encoded = Encode(out.get(), pixels, width, height, &message);
    const bool flushed = encoded && std::fflush(out.get()) == 0 && !std::ferror(out.get());
    const int why = errno;
    const bool closed = std::fclose(out.release()) == 0;
    if (encoded && flushed && closed)
        return true;
    *error = "cannot write " + file + ": " + (!message.empty() ? message : ErrorText(why));
    std::remove(file.c_str());
    return false;
}

} // namespace cli
