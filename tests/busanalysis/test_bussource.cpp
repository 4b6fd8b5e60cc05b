// The bus measurements on traces of the simulated board's CAN source: levels, rise time, bit
// time and jitter as the engine reads them.
#include "acquisition/TAcquisition.h"
#include "board/sim/simboard.h"
#include "busanalysis/busmeasfactory.h"
#include "core/gest_db.h"
#include "tests/support/simboardtest.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <memory>

namespace {

class BusSource : public SimBoardTest {
protected:
    void SetUp() override
    {
        SimBoardTest::SetUp();
        useCanBusSignals();
        factory = std::make_unique<TBusMeasFactory>();
        trace = std::make_unique<TAcquisition>(1);
        saved = setupLinks().acqCh1;
        setupLinks().acqCh1 = trace.get();
        setup = std::make_unique<database>();
    }
    void TearDown() override
    {
        setupLinks().acqCh1 = saved;
        SimBoardTest::TearDown();
    }

    void sample(simboard::TBusTraceRequest q) { ASSERT_TRUE(simboard::sampleBusTrace(q, trace->samples)); }

    // Binary signal and histograms of acquisitions at the given occurrences.
    void histograms(int timeBase, uint32_t bitSamples, int acquisitions)
    {
        factory->resetHistograms();
        factory->timeBitTheo = bitSamples;
        factory->trigAuto = true;
        for (int k = 0; k < acquisitions; ++k) {
            simboard::TBusTraceRequest q;
            q.timeBase = timeBase;
            q.event = simboard::TBusTraceRequest::FallingEdge;
            q.occurrence = k;
            q.triggerIndex = 10000;
            sample(q);
            TBusAutoMeas m;
            factory->newAcq(setup.get(), &m);
        }
    }

    std::unique_ptr<TBusMeasFactory> factory;
    std::unique_ptr<TAcquisition> trace;
    std::unique_ptr<database> setup;
    TAcquisition* saved = nullptr;
};

// Volts at the bus of a code: 0.1 V a division at the input, a x10 probe.
double busVolts(uint32_t code)
{
    return (double(code) - 524256) / 32760 * 0.1 * 10;
}

} // namespace

TEST_F(BusSource, DominantLevelAndRiseTime)
{
    simboard::TBusTraceRequest q;
    q.timeBase = 7;  // 2e-11 s a sample: one bit a record
    q.event = simboard::TBusTraceRequest::RisingEdge;
    q.triggerIndex = 30000;
    sample(q);
    TBusAutoMeas m;
    ASSERT_EQ(MeasPixT_bus(trace->samples, &m, 2000, 98000, 0), 0);
    ASSERT_EQ(m.flags & 0x7F, 0x7F);
    EXPECT_NEAR(busVolts(m.topLevel), 2.0, 0.02);
    EXPECT_NEAR(busVolts(m.baseLevel), 0.0, 0.02);
    const double rise = (double(m.rise90) - m.rise10) * 2e-11;
    EXPECT_NEAR(rise, 60e-9, 3e-9);
}

TEST_F(BusSource, BitTime)
{
    histograms(11, 5000, 6);  // 4e-10 s a sample: 2 us is 5000 samples
    double mean = 0, minimum = 0, maximum = 0;
    ASSERT_EQ(factory->computeTimeBit(&mean, &minimum, &maximum, 3), 0);
    EXPECT_NEAR(mean * 4e-10, 2e-6, 0.02e-6);
    EXPECT_LT(minimum, maximum + 1);
}

TEST_F(BusSource, LargerJitterGivesALargerFigure)
{
    double figures[2] = {0, 0};
    const double jitters[2] = {2e-9, 40e-9};
    for (int i = 0; i < 2; ++i) {
        simboard::updateScenario([&](simboard::TScenario& s) { s.bus.jitter = jitters[i]; });
        histograms(12, 2000, 40);  // 1e-9 s a sample: 2000 samples a bit
        ASSERT_EQ(factory->jitter(0x4080, &figures[i]), 0) << i;
    }
    EXPECT_GT(figures[1], figures[0] * 2);
}

TEST_F(BusSource, SampleScenarioShowsTheFramesOnChannelsOneAndFour)
{
    std::ifstream in(std::string(BV_SOURCE_ROOT) + "/board/sim/can_hs_500k.json");
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::string why;
    ASSERT_TRUE(simboard::loadScenarioText(text, &why)) << why;
    const simboard::TScenario s = simboard::scenario();
    EXPECT_EQ(s.signals[0].wire, simboard::kBusDiff);
    EXPECT_EQ(s.signals[3].wire, simboard::kBusHigh);
    EXPECT_EQ(s.bus.canId, 0x123u);

    // Levels at the bus (x10): about 2 V / 0 V differential, 3.5 V / 2.5 V on CAN-H.
    struct Case {
        int channel;
        double top;
        double base;
    } cases[] = {{0, 2.0, 0.0}, {3, 3.5, 2.5}};
    for (const Case& c : cases) {
        simboard::TBusTraceRequest q;
        q.channel = c.channel;
        q.timeBase = 7;
        q.event = simboard::TBusTraceRequest::RisingEdge;
        q.position = c.channel == 3 ? -375 : 0;  // CAN-H three divisions down
        sample(q);
        TBusAutoMeas m;
        ASSERT_EQ(MeasPixT_bus(trace->samples, &m, 2000, 98000, 0), 0) << c.channel;
        const double shift = q.position * 262.08;
        EXPECT_NEAR(busVolts(static_cast<uint32_t>(m.topLevel - shift)), c.top, 0.03) << c.channel;
        EXPECT_NEAR(busVolts(static_cast<uint32_t>(m.baseLevel - shift)), c.base, 0.03) << c.channel;
    }
}
