#pragma once
// Options, row states and grid styles of the list control. No Qt here, so the
// core can name them too.

#include <cstdint>
#include <initializer_list>

// In ordinal order; a set of them is kept as bits 0 to 16.
enum BkListOptions_t : int {
    bkoVariableHeight,
    bkoVirtual,
    bkoDoubleBuffer,
    bkoTrackItem,
    bkoColumnar,
    bkoColLines,
    bkoRowLines,
    bkoShowSelection,
    bkoShowBorder,
    bkoForceSelection,
    bkoAutoScrollToLastUsed,
    bkoLogStyle,
    bkoNewLogAtEnd,
    bkoLimitedSize,
    bkoRemoveOnLimitExceed,
    bkoFlat,
    bkoShowItemHint,
};

class BkListOptions {
public:
    static constexpr std::uint32_t kAllBits = (1u << (bkoShowItemHint + 1)) - 1;

    constexpr BkListOptions() = default;
    constexpr BkListOptions(std::initializer_list<BkListOptions_t> options)
    {
        for (BkListOptions_t option : options)
            bits_ |= Bit(option);
    }
    static constexpr BkListOptions FromBits(std::uint32_t bits)
    {
        BkListOptions options;
        options.bits_ = bits & kAllBits;
        return options;
    }

    constexpr std::uint32_t Bits() const { return bits_; }
    constexpr bool Has(BkListOptions_t option) const { return (bits_ & Bit(option)) != 0; }
    constexpr BkListOptions With(BkListOptions_t option, bool on = true) const
    {
        return FromBits(on ? bits_ | Bit(option) : bits_ & ~Bit(option));
    }
    constexpr bool operator==(const BkListOptions&) const = default;

private:
    static constexpr std::uint32_t Bit(BkListOptions_t option) { return 1u << option; }
    std::uint32_t bits_ = 0;
};

// Bits of the row state handed to the draw events.
enum BkItemState : unsigned {
    bkisSelected = 0x01,
    bkisDisabled = 0x04,
    bkisFocused = 0x10, // the row has the focus frame
};

// Line styles of the grid. InsideFrame fills the line with a fine pattern of
// grid and background colour.
enum class BkGridStyle : int { Solid, Dash, Dot, DashDot, DashDotDot, Clear, InsideFrame };
