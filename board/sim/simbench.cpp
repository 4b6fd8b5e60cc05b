// Analogue errors and calibration bench of the simulated front end: what the factory calibration
// steps switch in and measure, so that a board with errors reads off before calibrating and true
// after. The law is described in SCENARIO.txt ("Analogue errors and calibration bench").
#include "board/sim/simanalog.h"

#include <algorithm>
#include <cmath>

namespace simboard {
namespace analog {

namespace {

// Thousandths of the screen height a step of the offset trims moves the output by.
constexpr double kVosBf2Units = 2.0;   // p25
constexpr double kVosGpUnits = 0.25;   // p29
// Relative change of a reference per step of its trim (p4, p8) from the middle code 128.
constexpr double kReferenceTrimStep = 1.0 / 2000.0;
// The calibration path's offset DAC: mid-scale at 511, its rails (reached at 307 and below, at
// 716 and above) 2 ADC codes beyond the top of the screen and 8 codes short of its bottom.
constexpr double kCodesPerUnit = 3.6;
constexpr double kRailTop = 500.0 + 2.0 / kCodesPerUnit;
constexpr double kRailBottom = -500.0 + 8.0 / kCodesPerUnit;
constexpr int kDacMid = 511;
constexpr int kDacTopEnd = 307;
constexpr int kDacBottomEnd = 716;
// The current source of the bench drives the channel's 1 Mohm input resistance.
constexpr double kInputOhms = 1e6;
// The bench's reference spans a screen (half of it on the least sensitive row).
constexpr double kReferenceScreen = 1000.0;
constexpr int kLeastSensitiveRow = 15;
// Bit 64 of the channel's init word (the data word carries it shifted left by one): the bench's
// sources are out.
constexpr uint16_t kInitBench = 64 << 1;

// The calibration set is in the chip: its own values of p39 and p12, which no mode's set has.
bool benchLoaded(const std::array<uint16_t, kChipParams>& p)
{
    return p[39] == 15 && p[12] == 0;
}

double calibrationDac(int d)
{
    if (d <= kDacMid)
        return kRailTop * std::min(1.0, static_cast<double>(kDacMid - d) / (kDacMid - kDacTopEnd));
    return kRailBottom * std::min(1.0, static_cast<double>(d - kDacMid) / (kDacBottomEnd - kDacMid));
}

double trimFactor(uint16_t trim)
{
    return 1.0 + (static_cast<double>(trim) - 128.0) * kReferenceTrimStep;
}

} // namespace

double referenceFactor(const TFrontEndChip& chip, double dac)
{
    const TAnalogErrors& e = chip.errors;
    if (e.refP == 0.0 && e.refN == 0.0)
        return 1.0;
    return dac <= kDacMid ? (1.0 + e.refP) * trimFactor(chip.params[4]) : (1.0 + e.refN) * trimFactor(chip.params[8]);
}

void applyBench(const TFrontEndChip& chip, TAnalogChannel* a)
{
    const TAnalogErrors& e = chip.errors;
    const auto& p = chip.params;

    a->gain = 1.0 + e.gain;
    a->currentGain = 1.0 + e.current;
    a->currentAmps *= a->currentGain;
    // The offset trims null the amplifier's output offset; a channel without one has nothing for
    // them to null, and its model leaves them out (a record of any trims reads true there).
    a->outputUnits = 0.0;
    if (e.offset != 0.0)
        a->outputUnits = e.offset * 125.0 - (p[25] - 128.0) * kVosBf2Units - (p[29] - 128.0) * kVosGpUnits;
    a->isolated = false;
    a->benchSource = false;
    a->benchVolts = 0.0;
    if (!benchLoaded(p))
        return;

    // The bench: the connector is off the input whatever the set-up.
    a->isolated = true;
    const bool grounded = p[13] == 1;
    const bool switched = !grounded && (chip.initWord & kInitBench) == 0;   // the bench's sources are in
    if (!grounded && !switched)
        return;   // open input, the offset DAC as in every mode
    const double dac = chip.offsetDacStuck ? 512.0 : p[18];
    a->offsetUnits = calibrationDac(static_cast<int>(dac));
    if (grounded)
        return;
    if (p[10] == 1) {
        // The current source of range p5 through the input resistance.
        a->benchSource = true;
        a->benchVolts = currentOfCode(p[5]) * a->currentGain * kInputOhms;
        return;
    }
    // The reference of the DAC's side pulls the trace back: the positive one (trim p4) with the
    // DAC in its upper half, the negative one (p8) in its lower half. At a rail it equals the
    // rail's distance from mid-scale; elsewhere it spans a screen at the sensitivity's gain.
    if (chip.referenceDead)
        return;
    const bool positive = dac <= kDacMid;
    const bool rail = dac == 0 || dac == 1023;
    double size = rail ? (positive ? calibrationDac(0) - calibrationDac(512) : calibrationDac(512) - calibrationDac(1023))
                       : (a->sensitivityRow == kLeastSensitiveRow ? kReferenceScreen / 2 : kReferenceScreen);
    size *= positive ? (1.0 + e.refP) * trimFactor(p[4]) : (1.0 + e.refN) * trimFactor(p[8]);
    a->offsetUnits += positive ? -size : size;
}

} // namespace analog

void setReferenceDead(int channel, bool on)
{
    if (channel < 0 || channel > 3)
        return;
    TSimBoard& b = TSimBoard::get();
    std::lock_guard<std::mutex> lock(b.mu);
    b.chips[static_cast<size_t>(channel)].referenceDead = on;
}

} // namespace simboard
