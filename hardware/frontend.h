// Scope front-end programming: setup parameters into the channels' front-end scaling parameters.
#pragma once

#include <cstdint>

struct calibration;
struct acq_ctrl;

extern bool b_g_frontendInitialized;

// Per sensitivity 0..15 the values of scaling parameters 24, 27, 35, 33, 34, 56.
extern const uint16_t to_l_voltParams[16][6];
// Automatic bandwidth-limit code per sensitivity, by bandwidth variant.
extern const uint16_t tus_l_bwlState60MHz[16];
extern const uint16_t tus_l_bwlState100MHz[16];
extern const uint16_t tus_l_bwlState300MHz[16];

// Trigger source that selects no comparator.
constexpr int16_t kNoTriggerSource = 55;

// First call: the scaling registers' start; then the scope configuration of every channel.
void FrontEndInit(calibration* calib);
// Undoes FrontEndInit as a power-off does, for a test's tear-down (the program never calls it):
// the next FrontEndInit initialises the scaling (channel power included) again, and every
// scaling shadow word is back to 0.
void FrontEndEnd();
// The calibration record's reference trims of one channel (registers 16, 1, 4, 8) into its set;
// nothing without a record. Shared by the scope and harmonic configurations.
void ChannelReferenceTrims(uint16_t ch, uint16_t* set, const calibration* calib);
void ConfigurationScope(calibration* calib);
// Every channel with the harmonic default set and its trims, the current relay open.
void ConfigurationHarmonic(calibration* calib);

// Channel 0..3 throughout; other channels (and sensitivities outside 0..15) change nothing.
void SetSensitivity(uint16_t channel, int16_t sensitivity, uint16_t* set);
// The trims go out without the release flag: the next flag-2 write releases the relay word.
void SetSensitivityCalibr(uint16_t channel, int16_t sensitivity, calibration* calib);
// The 13 calibration trims of a sensitivity (p25, p29, p22, p21, p52-p54, p30, p70, p71, p43,
// p60, p61), the last one written with lastFlags; nothing without a calibration record.
void SensitivityTrims(uint16_t channel, int16_t sensitivity, calibration* calib, uint16_t lastFlags);
void PositionVerticale(uint16_t channel, int16_t position);
// The part of a position (thousandths of the screen) that the offset DAC does not render.
float GetVertPositionError(uint16_t channel, int16_t position);
void CouplageBwlVertical(uint16_t channel, int16_t sensitivity, int16_t coupling, int32_t bwLimit,
                         int16_t timeBase);

// Raw trigger operations on a trigger source (0..3 channels, 4 channel 1's comparator, 5 and 6
// channel 4's); a source with no comparator changes nothing.
void SourceTrigger(int16_t qualifier, int16_t source);
void LevelTrigger(int16_t source, int16_t level, int16_t position, int16_t edge, int16_t coupling,
                  int16_t hysteresis, calibration* calib);
void FrontTrigger(int16_t source, int16_t edge);
void CouplageTrigger(int16_t source, int16_t coupling);
void HysteresisTrigger(int16_t source, int16_t hysteresis);
// Filters: the raw operation with the channel's setup entries, when the channel matters for the
// trigger (trigSource, 5 for trigSource 6, or qualifSource with trigType 2 or 3).
void LEVEL_TRIGGER(int16_t channel, calibration* calib);
void FRONT_TRIGGER(int16_t channel);
void COUPLAGE_TRIGGER(int16_t channel);
void HYSTERESIS_TRIGGER(int16_t channel);

// Overscan detector: window thresholds in thousandths of the screen height.
void OverscanSet(uint16_t channel, int16_t high, int16_t low);
void OverscanReset(uint16_t channel);
// 2 when the signal left the window upwards, plus 1 when downwards; 0 when nothing happened
// within max(10 ms, seconds) or the detector's device cannot be opened.
int OverscanTest(uint16_t channel, float seconds);

// Applies one changed setup parameter (-1: resend everything) to the running mode's front end.
void ProgramFE(int32_t parameter, acq_ctrl* ctrl, calibration* calib);
void ProgramFE_Scope(int32_t parameter, acq_ctrl* ctrl, calibration* calib);
// Harmonic and meter programming (their modes' front-end modules).
void ProgramFE_Harmonic(int32_t parameter, acq_ctrl* ctrl, calibration* calib);
void ProgramFE_Meter(int32_t parameter, acq_ctrl* ctrl, calibration* calib);
// Kept as an entry point; the channels' power is handled by the board logic.
void ProgScalingsPowerDown(uint16_t mask);
