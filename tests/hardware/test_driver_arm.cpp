// Arming as the simulated board sees it: the equivalent-time and streaming sequences, the fixed
// flag words of the meter and harmonic acquisitions, the block-length read-back, the relay words
// by bandwidth variant, a pending stop and an absent board.
#include "tests/hardware/hwtest.h"
#include "tests/hardware/drvtest.h"

#include "acquisition/acqctrl.h"
#include "hardware/CmdesBase.h"
#include "hardware/chip_acq.h"

#include <algorithm>
#include <string>

namespace {
// SPI writes and reads and serial commands in order: "spi 8 = 0x1ff2f", "spi 99 ?",
// "serial 0x1 0x82 21" (value = data word >> 1).
std::vector<std::string> boardSequence()
{
    std::vector<std::string> out;
    char text[80];
    for (const auto& e : simboard::log({simboard::TLogKind::SpiWrite, simboard::TLogKind::SpiRead,
                                        simboard::TLogKind::Serial})) {
        if (e.kind == simboard::TLogKind::SpiWrite)
            std::snprintf(text, sizeof text, "spi %d = 0x%x", int(e.b), unsigned(e.c));
        else if (e.kind == simboard::TLogKind::SpiRead)
            std::snprintf(text, sizeof text, "spi %d ?", int(e.b));
        else
            std::snprintf(text, sizeof text, "serial 0x%x 0x%x %u", unsigned(e.a), unsigned(e.b), unsigned(e.c) >> 1);
        out.push_back(text);
    }
    return out;
}

std::vector<simboard::TSerialCommand> commandsWithOpcode(uint16_t opcode)
{
    std::vector<simboard::TSerialCommand> out;
    for (const auto& c : simboard::serialCommands())
        if (c.opcode == opcode)
            out.push_back(c);
    return out;
}

// Index of the first entry equal to text at or after from; -1 when absent.
int indexOf(const std::vector<std::string>& seq, const std::string& text, int from = 0)
{
    for (size_t i = static_cast<size_t>(std::max(from, 0)); i < seq.size(); ++i)
        if (seq[i] == text)
            return static_cast<int>(i);
    return -1;
}

uint32_t detailWord()
{
    pthread_mutex_lock(&o_g_synchroAcqMutex);
    const uint32_t d = o_g_synchroAcqDetail;
    pthread_mutex_unlock(&o_g_synchroAcqMutex);
    return d;
}

void setDetail(uint32_t value)
{
    pthread_mutex_lock(&o_g_synchroAcqMutex);
    o_g_synchroAcqDetail = static_cast<TSynchroDetail>(value);
    pthread_mutex_unlock(&o_g_synchroAcqMutex);
}

acq_ctrl scopeRecord(uint16_t timeBase, uint16_t flags)
{
    acq_ctrl c{};
    c.acqMode = 16;
    c.acqFlags = flags;
    c.timeBase = timeBase;
    c.cycleChannels = 0x1;
    c.triggerSource = 0;
    c.decimation = 1;
    return c;
}

acq_ctrl fixedRecord(uint16_t flags)
{
    acq_ctrl c{};
    c.acqMode = flags == ACQ_FLAGS_HARMONIC ? ACQ_MODE_HARMONIC : ACQ_MODE_METER;
    c.acqFlags = flags;
    c.timeBase = 21;
    c.cycleChannels = 0x1;
    c.decimation = 1;
    return c;
}
} // namespace

// The driver opened on the board (interrupt thread, timers), as the controller opens it.
class DriverArmTest : public HardwareTest {
protected:
    void SetUp() override
    {
        HardwareTest::SetUp();
        ASSERT_EQ(ChipAcqDrv(), 0);
        ASSERT_TRUE(ChipAcqBoardPresent());
        us_g_swBandwidth.store(3);
        // Arming is tested alone, without the set-up command that writes the post count.
        simboard::setStrictCheck(simboard::TStrictCheck::PostCountNeverWritten, false);
        setDetail(0);
        acqStateStore(0);
        simboard::clearLog();
        simboard::clearHistories();
    }
    void TearDown() override
    {
        us_g_swBandwidth.store(0);
        // Stop whatever runs, then let the interrupt thread end before the window goes.
        setDetail(SYNCHRO_STOP);
        simboard::shutdown();
        EXPECT_TRUE(waitFor([] { return threadsNamed("tItAcq") == 0; }));
        HardwareTest::TearDown();
    }
};

TEST_F(DriverArmTest, EquivalentTimeArmingAtTimeBase7)
{
    acq_ctrl c = scopeRecord(7, 0x20);
    ASSERT_EQ(ChipAcqWrite(&c), 0);

    // Block length 349525 in parts of 6 and 14 bits, committed by 0x83, to the trigger set.
    const auto lengths = commandsWithOpcode(0x082);
    ASSERT_GE(lengths.size(), 2u);
    EXPECT_EQ(lengths[0].mask, 0x1);
    EXPECT_EQ(lengths[0].data >> 1, 21);
    EXPECT_EQ(lengths[1].data >> 1, 5461);
    EXPECT_FALSE(commandsWithOpcode(0x083).empty());
    EXPECT_EQ(pseudoELV, 349525u);

    EXPECT_EQ(simboard::spiRegister(8), 0x1FF2Fu);
    EXPECT_EQ(simboard::eimWord(17), 4095);
    EXPECT_EQ(simboard::eimWord(16), 0x8000);

    const auto seq = boardSequence();
    // The mask goes out after the acknowledge cleared it, the start after the mask.
    const int maskOff = indexOf(seq, "spi 8 = 0x0");
    const int maskOn = indexOf(seq, "spi 8 = 0x1ff2f");
    const int start = indexOf(seq, "serial 0x1 0x97 0");
    EXPECT_GE(maskOff, 0);
    EXPECT_GT(maskOn, maskOff);
    EXPECT_GT(start, maskOn);
    // Fast time base: no streaming start, SPI 0 never gets bit 0x2.
    EXPECT_TRUE(commandsWithOpcode(0x080).empty());
    EXPECT_EQ(simboard::spiRegister(0) & 0x2, 0u);
    // The relay word: 0x2081 with 0x20 for the fast time base, the block branch; bit 0x8 pulsed.
    EXPECT_EQ(pseudoRC, 0x20A1);
    const auto relays = commandsWithOpcode(0x090);
    ASSERT_EQ(relays.size(), 16u);  // reset, the relay word, the pulse up and down
    EXPECT_EQ(relays[4].data >> 1, 0x20A1u);
    EXPECT_EQ(relays[8].data >> 1, 0x20A9u);
    EXPECT_EQ(relays[12].data >> 1, 0x20A1u);

    EXPECT_EQ(detailWord() & ~SYNCHRO_SAMPLES & ~SYNCHRO_END, uint32_t(SYNCHRO_FAST_TIMEBASE));
    EXPECT_EQ(acqStateLoad(), 1);
    EXPECT_EQ(pseudoMacroVernier, -1);
    EXPECT_EQ(o_g_chipAcqDevDescriptor.rearmChannels, 0x1);
    EXPECT_EQ(o_g_chipAcqDevDescriptor.stopChannels, 0);
    EXPECT_EQ(o_g_chipAcqDevDescriptor.autoTriggered, 0);
}

TEST_F(DriverArmTest, StreamingArmingSetsTheFifoMaskThenStarts)
{
    struct Row {
        const char* what;
        acq_ctrl ctrl;
        uint16_t status;        // driver status right after arming
        uint16_t streamGo;      // value of opcode 0x80
        uint16_t stopChannels;
    };
    acq_ctrl middle = scopeRecord(21, 0x90);
    middle.triggerSource = 1;
    acq_ctrl slow = scopeRecord(26, 0x80);
    const Row rows[] = {
        {"middle time base", middle, 0x20, 0x2, 0x3},
        {"slow time base", slow, 0x10, 0x1, 0x1},
        {"meter", fixedRecord(ACQ_FLAGS_METER), 0x50, 0, 0x1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        simboard::clearLog();
        acq_ctrl c = row.ctrl;
        ASSERT_EQ(ChipAcqWrite(&c), 0);
        pthread_mutex_lock(&o_g_synchroAcqMutex);
        const uint16_t status = us_g_chipAcqStatus & 0x70;
        pthread_mutex_unlock(&o_g_synchroAcqMutex);
        EXPECT_EQ(status, row.status);
        EXPECT_EQ(pseudoELV, 1u);
        EXPECT_EQ(o_g_chipAcqDevDescriptor.stopChannels, row.stopChannels);
        EXPECT_EQ(pseudoRC & 0x1A8, 0x188);  // streaming: 0x100 and 0x88, no 0x20

        const auto seq = boardSequence();
        const int mask = indexOf(seq, "spi 8 = 0x1ff6f");
        ASSERT_GE(mask, 0);
        EXPECT_EQ(indexOf(seq, "serial 0x1 0x82 0"), -1);  // no block length
        int go = -1;
        for (size_t i = static_cast<size_t>(mask); i < seq.size(); ++i)
            if (seq[i].rfind("spi 0 = ", 0) == 0 && (std::stoul(seq[i].substr(8), nullptr, 16) & 0x2)) {
                go = static_cast<int>(i);
                break;
            }
        ASSERT_GT(go, mask);
        char streamStart[40];
        const uint16_t set = (c.acqMode & 0x10) ? uint16_t(c.cycleChannels | (1u << c.triggerSource)) : 0;
        std::snprintf(streamStart, sizeof streamStart, "serial 0x%x 0x80 %u", set, row.streamGo);
        EXPECT_GT(indexOf(seq, streamStart, go), go);
        setDetail(0);
    }
}

TEST_F(DriverArmTest, FixedFlagWordsForceTheTriggerAfterTheStart)
{
    const uint16_t flagWords[] = {ACQ_FLAGS_HARMONIC, ACQ_FLAGS_METER, ACQ_FLAGS_CAPACITANCE, ACQ_FLAGS_CONTINUITY};
    for (uint16_t flags : flagWords) {
        SCOPED_TRACE(flags);
        simboard::clearLog();
        acq_ctrl c = fixedRecord(flags);
        ASSERT_EQ(ChipAcqWrite(&c), 0);
        const auto seq = boardSequence();
        // Outside the scope modes the trigger channel set is empty: the global controller.
        const int start = indexOf(seq, "serial 0x0 0x97 0");
        const int go = indexOf(seq, "serial 0x0 0x80 0", start);
        ASSERT_GT(start, 0);
        ASSERT_GT(go, start);
        const int read56 = indexOf(seq, "spi 56 ?", go);
        ASSERT_GT(read56, go);
        EXPECT_EQ(seq[read56 + 1], "spi 56 = 0x1");
        EXPECT_EQ(seq[read56 + 2], "spi 99 ?");
        EXPECT_EQ(seq[read56 + 3], "spi 56 = 0x0");
        EXPECT_EQ(o_g_chipAcqDevDescriptor.autoTriggered, 1);
        setDetail(0);
    }
    // A scope acquisition is not forced.
    simboard::clearLog();
    acq_ctrl scope = scopeRecord(21, 0x90);
    ASSERT_EQ(ChipAcqWrite(&scope), 0);
    EXPECT_EQ(indexOf(boardSequence(), "spi 99 ?"), -1);
    EXPECT_EQ(o_g_chipAcqDevDescriptor.autoTriggered, 0);
    EXPECT_EQ(o_g_chipAcqDevDescriptor.previousAutoTriggered, 1);  // the continuity forced one
}

TEST_F(DriverArmTest, BlockLengthReadBackRetriesAfterRecoveryWords)
{
    simboard::setElvReadBackLate(true);
    acq_ctrl c = scopeRecord(9, 0x20);
    c.cycleChannels = 0x5;  // channels 1 and 3
    ASSERT_EQ(ChipAcqWrite(&c), 0);
    EXPECT_EQ(commandsWithOpcode(0x083).size(), 2u);  // the second try matched
    const auto recover = commandsWithOpcode(0x0AD);
    const auto reads = commandsWithOpcode(0x185);
    ASSERT_EQ(reads.size(), 4u);
    EXPECT_EQ(reads[0].mask, 0x4);  // channel 3 first
    EXPECT_EQ(reads[1].mask, 0x1);
    EXPECT_EQ(reads[0].readBack, 0u);
    EXPECT_EQ(reads[2].readBack >> 4, 1025u);
    EXPECT_EQ(commandsWithOpcode(0x186).size(), 4u);
    EXPECT_EQ(commandsWithOpcode(0x0AC).size(), 1u);
    EXPECT_EQ(recover.size(), 2u);  // the recovery and step 9's
    EXPECT_EQ(recover[0].mask, 0x5);
}

TEST_F(DriverArmTest, RelayWordsByBandwidthVariantAndSensGroup)
{
    struct Row {
        uint16_t variant;
        uint16_t bwl[4];
        uint16_t second[4];
        uint32_t generalBits;
    };
    const Row rows[] = {
        {3, {0, 0, 6, 6}, {3, 3, 3, 3}, 0},
        {2, {0, 0, 6, 6}, {3, 3, 3, 3}, 0},
        {1, {2, 2, 6, 6}, {0, 0, 0, 0}, 0xF00},
        {4, {2, 2, 6, 6}, {0, 0, 0, 0}, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.variant);
        us_g_swBandwidth.store(row.variant);
        simboard::clearHistories();
        acq_ctrl c = scopeRecord(12, 0x20 | 0x4);  // min/max capture above index 10
        c.sensGroup[0] = 0;
        c.sensGroup[1] = 1;
        c.sensGroup[2] = 2;
        c.sensGroup[3] = 3;
        ASSERT_EQ(ChipAcqWrite(&c), 0);
        EXPECT_EQ(pseudoRC & 0x400, 0x400);
        const auto relays = commandsWithOpcode(0x090);
        const auto seconds = commandsWithOpcode(0x092);
        ASSERT_EQ(relays.size(), 8u);  // block length 1: bit 0x8 already set, no pulse
        ASSERT_EQ(seconds.size(), 4u);
        for (unsigned ch = 0; ch < 4; ++ch) {
            EXPECT_EQ(relays[4 + ch].mask, 1u << ch);
            EXPECT_EQ(relays[4 + ch].data >> 1, unsigned(pseudoRC | row.bwl[ch]));
            EXPECT_EQ(seconds[ch].mask, 1u << ch);
            EXPECT_EQ(seconds[ch].data >> 1, row.second[ch]);
        }
        EXPECT_EQ(simboard::spiRegister(0) & 0xF00, row.generalBits);
        setDetail(0);
    }
}

// The auto-trigger wait of the acquisition before carries on only when that one was stopped
// while its timer ran (a hold); a trigger or a control command (it disarms the timer) ends it.
TEST_F(DriverArmTest, ArmingCarriesOnOnlyAWaitAHoldBrokeOff)
{
    struct Row {
        const char* what;
        uint8_t timerArmed;
        uint8_t autoTriggered;
        bool carried;
    };
    const Row rows[] = {
        {"stopped while the timer ran", 1, 0, true},
        {"the timer had fired", 1, 1, false},
        {"no timer running (a trigger, a record, a control command)", 0, 0, false},
    };
    constexpr int64_t kDue = 123456789;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        TChipAcqDevDescriptor& d = o_g_chipAcqDevDescriptor;
        pthread_mutex_lock(&o_g_synchroAcqMutex);
        d.autoTimerArmed = row.timerArmed;
        d.autoTriggered = row.autoTriggered;
        d.autoDueNs = kDue;
        pthread_mutex_unlock(&o_g_synchroAcqMutex);
        acq_ctrl c = scopeRecord(21, 0x90);
        ASSERT_EQ(ChipAcqWrite(&c), 0);
        pthread_mutex_lock(&o_g_synchroAcqMutex);
        EXPECT_EQ(d.autoDueNs, row.carried ? kDue : 0);
        EXPECT_EQ(d.autoTimerArmed, 0);
        pthread_mutex_unlock(&o_g_synchroAcqMutex);
    }
    pthread_mutex_lock(&o_g_synchroAcqMutex);
    o_g_chipAcqDevDescriptor.autoDueNs = 0;
    pthread_mutex_unlock(&o_g_synchroAcqMutex);
}

TEST_F(DriverArmTest, PendingStopStillProgramsAndReturnsMinusOne)
{
    setDetail(SYNCHRO_STOP);
    acq_ctrl c = scopeRecord(7, 0x20);
    EXPECT_EQ(ChipAcqWrite(&c), -1);
    EXPECT_FALSE(commandsWithOpcode(0x097).empty());
    EXPECT_EQ(simboard::spiRegister(8), 0x1FF2Fu);
    // The stop stays for its resume.
    EXPECT_TRUE(detailWord() & SYNCHRO_STOP);
}

// Without ChipAcqDrv there is no board: nothing is programmed, the ring is reset.
class DriverArmAbsentTest : public HardwareTest {};

TEST_F(DriverArmAbsentTest, AbsentBoardReturnsMinusOneWithoutArming)
{
    ASSERT_FALSE(ChipAcqBoardPresent());
    l_g_signalsBufferWritePtr = 400;
    l_g_signalsBufferReadPtr = 200;
    setDetail(SYNCHRO_SAMPLES);
    simboard::clearLog();
    acq_ctrl c = scopeRecord(7, 0x20);
    EXPECT_EQ(ChipAcqWrite(&c), -1);
    EXPECT_TRUE(simboard::serialCommands().empty());
    EXPECT_TRUE(simboard::log({simboard::TLogKind::SpiWrite}).empty());
    EXPECT_EQ(detailWord(), uint32_t(SYNCHRO_FAST_TIMEBASE));
    EXPECT_EQ(l_g_signalsBufferWritePtr, 0);
    EXPECT_EQ(l_g_signalsBufferReadPtr, 0);
    EXPECT_EQ(l_g_nSamplesToThrow, 8);
}
