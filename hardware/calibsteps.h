// Factory calibration steps of the oscilloscope front end, one channel (index 0..3) at a time.
// Each fills its part of the calibration record and returns 1 when done, 0 when it failed.
#pragma once

#include <cstdint>

struct calibration;

int32_t CalibOffsetOscillo(int32_t channel, calibration* record);         // step 3
int32_t CompensationLevelTrig(int32_t channel, calibration* record);      // step 4
int32_t CompensationRef2VP(int32_t channel, calibration* record);         // step 5
int32_t CompensationRef2VN(int32_t channel, calibration* record);         // step 6
int32_t CompensationMesure(int32_t channel, calibration* record);         // step 7
int32_t CompensationCourantIgamme(int32_t channel, calibration* record);  // step 13
