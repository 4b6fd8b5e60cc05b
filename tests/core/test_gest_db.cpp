#include "core/checksum.h"
#include "core/gest_db.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <iterator>
#include <vector>

namespace {

// Restores `data` after a test that writes into it.
class DataGuard {
public:
    DataGuard() { std::memcpy(&saved_, &data, kDatabaseSize); }
    ~DataGuard() { std::memcpy(&data, &saved_, kDatabaseSize); }

private:
    database saved_;
};

class LinksGuard {
public:
    LinksGuard() : saved_(setupLinks()) {}
    ~LinksGuard() { setupLinks() = saved_; }

private:
    TSetupLinks saved_;
};

const unsigned char* bytesOf(const database& d) {
    return reinterpret_cast<const unsigned char*>(&d);
}

uint32_t floatBits(float f) {
    uint32_t u;
    std::memcpy(&u, &f, sizeof u);
    return u;
}

struct FieldRow {
    int index;
    int paramNumber;  // the param:: constant of that name
    const char* name;
    unsigned offset;
    unsigned width;
    std::size_t memberOffset;
    std::size_t memberSize;
};

// Parameter number, name, member, offset and width of every setup field, as
// the record's file format defines them.
#define ROW(i, name, member, off, w) \
    {i, param::name, #name, off, w, offsetof(database, member), sizeof(database::member)}
const FieldRow kFields[] = {
    ROW(0, setupChecksum, setupChecksum, 0, 4),
    ROW(1, spareWord1, spareWord1, 4, 2),
    ROW(2, traceMode, traceMode, 6, 2),
    ROW(3, acqRunStop, acqRunStop, 8, 2),
    ROW(4, userTimeBase, userTimeBase, 10, 2),
    ROW(5, sweepOffset, sweepOffset, 12, 4),
    ROW(6, spareWord6, spareWord6, 16, 2),
    ROW(7, trigMode, trigMode, 18, 2),
    ROW(8, channelFlags, channelFlags, 20, 2),
    ROW(9, offsetCh1, offsetCh1, 22, 2),
    ROW(10, offsetCh2, offsetCh2, 24, 2),
    ROW(11, offsetCh3, offsetCh3, 26, 2),
    ROW(12, offsetCh4, offsetCh4, 28, 2),
    ROW(13, horizPosition, horizPosition, 32, 4),
    ROW(14, traceOnCh1, traceOnCh1, 36, 1),
    ROW(15, couplingCh1, couplingCh1, 38, 2),
    ROW(16, traceOnCh2, traceOnCh2, 40, 1),
    ROW(17, couplingCh2, couplingCh2, 42, 2),
    ROW(18, traceOnCh3, traceOnCh3, 44, 1),
    ROW(19, couplingCh3, couplingCh3, 46, 2),
    ROW(20, traceOnCh4, traceOnCh4, 48, 1),
    ROW(21, couplingCh4, couplingCh4, 50, 2),
    ROW(22, measResultsPtr, measResultsPtrSlot, 52, 4),
    ROW(23, measRefChannel, measRefChannel, 56, 2),
    ROW(24, cursor1Time, cursor1Time, 60, 4),
    ROW(25, cursor2Time, cursor2Time, 64, 4),
    ROW(26, cursorTablePtr, cursorTablePtrSlot, 68, 4),
    ROW(27, autosetRequest, autosetRequest, 72, 2),
    ROW(28, spareWord28, spareWord28, 74, 2),
    ROW(29, spareWord29, spareWord29, 76, 2),
    ROW(30, hardcopyRequest, hardcopyRequest, 78, 2),
    ROW(31, keyLock, keyLock, 80, 2),
    ROW(32, trigHoldoff, trigHoldoff, 84, 4),
    ROW(33, channelOnMask, channelOnMask, 88, 4),
    ROW(34, trigStatus, trigStatus, 92, 2),
    ROW(35, spareWord35, spareWord35, 94, 2),
    ROW(36, zoomWidth, zoomWidth, 96, 4),
    ROW(37, minMax, minMax, 100, 2),
    ROW(38, instrumentMode, instrumentMode, 102, 2),
    ROW(39, harmOrder, harmOrder, 104, 2),
    ROW(40, harmonicResultsPtr, harmonicResultsPtrSlot, 108, 4),
    ROW(41, averageCount, averageCount, 112, 2),
    ROW(42, unitCh1, unitCh1, 114, 4),
    ROW(43, unitCh2, unitCh2, 118, 4),
    ROW(44, unitCh3, unitCh3, 122, 4),
    ROW(45, unitCh4, unitCh4, 126, 4),
    ROW(46, voltsPerDivCh1, voltsPerDivCh1, 132, 4),
    ROW(47, voltsPerDivCh2, voltsPerDivCh2, 136, 4),
    ROW(48, voltsPerDivCh3, voltsPerDivCh3, 140, 4),
    ROW(49, voltsPerDivCh4, voltsPerDivCh4, 144, 4),
    ROW(50, probeCoeffCh1, probeCoeffCh1, 148, 4),
    ROW(51, probeCoeffCh2, probeCoeffCh2, 152, 4),
    ROW(52, probeCoeffCh3, probeCoeffCh3, 156, 4),
    ROW(53, probeCoeffCh4, probeCoeffCh4, 160, 4),
    ROW(54, xUnit, xUnit, 164, 4),
    ROW(55, sensitivityCh1, sensitivityCh1, 168, 2),
    ROW(56, sensitivityCh2, sensitivityCh2, 170, 2),
    ROW(57, sensitivityCh3, sensitivityCh3, 172, 2),
    ROW(58, sensitivityCh4, sensitivityCh4, 174, 2),
    ROW(59, xySourceX, xySourceX, 176, 1),
    ROW(60, xySourceY, xySourceY, 177, 1),
    ROW(61, zoomState, zoomState, 178, 2),
    ROW(62, mathExprCh1, mathExprCh1, 180, 100),
    ROW(63, mathExprCh2, mathExprCh2, 280, 100),
    ROW(64, mathExprCh3, mathExprCh3, 380, 100),
    ROW(65, mathExprCh4, mathExprCh4, 480, 100),
    ROW(66, mathFunctionCh1, mathFunctionCh1Slot, 580, 4),
    ROW(67, mathFunctionCh2, mathFunctionCh2Slot, 584, 4),
    ROW(68, mathFunctionCh3, mathFunctionCh3Slot, 588, 4),
    ROW(69, mathFunctionCh4, mathFunctionCh4Slot, 592, 4),
    ROW(70, fftZoomWidth, fftZoomWidth, 596, 4),
    ROW(71, fftHorizPosition, fftHorizPosition, 600, 4),
    ROW(72, fftZoomState, fftZoomState, 604, 2),
    ROW(73, traceFormat, traceFormat, 606, 2),
    ROW(74, indicatorMask, indicatorMask, 608, 2),
    ROW(75, acqCh1, acqCh1Slot, 612, 4),
    ROW(76, acqCh2, acqCh2Slot, 616, 4),
    ROW(77, acqCh3, acqCh3Slot, 620, 4),
    ROW(78, acqCh4, acqCh4Slot, 624, 4),
    ROW(79, refAcqCh1, refAcqCh1Slot, 628, 4),
    ROW(80, refAcqCh2, refAcqCh2Slot, 632, 4),
    ROW(81, refAcqCh3, refAcqCh3Slot, 636, 4),
    ROW(82, refAcqCh4, refAcqCh4Slot, 640, 4),
    ROW(83, refCapture, refCapture, 644, 2),
    ROW(84, refShownCh1, refShownCh1, 646, 1),
    ROW(85, refShownCh2, refShownCh2, 647, 1),
    ROW(86, refShownCh3, refShownCh3, 648, 1),
    ROW(87, refShownCh4, refShownCh4, 649, 1),
    ROW(88, cursor1Level, cursor1Level, 652, 4),
    ROW(89, cursor2Level, cursor2Level, 656, 4),
    ROW(90, manualCursorA, manualCursorA, 660, 2),
    ROW(91, manualCursorB, manualCursorB, 662, 2),
    ROW(92, cursor3Time, cursor3Time, 664, 4),
    ROW(93, cursorState, cursorState, 668, 2),
    ROW(94, vZoomFactor, vZoomFactor, 672, 4),
    ROW(95, vZoomPosition, vZoomPosition, 676, 4),
    ROW(96, fftVZoomFactor, fftVZoomFactor, 680, 4),
    ROW(97, fftVZoomPosition, fftVZoomPosition, 684, 4),
    ROW(98, fftVerticalScale, fftVerticalScale, 688, 2),
    ROW(99, fftWindow, fftWindow, 690, 2),
    ROW(100, keyToggleFlag, keyToggleFlag, 692, 1),
    ROW(101, xyZoomFactor, xyZoomFactor, 696, 4),
    ROW(102, xyZoomPosition, xyZoomPosition, 700, 4),
    ROW(103, displayBrightness, displayBrightness, 704, 1),
    ROW(104, auxCoeffCh1, auxCoeffCh1, 708, 4),
    ROW(105, auxCoeffCh2, auxCoeffCh2, 712, 4),
    ROW(106, auxCoeffCh3, auxCoeffCh3, 716, 4),
    ROW(107, auxCoeffCh4, auxCoeffCh4, 720, 4),
    ROW(108, auxScaleCh1, auxScaleCh1, 724, 4),
    ROW(109, auxScaleCh2, auxScaleCh2, 728, 4),
    ROW(110, auxScaleCh3, auxScaleCh3, 732, 4),
    ROW(111, auxScaleCh4, auxScaleCh4, 736, 4),
    ROW(112, trigSource, trigSource, 740, 2),
    ROW(113, trigLevelCh1, trigLevelCh1, 742, 2),
    ROW(114, trigLevelCh2, trigLevelCh2, 744, 2),
    ROW(115, trigLevelCh3, trigLevelCh3, 746, 2),
    ROW(116, trigLevelCh4, trigLevelCh4, 748, 2),
    ROW(117, fftOffsetCh1, fftOffsetCh1, 750, 2),
    ROW(118, fftOffsetCh2, fftOffsetCh2, 752, 2),
    ROW(119, fftOffsetCh3, fftOffsetCh3, 754, 2),
    ROW(120, fftOffsetCh4, fftOffsetCh4, 756, 2),
    ROW(121, timeBaseIndex, timeBaseIndex, 758, 2),
    ROW(122, powerOffRequest, powerOffRequest, 760, 1),
    ROW(123, refOffsetCh1, refOffsetCh1, 762, 2),
    ROW(124, refOffsetCh2, refOffsetCh2, 764, 2),
    ROW(125, refOffsetCh3, refOffsetCh3, 766, 2),
    ROW(126, refOffsetCh4, refOffsetCh4, 768, 2),
    ROW(127, calRange, calRange, 770, 2),
    ROW(128, calibrationRead, calibrationRead, 772, 2),
    ROW(129, calibrationWrite, calibrationWrite, 774, 2),
    ROW(130, deviceError, deviceError, 776, 2),
    ROW(131, calibrationSave, calibrationSave, 778, 2),
    ROW(132, keyHelpOn, keyHelpOn, 780, 1),
    ROW(133, loggerFileName, loggerFileName, 781, 40),
    ROW(134, memoryTraceCh1, memoryTraceCh1, 821, 1),
    ROW(135, memoryTraceCh2, memoryTraceCh2, 822, 1),
    ROW(136, memoryTraceCh3, memoryTraceCh3, 823, 1),
    ROW(137, memoryTraceCh4, memoryTraceCh4, 824, 1),
    ROW(138, bwLimitCh1, bwLimitCh1, 828, 4),
    ROW(139, bwLimitCh2, bwLimitCh2, 832, 4),
    ROW(140, bwLimitCh3, bwLimitCh3, 836, 4),
    ROW(141, bwLimitCh4, bwLimitCh4, 840, 4),
    ROW(142, splitLayout, splitLayout, 844, 1),
    ROW(143, selfTestResult, selfTestResult, 846, 2),
    ROW(144, refFftOffsetCh1, refFftOffsetCh1, 848, 2),
    ROW(145, refFftOffsetCh2, refFftOffsetCh2, 850, 2),
    ROW(146, refFftOffsetCh3, refFftOffsetCh3, 852, 2),
    ROW(147, refFftOffsetCh4, refFftOffsetCh4, 854, 2),
    ROW(148, repSig, repSig, 856, 1),
    ROW(149, validChannelMask, validChannelMask, 858, 2),
    ROW(150, meterAuxMeas, meterAuxMeas, 860, 2),
    ROW(151, meterFunction, meterFunction, 862, 2),
    ROW(152, meterCouplingCh1, meterCouplingCh1, 864, 2),
    ROW(153, meterRangeCh1, meterRangeCh1, 866, 2),
    ROW(154, meterAutoRangeCh1, meterAutoRangeCh1, 868, 1),
    ROW(155, meterCouplingCh2, meterCouplingCh2, 870, 2),
    ROW(156, meterRangeCh2, meterRangeCh2, 872, 2),
    ROW(157, meterAutoRangeCh2, meterAutoRangeCh2, 874, 1),
    ROW(158, meterCouplingCh3, meterCouplingCh3, 876, 2),
    ROW(159, meterRangeCh3, meterRangeCh3, 878, 2),
    ROW(160, meterAutoRangeCh3, meterAutoRangeCh3, 880, 1),
    ROW(161, meterCouplingCh4, meterCouplingCh4, 882, 2),
    ROW(162, meterRangeCh4, meterRangeCh4, 884, 2),
    ROW(163, meterAutoRangeCh4, meterAutoRangeCh4, 886, 1),
    ROW(164, ohmRange, ohmRange, 888, 2),
    ROW(165, capaRange, capaRange, 890, 2),
    ROW(166, traceColorCh1, traceColorCh1, 892, 2),
    ROW(167, traceColorCh2, traceColorCh2, 894, 2),
    ROW(168, traceColorCh3, traceColorCh3, 896, 2),
    ROW(169, traceColorCh4, traceColorCh4, 898, 2),
    ROW(170, smartProbeCh1, smartProbeCh1Slot, 900, 4),
    ROW(171, smartProbeCh2, smartProbeCh2Slot, 904, 4),
    ROW(172, smartProbeCh3, smartProbeCh3Slot, 908, 4),
    ROW(173, smartProbeCh4, smartProbeCh4Slot, 912, 4),
    ROW(174, qualifSource, qualifSource, 916, 2),
    ROW(175, trigDelay, trigDelay, 920, 4),
    ROW(176, eventCount, eventCount, 924, 4),
    ROW(177, pulseT1, pulseT1, 928, 4),
    ROW(178, spareWord178, spareWord178, 932, 2),
    ROW(179, pulseType, pulseType, 934, 2),
    ROW(180, trigType, trigType, 936, 2),
    ROW(181, trigCouplingCh1, trigCouplingCh1, 938, 2),
    ROW(182, trigCouplingCh2, trigCouplingCh2, 940, 2),
    ROW(183, trigCouplingCh3, trigCouplingCh3, 942, 2),
    ROW(184, trigCouplingCh4, trigCouplingCh4, 944, 2),
    ROW(185, trigEdgeCh1, trigEdgeCh1, 946, 2),
    ROW(186, trigEdgeCh2, trigEdgeCh2, 948, 2),
    ROW(187, trigEdgeCh3, trigEdgeCh3, 950, 2),
    ROW(188, trigEdgeCh4, trigEdgeCh4, 952, 2),
    ROW(189, noiseRejectCh1, noiseRejectCh1, 954, 2),
    ROW(190, noiseRejectCh2, noiseRejectCh2, 956, 2),
    ROW(191, noiseRejectCh3, noiseRejectCh3, 958, 2),
    ROW(192, noiseRejectCh4, noiseRejectCh4, 960, 2),
    ROW(193, hwChannelMask, hwChannelMask, 962, 2),
    ROW(194, pulseT2, pulseT2, 964, 4),
    ROW(195, busFileName, busFileName, 968, 40),
    ROW(196, busDiag, busDiag, 1008, 2),
    ROW(197, powerAcq, powerAcqSlot, 1012, 4),
    ROW(198, harmPower, harmPower, 1016, 2),
    ROW(199, powerFunctionA, powerFunctionASlot, 1020, 4),
    ROW(200, powerFunctionB, powerFunctionBSlot, 1024, 4),
    ROW(201, spareWord201, spareWord201, 1028, 2),
    ROW(202, harmonicFreq, harmonicFreq, 1030, 2),
    ROW(203, xyCursor1X, xyCursor1X, 1032, 4),
    ROW(204, xyCursor2X, xyCursor2X, 1036, 4),
    ROW(205, trigLevelAuto, trigLevelAuto, 1040, 1),
    ROW(206, saveRestart, saveRestart, 1041, 1),
    ROW(207, eventSource, eventSource, 1042, 2),
    ROW(208, eventType, eventType, 1044, 2),
    ROW(209, eventLevel1, eventLevel1, 1048, 4),
    ROW(210, eventLevel2, eventLevel2, 1052, 4),
    ROW(211, eventDuration, eventDuration, 1056, 4),
    ROW(212, passFailSource, passFailSource, 1060, 2),
    ROW(213, passFailXMask, passFailXMask, 1062, 2),
    ROW(214, passFailYMask, passFailYMask, 1064, 2),
    ROW(215, passFailDisplay, passFailDisplay, 1066, 2),
    ROW(216, passFailBeep, passFailBeep, 1068, 2),
    ROW(217, maskAcq, maskAcqSlot, 1072, 4),
    ROW(218, passFailRunStop, passFailRunStop, 1076, 2),
    ROW(219, passFailOn, passFailOn, 1078, 2),
    ROW(220, passFailMaskIsMemory, passFailMaskIsMemory, 1080, 2),
    ROW(221, spareBlock, spareBlock, 1082, 148),
};
#undef ROW

struct Gap {
    unsigned offset;
    unsigned length;
};
const Gap kPadding[] = {
    {30, 2}, {37, 1}, {41, 1}, {45, 1}, {49, 1}, {58, 2}, {82, 2}, {106, 2}, {130, 2},
    {610, 2}, {650, 2}, {670, 2}, {693, 3}, {705, 3}, {761, 1}, {825, 3}, {845, 1}, {857, 1},
    {869, 1}, {875, 1}, {881, 1}, {887, 1}, {918, 2}, {1010, 2}, {1018, 2}, {1046, 2},
    {1070, 2}, {1230, 2}
};

const int kLinkIndices[] = {22, 26, 40, 66, 67, 68, 69, 75, 76, 77, 78, 79,
                            80, 81, 82, 170, 171, 172, 173, 197, 199, 200, 217};

bool isLinkIndex(int index) {
    for (int l : kLinkIndices) {
        if (l == index) return true;
    }
    return false;
}

TEST(GestDbLayout, ParameterTablesMatchFileFormatAndRecord) {
    ASSERT_EQ(std::size(kFields), static_cast<std::size_t>(kParameterCount));
    for (const FieldRow& f : kFields) {
        SCOPED_TRACE(f.name);
        ASSERT_EQ(f.index, &f - kFields);  // other tests index kFields by number
        EXPECT_EQ(f.paramNumber, f.index);
        EXPECT_EQ(adr_par[f.index], f.offset);
        EXPECT_EQ(type_par[f.index], f.width);
        EXPECT_EQ(f.memberOffset, f.offset);
        EXPECT_EQ(f.memberSize, f.width);
    }
}

TEST(GestDbLayout, FieldsAndPaddingCoverEveryByteOnce) {
    std::vector<int> owners(kDatabaseSize, 0);
    for (int i = 0; i < kParameterCount; ++i) {
        for (unsigned b = 0; b < type_par[i]; ++b) ++owners.at(adr_par[i] + b);
    }
    for (const Gap& g : kPadding) {
        for (unsigned b = 0; b < g.length; ++b) ++owners.at(g.offset + b);
    }
    for (unsigned b = 0; b < kDatabaseSize; ++b) EXPECT_EQ(owners[b], 1) << "byte " << b;
}

TEST(GestDbLayout, PaddingSpareBlockAndLinkSlotsAreZeroInDefaultsAndLimits) {
    for (const database* image : {&init_par, &max_par}) {
        const unsigned char* bytes = bytesOf(*image);
        for (const Gap& g : kPadding) {
            for (unsigned b = 0; b < g.length; ++b) {
                EXPECT_EQ(bytes[g.offset + b], 0) << "padding byte " << g.offset + b;
            }
        }
        for (unsigned b = 0; b < sizeof image->spareBlock; ++b) {
            EXPECT_EQ(image->spareBlock[b], 0) << "spareBlock byte " << b;
        }
        for (int index : kLinkIndices) {
            uint32_t slot;
            std::memcpy(&slot, bytes + adr_par[index], sizeof slot);
            EXPECT_EQ(slot, 0u) << "link slot of parameter " << index;
        }
    }
}

// Any slip in transcribing a default (floats through their IEEE bits) moves
// the byte sum.
TEST(GestDbDefaults, ChecksumOfDefaultsMatchesReference) {
    EXPECT_EQ(Checksum(bytesOf(init_par) + 4, kDatabaseSize - 4), 0xFFFFCE33u);
    EXPECT_EQ(setupChecksum(init_par), 0xFFFFCE33u);
    EXPECT_EQ(init_par.setupChecksum, 0xDEADu);
}

// The checksum cannot see two defaults swapped; check the ones where order
// matters, and the texts.
TEST(GestDbDefaults, SpotChecks) {
    EXPECT_EQ(init_par.traceColorCh1, 4);
    EXPECT_EQ(init_par.traceColorCh2, 2);
    EXPECT_EQ(init_par.traceColorCh3, 1);
    EXPECT_EQ(init_par.traceColorCh4, 5);
    EXPECT_EQ(init_par.xySourceX, 0);
    EXPECT_EQ(init_par.xySourceY, 1);
    EXPECT_EQ(init_par.cursor1Level, 425976);
    EXPECT_EQ(init_par.xyCursor1X, -425976);
    EXPECT_EQ(init_par.sweepOffset, -50000);
    EXPECT_EQ(init_par.ohmRange, 3);
    EXPECT_EQ(init_par.capaRange, 4);
    EXPECT_EQ(static_cast<uint16_t>(init_par.spareWord35), 0xDEAD);
    EXPECT_EQ(static_cast<uint16_t>(init_par.calRange), 0xDEAD);
    EXPECT_EQ(init_par.instrumentMode, 0x8000);
    EXPECT_EQ(init_par.indicatorMask, 0xFFFF);
    EXPECT_EQ(init_par.zoomWidth, 40.0f);
    EXPECT_EQ(init_par.probeCoeffCh1, 1.0f);
    EXPECT_EQ(init_par.auxCoeffCh1, 0.0f);
    EXPECT_STREQ(init_par.unitCh4, "V");
    EXPECT_STREQ(init_par.xUnit, "s");
    EXPECT_STREQ(init_par.busFileName, "RS232_9600bps.bus");
    EXPECT_STREQ(init_par.mathExprCh1, "");
    EXPECT_STREQ(init_par.loggerFileName, "");
}

TEST(GestDbLimits, SpotChecks) {
    EXPECT_EQ(max_par.sweepOffset, 1900000);
    EXPECT_EQ(max_par.trigLevelCh1, 1000);
    EXPECT_EQ(max_par.instrumentMode, 128);
    EXPECT_EQ(max_par.trigDelay, 2500000000u);
    EXPECT_EQ(max_par.pulseT2, 1875000000);
    EXPECT_EQ(max_par.displayBrightness, 9);
    EXPECT_EQ(max_par.probeCoeffCh1, 100000.0f);
    EXPECT_EQ(max_par.probeCoeffCh2, 1000.0f);
    EXPECT_EQ(max_par.zoomWidth, 40.0f);
    EXPECT_EQ(max_par.vZoomFactor, 16.0f);

    // "No limit" marks, one per width and kind.
    EXPECT_EQ(static_cast<uint16_t>(max_par.autosetRequest), 0xDEAD);
    EXPECT_EQ(max_par.channelFlags, 0xDEAD);
    EXPECT_EQ(static_cast<uint32_t>(max_par.fftHorizPosition), 0xDEADDEADu);
    EXPECT_EQ(max_par.channelOnMask, 0xDEADDEADu);
    EXPECT_EQ(max_par.setupChecksum, 0xDEADDEADu);
    EXPECT_EQ(floatBits(max_par.voltsPerDivCh1), 0xDEADDEADu);
    EXPECT_EQ(floatBits(max_par.auxScaleCh4), 0xDEADDEADu);
    EXPECT_EQ(max_par.unitCh1[0], 0);
    EXPECT_EQ(max_par.busFileName[0], 0);
}

// Guards the whole limit record the way the defaults' checksum guards those.
TEST(GestDbLimits, ChecksumOfLimitsMatchesReference) {
    EXPECT_EQ(setupChecksum(max_par), 0xFFFF767Au);
}

TEST(GestDbChecksum, Cases) {
    const unsigned char three[] = {1, 2, 3};
    EXPECT_EQ(Checksum(three, 3), 0xFFFFFFF9u);
    EXPECT_EQ(Checksum(three, 0), 0xFFFFFFFFu);

    const std::vector<unsigned char> zeros(kDatabaseSize - 4, 0);
    EXPECT_EQ(Checksum(zeros.data(), static_cast<uint32_t>(zeros.size())), 0xFFFFFFFFu);

    // Bytes are summed unsigned.
    const unsigned char high[] = {0x80, 0xFF};
    EXPECT_EQ(Checksum(high, 2), ~uint32_t{0x17F});

    // 16843010 x 0xFF = 2^32 + 254: the sum wraps at 32 bits.
    const std::vector<unsigned char> ff(16843010, 0xFF);
    EXPECT_EQ(Checksum(ff.data(), static_cast<uint32_t>(ff.size())), ~uint32_t{254});
}

TEST(GestDbGet, ReadsEveryWidthOfAnyImage) {
    database image;
    std::memcpy(&image, &init_par, kDatabaseSize);
    image.traceOnCh1 = 0xFF;
    image.offsetCh1 = 1250;

    struct Case {
        const database* image;
        uint32_t index;
        int32_t expected;
    };
    const Case cases[] = {
        {&init_par, param::instrumentMode, -32768},  // 0x8000, sign-extended
        {&max_par, param::trigDelay, static_cast<int32_t>(2500000000u)},
        {&image, param::traceOnCh1, 255},  // bytes are not sign-extended
        {&image, param::offsetCh1, 1250},
        {&init_par, param::spareWord35, static_cast<int16_t>(0xDEAD)},
        {&init_par, param::sweepOffset, -50000},
        {&init_par, param::displayBrightness, 7},
        {&init_par, param::zoomWidth, static_cast<int32_t>(floatBits(40.0f))},
        {&max_par, param::voltsPerDivCh1, static_cast<int32_t>(0xDEADDEADu)},
        // 4-byte unit texts have width 4 and read as a word.
        {&init_par, param::unitCh1, 'V'},
        {&init_par, param::mathExprCh1, 0},
        {&init_par, param::busFileName, 0},
        {&init_par, param::loggerFileName, 0},
        {&init_par, param::spareBlock, 0},
        {&init_par, 222, 0},
        {&init_par, 0xFFFF, 0},
        {&init_par, 0xFFFFFFFFu, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(get_db(adr_par, type_par, c.image, c.index), c.expected)
            << "index " << c.index;
    }
}

TEST(GestDbSet, WritesLowBytesOfTheFieldOnly) {
    DataGuard guard;
    // A distinct value in every byte, so a write spilling into a neighbour shows.
    std::vector<unsigned char> pattern(kDatabaseSize);
    for (unsigned i = 0; i < kDatabaseSize; ++i) pattern[i] = static_cast<unsigned char>(i * 7 + 1);

    struct Case {
        int32_t index;
        uint32_t value;
        std::vector<unsigned char> stored;  // empty: nothing may change
    };
    const Case cases[] = {
        {param::offsetCh1, 0x12345, {0x45, 0x23}},
        {param::instrumentMode, 0xFFFF8000u, {0x00, 0x80}},
        {param::traceOnCh1, 0x1FF, {0xFF}},
        {param::keyToggleFlag, 1, {0x01}},
        {param::trigDelay, 2500000000u, {0x00, 0xF9, 0x02, 0x95}},
        {param::zoomWidth, floatBits(10.0f), {0x00, 0x00, 0x20, 0x41}},
        {param::unitCh2, 0x4D41u, {'A', 'M', 0, 0}},  // 4-byte text off a 4-byte boundary
        {param::mathExprCh1, 0x41, {}},
        {param::busFileName, 0x41, {}},
        {param::spareBlock, 0xFFFFFFFFu, {}},
        {222, 1, {}},
        {0xFFFF, 1, {}},
        {-1, 1, {}},
        {INT32_MIN, 1, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "index " << c.index);
        std::memcpy(&data, pattern.data(), kDatabaseSize);
        set_db(adr_par, type_par, c.index, c.value);

        std::vector<unsigned char> expected = pattern;
        if (!c.stored.empty()) {
            const FieldRow& f = kFields[c.index];
            ASSERT_EQ(f.width, c.stored.size());
            std::copy(c.stored.begin(), c.stored.end(), expected.begin() + f.offset);
        }
        const unsigned char* actual = bytesOf(data);
        for (unsigned b = 0; b < kDatabaseSize; ++b) {
            ASSERT_EQ(actual[b], expected[b]) << "byte " << b;
        }
    }
}

TEST(GestDbSet, ReadsBackThroughGetDb) {
    DataGuard guard;
    std::memcpy(&data, &init_par, kDatabaseSize);
    set_db(adr_par, type_par, param::trigLevelCh3, static_cast<uint32_t>(-1000));
    set_db(adr_par, type_par, param::cursor2Level, 655296);
    set_db(adr_par, type_par, param::probeCoeffCh4, floatBits(10.0f));
    EXPECT_EQ(data.trigLevelCh3, -1000);
    EXPECT_EQ(get_db(adr_par, type_par, &data, param::trigLevelCh3), -1000);
    EXPECT_EQ(data.cursor2Level, 655296);
    EXPECT_EQ(data.probeCoeffCh4, 10.0f);
}

TEST(GestDbLinks, NumberedAccessCoversExactlyTheLinkParameters) {
    LinksGuard guard;
    static int targets[kParameterCount];
    for (int i = 0; i < kParameterCount; ++i) setSetupLink(i, &targets[i]);
    for (int i = 0; i < kParameterCount; ++i) {
        SCOPED_TRACE(testing::Message() << "index " << i);
        EXPECT_EQ(isLinkParameter(i), isLinkIndex(i));
        const bool probe = i >= param::smartProbeCh1 && i <= param::smartProbeCh4;
        EXPECT_EQ(setupLink(i), isLinkIndex(i) && !probe ? &targets[i] : nullptr);
    }
    for (int i : {-1, 222, 0xFFFF}) {
        EXPECT_FALSE(isLinkParameter(i));
        EXPECT_EQ(setupLink(i), nullptr);
        setSetupLink(i, &targets[0]);  // must not crash or land anywhere
    }

    const TSetupLinks& links = setupLinks();
    EXPECT_EQ(static_cast<void*>(links.measResultsPtr), &targets[param::measResultsPtr]);
    EXPECT_EQ(static_cast<void*>(links.cursorTablePtr), &targets[param::cursorTablePtr]);
    EXPECT_EQ(static_cast<void*>(links.harmonicResultsPtr), &targets[param::harmonicResultsPtr]);
    EXPECT_EQ(static_cast<void*>(links.mathFunctionCh4), &targets[param::mathFunctionCh4]);
    EXPECT_EQ(static_cast<void*>(links.acqCh1), &targets[param::acqCh1]);
    EXPECT_EQ(static_cast<void*>(links.refAcqCh4), &targets[param::refAcqCh4]);
    EXPECT_EQ(static_cast<void*>(links.powerAcq), &targets[param::powerAcq]);
    EXPECT_EQ(static_cast<void*>(links.powerFunctionB), &targets[param::powerFunctionB]);
    EXPECT_EQ(static_cast<void*>(links.maskAcq), &targets[param::maskAcq]);
}

// The probe links are shared-ownership slots behind typed accessors only: the untyped ones never
// reach them, and a copy taken before an unlink keeps its probe alive.
TEST(GestDbLinks, ProbeLinksOnlyThroughTypedAccessors) {
    for (int ch = 0; ch < 4; ++ch) {
        SCOPED_TRACE(ch);
        auto probe = std::shared_ptr<TKalvex>(reinterpret_cast<TKalvex*>(new char[1]),
                                              [](TKalvex* p) { delete[] reinterpret_cast<char*>(p); });
        setSmartProbeLink(ch, probe);
        EXPECT_EQ(setupLink(param::smartProbeCh1 + ch), nullptr);
        int other = 0;
        setSetupLink(param::smartProbeCh1 + ch, &other);
        std::shared_ptr<TKalvex> held = smartProbeLink(ch);
        EXPECT_EQ(held, probe);
        setSmartProbeLink(ch, nullptr);
        probe.reset();
        EXPECT_EQ(held.use_count(), 1);
        EXPECT_EQ(smartProbeLink(ch), nullptr);
    }
    EXPECT_EQ(smartProbeLink(-1), nullptr);
    EXPECT_EQ(smartProbeLink(4), nullptr);
    setSmartProbeLink(4, nullptr);  // no effect, no crash
}

TEST(GestDbLinks, WholeRecordCopyLeavesLinksAlone) {
    DataGuard dataGuard;
    LinksGuard linksGuard;
    int32_t cursorTable[7] = {};
    setupLinks().cursorTablePtr = cursorTable;
    setSetupLink(param::acqCh3, &cursorTable[1]);

    std::memcpy(&data, &init_par, kDatabaseSize);

    EXPECT_EQ(setupLinks().cursorTablePtr, cursorTable);
    EXPECT_EQ(setupLink(param::acqCh3), &cursorTable[1]);
    EXPECT_EQ(get_db(adr_par, type_par, &data, param::acqCh3), 0);
}

TEST(GestDbLinks, ClearLinkSlotsZeroesSlotBytesOnly) {
    database image;
    std::memset(&image, 0xAB, kDatabaseSize);
    clearLinkSlots(&image);

    std::vector<unsigned char> expected(kDatabaseSize, 0xAB);
    for (int index : kLinkIndices) {
        const FieldRow& f = kFields[index];
        ASSERT_EQ(f.width, 4u);
        std::fill_n(expected.begin() + f.offset, f.width, 0);
    }
    const unsigned char* actual = bytesOf(image);
    for (unsigned b = 0; b < kDatabaseSize; ++b) EXPECT_EQ(actual[b], expected[b]) << "byte " << b;
}

}  // namespace
