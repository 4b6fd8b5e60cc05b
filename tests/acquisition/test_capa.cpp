// Capacitance cycle parts on scripted samples and slopes: the ramp's slope, the range check and
// the stability filter.
#include "acquisition/TAcquisition.h"
#include "acquisition/capa.h"
#include "acquisition/measkernel.h"
#include "core/command.h"
#include "core/gest_db.h"
#include "core/requests.h"
#include "core/scale.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

std::vector<uint32_t> ramp(uint32_t top, int start, double perSample, int count = 2500)
{
    std::vector<uint32_t> v(count);
    for (int k = 0; k < count; ++k)
        v[k] = k <= start ? top : static_cast<uint32_t>(std::max(0.0, top - perSample * (k - start)));
    return v;
}

TEST(MeasCapaTest, RampsAndFailures)
{
    const struct {
        const char* what;
        std::vector<uint32_t> samples;
        double previous;
        int result;
        double slope;      // *slope afterwards
        double capaValue;
        bool valid;
    } rows[] = {
        {"linear ramp", ramp(640000, 3, 100), 5, 0, -99.99988, -99.99988, true},
        {"no ramp", std::vector<uint32_t>(2500, 300000), -42, -1, 0, -42, true},
        {"did not charge", std::vector<uint32_t>(2500, 640000), -42, -1, -kInf, -42, true},
        {"did not charge twice", std::vector<uint32_t>(2500, 640000), -kInf, -1, -kInf, -kInf, true},
        {"ramp ends high", ramp(640000, 3, 50), -42, -1, -42, 0, false},
        {"ramp too steep", ramp(640000, 3, 100000), -42, -1, -42, 0, false},
    };
    for (const auto& r : rows) {
        mesures m{};
        m.maxCode = 77;
        double slope = r.previous;
        EXPECT_EQ(MeasCapa(r.samples.data(), &m, 2490, &slope), r.result) << r.what;
        if (std::isinf(r.slope))
            EXPECT_EQ(slope, r.slope) << r.what;
        else
            EXPECT_NEAR(slope, r.slope, 1e-4) << r.what;
        if (std::isinf(r.capaValue))
            EXPECT_EQ(m.capaValue, r.capaValue) << r.what;
        else
            EXPECT_NEAR(m.capaValue, r.capaValue, 1e-4) << r.what;
        EXPECT_EQ((m.flags & kCapaValidFlag) != 0, r.valid) << r.what;
        EXPECT_EQ(m.maxCode, 0u) << r.what << ": the record is cleared first";
    }
}

class CapaRangeTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::memcpy(&data, &init_par, sizeof data);
        data.instrumentMode = 128;
        data.meterFunction = 3;
        data.meterAutoRangeCh1 = 1;
        RTAC_id = static_cast<pthread_t>(0x47A1);
        trace_ = std::make_unique<TAcquisition>(static_cast<unsigned short>(0));
        setupLinks().acqCh1 = trace_.get();
        setRange(4);
        CapaResetState();
        requests();
    }
    void TearDown() override { setupLinks().acqCh1 = nullptr; }

    void setRange(int16_t range)
    {
        data.capaRange = range;
        trace_->SetMesureParametres();
    }
    // The slope that reads `fraction` of the range's full scale.
    float slopeFor(double fraction)
    {
        double span = 0;
        trace_->GetMMRange(&span, nullptr, nullptr);
        const double s = GetVerticalScale(trace_.get(), SCALE_CAPACITANCE, data.capaRange);
        const double o = GetVerticalOffset(trace_.get(), SCALE_CAPACITANCE);
        return static_cast<float>(-s / (fraction * span * 0.5 + 2e-10 - o));
    }
    // The capacitance ranges asked for since the last call.
    static std::vector<intptr_t> requests()
    {
        std::vector<intptr_t> out;
        pipe_dial r{};
        while (o_g_consMessageBox.peek(&r)) {
            o_g_consMessageBox.receive(&r, true, 1);
            EXPECT_EQ(r.kind, REQ_SET_PARAM);
            EXPECT_EQ(r.code, param::capaRange);
            out.push_back(r.intValue);
        }
        return out;
    }

    std::unique_ptr<TAcquisition> trace_;
};

TEST_F(CapaRangeTest, AutorangeThresholds)
{
    const struct {
        const char* what;
        int16_t range;
        double fraction;   // of full scale; 0: slope 0; -1: no ramp
        uint16_t mode;
        uint8_t autoRange;
        int result;
        std::vector<intptr_t> asked;
    } rows[] = {
        {"middle", 4, 0.5, 128, 1, 0, {}},
        {"above 0.9 e", 4, 0.95, 128, 1, 0, {5}},
        {"below 0.09 e", 4, 0.05, 128, 1, 0, {3}},
        {"range 1 never goes to 0", 1, 0.05, 128, 1, 0, {}},
        {"slope 0 goes down", 3, 0, 128, 1, 0, {2}},
        {"slope 0 on range 1", 1, 0, 128, 1, 0, {}},
        {"no ramp goes up", 6, -1, 128, 1, -1, {7}},
        {"no ramp on range 7", 7, -1, 128, 1, -1, {}},
        {"range 7 within", 7, 1.0, 128, 1, 0, {}},
        {"range 7 overload", 7, 1.1, 128, 1, -1, {}},
        {"range 7 goes down", 7, 0.05, 128, 1, 0, {6}},
        {"mode 130", 4, 0.95, 130, 1, 0, {}},
        {"auto-range off", 4, 0.95, 128, 0, 0, {}},
    };
    for (const auto& r : rows) {
        setRange(r.range);
        data.instrumentMode = r.mode;
        data.meterAutoRangeCh1 = r.autoRange;
        const float slope = r.fraction == 0 ? 0.0f : r.fraction < 0 ? -std::numeric_limits<float>::infinity() : slopeFor(r.fraction);
        EXPECT_EQ(CapaAutorange(slope, &data), r.result) << r.what;
        EXPECT_EQ(requests(), r.asked) << r.what;
    }
}

// Scripted slopes through the filter: shown (capaValue) or held (not shown).
TEST_F(CapaRangeTest, StabilityFilter)
{
    const auto run = [&](int16_t range, const std::vector<double>& slopes) {
        setRange(range);
        CapaResetState();
        std::vector<double> shown;
        for (double slope : slopes) {
            mesures m{};
            m.flags = kCapaValidFlag;
            if (CapaFilterSlope(&m, slope, &data))
                shown.push_back(m.capaValue);
            else
                shown.push_back(NAN);
        }
        requests();
        return shown;
    };
    const auto same = [](const std::vector<double>& a, const std::vector<double>& b) {
        if (a.size() != b.size())
            return false;
        for (size_t i = 0; i < a.size(); ++i)
            if (!(std::isnan(a[i]) && std::isnan(b[i])) && std::fabs(a[i] - b[i]) > 1e-2)
                return false;
        return true;
    };
    const float mid4 = slopeFor(0.5);
    // Range 4 (tolerance 500): a jump is held until two slopes agree, then the ring restarts with
    // it and averages the next. The first slope's fate depends on its distance from 0: skipped.
    std::vector<double> got = run(4, {mid4, mid4, mid4 + 3000, mid4 + 3100, mid4 + 3100, mid4 + 3200});
    got.erase(got.begin());
    EXPECT_TRUE(same(got, {mid4, NAN, mid4 + 3100, mid4 + 3100, mid4 + 3100 + 100.0 / 3}));
    // Range 7: every new value restarts the average.
    setRange(7);
    const float mid7 = slopeFor(0.5);
    got = run(7, {mid7, mid7 + 10, mid7 + 20});
    EXPECT_TRUE(same(got, {NAN, mid7 + 10, mid7 + 20}));
    // Range 0 (tolerance 0) shows every slope.
    setRange(0);
    const float mid0 = slopeFor(0.5);
    got = run(0, {mid0, mid0 * 1.01});
    EXPECT_FALSE(std::isnan(got[0]));
    EXPECT_FALSE(std::isnan(got[1]));
    // Overrange: the valid bit goes, overrange 1.
    setRange(4);
    CapaResetState();
    mesures m{};
    m.flags = kCapaValidFlag;
    CapaFilterSlope(&m, -kInf, &data);
    m.flags = kCapaValidFlag;
    ASSERT_TRUE(CapaFilterSlope(&m, -kInf, &data));
    EXPECT_EQ(m.overrange, 1);
    EXPECT_EQ(m.flags & kCapaValidFlag, 0);
    // The first -infinity after 0 was a jump (held); only the second went through the range check.
    EXPECT_EQ(requests(), (std::vector<intptr_t>{5}));
}

} // namespace
