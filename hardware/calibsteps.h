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

// The three stages of step 3.
int32_t CompensationVosBF1(int32_t channel, calibration* record);
int32_t CompensationVosBF2(int32_t channel, calibration* record);
int32_t CompensationVosGP(int32_t channel, calibration* record);
// The comparator offsets of a channel for trigger coupling code 1 or 6: 1 with both offsets,
// 0 when a scan found no toggle within 0..1023 (nothing written).
int32_t FindTrigLevel(int32_t channel, int16_t coupling, int16_t* lowOffset, int16_t* highOffset);

// Loads the calibration default set into set, writes all of the channel's registers, sets the
// four channel-init words to 64 and applies sensitivity 0 to the set.
void ParamsCalibrationInit(uint16_t channel, uint16_t* set);
// One calibration measurement of channel bit 1, 2, 4 or 8 (anything else: channel 1): the mean
// normalised code of passes acquisitions. 0 done, -1 failed.
int AcqCalib(uint16_t channelBit, int32_t* mean, int passes);
// The same with the two-point correction (low, high) in place of the identity; -1 at once when
// the points are equal.
int AcqCalibWithCorrection(uint16_t channelBit, int32_t* mean, int32_t low, int32_t high, int passes);

// What the steps ask of the front end besides their parameter writes: calibration
// measurements, the trigger-quality register (SPI 32) and the waits. The board's own is the
// only production one; tests install scripted ones.
class TCalibrationBench {
public:
    virtual ~TCalibrationBench() = default;
    virtual int measure(uint16_t channelBit, int32_t* mean, int passes) = 0;
    virtual int measureCorrected(uint16_t channelBit, int32_t* mean, int32_t low, int32_t high, int passes) = 0;
    virtual void clearQuality() = 0;
    virtual uint32_t quality() = 0;
    virtual void wait(int ms) = 0;
};
// Installs bench (null: the board's) and returns the one it replaces.
TCalibrationBench* setCalibrationBench(TCalibrationBench* bench);
