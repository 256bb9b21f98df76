#pragma once
// Pieces of the plugins' error texts, which must fit the program's buffer.

#include <cstring>
#include <string>
#include <string_view>

namespace message_text {

// The file name of `path`, for messages.
inline std::string FileName(const char* path) {
    const char* slash = std::strrchr(path, '/');
    return slash ? slash + 1 : path;
}

// `text` in double quotes, cut to `limit` characters with "..." when longer.
inline std::string Quoted(std::string_view text, size_t limit = 40) {
    std::string quoted(1, '"');
    quoted.append(text.substr(0, limit));
    if (text.size() > limit)
        quoted += "...";
    return quoted += '"';
}

} // namespace message_text
