// The capacitance meter's cycle parts: the ramp's slope, the range check and the stability filter
// over successive slopes.
#pragma once

#include <cstdint>

struct database;
struct mesures;

constexpr int32_t kCapaValidFlag = 0x10000000;
// Mean code of channel 1 above which the capacitor counts as discharged.
constexpr uint32_t kCapaDischarged = 629087;

extern const int16_t ts_l_dischargeTimeout[8];
extern const int16_t ts_l_ecartMax[8];

// The ramp's slope in codes a sample into *slope and the record: 0 when measured, -1 otherwise
// (no ramp: the previous slope with the valid bit and *slope 0; not charged: -infinity; a ramp
// too short or not reaching the bottom of the screen: the record cleared, *slope unchanged).
int MeasCapa(const uint32_t* samples, mesures* record, unsigned short count, double* slope);
// Asks the controller for another capacitance range when the value leaves this one (auto-range
// on, instrument mode not 130); -1 when the value is beyond the range.
int CapaAutorange(float slope, database* setup);

// Stability filter of one new slope: fills capaValue and overrange of the record from the ring of
// recent slopes and the range check; false when the slope is not to be shown yet. The ring and
// the previous slope outlive a call of the cycle; another capacitance range clears them.
bool CapaFilterSlope(mesures* record, double slope, database* setup);
// Forgets the ring and the previous slope (tests).
void CapaResetState();
