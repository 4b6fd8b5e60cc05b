#pragma once

// The setup database: every user setting lives in one plain record whose byte
// layout is also the body of a saved setup file, so offsets, widths and
// padding are fixed and spelt out.

#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>

class TAcquisition;
class TFonction;
class TKalvex;
struct mesures;
struct THarmonicResults;

// The record is read and written as raw bytes (files, checksum, parameter
// tables); that only works on a little-endian host with IEEE floats.
static_assert(std::numeric_limits<float>::is_iec559 && sizeof(float) == 4,
              "setup records store IEEE 754 single-precision floats");
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__,
              "setup records are little-endian");

constexpr uint32_t kDatabaseSize = 1232;
constexpr int kParameterCount = 222;

// Parameter numbers, as carried by parameter requests, screen updates and the
// remote interfaces.
namespace param {
enum : int {
    setupChecksum = 0,
    spareWord1 = 1,
    traceMode = 2,
    acqRunStop = 3,
    userTimeBase = 4,
    sweepOffset = 5,
    spareWord6 = 6,
    trigMode = 7,
    channelFlags = 8,
    offsetCh1 = 9,
    offsetCh2 = 10,
    offsetCh3 = 11,
    offsetCh4 = 12,
    horizPosition = 13,
    traceOnCh1 = 14,
    couplingCh1 = 15,
    traceOnCh2 = 16,
    couplingCh2 = 17,
    traceOnCh3 = 18,
    couplingCh3 = 19,
    traceOnCh4 = 20,
    couplingCh4 = 21,
    measResultsPtr = 22,
    measRefChannel = 23,
    cursor1Time = 24,
    cursor2Time = 25,
    cursorTablePtr = 26,
    autosetRequest = 27,
    spareWord28 = 28,
    spareWord29 = 29,
    hardcopyRequest = 30,
    keyLock = 31,
    trigHoldoff = 32,
    channelOnMask = 33,
    trigStatus = 34,
    spareWord35 = 35,
    zoomWidth = 36,
    minMax = 37,
    instrumentMode = 38,
    harmOrder = 39,
    harmonicResultsPtr = 40,
    averageCount = 41,
    unitCh1 = 42,
    unitCh2 = 43,
    unitCh3 = 44,
    unitCh4 = 45,
    voltsPerDivCh1 = 46,
    voltsPerDivCh2 = 47,
    voltsPerDivCh3 = 48,
    voltsPerDivCh4 = 49,
    probeCoeffCh1 = 50,
    probeCoeffCh2 = 51,
    probeCoeffCh3 = 52,
    probeCoeffCh4 = 53,
    xUnit = 54,
    sensitivityCh1 = 55,
    sensitivityCh2 = 56,
    sensitivityCh3 = 57,
    sensitivityCh4 = 58,
    xySourceX = 59,
    xySourceY = 60,
    zoomState = 61,
    mathExprCh1 = 62,
    mathExprCh2 = 63,
    mathExprCh3 = 64,
    mathExprCh4 = 65,
    mathFunctionCh1 = 66,
    mathFunctionCh2 = 67,
    mathFunctionCh3 = 68,
    mathFunctionCh4 = 69,
    fftZoomWidth = 70,
    fftHorizPosition = 71,
    fftZoomState = 72,
    traceFormat = 73,
    indicatorMask = 74,
    acqCh1 = 75,
    acqCh2 = 76,
    acqCh3 = 77,
    acqCh4 = 78,
    refAcqCh1 = 79,
    refAcqCh2 = 80,
    refAcqCh3 = 81,
    refAcqCh4 = 82,
    refCapture = 83,
    refShownCh1 = 84,
    refShownCh2 = 85,
    refShownCh3 = 86,
    refShownCh4 = 87,
    cursor1Level = 88,
    cursor2Level = 89,
    manualCursorA = 90,
    manualCursorB = 91,
    cursor3Time = 92,
    cursorState = 93,
    vZoomFactor = 94,
    vZoomPosition = 95,
    fftVZoomFactor = 96,
    fftVZoomPosition = 97,
    fftVerticalScale = 98,
    fftWindow = 99,
    keyToggleFlag = 100,
    xyZoomFactor = 101,
    xyZoomPosition = 102,
    displayBrightness = 103,
    auxCoeffCh1 = 104,
    auxCoeffCh2 = 105,
    auxCoeffCh3 = 106,
    auxCoeffCh4 = 107,
    auxScaleCh1 = 108,
    auxScaleCh2 = 109,
    auxScaleCh3 = 110,
    auxScaleCh4 = 111,
    trigSource = 112,
    trigLevelCh1 = 113,
    trigLevelCh2 = 114,
    trigLevelCh3 = 115,
    trigLevelCh4 = 116,
    fftOffsetCh1 = 117,
    fftOffsetCh2 = 118,
    fftOffsetCh3 = 119,
    fftOffsetCh4 = 120,
    timeBaseIndex = 121,
    powerOffRequest = 122,
    refOffsetCh1 = 123,
    refOffsetCh2 = 124,
    refOffsetCh3 = 125,
    refOffsetCh4 = 126,
    calRange = 127,
    calibrationRead = 128,
    calibrationWrite = 129,
    deviceError = 130,
    calibrationSave = 131,
    keyHelpOn = 132,
    loggerFileName = 133,
    memoryTraceCh1 = 134,
    memoryTraceCh2 = 135,
    memoryTraceCh3 = 136,
    memoryTraceCh4 = 137,
    bwLimitCh1 = 138,
    bwLimitCh2 = 139,
    bwLimitCh3 = 140,
    bwLimitCh4 = 141,
    splitLayout = 142,
    selfTestResult = 143,
    refFftOffsetCh1 = 144,
    refFftOffsetCh2 = 145,
    refFftOffsetCh3 = 146,
    refFftOffsetCh4 = 147,
    repSig = 148,
    validChannelMask = 149,
    meterAuxMeas = 150,
    meterFunction = 151,
    meterCouplingCh1 = 152,
    meterRangeCh1 = 153,
    meterAutoRangeCh1 = 154,
    meterCouplingCh2 = 155,
    meterRangeCh2 = 156,
    meterAutoRangeCh2 = 157,
    meterCouplingCh3 = 158,
    meterRangeCh3 = 159,
    meterAutoRangeCh3 = 160,
    meterCouplingCh4 = 161,
    meterRangeCh4 = 162,
    meterAutoRangeCh4 = 163,
    ohmRange = 164,
    capaRange = 165,
    traceColorCh1 = 166,
    traceColorCh2 = 167,
    traceColorCh3 = 168,
    traceColorCh4 = 169,
    smartProbeCh1 = 170,
    smartProbeCh2 = 171,
    smartProbeCh3 = 172,
    smartProbeCh4 = 173,
    qualifSource = 174,
    trigDelay = 175,
    eventCount = 176,
    pulseT1 = 177,
    spareWord178 = 178,
    pulseType = 179,
    trigType = 180,
    trigCouplingCh1 = 181,
    trigCouplingCh2 = 182,
    trigCouplingCh3 = 183,
    trigCouplingCh4 = 184,
    trigEdgeCh1 = 185,
    trigEdgeCh2 = 186,
    trigEdgeCh3 = 187,
    trigEdgeCh4 = 188,
    noiseRejectCh1 = 189,
    noiseRejectCh2 = 190,
    noiseRejectCh3 = 191,
    noiseRejectCh4 = 192,
    hwChannelMask = 193,
    pulseT2 = 194,
    busFileName = 195,
    busDiag = 196,
    powerAcq = 197,
    harmPower = 198,
    powerFunctionA = 199,
    powerFunctionB = 200,
    spareWord201 = 201,
    harmonicFreq = 202,
    xyCursor1X = 203,
    xyCursor2X = 204,
    trigLevelAuto = 205,
    saveRestart = 206,
    eventSource = 207,
    eventType = 208,
    eventLevel1 = 209,
    eventLevel2 = 210,
    eventDuration = 211,
    passFailSource = 212,
    passFailXMask = 213,
    passFailYMask = 214,
    passFailDisplay = 215,
    passFailBeep = 216,
    maskAcq = 217,
    passFailRunStop = 218,
    passFailOn = 219,
    passFailMaskIsMemory = 220,
    spareBlock = 221,
};
}  // namespace param

// Every byte is a named member: padN covers the gap starting at byte N.
// Link slots (xxxSlot) keep their 4 bytes in the file format but never hold a
// pointer; the live links are in TSetupLinks. They are 0 in every image.
// 2-byte fields marked uint16_t are bit words or codes of 0x8000 and above.
struct database {
    uint32_t setupChecksum;
    int16_t spareWord1;
    int16_t traceMode;
    int16_t acqRunStop;
    int16_t userTimeBase;
    int32_t sweepOffset;
    int16_t spareWord6;
    int16_t trigMode;
    uint16_t channelFlags;
    int16_t offsetCh1;
    int16_t offsetCh2;
    int16_t offsetCh3;
    int16_t offsetCh4;
    uint8_t pad30[2];
    int32_t horizPosition;
    uint8_t traceOnCh1;
    uint8_t pad37[1];
    int16_t couplingCh1;
    uint8_t traceOnCh2;
    uint8_t pad41[1];
    int16_t couplingCh2;
    uint8_t traceOnCh3;
    uint8_t pad45[1];
    int16_t couplingCh3;
    uint8_t traceOnCh4;
    uint8_t pad49[1];
    int16_t couplingCh4;
    uint32_t measResultsPtrSlot;
    int16_t measRefChannel;
    uint8_t pad58[2];
    int32_t cursor1Time;
    int32_t cursor2Time;
    uint32_t cursorTablePtrSlot;
    int16_t autosetRequest;
    int16_t spareWord28;
    int16_t spareWord29;
    int16_t hardcopyRequest;
    int16_t keyLock;
    uint8_t pad82[2];
    int32_t trigHoldoff;
    uint32_t channelOnMask;
    int16_t trigStatus;
    int16_t spareWord35;
    float zoomWidth;
    int16_t minMax;
    uint16_t instrumentMode;
    int16_t harmOrder;
    uint8_t pad106[2];
    uint32_t harmonicResultsPtrSlot;
    int16_t averageCount;
    char unitCh1[4];
    char unitCh2[4];
    char unitCh3[4];
    char unitCh4[4];
    uint8_t pad130[2];
    float voltsPerDivCh1;
    float voltsPerDivCh2;
    float voltsPerDivCh3;
    float voltsPerDivCh4;
    float probeCoeffCh1;
    float probeCoeffCh2;
    float probeCoeffCh3;
    float probeCoeffCh4;
    char xUnit[4];
    int16_t sensitivityCh1;
    int16_t sensitivityCh2;
    int16_t sensitivityCh3;
    int16_t sensitivityCh4;
    uint8_t xySourceX;
    uint8_t xySourceY;
    int16_t zoomState;
    char mathExprCh1[100];
    char mathExprCh2[100];
    char mathExprCh3[100];
    char mathExprCh4[100];
    uint32_t mathFunctionCh1Slot;
    uint32_t mathFunctionCh2Slot;
    uint32_t mathFunctionCh3Slot;
    uint32_t mathFunctionCh4Slot;
    float fftZoomWidth;
    int32_t fftHorizPosition;
    int16_t fftZoomState;
    int16_t traceFormat;
    uint16_t indicatorMask;
    uint8_t pad610[2];
    uint32_t acqCh1Slot;
    uint32_t acqCh2Slot;
    uint32_t acqCh3Slot;
    uint32_t acqCh4Slot;
    uint32_t refAcqCh1Slot;
    uint32_t refAcqCh2Slot;
    uint32_t refAcqCh3Slot;
    uint32_t refAcqCh4Slot;
    int16_t refCapture;
    uint8_t refShownCh1;
    uint8_t refShownCh2;
    uint8_t refShownCh3;
    uint8_t refShownCh4;
    uint8_t pad650[2];
    int32_t cursor1Level;
    int32_t cursor2Level;
    int16_t manualCursorA;
    int16_t manualCursorB;
    int32_t cursor3Time;
    int16_t cursorState;
    uint8_t pad670[2];
    float vZoomFactor;
    int32_t vZoomPosition;
    float fftVZoomFactor;
    int32_t fftVZoomPosition;
    int16_t fftVerticalScale;
    int16_t fftWindow;
    uint8_t keyToggleFlag;
    uint8_t pad693[3];
    float xyZoomFactor;
    int32_t xyZoomPosition;
    uint8_t displayBrightness;
    uint8_t pad705[3];
    float auxCoeffCh1;
    float auxCoeffCh2;
    float auxCoeffCh3;
    float auxCoeffCh4;
    float auxScaleCh1;
    float auxScaleCh2;
    float auxScaleCh3;
    float auxScaleCh4;
    int16_t trigSource;
    int16_t trigLevelCh1;
    int16_t trigLevelCh2;
    int16_t trigLevelCh3;
    int16_t trigLevelCh4;
    int16_t fftOffsetCh1;
    int16_t fftOffsetCh2;
    int16_t fftOffsetCh3;
    int16_t fftOffsetCh4;
    int16_t timeBaseIndex;
    uint8_t powerOffRequest;
    uint8_t pad761[1];
    int16_t refOffsetCh1;
    int16_t refOffsetCh2;
    int16_t refOffsetCh3;
    int16_t refOffsetCh4;
    int16_t calRange;
    int16_t calibrationRead;
    int16_t calibrationWrite;
    int16_t deviceError;
    int16_t calibrationSave;
    uint8_t keyHelpOn;
    char loggerFileName[40];
    uint8_t memoryTraceCh1;
    uint8_t memoryTraceCh2;
    uint8_t memoryTraceCh3;
    uint8_t memoryTraceCh4;
    uint8_t pad825[3];
    int32_t bwLimitCh1;
    int32_t bwLimitCh2;
    int32_t bwLimitCh3;
    int32_t bwLimitCh4;
    uint8_t splitLayout;
    uint8_t pad845[1];
    uint16_t selfTestResult;
    int16_t refFftOffsetCh1;
    int16_t refFftOffsetCh2;
    int16_t refFftOffsetCh3;
    int16_t refFftOffsetCh4;
    uint8_t repSig;
    uint8_t pad857[1];
    uint16_t validChannelMask;
    int16_t meterAuxMeas;
    int16_t meterFunction;
    int16_t meterCouplingCh1;
    int16_t meterRangeCh1;
    uint8_t meterAutoRangeCh1;
    uint8_t pad869[1];
    int16_t meterCouplingCh2;
    int16_t meterRangeCh2;
    uint8_t meterAutoRangeCh2;
    uint8_t pad875[1];
    int16_t meterCouplingCh3;
    int16_t meterRangeCh3;
    uint8_t meterAutoRangeCh3;
    uint8_t pad881[1];
    int16_t meterCouplingCh4;
    int16_t meterRangeCh4;
    uint8_t meterAutoRangeCh4;
    uint8_t pad887[1];
    int16_t ohmRange;
    int16_t capaRange;
    int16_t traceColorCh1;
    int16_t traceColorCh2;
    int16_t traceColorCh3;
    int16_t traceColorCh4;
    uint32_t smartProbeCh1Slot;
    uint32_t smartProbeCh2Slot;
    uint32_t smartProbeCh3Slot;
    uint32_t smartProbeCh4Slot;
    int16_t qualifSource;
    uint8_t pad918[2];
    uint32_t trigDelay;
    int32_t eventCount;
    int32_t pulseT1;
    int16_t spareWord178;
    int16_t pulseType;
    int16_t trigType;
    int16_t trigCouplingCh1;
    int16_t trigCouplingCh2;
    int16_t trigCouplingCh3;
    int16_t trigCouplingCh4;
    int16_t trigEdgeCh1;
    int16_t trigEdgeCh2;
    int16_t trigEdgeCh3;
    int16_t trigEdgeCh4;
    int16_t noiseRejectCh1;
    int16_t noiseRejectCh2;
    int16_t noiseRejectCh3;
    int16_t noiseRejectCh4;
    uint16_t hwChannelMask;
    int32_t pulseT2;
    char busFileName[40];
    int16_t busDiag;
    uint8_t pad1010[2];
    uint32_t powerAcqSlot;
    int16_t harmPower;
    uint8_t pad1018[2];
    uint32_t powerFunctionASlot;
    uint32_t powerFunctionBSlot;
    int16_t spareWord201;
    int16_t harmonicFreq;
    int32_t xyCursor1X;
    int32_t xyCursor2X;
    uint8_t trigLevelAuto;
    uint8_t saveRestart;
    int16_t eventSource;
    int16_t eventType;
    uint8_t pad1046[2];
    int32_t eventLevel1;
    int32_t eventLevel2;
    int32_t eventDuration;
    int16_t passFailSource;
    int16_t passFailXMask;
    int16_t passFailYMask;
    int16_t passFailDisplay;
    int16_t passFailBeep;
    uint8_t pad1070[2];
    uint32_t maskAcqSlot;
    int16_t passFailRunStop;
    int16_t passFailOn;
    int16_t passFailMaskIsMemory;
    uint8_t spareBlock[148];
    uint8_t pad1230[2];
};

static_assert(sizeof(database) == kDatabaseSize, "setup record size");

// The live setup (all zero until start-up copies init_par into it), the
// defaults and the upper limits. A limit field without a limit holds 0xDEAD
// (2 bytes), the bits 0xDEADDEAD (4 bytes) or 0 (texts, slots, spareBlock).
extern database data;
extern const database init_par;
extern const database max_par;

// Per parameter number: byte offset of its field in any image, and its width
// (1, 2, 4, 40, 100 or 148).
extern const uint16_t adr_par[kParameterCount];
extern const uint8_t type_par[kParameterCount];

// Reads parameter `index` of `image`: width 1 unsigned, width 2 sign-extended,
// width 4 the raw 32 bits, anything else (texts, spareBlock) 0. Indices above
// 221 read 0.
int32_t get_db(const uint16_t (&adr)[kParameterCount],
               const uint8_t (&type)[kParameterCount], const database* image,
               uint32_t index);

// Writes the low 1, 2 or 4 bytes of `value` into parameter `index` of `data`
// with a single aligned store; wider fields and indices outside 0..221 are
// left alone. No range check against max_par: that is the caller's business.
void set_db(const uint16_t (&adr)[kParameterCount],
            const uint8_t (&type)[kParameterCount], int32_t index,
            uint32_t value);

// The same into a setup image other than `data` (a record being prepared, which no other
// thread reads meanwhile).
void set_db(database* image, int32_t index, uint32_t value);

// Checksum word of a setup record: Checksum of bytes 4..1231.
uint32_t setupChecksum(const database& image);

// Run-time links of `data`. They are rebuilt by every recall and never taken
// from a file, so they live outside the record: a whole-record copy into
// `data` cannot clobber them.
struct TSetupLinks {
    mesures* measResultsPtr;
    int32_t* cursorTablePtr;  // seven words: cursor1Time, cursor2Time,
                              // cursor1Level, cursor2Level, cursor3Time,
                              // xyCursor1X, xyCursor2X
    THarmonicResults* harmonicResultsPtr;
    TFonction* mathFunctionCh1;
    TFonction* mathFunctionCh2;
    TFonction* mathFunctionCh3;
    TFonction* mathFunctionCh4;
    TAcquisition* acqCh1;
    TAcquisition* acqCh2;
    TAcquisition* acqCh3;
    TAcquisition* acqCh4;
    TAcquisition* refAcqCh1;
    TAcquisition* refAcqCh2;
    TAcquisition* refAcqCh3;
    TAcquisition* refAcqCh4;
    TAcquisition* powerAcq;
    TFonction* powerFunctionA;
    TFonction* powerFunctionB;
    TAcquisition* maskAcq;
};

// The single link table of `data`; never destroyed, threads read it until exit.
TSetupLinks& setupLinks();

// The smart probe of channel 0..3 (parameters smartProbeCh1..4). A reader takes a copy and keeps
// it for the length of its use: a probe unlinked meanwhile stays whole until the last copy goes.
// Out-of-range channels: null, no effect.
std::shared_ptr<TKalvex> smartProbeLink(int channelIndex);
void setSmartProbeLink(int channelIndex, std::shared_ptr<TKalvex> probe);

// By parameter number, for table-driven code. Non-link indices: false,
// nullptr, no effect. The probe links count as links but are reached only
// through the typed accessors above (nullptr, no effect here).
bool isLinkParameter(int index);
void* setupLink(int index);
void setSetupLink(int index, void* link);

// Zeroes the link slots of an image (after reading one from a file), nothing else.
void clearLinkSlots(database* image);
