#pragma once
// JSON texts for --json output.

#include <string>
#include <string_view>

namespace cli {

// A JSON string with its quotes; bytes that are no valid UTF-8 become
// U+FFFD so that every line parses.
std::string JsonString(std::string_view text);

} // namespace cli
