#pragma once
// Numbers read from texts, for integer and floating reads of a text value.

#include <cstdint>
#include <string_view>

// Integer syntax, tried in this order: 'c gives the code of c; "abc packs
// the characters (as many as `width` bytes hold), first character highest;
// 0x/0X is base 16 and another leading 0 base 8; else a trailing b/B means
// base 2 and h/H base 16; else base 10. With `allowSign`, a leading '-'
// negates the rest. Trailing blanks are ignored; digits are 0-9, a-z, A-Z
// (values 0-35, not checked against the base); any other character makes the
// whole text 0, as does an empty one. The result wraps at 32 bits.
std::uint32_t ParseIntegerText(std::string_view text, int width, bool allowSign);

// Ordinary decimal notation ("1.5", "-2e3"); 0 for anything else.
double ParseFloatingText(std::string_view text);
