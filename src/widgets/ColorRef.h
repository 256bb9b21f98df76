#pragma once
// Colour values as the list control and the configuration keep them: 32 bits,
// red in the low byte, green in the second, blue in the third. A value with
// the top bit set names a system colour by its index instead.

#include <cstdint>

using ColorRef = std::uint32_t;

constexpr ColorRef kSystemColorFlag = 0x80000000u;
constexpr ColorRef SystemColor(int index) { return kSystemColorFlag | static_cast<ColorRef>(index); }
constexpr bool IsSystemColor(ColorRef color) { return (color & kSystemColorFlag) != 0; }
constexpr int SystemColorIndex(ColorRef color) { return static_cast<int>(color & 0xFF); }

// The system colours the lists use.
constexpr ColorRef clWindow = SystemColor(5);
constexpr ColorRef clWindowText = SystemColor(8);
constexpr ColorRef clHighlight = SystemColor(13);
constexpr ColorRef clHighlightText = SystemColor(14);
constexpr ColorRef clBtnFace = SystemColor(15);
constexpr ColorRef clGrayText = SystemColor(17);

constexpr ColorRef Rgb(int red, int green, int blue)
{
    return static_cast<ColorRef>(red & 0xFF) | static_cast<ColorRef>(green & 0xFF) << 8 |
           static_cast<ColorRef>(blue & 0xFF) << 16;
}
constexpr int RedOf(ColorRef color) { return static_cast<int>(color & 0xFF); }
constexpr int GreenOf(ColorRef color) { return static_cast<int>(color >> 8 & 0xFF); }
constexpr int BlueOf(ColorRef color) { return static_cast<int>(color >> 16 & 0xFF); }

// Mixes the plain colours `base` and `color`: `weight` - 1 parts of `color`
// and one part of `base`, rounded, per channel. Weight 1 or less gives `base`,
// 9 or more gives `color`. Both must already be resolved from system colours.
ColorRef BlendColor(ColorRef base, ColorRef color, int weight);
