// Setup consistency helpers: time base and zoom, cursors, measurement reference, valid-trace
// word, derived scales and the power functions.
#include "core/setup_consistency.h"

#include "acquisition/TAcquisition.h"
#include "acquisition/TFonction.h"
#include "acquisition/measkernel.h"
#include "core/command_param.h"
#include "core/gest_db.h"
#include "core/scale.h"
#include "tests/support/simfpgaboardtest.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

class ConsistencyTest : public SimFpgaBoardTest {
protected:
    void SetUp() override
    {
        SimFpgaBoardTest::SetUp();
        std::memcpy(&data, &init_par, sizeof data);
        data.instrumentMode = 16;
        data.traceFormat = 0;
        data.zoomState = 0;
        data.zoomWidth = 40.0f;
        data.horizPosition = 0;
        data.fftZoomState = 0;
        data.fftZoomWidth = 40.0f;
        data.fftHorizPosition = 0;
        data.userTimeBase = 15;
        data.timeBaseIndex = 15;
        data.vZoomFactor = 1.0f;
        data.vZoomPosition = 0;
        measurements_.assign(kMeasurementRecords, mesures{});
        std::memset(measurements_.data(), 0xAB, kMeasurementRecords * kMeasurementRecordSize);
        harmonics_.assign(kHarmonicRecords * kHarmonicRecordSize, 0xAB);
        setupLinks().measResultsPtr = measurements_.data();
        setupLinks().harmonicResultsPtr = reinterpret_cast<THarmonicResults*>(harmonics_.data());
    }

    void TearDown() override
    {
        setupLinks().measResultsPtr = nullptr;
        setupLinks().harmonicResultsPtr = nullptr;
        SimFpgaBoardTest::TearDown();
    }

    bool measurementZero(int record) const
    {
        const auto* r = reinterpret_cast<const unsigned char*>(measurements_.data() + record);
        for (size_t i = 0; i < kMeasurementRecordSize; ++i)
            if (r[i] != 0)
                return false;
        return true;
    }
    uint32_t firstWord(const std::vector<unsigned char>& table, size_t recordSize, int record) const
    {
        uint32_t word;
        std::memcpy(&word, table.data() + record * recordSize, sizeof word);
        return word;
    }

    std::vector<mesures> measurements_;
    std::vector<unsigned char> harmonics_;
};

TEST_F(ConsistencyTest, FastTimeBaseZoomsInSoftwareAroundTheOldWindow)
{
    SetUserTimeBase(3);
    EXPECT_EQ(data.userTimeBase, 6);
    EXPECT_EQ(data.zoomState, 2);
    EXPECT_EQ(data.zoomWidth, 4.0f);
    EXPECT_EQ(data.horizPosition, 45000);  // centred: 45,000..55,000 of 0..100,000

    // A window near the end stays within the record.
    data.zoomWidth = 20.0f;
    data.horizPosition = 90000;
    SetUserTimeBase(2);  // width 2
    EXPECT_EQ(data.zoomWidth, 2.0f);
    EXPECT_EQ(data.horizPosition, 95000);

    // In the FFT format the acquisition time base is set to 6, unzoomed.
    data.traceFormat = 1;
    data.timeBaseIndex = 3;
    SetUserTimeBase(3);
    EXPECT_EQ(data.zoomState, 0);
    EXPECT_EQ(data.timeBaseIndex, 6);
}

TEST_F(ConsistencyTest, SlowerTimeBaseKeepsTheMatchedZoom)
{
    // Unzoomed: the index is applied as it is.
    SetUserTimeBase(20);
    EXPECT_EQ(data.userTimeBase, 20);
    EXPECT_EQ(data.timeBaseIndex, 20);
    EXPECT_EQ(data.zoomWidth, 40.0f);

    // Zoomed by 8: 20 us of 200 us a division is matched to 20 us, 50 us to 50 us.
    data.zoomState = 2;
    data.zoomWidth = 8.0f;
    data.horizPosition = 90000;
    data.timeBaseIndex = 13;
    SetUserTimeBase(17);  // 500 us a division: 100 us displayed
    EXPECT_EQ(data.userTimeBase, 17);
    EXPECT_FLOAT_EQ(data.zoomWidth, 8.0f);
    EXPECT_EQ(data.horizPosition, 80000);
    EXPECT_EQ(data.timeBaseIndex, 13);  // zoomed: the displayed index stays

    // Leaving the software zoom of index 6 resets it first.
    data.userTimeBase = 6;
    data.zoomWidth = 20.0f;
    data.horizPosition = 30000;
    SetUserTimeBase(9);
    EXPECT_EQ(data.zoomState, 0);
    EXPECT_EQ(data.zoomWidth, 40.0f);
    EXPECT_EQ(data.horizPosition, 0);
    EXPECT_EQ(data.timeBaseIndex, 9);

    // Outside scope modes nothing happens.
    data.instrumentMode = 128;
    SetUserTimeBase(3);
    EXPECT_EQ(data.userTimeBase, 9);
}

TEST_F(ConsistencyTest, FftSpanFollowsTheTimeBase)
{
    data.traceFormat = 1;
    data.fftHorizPosition = 70000;
    SetUserTimeBase(12);
    EXPECT_EQ(data.fftZoomWidth, 40.0f);
    EXPECT_EQ(data.fftHorizPosition, 0);
    EXPECT_EQ(data.timeBaseIndex, 12);

    // A zoomed span is matched to a time base: 4/40 of the span at index 12 is index 15's span.
    data.fftZoomWidth = 4.0f;
    data.fftHorizPosition = 95000;
    SetUserTimeBase(12);
    EXPECT_FLOAT_EQ(data.fftZoomWidth, 4.0f);
    EXPECT_EQ(data.fftHorizPosition, 90000);

    // The zoom adapts to the kept time base; below index 7 the matched index is displayed.
    data.traceFormat = 0;
    data.userTimeBase = 6;
    data.zoomWidth = 8.0f;
    data.timeBaseIndex = 0;
    adjustHorizontalZoom();
    EXPECT_FLOAT_EQ(data.zoomWidth, 10.0f);  // 2 ps a point is matched to 2.5 ps
    EXPECT_EQ(data.timeBaseIndex, 4);
}

TEST_F(ConsistencyTest, CursorsComeBackIntoTheVisibleWindow)
{
    data.cursor1Level = 0;        // above the screen
    data.cursor2Level = 0xFFFFF;  // below it
    data.xyCursor1X = 0;          // stored negated
    data.xyCursor2X = -500000;
    data.cursor1Time = -5;
    data.cursor2Time = 150000;
    data.cursor3Time = 500;
    SetCursorsInScreen(1);
    EXPECT_EQ(data.cursor1Level, 0x60000);
    EXPECT_EQ(data.cursor2Level, 0x9FFC0);
    EXPECT_EQ(data.xyCursor1X, -0x60000);
    EXPECT_EQ(data.xyCursor2X, -500000);
    EXPECT_EQ(data.cursor1Time, 0);
    EXPECT_EQ(data.cursor2Time, 99999);
    EXPECT_EQ(data.cursor3Time, 500);

    // Zoomed twice vertically, a quarter of the record from 10,000.
    data.zoomState = 2;
    data.zoomWidth = 10.0f;
    data.horizPosition = 10000;
    data.vZoomFactor = 2.0f;
    data.cursor1Level = 0x60000;
    data.cursor3Time = 50000;
    SetCursorsInScreen(3);
    EXPECT_EQ(data.cursor1Level, 0x60000 + 131040);
    EXPECT_EQ(data.cursor3Time, 34999);
    EXPECT_EQ(data.cursor1Time, 10000);

    // Other states and other modes leave them alone.
    data.cursor3Time = 0;
    SetCursorsInScreen(2);
    data.instrumentMode = 128;
    SetCursorsInScreen(1);
    EXPECT_EQ(data.cursor3Time, 0);
}

TEST_F(ConsistencyTest, MeasurementReferenceByMode)
{
    struct Row {
        const char* what;
        uint16_t mode;
        int16_t meterFunction;
        int16_t ref;
        uint16_t flags;
        uint16_t hwMask;
        uint16_t expected;
    };
    const Row rows[] = {
        {"capacitance", 128, 3, 4, 0xF, 0xF, 1},
        {"meter: reference shown", 128, 0, 2, 0x3, 0xF, 2},
        {"meter: highest shown and fitted", 128, 0, 2, 0xD, 0x9, 8},
        {"meter: nothing shown", 128, 0, 2, 0, 0xF, 2},
        {"power: reference kept", 129, 9, 1, 0x1, 0x9, 1},
        {"power: auxiliary trace", 129, 9, 2, 0x1, 0x9, 8192},
        {"viewer: reference valid", 256, 0, 2, 0x200, 0xF, 2},
        {"viewer: highest memory", 256, 0, 1, 0x600, 0xF, 4},
        {"viewer: no valid trace", 256, 0, 1, 0, 0xF, 0},
        {"scope: shown", 16, 0, 2, 0x2, 0xF, 2},
        {"scope: memory counts", 16, 0, 2, 0x201, 0xF, 2},
        {"scope: highest shown", 16, 0, 2, 0x5, 0xF, 4},
        {"scope: nothing shown", 16, 0, 2, 0, 0xF, 2},
        {"scope: every channel", 16, 0, 0xF0F, 0x1, 0xF, 0xF0F},
        {"other mode", 0x8000, 0, 3, 0, 0xF, 3},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        data.instrumentMode = row.mode;
        data.meterFunction = row.meterFunction;
        data.measRefChannel = row.ref;
        data.channelFlags = row.flags;
        data.hwChannelMask = row.hwMask;
        EXPECT_EQ(GetMesureReference(), row.expected);
    }
}

TEST_F(ConsistencyTest, ValidTraceWordAndClearedMeasurements)
{
    data.traceOnCh1 = data.traceOnCh3 = data.traceOnCh4 = 0;
    data.traceOnCh2 = 7;  // any non-zero byte counts as 1
    data.refShownCh1 = data.refShownCh2 = data.refShownCh4 = 0;
    data.refShownCh3 = 1;
    data.memoryTraceCh1 = data.memoryTraceCh2 = data.memoryTraceCh3 = 0;
    data.memoryTraceCh4 = 1;
    SetVoiesValides();
    EXPECT_EQ(data.channelFlags, 0x842);
    // Channels 1 and 3 and references 1, 2 and 4 have none of their bits: cleared.
    const bool cleared[kMeasurementRecords] = {true, false, true, false, true, true, false, true, false, false};
    for (int r = 0; r < kMeasurementRecords; ++r)
        EXPECT_EQ(measurementZero(r), cleared[r]) << r;
    for (int r = 0; r < kHarmonicRecords; ++r)
        EXPECT_EQ(firstWord(harmonics_, kHarmonicRecordSize, r) == 1u, r == 0 || r == 2) << r;

    // Without linked tables only the word is rebuilt.
    setupLinks().measResultsPtr = nullptr;
    setupLinks().harmonicResultsPtr = nullptr;
    data.traceOnCh1 = 1;
    SetVoiesValides();
    EXPECT_EQ(data.channelFlags, 0x843);
}

TEST_F(ConsistencyTest, PowerFunctionsAndTheirMeasurements)
{
    static char empty[] = "";
    setupLinks().powerFunctionA = new TFonction(8, empty);
    setupLinks().powerFunctionB = new TFonction(9, empty);
    auto text = [](TFonction* f) {
        char out[128] = {};
        return std::string(f->GetFonctionString(out, false));
    };

    SetPowerFct(true, &data);
    EXPECT_EQ(text(setupLinks().powerFunctionA), "(ch1*ch2)/divv(4)");
    EXPECT_EQ(text(setupLinks().powerFunctionB), "(ch3*ch4)/divv(4)");
    EXPECT_TRUE(setupLinks().powerFunctionB->IsDefined());
    for (int r = 0; r < kMeasurementRecords; ++r) {
        const bool reset = r < 4 || r >= 8;
        EXPECT_EQ(measurements_[r].flags == 0, reset) << r;
        // Only the first word.
        EXPECT_EQ(measurements_[r].maxCode, 0xABABABABu) << r;
    }

    SetPowerFct(false);
    EXPECT_EQ(text(setupLinks().powerFunctionA), "ch1*ch4/divv(4)");
    EXPECT_EQ(text(setupLinks().powerFunctionB), "");
    EXPECT_FALSE(setupLinks().powerFunctionB->IsDefined());
}

TEST_F(ConsistencyTest, DerivedScalesAndUnits)
{
    auto* ch1 = new TAcquisition(1);
    auto* ch2 = new TAcquisition(2);
    setupLinks().acqCh1 = ch1;
    setupLinks().acqCh2 = ch2;
    data.sensitivityCh1 = 8;
    data.probeCoeffCh1 = 10.0f;
    data.auxCoeffCh1 = 2.0f;
    data.sensitivityCh2 = 40;  // out of range: clamped
    data.probeCoeffCh2 = 1.0f;
    data.traceFormat = 1;
    ch1->filterKind = 2;
    find_coeff();
    EXPECT_FLOAT_EQ(data.voltsPerDivCh1, coeffScope[8] * 10.0f);
    EXPECT_FLOAT_EQ(data.auxScaleCh1, coeffScope[8] * 2.0f);
    EXPECT_FLOAT_EQ(data.voltsPerDivCh2, coeffScope[15]);
    EXPECT_STREQ(data.xUnit, "Hz");
    EXPECT_EQ(ch1->filterKind, 0);

    // Meter mode: DC-coupled channels halve, the filter bit of the meter coupling is taken.
    data.instrumentMode = 128;
    data.couplingCh1 = 0;
    data.couplingCh2 = 1;
    data.meterFunction = 0;
    data.meterCouplingCh1 = 8;
    data.meterCouplingCh2 = 9;
    find_coeff();
    EXPECT_FLOAT_EQ(data.voltsPerDivCh1, coeffScope[8] * 10.0f * 0.5f);
    EXPECT_FLOAT_EQ(data.voltsPerDivCh2, coeffScope[15]);
    EXPECT_STREQ(data.xUnit, "s");
    EXPECT_EQ(ch1->filterKind, 1);
    EXPECT_EQ(ch2->filterKind, 1);
    data.meterFunction = 2;  // channel 1 keeps no filter in other meter functions
    find_coeff();
    EXPECT_EQ(ch1->filterKind, 0);

    data.instrumentMode = 64;
    data.traceFormat = 0;
    find_coeff();
    EXPECT_STREQ(data.xUnit, "Hz");
}

} // namespace
