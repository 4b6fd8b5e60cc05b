// Numeric helpers over 32-bit sample words: block min/max for the display envelope, gap
// filling of equivalent-time records, stretching of min/max pairs and a least-squares line.
#pragma once

#include <cstdint>

class TAcquisition;

// Smallest / largest code of the n-sample block holding start (start lowered to a multiple
// of n, cut at 100,000); empty words skipped; 0x80000000 when the block has none.
uint32_t acq_min(TAcquisition* trace, int32_t start, uint16_t n);
uint32_t acq_max(TAcquisition* trace, int32_t start, uint16_t n);
// Both at once, in one pass over the block (the display envelope of every record).
void acq_minmax(TAcquisition* trace, int32_t start, uint16_t n, uint32_t* min, uint32_t* max);

// Fills the unmeasured words of samples[0..n): 0 done, 2 fewer than 10 measured samples
// (nothing changed).
int32_t InterpolAcq(uint32_t* samples, int32_t n);
// Straight-line fill of the unmeasured words in [from, to] (inclusive).
void linearInterp(uint32_t* from, uint32_t* to);
// valid: list of addresses of measured samples of one equally spaced run; end: one past
// the run's last entry in that list.
void sincInterp(uint32_t** valid, uint32_t** end);
// Stretches the min/max pairs of pairs[0..n) over out[0..total).
void interpMinMax(const uint32_t* pairs, uint32_t* out, uint32_t n, uint32_t total);
// Ordinary least squares over count points with distinct x.
void RegressionLineaire(const int16_t* x, const int32_t* y, int16_t count, double* slope,
                        double* intercept);

// Interpolation kernel: entry k is the weight at a distance of k/40 of
// the sample spacing, scaled to 8192 at 0.
extern const int16_t sinc[161];
