// Scale and unit helpers: the constant scale tables, the time-base tables and the vertical and
// horizontal scales and units of a trace.
#pragma once

#include <QString>

#include <cstdint>

class TAcquisition;

// Kind of vertical scale passed to the scale helpers.
enum TScale : int {
    SCALE_SCOPE = 0,
    SCALE_XY = 1,
    SCALE_FFT = 2,
    SCALE_FFT_DB = 3,
    SCALE_METER = 4,
    SCALE_OHMMETER = 5,
    SCALE_CAPACITANCE = 6,
    SCALE_DIODE = 7,
    SCALE_POWER = 8,
};

// Time-base indices 0..34 are the user's; entry 35 exists in the tables but is no time base.
constexpr unsigned short kTimeBaseCount = 35;
constexpr unsigned short kTimeBaseTableSize = 36;

// Units per code of the scope sensitivities (V/div / 32760), meter voltage ranges, ohmmeter
// ranges; farads of a division of the capacitance ranges.
extern const float coeffScope[16];
extern const float coeffMeter[4];
extern const float coeffOhm[7];
extern const double CapaGamme[8];

// Seconds per point of the 100,000-point record (a division is 10,000 points), as the
// single-precision table holds it. An index beyond the table gives 0.
float GetHorizontalScaleT(unsigned short index);
// Hardware sampling period of the time base, seconds. An index beyond the table gives 0.
float GetRealHorizontalScaleT(unsigned short index);
// Hertz per point of the FFT display: float(1 / (T x 2e5 x 40)).
double GetHorizontalScaleF(unsigned short index);
// Record duration of the time base, seconds.
float GetAcquisitionLength(unsigned short index);
// Horizontal scale per point in the current mode and display format.
float GetHorizontalScale(unsigned short index);
// "Hz" or "s" for the current mode and display format (a constant text).
const char* GetHorizontalUnit();
// Value of one horizontal division in the current mode (0 outside scope, bus and harmonic).
float GetHorizontalDiv(unsigned short index);

// Units per code of a sensitivity or range index of a scale kind. Indices are clamped into
// their table.
float GetSensitivity(unsigned short index, TScale scale);
// Units per code of a trace's vertical scale; index is a sensitivity or range index (-1: the
// trace's own).
float GetVerticalScale(TAcquisition* trace, TScale scale, short index);
// Offset of the trace in units.
float GetVerticalOffset(TAcquisition* trace, TScale scale);
// Vertical position of the trace in codes.
int GetVerticalCadrage(TAcquisition* trace, TScale scale);
// Unit text of the trace; display true gives the ohm and degree signs, false the file form
// ('{' for ohm, '}' for degree).
QString GetVerticalUnit(TAcquisition* trace, TScale scale, bool display);
// Units of one vertical division.
float GetVerticalDiv(TAcquisition* trace, unsigned short index, TScale scale);
