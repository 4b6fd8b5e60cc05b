// Spectrum display of a 2500-point trace array: window, one 2500-point real FFTW 2 transform,
// magnitude codes (linear or dB), vertical shift, horizontal zoom and linear interpolation.
// The work buffers are static: one caller at a time (the scope cycle of the acquisition thread).
#pragma once

#include <srfftw.h>

#include <cstdint>

constexpr int kFftPoints = 2500;
constexpr int kFftBins = 1250;
constexpr uint32_t kFftEmpty = 0x80000000u;
constexpr int32_t kFftBottom = 0xFFFC0;  // largest bin code (weakest)

// cos(2 pi i / 2500) rounded to 8 significant digits; entry 2500 = 1.0. Filled by fftInit().
extern double cosinus[kFftPoints + 1];
// Windowed input, transform output (half-complex r0, r1 .. r1250, i1249 .. i1) and bin codes.
extern float to_l_signal1[kFftPoints];
extern float to_l_signal2[kFftPoints];
extern uint32_t ti_l_module[kFftBins];

// Builds the cosine table and the one plan (FFTW_ESTIMATE) once; thread-safe, idempotent.
// Fft calls it; start-up may call it earlier so that no planning happens in the cycle.
void fftInit();
// The plan of the 2500-point forward real-to-half-complex transform (after fftInit()).
rfftw_plan fftPlan();

// In place on a trace's 2500-word array: input codes (inverted envelope), output display codes.
// window 0..4 (others rectangular), logScale 0 linear / 1 dB referred to unitsPerCode / other
// dB unreferenced, zoom: one bin every 2 / zoom display points (1 spreads the 1250 bins over the
// 2500 points; <= 0 counts as 1), position in display points (first bin position / 2), shift in
// codes (subtracted from every bin).
void Fft(uint32_t* points, uint32_t window, uint16_t logScale, double unitsPerCode, float zoom,
         int32_t position, int32_t shift);

// The steps, exposed for tests and benchmarks.
// Windowed floats of the points; empty/invalid entries (>= 0x40000000) take the mean of the
// valid ones. Returns false (out untouched) when no entry is valid.
bool FftWindow(const uint32_t* points, uint32_t window, float* out);
// Bin codes 0..0xFFFC0 (0 strongest) from a half-complex spectrum.
void FftModule(const float* spectrum, uint32_t* bins, uint16_t logScale, double unitsPerCode);
// bin - shift, clamped: below 1 -> 0, above 0xFFFC0 -> 0xFFFC0.
void FftCadrage(uint32_t* bins, int32_t shift);
// Spreads bins from position / 2 (clamped to 0..1249) over the 2500 points; the rest empty.
void FftHorizontalZoom(const uint32_t* bins, uint32_t* points, float zoom, int32_t position);
// Fills each run of empty points between two non-empty ones on the straight line between them.
void FftInterpolation(uint32_t* points);
