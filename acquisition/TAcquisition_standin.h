// Observation of the trace stand-in (tests only).
#pragma once

#include <cstdint>
#include <vector>

class TAcquisition;

struct TTraceCall {
    enum Kind {
        SetIdentifier,
        SetAcquisitionParametres,
        SetMesureParametres,
        RazSignalNormalise,
        Assign,
        GenPassFailMask,
    } kind;
    const TAcquisition* trace;
    uint16_t identifier;              // SetIdentifier's argument
    bool recordNull;                  // SetAcquisitionParametres without a control record
    bool all = false;                 // RazSignalNormalise's argument
    const TAcquisition* source = nullptr;  // Assign's and GenPassFailMask's source
    float xTolerance = 0.0f;          // GenPassFailMask's tolerances
    float yTolerance = 0.0f;
};

struct TAcquisitionStandin {
    std::vector<TTraceCall> calls;
};

// Written by the controller thread only; tests read it once the controller is done.
TAcquisitionStandin& acquisitionTraceStandin();
void resetAcquisitionTraceStandin();
