// The oscilloscope cycle on the simulated board: a 1 kHz sine of 2 V peak to peak on channel 1,
// acquired through the real driver, transferred, displayed and measured. Most cases run the cycle
// in a thread of their own (stopped with a stop request); the hand-shakes run the real
// acquisition threads, because a suspend needs the real-time thread's park.
#include "tests/hardware/hwtest.h"
#include "tests/hardware/realtime/realtime_support.h"

#include "acquisition/TAcquisition.h"
#include "acquisition/acqctrl.h"
#include "acquisition/acquisit.h"
#include "acquisition/measkernel.h"
#include "acquisition/scope.h"
#include "busanalysis/busmeaskernel.h"
#include "core/command.h"
#include "core/gest_db.h"
#include "core/process.h"
#include "core/requests.h"
#include "core/scale.h"
#include "core/setup.h"
#include "hardware/CmdesBase.h"
#include "hardware/calibration.h"
#include "hardware/chip_acq.h"
#include "hardware/frontend.h"
#include "hardware/handshake.h"
#include "hardware/vernier.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cctype>
#include <cmath>
#include <cstring>
#include <functional>
#include <thread>
#include <vector>

namespace {
using namespace std::chrono_literals;
using realtime::positionSeconds;
using realtime::setDetail;
using realtime::TPacer;

// Small steps, each once the driver took what the previous one raised: on a loaded machine an
// event raised while the interrupt thread is still busy with the previous one would otherwise
// wait for the next.
constexpr realtime::TPacing kPacing{50us, 50us, true};

constexpr uint32_t kEmpty = 0x80000000u;
constexpr int32_t kRecord = 100000;
constexpr double kCrest = 589776.0;
constexpr double kTrough = 458736.0;
constexpr int32_t kBoardSpan = 230456;  // 2^24 / (262080 / 3600)
constexpr int32_t kBoardZero = 375198;  // 524256 - 2047.5 x 262080 / 3600

// "tavlin_" and the local date and time as yyyy-MM-dd_hh-mm-ss.
bool saveNameValid(const char* name)
{
    const std::string pattern = "tavlin_dddd-dd-dd_dd-dd-dd";
    const std::string text = name ? name : "";
    if (text.size() != pattern.size())
        return false;
    for (size_t i = 0; i < text.size(); ++i)
        if (pattern[i] == 'd' ? !std::isdigit(static_cast<unsigned char>(text[i])) : text[i] != pattern[i])
            return false;
    return true;
}

class ScopeCycleTest : public HardwareTest {
protected:
    void SetUp() override
    {
        HardwareTest::SetUp();
        simboard::updateScenario([](simboard::TScenario& s) {
            for (auto& sig : s.signals)
                sig = simboard::TSignal{};
            s.signals[0].shape = "sine";
            s.signals[0].vpp = 2.0;
            s.signals[0].frequency = 1000.0;
            s.speedFactor = 1.0;
        });
        setPauseHook([](int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); });
        COMM_id = pthread_self();
        RTAC_id = 0;
        ACQU_id = 0;
        b_g_stateNoticePending.store(false);
        ASSERT_EQ(ChipAcqDrv(), 0);
        ASSERT_TRUE(ChipAcqBoardPresent());
        Startup(&param_calibr, 15);
        const simboard::TVernierLimits limits = simboard::vernierLimits();
        TVernier::us_c_vernierMinCh1 = limits.min;
        TVernier::us_c_vernierMaxCh1 = limits.max;
        // Channel 1 at 0.5 V/div, centred, automatic trigger at 0 V on rising edges.
        data.instrumentMode = 16;
        data.channelFlags = 1;
        data.hwChannelMask = 15;
        data.traceOnCh1 = 1;
        data.traceOnCh2 = data.traceOnCh3 = data.traceOnCh4 = 0;
        data.sensitivityCh1 = 7;
        data.couplingCh1 = 0;
        data.offsetCh1 = 0;
        data.trigSource = 0;
        data.trigLevelCh1 = 0;
        data.trigEdgeCh1 = 0;
        data.trigMode = 0;
        data.acqRunStop = 0;
        data.traceFormat = 0;
        data.cursorState = 0;
        data.repSig = 0;
        data.minMax = 0;
        data.traceMode = 0;
    }

    void TearDown() override
    {
        stopCycle();
        pacer_.stop();
        if (threadsRunning_)
            AcqStopNoWait();  // the real-time thread parks after its cycle
        simboard::shutdown();
        HardwareTest::TearDown();
    }

    // The record, front end and time base as the acquisition control thread sets them up.
    void prepare(int timeBase)
    {
        data.timeBaseIndex = static_cast<int16_t>(timeBase);
        data.userTimeBase = static_cast<int16_t>(timeBase);
        std::memset(&ctrl_, 0, sizeof ctrl_);
        affect_par(&data, 29, &param_calibr, &ctrl_);
        // Calibrated for this board: its ADC puts the 8 divisions on 3600 codes around 2047.5
        // (the uncalibrated identity assumes 4096).
        for (int c = 0; c < 4; ++c) {
            ctrl_.span[c] = kBoardSpan;
            ctrl_.zero[c] = kBoardZero;
        }
        ProgramFE(29, &ctrl_, &param_calibr);
        ProgScalingsPowerDown(ctrl_.poweredChannels);
        ChipAcqIoctl(CHIPACQ_SCOPE, &ctrl_);
        setDetail(SYNCHRO_TIMEBASE_CHANGE);
        pacer_.start(std::max<uint64_t>(1000, static_cast<uint64_t>(positionSeconds(timeBase) * 2e11)), kPacing);
    }

    void runCycle()
    {
        returned_.store(false);
        cycle_ = std::thread([this] {
            Scope(&data, &ctrl_);
            returned_.store(true);
        });
    }
    void stopCycle()
    {
        if (!cycle_.joinable())
            return;
        AcqStopNoWait();
        cycle_.join();
    }

    // Takes the controller's part for state notices: every record taken clears the pending flag.
    std::vector<pipe_dial> take(int ms)
    {
        std::vector<pipe_dial> out;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (std::chrono::steady_clock::now() < deadline) {
            pipe_dial r{};
            if (o_g_consMessageBox.peek(&r)) {
                o_g_consMessageBox.receive(&r, true, 1);
                if (r.kind == REQ_CHANNEL_STATE || r.kind == REQ_CHANNEL_STATE2)
                    b_g_stateNoticePending.store(false);
                out.push_back(r);
            } else {
                std::this_thread::sleep_for(1ms);
            }
        }
        return out;
    }
    // Waits until `count` notices with the whole record held came.
    bool completeRecords(int count, int ms = 20000)
    {
        int seen = 0;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (seen < count && std::chrono::steady_clock::now() < deadline)
            for (const pipe_dial& r : take(20))
                if (r.kind == REQ_CHANNEL_STATE && r.auxValue == kRecord)
                    ++seen;
        return seen >= count;
    }

    static TAcquisition* ch1() { return setupLinks().acqCh1; }
    static mesures* record(int n) { return &setupLinks().measResultsPtr[n]; }
    static int32_t reference(const TAcquisition* t)
    {
        return static_cast<int32_t>(0x60000 + static_cast<int64_t>((t->softPosition + 499.0) * 262080.0) / 999);
    }
    static uint64_t armings()
    {
        uint64_t n = 0;
        for (const simboard::TSerialCommand& c : simboard::globalCommands())
            n += c.opcode == 0x97;
        return n;
    }

    void startThreads()
    {
        threadsRunning_ = true;
        data.timeBaseIndex = data.userTimeBase = 15;
        pacer_.start(2000, kPacing);
        ASSERT_EQ(startAcquisitionThread(&ACQU_id, acquisit, &param_calibr, 20, "acquisit"), 0);
    }

    acq_ctrl ctrl_{};
    std::thread cycle_;
    std::atomic<bool> returned_{false};
    bool threadsRunning_ = false;
    TPacer pacer_;
};

// --- The cycle on the simulated board ------------------------------------------------------------

TEST_F(ScopeCycleTest, SineOnChannelOneAtEquivalentTimeAndMiddleTimeBases)
{
    for (int timeBase : {15, 17, 21}) {
        SCOPED_TRACE(timeBase);
        data.offsetCh1 = 0;
        prepare(timeBase);
        runCycle();
        ASSERT_TRUE(completeRecords(3));
        stopCycle();

        TAcquisition* t = ch1();
        const uint32_t* s = t->samples;
        uint32_t hi = 0, lo = 0xFFFFF;
        for (int32_t i = 0; i < kRecord; ++i)
            if (s[i] < kInvalidSampleFrom) {
                hi = std::max(hi, s[i] & kSampleCodeMask);
                lo = std::min(lo, s[i] & kSampleCodeMask);
            }
        EXPECT_NEAR(hi, kCrest, 655.2);
        EXPECT_NEAR(lo, kTrough, 655.2);

        // The trace follows the sine placed by the trigger: 1 ms period, rising through 0 at 50,000.
        const double dt = positionSeconds(timeBase);
        const int32_t hardwareSample = timeBase <= 17 ? 40 : std::max<int32_t>(ctrl_.decimation, 1);
        // Two percent, plus the slope over one hardware sample of placement.
        const double tolerance = 0.02 * 65520 + 65520 * 2 * M_PI * dt * hardwareSample / 1e-3;
        for (int32_t i = 1000; i < kRecord; i += 7919) {
            const double expected = kZeroLineCode + 65520.0 * std::sin(2 * M_PI * (i - 50000) * dt / 1e-3);
            EXPECT_NEAR(static_cast<double>(s[i] & kSampleCodeMask), expected, tolerance) << i;
        }
        // Period by the kernels over whole periods of the middle of the record, when it holds some.
        mesures m{};
        meas_pix(s, &m, 5000, 95000, reference(t));
        if (90000 * dt > 2.2e-3) {
            ASSERT_GT(m.periodCount, 0);
            const int32_t start = std::min(m.rise50, m.fall50);
            EXPECT_NEAR((m.lastCross50 - start) * dt / m.periodCount, 1e-3, 2e-6);
        }

        // The rising crossing of level 0 nearest the trigger position.
        int32_t best = -1;
        for (int32_t i = 40000; i < 60000; ++i)
            if ((s[i - 1] & kSampleCodeMask) < kZeroLineCode && (s[i] & kSampleCodeMask) >= kZeroLineCode &&
                (best < 0 || std::abs(i - 50000) < std::abs(best - 50000)))
                best = i;
        // A decimated record's samples stand where the macro vernier puts them, to one record
        // sample; an equivalent-time one to a hardware sample.
        EXPECT_LE(std::abs(best - 50000), timeBase <= 17 ? hardwareSample : 1);

        // Envelope pairs: inverted max and min of each 80-sample block.
        for (int32_t mIdx = 0; mIdx < 1250; mIdx += 97) {
            uint32_t bmax = 0, bmin = 0xFFFFFFFFu;
            for (int32_t i = 80 * mIdx; i < 80 * mIdx + 80; ++i)
                if (!(s[i] & kEmpty)) {
                    bmax = std::max(bmax, s[i] & kSampleCodeMask);
                    bmin = std::min(bmin, s[i] & kSampleCodeMask);
                }
            EXPECT_EQ(t->loggerEnvelope[2 * mIdx], (~bmax) & 0xFFFFFu) << mIdx;
            EXPECT_EQ(t->loggerEnvelope[2 * mIdx + 1], (~bmin) & 0xFFFFFu) << mIdx;
        }
        // Display points: every 40th sample from the transfer's first valid position.
        int32_t firstValid = -1;
        for (int32_t f = 0; f < 40 && firstValid < 0; ++f)
            if (t->loggerRaw[1] == ((~s[40 + f]) & 0xFFFFFu) && t->loggerRaw[2] == ((~s[80 + f]) & 0xFFFFFu))
                firstValid = f;
        ASSERT_GE(firstValid, 0);
        for (int32_t e = 0; 40 * e + firstValid < kRecord; e += 101)
            EXPECT_EQ(t->loggerRaw[e], (~s[40 * e + firstValid]) & 0xFFFFFu) << e;

        // Offset 250 moves the mean up by a quarter of the screen.
        const double mean0 = m.mean;
        data.offsetCh1 = 250;
        prepare(timeBase);
        runCycle();
        ASSERT_TRUE(completeRecords(3));
        stopCycle();
        mesures moved{};
        meas_pix(t->samples, &moved, 5000, 95000, reference(t));
        EXPECT_NEAR(moved.mean - mean0, 65520.0, 655.2);
    }
}

// --- Cycle behaviour ---------------------------------------------------------------------------------

TEST_F(ScopeCycleTest, ReprocessingNeitherArmsNorReadsAndPostsOneKind8Notice)
{
    prepare(15);
    ctrl_.acqFlags = ACQ_FLAGS_REPROCESS_REDRAW;
    ctrl_.shownChannels = 0x101;
    std::fill(TAcquisition::Voie1Normalisee, TAcquisition::Voie1Normalisee + kRecord, kZeroLineCode);
    const uint64_t before = armings();
    Scope(&data, &ctrl_);
    EXPECT_EQ(armings(), before);
    const std::vector<pipe_dial> got = take(50);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].kind, REQ_ACQ_DONE);
    EXPECT_EQ(got[0].auxValue, kRecord);
    EXPECT_EQ(got[0].intValue, 0x101);
    EXPECT_EQ(got[0].senderId, senderValue(ACQU_id));
    // The held record reached the trace and its display.
    EXPECT_EQ(std::count(ch1()->samples, ch1()->samples + kRecord, kEmpty), 0);
    EXPECT_NE(ch1()->loggerEnvelope[0], kEmpty);
}

TEST_F(ScopeCycleTest, SingleTriggerEndsAfterOneAcquisitionAndHoldTransfersNothing)
{
    struct Row {
        uint16_t triggerMode;
        uint16_t runStop;
        int notices;  // with the whole record
    };
    for (const Row& row : {Row{2, 0, 1}, Row{0, 1, 0}}) {
        SCOPED_TRACE(row.runStop);
        prepare(15);
        ctrl_.triggerMode = row.triggerMode;
        ctrl_.runStop = row.runStop;
        std::fill(ch1()->samples, ch1()->samples + kRecord, 0x7FFE1u);
        runCycle();
        std::vector<pipe_dial> got;
        for (int i = 0; i < 2000 && !returned_.load(); ++i) {
            auto more = take(5);
            got.insert(got.end(), more.begin(), more.end());
        }
        EXPECT_TRUE(returned_.load());
        stopCycle();
        auto more = take(20);
        got.insert(got.end(), more.begin(), more.end());
        EXPECT_EQ(std::count_if(got.begin(), got.end(), [](const pipe_dial& r) {
                      return r.kind == REQ_CHANNEL_STATE && r.auxValue == kRecord;
                  }),
                  row.notices);
        if (row.runStop) {
            EXPECT_EQ(std::count(ch1()->samples, ch1()->samples + kRecord, 0x7FFE1u), kRecord);
        }
    }
}

TEST_F(ScopeCycleTest, PassFailCountsAndSkipsTheDisplayOfAFailureAndBeepsOnAPass)
{
    TAcquisition* mask = setupLinks().maskAcq;
    ASSERT_NE(mask, nullptr);
    struct Row {
        bool pass;
        const char* counts;  // get(0) after one acquisition
    };
    for (const Row& row : {Row{false, "1 / 1"}, Row{true, "1 / 1"}}) {
        SCOPED_TRACE(row.pass);
        prepare(15);
        ctrl_.triggerMode = 2;
        ctrl_.pfActive = 1;
        ctrl_.pfSource = 0;
        ctrl_.pfDisplay = 1;
        ctrl_.pfBeep = 1;
        TAcquisition::passFailCounter.raz();
        // Even words are the upper bound, odd ones the lower; an empty band fails everything.
        for (int32_t i = 0; i < kRecord; ++i)
            mask->samples[i] = row.pass ? ((i & 1) ? 0u : 0xFFFFFu) : ((i & 1) ? 0xFFFFFu : 0u);
        std::fill(ch1()->loggerEnvelope, ch1()->loggerEnvelope + 2500, 0x12345u);
        const uint32_t beeps = simboard::reg20().pulse24Count;
        Scope(&data, &ctrl_);
        take(20);
        EXPECT_EQ(TAcquisition::passFailCounter.get(row.pass ? 1 : 2), row.counts);
        EXPECT_EQ(TAcquisition::passFailCounter.get(0), "1 / 1");
        const bool redrawn = ch1()->loggerEnvelope[0] != 0x12345u;
        EXPECT_EQ(redrawn, row.pass);
        EXPECT_EQ(simboard::reg20().pulse24Count - beeps, row.pass ? 1u : 0u);
    }
}

TEST_F(ScopeCycleTest, MeasurementsRunOnlyWhileShownOrWhenAStopIsPending)
{
    for (int16_t cursorState : {0, 3}) {
        SCOPED_TRACE(cursorState);
        data.cursorState = cursorState;
        std::memset(record(0), 0xAB, sizeof(mesures));
        prepare(15);
        ctrl_.triggerMode = 2;
        Scope(&data, &ctrl_);
        take(20);
        const bool measured = record(0)->count != static_cast<int32_t>(0xABABABAB);
        EXPECT_EQ(measured, cursorState == 3);
        if (measured) {
            EXPECT_GT(record(0)->count, 0);
            EXPECT_NE(record(0)->flags & MEAS_MAX_VALID, 0);
        }
    }
}

TEST_F(ScopeCycleTest, FftFormatFillsTheDisplayWithTheSpectrumOfTheCompleteRecord)
{
    data.traceFormat = 1;
    data.fftWindow = 0;
    data.fftVerticalScale = 0;
    data.fftZoomWidth = 40.0f;
    data.fftHorizPosition = 0;
    data.fftOffsetCh1 = 0;
    prepare(17);
    ctrl_.triggerMode = 2;
    Scope(&data, &ctrl_);
    take(20);
    const uint32_t* p = ch1()->loggerRaw;
    // The strongest bin (the smallest code) beside DC: periods across the record, two points a bin.
    const int periods = static_cast<int>(std::lround(kRecord * positionSeconds(17) / 1e-3));
    const uint32_t* strongest = std::min_element(p + 4, p + 2500);
    EXPECT_NEAR(strongest - p, 2 * periods, 2);
    EXPECT_TRUE(std::all_of(p, p + 2500, [](uint32_t v) { return v <= 0xFFFC0u || v == kEmpty; }));
}

TEST_F(ScopeCycleTest, RollingRecordKeepsTheNewestSamples)
{
    // Single mode at a slow time base without a trigger: the record rolls on. While it fills,
    // each notice tells a growing count; once full, every read-out moves the oldest samples out.
    simboard::updateScenario([](simboard::TScenario& s) { s.speedFactor = 50.0; });
    data.trigMode = 2;
    data.trigLevelCh1 = 3000;  // above the signal
    prepare(25);
    ASSERT_EQ(ctrl_.acqFlags, 192);
    int32_t last = 0;
    int rolled = 0;
    runCycle();
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    while (rolled < 5 && std::chrono::steady_clock::now() < deadline)
        for (const pipe_dial& r : take(20))
            if (r.kind == REQ_CHANNEL_STATE) {
                rolled += r.auxValue >= 99000 && last >= 99000;
                last = static_cast<int32_t>(r.auxValue);
            }
    ASSERT_GE(rolled, 5);
    pthread_mutex_lock(&o_g_imageMutex);
    const std::vector<uint32_t> envelope(ch1()->loggerEnvelope, ch1()->loggerEnvelope + 2500);
    pthread_mutex_unlock(&o_g_imageMutex);
    stopCycle();
    // The trace is full to its start: the oldest samples moved out, none emptied by a reset.
    EXPECT_EQ(std::count(ch1()->samples, ch1()->samples + 90000, kEmpty), 0);
    // Rolled on: the envelope covers the whole record again, nothing emptied past its end.
    EXPECT_EQ(std::count(envelope.begin(), envelope.end(), kEmpty), 0);
}

// --- Hand-shakes ---------------------------------------------------------------------------------------

TEST_F(ScopeCycleTest, SaveAndRestartCompletesWhetherTheSaveComesBeforeOrAfterTheWait)
{
    data.saveRestart = 1;
    prepare(15);
    runCycle();
    for (int delayMs : {0, 300, 0}) {
        SCOPED_TRACE(delayMs);
        pipe_dial save{};
        for (int i = 0; i < 500 && save.kind != REQ_FILE; ++i)
            for (const pipe_dial& r : take(20))
                if (r.kind == REQ_FILE)
                    save = r;
        ASSERT_EQ(save.kind, REQ_FILE);
        EXPECT_EQ(save.code, fileTraceSaveAlt);
        EXPECT_EQ(save.senderId, senderValue(RTAC_id));
        EXPECT_STREQ(reinterpret_cast<const char*>(save.auxValue), "");
        EXPECT_TRUE(saveNameValid(reinterpret_cast<const char*>(save.intValue)));
        // The cycle waits: nothing more comes until the save is done.
        EXPECT_TRUE(take(delayMs).empty());
        pthread_mutex_lock(&o_g_synchroSavRelMutex);
        b_g_saveRestartDone = true;
        pthread_cond_broadcast(&o_g_synchroSavRelCond);
        pthread_mutex_unlock(&o_g_synchroSavRelMutex);
    }
    EXPECT_FALSE(returned_.load());
}

TEST_F(ScopeCycleTest, SuspendWhileASaveIsPendingCompletesBoth)
{
    data.saveRestart = 1;
    startThreads();
    pipe_dial save{};
    for (int i = 0; i < 500 && save.kind != REQ_FILE; ++i)
        for (const pipe_dial& r : take(20))
            if (r.kind == REQ_FILE)
                save = r;
    ASSERT_EQ(save.kind, REQ_FILE);
    // A queued file request suspends the acquisition before the save is done: the cycle leaves
    // its wait, the suspend completes, and the save is carried out later without a waiter.
    std::atomic<bool> suspended{false};
    std::atomic<bool> saved{false};
    std::thread controller([&] {
        AcqSuspend();
        suspended.store(true);
        while (!saved.load())
            std::this_thread::sleep_for(1ms);
        AcqResume(SYNCHRO_RESUME);
    });
    for (int i = 0; i < 500 && !suspended.load(); ++i)
        std::this_thread::sleep_for(10ms);
    EXPECT_TRUE(suspended.load());
    pthread_mutex_lock(&o_g_synchroSavRelMutex);
    b_g_saveRestartDone = true;
    pthread_cond_broadcast(&o_g_synchroSavRelCond);
    pthread_mutex_unlock(&o_g_synchroSavRelMutex);
    saved.store(true);
    controller.join();
    // The acquisition goes on: the next save comes.
    pipe_dial next{};
    for (int i = 0; i < 500 && next.kind != REQ_FILE; ++i)
        for (const pipe_dial& r : take(20))
            if (r.kind == REQ_FILE)
                next = r;
    EXPECT_EQ(next.kind, REQ_FILE);
}

TEST_F(ScopeCycleTest, BusyControllerSeesOneStateNoticeAndARestartStillCompletes)
{
    simboard::updateScenario([](simboard::TScenario& s) { s.speedFactor = 20.0; });
    startThreads();
    ASSERT_TRUE(completeRecords(1));
    // The controller busy: the cycle keeps acquiring but queues one notice, however many records
    // it completes meanwhile. Read for a second after the first notice came (which may take
    // longer than a second on a loaded host); reading the box does not clear the notice.
    std::vector<pipe_dial> queued;
    auto notices = [&queued] {
        return std::count_if(queued.begin(), queued.end(),
                             [](const pipe_dial& q) { return q.kind == REQ_CHANNEL_STATE || q.kind == REQ_CHANNEL_STATE2; });
    };
    pipe_dial r{};
    auto drain = [&] {
        while (o_g_consMessageBox.peek(&r)) {
            o_g_consMessageBox.receive(&r, true, 1);
            queued.push_back(r);
        }
    };
    for (int i = 0; i < 200 && notices() == 0; ++i) {
        std::this_thread::sleep_for(100ms);
        drain();
    }
    std::this_thread::sleep_for(1s);
    drain();
    EXPECT_EQ(notices(), 1);
    // Not cleared: still busy. A restart's completion is never held back.
    TLongArray restart{param::sensitivityCh1, 1, ACQ_RESTART_FULL, senderValue(COMM_id)};
    ASSERT_EQ(o_g_acquMessageBox.send(&restart), 0);
    bool done = false;
    for (int i = 0; i < 500 && !done; ++i) {
        if (o_g_consMessageBox.receive(&r, true, 1) == 0)
            done = r.kind == REQ_ACQ_DONE;
    }
    EXPECT_TRUE(done);
    b_g_stateNoticePending.store(false);
    EXPECT_TRUE(completeRecords(1));
}

}  // namespace

// A record that the automatic trigger takes holds the sine where the board sampled it: no word
// of it comes from an earlier acquisition (at these time bases each acquisition's samples stand
// on a grid of their own, the positions between them interpolated).
TEST_F(ScopeCycleTest, AutoTriggeredRecordsHoldOnlyTheirOwnAcquisition)
{
    // The trigger on channel 2, a level it never crosses: every record is auto-triggered, so
    // the sine's phase differs from one record to the next.
    simboard::updateScenario([](simboard::TScenario& s) {
        s.signals[1].shape = "dc";
        s.signals[1].offset = 0.3;
    });
    data.trigSource = 1;
    data.trigLevelCh2 = 0;
    data.sensitivityCh2 = 7;
    for (int timeBase : {18, 19}) {
        SCOPED_TRACE(timeBase);
        prepare(timeBase);
        runCycle();
        ASSERT_TRUE(completeRecords(4));
        stopCycle();
        // The sine moves at most about a hundred codes a position here; a word from another
        // acquisition stands out from its neighbours by thousands.
        const uint32_t* s = ch1()->samples;
        int spikes = 0, first = -1;
        for (int32_t i = 1; i + 1 < kRecord; ++i) {
            const double a = s[i - 1] & kSampleCodeMask, b = s[i] & kSampleCodeMask, c = s[i + 1] & kSampleCodeMask;
            if (std::fabs(b - (a + c) / 2) > 3000 && spikes++ == 0)
                first = i;
        }
        EXPECT_EQ(spikes, 0) << "the first at " << first;
    }
}

// --- The CAN bus of the sample scenario ----------------------------------------------------------

TEST_F(ScopeCycleTest, CanFramesOnChannelOneReadBackTheirLevels)
{
    // The sample CAN scenario: the differential bus on channel 1 and CAN-H on channel 4, both
    // divided by 10 as a x10 probe does; the setup knows the probes' factor.
    useCanBusSignals();
    data.probeCoeffCh1 = data.probeCoeffCh4 = 10.0f;
    data.sensitivityCh1 = 5;  // 0.1 V a division at the input, 1 V with the probe
    data.couplingCh1 = 1;     // DC
    data.trigLevelCh1 = 100;
    // Normal trigger: every record holds a frame. The automatic one may record the idle bus
    // between frames when a loaded host keeps the simulated bus behind the wall clock.
    data.trigMode = 1;
    prepare(11);
    runCycle();
    ASSERT_TRUE(completeRecords(3));
    stopCycle();

    TBusAutoMeas m;
    ASSERT_EQ(MeasPixT_bus(ch1()->samples, &m, 2000, 98000, 0), 0);
    const double voltsPerCode = 0.1 * 10 / 32760;
    EXPECT_NEAR((double(m.topLevel) - kZeroLineCode) * voltsPerCode, 2.0, 0.04);
    EXPECT_NEAR((double(m.baseLevel) - kZeroLineCode) * voltsPerCode, 0.0, 0.04);
}
