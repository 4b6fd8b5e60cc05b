// Front-end scaling registers: each channel's front-end chip has 17 serial registers, packed from
// a set of 72 scaling parameters and sent over the serial front-end interface.
#pragma once

#include <cstdint>
#include <pthread.h>

constexpr int kScalingChannels = 4;
constexpr int kScalingParams = 72;
constexpr int kScalingRegisters = 17;

// Pseudo parameter of the registers' top bit (registers 0, 3, 5, 6, 10, 12-15); not one of the
// 72 and never looked up in a set: it keeps its shadow bit.
constexpr uint16_t kScalingTopBitField = 128;

// ScalingWrite / ScalingRead flags.
enum : uint16_t {
    SCALING_HOLD_BEFORE = 1,    // clear relay bit 7 and send the relay word before
    SCALING_RELEASE_AFTER = 2,  // set relay bit 7 and send the relay word after
    SCALING_FROM_SHADOW = 4,    // resend the shadow registers without recomputing
};

// Serial opcodes of the front-end chips.
enum : uint16_t {
    FE_OP_WRITE_REGISTER = 0x000,  // + register
    FE_OP_RELAY_WORD = 0x090,
    FE_OP_READ_REGISTER = 0x100,   // + register
};

// One field of a register: the parameter's value cut by mask, placed at position; flags: 1 the
// bits go in reversed order, 2 the value is inverted within the mask.
struct TScalingField {
    uint16_t parameter;
    uint16_t mask;
    uint16_t position;
    uint16_t flags;
};
enum : uint16_t { SCALING_FIELD_REVERSED = 1, SCALING_FIELD_INVERTED = 2 };

// Per register the list of its fields, ended by an all-zero entry.
extern const TScalingField* const scaling2RegisterDesc[kScalingRegisters];
// Per parameter the registers that hold a field of it, ended by 255; entry 0 lists all 17.
extern const uint8_t* const scaling2Register[kScalingParams];
// Top bit of each register: a read-back stands left-aligned at bit 23.
extern const uint8_t tuc_g_scalingRegisterTopBit[kScalingRegisters];

// Live parameter sets per channel, the calibration steps' private set, and the shadow of what
// was last sent to each chip (zeroed by ScalingInit). The sets are not locked; the shadow is
// changed only under exclusionScalingIO.
extern uint16_t to_g_scalingParams[kScalingChannels][kScalingParams];
extern uint16_t o_g_scalingParamsCalibration[kScalingParams];
extern uint16_t tus_g_scalingPseudoReg[kScalingChannels][kScalingRegisters];

// Serialises ScalingWrite and ScalingRead. Lock order: before the serial-interface lock.
// Statically initialised, never destroyed.
extern pthread_mutex_t exclusionScalingIO;

// The default sets that the mode configurations load (entry 0 holds 0xDEAD).
enum TScalingDefaultSet {
    SCALING_DEFAULTS_SCOPE = 0,
    SCALING_DEFAULTS_HARMONIC = 1,
    SCALING_DEFAULTS_CAPACITANCE = 2,
    SCALING_DEFAULTS_METER = 3,
    SCALING_DEFAULTS_CALIBRATION = 4,
};
constexpr int kScalingDefaultSets = 5;
// Rows by parameter, columns by set, as the sets are specified.
extern const uint16_t tus_g_scalingDefaults[kScalingParams][kScalingDefaultSets];
// Copies one default set into a 72-value set.
void ScalingLoadDefaults(TScalingDefaultSet set, uint16_t* params);

// Powers every installed channel and zeroes the register shadows; 0.
int ScalingInit();
// Sends every register holding a field of parameter (0: all 17) of channel 0..3, computed from
// params, or from the shadow alone with SCALING_FROM_SHADOW (params is then never read; it may
// be null). A parameter outside 0..71 sends no register, only the relay words of flags 1 and 2.
// 0; -1 for a channel above 3, or a null params that would have to be read (nothing sent); -2
// when a serial access failed (the others are still tried).
int ScalingWrite(uint16_t channel, uint16_t* params, int16_t parameter, uint16_t flags);
// Reads register reg (0: all 17, into out[0..16]) of channel 0..3 back, right-aligned, with the
// relay flags 1 and 2 as in ScalingWrite. 0; -1 for a channel above 3, a register above 16 or a
// null out (nothing sent); -2 when a serial access failed (its register reads 0).
int ScalingRead(uint16_t channel, uint16_t* out, uint16_t reg, uint16_t flags);

// The packing of one field into a register value (exposed for the factory diagnosis and tests).
uint16_t scalingPackField(uint16_t registerValue, const TScalingField& field, uint16_t value);
