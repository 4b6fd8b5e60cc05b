// Capacitance front end: the per-range settings of the capacitance meter.
#pragma once

#include <cstdint>

constexpr int kCapaRanges = 8;

// One row per capacitance range (capaRange 0..7), 9 bytes.
struct TCapaParametres {
    uint8_t currentCode;   // front-end parameter 5 (iGamme) while the ramp runs
    uint8_t sensitivity;   // scope sensitivity index of the range
    uint8_t p24, p27, p35, p33, p34, p56;
    uint8_t timeBase;      // time-base index of the range
};
static_assert(sizeof(TCapaParametres) == 9, "capacitance range row");

extern const TCapaParametres CapaParametres[kCapaRanges];

// Nominal measurement current of a current code, amperes (0 for a code without a current).
double CapaCurrentOfCode(uint8_t currentCode);

// Fills, each only when its pointer is given, the range's time-base index, sensitivity index and
// nominal current. A range outside 0..7 fills nothing and returns false.
bool CapaRangeToScopeReglages(int range, unsigned short* timeBase, unsigned short* sensitivity, double* current);

struct calibration;

// Capacitance set-up of a channel, and the gain and current of a capacitance range.
void ConfigurationCapa(uint16_t channel, calibration* calib);
void MMGammeCapa(uint16_t channel, int16_t range, calibration* calib);

// Starts (on) or stops the capacitance charging ramp on channel 1.
void MMRampCapa(bool on);
