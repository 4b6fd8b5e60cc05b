// A private copy of the live calibration record, fetched from the controller and handed back to
// it by the factory commands. The interpreter waits on each request, so the controller fills and
// reads the object while nobody else touches it.
#pragma once

#include "hardware/calibration.h"

#include <cstddef>

class TCalibration {
public:
    // Fetches the live record (GetParametersFromCOMM).
    TCalibration();

    // Stops the acquisition, then has the controller copy the live record, with a fresh
    // checksum, into this object; each request awaited. 0, or -1 when a release did not come in
    // time.
    int GetParametersFromCOMM();
    // Has the controller copy this object into the live record; awaited. 0, or -1 as above.
    int SendParametersToCOMM();
    // The memory of an object whose address a controller kept past the wait's bound is never
    // given back: the controller may still write into it.
    static void* operator new(std::size_t size);
    static void operator delete(void* object);
    // Reads a whole record as raw bytes from the input; first is unused in that form. -1 when
    // the input fails or the block's checksum does not match; otherwise its serial number, meter
    // offsets and bytes 174..2421 replace this object's, and 0.
    int ReadParametersFromCommandLine(unsigned char first);

    calibration record;
};

static_assert(sizeof(TCalibration) == kCalibrationSize, "TCalibration holds exactly one record");
