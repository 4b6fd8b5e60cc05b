// Multimeter front end: the scope sensitivity behind each meter and resistance range.
#pragma once

#include <cstdint>

struct acq_ctrl;
struct calibration;

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

// Per meter voltage range the values of scaling parameters 24, 27, 35, 33, 34, 56.
extern const uint8_t voltParams[kMeterVoltageRanges][6];

// Channel values saved for the offset measurement (p18, p14, p5, p20), per channel.
extern uint16_t tul_g_ctruOrg[4];
extern uint16_t tul_g_VdcRejEnOrg[4];
extern uint16_t tul_g_iGammeOrg[4];
extern uint16_t tul_g_gndHfOrg[4];

// Channels 0..3 throughout; other channels change nothing.

// Meter input current relay (channel 0 only; others: nothing): p17 := closed, then a p2 pulse.
void MMRelaisCourant(uint16_t channel, bool closed);
// The meter default set and the channel's trims on every channel of channelMask, then the
// driver's initialisation words cleared and its common preamble.
void ConfigurationMultimetre(calibration* calib, uint16_t channelMask);
// Input coupling (p3, p14, p20) of a meter coupling value 0..10.
void MMCouplageVertical(uint16_t channel, int16_t coupling, int16_t range);
// Gain of a meter voltage range 0..3 and its sensitivity's trims; any other range: nothing.
void MMGammeVoltmetre(uint16_t channel, int16_t range, calibration* calib);
// Current source and gain of a resistance range (clamped to 0..6).
void MMGammeOhmetre(uint16_t channel, int16_t range, calibration* calib);
void ConfigurationVoltmetre(uint16_t channel, calibration* calib, int16_t range, int16_t coupling);
void ConfigurationDiode(uint16_t channel, calibration* calib);
void ConfigurationOhmetre(uint16_t channel, calibration* calib);
void ConfigurationContinuite(uint16_t channel, calibration* calib);
// Saves p18, p14, p5 and p20 of the channel.
void ScalingMesureOffsetInit(uint16_t channel);
// Switches the channel to an offset-measurement set-up (type 1: the bottom of the screen, 2:
// the top, 3: the centre) or back to the saved one (type 0); function is the channel's meter
// function (bit 15: nothing; 1 and 2 only switch the measurement current).
void ScalingMesureOffset(uint16_t channel, int16_t function, int type);
