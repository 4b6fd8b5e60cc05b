// Analogue model of the simulated board: the input signals and how the front-end chip places
// them on the ADC. Used by the acquisition engine with the board's mutex held.
#pragma once

#include "board/sim/simstate.h"

#include <array>
#include <cmath>
#include <random>

namespace simboard {
namespace analog {

// The front end of one channel as decoded from its chip, plus the tuple that chose the
// sensitivity (kept so that an unknown tuple is logged once).
struct TChannelModel {
    TAnalogChannel a;
    std::array<uint16_t, 5> tuple{};
    bool tupleSeen = false;
};

// Refreshes m from the chip and the power bit; returns false when the sensitivity tuple is new
// and unknown (the previous volts per division stay).
bool decode(const TFrontEndChip& chip, bool powered, TChannelModel* m);

// Input voltage of a signal at t seconds (noise draws from rng).
double volts(const TSignal& s, double t, std::mt19937& rng);
// The signal's mean (what AC coupling removes).
double mean(const TSignal& s);

// Channel 1's capacitor: the drive of its path and the voltage it held when that drive began.
struct TCapacitor {
    double amps = 0.0;          // charging current (flows into the path, driving it negative)
    bool discharging = false;   // p6 = 1: through the discharge switch's 10 ohms
    double v0 = 0.0;            // volts at t0
    double t0 = 0.0;            // seconds
};
// Input capacitance of the path, in parallel with the load.
constexpr double kPathCapacitance = 200e-12;
// Volts across the capacitor at t seconds (t0 or later), clamped at the source's -4 V.
double capacitorVolts(const TLoad& load, const TCapacitor& c, double t);
// The drive a front-end chip gives channel 1's path.
TCapacitor capacitorDrive(const TFrontEndChip& chip);

// Sum of r_n sin(n x + phi_n) over the orders of a "harmonics" signal, x in radians.
double harmonicSum(const TSignal& s, double x);

// One channel prepared for a run of samples: the signal's shape decoded once, the front end's
// gain and offset folded in.
struct TPlan {
    enum Shape { Dc, Sine, Square, Triangle, Harmonics, Noise, Bus, Capacitor } shape = Dc;
    const TSignal* signal = nullptr;
    double half = 0, offset = 0, freq = 0, phase = 0, duty = 0.5, norm = 0;
    bool zero = false;        // grounded or disconnected: 0 V
    double acMean = 0;        // subtracted (AC coupling)
    TAnalogChannel a;
    const TLoad* load = nullptr;   // Capacitor: the load and its state
    TCapacitor cap;
};
void plan(const TSignal& s, const TAnalogChannel& a, bool connected, TPlan* p);
// Channel 1's test paths: while the diode source (p7 = 0 with p5 = 15) or the current relay
// (p17 = 1) is in use, the plan becomes the load's DC voltage (the current path with its own
// gain and a bias of -62 thousandths); false (plan unchanged) otherwise.
bool planPath(const TLoad& load, const TCapacitor& cap, TPlan* p);
// Volts at t seconds of a planned channel.
double plannedVolts(const TPlan& p, double t, std::mt19937& rng);

// The calibration bench and the analogue errors of the chip's channel folded into a (after the
// front end's own decoding): gain, output offset and trims, current source, and while the
// calibration set is loaded the bench's ground, references and current measurement.
void applyBench(const TFrontEndChip& chip, TAnalogChannel* a);
// The offset DAC's span on the side of code dac relative to its nominal one: it is set by the
// reference of that side and its trim (p4 above mid-scale, p8 below). A channel without
// reference errors has nothing for the trims to null, and its model leaves them out.
double referenceFactor(const TFrontEndChip& chip, double dac);
// Amps of the current source's range code p5 (0: none).
double currentOfCode(uint16_t code);

// Displayed level in thousandths of the screen height, and the ADC code. The offset DAC adds
// before the amplifier, the output offset after it.
inline double units(const TAnalogChannel& a, double v)
{
    return a.gain * (v / a.voltsPerDiv * 125.0 + a.offsetUnits) + a.outputUnits;
}
// The ADC spans about +-569 thousandths: beyond, it clips (never wraps). An unpowered channel
// reads mid-scale.
inline uint16_t code(const TAnalogChannel& a, double u)
{
    if (!a.powered)
        return 2048;
    const double raw = std::floor(2047.5 + 3.6 * u + 0.5);
    return static_cast<uint16_t>(raw < 0 ? 0.0 : raw > 4095 ? 4095.0 : raw);
}

// Comparator output for level u.
inline bool comparator(const TAnalogChannel& a, double u)
{
    return a.risingOutput ? u > a.thresholdUnits : u < a.thresholdUnits;
}

} // namespace analog
} // namespace simboard
