#pragma once
// Bounded 8-bit texts. Texts are UTF-8; where a text is cut to a room, the cut
// never splits a character.

#include <cstdarg>
#include <cstddef>
#include <string>
#include <string_view>

// Room of the buffers that hold paths and names: 260 characters and a terminator.
inline constexpr std::size_t kTextRoom = 261;
inline constexpr std::size_t kMaxTextLength = kTextRoom - 1;

// printf into a std::string, without a length limit.
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string FormatV(const char* format, va_list args);

// The longest prefix of `text` of at most `maxBytes` bytes that does not end
// inside a UTF-8 character.
std::size_t Utf8CutLength(std::string_view text, std::size_t maxBytes);

// `text` cut to at most 260 characters.
std::string Bounded(std::string_view text, std::size_t maxLength = kMaxTextLength);

// Copies `source` into the buffer `destination` of `room` bytes. A null
// destination does nothing; a null source or a room of 0 leaves it empty;
// otherwise the copy is cut to room - 1 bytes and always terminated.
void CopyBounded(char* destination, const char* source, std::size_t room);

// Compares at most `count` bytes (all when count is -1), optionally ignoring
// ASCII letter case. A null text is smaller than any text; two nulls are equal.
// Returns -1, 0 or 1. File names on Linux are byte strings, so bytes are what
// decides equality.
int CompareTexts(const char* a, const char* b, int count, bool ignoreCase);
