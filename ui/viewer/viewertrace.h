// A trace of the recorded-file viewer: the record of up to 100,000 samples is reduced to 1250
// minimum/maximum pairs (the recording's span when compressed, else the zoom window) before the
// usual conversion.
#pragma once

#include "ui/traces/trace.h"

#include <cstdint>

class ViewerTrace : public Trace {
public:
    // Kind 0-3 channels 1-4, 8 the auxiliary trace.
    explicit ViewerTrace(short kind);
    ~ViewerTrace() override;

    // Reduces the record into the trace's array, then hands the trace to its worker.
    void computeSamplesToPixels() override;
    // The reduction alone.
    void reduce();

    // 1250 (smallest, largest) pairs of `g` samples each (at least one read) from `start`, never
    // beyond `total`; a side without a valid code, and every pair past the end, is 0x80000000.
    static void reducePairs(const uint32_t* source, uint32_t total, uint32_t start, uint32_t g, uint32_t* out);
    // 1250 pairs spread evenly over `samples` samples from `start` (pair p takes the samples from
    // start + p * samples / 1250, at least one), so that a span of any length fills the strip;
    // 100,000 samples give the 80-sample pairs of the whole record.
    static void reduceSpan(const uint32_t* source, uint32_t total, uint32_t start, uint32_t samples, uint32_t* out);
};
