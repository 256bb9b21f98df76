#include "base/SizeText.h"

#include "base/Text.h"

#include <cinttypes>

std::string FormatSize(uint32_t bytes) { return FormatTotalSize(bytes); }

std::string FormatTotalSize(uint64_t bytes)
{
    if (bytes < 1000)
        return Format("%u", static_cast<unsigned>(bytes));
    static const char kUnits[] = "BKMGTPEZYABCDEF";
    uint64_t quotient = bytes;
    uint64_t remainder = 0;
    int divisions = 0;
    while (quotient >= 1000) {
        remainder = quotient % 1000;
        quotient /= 1000;
        ++divisions;
    }
    if (divisions >= 15)
        return Format("%u.%03u?", static_cast<unsigned>(quotient), static_cast<unsigned>(remainder));
    return Format("%u.%03u%c", static_cast<unsigned>(quotient), static_cast<unsigned>(remainder), kUnits[divisions]);
}

std::string FormatByteSize(uint64_t bytes)
{
    if (bytes < 1024)
        return Format("%" PRIu64 " B", bytes);
    const char* units = "KMGTPE";
    double value = static_cast<double>(bytes);
    int unit = -1;
    while (value >= 1024 && unit < 5) {
        value /= 1024;
        ++unit;
    }
    return Format("%.1f %ciB", value, units[unit]);
}
