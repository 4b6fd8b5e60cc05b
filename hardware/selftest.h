// Power-on self test of the acquisition hardware; 0xFFFF means everything passed.
#pragma once

#include <cstdint>

struct calibration;

// Low half of the self-test word (pipelines and scaling paths).
uint16_t AutoTest(calibration* calib);
// 1 << channel when the pipeline device of channel 0..3 answers its pattern (two attempts).
uint16_t AutoTestPipeline(unsigned short channel, calibration* calib);
// 16 << channel when the channel's offset DAC drives the trace out of the overscan window.
uint16_t AutoTestScaling(unsigned short channel, calibration* calib);
// The complete word: selfTestResult of the live setup with the offset-matrix and vernier bits.
uint16_t AcqTransfertInit(calibration* calib);
