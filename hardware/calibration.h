// The calibration record: 2422 packed little-endian bytes, the same bytes as the calibration
// file body and the factory exchange block.
#pragma once

#include <cstdint>

constexpr uint32_t kCalibrationSize = 2422;

struct calibration {
    uint8_t raw[kCalibrationSize];
};
static_assert(sizeof(calibration) == kCalibrationSize, "calibration record size");

// The live record, loaded at start-up.
extern calibration param_calibr;
