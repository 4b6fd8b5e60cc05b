// The front-end chip of each channel: 17 registers, decoded into its 72 parameters with the
// simulated board's own copy of the register layout. The copy is typed here from the chip's
// description and deliberately not shared with the product's packing tables, so that a packing
// mistake shows up as a wrong decoded value.
#include "board/sim/simstate.h"

#include <algorithm>

namespace simboard {

namespace {

constexpr uint8_t kTop = 128;   // the register's top flag bit; not one of the parameters

// {parameter, width, position, reversed, inverted}
const std::vector<TChipField> kLayout[kChipRegisters] = {
    /* 0 */ {{1, 8, 0, true, false}, {2, 1, 8, false, false}, {3, 1, 9, false, false},
             {47, 1, 10, false, false}, {48, 1, 11, false, false}, {49, 1, 12, false, false},
             {kTop, 1, 13, false, false}},
    /* 1 */ {{4, 8, 0, true, false}, {5, 4, 8, true, false}, {6, 1, 12, false, false},
             {7, 1, 13, false, false}},
    /* 2 */ {{8, 8, 0, true, false}, {9, 1, 8, false, false}, {10, 1, 9, false, false},
             {11, 1, 10, false, false}, {12, 2, 11, true, false}, {50, 1, 13, true, false}},
    /* 3 */ {{13, 1, 0, false, false}, {14, 2, 1, true, false}, {15, 1, 3, false, false},
             {16, 8, 4, true, false}, {17, 1, 12, false, false}, {kTop, 1, 13, false, false}},
    /* 4 */ {{18, 10, 0, true, false}},
    /* 5 */ {{19, 10, 0, true, false}, {40, 1, 10, false, false}, {41, 1, 11, false, false},
             {51, 1, 12, false, false}, {kTop, 1, 13, false, false}},
    /* 6 */ {{52, 5, 0, true, false}, {53, 4, 5, true, false}, {54, 4, 9, true, false},
             {kTop, 1, 13, false, false}},
    /* 7 */ {{20, 1, 0, false, false}, {21, 5, 1, true, false}, {22, 8, 6, true, false}},
    /* 8 */ {{23, 1, 0, false, false}, {55, 1, 1, false, false}, {24, 4, 2, true, true},
             {25, 8, 6, true, false}},
    /* 9 */ {{56, 6, 0, true, false}, {27, 3, 6, true, false}, {28, 1, 9, false, false}},
    /* 10 */ {{29, 8, 0, true, false}, {31, 1, 8, false, false}, {32, 1, 9, false, false},
              {57, 1, 10, false, false}, {kTop, 1, 11, false, false}},
    /* 11 */ {{33, 4, 0, true, false}, {34, 3, 4, true, false}, {35, 3, 7, true, false},
              {58, 1, 10, false, false}, {59, 1, 11, false, false}},
    /* 12 */ {{36, 1, 0, false, false}, {37, 3, 1, true, false}, {38, 4, 4, true, false},
              {39, 5, 8, true, false}, {kTop, 1, 13, false, false}},
    /* 13 */ {{43, 4, 0, true, false}, {60, 4, 4, true, false}, {61, 2, 8, true, false},
              {62, 1, 10, false, false}, {kTop, 1, 11, false, false}},
    /* 14 */ {{63, 1, 2, false, false}, {64, 1, 3, false, false}, {44, 1, 4, false, false},
              {65, 1, 5, false, false}, {45, 2, 6, true, false}, {46, 3, 8, true, false},
              {kTop, 1, 11, false, false}},
    /* 15 */ {{66, 10, 0, true, false}, {67, 1, 10, false, false}, {68, 1, 11, false, false},
              {69, 1, 12, false, false}, {kTop, 1, 13, false, false}},
    /* 16 */ {{30, 5, 0, true, false}, {70, 3, 5, true, false}, {71, 4, 8, true, false}},
};

uint16_t mirror(uint16_t x, int width)
{
    uint16_t r = 0;
    for (int i = 0; i < width; ++i)
        if (x & (1u << i))
            r |= static_cast<uint16_t>(1u << (width - 1 - i));
    return r;
}

} // namespace

const std::vector<TChipField>& chipFields(int reg)
{
    static const std::vector<TChipField> none;
    return reg >= 0 && reg < kChipRegisters ? kLayout[reg] : none;
}

int chipTopBit(int reg)
{
    if (reg < 0 || reg >= kChipRegisters)
        return -1;
    int top = 0;
    for (const auto& f : kLayout[reg])
        top = std::max(top, f.position + f.width - 1);
    return top;
}

void TFrontEndChip::write(int r, uint16_t value)
{
    reg[r] = value;
    written[r] = true;
    ++writes;
    for (const auto& f : kLayout[r]) {
        if (f.param >= kChipParams)
            continue;
        uint16_t widthMask = static_cast<uint16_t>((1u << f.width) - 1);
        uint16_t x = static_cast<uint16_t>((value >> f.position) & widthMask);
        if (f.reversed)
            x = mirror(x, f.width);
        if (f.inverted)
            x ^= widthMask;
        params[f.param] = x;
        decoded[f.param] = true;
    }
}

} // namespace simboard
