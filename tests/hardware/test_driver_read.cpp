// The read-out: framing of the first block around the trigger, the auto-trigger timer, the
// streaming blocks held back, the stop and end answers and the bounded wait.
#include "tests/hardware/hwtest.h"

#include "acquisition/acqctrl.h"
#include "hardware/chip_acq.h"

#include <thread>

namespace {
using namespace std::chrono_literals;

void setDetail(uint32_t value)
{
    pthread_mutex_lock(&o_g_synchroAcqMutex);
    o_g_synchroAcqDetail = static_cast<TSynchroDetail>(value);
    pthread_cond_broadcast(&o_g_synchroAcqCond);
    pthread_mutex_unlock(&o_g_synchroAcqMutex);
}

uint32_t detailWord()
{
    pthread_mutex_lock(&o_g_synchroAcqMutex);
    const uint32_t d = o_g_synchroAcqDetail;
    pthread_mutex_unlock(&o_g_synchroAcqMutex);
    return d;
}

int64_t autoTimerNs()
{
    itimerspec t{};
    timer_gettime(o_g_chipAcqDevDescriptor.autoTimer, &t);
    return int64_t(t.it_value.tv_sec) * 1000000000 + t.it_value.tv_nsec;
}
} // namespace

class DriverReadTest : public HardwareTest {
protected:
    void SetUp() override
    {
        HardwareTest::SetUp();
        // A timer whose expiry does nothing, so that its arming can be read back.
        sigevent quiet{};
        quiet.sigev_notify = SIGEV_THREAD;
        quiet.sigev_notify_function = [](sigval) {};
        ASSERT_EQ(timer_create(CLOCK_MONOTONIC, &quiet, &o_g_chipAcqDevDescriptor.autoTimer), 0);
        TChipAcqDevDescriptor& d = o_g_chipAcqDevDescriptor;
        d.autoTimerArmed = 0;
        d.autoTriggered = d.previousAutoTriggered = 0;
        d.autoDueNs = 0;
        d.acqEvents = 0;
        d.readPosition = 0;
        d.delaySamples = 1000000;
        d.pretrigWords = d.triggerWords = d.posttrigWords = 0;
        d.rearmChannels = d.stopChannels = 0;
        pseudoPretrig = pseudoPostrig = 1000000;
        pseudoFPGA_IRQ4_STAT = 0;
        pseudoFPGA_IRQ4_MASK = 0;
        pseudoChipAcqPhotoTrig = kPhotoTrigUnknown;
        acqStateStore(1);
        ctrl_ = acq_ctrl{};
        ctrl_.acqMode = 16;
        ctrl_.decimation = 1;
        ctrl_.cycleChannels = 0x3;
        ctrl_.triggerMode = 1;
    }
    void TearDown() override
    {
        timer_delete(o_g_chipAcqDevDescriptor.autoTimer);
        HardwareTest::TearDown();
    }

    // Driver state of a pass: status, the ring positions (the progress step counts nothing new)
    // and news in the detail word.
    static void prepare(uint16_t status, int32_t readPtr, int32_t writePtr, bool lastBlock)
    {
        us_g_chipAcqStatus = status;
        pseudoFPGA_IRQ4_STAT = lastBlock ? uint32_t(IRQ_FIFO_LAST) : 0u;
        l_g_signalsBufferReadPtr = readPtr;
        o_g_chipAcqDevDescriptor.readPosition = readPtr;
        l_g_signalsBufferWritePtr = l_g_signalsBufferWritePtrOld = writePtr;
        setDetail(SYNCHRO_SAMPLES);
    }

    acq_ctrl ctrl_{};
};

TEST_F(DriverReadTest, CompleteRecordFramesTheFirstBlock)
{
    struct Row {
        const char* what;
        uint16_t status;
        uint16_t flags;
        uint16_t decimation;
        int32_t photo;
        int32_t offset;
        int32_t readPtr;
        int32_t writePtr;
        int32_t ringStart;
        uint32_t newSamples;
    };
    const Row rows[] = {
        {"middle time base, decimation 4", 0x27, 0x90, 4, 0, 0, 0, 40000, 340000, 25000},
        {"trigger 10 words past the ring end", 0x17, 0x80, 1, 400010, 0, 0, 40, 10, 7},
        {"trigger exactly at the ring end", 0x17, 0x80, 1, 400000, 0, 0, 100, 0, 25},
        {"offset before the ring start", 0x17, 0x80, 1, 8, -3, 0, 40, 399996, 11},
        {"a whole ring is cut to 100000", 0x17, 0x80, 1, 0, 0, 0, 0, 0, 100000},
        {"equivalent time", 0x1, 0x20, 1, kPhotoTrigUnknown, 0, 0, 10772, 0, 2500},
        {"single streaming: the plain block", 0x17, 0xC0, 1, 0, 0, 100, 400, 100, 75},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        o_g_chipAcqDevDescriptor.acqEvents = 0;
        acqStateStore(1);
        ctrl_.acqFlags = row.flags;
        ctrl_.decimation = row.decimation;
        ctrl_.triggerOffset = row.offset;
        pseudoChipAcqPhotoTrig = row.photo;
        prepare(row.status, row.readPtr, row.writePtr, true);
        const int events = ChipAcqRead(&ctrl_, 1000);
        EXPECT_EQ(events & 0x410, 0x410);
        EXPECT_EQ(ctrl_.ringStart, row.ringStart);
        EXPECT_EQ(ctrl_.newSamples, row.newSamples);
        EXPECT_EQ(ctrl_.readChannels, 0x3u);
        EXPECT_EQ(l_g_signalsBufferReadPtr, row.writePtr);
        EXPECT_EQ(acqStateLoad(), (row.flags & 0x20) ? 7 : 6);
        EXPECT_EQ(autoTimerNs(), 0);
    }
    // The next block after the framing is plain: from the read position on.
    o_g_chipAcqDevDescriptor.readPosition = 400;
    l_g_signalsBufferReadPtr = 400;
    l_g_signalsBufferWritePtr = 800;
    setDetail(SYNCHRO_SAMPLES);
    ChipAcqRead(&ctrl_, 1000);
    EXPECT_EQ(ctrl_.ringStart, 400);
    EXPECT_EQ(ctrl_.newSamples, 100u);
}

TEST_F(DriverReadTest, AutoTriggerTimerByTriggerMode)
{
    struct Row {
        const char* what;
        uint16_t mode;
        uint16_t flags;
        uint8_t previousAuto;
        int64_t dueInNs;  // the wait a held acquisition handed on is due in; 0: no wait
        int64_t ns;       // 0: not armed
    };
    const Row rows[] = {
        {"normal never arms", 1, 0x80, 0, 0, 0},
        {"single never arms", 2, 0x80, 0, 0, 0},
        {"mode 4: 40 ms", 4, 0x80, 0, 0, 40000000},
        {"auto, first: 500 ms", 0, 0x80, 0, 0, 500000000},
        {"auto after an auto trigger: 80 ms", 0, 0x80, 1, 0, 80000000},
        {"mode 3 like auto", 3, 0x80, 0, 0, 500000000},
        {"auto with flag 0x8", 0, 0x88, 0, 0, 0},
        {"auto, a wait a hold broke off: what is left of it", 0, 0x80, 0, 200000000, 200000000},
        {"auto, a wait a hold broke off and now over: at once", 0, 0x80, 0, -1000000, 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        ctrl_.triggerMode = row.mode;
        ctrl_.acqFlags = row.flags;
        o_g_chipAcqDevDescriptor.autoTimerArmed = 0;
        o_g_chipAcqDevDescriptor.previousAutoTriggered = row.previousAuto;
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        o_g_chipAcqDevDescriptor.autoDueNs =
            row.dueInNs == 0 ? 0 : int64_t(now.tv_sec) * 1000000000 + now.tv_nsec + row.dueInNs;
        prepare(0x11, 0, 0, false);  // pre-trigger filled, no trigger
        EXPECT_EQ(ChipAcqRead(&ctrl_, 5), 0);
        const int64_t left = autoTimerNs();
        if (row.ns == 0) {
            EXPECT_EQ(left, 0);
            continue;
        }
        EXPECT_GT(left, row.ns - 100000000 / 4);
        EXPECT_LE(left, row.ns);
        EXPECT_EQ(o_g_chipAcqDevDescriptor.autoTimerArmed, 1);
        // Once per acquisition: a later pass does not arm it again.
        itimerspec off{};
        timer_settime(o_g_chipAcqDevDescriptor.autoTimer, 0, &off, nullptr);
        prepare(0x11, 0, 0, false);
        EXPECT_EQ(ChipAcqRead(&ctrl_, 5), 0);
        EXPECT_EQ(autoTimerNs(), 0);
    }
    // Not with a trigger seen, which also ends a wait handed on.
    ctrl_.triggerMode = 0;
    ctrl_.acqFlags = 0x80;
    o_g_chipAcqDevDescriptor.autoTimerArmed = 0;
    o_g_chipAcqDevDescriptor.autoDueNs = 1;
    prepare(0x13, 0, 0, false);
    EXPECT_EQ(ChipAcqRead(&ctrl_, 5), 0);
    EXPECT_EQ(autoTimerNs(), 0);
    EXPECT_EQ(o_g_chipAcqDevDescriptor.autoDueNs, 0);
}

TEST_F(DriverReadTest, StreamingBlocksOfAtMost5000SamplesAreHeldBack)
{
    struct Row {
        const char* what;
        uint16_t status;
        uint16_t flags;
        int32_t words;
        bool handedOut;
    };
    const Row rows[] = {
        {"trigger phase, many samples", 0x13, 0x80, 40000, false},
        {"post-trigger phase, 5000 samples", 0x17, 0x80, 20000, false},
        {"post-trigger phase, 5001 samples", 0x17, 0x80, 20004, true},
        {"single, pre-trigger phase, 5000 samples", 0x11, 0xC0, 20000, false},
        {"single, pre-trigger phase, 5001 samples", 0x11, 0xC0, 20004, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        o_g_chipAcqDevDescriptor.acqEvents = 0;
        ctrl_.acqFlags = row.flags;
        ctrl_.triggerOffset = 0;
        pseudoChipAcqPhotoTrig = 0;
        prepare(row.status, 0, row.words, false);
        const int events = ChipAcqRead(&ctrl_, 5);
        if (row.handedOut) {
            EXPECT_NE(events, 0);
            EXPECT_EQ(ctrl_.newSamples, uint32_t(row.words / 4));
            EXPECT_EQ(ctrl_.ringStart, 0);
        } else {
            EXPECT_EQ(events, 0);
            EXPECT_EQ(ctrl_.newSamples, 0u);
            EXPECT_EQ(l_g_signalsBufferReadPtr, 0);  // the words wait for the next pass
        }
    }
}

TEST_F(DriverReadTest, StopEndsAWaitAtOnceAndStays)
{
    setDetail(0);
    std::thread stopper([] {
        std::this_thread::sleep_for(50ms);
        setDetail(SYNCHRO_STOP);
    });
    int result = 0;
    const double ms = elapsedMs([&] { result = ChipAcqRead(&ctrl_); });
    stopper.join();
    EXPECT_EQ(result, 8192);
    EXPECT_LT(ms, 1000.0);
    EXPECT_EQ(detailWord(), uint32_t(SYNCHRO_STOP));
    EXPECT_EQ(ChipAcqRead(&ctrl_), 8192);  // until a resume replaces it

    setDetail(SYNCHRO_END | SYNCHRO_SAMPLES);
    EXPECT_EQ(ChipAcqRead(&ctrl_), 4096);
    EXPECT_EQ(detailWord(), uint32_t(SYNCHRO_END | SYNCHRO_SAMPLES));
    setDetail(SYNCHRO_END | SYNCHRO_STOP);
    EXPECT_EQ(ChipAcqRead(&ctrl_), 8192);
}

TEST_F(DriverReadTest, BoundedReadOnASilentBoardReturnsNotYet)
{
    setDetail(0);
    ctrl_.newSamples = 123;
    int result = -1;
    const double ms = elapsedMs([&] { result = ChipAcqRead(&ctrl_, 100); });
    EXPECT_EQ(result, 0);
    EXPECT_EQ(ctrl_.newSamples, 0u);
    EXPECT_GE(ms, 95.0);
    EXPECT_LT(ms, 1000.0);
}
