#pragma once
// Writing a picture as a PNG file, with libpng: the tool links no Qt.

#include <cstdint>
#include <string>
#include <vector>

namespace cli {

// `pixels` holds width x height pixels of 4 bytes (red, green, blue,
// alpha), row 0 first. False with `error` set when the file cannot be
// written; a failed file is removed.
bool WritePng(const std::string& file, const std::vector<uint8_t>& pixels, int width, int height, std::string* error);

} // namespace cli
