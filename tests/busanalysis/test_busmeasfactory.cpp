// The bus measurement factory: descriptor reading, thresholds, binary signal, pulse and pair
// histograms, edge durations, bit time, FFT band, jitter fit and acquisition counting.
#include "busanalysis/busmeasfactory.h"

#include "acquisition/TAcquisition.h"
#include "acquisition/fft.h"
#include "busanalysis/busmeaskernel.h"
#include "busanalysis/busxmlvalue.h"
#include "core/gest_db.h"
#include "core/scale.h"
#include "core/xmlutilities.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <sstream>

namespace {

// A factory on the heap and channel 1's trace linked into the setup links.
class BusFactoryTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        factory = std::make_unique<TBusMeasFactory>();
        trace = std::make_unique<TAcquisition>(1);
        saved = setupLinks().acqCh1;
        setupLinks().acqCh1 = trace.get();
        setup = std::make_unique<database>();
        setup->traceFormat = 0;
    }
    void TearDown() override { setupLinks().acqCh1 = saved; }

    void fill(uint32_t code, int32_t from = 0, int32_t to = 100000)
    {
        for (int32_t i = from; i < to; ++i)
            trace->samples[i] = code;
    }

    std::unique_ptr<TBusMeasFactory> factory;
    std::unique_ptr<TAcquisition> trace;
    std::unique_ptr<database> setup;
    TAcquisition* saved = nullptr;
};

} // namespace

TEST(BusHistogramTest, AddValueBounds)
{
    auto h = std::make_unique<TBusHistogram>();
    for (uint32_t v : {0u, 100000u, 1u, 99999u, 500u, 500u})
        h->addValue(v);
    EXPECT_EQ(h->count, 4u);
    EXPECT_EQ(h->lowest, 1u);
    EXPECT_EQ(h->highest, 99999u);
    EXPECT_EQ(h->bins[500], 2u);
    h->reset();
    EXPECT_EQ(h->count, 0u);
    EXPECT_EQ(h->lowest, 99999u);
    EXPECT_EQ(h->highest, 0u);
}

TEST_F(BusFactoryTest, ResetValuesAndSetters)
{
    TBusMeasFactory& f = *factory;
    EXPECT_EQ(f.triggerMin, 0x60000u);
    EXPECT_EQ(f.triggerMax, 0x9FFC0u);
    EXPECT_EQ(f.trigMinPercent, 40u);
    EXPECT_EQ(f.trigMaxPercent, 60u);
    EXPECT_EQ(f.timeBitTheo, 100000u);
    EXPECT_EQ(f.nbAcq, 1);
    f.setTriggerMin(1);
    f.setTriggerMax(0xFFFFF);
    f.setTheoricalTimeBit(200000);
    f.setCounterAcqMax(-3);
    EXPECT_EQ(f.triggerMin, 0x60000u);
    EXPECT_EQ(f.triggerMax, 0x9FFC0u);
    EXPECT_EQ(f.timeBitTheo, 96000u);
    EXPECT_EQ(f.nbAcq, 1);
}

TEST_F(BusFactoryTest, ReadsSetupMesure)
{
    struct Case {
        const char* xml;
        int result;
        uint32_t triggerMin;
        uint32_t trigMinPercent;
        uint32_t timeBitTheo;
        int16_t channel;
        bool trigAuto;
        float lowFreq;
    } cases[] = {
        {"<SETUPMESURE>\r\n<TrigMinPour a=\"30\"/>\r\n<TrigMin a=\"$7F800\"/>\r\n<TimeBitTheo a=\"2000\"/>\r\n"
         "<IdVoie a=\"3\"/>\r\n<TrigAuto a=\"1\"/>\r\n<LimiteLowFreq a=\"7800\"/>\r\n</SETUPMESURE>\r\n",
         0, 0x7F800, 30, 2000, 3, true, 7800},
        // Keys by containment; empty values skipped.
        {"<S>\r\n<xTrigMinx a=\"4096\"/>\r\n<TimeBitTheo a=\"\"/>\r\n<Other a=\"zz\"/>\r\n</S>\r\n", 0, 4096, 40,
         100000, 0, false, 0},
        // The first value that does not read ends the walk; earlier ones stay.
        {"<S>\r\n<TrigMin a=\"4096\"/>\r\n<IdVoie a=\"70000\"/>\r\n<TimeBitTheo a=\"5\"/>\r\n</S>\r\n", -1, 4096, 40,
         100000, 0, false, 0},
        {"<S>\r\n<TrigAuto a=\"2\"/>\r\n</S>\r\n", -1, 0x60000, 40, 100000, 0, false, 0},
        {"<S>\r\n<LimiteLowFreq a=\"---\"/>\r\n</S>\r\n", -1, 0x60000, 40, 100000, 0, false, 0},
        {"<S>\r\n<LimiteLowFreq a=\"nan\"/>\r\n</S>\r\n", -1, 0x60000, 40, 100000, 0, false, 0},
        {"<S>\r\n<TrigMin a=\"-1\"/>\r\n</S>\r\n", -1, 0x60000, 40, 100000, 0, false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.xml);
        factory->reset();
        std::istringstream in(c.xml);
        XmlDescriptor element(in);
        ASSERT_TRUE(element.valid);
        EXPECT_EQ(factory->setParamsFromXml(&element), c.result);
        EXPECT_EQ(factory->triggerMin, c.triggerMin);
        EXPECT_EQ(factory->trigMinPercent, c.trigMinPercent);
        EXPECT_EQ(factory->timeBitTheo, c.timeBitTheo);
        EXPECT_EQ(factory->channel, c.channel);
        EXPECT_EQ(factory->trigAuto, c.trigAuto);
        EXPECT_EQ(factory->limitLowFreq, c.lowFreq);
    }
    EXPECT_EQ(factory->setParamsFromXml(nullptr), 0);
}

TEST_F(BusFactoryTest, AutomaticThresholds)
{
    for (int32_t i = 0; i < 100000; ++i)
        trace->samples[i] = (i / 5000) % 2 ? 0x90000u : 0x70000u;
    factory->setTriggerAuto(setup.get());
    EXPECT_EQ(factory->triggerMin, 0x7CCCCu);
    EXPECT_EQ(factory->triggerMax, 0x83333u);
    // Percentages above 100 count as 100.
    factory->trigMaxPercent = 250;
    factory->setTriggerAuto(setup.get());
    EXPECT_EQ(factory->triggerMax, 0x90000u);
}

TEST_F(BusFactoryTest, BinarySignal)
{
    TBusMeasFactory& f = *factory;
    f.triggerMin = 500000;
    f.triggerMax = 550000;
    f.timeBitTheo = 100;
    fill(450000);
    fill(525000, 2000, 2100);  // undecided start, with an invalid word
    trace->samples[2050] = 0x80000000u;
    fill(600000, 2100, 3000);
    fill(525000, 3000, 3050);  // a short transition: the previous state
    fill(450000, 3050, 4000);
    fill(525000, 4000, 4500);  // longer than a bit: idle
    fill(600000, 4500, 5000);
    trace->samples[4700] = 0x40000000u;  // invalid: the previous entry
    fill(525000, 5000, 100000);          // a long undecided end: idle
    f.createBinarySignal(setup.get());
    struct Entry {
        int32_t index;
        int32_t value;
    } entries[] = {{0, 1},     {2099, 1},  {2100, 1},  {2999, 1},  {3049, 1}, {3050, -1}, {3999, -1},
                   {4000, 0},  {4499, 0},  {4500, 1},  {4700, 1},  {4999, 1}, {5000, 0},  {97999, 0}};
    for (const Entry& e : entries)
        EXPECT_EQ(f.binary[e.index], e.value) << e.index;

    // No decisive sample, or no valid one: the signal keeps its content.
    f.binary[10] = 7;
    fill(525000);
    f.createBinarySignal(setup.get());
    EXPECT_EQ(f.binary[10], 7);
    fill(0x80000000u);
    f.createBinarySignal(setup.get());
    EXPECT_EQ(f.binary[10], 7);
}

TEST_F(BusFactoryTest, PulseAndPairHistograms)
{
    TBusMeasFactory& f = *factory;
    f.timeBitTheo = 2000;
    // Pulses of 1400, 1401, 2599, 2600, 2000 samples, alternately high and low.
    int32_t at = 0;
    int32_t state = 1;
    for (int32_t width : {3000, 1400, 1401, 2599, 2600, 2000, 2000}) {
        for (int32_t i = at; i < at + width; ++i)
            f.binary[i] = state;
        at += width;
        state = -state;
    }
    for (int32_t i = at; i < 100000; ++i)
        f.binary[i] = state;
    f.createTemporalHistogram();
    EXPECT_EQ(f.lowHistogram.count + f.highHistogram.count, 4u);  // 1401, 2599, 2000, 2000
    EXPECT_EQ(f.highHistogram.bins[1401], 1u);
    EXPECT_EQ(f.lowHistogram.bins[2599], 1u);
    EXPECT_EQ(f.lowHistogram.bins[1400] + f.highHistogram.bins[1400] + f.highHistogram.bins[2600], 0u);
    // Pairs of consecutive accepted pulses: 1401 + 2599, then 2000 + 2000.
    EXPECT_EQ(f.pairHistogram.count, 2u);
    EXPECT_EQ(f.pairHistogram.bins[4000], 2u);

    f.resetHistograms();
    f.timeBitTheo = 100000;
    for (int32_t i = 0; i < 100000; ++i)
        f.binary[i] = (i / 50000) ? 1 : -1;
    f.createTemporalHistogram();
    EXPECT_EQ(f.lowHistogram.count + f.highHistogram.count + f.pairHistogram.count, 0u);
}

TEST_F(BusFactoryTest, EdgeDurations)
{
    TBusMeasFactory& f = *factory;
    f.triggerMin = 500000;
    f.triggerMax = 550000;
    f.timeBitTheo = 1000;
    fill(450000);
    // Rising ramps of 40 and 60 samples from 450000 to 600000, a falling one of 30.
    auto ramp = [&](int32_t from, int32_t length, uint32_t a, uint32_t b) {
        for (int32_t i = 0; i < length; ++i)
            trace->samples[from + i] = a + static_cast<uint32_t>((double(b) - a) * i / length);
        fill(b, from + length, 100000);
    };
    ramp(10000, 40, 450000, 600000);
    ramp(20000, 30, 600000, 450000);
    ramp(30000, 60, 450000, 600000);
    f.createBinarySignal(setup.get());
    TTriggerRiseFallTime r{};
    ASSERT_EQ(f.computeTriseTfall(trace->samples, &r, 3), 0);
    // Codes between the thresholds span a third of each ramp.
    EXPECT_NEAR(r.shortestRise, 40.0 / 3, 1.5);
    EXPECT_NEAR(r.longestRise, 60.0 / 3, 1.5);
    EXPECT_NEAR(r.shortestFall, 30.0 / 3, 1.5);
    EXPECT_EQ(r.shortestFall, r.longestFall);
    EXPECT_EQ(f.computeTriseTfall(trace->samples, &r, 0), -1);
}

TEST_F(BusFactoryTest, TimeBitModes)
{
    TBusMeasFactory& f = *factory;
    for (uint32_t v : {100u, 110u})
        f.lowHistogram.addValue(v);
    for (uint32_t v : {90u, 96u, 99u})
        f.highHistogram.addValue(v);
    f.pairHistogram.addValue(200);
    struct Case {
        int32_t coding;
        unsigned short mode;
        int result;
        double mean, min, max;
    } cases[] = {{0, 1, 0, 105, 100, 110}, {0, 2, 0, 95, 90, 99},  {0, 3, 0, 99, 90, 110},
                 {2, 1, 0, 200, 200, 200}, {3, 3, 0, 200, 200, 200}, {0, 4, -1, 0, 0, 0}};
    for (const Case& c : cases) {
        f.typeCodage = c.coding;
        double mean = 0, min = 0, max = 0;
        EXPECT_EQ(f.computeTimeBit(&mean, &min, &max, c.mode), c.result);
        if (c.result == 0) {
            EXPECT_EQ(mean, c.mean) << c.mode;
            EXPECT_EQ(min, c.min);
            EXPECT_EQ(max, c.max);
        }
    }
    f.typeCodage = 0;
    f.lowHistogram.reset();
    double mean = 0, min = 0, max = 0;
    EXPECT_EQ(f.computeTimeBit(&mean, &min, &max, 1), -1);
    EXPECT_EQ(f.computeTimeBit(&mean, &min, &max, 3), 0);
    EXPECT_EQ(min, 90);
}

// The band is read on the spectrum the scope cycle leaves in the display points: a 10 kHz sine
// at 1.25 Hz a sample (100 Hz a bin) gives its peak inside a band around 10 kHz and only the
// floor outside it, whatever the time record holds.
TEST_F(BusFactoryTest, FftBand)
{
    TBusMeasFactory& f = *factory;
    trace->timeBase = 18;
    const double hzPerSample = GetHorizontalScaleF(18);
    ASSERT_NEAR(80 * hzPerSample, 100.0, 1e-3);
    // The spectrum's zoom and position are the live setup's: put back whatever happens.
    struct TRestore {
        float zoom = data.fftZoomWidth;
        int32_t position = data.fftHorizPosition;
        ~TRestore()
        {
            data.fftZoomWidth = zoom;
            data.fftHorizPosition = position;
        }
    } restore;
    data.fftZoomWidth = 40.0f;
    data.fftHorizPosition = 0;
    for (int i = 0; i < kFftPoints; ++i)
        trace->loggerRaw[i] = static_cast<uint32_t>(524256 + std::lround(60000 * std::sin(2 * M_PI * 100 * i / kFftPoints)));
    Fft(trace->loggerRaw, 0, 0, 1.0, 1.0f, 0, 0);
    fill(400000);  // a time record far stronger than any bin: never read
    const uint32_t peak = *std::min_element(trace->loggerRaw + 198, trace->loggerRaw + 203) & ~0x3Fu;
    uint32_t floorCode = kMeasRangeHigh;
    for (int i = 300; i < 2500; ++i)
        floorCode = std::min(floorCode, trace->loggerRaw[i] & ~0x3Fu);
    ASSERT_LT(peak + 10000, floorCode);

    struct Case {
        float low;
        float high;
        int result;
        uint32_t code;
    } cases[] = {
        {7800, 39100, 0, peak},          // the noise band of the supply-borne buses
        {9900, 10100, 0, peak},          // one bin either side
        {15000, 39100, 0, floorCode},    // above the sine
        {-7800, 39100, -1, 0},
        {39100, 7800, -1, 0},
        {3e38f, 3.4e38f, -1, 0},
        {0, 39100, -1, 0},
        {float(NAN), 39100, -1, 0},
    };
    for (const Case& c : cases) {
        f.limitLowFreq = c.low;
        f.limitHighFreq = c.high;
        int32_t code = -5;
        EXPECT_EQ(f.getMaxFft(trace.get(), &code), c.result) << c.low << " " << c.high;
        if (c.result == 0) {
            if (c.code == floorCode)
                EXPECT_GE(uint32_t(code), floorCode) << c.low;
            else
                EXPECT_EQ(uint32_t(code), c.code) << c.low;
        } else {
            EXPECT_EQ(code, -5);
        }
    }
    // Zoomed twice from bin 50 on (5 kHz): the sine's bin 100 stands at point 50, still read
    // by the 10 kHz band.
    data.fftZoomWidth = 80.0f;
    data.fftHorizPosition = 4000;
    for (int i = 0; i < kFftPoints; ++i)
        trace->loggerRaw[i] = static_cast<uint32_t>(524256 + std::lround(60000 * std::sin(2 * M_PI * 100 * i / kFftPoints)));
    Fft(trace->loggerRaw, 0, 0, 1.0, 2.0f, 100, 0);
    f.limitLowFreq = 9900;
    f.limitHighFreq = 10100;
    int32_t code = 0;
    EXPECT_EQ(f.getMaxFft(trace.get(), &code), 0);
    EXPECT_EQ(uint32_t(code), peak);
}

TEST_F(BusFactoryTest, JitterFromGaussianTails)
{
    TBusMeasFactory& f = *factory;
    struct Case {
        double offset;
        double width;
    } cases[] = {{0, 6}, {15, 4}, {25, 8}};
    for (const Case& c : cases) {
        f.resetHistograms();
        f.timeBitTheo = 2000;
        // Two Gaussians at 4000 +/- offset, width in samples, 20000 values each.
        for (int side = -1; side <= 1; side += 2) {
            const double centre = 4000 + side * c.offset;
            for (int32_t i = int32_t(centre - 6 * c.width); i <= int32_t(centre + 6 * c.width); ++i) {
                const double x = (i - centre) / c.width;
                const uint32_t n = static_cast<uint32_t>(std::lround(20000 * std::exp(-x * x / 2) / (c.width * 2.5066)));
                for (uint32_t k = 0; k < n; ++k)
                    f.pairHistogram.addValue(static_cast<uint32_t>(i));
            }
        }
        for (uint32_t v : {1990u, 2000u, 2010u})
            f.highHistogram.addValue(v);
        for (uint32_t v : {1995u, 2005u})
            f.lowHistogram.addValue(v);
        TJitter j{};
        ASSERT_EQ(f.computeJitter(&j, 0x4080), 0) << c.offset;
        EXPECT_NEAR(j.j2, c.offset, std::max(0.05 * c.offset, 0.5)) << c.offset;
        EXPECT_NEAR(j.j3, c.width, 0.05 * c.width) << c.offset;
        double percent = 0;
        ASSERT_EQ(f.jitter(0x4082, &percent), 0);
        EXPECT_NEAR(percent, 0.0, 1e-9);  // equal high and low means
        f.timeBitTheo = 0;
        EXPECT_LT(f.jitter(0x4080, &percent), 0);
    }
    f.resetHistograms();
    TJitter j{};
    f.highHistogram.addValue(2000);
    EXPECT_EQ(f.computeJitter(&j, 0x4082), -1);
    EXPECT_EQ(f.computeJitter(&j, 0x4080), -2);
}

TEST_F(BusFactoryTest, NewAcqCountsTheStep)
{
    TBusMeasFactory& f = *factory;
    f.nbAcq = 150;
    for (int32_t i = 0; i < 100000; ++i)
        trace->samples[i] = (i / 5000) % 2 ? 600000u : 450000u;
    TBusAutoMeas m{};
    for (int k = 1; k < 150; ++k)
        ASSERT_EQ(f.newAcq(setup.get(), &m), -1) << k;
    EXPECT_EQ(f.newAcq(setup.get(), &m), 0);
    EXPECT_EQ(m.topLevel, 600000u);
    EXPECT_TRUE(m.flags & MEAS_PERIOD_MEANS);

    // A channel outside 0..3 has no trace: the record stays as it was.
    f.resetHistograms();
    f.channel = 7;
    m.topLevel = 1;
    EXPECT_EQ(f.newAcq(setup.get(), &m), -1);
    EXPECT_EQ(m.topLevel, 1u);
}
