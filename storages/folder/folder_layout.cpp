#include "folder_layout.h"

#include <cstring>

namespace folder {

namespace {

constexpr Field Z(uint8_t width) { return {0, Coord::Z, 10, width, 1, 0}; }
constexpr Field Part(Coord coord, uint8_t width, uint32_t divisor, uint32_t modulus) {
    return {0, coord, 10, width, divisor, modulus};
}

constexpr Layout kPlates{"plates", LayoutKind::PlateTree, false, 0, {}};
constexpr Layout kXyz{"xyz", LayoutKind::Numbered, false, 3,
                      {Z(0), Part(Coord::X, 0, 1, 0), Part(Coord::Y, 0, 1, 0)}};
constexpr Layout kTms{"tms", LayoutKind::Numbered, true, 3,
                      {Z(0), Part(Coord::X, 0, 1, 0), Part(Coord::Y, 0, 1, 0)}};
constexpr Layout kTc{"tc", LayoutKind::Numbered, true, 7,
                     {Z(2), Part(Coord::X, 3, 1000000, 0), Part(Coord::X, 3, 1000, 1000),
                      Part(Coord::X, 3, 1, 1000), Part(Coord::Y, 3, 1000000, 0),
                      Part(Coord::Y, 3, 1000, 1000), Part(Coord::Y, 3, 1, 1000)}};
constexpr Layout kMp{"mp", LayoutKind::Numbered, true, 5,
                     {Z(2), Part(Coord::X, 4, 10000, 0), Part(Coord::X, 4, 1, 10000),
                      Part(Coord::Y, 4, 10000, 0), Part(Coord::Y, 4, 1, 10000)}};
constexpr Layout kQuadkey{"quadkey", LayoutKind::Quadkey, false, 0, {}};
constexpr Layout kArcgis{"arcgis", LayoutKind::Numbered, false, 3,
                         {{'L', Coord::Z, 10, 2, 1, 0}, {'R', Coord::Y, 16, 8, 1, 0},
                          {'C', Coord::X, 16, 8, 1, 0}}};

constexpr const Layout* kLayouts[] = {&kPlates, &kXyz, &kTms, &kTc, &kMp, &kQuadkey, &kArcgis};

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

int DigitValue(char c, unsigned radix) {
    int value = -1;
    if (c >= '0' && c <= '9')
        value = c - '0';
    else if (c >= 'a' && c <= 'f') // as written: lookups build the same text
        value = c - 'a' + 10;
    return value >= 0 && static_cast<unsigned>(value) < radix ? value : -1;
}

bool StartsWith(std::string_view text, std::string_view start) {
    return text.substr(0, start.size()) == start;
}

} // namespace

const Layout* FindLayout(std::string_view name) {
    for (const Layout* layout : kLayouts)
        if (name == layout->name)
            return layout;
    return nullptr;
}

const char* LayoutNames() { return "plates, xyz, tms, tc, mp, quadkey, arcgis"; }

const Layout& DefaultLayout() { return kXyz; }

bool ParseField(const Field& field, std::string_view text, uint64_t* part) {
    if (field.prefix) {
        if (text.empty() || text[0] != field.prefix)
            return false;
        text.remove_prefix(1);
    }
    // 11 digits hold any coordinate part of a 30-level tree in any radix.
    if (text.empty() || text.size() > 11)
        return false;
    if (field.width == 0 ? text.size() > 1 && text[0] == '0'
                         : text.size() < field.width || (text.size() > field.width && text[0] == '0'))
        return false;
    uint64_t value = 0;
    for (const char c : text) {
        const int digit = DigitValue(c, field.radix);
        if (digit < 0)
            return false;
        value = value * field.radix + static_cast<uint64_t>(digit);
    }
    if (field.modulus != 0 && value >= field.modulus)
        return false;
    *part = value;
    return true;
}

size_t FormatField(const Field& field, uint64_t value, char* out) {
    value /= field.divisor;
    if (field.modulus != 0)
        value %= field.modulus;
    char digits[kMaxFieldLength];
    size_t count = 0;
    do {
        const unsigned digit = static_cast<unsigned>(value % field.radix);
        digits[count++] = static_cast<char>(digit < 10 ? '0' + digit : 'a' + digit - 10);
        value /= field.radix;
    } while (value != 0 && count < 11);
    while (count < field.width && count < 11)
        digits[count++] = '0';
    size_t length = 0;
    if (field.prefix)
        out[length++] = field.prefix;
    while (count > 0)
        out[length++] = digits[--count];
    return length;
}

bool QuadkeyToName(std::string_view digits, char* name) {
    static constexpr char kLetters[4] = {'q', 'r', 't', 's'};
    if (digits.size() > plate_key::kMaxZoom)
        return false;
    name[0] = 't';
    for (size_t i = 0; i < digits.size(); ++i) {
        if (digits[i] < '0' || digits[i] > '3')
            return false;
        name[i + 1] = kLetters[digits[i] - '0'];
    }
    name[digits.size() + 1] = '\0';
    return true;
}

size_t NameToQuadkey(std::string_view name, char* digits) {
    size_t length = 0;
    for (size_t i = 1; i < name.size(); ++i) {
        switch (name[i]) {
        case 'q': digits[length++] = '0'; break;
        case 'r': digits[length++] = '1'; break;
        case 't': digits[length++] = '2'; break;
        default: digits[length++] = '3'; break;
        }
    }
    return length;
}

bool IsImageExtension(std::string_view ext) {
    for (const char* known : kImageExtensions) {
        const std::string_view k(known);
        if (ext.size() != k.size())
            continue;
        size_t i = 0;
        while (i < ext.size() && Lower(ext[i]) == k[i])
            ++i;
        if (i == ext.size())
            return true;
    }
    return false;
}

bool SplitImageFile(std::string_view file, std::string_view* stem) {
    const size_t dot = file.rfind('.');
    if (dot == std::string_view::npos || !IsImageExtension(file.substr(dot + 1)))
        return false;
    *stem = file.substr(0, dot);
    return true;
}

const char* ExtensionFor(const void* data, size_t size) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    const auto starts = [&](const char* magic, size_t offset = 0) {
        const size_t length = std::strlen(magic);
        return size >= offset + length && std::memcmp(bytes + offset, magic, length) == 0;
    };
    if (starts("\x89PNG"))
        return "png";
    if (starts("\xFF\xD8\xFF"))
        return "jpg";
    if (starts("RIFF") && starts("WEBP", 8))
        return "webp";
    if (starts("GIF8"))
        return "gif";
    if (starts("BM"))
        return "bmp";
    return "jpg";
}

bool ParseLocation(std::string_view path, Location* location, std::string* error) {
    *location = Location{};
    const size_t mark = path.rfind('?');
    if (mark == std::string_view::npos) {
        location->folder = std::string(path);
        return true;
    }
    location->folder = std::string(path.substr(0, mark));
    std::string_view options = path.substr(mark + 1);
    while (!options.empty()) {
        const size_t end = options.find('&');
        const std::string_view option = options.substr(0, end);
        options = end == std::string_view::npos ? std::string_view() : options.substr(end + 1);
        if (StartsWith(option, "layout=")) {
            location->layout = FindLayout(option.substr(7));
            if (!location->layout) {
                *error = "Unknown folder layout \"" + std::string(option.substr(7)) +
                         "\"; known layouts: " + LayoutNames();
                return false;
            }
        } else if (option == "origin=nw") {
            location->origin = 1;
        } else if (option == "origin=sw") {
            location->origin = 2;
        } else {
            *error = "Unknown option \"" + std::string(option) +
                     "\" after the folder; use ?layout=NAME and &origin=nw or &origin=sw";
            return false;
        }
    }
    return true;
}

} // namespace folder
