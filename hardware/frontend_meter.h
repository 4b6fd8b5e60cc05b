// Multimeter front end: the scope sensitivity behind each meter and resistance range.
#pragma once

#include <cstdint>

constexpr int kMeterVoltageRanges = 4;
constexpr int kOhmRanges = 7;

// Scope sensitivity index of each meter voltage range (0.8, 8, 80, 800 V).
extern const int16_t Sensibilite[kMeterVoltageRanges];

// One row per resistance range (ohmRange 0..6), 8 bytes.
struct TOhmParametres {
    uint8_t currentCode;   // front-end parameter 5 (iGamme)
    uint8_t sensitivity;   // sensitivity index of the trims
    uint8_t p24, p27, p35, p33, p34, p56;
};
static_assert(sizeof(TOhmParametres) == 8, "resistance range row");

extern const TOhmParametres OhmParametres[kOhmRanges];

// The sensitivity of a meter voltage range 0..3; -1 for any other range.
int16_t MeterRangeToScopeSensibility(int range);
// The sensitivity of a resistance range 0..6; -1 for any other range.
int16_t OhmRangeToScopeSensibility(int range);

// Meter input current relay (channel 0 only; others: nothing): p17 := closed, then a p2 pulse.
void MMRelaisCourant(uint16_t channel, bool closed);
