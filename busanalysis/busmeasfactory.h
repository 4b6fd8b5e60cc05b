// The acquisition side of a bus step: its acquisition parameters, the count of its
// acquisitions, the three-state binary signal of each acquired trace, the histograms of its
// pulse widths, and the measurements that need more than one pass (edge durations, bit time,
// jitter, FFT band peak). About 1.6 MB: one instance for the bus thread's life, never on a stack.
#pragma once

#include "busanalysis/busmeaskernel.h"

#include <cstdint>

class XmlDescriptor;
class TAcquisition;
struct database;

// Counts of widths in samples; index = width.
struct TBusHistogram {
    static constexpr uint32_t kBins = 100000;

    TBusHistogram() { reset(); }
    void reset();
    // Ignores v outside 1 .. 99999.
    void addValue(uint32_t v);

    uint32_t bins[kBins];
    uint32_t lowest;
    uint32_t highest;
    uint32_t count;
};

// Sample counts of the edges found by computeTriseTfall.
struct TTriggerRiseFallTime {
    uint32_t longestRise;
    uint32_t shortestRise;
    uint32_t longestFall;
    uint32_t shortestFall;
};

// Jitter figures in samples: j0 total, j1 whole spread, j2 offset and j3 width of the fitted
// pair tails, j4 the rest of the spread, j5 the high/low mean difference.
struct TJitter {
    float j0, j1, j2, j3, j4, j5;
};

class TBusMeasFactory {
public:
    static constexpr int32_t kSignalSize = 100000;
    static constexpr int32_t kWindowFirst = 2000;
    static constexpr int32_t kWindowEnd = 98000;
    static constexpr int32_t kFftPointCount = 2500;  // the spectrum display points
    static constexpr int32_t kFftBinCount = 1250;

    TBusMeasFactory();
    TBusMeasFactory(const TBusMeasFactory&) = delete;
    TBusMeasFactory& operator=(const TBusMeasFactory&) = delete;

    // The acquisition parameters back to their defaults.
    void reset();
    // acqCounter, the histograms and the binary signal cleared: at each step's start.
    void resetHistograms();
    void setTriggerMin(uint32_t code);  // clamped into 0x60000 .. 0x9FFC0
    void setTriggerMax(uint32_t code);
    void setTheoricalTimeBit(uint32_t samples);  // at most 96000
    void setCounterAcqMax(int32_t count);        // at least 1

    // The SETUPMESURE children (unclamped); 0, or -1 at the first value that does not read.
    int setParamsFromXml(XmlDescriptor* setupMesure);

    // One completed acquisition, under o_g_autoMeasMutex: binary signal and histograms (time
    // display), the kernel's record of the channel's trace; -1 while the step needs more, else 0.
    int newAcq(database* setup, TBusAutoMeas* autoMeas);
    void setTriggerAuto(database* setup);
    void createBinarySignal(database* setup);
    void createTemporalHistogram();

    // edges: 1 rising, 2 falling, 3 both. 0 with out filled, -1 when no edge qualified.
    int computeTriseTfall(const uint32_t* samples, TTriggerRiseFallTime* out, int edges);
    // mode 1 low pulses, 2 high pulses, 3 both; pairs for codings 2 and 3. 0, or -1 when empty.
    int computeTimeBit(double* mean, double* minimum, double* maximum, unsigned short mode);
    // The lowest code (the strongest) of the trace's spectrum display over the FFT band; 0, or
    // non-zero when the band is not usable.
    int getMaxFft(const TAcquisition* trace, int32_t* code);
    // 0, or negative when the histograms do not allow it.
    int computeJitter(TJitter* out, int16_t id);
    // The jitter figure of id in percent of the bit; 0, or negative for no value.
    int jitter(int16_t id, double* percent);

    // The trace of the factory's channel (channel 1 to 4 for 0 to 3), or null.
    TAcquisition* channelTrace() const;

    uint32_t triggerMin;
    uint32_t triggerMax;
    uint32_t trigMinPercent;
    uint32_t trigMaxPercent;
    bool trigAuto;
    uint32_t timeBitTheo;
    int16_t channel;
    int32_t nbAcq;
    int32_t acqCounter;
    int32_t typeCodage;
    int32_t binary[kSignalSize];  // 1 high, -1 low, 0 idle; entry i for sample i
    TBusHistogram pairHistogram;
    TBusHistogram highHistogram;
    TBusHistogram lowHistogram;
    float limitLowFreq;
    float limitHighFreq;

private:
    int pairTails(double* offset, double* width) const;
};
