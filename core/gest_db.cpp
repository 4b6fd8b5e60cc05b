#include "core/gest_db.h"

#include "core/checksum.h"

#include <cstring>

// The layout is a file format: pin every member.
#define AT(member, offset, size)                                          \
    static_assert(offsetof(database, member) == (offset) &&               \
                      sizeof(database::member) == (size),                 \
                  #member " moved");
AT(setupChecksum, 0, 4)
AT(spareWord1, 4, 2)
AT(traceMode, 6, 2)
AT(acqRunStop, 8, 2)
AT(userTimeBase, 10, 2)
AT(sweepOffset, 12, 4)
AT(spareWord6, 16, 2)
AT(trigMode, 18, 2)
AT(channelFlags, 20, 2)
AT(offsetCh1, 22, 2)
AT(offsetCh2, 24, 2)
AT(offsetCh3, 26, 2)
AT(offsetCh4, 28, 2)
AT(pad30, 30, 2)
AT(horizPosition, 32, 4)
AT(traceOnCh1, 36, 1)
AT(pad37, 37, 1)
AT(couplingCh1, 38, 2)
AT(traceOnCh2, 40, 1)
AT(pad41, 41, 1)
AT(couplingCh2, 42, 2)
AT(traceOnCh3, 44, 1)
AT(pad45, 45, 1)
AT(couplingCh3, 46, 2)
AT(traceOnCh4, 48, 1)
AT(pad49, 49, 1)
AT(couplingCh4, 50, 2)
AT(measResultsPtrSlot, 52, 4)
AT(measRefChannel, 56, 2)
AT(pad58, 58, 2)
AT(cursor1Time, 60, 4)
AT(cursor2Time, 64, 4)
AT(cursorTablePtrSlot, 68, 4)
AT(autosetRequest, 72, 2)
AT(spareWord28, 74, 2)
AT(spareWord29, 76, 2)
AT(hardcopyRequest, 78, 2)
AT(keyLock, 80, 2)
AT(pad82, 82, 2)
AT(trigHoldoff, 84, 4)
AT(channelOnMask, 88, 4)
AT(trigStatus, 92, 2)
AT(spareWord35, 94, 2)
AT(zoomWidth, 96, 4)
AT(minMax, 100, 2)
AT(instrumentMode, 102, 2)
AT(harmOrder, 104, 2)
AT(pad106, 106, 2)
AT(harmonicResultsPtrSlot, 108, 4)
AT(averageCount, 112, 2)
AT(unitCh1, 114, 4)
AT(unitCh2, 118, 4)
AT(unitCh3, 122, 4)
AT(unitCh4, 126, 4)
AT(pad130, 130, 2)
AT(voltsPerDivCh1, 132, 4)
AT(voltsPerDivCh2, 136, 4)
AT(voltsPerDivCh3, 140, 4)
AT(voltsPerDivCh4, 144, 4)
AT(probeCoeffCh1, 148, 4)
AT(probeCoeffCh2, 152, 4)
AT(probeCoeffCh3, 156, 4)
AT(probeCoeffCh4, 160, 4)
AT(xUnit, 164, 4)
AT(sensitivityCh1, 168, 2)
AT(sensitivityCh2, 170, 2)
AT(sensitivityCh3, 172, 2)
AT(sensitivityCh4, 174, 2)
AT(xySourceX, 176, 1)
AT(xySourceY, 177, 1)
AT(zoomState, 178, 2)
AT(mathExprCh1, 180, 100)
AT(mathExprCh2, 280, 100)
AT(mathExprCh3, 380, 100)
AT(mathExprCh4, 480, 100)
AT(mathFunctionCh1Slot, 580, 4)
AT(mathFunctionCh2Slot, 584, 4)
AT(mathFunctionCh3Slot, 588, 4)
AT(mathFunctionCh4Slot, 592, 4)
AT(fftZoomWidth, 596, 4)
AT(fftHorizPosition, 600, 4)
AT(fftZoomState, 604, 2)
AT(traceFormat, 606, 2)
AT(indicatorMask, 608, 2)
AT(pad610, 610, 2)
AT(acqCh1Slot, 612, 4)
AT(acqCh2Slot, 616, 4)
AT(acqCh3Slot, 620, 4)
AT(acqCh4Slot, 624, 4)
AT(refAcqCh1Slot, 628, 4)
AT(refAcqCh2Slot, 632, 4)
AT(refAcqCh3Slot, 636, 4)
AT(refAcqCh4Slot, 640, 4)
AT(refCapture, 644, 2)
AT(refShownCh1, 646, 1)
AT(refShownCh2, 647, 1)
AT(refShownCh3, 648, 1)
AT(refShownCh4, 649, 1)
AT(pad650, 650, 2)
AT(cursor1Level, 652, 4)
AT(cursor2Level, 656, 4)
AT(manualCursorA, 660, 2)
AT(manualCursorB, 662, 2)
AT(cursor3Time, 664, 4)
AT(cursorState, 668, 2)
AT(pad670, 670, 2)
AT(vZoomFactor, 672, 4)
AT(vZoomPosition, 676, 4)
AT(fftVZoomFactor, 680, 4)
AT(fftVZoomPosition, 684, 4)
AT(fftVerticalScale, 688, 2)
AT(fftWindow, 690, 2)
AT(keyToggleFlag, 692, 1)
AT(pad693, 693, 3)
AT(xyZoomFactor, 696, 4)
AT(xyZoomPosition, 700, 4)
AT(displayBrightness, 704, 1)
AT(pad705, 705, 3)
AT(auxCoeffCh1, 708, 4)
AT(auxCoeffCh2, 712, 4)
AT(auxCoeffCh3, 716, 4)
AT(auxCoeffCh4, 720, 4)
AT(auxScaleCh1, 724, 4)
AT(auxScaleCh2, 728, 4)
AT(auxScaleCh3, 732, 4)
AT(auxScaleCh4, 736, 4)
AT(trigSource, 740, 2)
AT(trigLevelCh1, 742, 2)
AT(trigLevelCh2, 744, 2)
AT(trigLevelCh3, 746, 2)
AT(trigLevelCh4, 748, 2)
AT(fftOffsetCh1, 750, 2)
AT(fftOffsetCh2, 752, 2)
AT(fftOffsetCh3, 754, 2)
AT(fftOffsetCh4, 756, 2)
AT(timeBaseIndex, 758, 2)
AT(powerOffRequest, 760, 1)
AT(pad761, 761, 1)
AT(refOffsetCh1, 762, 2)
AT(refOffsetCh2, 764, 2)
AT(refOffsetCh3, 766, 2)
AT(refOffsetCh4, 768, 2)
AT(calRange, 770, 2)
AT(calibrationRead, 772, 2)
AT(calibrationWrite, 774, 2)
AT(deviceError, 776, 2)
AT(calibrationSave, 778, 2)
AT(keyHelpOn, 780, 1)
AT(loggerFileName, 781, 40)
AT(memoryTraceCh1, 821, 1)
AT(memoryTraceCh2, 822, 1)
AT(memoryTraceCh3, 823, 1)
AT(memoryTraceCh4, 824, 1)
AT(pad825, 825, 3)
AT(bwLimitCh1, 828, 4)
AT(bwLimitCh2, 832, 4)
AT(bwLimitCh3, 836, 4)
AT(bwLimitCh4, 840, 4)
AT(splitLayout, 844, 1)
AT(pad845, 845, 1)
AT(selfTestResult, 846, 2)
AT(refFftOffsetCh1, 848, 2)
AT(refFftOffsetCh2, 850, 2)
AT(refFftOffsetCh3, 852, 2)
AT(refFftOffsetCh4, 854, 2)
AT(repSig, 856, 1)
AT(pad857, 857, 1)
AT(validChannelMask, 858, 2)
AT(meterAuxMeas, 860, 2)
AT(meterFunction, 862, 2)
AT(meterCouplingCh1, 864, 2)
AT(meterRangeCh1, 866, 2)
AT(meterAutoRangeCh1, 868, 1)
AT(pad869, 869, 1)
AT(meterCouplingCh2, 870, 2)
AT(meterRangeCh2, 872, 2)
AT(meterAutoRangeCh2, 874, 1)
AT(pad875, 875, 1)
AT(meterCouplingCh3, 876, 2)
AT(meterRangeCh3, 878, 2)
AT(meterAutoRangeCh3, 880, 1)
AT(pad881, 881, 1)
AT(meterCouplingCh4, 882, 2)
AT(meterRangeCh4, 884, 2)
AT(meterAutoRangeCh4, 886, 1)
AT(pad887, 887, 1)
AT(ohmRange, 888, 2)
AT(capaRange, 890, 2)
AT(traceColorCh1, 892, 2)
AT(traceColorCh2, 894, 2)
AT(traceColorCh3, 896, 2)
AT(traceColorCh4, 898, 2)
AT(smartProbeCh1Slot, 900, 4)
AT(smartProbeCh2Slot, 904, 4)
AT(smartProbeCh3Slot, 908, 4)
AT(smartProbeCh4Slot, 912, 4)
AT(qualifSource, 916, 2)
AT(pad918, 918, 2)
AT(trigDelay, 920, 4)
AT(eventCount, 924, 4)
AT(pulseT1, 928, 4)
AT(spareWord178, 932, 2)
AT(pulseType, 934, 2)
AT(trigType, 936, 2)
AT(trigCouplingCh1, 938, 2)
AT(trigCouplingCh2, 940, 2)
AT(trigCouplingCh3, 942, 2)
AT(trigCouplingCh4, 944, 2)
AT(trigEdgeCh1, 946, 2)
AT(trigEdgeCh2, 948, 2)
AT(trigEdgeCh3, 950, 2)
AT(trigEdgeCh4, 952, 2)
AT(noiseRejectCh1, 954, 2)
AT(noiseRejectCh2, 956, 2)
AT(noiseRejectCh3, 958, 2)
AT(noiseRejectCh4, 960, 2)
AT(hwChannelMask, 962, 2)
AT(pulseT2, 964, 4)
AT(busFileName, 968, 40)
AT(busDiag, 1008, 2)
AT(pad1010, 1010, 2)
AT(powerAcqSlot, 1012, 4)
AT(harmPower, 1016, 2)
AT(pad1018, 1018, 2)
AT(powerFunctionASlot, 1020, 4)
AT(powerFunctionBSlot, 1024, 4)
AT(spareWord201, 1028, 2)
AT(harmonicFreq, 1030, 2)
AT(xyCursor1X, 1032, 4)
AT(xyCursor2X, 1036, 4)
AT(trigLevelAuto, 1040, 1)
AT(saveRestart, 1041, 1)
AT(eventSource, 1042, 2)
AT(eventType, 1044, 2)
AT(pad1046, 1046, 2)
AT(eventLevel1, 1048, 4)
AT(eventLevel2, 1052, 4)
AT(eventDuration, 1056, 4)
AT(passFailSource, 1060, 2)
AT(passFailXMask, 1062, 2)
AT(passFailYMask, 1064, 2)
AT(passFailDisplay, 1066, 2)
AT(passFailBeep, 1068, 2)
AT(pad1070, 1070, 2)
AT(maskAcqSlot, 1072, 4)
AT(passFailRunStop, 1076, 2)
AT(passFailOn, 1078, 2)
AT(passFailMaskIsMemory, 1080, 2)
AT(spareBlock, 1082, 148)
AT(pad1230, 1230, 2)
#undef AT

namespace {

// One entry per parameter number, in order: parameter name, record member.
#define GEST_DB_FIELDS(X) \
    X(setupChecksum, setupChecksum) \
    X(spareWord1, spareWord1) \
    X(traceMode, traceMode) \
    X(acqRunStop, acqRunStop) \
    X(userTimeBase, userTimeBase) \
    X(sweepOffset, sweepOffset) \
    X(spareWord6, spareWord6) \
    X(trigMode, trigMode) \
    X(channelFlags, channelFlags) \
    X(offsetCh1, offsetCh1) \
    X(offsetCh2, offsetCh2) \
    X(offsetCh3, offsetCh3) \
    X(offsetCh4, offsetCh4) \
    X(horizPosition, horizPosition) \
    X(traceOnCh1, traceOnCh1) \
    X(couplingCh1, couplingCh1) \
    X(traceOnCh2, traceOnCh2) \
    X(couplingCh2, couplingCh2) \
    X(traceOnCh3, traceOnCh3) \
    X(couplingCh3, couplingCh3) \
    X(traceOnCh4, traceOnCh4) \
    X(couplingCh4, couplingCh4) \
    X(measResultsPtr, measResultsPtrSlot) \
    X(measRefChannel, measRefChannel) \
    X(cursor1Time, cursor1Time) \
    X(cursor2Time, cursor2Time) \
    X(cursorTablePtr, cursorTablePtrSlot) \
    X(autosetRequest, autosetRequest) \
    X(spareWord28, spareWord28) \
    X(spareWord29, spareWord29) \
    X(hardcopyRequest, hardcopyRequest) \
    X(keyLock, keyLock) \
    X(trigHoldoff, trigHoldoff) \
    X(channelOnMask, channelOnMask) \
    X(trigStatus, trigStatus) \
    X(spareWord35, spareWord35) \
    X(zoomWidth, zoomWidth) \
    X(minMax, minMax) \
    X(instrumentMode, instrumentMode) \
    X(harmOrder, harmOrder) \
    X(harmonicResultsPtr, harmonicResultsPtrSlot) \
    X(averageCount, averageCount) \
    X(unitCh1, unitCh1) \
    X(unitCh2, unitCh2) \
    X(unitCh3, unitCh3) \
    X(unitCh4, unitCh4) \
    X(voltsPerDivCh1, voltsPerDivCh1) \
    X(voltsPerDivCh2, voltsPerDivCh2) \
    X(voltsPerDivCh3, voltsPerDivCh3) \
    X(voltsPerDivCh4, voltsPerDivCh4) \
    X(probeCoeffCh1, probeCoeffCh1) \
    X(probeCoeffCh2, probeCoeffCh2) \
    X(probeCoeffCh3, probeCoeffCh3) \
    X(probeCoeffCh4, probeCoeffCh4) \
    X(xUnit, xUnit) \
    X(sensitivityCh1, sensitivityCh1) \
    X(sensitivityCh2, sensitivityCh2) \
    X(sensitivityCh3, sensitivityCh3) \
    X(sensitivityCh4, sensitivityCh4) \
    X(xySourceX, xySourceX) \
    X(xySourceY, xySourceY) \
    X(zoomState, zoomState) \
    X(mathExprCh1, mathExprCh1) \
    X(mathExprCh2, mathExprCh2) \
    X(mathExprCh3, mathExprCh3) \
    X(mathExprCh4, mathExprCh4) \
    X(mathFunctionCh1, mathFunctionCh1Slot) \
    X(mathFunctionCh2, mathFunctionCh2Slot) \
    X(mathFunctionCh3, mathFunctionCh3Slot) \
    X(mathFunctionCh4, mathFunctionCh4Slot) \
    X(fftZoomWidth, fftZoomWidth) \
    X(fftHorizPosition, fftHorizPosition) \
    X(fftZoomState, fftZoomState) \
    X(traceFormat, traceFormat) \
    X(indicatorMask, indicatorMask) \
    X(acqCh1, acqCh1Slot) \
    X(acqCh2, acqCh2Slot) \
    X(acqCh3, acqCh3Slot) \
    X(acqCh4, acqCh4Slot) \
    X(refAcqCh1, refAcqCh1Slot) \
    X(refAcqCh2, refAcqCh2Slot) \
    X(refAcqCh3, refAcqCh3Slot) \
    X(refAcqCh4, refAcqCh4Slot) \
    X(refCapture, refCapture) \
    X(refShownCh1, refShownCh1) \
    X(refShownCh2, refShownCh2) \
    X(refShownCh3, refShownCh3) \
    X(refShownCh4, refShownCh4) \
    X(cursor1Level, cursor1Level) \
    X(cursor2Level, cursor2Level) \
    X(manualCursorA, manualCursorA) \
    X(manualCursorB, manualCursorB) \
    X(cursor3Time, cursor3Time) \
    X(cursorState, cursorState) \
    X(vZoomFactor, vZoomFactor) \
    X(vZoomPosition, vZoomPosition) \
    X(fftVZoomFactor, fftVZoomFactor) \
    X(fftVZoomPosition, fftVZoomPosition) \
    X(fftVerticalScale, fftVerticalScale) \
    X(fftWindow, fftWindow) \
    X(keyToggleFlag, keyToggleFlag) \
    X(xyZoomFactor, xyZoomFactor) \
    X(xyZoomPosition, xyZoomPosition) \
    X(displayBrightness, displayBrightness) \
    X(auxCoeffCh1, auxCoeffCh1) \
    X(auxCoeffCh2, auxCoeffCh2) \
    X(auxCoeffCh3, auxCoeffCh3) \
    X(auxCoeffCh4, auxCoeffCh4) \
    X(auxScaleCh1, auxScaleCh1) \
    X(auxScaleCh2, auxScaleCh2) \
    X(auxScaleCh3, auxScaleCh3) \
    X(auxScaleCh4, auxScaleCh4) \
    X(trigSource, trigSource) \
    X(trigLevelCh1, trigLevelCh1) \
    X(trigLevelCh2, trigLevelCh2) \
    X(trigLevelCh3, trigLevelCh3) \
    X(trigLevelCh4, trigLevelCh4) \
    X(fftOffsetCh1, fftOffsetCh1) \
    X(fftOffsetCh2, fftOffsetCh2) \
    X(fftOffsetCh3, fftOffsetCh3) \
    X(fftOffsetCh4, fftOffsetCh4) \
    X(timeBaseIndex, timeBaseIndex) \
    X(powerOffRequest, powerOffRequest) \
    X(refOffsetCh1, refOffsetCh1) \
    X(refOffsetCh2, refOffsetCh2) \
    X(refOffsetCh3, refOffsetCh3) \
    X(refOffsetCh4, refOffsetCh4) \
    X(calRange, calRange) \
    X(calibrationRead, calibrationRead) \
    X(calibrationWrite, calibrationWrite) \
    X(deviceError, deviceError) \
    X(calibrationSave, calibrationSave) \
    X(keyHelpOn, keyHelpOn) \
    X(loggerFileName, loggerFileName) \
    X(memoryTraceCh1, memoryTraceCh1) \
    X(memoryTraceCh2, memoryTraceCh2) \
    X(memoryTraceCh3, memoryTraceCh3) \
    X(memoryTraceCh4, memoryTraceCh4) \
    X(bwLimitCh1, bwLimitCh1) \
    X(bwLimitCh2, bwLimitCh2) \
    X(bwLimitCh3, bwLimitCh3) \
    X(bwLimitCh4, bwLimitCh4) \
    X(splitLayout, splitLayout) \
    X(selfTestResult, selfTestResult) \
    X(refFftOffsetCh1, refFftOffsetCh1) \
    X(refFftOffsetCh2, refFftOffsetCh2) \
    X(refFftOffsetCh3, refFftOffsetCh3) \
    X(refFftOffsetCh4, refFftOffsetCh4) \
    X(repSig, repSig) \
    X(validChannelMask, validChannelMask) \
    X(meterAuxMeas, meterAuxMeas) \
    X(meterFunction, meterFunction) \
    X(meterCouplingCh1, meterCouplingCh1) \
    X(meterRangeCh1, meterRangeCh1) \
    X(meterAutoRangeCh1, meterAutoRangeCh1) \
    X(meterCouplingCh2, meterCouplingCh2) \
    X(meterRangeCh2, meterRangeCh2) \
    X(meterAutoRangeCh2, meterAutoRangeCh2) \
    X(meterCouplingCh3, meterCouplingCh3) \
    X(meterRangeCh3, meterRangeCh3) \
    X(meterAutoRangeCh3, meterAutoRangeCh3) \
    X(meterCouplingCh4, meterCouplingCh4) \
    X(meterRangeCh4, meterRangeCh4) \
    X(meterAutoRangeCh4, meterAutoRangeCh4) \
    X(ohmRange, ohmRange) \
    X(capaRange, capaRange) \
    X(traceColorCh1, traceColorCh1) \
    X(traceColorCh2, traceColorCh2) \
    X(traceColorCh3, traceColorCh3) \
    X(traceColorCh4, traceColorCh4) \
    X(smartProbeCh1, smartProbeCh1Slot) \
    X(smartProbeCh2, smartProbeCh2Slot) \
    X(smartProbeCh3, smartProbeCh3Slot) \
    X(smartProbeCh4, smartProbeCh4Slot) \
    X(qualifSource, qualifSource) \
    X(trigDelay, trigDelay) \
    X(eventCount, eventCount) \
    X(pulseT1, pulseT1) \
    X(spareWord178, spareWord178) \
    X(pulseType, pulseType) \
    X(trigType, trigType) \
    X(trigCouplingCh1, trigCouplingCh1) \
    X(trigCouplingCh2, trigCouplingCh2) \
    X(trigCouplingCh3, trigCouplingCh3) \
    X(trigCouplingCh4, trigCouplingCh4) \
    X(trigEdgeCh1, trigEdgeCh1) \
    X(trigEdgeCh2, trigEdgeCh2) \
    X(trigEdgeCh3, trigEdgeCh3) \
    X(trigEdgeCh4, trigEdgeCh4) \
    X(noiseRejectCh1, noiseRejectCh1) \
    X(noiseRejectCh2, noiseRejectCh2) \
    X(noiseRejectCh3, noiseRejectCh3) \
    X(noiseRejectCh4, noiseRejectCh4) \
    X(hwChannelMask, hwChannelMask) \
    X(pulseT2, pulseT2) \
    X(busFileName, busFileName) \
    X(busDiag, busDiag) \
    X(powerAcq, powerAcqSlot) \
    X(harmPower, harmPower) \
    X(powerFunctionA, powerFunctionASlot) \
    X(powerFunctionB, powerFunctionBSlot) \
    X(spareWord201, spareWord201) \
    X(harmonicFreq, harmonicFreq) \
    X(xyCursor1X, xyCursor1X) \
    X(xyCursor2X, xyCursor2X) \
    X(trigLevelAuto, trigLevelAuto) \
    X(saveRestart, saveRestart) \
    X(eventSource, eventSource) \
    X(eventType, eventType) \
    X(eventLevel1, eventLevel1) \
    X(eventLevel2, eventLevel2) \
    X(eventDuration, eventDuration) \
    X(passFailSource, passFailSource) \
    X(passFailXMask, passFailXMask) \
    X(passFailYMask, passFailYMask) \
    X(passFailDisplay, passFailDisplay) \
    X(passFailBeep, passFailBeep) \
    X(maskAcq, maskAcqSlot) \
    X(passFailRunStop, passFailRunStop) \
    X(passFailOn, passFailOn) \
    X(passFailMaskIsMemory, passFailMaskIsMemory) \
    X(spareBlock, spareBlock)

constexpr int kFieldOrder[] = {
#define X(name, member) param::name,
    GEST_DB_FIELDS(X)
#undef X
};

constexpr bool fieldOrderMatchesNumbers() {
    for (int i = 0; i < kParameterCount; ++i) {
        if (kFieldOrder[i] != i) return false;
    }
    return true;
}
static_assert(sizeof(kFieldOrder) / sizeof(kFieldOrder[0]) == kParameterCount,
              "one field per parameter");
static_assert(fieldOrderMatchesNumbers(), "field list out of parameter order");

// 0xDEAD marks in signed fields are bit patterns, not values.
constexpr int16_t bits16(uint16_t bits) { return static_cast<int16_t>(bits); }
constexpr int32_t bits32(uint32_t bits) { return static_cast<int32_t>(bits); }

// The float whose IEEE bits are 0xDEADDEAD (no bit_cast in constexpr C++17).
constexpr float kNoLimitFloat = -0x1.5bbd5ap+62f;

template <std::size_t N, std::size_t M>
constexpr void copyText(char (&dst)[N], const char (&src)[M]) {
    static_assert(M <= N, "text longer than its field");
    for (std::size_t i = 0; i < M; ++i) dst[i] = src[i];
}

// Only the non-zero defaults; every other byte, padding included, stays 0.
constexpr database makeDefaults() {
    database d{};
    d.setupChecksum = 0xDEAD;
    d.spareWord1 = 1;
    d.traceMode = 1;
    d.userTimeBase = 15;
    d.sweepOffset = -50000;
    d.measRefChannel = 1;
    d.cursor1Time = 5000;
    d.cursor2Time = 50000;
    d.trigHoldoff = 12500;
    d.spareWord35 = bits16(0xDEAD);
    d.zoomWidth = 40.0f;
    d.instrumentMode = 0x8000;
    d.harmOrder = 1;
    copyText(d.unitCh1, "V");
    copyText(d.unitCh2, "V");
    copyText(d.unitCh3, "V");
    copyText(d.unitCh4, "V");
    d.voltsPerDivCh1 = 1.0f;
    d.voltsPerDivCh2 = 1.0f;
    d.voltsPerDivCh3 = 1.0f;
    d.voltsPerDivCh4 = 1.0f;
    d.probeCoeffCh1 = 1.0f;
    d.probeCoeffCh2 = 1.0f;
    d.probeCoeffCh3 = 1.0f;
    d.probeCoeffCh4 = 1.0f;
    copyText(d.xUnit, "s");
    d.sensitivityCh1 = 8;
    d.sensitivityCh2 = 8;
    d.sensitivityCh3 = 8;
    d.sensitivityCh4 = 8;
    d.xySourceY = 1;
    d.fftZoomWidth = 40.0f;
    d.indicatorMask = 0xFFFF;
    d.cursor1Level = 425976;
    d.cursor2Level = 622536;
    d.manualCursorA = bits16(0xDEAD);
    d.manualCursorB = bits16(0xDEAD);
    d.cursor3Time = 95000;
    d.vZoomFactor = 1.0f;
    d.fftVZoomFactor = 1.0f;
    d.fftVerticalScale = 1;
    d.xyZoomFactor = 1.0f;
    d.displayBrightness = 7;
    d.timeBaseIndex = 15;
    d.calRange = bits16(0xDEAD);
    d.calibrationRead = bits16(0xDEAD);
    d.calibrationWrite = bits16(0xDEAD);
    d.calibrationSave = bits16(0xDEAD);
    d.validChannelMask = 1024;
    d.meterAuxMeas = 1;
    d.meterAutoRangeCh1 = 1;
    d.meterAutoRangeCh2 = 1;
    d.meterAutoRangeCh3 = 1;
    d.meterAutoRangeCh4 = 1;
    d.ohmRange = 3;
    d.capaRange = 4;
    d.traceColorCh1 = 4;
    d.traceColorCh2 = 2;
    d.traceColorCh3 = 1;
    d.traceColorCh4 = 5;
    d.trigDelay = 6;
    d.eventCount = 3;
    d.pulseT1 = 2;
    d.pulseType = 1;
    d.trigCouplingCh1 = 1;
    d.trigCouplingCh2 = 1;
    d.trigCouplingCh3 = 1;
    d.trigCouplingCh4 = 1;
    d.pulseT2 = 1875000000;
    copyText(d.busFileName, "RS232_9600bps.bus");
    d.busDiag = 1;
    d.xyCursor1X = -425976;
    d.xyCursor2X = -622536;
    d.eventLevel1 = 524256;
    d.eventLevel2 = 524256;
    d.eventDuration = 5;
    return d;
}

// Texts, link slots and spareBlock have no limit and stay 0.
constexpr database makeLimits() {
    database d{};
    d.setupChecksum = 0xDEADDEADu;
    d.spareWord1 = 1;
    d.traceMode = 2;
    d.acqRunStop = 1;
    d.userTimeBase = 34;
    d.sweepOffset = 1900000;
    d.spareWord6 = 1;
    d.trigMode = 2;
    d.channelFlags = 0xDEAD;
    d.offsetCh1 = 1250;
    d.offsetCh2 = 1250;
    d.offsetCh3 = 1250;
    d.offsetCh4 = 1250;
    d.horizPosition = 100000;
    d.traceOnCh1 = 1;
    d.couplingCh1 = 2;
    d.traceOnCh2 = 1;
    d.couplingCh2 = 2;
    d.traceOnCh3 = 1;
    d.couplingCh3 = 2;
    d.traceOnCh4 = 1;
    d.couplingCh4 = 2;
    d.measRefChannel = 8;
    d.cursor1Time = 99999;
    d.cursor2Time = 99999;
    d.autosetRequest = bits16(0xDEAD);
    d.spareWord28 = bits16(0xDEAD);
    d.spareWord29 = 1;
    d.hardcopyRequest = bits16(0xDEAD);
    d.keyLock = 1;
    d.trigHoldoff = 1875000000;
    d.channelOnMask = 0xDEADDEADu;
    d.trigStatus = bits16(0xDEAD);
    d.spareWord35 = bits16(0xDEAD);
    d.zoomWidth = 40.0f;
    d.minMax = 1;
    d.instrumentMode = 128;
    d.harmOrder = 253;
    d.averageCount = 4;
    d.voltsPerDivCh1 = kNoLimitFloat;
    d.voltsPerDivCh2 = kNoLimitFloat;
    d.voltsPerDivCh3 = kNoLimitFloat;
    d.voltsPerDivCh4 = kNoLimitFloat;
    d.probeCoeffCh1 = 100000.0f;
    d.probeCoeffCh2 = 1000.0f;
    d.probeCoeffCh3 = 1000.0f;
    d.probeCoeffCh4 = 1000.0f;
    d.sensitivityCh1 = 15;
    d.sensitivityCh2 = 15;
    d.sensitivityCh3 = 15;
    d.sensitivityCh4 = 15;
    d.xySourceX = 3;
    d.xySourceY = 3;
    d.zoomState = 2;
    d.fftZoomWidth = 40.0f;
    d.fftHorizPosition = bits32(0xDEADDEADu);
    d.fftZoomState = 2;
    d.traceFormat = 2;
    d.indicatorMask = 0xDEAD;
    d.refCapture = bits16(0xDEAD);
    d.refShownCh1 = 1;
    d.refShownCh2 = 1;
    d.refShownCh3 = 1;
    d.refShownCh4 = 1;
    d.cursor1Level = 655296;
    d.cursor2Level = 655296;
    d.manualCursorA = bits16(0xDEAD);
    d.manualCursorB = bits16(0xDEAD);
    d.cursor3Time = 100000;
    d.cursorState = bits16(0xDEAD);
    d.vZoomFactor = 16.0f;
    d.vZoomPosition = bits32(0xDEADDEADu);
    d.fftVZoomFactor = 16.0f;
    d.fftVZoomPosition = bits32(0xDEADDEADu);
    d.fftVerticalScale = 1;
    d.fftWindow = 4;
    d.keyToggleFlag = 1;
    d.xyZoomFactor = 16.0f;
    d.xyZoomPosition = bits32(0xDEADDEADu);
    d.displayBrightness = 9;
    d.auxCoeffCh1 = 1000.0f;
    d.auxCoeffCh2 = 1000.0f;
    d.auxCoeffCh3 = 1000.0f;
    d.auxCoeffCh4 = 1000.0f;
    d.auxScaleCh1 = kNoLimitFloat;
    d.auxScaleCh2 = kNoLimitFloat;
    d.auxScaleCh3 = kNoLimitFloat;
    d.auxScaleCh4 = kNoLimitFloat;
    d.trigSource = 4;
    d.trigLevelCh1 = 1000;
    d.trigLevelCh2 = 1000;
    d.trigLevelCh3 = 1000;
    d.trigLevelCh4 = 1000;
    d.fftOffsetCh1 = 750;
    d.fftOffsetCh2 = 750;
    d.fftOffsetCh3 = 750;
    d.fftOffsetCh4 = 750;
    d.timeBaseIndex = 34;
    d.powerOffRequest = 1;
    d.refOffsetCh1 = 1250;
    d.refOffsetCh2 = 1250;
    d.refOffsetCh3 = 1250;
    d.refOffsetCh4 = 1250;
    d.calRange = 12;
    d.calibrationRead = bits16(0xDEAD);
    d.calibrationWrite = bits16(0xDEAD);
    d.deviceError = bits16(0xDEAD);
    d.calibrationSave = bits16(0xDEAD);
    d.keyHelpOn = 1;
    d.memoryTraceCh1 = 1;
    d.memoryTraceCh2 = 1;
    d.memoryTraceCh3 = 1;
    d.memoryTraceCh4 = 1;
    d.bwLimitCh1 = 3;
    d.bwLimitCh2 = 3;
    d.bwLimitCh3 = 3;
    d.bwLimitCh4 = 3;
    d.splitLayout = 1;
    d.selfTestResult = 0xDEAD;
    d.refFftOffsetCh1 = 1250;
    d.refFftOffsetCh2 = 1250;
    d.refFftOffsetCh3 = 1250;
    d.refFftOffsetCh4 = 1250;
    d.repSig = 1;
    d.validChannelMask = 0xDEAD;
    d.meterAuxMeas = 2;
    d.meterFunction = 4;
    d.meterCouplingCh1 = 2;
    d.meterRangeCh1 = 3;
    d.meterAutoRangeCh1 = 1;
    d.meterCouplingCh2 = 2;
    d.meterRangeCh2 = 3;
    d.meterAutoRangeCh2 = 1;
    d.meterCouplingCh3 = 2;
    d.meterRangeCh3 = 3;
    d.meterAutoRangeCh3 = 1;
    d.meterCouplingCh4 = 2;
    d.meterRangeCh4 = 3;
    d.meterAutoRangeCh4 = 1;
    d.ohmRange = 6;
    d.capaRange = 7;
    d.traceColorCh1 = bits16(0xDEAD);
    d.traceColorCh2 = bits16(0xDEAD);
    d.traceColorCh3 = bits16(0xDEAD);
    d.traceColorCh4 = bits16(0xDEAD);
    d.qualifSource = 4;
    d.trigDelay = 2500000000u;
    d.eventCount = 16384;
    d.pulseT1 = 1875000000;
    d.spareWord178 = 1;
    d.pulseType = 3;
    d.trigType = 3;
    d.trigCouplingCh1 = 3;
    d.trigCouplingCh2 = 3;
    d.trigCouplingCh3 = 3;
    d.trigCouplingCh4 = 3;
    d.trigEdgeCh1 = 2;
    d.trigEdgeCh2 = 2;
    d.trigEdgeCh3 = 2;
    d.trigEdgeCh4 = 2;
    d.noiseRejectCh1 = 1;
    d.noiseRejectCh2 = 1;
    d.noiseRejectCh3 = 1;
    d.noiseRejectCh4 = 1;
    d.hwChannelMask = 0xDEAD;
    d.pulseT2 = 1875000000;
    d.busDiag = bits16(0xDEAD);
    d.harmPower = 1;
    d.spareWord201 = 3;
    d.harmonicFreq = 3;
    d.xyCursor1X = 655296;
    d.xyCursor2X = 655296;
    d.trigLevelAuto = 1;
    d.saveRestart = 1;
    d.eventSource = bits16(0xDEAD);
    d.eventType = bits16(0xDEAD);
    d.eventLevel1 = 655296;
    d.eventLevel2 = 655296;
    d.eventDuration = 100000;
    d.passFailSource = 3;
    d.passFailXMask = 200;
    d.passFailYMask = 200;
    d.passFailDisplay = 2;
    d.passFailBeep = 1;
    d.passFailRunStop = 1;
    d.passFailOn = 1;
    d.passFailMaskIsMemory = 1;
    return d;
}

}  // namespace

database data{};
// Built at compile time: no static constructor can run before them.
constexpr database init_par = makeDefaults();
constexpr database max_par = makeLimits();

constexpr uint16_t adr_par[kParameterCount] = {
#define X(name, member) offsetof(database, member),
    GEST_DB_FIELDS(X)
#undef X
};

constexpr uint8_t type_par[kParameterCount] = {
#define X(name, member) sizeof(database::member),
    GEST_DB_FIELDS(X)
#undef X
};

#undef GEST_DB_FIELDS

namespace {

bool validIndex(int64_t index) { return index >= 0 && index < kParameterCount; }

}  // namespace

int32_t get_db(const uint16_t (&adr)[kParameterCount],
               const uint8_t (&type)[kParameterCount], const database* image,
               uint32_t index) {
    // The controller passes the low 16 bits of any request code, remote ones
    // included: never trust the index.
    if (!validIndex(index)) return 0;
    const unsigned char* field =
        reinterpret_cast<const unsigned char*>(image) + adr[index];
    switch (type[index]) {
    case 1:
        return *field;
    case 2: {
        int16_t v;
        std::memcpy(&v, field, sizeof v);
        return v;
    }
    case 4: {
        uint32_t v;
        std::memcpy(&v, field, sizeof v);
        return static_cast<int32_t>(v);
    }
    default:
        return 0;
    }
}

void set_db(const uint16_t (&adr)[kParameterCount],
            const uint8_t (&type)[kParameterCount], int32_t index,
            uint32_t value) {
    if (!validIndex(index)) return;
    unsigned char* field = reinterpret_cast<unsigned char*>(&data) + adr[index];
    // Other threads read `data` without a lock: one aligned store per field so
    // they see the old or the new value, never a mix. Numeric fields are
    // naturally aligned (the record is not packed and its offsets are pinned).
    switch (type[index]) {
    case 1:
        __atomic_store_n(field, static_cast<uint8_t>(value), __ATOMIC_RELAXED);
        break;
    case 2:
        __atomic_store_n(reinterpret_cast<uint16_t*>(field),
                         static_cast<uint16_t>(value), __ATOMIC_RELAXED);
        break;
    case 4:
        // The 4-byte unit texts sit at 2-byte boundaries; texts are not
        // guarded against torn reads anyway.
        if (adr[index] % 4 == 0) {
            __atomic_store_n(reinterpret_cast<uint32_t*>(field), value,
                             __ATOMIC_RELAXED);
        } else {
            std::memcpy(field, &value, sizeof value);
        }
        break;
    default:
        break;
    }
}

void set_db(database* image, int32_t index, uint32_t value) {
    if (!image || !validIndex(index)) return;
    unsigned char* field = reinterpret_cast<unsigned char*>(image) + adr_par[index];
    const uint8_t width = type_par[index];
    if (width == 1 || width == 2 || width == 4)
        std::memcpy(field, &value, width);  // little-endian: the low bytes
}

uint32_t setupChecksum(const database& image) {
    return Checksum(reinterpret_cast<const unsigned char*>(&image) + 4,
                    kDatabaseSize - 4);
}

namespace {
// Raw pointers only: trivially destructible, so it outlives every thread.
TSetupLinks gLinks{};
}  // namespace

TSetupLinks& setupLinks() { return gLinks; }

// The link parameters with their member in TSetupLinks and slot in database.
#define GEST_DB_LINKS(X)                                   \
    X(measResultsPtr, mesures, measResultsPtrSlot)         \
    X(cursorTablePtr, int32_t, cursorTablePtrSlot)         \
    X(harmonicResultsPtr, THarmonicResults, harmonicResultsPtrSlot) \
    X(mathFunctionCh1, TFonction, mathFunctionCh1Slot)     \
    X(mathFunctionCh2, TFonction, mathFunctionCh2Slot)     \
    X(mathFunctionCh3, TFonction, mathFunctionCh3Slot)     \
    X(mathFunctionCh4, TFonction, mathFunctionCh4Slot)     \
    X(acqCh1, TAcquisition, acqCh1Slot)                    \
    X(acqCh2, TAcquisition, acqCh2Slot)                    \
    X(acqCh3, TAcquisition, acqCh3Slot)                    \
    X(acqCh4, TAcquisition, acqCh4Slot)                    \
    X(refAcqCh1, TAcquisition, refAcqCh1Slot)              \
    X(refAcqCh2, TAcquisition, refAcqCh2Slot)              \
    X(refAcqCh3, TAcquisition, refAcqCh3Slot)              \
    X(refAcqCh4, TAcquisition, refAcqCh4Slot)              \
    X(powerAcq, TAcquisition, powerAcqSlot)                \
    X(powerFunctionA, TFonction, powerFunctionASlot)       \
    X(powerFunctionB, TFonction, powerFunctionBSlot)       \
    X(maskAcq, TAcquisition, maskAcqSlot)

namespace {
// Shared-ownership slots, read and replaced with the atomic free functions; never destroyed.
std::shared_ptr<TKalvex>* probeSlots()
{
    static auto* slots = new std::shared_ptr<TKalvex>[4];
    return slots;
}
}  // namespace

std::shared_ptr<TKalvex> smartProbeLink(int channelIndex)
{
    if (channelIndex < 0 || channelIndex > 3)
        return nullptr;
    return std::atomic_load(&probeSlots()[channelIndex]);
}

void setSmartProbeLink(int channelIndex, std::shared_ptr<TKalvex> probe)
{
    if (channelIndex < 0 || channelIndex > 3)
        return;
    std::atomic_store(&probeSlots()[channelIndex], std::move(probe));
}

bool isLinkParameter(int index) {
    switch (index) {
#define X(name, type, slot) case param::name:
        GEST_DB_LINKS(X)
#undef X
    case param::smartProbeCh1:
    case param::smartProbeCh2:
    case param::smartProbeCh3:
    case param::smartProbeCh4:
        return true;
    default:
        return false;
    }
}

void* setupLink(int index) {
    switch (index) {
#define X(name, type, slot) \
    case param::name:       \
        return gLinks.name;
        GEST_DB_LINKS(X)
#undef X
    default:
        return nullptr;
    }
}

void setSetupLink(int index, void* link) {
    switch (index) {
#define X(name, type, slot)                       \
    case param::name:                             \
        gLinks.name = static_cast<type*>(link);   \
        break;
        GEST_DB_LINKS(X)
#undef X
    default:
        break;
    }
}

void clearLinkSlots(database* image) {
#define X(name, type, slot) image->slot = 0;
    GEST_DB_LINKS(X)
#undef X
    image->smartProbeCh1Slot = 0;
    image->smartProbeCh2Slot = 0;
    image->smartProbeCh3Slot = 0;
    image->smartProbeCh4Slot = 0;
}

#undef GEST_DB_LINKS
