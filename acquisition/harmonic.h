// The harmonic analyser's cycle parts: its own 2048-point transform, the search of the sampling
// rate that puts 128 samples in a period of the fundamental, and the computation of one
// channel's (and the power's) harmonic record from 2048 samples.
#pragma once

#include "core/harmonic_results.h"

#include <array>
#include <cstdint>
#include <pthread.h>

struct complexe {
    double re;
    double im;
};

constexpr int kHarmonicPoints = 2048;
constexpr int kHarmonicBinsPerOrder = 16;          // 16 periods of the fundamental in 2048 samples
constexpr int kHarmonicFirstSample = 10;
// Levels left in a trace's table (slots 1-63) by a pass that measured nothing.
constexpr double kHarmonicFailedTransfer = 262080.0;
constexpr double kHarmonicClipped = 655296.0;

// Twiddles of the transform: entry k = (cos(2 pi k / 2048), -sin(2 pi k / 2048)) to 7 decimals.
extern const std::array<complexe, 1025> Coefficient;
// Working buffers of the cycle (one computation at a time).
extern double td_l_memHarmonic[kHarmonicPoints];
extern complexe to_l_result[kHarmonicPoints];
extern double td_l_module2[kHarmonicPoints / 2];

// Forward transform of 2048 real points, without scaling.
void HarmonicFFT(const double* in, complexe* out);

// Corrects *rate (samples a second of the acquisition) so that a period of the signal holds 128
// samples: 0 done; 1 period count out of bounds with a large signal; 2 no valid level; 3 period
// count out of bounds with a signal below half a division. *rate is changed only for 0.
int FindSampleRate(const uint32_t* samples, double* rate);

// One channel's pass over samples [10, 2058) of its trace: fills *record and blends the levels of
// harmonics 1-63 into table (replacing them when replaceLevels; N = averageCount weights a new
// level 1 / 2^N). Table and record are written with lock held (when given). Returns the status.
// A samplingPeriod of 0 stands for a pass whose period search found no period: the harmonics'
// periods read 0 (no frequency) instead of the nominal rate's.
int HarmonicChannel(const uint32_t* samples, double samplingPeriod, int averageCount, bool replaceLevels,
                    double* table, THarmonicResults* record, pthread_mutex_t* lock);
// A pass that measured nothing: status (1 or 2) into the record, the failure value into slots
// 1-63 of table (slot 0 stays).
void HarmonicFailed(int32_t status, double* table, THarmonicResults* record, pthread_mutex_t* lock);
// The power of channels 1 and 4 per harmonic into powerTable and powerRecord; status 1 unless
// both channels were measured.
void HarmonicPower(const THarmonicResults& ch1, const THarmonicResults& ch4, const double* table1,
                   const double* table4, double* powerTable, THarmonicResults* powerRecord, pthread_mutex_t* lock);
