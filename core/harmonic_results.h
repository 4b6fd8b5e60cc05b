// One record of the harmonic result block: four channel records and the power record, in this
// order, each kHarmonicRecordSize bytes. The block is written by the harmonic cycle under
// o_g_autoMeasMutex and read by the harmonic views, SCPI and the web service.
#pragma once

#include "core/command_param.h"

#include <cstddef>
#include <cstdint>

enum THarmonicStatus : int32_t {
    HARMONIC_MEASURED = 0,
    HARMONIC_NOT_MEASURED = 1,
    HARMONIC_OVERRANGE = 2,
};

constexpr int kHarmonicOrders = 64;
constexpr int kHarmonicPowerRecord = 4;

// Harmonic j (0 the DC term).
struct THarmonicEntry {
    float period;      // seconds: 128 x the sampling period / j, NaN for j = 0
    float ratio;       // averaged level relative to the largest averaged level
    float phase;       // degrees, -180..180, relative to the fundamental
    float amplitude;   // this pass's RMS level, in sample codes
};

struct THarmonicResults {
    int32_t status;    // THarmonicStatus
    float distortion;  // harmonics 2-41 against the fundamental
    float rms;         // in sample codes
    THarmonicEntry entries[kHarmonicOrders];
};

static_assert(sizeof(THarmonicEntry) == 16, "harmonic entry layout");
static_assert(offsetof(THarmonicResults, entries) == 12, "harmonic record layout");
static_assert(sizeof(THarmonicResults) == kHarmonicRecordSize, "harmonic record layout");
