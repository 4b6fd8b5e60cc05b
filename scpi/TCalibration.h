// A private copy of the live calibration record, fetched from the controller and handed back to
// it by the factory commands. The interpreter waits on each request, so the controller fills and
// reads the object while nobody else touches it.
#pragma once

#include "hardware/calibration.h"

class TCalibration {
public:
    // Fetches the live record (GetParametersFromCOMM).
    TCalibration();

    // Stops the acquisition, then has the controller copy the live record, with a fresh
    // checksum, into this object; each request awaited. 0.
    int GetParametersFromCOMM();
    // Has the controller copy this object into the live record; awaited. 0.
    int SendParametersToCOMM();
    // Reads a whole record as raw bytes from the input; first is unused in that form. -1 when
    // the input fails or the block's checksum does not match; otherwise its serial number, meter
    // offsets and bytes 174..2421 replace this object's, and 0.
    int ReadParametersFromCommandLine(unsigned char first);

    calibration record;
};

static_assert(sizeof(TCalibration) == kCalibrationSize, "TCalibration holds exactly one record");
