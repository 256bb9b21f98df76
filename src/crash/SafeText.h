#pragma once
// A text built in a fixed buffer without allocation, locks or locale: the
// only formatting a signal handler may do. What does not fit is cut.

#include <cstddef>
#include <cstdint>

namespace crash {

template <std::size_t N>
class SafeText {
public:
    SafeText() { buffer_[0] = '\0'; }

    const char* c_str() const { return buffer_; }
    std::size_t size() const { return size_; }
    void Clear()
    {
        size_ = 0;
        buffer_[0] = '\0';
    }

    SafeText& Char(char c)
    {
        if (size_ + 1 < N) {
            buffer_[size_++] = c;
            buffer_[size_] = '\0';
        }
        return *this;
    }
    SafeText& Text(const char* text)
    {
        for (; text != nullptr && *text != '\0'; ++text)
            Char(*text);
        return *this;
    }
    SafeText& Text(const char* text, std::size_t length)
    {
        for (std::size_t i = 0; i < length; ++i)
            Char(text[i]);
        return *this;
    }
    // Padded with blanks on the right to `width`.
    SafeText& TextLeft(const char* text, std::size_t width)
    {
        std::size_t start = size_;
        Text(text);
        while (size_ - start < width && size_ + 1 < N)
            Char(' ');
        return *this;
    }
    // Upper-case hexadecimal with at least `width` digits (zero-padded).
    SafeText& Hex(uint64_t value, int width)
    {
        char digits[17];
        int count = 0;
        do {
            digits[count++] = "0123456789ABCDEF"[value & 0xF];
            value >>= 4;
        } while (value != 0);
        for (int i = count; i < width; ++i)
            Char('0');
        while (count > 0)
            Char(digits[--count]);
        return *this;
    }
    // Decimal, right-aligned in `width` places with `pad` ('0' or ' ').
    SafeText& Dec(int64_t value, int width = 0, char pad = ' ')
    {
        char digits[21];
        int count = 0;
        bool negative = value < 0;
        uint64_t magnitude = negative ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
        do {
            digits[count++] = static_cast<char>('0' + magnitude % 10);
            magnitude /= 10;
        } while (magnitude != 0);
        int used = count + (negative ? 1 : 0);
        if (pad == '0' && negative)
            Char('-');
        for (int i = used; i < width; ++i)
            Char(pad);
        if (pad != '0' && negative)
            Char('-');
        while (count > 0)
            Char(digits[--count]);
        return *this;
    }
    // An address as wide as the machine's pointers.
    SafeText& Address(uint64_t value) { return Hex(value, 2 * static_cast<int>(sizeof(void*))); }

private:
    char buffer_[N];
    std::size_t size_ = 0;
};

} // namespace crash
