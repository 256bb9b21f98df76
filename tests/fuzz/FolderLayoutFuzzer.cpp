// Fuzzes the folder plugin's reading of names: storage paths with their
// options, path components of every layout, quadkeys and image file names.
// Whatever a component parses to must be written back the same way, or a
// stored plate would land where a listing does not find it.
#include "folder_layout.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    folder::Location location;
    std::string error;
    if (folder::ParseLocation(text, &location, &error) && location.folder.size() > text.size())
        std::abort();

    for (const char* name : {"xyz", "tms", "tc", "mp", "arcgis"}) {
        const folder::Layout& layout = *folder::FindLayout(name);
        for (size_t i = 0; i < layout.depth; ++i) {
            const folder::Field& field = layout.fields[i];
            uint64_t part;
            if (!folder::ParseField(field, text, &part))
                continue;
            char out[folder::kMaxFieldLength];
            const size_t length = folder::FormatField(field, part * field.divisor, out);
            if (std::string_view(out, length) != text)
                std::abort();
        }
    }

    char plate[plate_key::kNameBufferSize];
    if (folder::QuadkeyToName(text, plate)) {
        char digits[plate_key::kNameBufferSize];
        if (std::string_view(digits, folder::NameToQuadkey(plate, digits)) != text)
            std::abort();
    }

    std::string_view stem;
    if (folder::SplitImageFile(text, &stem) && stem.size() >= text.size())
        std::abort();
    return 0;
}
