#include "base/Text.h"

#include <cstdio>
#include <cstring>

std::string FormatV(const char* format, va_list args)
{
    va_list copy;
    va_copy(copy, args);
    int length = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    if (length <= 0)
        return std::string();
    std::string text(static_cast<std::size_t>(length), '\0');
    std::vsnprintf(text.data(), text.size() + 1, format, args);
    return text;
}

std::string Format(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    std::string text = FormatV(format, args);
    va_end(args);
    return text;
}

std::size_t Utf8CutLength(std::string_view text, std::size_t maxBytes)
{
    if (text.size() <= maxBytes)
        return text.size();
    std::size_t cut = maxBytes;
    // Step back over continuation bytes (10xxxxxx) to the start of the
    // character that would be split.
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80)
        --cut;
    return cut;
}

std::string Bounded(std::string_view text, std::size_t maxLength)
{
    return std::string(text.substr(0, Utf8CutLength(text, maxLength)));
}

void CopyBounded(char* destination, const char* source, std::size_t room)
{
    if (destination == nullptr)
        return;
    if (source == nullptr || room == 0) {
        if (room != 0)
            destination[0] = '\0';
        return;
    }
    std::size_t length = Utf8CutLength(std::string_view(source, strnlen(source, room)), room - 1);
    std::memcpy(destination, source, length);
    destination[length] = '\0';
}

int CompareTexts(const char* a, const char* b, int count, bool ignoreCase)
{
    if (a == nullptr || b == nullptr)
        return a == b ? 0 : (a == nullptr ? -1 : 1);
    std::size_t limit = count < 0 ? static_cast<std::size_t>(-1) : static_cast<std::size_t>(count);
    for (std::size_t i = 0; i < limit; ++i) {
        unsigned char ca = static_cast<unsigned char>(a[i]);
        unsigned char cb = static_cast<unsigned char>(b[i]);
        if (ignoreCase) {
            if (ca >= 'A' && ca <= 'Z')
                ca = static_cast<unsigned char>(ca - 'A' + 'a');
            if (cb >= 'A' && cb <= 'Z')
                cb = static_cast<unsigned char>(cb - 'A' + 'a');
        }
        if (ca != cb)
            return ca < cb ? -1 : 1;
        if (ca == '\0')
            return 0;
    }
    return 0;
}
