// The factory requests of the web service in process, on the simulated FPGA board: what reaches
// the channel devices and the front-end chips over the serial interface, what comes back, and
// what is handed to the controller for the calibration record.
#include "hardware/calibration.h"
#include "hardware/feserial.h"
#include "hardware/frequencemeter.h"
#include "hardware/scaling.h"
#include "tests/hardware/hwtest.h"
#include "tests/network/ws_handler_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct TEntry {
    int readCode, writeCode, width;
};
// The pipeline table as the calibration client knows it.
const TEntry kTable[19] = {
    {0x41, 0x41, 7},   {0x42, 0x42, 14},  {0x43, 0x43, 5},   {0x44, 0x44, -20}, {0x45, 0x45, -20},
    {0x46, 0x46, -14}, {0x47, 0x47, 5},   {0x48, 0x48, -12}, {0x49, 0x49, -14}, {0x4A, 0x4A, 6},
    {0x4B, 0x4B, -14}, {0x4C, 0x4C, 5},   {0x4E, 0x4E, 5},   {0x4F, 255, 24},   {0x50, 255, 24},
    {0x51, 0x51, -14}, {0x08, 0x09, 17},  {0x11, 0x10, 14},  {0x13, 0x12, 2},
};

std::string big32(uint32_t v)
{
    const char b[4] = {char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
    return std::string(b, 4);
}
uint32_t readBig32(const std::string& s, size_t at)
{
    const auto* b = reinterpret_cast<const unsigned char*>(s.data() + at);
    return (uint32_t{b[0]} << 24) | (uint32_t{b[1]} << 16) | (uint32_t{b[2]} << 8) | b[3];
}
uint32_t widthMask(int width)
{
    return (1u << (width < 0 ? -width : width)) - 1;
}

class WsFactory : public WsHandlersOn<HardwareTest> {
protected:
    void SetUp() override
    {
        WsHandlersOn<HardwareTest>::SetUp();
        // The closing command is the start opcode for all four channels: the factory sends it
        // whether or not an acquisition is armed.
        simboard::setStrictCheck(simboard::TStrictCheck::StartWithoutMask, false);
    }

    // Serial commands since the mark.
    std::vector<simboard::TSerialCommand> since(size_t mark) const
    {
        const auto all = simboard::serialCommands();
        return std::vector<simboard::TSerialCommand>(all.begin() + static_cast<long>(std::min(mark, all.size())),
                                                     all.end());
    }
    static size_t mark() { return simboard::serialCommands().size(); }

    static bool isClosing(const simboard::TSerialCommand& c) { return c.mask == 0xF && c.opcode == 0x097 && c.data == 0; }

    // The value written for entry i and channel ch by the test's block.
    static uint32_t sample(int i, int ch)
    {
        const uint32_t v = 0x9E3779B9u * static_cast<uint32_t>(i * 4 + ch + 1);
        if (i == 17)
            return v & ~0x80u;  // the relay word's hold bit stays clear
        return v;
    }
};

TEST_F(WsFactory, PipelineWriteThenReadReturnsTheFields)
{
    std::string block;
    for (int i = 0; i < 19; ++i)
        for (int ch = 0; ch < 4; ++ch) {
            uint32_t v = sample(i, ch);
            if (kTable[i].width < 0)
                v &= widthMask(kTable[i].width);  // Gray fields round trip within their width
            block += big32(v);
        }
    ASSERT_EQ(block.size(), 304u);
    TFpga::setSpiRegister(64, 0x1234);
    const size_t before = mark();
    EXPECT_EQ(reply("/pipeline?p1=" + block), "0,");
    EXPECT_EQ(simboard::spiRegister(64), 0u);

    // The writes: table order, channel by channel, wide fields in two parts, one closing command.
    std::vector<simboard::TSerialCommand> written = since(before);
    size_t at = 0;
    for (int i = 0; i < 19; ++i) {
        if (kTable[i].writeCode == 255)
            continue;
        for (int ch = 0; ch < 4; ++ch) {
            uint32_t d = readBig32(block, static_cast<size_t>(i * 4 + ch) * 4);
            if (kTable[i].width < 0)
                d = BinToGray(d);
            std::vector<uint16_t> words;
            if (std::abs(kTable[i].width) > 14)
                words = {uint16_t((d >> 13) & 0xFFFE), uint16_t((d & 0x3FFF) << 1)};
            else
                words = {uint16_t((d << 1) & 0xFFFF)};
            for (uint16_t w : words) {
                ASSERT_LT(at, written.size());
                EXPECT_EQ(written[at].mask, 1u << ch) << "entry " << i;
                EXPECT_EQ(written[at].opcode, kTable[i].writeCode + 0x80) << "entry " << i;
                EXPECT_EQ(written[at].data, w) << "entry " << i << " channel " << ch;
                ++at;
            }
        }
    }
    ASSERT_EQ(written.size(), at + 1);
    EXPECT_TRUE(isClosing(written.back()));
    EXPECT_EQ(at, 4u * (14 + 2 * 3));

    // The read: every entry of every channel, then one closing command.
    const size_t beforeRead = mark();
    const std::string r = reply("/pipeline");
    ASSERT_EQ(r.size(), 306u);
    EXPECT_EQ(r.compare(0, 2, "1,"), 0);
    const auto reads = since(beforeRead);
    ASSERT_EQ(reads.size(), 19u * 4 + 1);
    EXPECT_EQ(reads[4 * 16 + 2].opcode, 0x188);
    EXPECT_EQ(reads[4 * 16 + 2].mask, 4u);
    EXPECT_TRUE(isClosing(reads.back()));
    for (int i = 0; i < 19; ++i)
        for (int ch = 0; ch < 4; ++ch) {
            const uint32_t got = readBig32(r, 2 + static_cast<size_t>(i * 4 + ch) * 4);
            if (i == 13)
                continue;  // the frequency counter's reading
            const uint32_t expected = i == 14 ? 0x5A0000u + 0x1111u * static_cast<uint32_t>(ch + 1)
                                              : readBig32(block, static_cast<size_t>(i * 4 + ch) * 4) &
                                                    widthMask(kTable[i].width);
            EXPECT_EQ(got, expected) << "entry " << i << " channel " << ch;
        }
    EXPECT_FALSE(simboard::frontEnd(2).held());
}

TEST_F(WsFactory, GrayFieldIsDecodedAfterTheShift)
{
    // Raw Gray 0b11 in the 20-bit field of entry 3, channel 2, written as the client would.
    const uint16_t command = static_cast<uint16_t>(0x44 + 0x80 + (1u << 10));
    ASSERT_TRUE(feSerialAccess(0, command));
    ASSERT_TRUE(feSerialAccess(3 << 1, command));
    const std::string r = reply("/pipeline");
    ASSERT_EQ(r.size(), 306u);
    EXPECT_EQ(readBig32(r, 2 + (3 * 4 + 1) * 4), 2u);
}

TEST_F(WsFactory, ScalingWriteReachesTheChipAndReadsBack)
{
    for (int channel : {1, 3}) {
        std::string block;
        std::vector<uint16_t> words;
        for (int r = 0; r < kScalingRegisters; ++r) {
            const uint16_t w = static_cast<uint16_t>((0x2A5u * (r + 1) + channel) &
                                                     ((1u << (tuc_g_scalingRegisterTopBit[r] + 1)) - 1));
            words.push_back(w);
            block += char(w >> 8);
            block += char(w & 0xFF);
        }
        const std::string head = channel == 1 ? "/scaling?channel=1&p1=" : "/scaling?channel=3&p1=";
        const size_t before = mark();
        EXPECT_EQ(reply(head + block), "0,") << channel;
        EXPECT_TRUE(isClosing(since(before).back()));
        const simboard::TFrontEnd chip = simboard::frontEnd(channel - 1);
        for (int r = 0; r < kScalingRegisters; ++r)
            EXPECT_EQ(chip.registers[static_cast<size_t>(r)], words[static_cast<size_t>(r)]) << "register " << r;

        std::memset(tus_g_scalingPseudoReg[channel - 1], 0, sizeof tus_g_scalingPseudoReg[0]);
        const std::string r = reply(channel == 1 ? "/scaling" : "/scaling?channel=3");
        EXPECT_EQ(r, "1," + block) << channel;
    }
}

TEST_F(WsFactory, MalformedWritesChangeNothing)
{
    const std::string scaling(34, '\x11');
    const std::string pipeline(304, '\x22');
    struct Case {
        std::string datagram;
        std::string reply;
        size_t commands;  // serial commands sent
    };
    const Case cases[] = {
        {"/scaling?channel=0", "-1,", 0},
        {"/scaling?channel=5&p1=" + scaling, "-1,", 0},
        {"/scaling?channel=2&p1=" + scaling.substr(1), "0,", 0},
        {"/scaling?channel=2&p1=" + scaling + "x", "0,", 0},
        {"/scaling?p1=" + scaling + "&channel=2", "0,", 0},  // 56 bytes, p1 not where it belongs
        {"/pipeline?p1=" + pipeline.substr(1), "0,", 1},
        {"/pipeline?o=1&p1=" + pipeline.substr(4), "0,", 1},  // 317 bytes, p1 misplaced
    };
    for (const Case& c : cases) {
        TFpga::setSpiRegister(64, 0x77);
        const auto chip = simboard::frontEnd(1);
        const size_t before = mark();
        EXPECT_EQ(reply(c.datagram), c.reply) << c.datagram.substr(0, 20);
        const auto sent = since(before);
        ASSERT_EQ(sent.size(), c.commands) << c.datagram.substr(0, 20);
        if (c.commands == 1) {
            EXPECT_TRUE(isClosing(sent[0]));
        }
        EXPECT_EQ(simboard::spiRegister(64), 0x77u);
        EXPECT_EQ(simboard::frontEnd(1).registers, chip.registers);
    }
}

TEST_F(WsFactory, StuckSerialInterfaceAbandonsTheRequestWithinTheBound)
{
    simboard::setSerialBusy(-1);
    for (const char* datagram : {"/pipeline", "/scaling?channel=2"}) {
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(reply(datagram), "-1,") << datagram;
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3)) << datagram;
    }
    simboard::setSerialBusy(0);
    EXPECT_EQ(reply("/pipeline").size(), 306u);
}

TEST_F(WsFactory, SingleRegistersOnBothBuses)
{
    EXPECT_EQ(reply("/fpga?spi=64&p1=4294967295"), "0,");
    EXPECT_EQ(simboard::spiRegister(64), 0xFFFFFFFFu);
    EXPECT_EQ(reply("/fpga?spi=64"), "3,spi,64,4294967295,");
    EXPECT_EQ(reply("/fpga?eim=48&p1=7"), "0,");
    EXPECT_EQ(simboard::eimWord(48), 7u);
    EXPECT_EQ(reply("/fpga?eim=48"), "3,eim,48,7,");
    EXPECT_EQ(reply("/fpga?spi=99"), "3,spi,99," + std::to_string(simboard::spiRegister(99)) + ",");
    EXPECT_EQ(reply("/fpga?eim=40000"), "3,eim,-25536," + std::to_string(simboard::eimWord(40000)) + ",");
    EXPECT_EQ(reply("/fpga?spi=&p1=1"), "0,");  // no digits: register 0
    EXPECT_EQ(simboard::spiRegister(0), 1u);

    TFpga::setSpiRegister(64, 5);
    for (const char* refused : {"/fpga?spi=128", "/fpga?spi=-1", "/fpga?eim=65536", "/fpga?spi=64&p1=4294967296",
                                "/fpga?spi=99999999999999999999"}) {
        EXPECT_EQ(reply(refused), "-1,") << refused;
    }
    EXPECT_EQ(simboard::spiRegister(64), 5u);
}

class WsCalibration : public WsHandlers {
protected:
    void SetUp() override
    {
        WsHandlers::SetUp();
        saved_ = param_calibr;
        std::memcpy(&param_calibr, &CalibUsine, sizeof param_calibr);
        std::memcpy(param_calibr.modelName, "QV-LIVE", 8);
        std::memcpy(param_calibr.serialNumber, "LIVE-1", 7);
        calibrationStampChecksum(param_calibr);
    }
    void TearDown() override
    {
        param_calibr = saved_;
        WsHandlers::TearDown();
    }
    static std::string bytesOf(const calibration& c) { return std::string(reinterpret_cast<const char*>(&c), sizeof c); }

    // Another instrument's record, checksummed.
    static calibration other(uint8_t trim)
    {
        calibration c = param_calibr;
        std::memcpy(c.modelName, "OTHER", 6);
        std::memcpy(c.serialNumber, "SN-OTHER", 9);
        c.reserved116[3] = 0xAB;
        c.trimP21[1][2] = trim;
        setCalibrationMeterGain(c, 2, 9, 1.25f);
        calibrationStampChecksum(c);
        return c;
    }
    // The record the instrument installs from it: its own bytes 0-173, the rest from the block.
    static calibration installed(const calibration& block)
    {
        calibration c = block;
        std::memcpy(&c, &param_calibr, 174);
        calibrationStampChecksum(c);
        return c;
    }

    calibration saved_{};
};

TEST_F(WsCalibration, ReadsTheLiveRecordAsItIs)
{
    param_calibr.checksum ^= 1;  // in memory, whatever its state
    EXPECT_EQ(reply("/calibr"), "1," + bytesOf(param_calibr));
    EXPECT_EQ(reply("/calibration"), "1," + bytesOf(param_calibr));
    EXPECT_EQ(reply("/calibrX" + std::string(2422, 'z')), "1," + bytesOf(param_calibr));
    EXPECT_EQ(reply("/cflash"), "0,");
    EXPECT_TRUE(posted().empty());
}

TEST_F(WsCalibration, InstallKeepsTheInstrumentsIdentityAndEachPostItsOwnRecord)
{
    const calibration first = other(1);
    const calibration second = other(2);
    calibration damaged = other(3);
    damaged.trimP21[0][0] ^= 0x40;  // under the old checksum
    EXPECT_EQ(reply("/calibr?" + bytesOf(first)), "0,");
    EXPECT_EQ(reply("/calibr?" + bytesOf(damaged)), "0,");
    EXPECT_EQ(reply("/calibr?" + bytesOf(first).substr(1)), "0,");  // 2429 bytes
    EXPECT_EQ(reply("/cflash?" + bytesOf(second)), "0,");

    const std::vector<pipe_dial> records = posted();
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[0].code, param::calibrationWrite);
    EXPECT_EQ(records[1].code, param::calibrationWrite);
    EXPECT_EQ(records[2].code, param::calibrationSave);
    EXPECT_EQ(records[2].intValue, 0);
    EXPECT_NE(records[0].intValue, records[1].intValue);
    const calibration expectedFirst = installed(first);
    const calibration expectedSecond = installed(second);
    EXPECT_EQ(bytesOf(*reinterpret_cast<const calibration*>(records[0].intValue)), bytesOf(expectedFirst));
    EXPECT_EQ(bytesOf(*reinterpret_cast<const calibration*>(records[1].intValue)), bytesOf(expectedSecond));
    EXPECT_TRUE(calibrationChecksumValid(expectedFirst));
    EXPECT_EQ(std::memcmp(expectedFirst.modelName, "QV-LIVE", 8), 0);
    for (const pipe_dial& r : records) {
        EXPECT_EQ(r.kind, REQ_SET_PARAM);
        EXPECT_EQ(r.senderId, senderValue(tWEBSd_id));
    }
}

TEST_F(WsCalibration, RejectedFlashSavesNothing)
{
    calibration damaged = other(4);
    damaged.checksum ^= 0x100;
    EXPECT_EQ(reply("/cflash?" + bytesOf(damaged)), "0,");
    EXPECT_EQ(reply("/cflash?" + bytesOf(other(5)) + "x"), "0,");
    EXPECT_TRUE(posted().empty());
}

} // namespace
