// Sample correction: turns the two-point calibration, the smart-probe correction and, in the
// meter modes, the meter gain and offset into the per-channel numbers of the sample transfer.
#pragma once

#include <cstdint>

struct acq_ctrl;
struct calibration;
struct database;

// Span and zero that leave the samples as read (0x60000 is the top of the screen, 262080 codes
// its height).
constexpr int32_t kIdentitySpan = 262080;
constexpr int32_t kIdentityZero = 0x60000;
// Smallest span accepted from a calibration: anything narrower would blow samples far off the
// screen (the factory record's placeholder points give 4).
constexpr int32_t kMinimumSpan = 1000;

// Fills span, zero, probeGain and offset of every channel and, when the instrument mode has bit
// 0x80, meterFactorA and meterFactorB. A channel whose points are unusable (span below
// kMinimumSpan or not positive, zero or offset outside 32 bits, no sensitivity) gets the identity
// correction with its probe gain. Without a calibration record nothing changes. Returns 0.0
// (no caller uses the result).
double findCorrectionDynamique(database* setup, acq_ctrl* record, calibration* cal);
