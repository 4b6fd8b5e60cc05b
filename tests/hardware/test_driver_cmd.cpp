// The driver's control commands, as the simulated board's serial log and register file see them.
#include "tests/hardware/hwtest.h"
#include "tests/hardware/drvtest.h"

#include "acquisition/TAcquisition.h"
#include "acquisition/acqctrl.h"
#include "hardware/chip_acq.h"
#include "hardware/frequencemeter.h"
#include "hardware/scaling.h"

#include <thread>

namespace {
struct Sent {
    uint16_t mask;
    uint16_t opcode;
    uint32_t value;
    bool operator==(const Sent& o) const { return mask == o.mask && opcode == o.opcode && value == o.value; }
};
std::ostream& operator<<(std::ostream& os, const Sent& s)
{
    return os << "{mask " << s.mask << ", 0x" << std::hex << s.opcode << std::dec << ", " << s.value << "}";
}

// Serial commands since the last clear, values as sent (data word >> 1).
std::vector<Sent> sent()
{
    std::vector<Sent> out;
    for (const simboard::TSerialCommand& c : simboard::serialCommands())
        out.push_back({c.mask, c.opcode, static_cast<uint32_t>(c.data >> 1)});
    return out;
}
std::vector<Sent> sentWith(uint16_t opcode)
{
    std::vector<Sent> out;
    for (const Sent& s : sent())
        if (s.opcode == opcode)
            out.push_back(s);
    return out;
}
std::vector<uint32_t> valuesOf(uint16_t opcode)
{
    std::vector<uint32_t> out;
    for (const Sent& s : sentWith(opcode))
        out.push_back(s.value);
    return out;
}
// Values of SPI register writes since the last log clear.
std::vector<uint32_t> spiWrites(int reg)
{
    std::vector<uint32_t> out;
    for (const simboard::TLogEntry& e : simboard::log({simboard::TLogKind::SpiWrite}))
        if (e.b == reg)
            out.push_back(static_cast<uint32_t>(e.c));
    return out;
}

// Commands 1, 3 and 8 run with the synchro mutex held.
int ioctlLocked(int32_t command, acq_ctrl* c)
{
    pthread_mutex_lock(&o_g_synchroAcqMutex);
    const int r = ChipAcqIoctl(command, c);
    pthread_mutex_unlock(&o_g_synchroAcqMutex);
    return r;
}

acq_ctrl scopeRecord()
{
    acq_ctrl c{};
    c.acqMode = 16;
    c.cycleChannels = 1;
    c.triggerSource = 0;
    c.triggerType = 0;
    c.timeBase = 15;
    c.holdoff = 15000;
    c.preTrigger = 50000;
    c.postTrigger = 50000;
    return c;
}

itimerspec timerState(timer_t t)
{
    itimerspec s{};
    timer_gettime(t, &s);
    return s;
}
} // namespace

class DriverCmdTest : public HardwareTest {
protected:
    void SetUp() override
    {
        HardwareTest::SetUp();
        pseudoRC = 0;
        for (uint16_t& b : pseudoRC_bwl)
            b = 0;
        pseudoFPGA_CMDE_GEN = 0;
        us_g_chipAcqStatus = 0;
        setDetail(SYNCHRO_NONE);
        clear();
    }

    static void clear()
    {
        simboard::clearHistories();
        simboard::clearLog();
    }
    static void setDetail(TSynchroDetail d)
    {
        pthread_mutex_lock(&o_g_synchroAcqMutex);
        o_g_synchroAcqDetail = d;
        pthread_mutex_unlock(&o_g_synchroAcqMutex);
    }
    static TSynchroDetail detail()
    {
        pthread_mutex_lock(&o_g_synchroAcqMutex);
        const TSynchroDetail d = o_g_synchroAcqDetail;
        pthread_mutex_unlock(&o_g_synchroAcqMutex);
        return d;
    }

    // The driver's two one-shot timers, as the opening creates them.
    static void createTimers()
    {
        auto make = [](timer_t* t, void (*cb)(union sigval)) {
            sigevent ev{};
            ev.sigev_notify = SIGEV_THREAD;
            ev.sigev_notify_function = cb;
            ASSERT_EQ(timer_create(CLOCK_MONOTONIC, &ev, t), 0);
        };
        make(&o_g_chipAcqDevDescriptor.autoTimer, ChipAcqTimerAuto);
        make(&o_g_chipAcqDevDescriptor.frequencemeterTimer, ChipAcqTimerFrequencemeter);
    }
};

TEST_F(DriverCmdTest, CommonPartWithANullRecordProgramsNothingElse)
{
    pseudoFPGA_CMDE_GEN = 0x62 | 0x80;
    pseudoRC = 0x500 | 0x80;
    pseudoRC_bwl[2] = 0x8;
    pseudo_FqPr[1][3] = 77;
    pseudoFPGA_IRQ4_MASK = 0x1FF2F;
    TChipAcqDevDescriptor& d = o_g_chipAcqDevDescriptor;
    d.autoTriggered = d.previousAutoTriggered = 1;
    d.delaySamples = 12;
    d.autoTimeoutFirst = d.autoTimeoutNext = 1;

    EXPECT_EQ(ChipAcqIoctl(CHIPACQ_SCOPE, nullptr), 0);

    const std::vector<Sent> expected = {
        {1, 0xC1, 0x21}, {2, 0xC1, 0x21}, {4, 0xC1, 0x21}, {8, 0xC1, 0x21},
        {1, 0x90, 0x80}, {2, 0x90, 0x80}, {4, 0x90, 0x88}, {8, 0x90, 0x80},
        {1, 0xC1, 0x22}, {2, 0xC1, 0x22}, {4, 0xC1, 0x22}, {8, 0xC1, 0x22},
    };
    EXPECT_EQ(sent(), expected);
    for (int reg : {40, 36, 8})
        EXPECT_EQ(spiWrites(reg), std::vector<uint32_t>{0}) << reg;
    EXPECT_EQ(spiWrites(64), std::vector<uint32_t>{1});
    EXPECT_EQ(spiWrites(0), std::vector<uint32_t>{0x81});
    EXPECT_EQ(pseudoFPGA_IRQ4_MASK, 0u);
    EXPECT_EQ(pseudo_FqPr[1][3], 0);
    EXPECT_EQ(d.autoTriggered, 0);
    EXPECT_EQ(d.previousAutoTriggered, 0);
    EXPECT_EQ(d.delaySamples, 0);
    EXPECT_EQ(d.autoTimeoutFirst, 500000000);
    EXPECT_EQ(d.autoTimeoutNext, 80000000);
    EXPECT_EQ(pseudoParamTrigger_Aux, 19);
}

TEST_F(DriverCmdTest, EveryCommandDisarmsTheAutoTriggerTimer)
{
    createTimers();
    acq_ctrl c = scopeRecord();
    for (int32_t command : {0, 1, 2, 3, 5, 6, 8, 10, 12, 99}) {
        SCOPED_TRACE(command);
        itimerspec later{};
        later.it_value.tv_sec = 10;
        ASSERT_EQ(timer_settime(o_g_chipAcqDevDescriptor.autoTimer, 0, &later, nullptr), 0);
        o_g_chipAcqDevDescriptor.autoTimerArmed = 1;
        if (command == 1 || command == 3 || command == 8)
            ioctlLocked(command, &c);
        else
            ChipAcqIoctl(command, &c);
        const itimerspec now = timerState(o_g_chipAcqDevDescriptor.autoTimer);
        EXPECT_EQ(now.it_value.tv_sec + now.it_value.tv_nsec, 0);
        EXPECT_EQ(o_g_chipAcqDevDescriptor.autoTimerArmed, 0);
    }
}

TEST_F(DriverCmdTest, HoldoffRangesAndTriggerBlocks)
{
    struct Row {
        const char* what;
        uint32_t holdoff;
        uint16_t type;
        std::vector<Sent> blocks;  // after the common part
    };
    // Channels 1 and 2 acquired, source channel 1 (mask 1), qualifier channel 3 (mask 4).
    const Row rows[] = {
        {"range 0 edge", 15000, 0,
         {{2, 0xC7, 3}, {1, 0xC6, 10201}, {1, 0xC2, 9445}, {1, 0xC2, 9461}, {1, 0xC7, 1}}},
        {"range 1 edge", 15001, 0,
         {{2, 0xC7, 3}, {1, 0xC6, 637}, {1, 0xC2, 9445}, {1, 0xC2, 9461}, {1, 0xC7, 5}}},
        {"below the offset: count 0", 3, 0,
         {{2, 0xC7, 3}, {1, 0xC6, 0}, {1, 0xC2, 9445}, {1, 0xC2, 9461}, {1, 0xC7, 1}}},
        {"above the last bound: last range", 3000000000u, 0,
         {{2, 0xC7, 3}, {1, 0xC6, 2861 ^ (2861 >> 1)}, {1, 0xC2, 9445}, {1, 0xC2, 9461}, {1, 0xC7, 21}}},
        {"pulse width", 15001, 1, {{2, 0xC7, 3}, {1, 0xC2, 9969}, {1, 0xC7, 0}}},
        {"delay with its qualifier", 15001, 2,
         {{2, 0xC7, 3}, {4, 0xC7, 5}, {4, 0xC6, 637}, {4, 0xC2, 9316}, {4, 0xC2, 9332}, {1, 0xC2, 9461}, {1, 0xC7, 5}}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        acq_ctrl c = scopeRecord();
        c.cycleChannels = 3;
        c.qualifierSource = 2;
        c.holdoff = row.holdoff;
        c.triggerType = row.type;
        clear();
        ChipAcqIoctl(CHIPACQ_SCOPE, &c);
        const std::vector<Sent> all = sent();
        ASSERT_GE(all.size(), 12u);
        EXPECT_EQ(std::vector<Sent>(all.begin() + 12, all.end()), row.blocks);
        EXPECT_EQ(pseudoOn_Off_Blocs_Qualifier, row.type == 2 ? 9332 : 0x2000);
    }
    // Example: the data word of hold-off 15000 is Gray(14993) << 1.
    acq_ctrl c = scopeRecord();
    clear();
    ChipAcqIoctl(CHIPACQ_SCOPE, &c);
    const auto words = simboard::serialCommands();
    bool found = false;
    for (const simboard::TSerialCommand& w : words)
        if (w.opcode == 0xC6)
            found = w.data == 20402;
    EXPECT_TRUE(found);
}

TEST_F(DriverCmdTest, TimeBaseBranches)
{
    struct Row {
        uint16_t timeBase;
        std::vector<uint32_t> divider;
        std::vector<uint32_t> slowClock;  // SPI 68 writes
        uint32_t bdt;
    };
    const Row rows[] = {
        {15, {0, 49}, {}, 49},        // fast: truncated, not 50
        {0, {0, 0}, {}, 0},           // a negative divider is 0
        {24, {7, 16383}, {9}, 0x1FFFF},
        {20, {0, 500}, {3}, 500},     // middle: the clock of index 23
        {18, {0, 500}, {3}, 500},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.timeBase);
        acq_ctrl c = scopeRecord();
        c.timeBase = row.timeBase;
        clear();
        ioctlLocked(CHIPACQ_TIMEBASE, &c);
        EXPECT_EQ(valuesOf(0x89), row.divider);
        for (const Sent& s : sentWith(0x89))
            EXPECT_EQ(s.mask, 1);
        EXPECT_EQ(spiWrites(68), row.slowClock);
        EXPECT_EQ(pseudoBDT, row.bdt);
    }
    EXPECT_EQ(AcqHandshakeMisuse().setupsWithoutMutex, 0u);
}

TEST_F(DriverCmdTest, PreAndPostTriggerWords)
{
    struct Row {
        const char* what;
        uint16_t timeBase;
        uint16_t flags;
        uint32_t pre, post;
        int32_t pretrig, posttrig;
        uint32_t preWord;  // binary word whose Gray code goes out with 0xC4
        int32_t delaySamples;
    };
    const Row rows[] = {
        {"fast, the example", 15, 0x20, 50000, 50000, 1252, 1249, 8752, 0},
        // 0.003 / (s x 40 x D) with the single-precision scale of index 8 is just below 375000.
        {"fast below index 11", 8, 0x20, 1000, 1000, 15, 0, 375014, 0},
        {"middle", 20, 0x90, 50001, 50000, 6875, 6250, 6875, 0},
        {"middle without both bits", 20, 0x80, 1, 100000, 40001, 100000, 40001, 10},
        {"slow", 24, 0x80, 1, 99990, 2001, 99990, 2001, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        acq_ctrl c = scopeRecord();
        c.timeBase = row.timeBase;
        c.acqFlags = row.flags;
        c.preTrigger = row.pre;
        c.postTrigger = row.post;
        clear();
        ioctlLocked(CHIPACQ_TIMEBASE, &c);
        EXPECT_EQ(pseudoPretrig, row.pretrig);
        EXPECT_EQ(pseudoPostrig, row.posttrig);
        const uint32_t gPre = row.preWord ^ (row.preWord >> 1);
        const uint32_t gPost = uint32_t(row.posttrig) ^ (uint32_t(row.posttrig) >> 1);
        EXPECT_EQ(valuesOf(0xC4), (std::vector<uint32_t>{gPre >> 14, gPre & 0x3FFF}));
        EXPECT_EQ(valuesOf(0xC5), (std::vector<uint32_t>{gPost >> 14, gPost & 0x3FFF}));
        EXPECT_EQ(o_g_chipAcqDevDescriptor.delaySamples, row.delaySamples);
    }
    // The framing words of the example: Gray(8752) = 13096, Gray(1249) = 1681.
    acq_ctrl c = scopeRecord();
    c.cycleChannels = 3;
    clear();
    ioctlLocked(CHIPACQ_TIMEBASE, &c);
    EXPECT_EQ(valuesOf(0xC4), (std::vector<uint32_t>{0, 13096}));
    EXPECT_EQ(valuesOf(0xC5), (std::vector<uint32_t>{0, 1681}));
    EXPECT_EQ(sentWith(0xCD), (std::vector<Sent>{{3, 0xCD, 8}, {1, 0xCD, 12}}));
    EXPECT_EQ(sentWith(0xCE), (std::vector<Sent>{{3, 0xCE, 3}}));
}

TEST_F(DriverCmdTest, TriggerWordsByType)
{
    struct Row {
        const char* what;
        uint16_t type;
        uint16_t qualifierSource;
        std::vector<Sent> words;  // opcodes 0xC2, 0xC9-0xCC, 0xD1 to the source (mask 1)
        uint32_t spi56;
    };
    const Row rows[] = {
        {"edge", 0, 3, {{1, 0xCA, 62}, {1, 0xCC, 3}}, 0},
        {"pulse width", 1, 3,
         {{1, 0xCA, 4 | 0 | (8 << 3)}, {1, 0xCC, 3}, {1, 0xC9, 1000 ^ 500}, {1, 0xD1, 1187 ^ 593}}, 0},
        {"delay", 2, 3,
         {{1, 0xCA, 62}, {1, 0xCC, 12}, {1, 0xC2, 9461}, {1, 0xCB, 1249 ^ 624}, {1, 0xC2, 9469}}, 48},
        {"events, qualifier 2", 3, 2,
         {{1, 0xCA, 62}, {1, 0xCC, 0}, {1, 0xC2, 9461}, {1, 0xCB, 8 ^ 4}, {1, 0xC2, 9469}}, 40},
        {"events, qualifier 1", 3, 1,
         {{1, 0xCA, 62}, {1, 0xCC, 0}, {1, 0xC2, 9461}, {1, 0xCB, 8 ^ 4}, {1, 0xC2, 9469}}, 36},
        {"events, other qualifier", 3, 5,
         {{1, 0xCA, 62}, {1, 0xCC, 0}, {1, 0xC2, 9461}, {1, 0xCB, 8 ^ 4}, {1, 0xC2, 9469}}, 34},
    };
    const uint16_t parameter[] = {0, 2, 14, 14};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        acq_ctrl c = scopeRecord();
        c.cycleChannels = 1;
        c.triggerSource = 0;
        c.triggerType = row.type;
        c.qualifierSource = row.qualifierSource;
        c.pulseCondition = 2;
        c.triggerT1 = 1000;
        c.triggerT2 = 20000;
        c.triggerDelay = 20000;
        c.triggerEventCount = 10;
        c.triggerEdge = 1;
        pseudoOn_Off_Blocs_Trigger = 9461;
        clear();
        ioctlLocked(CHIPACQ_TIMEBASE, &c);
        std::vector<Sent> words;
        for (const Sent& s : sent())
            if (s.mask == 1 && (s.opcode == 0xC2 || (s.opcode >= 0xC9 && s.opcode <= 0xCC) || s.opcode == 0xD1))
                words.push_back(s);
        EXPECT_EQ(words, row.words);
        EXPECT_EQ(pseudoParamTrigger_Main, parameter[row.type]);
        EXPECT_EQ(sentWith(0xC3).back(), (Sent{1, 0xC3, parameter[row.type]}));
        EXPECT_EQ(spiWrites(56), std::vector<uint32_t>{row.spi56});
    }
    // The pulse-width trigger forces a comparator transition on its source: edge 0, then 1.
    EXPECT_EQ(to_g_scalingParams[0][41], 0);
}

TEST_F(DriverCmdTest, AuxiliaryBlockSkipsTheTriggerAndQualifierChannels)
{
    acq_ctrl c = scopeRecord();
    c.cycleChannels = 0xF;
    c.triggerSource = 0;
    c.triggerType = 2;
    c.qualifierSource = 2;
    pseudoOn_Off_Blocs_Qualifier = 9332;
    clear();
    ioctlLocked(CHIPACQ_TIMEBASE, &c);
    const std::vector<Sent> expected = {{10, 0xC2, 9312}, {10, 0xCA, 62}, {10, 0xC3, 19}, {10, 0xCC, 3},
                                       {4, 0xC2, 9332}};
    std::vector<Sent> aux;
    for (const Sent& s : sent())
        if (s.mask == 10 || (s.mask == 4 && s.opcode == 0xC2))
            aux.push_back(s);
    EXPECT_EQ(aux, expected);
    EXPECT_EQ(ChipAcqTriggerChannels(&c), 0xF);
    c.acqMode = ACQ_MODE_METER;
    EXPECT_EQ(ChipAcqTriggerChannels(&c), 0);
    EXPECT_EQ(ChipAcqAuxChannels(&c), 0xF);
}

TEST_F(DriverCmdTest, MeterSetUpAndCounterStart)
{
    createTimers();
    struct Row {
        uint16_t timeBase;
        uint16_t flags;
        uint32_t slowClock;
        bool generalBit20;
        std::vector<uint32_t> counterWord;  // 0xCE values
        int32_t ready;
    };
    gammeIndex = 0;
    const Row rows[] = {
        {21, ACQ_FLAGS_METER, 39, false, {17}, 1},
        {21, ACQ_FLAGS_CAPACITANCE, 39, false, {13}, 1},
        {21, ACQ_FLAGS_CONTINUITY, 39, false, {}, 0},
        {35, ACQ_FLAGS_METER, 4, true, {}, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.timeBase);
        acq_ctrl c{};
        c.acqMode = ACQ_MODE_METER;
        c.cycleChannels = 1;
        c.timeBase = row.timeBase;
        c.acqFlags = row.flags;
        c.preTrigger = 100;
        c.postTrigger = 2500;
        o_g_frequenceMeterReady.store(5);
        clear();
        ioctlLocked(row.flags == ACQ_FLAGS_CAPACITANCE ? CHIPACQ_CAPACITANCE : CHIPACQ_METER, &c);
        EXPECT_EQ(spiWrites(68), std::vector<uint32_t>{row.slowClock});
        EXPECT_EQ((simboard::spiRegister(0) & 0x20) != 0, row.generalBit20);
        EXPECT_EQ(valuesOf(0x89), (std::vector<uint32_t>{7, 16383}));
        EXPECT_EQ(valuesOf(0xCE), row.counterWord);
        EXPECT_EQ(o_g_frequenceMeterReady.load(), row.ready);
        // The lengths go to the global controller: no trigger channels outside the scope modes.
        EXPECT_EQ(sentWith(0xC5), (std::vector<Sent>{{0, 0xC5, 0}, {0, 0xC5, 2500 ^ 1250}}));
        EXPECT_EQ(sentWith(0xC3), (std::vector<Sent>{{0, 0xC3, 21}}));
        if (row.ready == 1) {
            std::vector<Sent> init;
            for (const Sent& s : sentWith(0xC1))
                if (s.value == 0x20)
                    init.push_back(s);
            EXPECT_EQ(init.size(), 4u);
            EXPECT_EQ(spiWrites(32), std::vector<uint32_t>{0});
            const itimerspec armed = timerState(o_g_chipAcqDevDescriptor.frequencemeterTimer);
            EXPECT_GT(armed.it_value.tv_nsec, 200000000L);
            EXPECT_EQ(armed.it_interval.tv_nsec, 0);
            EXPECT_TRUE(waitFor([] { return o_g_frequenceMeterReady.load() == 2; }, 1000));
        }
    }
}

TEST_F(DriverCmdTest, HarmonicClockFromTheTrace)
{
    struct Row {
        const char* what;
        bool trace;
        double rate;        // set on the trace beforehand
        uint32_t slowClock; // k - 1
    };
    const Row rows[] = {
        {"no trace: 20,000 samples per second", false, 0.0, 624},
        {"40,000 per second", true, 40000.0, 312},
        {"above the clock: at least one unit", true, 1e9, 0},
    };
    TAcquisition trace(1);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        setupLinks().acqCh1 = row.trace ? &trace : nullptr;
        if (row.trace)
            trace.SetHarmonicSampleRate(row.rate);
        acq_ctrl c{};
        c.acqMode = ACQ_MODE_HARMONIC;
        c.acqFlags = ACQ_FLAGS_HARMONIC;
        c.cycleChannels = 1;
        c.preTrigger = 0;
        c.postTrigger = 25000;
        clear();
        ChipAcqIoctl(CHIPACQ_HARMONIC, &c);
        EXPECT_EQ(spiWrites(68), std::vector<uint32_t>{row.slowClock});
        EXPECT_NE(simboard::spiRegister(0) & 0x40, 0u);
        EXPECT_EQ(spiWrites(56), std::vector<uint32_t>{0});
        EXPECT_EQ(sentWith(0xC2), (std::vector<Sent>{{0, 0xC2, 9461}}));
        EXPECT_EQ(pseudoPostrig, 25000);
        if (row.trace) {
            EXPECT_DOUBLE_EQ(trace.GetHarmonicSamplingPeriod(), (row.slowClock + 1) * 8e-8);
        }
    }
    setupLinks().acqCh1 = nullptr;
}

TEST_F(DriverCmdTest, CalibrationClockHoldoffAndFraming)
{
    struct Row {
        uint16_t timeBase;
        uint16_t flags;
        std::vector<uint32_t> divider;
        std::vector<uint32_t> slowClock;
    };
    const Row rows[] = {
        {15, 0x20, {0, 19}, {}},          // 2e-8, not the scope's 8e-9
        {24, 0x80, {7, 16383}, {399}},    // (20000 + 0.1 - 1 - 49) / 50
        {10, 0x80, {7, 16383}, {0}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.timeBase);
        acq_ctrl c = scopeRecord();
        c.acqMode = ACQ_MODE_CALIBRATION;
        c.cycleChannels = 0xF;
        c.timeBase = row.timeBase;
        c.acqFlags = row.flags;
        c.holdoff = 15001;
        simboard::pokeSpiRegister(56, 1);
        clear();
        ChipAcqIoctl(CHIPACQ_CALIBRATION, &c);
        EXPECT_EQ(valuesOf(0x89), row.divider);
        EXPECT_EQ(spiWrites(68), row.slowClock);
        EXPECT_EQ(o_g_chipAcqDevDescriptor.autoTimeoutFirst, 80000000);
        EXPECT_EQ(o_g_chipAcqDevDescriptor.autoTimeoutNext, 80000000);
        // Range 1 without the subtraction of the scope: 15001 >> 4 = 937.
        EXPECT_EQ(sentWith(0xC6), (std::vector<Sent>{{0xF, 0xC6, 937 ^ 468}}));
        EXPECT_EQ(sentWith(0xC7), (std::vector<Sent>{{0xF, 0xC7, 5}}));
        EXPECT_EQ(valuesOf(0xC3), (std::vector<uint32_t>{19, 1}));
        // Mode 255 carries the scope bit: 12 goes to the trigger source alone.
        EXPECT_EQ(sentWith(0xCD), (std::vector<Sent>{{0xF, 0xCD, 8}, {1, 0xCD, 12}}));
        EXPECT_TRUE(spiWrites(56).empty());
    }
}

TEST_F(DriverCmdTest, AutosetTable)
{
    ChipAcqIoctl(CHIPACQ_AUTOSET, nullptr);
    const std::vector<Sent> all = sent();
    ASSERT_GE(all.size(), 8u);
    const std::vector<Sent> expected = {
        {15, 0x89, 7}, {15, 0x89, 16383}, {15, 0xC2, 9248}, {15, 0xC3, 19}, {15, 0xC6, 0},
        {15, 0xC7, 3}, {15, 0xC8, 0}, {15, 0xC9, 0}, {15, 0xD1, 0}, {15, 0xCA, 62},
        {15, 0xCB, 0}, {15, 0xCC, 3}, {15, 0xCD, 3}, {15, 0xCE, 3},
    };
    EXPECT_EQ(std::vector<Sent>(all.begin() + 8, all.end()), expected);
    EXPECT_EQ(spiWrites(56), std::vector<uint32_t>{0});
    EXPECT_EQ(pseudoBDT, 0x1FFFFu);
    EXPECT_EQ(pseudoOn_Off_Blocs_Qualifier, 9248);
    EXPECT_EQ(pseudoParamHO_Aux, 3);
}

TEST_F(DriverCmdTest, StopWakesTheReadersAndQuietStopDoesNot)
{
    struct Row {
        int32_t command;
        uint16_t status;
        uint32_t general;  // SPI 0 afterwards
        uint32_t detail;
    };
    const Row rows[] = {
        {CHIPACQ_STOP, ACQ_STATUS_STREAM_FPGA_END, 0x1, 8 | 4},
        {CHIPACQ_STOP, 0, 0x1, 8 | 4},
        {CHIPACQ_STOP_QUIET, ACQ_STATUS_STREAM_FPGA_END, 0x1, 8},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.command);
        pseudoFPGA_CMDE_GEN = 0x62;
        pseudoRC = 0x1E0;
        us_g_chipAcqStatus = row.status;
        setDetail(SYNCHRO_FAST_TIMEBASE);
        clear();
        // A reader waiting for a stop.
        std::atomic<bool> woken{false};
        std::thread reader([&] {
            if (row.command != CHIPACQ_STOP)
                return;
            pthread_mutex_lock(&o_g_synchroAcqMutex);
            while (!(o_g_synchroAcqDetail & SYNCHRO_STOP))
                pthread_cond_wait(&o_g_synchroAcqCond, &o_g_synchroAcqMutex);
            pthread_mutex_unlock(&o_g_synchroAcqMutex);
            woken = true;
        });
        EXPECT_EQ(ChipAcqIoctl(row.command, nullptr), 0);
        reader.join();
        EXPECT_EQ(woken.load(), row.command == CHIPACQ_STOP);
        EXPECT_EQ(detail(), row.detail);
        EXPECT_EQ(simboard::spiRegister(0), row.general);
        EXPECT_EQ(pseudoRC, 0x80);
        EXPECT_EQ(sentWith(0x90).back(), (Sent{8, 0x90, 0x80}));
        EXPECT_EQ(spiWrites(8).back(), 0u);
    }
}

TEST_F(DriverCmdTest, UnknownCommandClearsTheRelayBitsOfEveryChannel)
{
    pseudoRC = 0x400 | 0x40 | 0x20 | 0x80 | 0x1;
    pseudoRC_bwl[1] = 0x8;
    EXPECT_EQ(ChipAcqIoctl(99, nullptr), 0);
    EXPECT_EQ(pseudoRC, 0x81);
    const std::vector<Sent> relays = sentWith(0x90);
    ASSERT_EQ(relays.size(), 8u);
    EXPECT_EQ(std::vector<Sent>(relays.begin() + 4, relays.end()),
              (std::vector<Sent>{{1, 0x90, 0x81}, {2, 0x90, 0x89}, {4, 0x90, 0x81}, {8, 0x90, 0x81}}));
}

TEST_F(DriverCmdTest, CommandsThatNeedARecordOnlyRunTheCommonPartWithoutOne)
{
    for (int32_t command : {1, 2, 3, 5, 8}) {
        SCOPED_TRACE(command);
        clear();
        if (command == 1 || command == 3 || command == 8)
            EXPECT_EQ(ioctlLocked(command, nullptr), 0);
        else
            EXPECT_EQ(ChipAcqIoctl(command, nullptr), 0);
        EXPECT_EQ(sent().size(), 8u);
    }
}
