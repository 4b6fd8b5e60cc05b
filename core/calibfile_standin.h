// Observation and hook of the calibration-file stand-in (tests only).
#pragma once

#include <vector>

struct calibration;

struct TCalibFileStandin {
    int saveResult = 19;  // hook: what CalibrationSave reports
    std::vector<bool> saveStampDate;
    std::vector<const calibration*> saveRecords;
};

TCalibFileStandin& calibFileStandin();
void resetCalibFileStandin();
