#include "widgets/ColorRef.h"

ColorRef BlendColor(ColorRef base, ColorRef color, int weight)
{
    // Weight 1 means no part of `color`; the rounding term alone would push a
    // full channel of 255 past its byte.
    if (weight <= 1)
        return base & 0xFFFFFF;
    if (weight >= 9)
        return color & 0xFFFFFF;
    const auto mix = [weight](int a, int b) { return ((weight - 1) * b + a + (weight + 1) / 2) / weight; };
    return Rgb(mix(RedOf(base), RedOf(color)), mix(GreenOf(base), GreenOf(color)),
               mix(BlueOf(base), BlueOf(color)));
}
