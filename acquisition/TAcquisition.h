// One trace of the instrument (live channel, stored memory, mask or auxiliary trace).
#pragma once

#include "acquisition/TPassFailCounter.h"
#include "core/scale.h"

#include <cstdint>
#include <pthread.h>
#include <string>

struct acq_ctrl;

// Guards trace samples against the measurement code; taken after o_g_imageMutex when both
// are needed. Never destroyed.
extern pthread_mutex_t o_g_autoMeasMutex;
// Guards the display arrays (loggerEnvelope, loggerRaw) while they are rebuilt or drawn; taken
// before o_g_autoMeasMutex when both are needed (the scope cycle never holds both). Never destroyed.
extern pthread_mutex_t o_g_imageMutex;

enum TMeasureStatus : int32_t {
    MEASURE_VALID = 0,
    MEASURE_PENDING = 1,
    MEASURE_INVALID = 2,
};

// Sample words: bits 0-19 the code (524256 the zero line, larger codes higher in the
// channel samples), bit 31 set an empty sample, 0x40000000 or more never a valid sample.
constexpr uint32_t kEmptySampleWord = 0x80000000u;
constexpr uint32_t kInvalidSampleFrom = 0x40000000u;
constexpr uint32_t kSampleCodeMask = 0xFFFFFu;
constexpr uint32_t kZeroLineCode = 524256u;

// The decimating low-pass filter of a trace (95-tap FIR, for a rate reduction by 100 or 40).
class TNumericFilter {
public:
    uint32_t* samples = nullptr;
    int32_t filterWork[95] = {};
    int16_t filterKind = 0;   // 0 off, 2 the divide-by-100 filter, any other the divide-by-40

    // Filters samples 0..count-1 in place: points 95..count-1 get the filtered codes, points
    // 0..94 (no complete history) are emptied. 1 when done or the filter is off (nothing done);
    // 2 for a count of 94 or less (nothing done). A count above the copy buffer is cut to it.
    int Filter(uint32_t count);
    // The convolutions over [input, inputEnd) of codes relative to 0x60000: output k (a sample
    // word) from inputs k..k+94, for k up to (inputEnd - input) - 96.
    static void FirDiv100(const int32_t* input, const int32_t* inputEnd, uint32_t* output);
    static void FirDiv40(const int32_t* input, const int32_t* inputEnd, uint32_t* output);

    static constexpr uint32_t kCopyWords = 100095;
    // Filter input, shared: filtering is done by one thread at a time (the real-time thread).
    static int32_t samplesCopy[kCopyWords];
};

class TAcquisition;

// One public set-up call on a trace, as told to TAcquisition::callObserver.
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
    uint16_t identifier;                   // SetIdentifier's argument, else the trace's
    bool recordNull;                       // SetAcquisitionParametres without a control record
    bool all = false;                      // RazSignalNormalise's argument
    const TAcquisition* source = nullptr;  // Assign's and GenPassFailMask's source
    float xTolerance = 0.0f;               // GenPassFailMask's tolerances
    float yTolerance = 0.0f;
};

class TAcquisition : public TNumericFilter {
public:
    // Test seam: when set, told of every public set-up call made after construction. Null
    // in the product; set only while no other thread uses traces.
    static void (*callObserver)(const TTraceCall&);

    static constexpr uint32_t kNormalisedSamples = 100000;
    static constexpr uint32_t kSampleCount = 100000;
    static constexpr uint32_t kLoggerWords = 2500;
    // File record of a trace and recorder information record, bytes.
    static constexpr uint32_t kRecordHeaderSize = 64;
    static constexpr uint32_t kRecordSize = kRecordHeaderSize + kSampleCount * 4;
    static constexpr uint32_t kLoggerInfoSize = 64;

    explicit TAcquisition(unsigned short identifier);
    ~TAcquisition();
    TAcquisition(const TAcquisition&) = delete;

    // Copies another trace's samples and scaling (not its identifier nor its meter view)
    // with the acquisition paused; nests inside a caller's own suspension.
    TAcquisition& operator=(const TAcquisition& other);

    // Stores the identifier and the channel index, then re-reads the measurement parameters.
    void SetIdentifier(unsigned short identifier);
    bool IsPermanentMemory() const;
    // Empties the samples (with all, the recorder arrays too) and the meter value.
    void RazSignalNormalise(bool all);
    // Takes the acquisition parameters of a live channel from a control record, or from the
    // setup when there is none.
    void SetAcquisitionParametres(acq_ctrl* ctrl);
    // Re-reads the measurement and meter parameters of the trace from the live setup.
    void SetMesureParametres();
    // Span and top of the meter display range in units; the power functions' result for the
    // power scale, else 0. Null outputs are skipped.
    int GetMMRange(double* span, double* top, bool* autoRangeOut);
    // Value of one sample with three decimals and "\n\r", or "?" when there is none.
    std::string getSampleAt(uint32_t index);
    double getOffsetCurs(short mode, short fft) const;
    // Sampling period of the harmonic acquisition, seconds: set from a rate (never below
    // the fastest period), returned as stored.
    double SetHarmonicSampleRate(double rate);
    double GetHarmonicSamplingPeriod() const;
    // Software vertical shift of the samples [first, first + count) to newPosition.
    void CadrageSoftT(short newPosition, uint32_t first, uint32_t count);

    void setMeterMeasurement(TMeasureStatus status, float value);
    // Recorder: one meter value into the raw window and the envelope.
    void putLoggerMeasurement(TMeasureStatus status, float value);
    // Viewer: floats (bit patterns in values) into recorder codes in place, on trace's range.
    static void computeViewerSignal(uint32_t* values, TAcquisition* trace);
    static float measValueAt(uint32_t* codes, TAcquisition* trace, uint32_t index);

    // Called on the mask trace: builds the mask around source (tolerances in divisions).
    void genPassFailMask(TAcquisition* source, float xTolerance, float yTolerance);
    // Called on the mask trace: true when signal stays inside the mask.
    bool passFailCompare(TAcquisition* signal);

    // File record (kRecordSize bytes): 0, or 19 at the first short write.
    int32_t write(int32_t fd);
    // 0, or 20 for a record whose fields are out of range or not finite (nothing is changed then).
    int32_t read(int32_t fd);
    int32_t writeLoggerInfos(int fd);
    // 0, or -1 for a short, out-of-range or non-finite record.
    int32_t readLoggerInfos(int fd);

    uint32_t loggerRaw[kLoggerWords];
    uint32_t loggerEnvelope[kLoggerWords];
    uint16_t identifier = 0;
    int16_t channelIndex = -1;
    float probeCoeff = 1.0f;
    float offset = 0.0f;
    char unit[4] = {'V', 0, 0, 0};
    uint16_t acqFlags = 33;
    uint16_t timeBase = 0;
    uint16_t sensitivity = 0;
    uint16_t coupling = 0;
    int32_t bwLimit = 0;
    int16_t position = 0;
    double softPosition = 0.0;
    double fftPosition = 0.0;
    double harmonicSamplingPeriod = 5e-5;
    double harmonicTable[64];
    TScale meterScale = SCALE_METER;
    uint16_t meterRange = 0;
    uint16_t meterCoupling = 0;
    double fullRange = 0.0;
    bool autoRange = false;
    TMeasureStatus measureStatus = MEASURE_INVALID;
    float measureValue = 0.0f;
    uint32_t loggerCount = 0;
    uint16_t envelopeIndex = 0;
    uint16_t rawCount = 0;

    static TPassFailCounter passFailCounter;

    // The normalised sample buffers of channels 1 to 4 and of the auxiliary trace
    // (kNormalisedSamples codes each), allocated once at start-up; null before.
    static uint32_t* Voie1Normalisee;
    static uint32_t* Voie2Normalisee;
    static uint32_t* Voie3Normalisee;
    static uint32_t* Voie4Normalisee;
    static uint32_t* VoieAuxNormalisee;
    // Vertical position in effect in the hardware for channels 1-4.
    static int16_t decadrage1_hard;
    static int16_t decadrage2_hard;
    static int16_t decadrage3_hard;
    static int16_t decadrage4_hard;

private:
    void setIdentifierImpl(unsigned short identifier);
    void razImpl(bool all);
    void setAcquisitionImpl(acq_ctrl* ctrl);
    void setMesureImpl();
    void notify(TTraceCall call) const
    {
        if (callObserver)
            callObserver(call);
    }

public:
    // Free-running count of recorder values, deciding the envelope's 80-value steps.
    uint32_t loggerValues = 0;
};
