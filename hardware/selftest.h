// Power-on self test of the acquisition hardware; 0xFFFF means everything passed.
#pragma once

#include <cstdint>

struct calibration;

// Low half of the self-test word (pipelines and scaling paths).
uint16_t AutoTest(calibration* calib);
// The complete word: selfTestResult of the live setup with the offset-matrix and vernier bits.
uint16_t AcqTransfertInit(calibration* calib);
