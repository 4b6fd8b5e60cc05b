// The whole acquisition path in one process: the controller's real start-up on the simulated
// board, the acquisition threads and the scope cycle running live at the default setup (time
// base 15, equivalent time), and a parameter request from a client going through the
// controller, the acquisition control thread and back into channel 1's trace.
#include "tests/core/command_fixture.h"

#include "acquisition/TAcquisition.h"
#include "acquisition/acqctrl.h"
#include "core/requests.h"
#include "hardware/calibration.h"
#include "scpi/io.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <functional>
#include <sstream>
#include <string>
#include <vector>
#include <thread>

namespace {

constexpr uint32_t kRecord = TAcquisition::kNormalisedSamples;

// Positions before the first sort step never get a measured equivalent-time sample (the
// placement starts at 40 to 79), and the cycle does not fill gaps by interpolation there.
constexpr uint32_t kFirstStep = 40;

struct TTraceShape {
    uint32_t valid = 0;     // non-empty words
    double lo = 0, hi = 0;
    uint32_t loAt = 0, hiAt = 0;
    std::vector<uint32_t> rising;  // crossings of the middle level, with hysteresis
    int falling = 0;
};

class AcquisitionEndToEndTest : public CommandTest {
protected:
    void SetUp() override
    {
        CommandTest::SetUp();
        COMM_id = pthread_self();
        recordPauses(true);
        simboard::TSignal sine;
        sine.shape = "sine";
        sine.vpp = 2.0;
        sine.frequency = 1000.0;
        simboard::setSignal(0, sine);
    }


    // Channel 1's trace, read under the lock the transfer holds.
    static TTraceShape traceShape()
    {
        TTraceShape s;
        TAcquisition* trace = setupLinks().acqCh1;
        if (trace == nullptr || trace->samples == nullptr)
            return s;
        std::vector<uint32_t> words(kRecord);
        pthread_mutex_lock(&o_g_autoMeasMutex);
        std::copy(trace->samples, trace->samples + kRecord, words.begin());
        pthread_mutex_unlock(&o_g_autoMeasMutex);
        s.lo = 1e9;
        s.hi = -1;
        for (uint32_t p = 0; p < kRecord; ++p) {
            if (words[p] & 0x80000000u)
                continue;
            ++s.valid;
            const double v = words[p] & kSampleCodeMask;
            if (v < s.lo) {
                s.lo = v;
                s.loAt = p;
            }
            if (v > s.hi) {
                s.hi = v;
                s.hiAt = p;
            }
        }
        // A tenth of the swing of hysteresis, so that noise near the level counts once.
        const double mid = (s.lo + s.hi) / 2, band = (s.hi - s.lo) / 10;
        int state = 0;
        for (uint32_t p = 0; p < kRecord; ++p) {
            if (words[p] & 0x80000000u)
                continue;
            const double v = words[p] & kSampleCodeMask;
            if (state <= 0 && v > mid + band) {
                if (state < 0)
                    s.rising.push_back(p);
                state = 1;
            } else if (state >= 0 && v < mid - band) {
                if (state > 0)
                    ++s.falling;
                state = -1;
            }
        }
        return s;
    }

    // One period of the sine across the record, triggered on its rising edge in the middle: the
    // minimum a quarter of the way, the rising edge at the middle, the maximum at three quarters.
    static void expectOnePeriod(const TTraceShape& s)
    {
        EXPECT_GE(s.valid, kRecord - kFirstStep);
        ASSERT_EQ(s.rising.size(), 1u);
        EXPECT_EQ(s.falling, 0);
        // The hysteresis puts the detected edge a little after the crossing (a tenth of the
        // swing is 1/(10 pi) of a period on a sine).
        EXPECT_NEAR(double(s.rising[0]), 50000.0 + 100000.0 / (10 * M_PI), 1000.0);
        EXPECT_NEAR(double(s.loAt), 25000.0, 2000.0);
        EXPECT_NEAR(double(s.hiAt), 75000.0, 2000.0);
    }
};

TEST_F(AcquisitionEndToEndTest, DefaultSetupShowsOnePeriodAndASensitivityRequestRescalesIt)
{
    commandStartup();
    // Start-up leaves no instrument chosen and no trace on; the user interface picks the scope
    // and shows channel 1.
    pipe_dial scope{REQ_SET_PARAM, param::instrumentMode, 0, 16, 0.0f, 0};
    ASSERT_EQ(o_g_consMessageBox.send(&scope), 0);
    pipe_dial channel1{REQ_SET_PARAM, param::traceOnCh1, 0, 1, 0.0f, 0};
    ASSERT_EQ(o_g_consMessageBox.send(&channel1), 0);

    // Live cycles post kind-16 notices for channel 1; each equivalent-time acquisition adds
    // measured samples until the record is full.
    int notices = 0;
    auto countNotices = [&](const pipe_dial& r) {
        if (r.kind == REQ_CHANNEL_STATE && (r.intValue & 1))
            ++notices;
    };
    ASSERT_TRUE(runLoop(20000, countNotices,
                        [&] { return notices > 0 && traceShape().valid >= kRecord - kFirstStep; }))
        << notices << " notices, " << traceShape().valid << " words held";
    EXPECT_EQ(data.instrumentMode, 16);
    EXPECT_EQ(data.userTimeBase, 15);
    const TTraceShape before = traceShape();
    expectOnePeriod(before);
    const double swingBefore = before.hi - before.lo;
    EXPECT_GT(swingBefore, 0.1 * 4096 * 64);  // far from flat and from clipping
    EXPECT_LT(swingBefore, 0.9 * 4096 * 64);
    const double voltsPerDivBefore = simboard::analogChannel(0).voltsPerDiv;

    // A client's sensitivity request (one step less sensitive): the controller restarts the
    // acquisition, which answers with REQ_ACQ_DONE; the new cycles refill the cleared trace.
    const int16_t sensitivity = static_cast<int16_t>(data.sensitivityCh1 + 1);
    pipe_dial request{REQ_SET_PARAM, param::sensitivityCh1, 0, sensitivity, 0.0f, senderValue(COMM_id)};
    ASSERT_EQ(o_g_consMessageBox.send(&request), 0);
    bool requestSeen = false, acknowledged = false;
    int noticesAfter = 0;
    auto watch = [&](const pipe_dial& r) {
        if (r.kind == REQ_SET_PARAM && r.code == param::sensitivityCh1)
            requestSeen = true;
        else if (requestSeen && r.kind == REQ_ACQ_DONE)
            acknowledged = true;
        else if (acknowledged && r.kind == REQ_CHANNEL_STATE && (r.intValue & 1))
            ++noticesAfter;
    };
    ASSERT_TRUE(runLoop(20000, watch,
                        [&] { return noticesAfter > 0 && traceShape().valid >= kRecord - kFirstStep; }))
        << "request seen " << requestSeen << ", acknowledged " << acknowledged << ", " << noticesAfter
        << " notices after, " << traceShape().valid << " words held";
    EXPECT_EQ(data.sensitivityCh1, sensitivity);

    // The trace shows the new scale: the swing in codes follows the board's volts a division.
    const double voltsPerDivAfter = simboard::analogChannel(0).voltsPerDiv;
    ASSERT_NE(voltsPerDivAfter, voltsPerDivBefore);
    const TTraceShape after = traceShape();
    expectOnePeriod(after);
    const double expectedRatio = voltsPerDivBefore / voltsPerDivAfter;
    EXPECT_NEAR((after.hi - after.lo) / swingBefore, expectedRatio, 0.03 * expectedRatio)
        << "volts a division " << voltsPerDivBefore << " -> " << voltsPerDivAfter;
    std::printf("[ end to end ] swing %.0f -> %.0f codes (ratio %.4f, volts a division %.3f -> %.3f)\n",
                swingBefore, after.hi - after.lo, (after.hi - after.lo) / swingBefore, voltsPerDivBefore,
                voltsPerDivAfter);
}

// A setting changed while a single shot waits for its trigger holds the acquisition for a
// moment: the shot stays armed, and it is taken once the trigger comes.
TEST_F(AcquisitionEndToEndTest, SettingChangedWhileASingleShotWaitsKeepsItArmed)
{
    commandStartup();
    for (pipe_dial r : {pipe_dial{REQ_SET_PARAM, param::instrumentMode, 0, 16, 0.0f, 0},
                        pipe_dial{REQ_SET_PARAM, param::traceOnCh1, 0, 1, 0.0f, 0},
                        pipe_dial{REQ_SET_PARAM, param::trigLevelCh1, 0, 3000, 0.0f, 0},  // above the sine
                        pipe_dial{REQ_SET_PARAM, param::trigMode, 0, 2, 0.0f, 0}})
        ASSERT_EQ(o_g_consMessageBox.send(&r), 0);
    ASSERT_TRUE(runLoop(10000, [](const pipe_dial&) {}, [] { return data.trigMode == 2; }));
    runLoop(500, [](const pipe_dial&) {}, [] { return false; });

    int records = 0;
    bool running = false;
    const auto watch = [&](const pipe_dial& r) {
        if (r.kind == REQ_SET_PARAM && r.code == param::acqRunStop && r.intValue == 0)
            running = true;
        else if (running && (r.kind == REQ_CHANNEL_STATE || r.kind == REQ_CHANNEL_STATE2) && (r.intValue & 1))
            ++records;
    };
    pipe_dial run{REQ_SET_PARAM, param::acqRunStop, 0, 0, 0.0f, 0};
    ASSERT_EQ(o_g_consMessageBox.send(&run), 0);
    ASSERT_TRUE(runLoop(10000, watch, [&] { return running; }));
    runLoop(1000, watch, [] { return false; });
    ASSERT_EQ(data.acqRunStop, 0) << "no trigger yet: the shot waits";
    ASSERT_EQ(records, 0);

    // Each level change holds the acquisition; the last one brings the trigger back.
    for (int16_t level : {2500, 2000, 0}) {
        pipe_dial change{REQ_SET_PARAM, param::trigLevelCh1, 0, level, 0.0f, 0};
        ASSERT_EQ(o_g_consMessageBox.send(&change), 0);
        runLoop(level == 0 ? 0 : 300, watch, [] { return false; });
        if (level != 0) {
            ASSERT_EQ(data.acqRunStop, 0) << "a level change while armed (" << level << ") ended the single mode";
        }
    }
    ASSERT_TRUE(runLoop(30000, watch, [&] { return records > 0 && data.acqRunStop == 1; }))
        << "run/stop " << data.acqRunStop << ", " << records << " records";
    runLoop(500, watch, [] { return false; });
    EXPECT_EQ(data.acqRunStop, 1);
}

// The least-squares fit of offset + a sin + b cos at one period over the record to the words
// at the given positions; the worst distance of a word from the fit, in parts of the fitted
// amplitude.
struct TSineFit {
    size_t points = 0;
    double amplitude = 0;
    double worst = 1;
};

TSineFit fitOnePeriod(const std::vector<std::pair<double, double>>& points)
{
    TSineFit fit;
    fit.points = points.size();
    if (points.size() < 10)
        return fit;
    // Normal equations of the three columns 1, sin, cos.
    double m[3][4] = {};
    auto columns = [](double p, double c[3]) {
        const double w = 2 * M_PI * p / kRecord;
        c[0] = 1;
        c[1] = std::sin(w);
        c[2] = std::cos(w);
    };
    for (const auto& [p, v] : points) {
        double c[3];
        columns(p, c);
        for (int i = 0; i < 3; ++i) {
            for (int j = 0; j < 3; ++j)
                m[i][j] += c[i] * c[j];
            m[i][3] += c[i] * v;
        }
    }
    for (int i = 0; i < 3; ++i)
        for (int k = i + 1; k < 3; ++k) {
            const double f = m[k][i] / m[i][i];
            for (int j = i; j < 4; ++j)
                m[k][j] -= f * m[i][j];
        }
    double x[3];
    for (int i = 2; i >= 0; --i) {
        x[i] = m[i][3];
        for (int j = i + 1; j < 3; ++j)
            x[i] -= m[i][j] * x[j];
        x[i] /= m[i][i];
    }
    fit.amplitude = std::hypot(x[1], x[2]);
    double worst = 0;
    for (const auto& [p, v] : points) {
        double c[3];
        columns(p, c);
        worst = std::max(worst, std::abs(v - (x[0] + x[1] * c[1] + x[2] * c[2])));
    }
    fit.worst = fit.amplitude > 0 ? worst / fit.amplitude : 1;
    return fit;
}

// A single trigger at the default equivalent-time time base: one acquisition holds one sample
// in 40 of the record, and what reads it (the trace, the display points, TRAC?) must still show
// the scenario's sine, not a record 97 % empty.
TEST_F(AcquisitionEndToEndTest, SingleShotAtEquivalentTimeFollowsTheSine)
{
    commandStartup();
    for (pipe_dial r : {pipe_dial{REQ_SET_PARAM, param::instrumentMode, 0, 16, 0.0f, 0},
                        pipe_dial{REQ_SET_PARAM, param::traceOnCh1, 0, 1, 0.0f, 0},
                        pipe_dial{REQ_SET_PARAM, param::trigMode, 0, 2, 0.0f, 0}})
        ASSERT_EQ(o_g_consMessageBox.send(&r), 0);
    // Single mode holds; the run key arms one acquisition: its notice, then the worker's stop.
    ASSERT_TRUE(runLoop(10000, [](const pipe_dial&) {}, [] { return data.trigMode == 2; }));
    runLoop(500, [](const pipe_dial&) {}, [] { return false; });
    pipe_dial run{REQ_SET_PARAM, param::acqRunStop, 0, 0, 0.0f, 0};
    ASSERT_EQ(o_g_consMessageBox.send(&run), 0);
    bool single = false;
    int notices = 0;
    ASSERT_TRUE(runLoop(
        30000,
        [&](const pipe_dial& r) {
            if (r.kind == REQ_SET_PARAM && r.code == param::acqRunStop && r.intValue == 0)
                single = true;
            else if (single && (r.kind == REQ_CHANNEL_STATE || r.kind == REQ_CHANNEL_STATE2) && (r.intValue & 1))
                ++notices;
        },
        [&] { return notices > 0 && data.trigMode == 2 && data.acqRunStop == 1; }))
        << "trigger mode " << data.trigMode << ", run/stop " << data.acqRunStop << ", " << notices << " notices";
    runLoop(500, [](const pipe_dial&) {}, [] { return false; });
    EXPECT_EQ(data.userTimeBase, 15);

    TAcquisition* trace = setupLinks().acqCh1;
    ASSERT_NE(trace, nullptr);
    std::vector<std::pair<double, double>> record, shown;
    pthread_mutex_lock(&o_g_autoMeasMutex);
    for (uint32_t p = 0; p < kRecord; ++p)
        if (trace->samples[p] < 0x40000000u)
            record.emplace_back(p, trace->samples[p] & kSampleCodeMask);
    const uint16_t acqFlags = trace->acqFlags;
    pthread_mutex_unlock(&o_g_autoMeasMutex);
    pthread_mutex_lock(&o_g_imageMutex);
    for (int e = 0; e < 2500; ++e)
        if (trace->loggerRaw[e] < 0x40000000u)
            shown.emplace_back(e * 40.0, (~trace->loggerRaw[e]) & kSampleCodeMask);
    pthread_mutex_unlock(&o_g_imageMutex);

    // The remote copy of every eighth word: four little-endian byte values a word.
    TScpiMemorySession session;
    session.send("FORM ASC\nTRAC:LIM 0,99999,8\nTRAC? INT1\n");
    ASSERT_TRUE(session.waitForReplies(12500 * 8, 20000));
    std::vector<std::pair<double, double>> remote;
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (session.replies().find("\n\r") == std::string::npos && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        std::string text = session.replies();
        text = text.substr(0, text.find("\n\r"));
        std::replace(text.begin(), text.end(), ',', ' ');
        std::istringstream in(text);
        uint32_t b[4];
        for (uint32_t p = 0; in >> b[0] >> b[1] >> b[2] >> b[3]; p += 8) {
            const uint32_t word = b[0] | b[1] << 8 | b[2] << 16 | b[3] << 24;
            if (word < 0x40000000u)
                remote.emplace_back(p, word & kSampleCodeMask);
        }
    }

    // The record's worst point, where the sine is steepest, carries the trigger's placement error:
    // 0.85-1.1 % of the amplitude from run to run (the acquisition's starting block is drawn at
    // random); the remote copy, every eighth word of it, may hold that point (0.5-1.05 %). A gap
    // or an invented sample is far larger than either bound.
    const struct {
        const char* what;
        const std::vector<std::pair<double, double>>& points;
        size_t least;
        double worst;
    } readers[] = {{"trace", record, kRecord - kFirstStep, 0.015},
                   {"display", shown, 2499, 0.01},
                   {"TRAC?", remote, 12499, 0.015}};
    for (const auto& r : readers) {
        const TSineFit fit = fitOnePeriod(r.points);
        EXPECT_GE(fit.points, r.least) << r.what << " (flags " << acqFlags << ")";
        EXPECT_GT(fit.amplitude, 0.05 * 262080) << r.what;
        EXPECT_LT(fit.worst, r.worst) << r.what;
        std::printf("[ single shot ] %s: %zu points, amplitude %.0f codes, worst %.3f %%\n", r.what, fit.points,
                    fit.amplitude, 100 * fit.worst);
    }
}

// A factory calibration step asked of the controller ({1, 127, aux = channel, int = step}),
// channel 2 with nothing connected: the real-time thread runs it and posts its result (kind
// 2048), then asks for the scope; a failed step leaves the record's fields as they were.
TEST_F(AcquisitionEndToEndTest, CalibrationStepsThroughTheController)
{
    simboard::setInputsConnected(false);
    simboard::updateScenario([](simboard::TScenario& s) { s.speedFactor = 20; });
    commandStartup();
    // The scope with channel 2 shown: a record without channels never calibrates.
    for (pipe_dial r : {pipe_dial{REQ_SET_PARAM, param::instrumentMode, 0, 16, 0.0f, 0},
                        pipe_dial{REQ_SET_PARAM, param::traceOnCh2, 0, 1, 0.0f, 0}})
        ASSERT_EQ(o_g_consMessageBox.send(&r), 0);
    runLoop(1000, [](const pipe_dial&) {}, [] { return false; });
    data.sensitivityCh2 = 4;
    // The last row fails: every reference dead, the record stays as it was.
    const struct {
        int32_t step;
        int32_t result;
        bool referencesDead;
    } rows[] = {{0, 1, false}, {4, 1, false}, {7, 1, false}, {5, 0, true}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.step);
        for (int ch = 0; ch < 4; ++ch)
            simboard::setReferenceDead(ch, row.referencesDead);
        const calibration before = param_calibr;
        pipe_dial request{REQ_SET_PARAM, param::calRange, 1, row.step, 0.0f, 0};
        ASSERT_EQ(o_g_consMessageBox.send(&request), 0);
        int32_t result = -1;
        bool scopeAsked = false;
        const intptr_t rt = senderValue(RTAC_id);
        ASSERT_TRUE(runLoop(
            20000,
            [&](const pipe_dial& r) {
                if (r.kind == REQ_OPERATION_DONE && r.senderId == rt)
                    result = static_cast<int32_t>(r.code);
                if (result >= 0 && r.kind == REQ_SET_PARAM && r.code == param::instrumentMode && r.intValue == 16
                    && r.senderId == rt)
                    scopeAsked = true;
            },
            [&] { return scopeAsked; }));
        EXPECT_EQ(result, row.result);
        if (row.result == 0) {
            EXPECT_EQ(std::memcmp(&before, &param_calibr, sizeof before), 0);
        }
    }
    for (int ch = 0; ch < 4; ++ch)
        simboard::setReferenceDead(ch, false);
}

} // namespace
