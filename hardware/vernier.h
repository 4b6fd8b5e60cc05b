// Time vernier limits and phase-offset tables read by the equivalent-time transfer. All of it
// lives in memory only; the calibration at start-up fills it (zero until then).
#pragma once

#include <cstdint>

struct calibration;

class TVernier {
public:
    explicit TVernier(int16_t channelIndex);
    // -1 when the channel's minimum or maximum is 0 or 4095, else 0.
    int IsCalibrationOK() const;
    // In: raw 12-bit vernier code; out: position 0..20479 (20479 at the minimum). Returns 0, or
    // 16388 with output 0 when there is no valid vernier (code 0 or 4095, or an empty window).
    int ValeurCorrigee(int32_t* code);
    // Measures every channel's vernier range (only when the self test's low byte is 0xFF); the
    // record is not used. 0 done, -1 not done or failed.
    static int Calibration(calibration* calib);

    int16_t channelIndex;
    int16_t countdown = 128;

    static uint16_t us_c_vernierMinCh1, us_c_vernierMinCh2, us_c_vernierMinCh3, us_c_vernierMinCh4;
    static uint16_t us_c_vernierMaxCh1, us_c_vernierMaxCh2, us_c_vernierMaxCh3, us_c_vernierMaxCh4;
};

constexpr int kNoVernier = 16388;

extern TVernier VernierCh1, VernierCh2, VernierCh3, VernierCh4;

// Per channel, 20 offsets indexed by phase 0..19.
constexpr int kPhaseCount = 20;
extern int16_t MatriceOffsetsV1_inf2us[kPhaseCount], MatriceOffsetsV2_inf2us[kPhaseCount],
    MatriceOffsetsV3_inf2us[kPhaseCount], MatriceOffsetsV4_inf2us[kPhaseCount];
extern int16_t MatriceOffsetsV1_equ2us[kPhaseCount], MatriceOffsetsV2_equ2us[kPhaseCount],
    MatriceOffsetsV3_equ2us[kPhaseCount], MatriceOffsetsV4_equ2us[kPhaseCount];
extern int16_t MatriceOffsetsV1_sup2us[kPhaseCount], MatriceOffsetsV2_sup2us[kPhaseCount],
    MatriceOffsetsV3_sup2us[kPhaseCount], MatriceOffsetsV4_sup2us[kPhaseCount];
extern int16_t MatriceOffsetsMinMaxV1[kPhaseCount], MatriceOffsetsMinMaxV2[kPhaseCount],
    MatriceOffsetsMinMaxV3[kPhaseCount], MatriceOffsetsMinMaxV4[kPhaseCount];

// The three per-time-base tables of each channel, in the order sup2us, equ2us, inf2us.
extern int16_t* const MatriceOffsetsListV1[3];
extern int16_t* const MatriceOffsetsListV2[3];
extern int16_t* const MatriceOffsetsListV3[3];
extern int16_t* const MatriceOffsetsListV4[3];

extern int16_t BypassMinOffsetV1, BypassMinOffsetV2, BypassMinOffsetV3, BypassMinOffsetV4;
extern int16_t BypassMaxOffsetV1, BypassMaxOffsetV2, BypassMaxOffsetV3, BypassMaxOffsetV4;

// Per channel index 0..3 (out-of-range indices give channel 1).
TVernier& vernierOf(int channelIndex);
uint16_t& vernierMinOf(int channelIndex);
uint16_t& vernierMaxOf(int channelIndex);
// Offset table of a channel: group 0 sup2us, 1 equ2us, 2 inf2us, 3 min/max.
int16_t* matriceOffsetsOf(int channelIndex, int group);
int16_t& bypassMinOffsetOf(int channelIndex);
int16_t& bypassMaxOffsetOf(int channelIndex);

// Every vernier limit, offset table and bypass offset back to 0 and the vernier countdowns to
// 128, as at a power-on (a test's tear-down; the start-up calibration registers it).
void VernierTablesEnd();

struct acq_ctrl;
// The private control record of a calibration acquisition: every field 0 but decimation 1, the
// channel words, trigger mode 1, display width 1.0, the trigger and qualifier source, mode 16
// and the trigger words 0, 8, 6, 3, 2, 2, 2; the caller sets lengths, flags and time base.
acq_ctrl calibrationControlRecord(uint16_t channels, uint16_t source);
// One calibration acquisition (forced trigger); the first ring entry's four words into the
// outputs given (each may be null). 0 done, -1 failed.
int MatriceAcqCal(acq_ctrl* ctrl, short* out1, short* out2, short* out3, short* out4);
// The offset tables of channel 1, 2, 4 or 8 (anything else: channel 1). 0 done, -1 failed.
int MatriceCalibration(unsigned char channelBit);
