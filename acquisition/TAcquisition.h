// One trace of the instrument (live channel, stored memory, mask or auxiliary trace).
#pragma once

#include "acquisition/TPassFailCounter.h"

#include <cstdint>

struct acq_ctrl;

class TAcquisition {
public:
    explicit TAcquisition(unsigned short identifier);
    TAcquisition(const TAcquisition&) = delete;

    // Copies another trace's samples and scaling (not its identifier), pausing the acquisition
    // around the copy and letting it run again afterwards.
    TAcquisition& operator=(const TAcquisition& other);

    // Stores the identifier and the channel index, then re-reads the measurement parameters.
    void SetIdentifier(unsigned short identifier);
    // Takes the acquisition parameters of a live channel from a control record, or from the
    // setup when there is none.
    void SetAcquisitionParametres(acq_ctrl* ctrl);
    // Re-reads the measurement and meter parameters of the trace from the live setup.
    void SetMesureParametres();
    // Empties the samples (with all, the recorder arrays too) and the meter value.
    void RazSignalNormalise(bool all);
    // Called on the mask trace: builds the pass/fail mask around the source trace, tolerances
    // in divisions.
    void genPassFailMask(TAcquisition* source, float xTolerance, float yTolerance);

    // Sampling period of the harmonic acquisition, seconds: set from a rate, returned as stored.
    double SetHarmonicSampleRate(double rate);
    double GetHarmonicSamplingPeriod() const;

    uint16_t identifier = 0;
    int16_t channelIndex = -1;
    double harmonicSamplingPeriod = 5e-5;

    static TPassFailCounter passFailCounter;

    // The normalised sample buffers of channels 1 to 4 and of the auxiliary trace
    // (kNormalisedSamples codes each), allocated once at start-up; null before.
    static constexpr uint32_t kNormalisedSamples = 100000;
    static uint32_t* Voie1Normalisee;
    static uint32_t* Voie2Normalisee;
    static uint32_t* Voie3Normalisee;
    static uint32_t* Voie4Normalisee;
    static uint32_t* VoieAuxNormalisee;
};
