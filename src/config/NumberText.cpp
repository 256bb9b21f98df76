#include "config/NumberText.h"

#include <charconv>

namespace {

int DigitValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'Z')
        return c - 'A' + 10;
    return -1;
}

std::string_view TrimTrailingBlanks(std::string_view text)
{
    std::size_t end = text.find_last_not_of(" \t");
    return end == std::string_view::npos ? std::string_view() : text.substr(0, end + 1);
}

std::uint32_t Digits(std::string_view digits, std::uint32_t base)
{
    std::uint32_t value = 0;
    for (char c : digits) {
        int digit = DigitValue(c);
        if (digit < 0)
            return 0;
        value = value * base + static_cast<std::uint32_t>(digit);
    }
    return value;
}

} // namespace

std::uint32_t ParseIntegerText(std::string_view text, int width, bool allowSign)
{
    text = TrimTrailingBlanks(text);
    if (allowSign && text.starts_with('-'))
        return 0u - ParseIntegerText(text.substr(1), width, false);
    if (text.empty())
        return 0;
    if (text[0] == '\'')
        return text.size() > 1 ? static_cast<unsigned char>(text[1]) : 0u;
    if (text[0] == '"') {
        std::uint32_t value = 0;
        std::string_view chars = text.substr(1, static_cast<std::size_t>(width));
        for (char c : chars)
            value = (value << 8) | static_cast<unsigned char>(c);
        return value;
    }
    if (text.starts_with("0x") || text.starts_with("0X"))
        return Digits(text.substr(2), 16);
    if (text[0] == '0')
        return Digits(text.substr(1), 8);
    char last = text.back();
    if (last == 'b' || last == 'B')
        return Digits(text.substr(0, text.size() - 1), 2);
    if (last == 'h' || last == 'H')
        return Digits(text.substr(0, text.size() - 1), 16);
    return Digits(text, 10);
}

double ParseFloatingText(std::string_view text)
{
    text = TrimTrailingBlanks(text);
    if (text.starts_with('+'))
        text.remove_prefix(1);
    double value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size())
        return 0;
    return value;
}
