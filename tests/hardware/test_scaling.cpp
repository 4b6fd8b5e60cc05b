// Front-end scaling registers, checked against the simulated chips, which decode every register
// with the board's own copy of the layout; and the serial helper under a busy interface and
// concurrent users.
#include "tests/hardware/hwtest.h"

#include "board/sim/simstate.h"
#include "hardware/CmdesBase.h"
#include "hardware/chip_acq.h"
#include "hardware/feserial.h"
#include "hardware/scaling.h"

#include <memory>
#include <random>
#include <thread>

using simboard::TLogEntry;

namespace {
// Width of each parameter's field as the simulated chip knows it (0: in no register).
std::array<int, kScalingParams> chipWidths()
{
    std::array<int, kScalingParams> w{};
    for (int r = 0; r < simboard::kChipRegisters; ++r)
        for (const simboard::TChipField& f : simboard::chipFields(r))
            if (f.param < kScalingParams)
                w[f.param] = f.width;
    return w;
}

uint16_t widthMask(int width)
{
    return static_cast<uint16_t>((1u << width) - 1);
}

struct TCommand {
    int mask, opcode, data;
    bool operator==(const TCommand& o) const { return mask == o.mask && opcode == o.opcode && data == o.data; }
};
std::ostream& operator<<(std::ostream& os, const TCommand& c)
{
    return os << "{mask " << c.mask << ", opcode 0x" << std::hex << c.opcode << ", data 0x" << c.data << std::dec << "}";
}

std::vector<TCommand> commands()
{
    std::vector<TCommand> out;
    for (const TLogEntry& e : simboard::log({simboard::TLogKind::Serial}))
        out.push_back({static_cast<int>(e.a), static_cast<int>(e.b), static_cast<int>(e.c)});
    return out;
}
} // namespace

class ScalingTest : public HardwareTest {
protected:
    void SetUp() override
    {
        HardwareTest::SetUp();
        ASSERT_EQ(ScalingInit(), 0);
        for (int ch = 0; ch < kScalingChannels; ++ch)
            ScalingLoadDefaults(SCALING_DEFAULTS_SCOPE, to_g_scalingParams[ch]);
        simboard::clearLog();
    }

    void randomise(uint16_t* set)
    {
        for (int p = 0; p < kScalingParams; ++p)
            set[p] = static_cast<uint16_t>(rng_());
    }

    std::mt19937 rng_{20240611};
};

TEST_F(ScalingTest, EveryParameterRoundTripsThroughTheChipLayout)
{
    const auto width = chipWidths();
    for (int round = 0; round < 3; ++round) {
        for (uint16_t ch = 0; ch < kScalingChannels; ++ch) {
            SCOPED_TRACE("round " + std::to_string(round) + " channel " + std::to_string(ch));
            uint16_t* set = to_g_scalingParams[ch];
            randomise(set);
            ASSERT_EQ(ScalingWrite(ch, set, 0, 3), 0);
            const simboard::TFrontEnd fe = simboard::frontEnd(ch);
            for (int p = 1; p < kScalingParams; ++p) {
                if (p == 26 || p == 42) {
                    EXPECT_FALSE(fe.decoded[p]) << p;
                    continue;
                }
                ASSERT_TRUE(fe.decoded[p]) << p;
                EXPECT_EQ(fe.params[p], set[p] & widthMask(width[p])) << "parameter " << p;
            }
            for (int r = 0; r < kScalingRegisters; ++r)
                EXPECT_EQ(fe.registers[r], tus_g_scalingPseudoReg[ch][r]) << "register " << r;
            EXPECT_TRUE(fe.held());
        }
    }

    // One parameter at a time: only that parameter's registers go out, the others stay.
    uint16_t* set = to_g_scalingParams[1];
    for (int16_t p = 1; p < kScalingParams; ++p) {
        SCOPED_TRACE(p);
        const simboard::TFrontEnd before = simboard::frontEnd(1);
        set[p] = static_cast<uint16_t>(rng_());
        ScalingWrite(1, set, p, 3);
        const simboard::TFrontEnd after = simboard::frontEnd(1);
        EXPECT_EQ(after.registerWrites - before.registerWrites, width[p] == 0 ? 0u : 1u);
        for (int q = 1; q < kScalingParams; ++q) {
            if (q == p && width[p] != 0)
                EXPECT_EQ(after.params[q], set[q] & widthMask(width[q]));
            else
                EXPECT_EQ(after.params[q], before.params[q]) << q;
        }
    }
}

TEST_F(ScalingTest, PackingExamples)
{
    uint16_t* set = to_g_scalingParams[0];
    // p18 = 512 mirrored in 10 bits is 1: one command, data word 2, command word 0x204; the chip
    // decodes p18 = 512 back.
    set[18] = 512;
    ScalingWrite(0, set, 18, 0);
    EXPECT_EQ(commands(), (std::vector<TCommand>{{1, 0x004, 2}}));
    EXPECT_EQ(simboard::eimWord(49), 0x204);
    EXPECT_EQ(simboard::frontEnd(0).registers[4], 1);
    EXPECT_EQ(simboard::frontEnd(0).params[18], 512);

    // p24 = 7: inverted (8) then mirrored in 4 bits (1): bit 2 of register 8 only.
    set[23] = set[55] = set[25] = 0;
    ScalingWrite(0, set, 0, 3);
    set[24] = 7;
    ScalingWrite(0, set, 24, 3);
    EXPECT_EQ(tus_g_scalingPseudoReg[0][8], 1u << 2);
    // A value wider than its field is cut by the mask.
    set[24] = 0x17;
    ScalingWrite(0, set, 24, 3);
    EXPECT_EQ(tus_g_scalingPseudoReg[0][8], 1u << 2);
    EXPECT_EQ(simboard::frontEnd(0).params[24], 7);
}

TEST_F(ScalingTest, RelayFlagSequences)
{
    pseudoRC = 0x2001;
    pseudoRC_bwl[1] = 0x10;
    pseudoRC_bwl[3] = 0x20;
    const auto relay = [](int bwl, bool held) { return ((0x2001 | bwl | (held ? 0x80 : 0)) << 1); };
    uint16_t* set = to_g_scalingParams[1];
    set[18] = 512;
    for (int r = 0; r < kScalingRegisters; ++r)
        tus_g_scalingPseudoReg[3][r] = static_cast<uint16_t>(0x100 + r);

    struct Row {
        const char* what;
        uint16_t channel;
        bool nullSet;
        int16_t parameter;
        uint16_t flags;
        std::vector<TCommand> expected;
    };
    std::vector<TCommand> shadowResend;
    for (int r = 0; r < kScalingRegisters; ++r)
        shadowResend.push_back({8, r, (0x100 + r) << 1});
    std::vector<TCommand> heldResend{{8, 0x090, relay(0x20, false)}};
    heldResend.insert(heldResend.end(), shadowResend.begin(), shadowResend.end());
    heldResend.push_back({8, 0x090, relay(0x20, true)});
    const Row rows[] = {
        {"hold before", 1, false, 18, 1, {{2, 0x090, relay(0x10, false)}, {2, 0x004, 2}}},
        {"release after", 1, false, 18, 2, {{2, 0x004, 2}, {2, 0x090, relay(0x10, true)}}},
        {"parameter 26 sends only the relay word", 1, false, 26, 3,
         {{2, 0x090, relay(0x10, false)}, {2, 0x090, relay(0x10, true)}}},
        {"parameter 42 likewise", 1, false, 42, 3, {{2, 0x090, relay(0x10, false)}, {2, 0x090, relay(0x10, true)}}},
        {"parameter 72 writes no register", 1, false, 72, 3,
         {{2, 0x090, relay(0x10, false)}, {2, 0x090, relay(0x10, true)}}},
        {"negative parameter writes no register", 1, false, -1, 3,
         {{2, 0x090, relay(0x10, false)}, {2, 0x090, relay(0x10, true)}}},
        {"parameter 26 without flags sends nothing", 1, false, 26, 0, {}},
        {"shadow resend needs no set", 3, true, 0, 4, shadowResend},
        {"the dispatcher's flags 7", 3, true, 0, 7, heldResend},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        simboard::clearLog();
        EXPECT_EQ(ScalingWrite(row.channel, row.nullSet ? nullptr : set, row.parameter, row.flags), 0);
        EXPECT_EQ(commands(), row.expected);
    }
    // The relay word's other bits are the driver's: only bit 7 moved.
    EXPECT_EQ(pseudoRC, 0x2081);

    // Refused: channel out of range, or a set that would have to be read but is missing.
    simboard::clearLog();
    EXPECT_EQ(ScalingWrite(4, set, 18, 3), -1);
    EXPECT_EQ(ScalingWrite(0, nullptr, 18, 3), -1);
    EXPECT_TRUE(commands().empty());
}

TEST_F(ScalingTest, TopBitFieldKeepsItsShadowBitAndIsNeverReadFromTheSet)
{
    const uint8_t withTopField[] = {0, 3, 5, 6, 10, 12, 13, 14, 15};
    for (uint8_t r : withTopField)
        tus_g_scalingPseudoReg[0][r] = static_cast<uint16_t>(1u << tuc_g_scalingRegisterTopBit[r]);

    // Exactly 72 values on the heap: a read of entry 128 would be caught by the sanitizer.
    std::unique_ptr<uint16_t[]> set(new uint16_t[kScalingParams]);
    ScalingLoadDefaults(SCALING_DEFAULTS_SCOPE, set.get());
    ASSERT_EQ(ScalingWrite(0, set.get(), 0, 3), 0);
    for (uint8_t r : withTopField)
        EXPECT_TRUE(simboard::frontEnd(0).registers[r] & (1u << tuc_g_scalingRegisterTopBit[r])) << int(r);

    ASSERT_EQ(ScalingInit(), 0);
    ASSERT_EQ(ScalingWrite(0, set.get(), 0, 3), 0);
    for (uint8_t r : withTopField)
        EXPECT_FALSE(simboard::frontEnd(0).registers[r] & (1u << tuc_g_scalingRegisterTopBit[r])) << int(r);
}

TEST_F(ScalingTest, ReadBackIsRightAlignedForEveryRegister)
{
    for (uint16_t ch = 0; ch < kScalingChannels; ++ch) {
        randomise(to_g_scalingParams[ch]);
        ScalingWrite(ch, to_g_scalingParams[ch], 0, 3);
    }
    for (int r : {0, 3, 5, 10})  // top-bit fields set as well
        tus_g_scalingPseudoReg[2][r] |= static_cast<uint16_t>(1u << tuc_g_scalingRegisterTopBit[r]);
    ScalingWrite(2, nullptr, 0, 7);

    for (uint16_t ch = 0; ch < kScalingChannels; ++ch) {
        SCOPED_TRACE(ch);
        uint16_t out[kScalingRegisters + 1];
        std::fill(std::begin(out), std::end(out), 0xEEEE);
        simboard::clearLog();
        ASSERT_EQ(ScalingRead(ch, out, 0, 3), 0);
        for (int r = 0; r < kScalingRegisters; ++r)
            EXPECT_EQ(out[r], tus_g_scalingPseudoReg[ch][r]) << "register " << r;
        EXPECT_EQ(out[kScalingRegisters], 0xEEEE);
        // Relay word, 17 reads, relay word.
        const auto log = serialLog();
        ASSERT_EQ(log.size(), 19u);
        EXPECT_EQ(log[1].b, 0x100);
        EXPECT_EQ(log[17].b, 0x110);
        // Register 4 (top bit 9) stands 14 bits up in the 24-bit read-back.
        EXPECT_EQ(log[5].d, static_cast<int64_t>(tus_g_scalingPseudoReg[ch][4]) << 14);
    }

    uint16_t one[2] = {0xEEEE, 0xEEEE};
    ASSERT_EQ(ScalingRead(1, one, 9, 0), 0);
    EXPECT_EQ(one[0], tus_g_scalingPseudoReg[1][9]);
    EXPECT_EQ(one[1], 0xEEEE);

    simboard::clearLog();
    EXPECT_EQ(ScalingRead(4, one, 1, 3), -1);
    EXPECT_EQ(ScalingRead(0, one, 17, 3), -1);
    EXPECT_EQ(ScalingRead(0, nullptr, 1, 3), -1);
    EXPECT_TRUE(commands().empty());
}

TEST_F(ScalingTest, DefaultSetsAndTables)
{
    struct Row {
        TScalingDefaultSet set;
        std::vector<std::pair<int, uint16_t>> values;  // a few characteristic entries
    };
    const Row rows[] = {
        {SCALING_DEFAULTS_SCOPE, {{0, 0xDEAD}, {1, 128}, {26, 47}, {38, 6}, {56, 31}, {66, 512}}},
        {SCALING_DEFAULTS_HARMONIC, {{1, 128}, {12, 1}, {40, 1}, {46, 3}}},
        {SCALING_DEFAULTS_CAPACITANCE, {{1, 64}, {15, 1}, {17, 1}, {26, 0}, {35, 1}, {38, 1}, {40, 0}}},
        {SCALING_DEFAULTS_METER, {{1, 64}, {14, 1}, {41, 1}, {46, 1}, {57, 1}}},
        {SCALING_DEFAULTS_CALIBRATION, {{34, 34}, {37, 6}, {39, 15}, {56, 0}, {71, 6}}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.set);
        uint16_t set[kScalingParams];
        ScalingLoadDefaults(row.set, set);
        for (const auto& v : row.values)
            EXPECT_EQ(set[v.first], v.second) << v.first;
    }

    // The two tables describe the same layout: every field's parameter lists its register, and
    // every listed register holds a field of the parameter.
    for (int p = 1; p < kScalingParams; ++p) {
        for (const uint8_t* r = scaling2Register[p]; *r != 255; ++r) {
            bool found = false;
            for (const TScalingField* f = scaling2RegisterDesc[*r]; f->mask != 0; ++f)
                found = found || f->parameter == p;
            EXPECT_TRUE(found) << "parameter " << p << " register " << int(*r);
        }
    }
    for (int r = 0; r < kScalingRegisters; ++r) {
        int top = 0;
        for (const TScalingField* f = scaling2RegisterDesc[r]; f->mask != 0; ++f) {
            top = std::max(top, f->position + 31 - __builtin_clz(f->mask));
            if (f->parameter == kScalingTopBitField)
                continue;
            bool listed = false;
            for (const uint8_t* x = scaling2Register[f->parameter]; *x != 255; ++x)
                listed = listed || *x == r;
            EXPECT_TRUE(listed) << "register " << r << " parameter " << f->parameter;
        }
        EXPECT_EQ(top, tuc_g_scalingRegisterTopBit[r]) << r;
        EXPECT_EQ(top, simboard::chipTopBit(r)) << r;
    }
}

TEST_F(ScalingTest, SerialHelperValueAndRawDataWords)
{
    EXPECT_TRUE(feSerialSendData(FE_ALL_DEVICES, 0xC1, 68));
    for (int d = 0; d < 7; ++d)
        EXPECT_EQ(simboard::channelDeviceCode(d, 0x41).data, 68) << d;
    EXPECT_TRUE(feSerialSend(FE_CHANNEL_2, 0xC1, 68));
    EXPECT_EQ(simboard::channelDeviceCode(1, 0x41).data, 136);
    EXPECT_EQ(simboard::channelDeviceCode(0, 0x41).data, 68);
    // Device mask 0 goes to the global acquisition controller.
    EXPECT_TRUE(feSerialSend(0, 0x82, 5));
    EXPECT_EQ(simboard::globalCommand(0x82).data, 10);
    EXPECT_TRUE(feSerialAccess(0x1234, feCommandWord(FE_CHANNEL_4, 0x84)));
    EXPECT_EQ(simboard::channelDeviceCode(3, 0x04).data, 0x1234);

    to_g_scalingParams[0][18] = 512;
    ScalingWrite(0, to_g_scalingParams[0], 18, 3);
    bool ok = false;
    EXPECT_EQ(feSerialQuery(FE_CHANNEL_1, 0x104, &ok), 1u << 14);
    EXPECT_TRUE(ok);
}

TEST_F(ScalingTest, BusyInterfaceIsAbandonedWithinTheBound)
{
    simboard::setSerialBusy(-1);
    simboard::clearLog();
    bool ok = true;
    EXPECT_LT(elapsedMs([&] { EXPECT_FALSE(feSerialSend(FE_CHANNEL_1, 0xC1, 1)); }), kFeBusyTimeoutMs + 40.0);
    EXPECT_GE(elapsedMs([&] { EXPECT_EQ(feSerialQuery(FE_CHANNEL_1, 0x104, &ok), 0u); }), kFeBusyTimeoutMs - 1.0);
    EXPECT_FALSE(ok);

    // A whole-channel write gives up command by command: 19 bounded waits at most, and says so.
    const uint32_t writes = simboard::frontEnd(0).registerWrites;
    const double ms = elapsedMs([] { EXPECT_EQ(ScalingWrite(0, to_g_scalingParams[0], 0, 3), -2); });
    EXPECT_LT(ms, 19 * (kFeBusyTimeoutMs + 25.0));
    EXPECT_EQ(simboard::frontEnd(0).registerWrites, writes);
    uint16_t out[kScalingRegisters];
    std::fill(std::begin(out), std::end(out), 0xEEEE);
    EXPECT_EQ(ScalingRead(0, out, 0, 0), -2);
    for (uint16_t v : out)
        EXPECT_EQ(v, 0);
    EXPECT_TRUE(commands().empty());

    // Busy a few reads past the quick polls: the command waits and goes out. (Few: each wait
    // may take milliseconds on a loaded host, and busy ends by reads here, not by time.)
    simboard::setSerialBusy(20);
    EXPECT_TRUE(feSerialSend(FE_CHANNEL_1, 0xC1, 3));
    EXPECT_EQ(simboard::channelDeviceCode(0, 0x41).data, 6);
    simboard::setSerialBusy(0);

    // No window mapped: refused at once.
    unmapWindow();
    EXPECT_LT(elapsedMs([] { EXPECT_FALSE(feSerialSend(FE_CHANNEL_1, 0xC1, 1)); }), 5.0);
}

TEST_F(ScalingTest, ConcurrentUsersNeverPairACommandWithAnothersData)
{
    constexpr int kWrites = 150;
    constexpr int kDriverCommands = 1500;
    std::thread scaling([this] {
        std::mt19937 rng(5);
        for (int i = 0; i < kWrites; ++i) {
            uint16_t* set = to_g_scalingParams[i % 2];
            for (int p = 0; p < kScalingParams; ++p)
                set[p] = static_cast<uint16_t>(rng());
            ScalingWrite(static_cast<uint16_t>(i % 2), set, static_cast<int16_t>(i % 3 == 0 ? 0 : i % 72), 3);
        }
    });
    std::thread reader([] {
        uint16_t out[kScalingRegisters];
        for (int i = 0; i < kWrites / 3; ++i)
            ScalingRead(2, out, 0, 0);
    });
    // Driver-style commands that take no scaling lock: initialisation words (data >= 0x8000)
    // and raw second relay words (odd data); register and relay data words are even and below
    // 0x8000.
    std::thread init([] {
        for (int i = 0; i < kDriverCommands; ++i)
            feSerialSend(FE_ALL_CHANNELS, 0xC1, static_cast<uint32_t>(0x4000 + i));
    });
    std::thread relay2([] {
        for (int i = 0; i < kDriverCommands; ++i)
            feSerialSendData(FE_ALL_CHANNELS, 0x92, static_cast<uint16_t>(2 * i + 1));
    });
    scaling.join();
    reader.join();
    init.join();
    relay2.join();

    int checked = 0;
    for (const TCommand& c : commands()) {
        if (c.opcode == 0xC1)
            EXPECT_GE(c.data, 0x8000) << c;
        else if (c.opcode == 0x92)
            EXPECT_EQ(c.data & 1, 1) << c;
        else if (c.opcode <= 0x10 || c.opcode == 0x90)
            EXPECT_TRUE((c.data & 1) == 0 && c.data < 0x8000) << c;
        else if (c.opcode >= 0x100 && c.opcode <= 0x110)
            EXPECT_EQ(c.data, 0) << c;
        else
            ADD_FAILURE() << "unexpected " << c;
        ++checked;
    }
    EXPECT_GT(checked, 2 * kDriverCommands);
    for (uint16_t ch = 0; ch < 2; ++ch)
        for (int r = 0; r < kScalingRegisters; ++r)
            EXPECT_EQ(simboard::frontEnd(ch).registers[r], tus_g_scalingPseudoReg[ch][r]) << ch << "/" << r;
    for (int d = 0; d < 4; ++d) {
        EXPECT_EQ(simboard::channelDeviceCode(d, 0x41).data, (0x4000 + kDriverCommands - 1) << 1 & 0xFFFF);
        EXPECT_EQ(simboard::channelDeviceCode(d, 0x12).data, 2 * (kDriverCommands - 1) + 1);
    }
}
