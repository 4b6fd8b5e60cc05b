// Analogue model: signal sources, sensitivity, offset DAC, coupling and trigger comparator of
// each channel. The sensitivity table is this model's own copy of the front end's
// (p24, p27, p35, p33, p34) rows, so that a wrong row in the product shows as a wrong level.
#include "board/sim/simanalog.h"

#include <algorithm>
#include <cmath>

namespace simboard {
namespace analog {

namespace {

constexpr double kPi = 3.14159265358979323846;

struct TVoltRow {
    uint16_t p24, p27, p35, p33, p34;
    double voltsPerDiv;
};

// p56 is not part of the match.
const TVoltRow kVoltRows[16] = {
    {14, 7, 4, 8, 7, 0.0025}, {14, 7, 4, 4, 3, 0.005}, {14, 7, 4, 2, 2, 0.01}, {14, 7, 2, 2, 2, 0.02},
    {14, 7, 2, 1, 0, 0.05},   {14, 7, 1, 1, 0, 0.1},   {13, 6, 4, 2, 2, 0.2},  {13, 6, 4, 1, 1, 0.5},
    {13, 6, 2, 1, 0, 1},      {13, 6, 1, 1, 1, 2},     {11, 4, 4, 1, 0, 5},    {11, 4, 2, 1, 0, 10},
    {11, 4, 1, 1, 0, 20},     {7, 0, 4, 1, 0, 50},     {7, 0, 2, 1, 0, 100},   {7, 0, 1, 1, 0, 200},
};

// Channel 1's current path: its own gains where the scope table has no row, else twice the row.
struct TPathRow {
    uint16_t p24, p27, p35, p33, p34;
    double voltsPerDiv;
};
const TPathRow kPathRows[2] = {{14, 7, 4, 1, 1, 0.05}, {14, 7, 1, 1, 1, 0.02}};

// Offset of the current path, thousandths of the screen height.
constexpr double kPathBiasUnits = -62.0;
// Grounded, an offset DAC beyond these codes puts the trace on the screen edge.
constexpr uint16_t kDacTopEdge = 307;
constexpr uint16_t kDacBottomEdge = 717;
constexpr double kEdgeUnits = 500.0;

constexpr double kSourceCompliance = -4.0;
constexpr double kDischargeOhms = 10.0;
constexpr double kDiodeSourceVolts = 3.3;
constexpr double kDiodeSourceAmps = 1e-3;

double pathVoltsPerDiv(const std::array<uint16_t, 5>& tuple, double fallback)
{
    for (const TPathRow& r : kPathRows)
        if (tuple == std::array<uint16_t, 5>{r.p24, r.p27, r.p35, r.p33, r.p34})
            return r.voltsPerDiv;
    for (const TVoltRow& r : kVoltRows)
        if (tuple == std::array<uint16_t, 5>{r.p24, r.p27, r.p35, r.p33, r.p34})
            return 2.0 * r.voltsPerDiv;
    return fallback;
}

double frac(double x)
{
    return x - std::floor(x);
}

bool decodeFrontEnd(const TFrontEndChip& chip, bool powered, TChannelModel* m);

} // namespace

double currentOfCode(uint16_t code)
{
    switch (code) {
    case 7: return 50e-9;
    case 11: return 2e-6;
    case 13: return 50e-6;
    case 14: return 0.5e-3;
    default: return 0.0;
    }
}

bool decode(const TFrontEndChip& chip, bool powered, TChannelModel* m)
{
    const bool known = decodeFrontEnd(chip, powered, m);
    applyBench(chip, &m->a);
    return known;
}

namespace {

bool decodeFrontEnd(const TFrontEndChip& chip, bool powered, TChannelModel* m)
{
    const auto& p = chip.params;
    TAnalogChannel& a = m->a;
    a.powered = powered;
    a.ground = p[13] == 1;
    a.ac = p[3] == 1;
    // A stuck offset DAC stays at mid-scale whatever p18 says.
    const double dac = chip.offsetDacStuck ? 512.0 : p[18];
    // The DAC spans between the references: its slope and, grounded, the edges it stops at.
    const double reference = referenceFactor(chip, dac);
    a.offsetUnits = (512.0 - dac) * 20000.0 / 8184.0 * reference;
    if (a.ground && dac < kDacTopEdge)
        a.offsetUnits = kEdgeUnits * reference;
    else if (a.ground && dac > kDacBottomEdge)
        a.offsetUnits = -kEdgeUnits * reference;
    // The one modelled calibration trim: while the calibration path is selected (p11 = 1) and
    // p35 is not 0 the code moves by (p16 - 128) x p35 steps (3.6 codes a thousandth of the
    // screen). The live modes never select that path.
    if (p[11] == 1 && p[35] != 0)
        a.offsetUnits += (static_cast<double>(p[16]) - 128.0) * p[35] / 3.6;
    a.currentRelay = p[17] == 1;
    a.currentAmps = p[6] == 0 ? currentOfCode(p[5]) : 0.0;
    // The diode source is selected with the current source off (p5 = 15).
    a.diodeSource = p[7] == 0 && p[5] == 15;
    a.thresholdUnits = -(static_cast<double>(p[19]) - 511.0) * 20000.0 / 8184.0;
    a.risingOutput = p[41] == 1;
    a.triggerDisabled = p[40] == 1;

    const std::array<uint16_t, 5> tuple = {p[24], p[27], p[35], p[33], p[34]};
    a.pathVoltsPerDiv = pathVoltsPerDiv(tuple, a.voltsPerDiv);
    if (m->tupleSeen && tuple == m->tuple)
        return true;
    m->tuple = tuple;
    m->tupleSeen = true;
    for (int r = 0; r < 16; ++r) {
        const TVoltRow& row = kVoltRows[r];
        if (tuple == std::array<uint16_t, 5>{row.p24, row.p27, row.p35, row.p33, row.p34}) {
            a.voltsPerDiv = row.voltsPerDiv;
            a.sensitivityRow = r;
            return true;
        }
    }
    return false;
}

} // namespace

double mean(const TSignal& s)
{
    if (s.shape == "bus")
        return s.busModel ? s.busModel->mean[s.wire] / s.attenuation : 0.0;
    if (s.shape == "square")
        return s.offset + s.vpp * (std::clamp(s.duty, 0.0, 100.0) / 100.0 - 0.5);
    return s.offset;
}

double volts(const TSignal& s, double t, std::mt19937& rng)
{
    const double half = s.vpp / 2;
    const double ph = s.phase / 360.0;
    const double x = s.frequency * t + ph;
    if (s.shape == "sine")
        return s.offset + half * std::sin(2 * kPi * x);
    if (s.shape == "square")
        return s.offset + (frac(x) < std::clamp(s.duty, 0.0, 100.0) / 100.0 ? half : -half);
    if (s.shape == "triangle") {
        const double f = frac(x);
        return s.offset + half * (f < 0.5 ? 4 * f - 1 : 3 - 4 * f);
    }
    if (s.shape == "harmonics") {
        double norm = 0;
        for (double h : s.harmonics)
            norm += std::fabs(h);
        return s.offset + (norm > 0 ? half * harmonicSum(s, 2 * kPi * x) / norm : 0.0);
    }
    if (s.shape == "noise")
        return s.offset + half * (static_cast<double>(rng()) / 2147483647.5 - 1.0);
    if (s.shape == "bus")
        return s.busModel ? bus::wireVolts(*s.busModel, s.wire, t) / s.attenuation : 0.0;
    return s.offset;  // "dc"
}

void plan(const TSignal& s, const TAnalogChannel& a, bool connected, TPlan* p)
{
    p->signal = &s;
    p->a = a;
    p->zero = !connected || a.ground || a.isolated;
    p->half = s.vpp / 2;
    p->offset = s.offset;
    p->freq = s.frequency;
    p->phase = s.phase / 360.0;
    p->duty = std::clamp(s.duty, 0.0, 100.0) / 100.0;
    p->acMean = a.ac ? mean(s) : 0.0;
    p->norm = 0;
    for (double h : s.harmonics)
        p->norm += std::fabs(h);
    if (s.shape == "sine")
        p->shape = TPlan::Sine;
    else if (s.shape == "square")
        p->shape = TPlan::Square;
    else if (s.shape == "triangle")
        p->shape = TPlan::Triangle;
    else if (s.shape == "harmonics")
        p->shape = TPlan::Harmonics;
    else if (s.shape == "noise")
        p->shape = TPlan::Noise;
    else if (s.shape == "bus" && s.busModel)
        p->shape = TPlan::Bus;
    else
        p->shape = TPlan::Dc;
    if (a.benchSource) {
        p->shape = TPlan::Dc;
        p->zero = false;
        p->offset = a.benchVolts;
        p->half = 0.0;
        p->freq = 0.0;
        p->acMean = 0.0;
    }
}

double harmonicSum(const TSignal& s, double x)
{
    double sum = 0;
    for (size_t k = 0; k < s.harmonics.size(); ++k) {
        const double phi = k < s.harmonicPhases.size() ? s.harmonicPhases[k] * kPi / 180.0 : 0.0;
        sum += s.harmonics[k] * std::sin(static_cast<double>(k + 1) * x + phi);
    }
    return sum;
}

TCapacitor capacitorDrive(const TFrontEndChip& chip)
{
    const auto& p = chip.params;
    TCapacitor c;
    TAnalogChannel a;
    applyBench(chip, &a);
    c.amps = p[17] == 1 && p[6] == 0 ? currentOfCode(p[5]) * a.currentGain : 0.0;
    c.discharging = p[6] == 1;
    return c;
}

double capacitorVolts(const TLoad& load, const TCapacitor& c, double t)
{
    const double farads = load.farads + kPathCapacitance;
    const double dt = std::max(0.0, t - c.t0);
    const double conductance = (load.leakOhms > 0 ? 1.0 / load.leakOhms : 0.0) + (c.discharging ? 1.0 / kDischargeOhms : 0.0);
    double v;
    if (conductance == 0.0) {
        v = c.v0 - c.amps * dt / farads;
    } else {
        // The current source against the resistances: an exponential towards -I / G.
        const double settled = -c.amps / conductance;
        v = settled + (c.v0 - settled) * std::exp(-dt * conductance / farads);
    }
    return std::max(v, kSourceCompliance);
}

bool planPath(const TLoad& load, const TCapacitor& cap, TPlan* p)
{
    TAnalogChannel& a = p->a;
    double v = 0.0;
    if (a.diodeSource) {
        if (load.kind == "diode")
            v = load.volts;
        else if (load.kind == "resistor")
            v = std::min(kDiodeSourceVolts, kDiodeSourceAmps * load.ohms);
        else
            v = kDiodeSourceVolts;
    } else if (a.currentRelay && load.kind == "capacitor") {
        a.voltsPerDiv = a.pathVoltsPerDiv;
        if (!a.ground)
            a.offsetUnits += kPathBiasUnits;
        p->shape = TPlan::Capacitor;
        p->load = &load;
        p->cap = cap;
        p->zero = a.ground;
        p->half = 0.0;
        p->freq = 0.0;
        p->acMean = 0.0;
        return true;
    } else if (a.currentRelay) {
        const double i = a.currentAmps;
        if (i > 0.0) {
            if (load.kind == "resistor")
                v = -i * load.ohms;
            else if (load.kind == "diode")
                v = -load.volts;
            else
                v = kSourceCompliance;
        }
        v = std::max(v, kSourceCompliance);
        a.voltsPerDiv = a.pathVoltsPerDiv;
        if (!a.ground)
            a.offsetUnits += kPathBiasUnits;
    } else {
        return false;
    }
    p->shape = TPlan::Dc;
    p->zero = a.ground;
    p->offset = v;
    p->half = 0.0;
    p->freq = 0.0;
    p->acMean = a.ac ? v : 0.0;
    return true;
}

double plannedVolts(const TPlan& p, double t, std::mt19937& rng)
{
    if (p.zero)
        return 0;
    const double x = p.freq * t + p.phase;
    double v = p.offset;
    switch (p.shape) {
    case TPlan::Dc: break;
    case TPlan::Sine: v += p.half * std::sin(2 * kPi * x); break;
    case TPlan::Square: v += frac(x) < p.duty ? p.half : -p.half; break;
    case TPlan::Triangle: {
        const double f = frac(x);
        v += p.half * (f < 0.5 ? 4 * f - 1 : 3 - 4 * f);
        break;
    }
    case TPlan::Harmonics:
        v += p.norm > 0 ? p.half * harmonicSum(*p.signal, 2 * kPi * x) / p.norm : 0.0;
        break;
    case TPlan::Capacitor: return capacitorVolts(*p.load, p.cap, t);
    case TPlan::Noise: v += p.half * (static_cast<double>(rng()) / 2147483647.5 - 1.0); break;
    case TPlan::Bus: return bus::wireVolts(*p.signal->busModel, p.signal->wire, t) / p.signal->attenuation - p.acMean;
    }
    return v - p.acMean;
}

} // namespace analog
} // namespace simboard
