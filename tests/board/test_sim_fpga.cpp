// The simulated FPGA: SPI register protocol, serial front-end interface and chips, I2C master,
// strict checks and faults, all driven by raw accesses through the seam.
#include "board/deviceio.h"
#include "board/sim/simboard.h"
#include "board/sim/simstate.h"
#include "tests/board/test_sim_raw.h"
#include "tests/support/simfpgaboardtest.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <numeric>
#include <vector>

namespace {

using simboard::TLogKind;
using simboard::TStrictCheck;

class SimFpga : public SimFpgaBoardTest {};

TEST_F(SimFpga, SpiRegistersStoreTheirLastWriteExceptTheModelledOnes)
{
    ASSERT_TRUE(simtest::spiWrite(86, 0xCAFEF00D));
    ASSERT_TRUE(simtest::spiWrite(4, 31));
    EXPECT_EQ(simtest::spiRead(86), 0xCAFEF00Du);
    EXPECT_EQ(simtest::spiRead(4), 31u);
    EXPECT_EQ(simtest::spiRead(7), 0u) << "never written";
    EXPECT_EQ(simboard::spiRegister(86), 0xCAFEF00Du);

    ASSERT_TRUE(simtest::spiWrite(99, 0x1111));
    EXPECT_EQ(simtest::spiRead(99), 0x0312u) << "the version comes from the scenario";
    simboard::updateScenario([](simboard::TScenario& s) { s.fpgaVersion = 0x0400; });
    EXPECT_EQ(simtest::spiRead(99), 0x0400u);

    // The frames as the log sees them: mode then speed for the write, speed then mode for the
    // read (the helper's order), every access closed.
    simboard::clearLog();
    ASSERT_TRUE(simtest::spiWrite(20, 0x00C00201));
    EXPECT_EQ(simtest::spiRead(20), 0x00C00201u);
    std::vector<std::string> lines;
    for (const auto& e : simboard::log()) {
        std::string d = simboard::describe(e);
        lines.push_back(d.substr(0, d.find(" fd=")));
    }
    std::vector<std::string> expected = {
        "open",   "spi set mode 1", "spi set speed 6250000", "spi write 20 = 0x00C00201 [94 01 02 C0 00]", "close",
        "open",   "spi set speed 6250000", "spi set mode 1", "spi read 20 = 0x00C00201 [14 01 02 C0 00]", "close",
    };
    ASSERT_EQ(lines.size(), expected.size());
    for (size_t i = 0; i < lines.size(); ++i)
        EXPECT_EQ(lines[i], expected[i]) << i;

    simboard::TReg20 r = simboard::reg20();
    EXPECT_EQ(r.channelPower, 1);
    EXPECT_TRUE(r.lamp);
    EXPECT_EQ(r.probeBus, 3);
    EXPECT_EQ(simboard::reg20History().back().value, 0x00C00201u);
}

TEST_F(SimFpga, Register20CountsBit24PulsesAndDecodesOverlappingFields)
{
    for (uint32_t v : {0x01000000u, 0u, 0x01000000u, 0x01000000u, 0u})
        ASSERT_TRUE(simtest::spiWrite(20, v));
    EXPECT_EQ(simboard::reg20().pulse24Count, 2u);

    ASSERT_TRUE(simtest::spiWrite(20, 0x001C3D5A));
    simboard::TReg20 r = simboard::reg20();
    EXPECT_EQ(r.channelPower, 0xA);
    EXPECT_EQ(r.channelPowerInverted, 0x5);
    EXPECT_TRUE(r.anyChannelPowered);
    EXPECT_FALSE(r.lamp);
    EXPECT_EQ(r.statusLamp, 3);
    EXPECT_EQ(r.selfTestLamps, 0xF);
    EXPECT_EQ(r.channelPowerCopy, 0x3);
    EXPECT_TRUE(r.bit18 && r.bit19 && r.bit20);
    EXPECT_EQ(r.probeBus, 0);
    EXPECT_EQ(simboard::reg20History().size(), 6u);
}

TEST_F(SimFpga, ConfigurationStreamIsCountedNotDecoded)
{
    TDeviceIO& io = deviceIO();
    int fd = io.open("/dev/spidev1.0", O_WRONLY);
    uint32_t speed = 50000000;
    io.ioctl(fd, SPI_IOC_WR_MAX_SPEED_HZ, &speed);
    std::vector<uint8_t> chunk(4096, 0xA5);
    chunk[0] = 0x94;  // looks like a register-20 frame, but is configuration data
    EXPECT_EQ(io.write(fd, chunk.data(), chunk.size()), 4096);
    EXPECT_EQ(io.write(fd, chunk.data(), 2860), 2860);
    io.close(fd);
    EXPECT_EQ(simboard::configurationBytes(), 4096u + 2860u);
    EXPECT_EQ(simboard::spiRegister(20), 0u);
    EXPECT_EQ(simboard::log({TLogKind::ConfigBytes}).size(), 2u);
}

TEST_F(SimFpga, FrontEndChipDecodesRawSerialCommandsWithItsOwnLayout)
{
    simtest::Window w;
    ASSERT_TRUE(w.ok());

    // Register 4 receiving 1 (data word 2, command 0x204) is parameter 18 = 512.
    w.command(0x01, 0x004, 1 << 1);
    simboard::TFrontEnd fe = simboard::frontEnd(0);
    EXPECT_EQ(fe.registers[4], 1);
    EXPECT_TRUE(fe.decoded[18]);
    EXPECT_EQ(fe.params[18], 512);
    EXPECT_EQ(simboard::frontEnd(1).registerWrites, 0u) << "only the addressed chip";

    struct Case {
        int reg;
        uint16_t value;
        std::vector<std::pair<int, uint16_t>> params;
    } cases[] = {
        {8, 1 << 2, {{23, 0}, {55, 0}, {24, 7}, {25, 0}}},         // reversed and inverted
        {8, 0, {{24, 15}}},                                          // inverted: all zeros is 15
        {0, 0x2001, {{1, 128}, {2, 0}, {49, 0}}},                    // bit 13 is the flag bit
        {14, 0x0540, {{63, 0}, {45, 2}, {46, 5}, {44, 0}}},          // fields from bit 2
        {16, 0x0F3F, {{30, 31}, {70, 4}, {71, 15}}},
        {2, 0x3800, {{12, 3}, {50, 1}, {8, 0}}},
    };
    for (const Case& c : cases) {
        w.command(0x02, static_cast<uint16_t>(c.reg), static_cast<uint16_t>(c.value << 1));
        fe = simboard::frontEnd(1);
        for (const auto& p : c.params)
            EXPECT_EQ(fe.params[p.first], p.second) << "register " << c.reg << " value " << c.value << " p" << p.first;
    }
    EXPECT_FALSE(fe.decoded[26]);
    EXPECT_FALSE(fe.decoded[42]);
    EXPECT_FALSE(fe.decoded[0]);

    // Read-back: left-aligned to bit 23 by the register's top bit.
    const int top[17] = {13, 13, 13, 13, 9, 13, 13, 13, 13, 9, 11, 11, 13, 11, 11, 13, 11};
    for (int r = 0; r < 17; ++r) {
        w.command(0x04, static_cast<uint16_t>(r), static_cast<uint16_t>((r + 1) << 1));
        w.command(0x04, static_cast<uint16_t>(0x100 + r), 0);
        EXPECT_EQ(w.readBack(), static_cast<uint32_t>(r + 1) << (23 - top[r])) << "register " << r;
    }
}

TEST_F(SimFpga, ChannelDeviceCodesRelayWordsAndTheGlobalController)
{
    simtest::Window w;
    w.command(0x7F, 0x0C1, 0x0042);    // initialisation word to all seven devices
    w.command(0x01, 0x090, 0x80 << 1); // relay word of channel 1: front end held
    w.command(0x08, 0x092, 0x0006);
    w.command(0x00, 0x0AC, 0x1234);    // no device: the global acquisition controller
    w.command(0x00, 0x0AD, 0x0010);

    simboard::TFrontEnd fe1 = simboard::frontEnd(0);
    EXPECT_TRUE(fe1.relayWordWritten);
    EXPECT_EQ(fe1.relayWord, 0x80);
    EXPECT_TRUE(fe1.held());
    EXPECT_EQ(fe1.initWord, 0x21);
    EXPECT_FALSE(simboard::frontEnd(1).held());
    EXPECT_EQ(simboard::frontEnd(3).relayWord2, 3);
    for (int d = 0; d < 7; ++d)
        EXPECT_EQ(simboard::channelDeviceCode(d, 0x41).data, 0x0042) << d;
    EXPECT_FALSE(simboard::channelDeviceCode(0, 0x2C).written) << "global commands reach no device";

    auto global = simboard::globalCommands();
    ASSERT_EQ(global.size(), 2u);
    EXPECT_EQ(global[0].opcode, 0x0AC);
    EXPECT_EQ(global[0].data, 0x1234);
    EXPECT_EQ(simboard::globalCommand(0x0AD).data, 0x0010);
    EXPECT_EQ(simboard::serialCommands().size(), 5u);

    w.command(0x01, 0x185, 0);  // channel-device reads answer 0 for now
    EXPECT_EQ(w.readBack(), 0u);
}

TEST_F(SimFpga, ExtensionsAddRegisterAndOpcodeHandlersAtEachReset)
{
    simboard::registerSimExtension("test", [](simboard::TSimBoard& b) {
        b.spiHandlers[16].read = [](simboard::TSimBoard& board, int) { return board.spi[8] & 0x1FF; };
        b.eimHandlers[18].read = [](simboard::TSimBoard&, uint32_t) -> uint16_t { return 7; };
        b.opcodeHandlers[0x181] = [](simboard::TSimBoard&, int device, uint16_t, uint16_t) -> uint32_t {
            return 0x100u + static_cast<uint32_t>(device);
        };
    });
    simboard::reset();
    simtest::spiWrite(8, 0xFFFF);
    EXPECT_EQ(simtest::spiRead(16), 0x1FFu);
    simtest::Window w;
    EXPECT_EQ(w.read(18), 7);
    w.command(0x04, 0x181, 0);
    EXPECT_EQ(w.readBack(), 0x102u) << "the first addressed device answers";
    w.command(0x01, 0x004, 2);
    EXPECT_EQ(simboard::frontEnd(0).params[18], 512) << "the core handlers stay";
}

TEST_F(SimFpga, SerialBusyFaultHoldsForAGivenNumberOfReadsOrForEver)
{
    simtest::Window w;
    simboard::setSerialBusy(3);
    EXPECT_EQ(w.read(50), 1);
    EXPECT_EQ(w.read(50), 1);
    EXPECT_EQ(w.read(50), 1);
    EXPECT_EQ(w.read(50), 0);
    w.command(0x01, 0x004, 2);
    EXPECT_EQ(simboard::frontEnd(0).registers[4], 1);

    simboard::setSerialBusy(-1);
    for (int i = 0; i < 1000; ++i)
        ASSERT_EQ(w.read(50), 1);
    simboard::setStrictCheck(TStrictCheck::SerialWhileBusy, false);  // the write under test
    w.command(0x01, 0x004, 4);
    EXPECT_EQ(simboard::frontEnd(0).registers[4], 1) << "a command written while busy is dropped";
    EXPECT_TRUE(simboard::serialCommands().back().dropped);
    simboard::clearFaults();
    EXPECT_EQ(w.read(50), 0);
}

// ---------------------------------------------------------------------------------------------
// I2C master, driven the way the FPGA expects it (select the bus in register 20 first).

constexpr uint32_t kBusy = 1u << 15, kDone = 1u << 14, kError = 1u << 12;

uint32_t conf(bool read, int address, uint32_t length)
{
    return (read ? 1u : 0u) | static_cast<uint32_t>(address) << 1 | 2u << 8 | 1u << 10 | (length - 1) << 16;
}

// One transfer of up to 512 bytes (read) or within one page (write); returns the status.
uint32_t transfer(bool read, int address, uint16_t offset, std::vector<uint8_t>* data, uint32_t length)
{
    simtest::spiWrite(121, offset);
    if (!read)
        for (uint32_t i = 0; i < length; ++i)
            simtest::spiWrite(124, (*data)[i]);
    simtest::spiWrite(120, conf(read, address, length));
    uint32_t status = simtest::spiRead(read ? 123 : 122);
    if (read && (status & kDone) && !(status & kError)) {
        data->resize(length);
        for (uint32_t i = 0; i < length; ++i)
            (*data)[i] = static_cast<uint8_t>(simtest::spiRead(125));
    }
    return status;
}

void selectProbeBus(int channel)
{
    simtest::spiWrite(20, static_cast<uint32_t>(channel) << 22);
}

TEST_F(SimFpga, ProbeMemoryRoundTripThroughRawSpiAccesses)
{
    std::vector<uint8_t> image(4904);
    std::iota(image.begin(), image.end(), 0);
    simboard::setProbeMemory(2, image);
    selectProbeBus(2);

    // A read across the memory: chunks of 512 as the product reads it.
    std::vector<uint8_t> all;
    for (uint32_t off = 0; off < 4904; off += 512) {
        std::vector<uint8_t> chunk;
        uint32_t n = std::min<uint32_t>(512, 4904 - off);
        ASSERT_EQ(transfer(true, 0x50, static_cast<uint16_t>(off), &chunk, n), kDone) << off;
        all.insert(all.end(), chunk.begin(), chunk.end());
    }
    EXPECT_EQ(all, image);

    // Writes of 4 bytes at 28 and 6 at 32 (page-aligned chunks) read back in order.
    std::vector<uint8_t> data = {1, 2, 3, 4};
    EXPECT_EQ(transfer(false, 0x50, 28, &data, 4), kDone);
    data = {5, 6, 7, 8, 9, 10};
    EXPECT_EQ(transfer(false, 0x50, 32, &data, 6), kDone);
    std::vector<uint8_t> back;
    ASSERT_EQ(transfer(true, 0x50, 28, &back, 10), kDone);
    EXPECT_EQ(back, (std::vector<uint8_t>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));

    // One write crossing the page wraps inside the page, like the real chip.
    data = {0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5};
    EXPECT_EQ(transfer(false, 0x50, 62, &data, 6), kDone);
    std::vector<uint8_t> mem = simboard::probeMemory(2);
    EXPECT_EQ(mem[62], 0xA0);
    EXPECT_EQ(mem[63], 0xA1);
    EXPECT_EQ(mem[32], 0xA2);
    EXPECT_EQ(mem[35], 0xA5);
    EXPECT_EQ(mem[64], 64) << "the next page is untouched";

    auto i2c = simboard::log({TLogKind::I2c});
    ASSERT_FALSE(i2c.empty());
    EXPECT_EQ(simboard::describe(i2c.back()), "i2c bus 2 address 0x50 write offset 62 length 6: ok");

    // Another bus has no probe: the error bit.
    selectProbeBus(1);
    EXPECT_EQ(transfer(true, 0x50, 0, &back, 4), kDone | kError);
    EXPECT_EQ(simboard::describe(simboard::log({TLogKind::I2c}).back()), "i2c bus 1 address 0x50 read offset 0 length 4: absent");
}

TEST_F(SimFpga, I2cFaultsNoAnswerAfterSomeTransfersAndStuckBusy)
{
    simboard::setProbeMemory(0, std::vector<uint8_t>(16, 0x11));
    selectProbeBus(0);
    simboard::setI2cNoAnswer(0, 0x50, 2);
    std::vector<uint8_t> back;
    EXPECT_EQ(transfer(true, 0x50, 0, &back, 4), kDone);
    EXPECT_EQ(transfer(true, 0x50, 4, &back, 4), kDone);
    EXPECT_EQ(transfer(true, 0x50, 8, &back, 4), kDone | kError);
    EXPECT_EQ(simboard::describe(simboard::log({TLogKind::I2c}).back()), "i2c bus 0 address 0x50 read offset 8 length 4: no answer");
    simboard::clearFaults();

    simboard::setI2cMasterBusy(true);
    EXPECT_EQ(simtest::spiRead(123) & kBusy, kBusy);
    EXPECT_EQ(transfer(true, 0x50, 0, &back, 4), kBusy);
    EXPECT_EQ(simtest::spiRead(122), kBusy);
    simboard::setI2cMasterBusy(false);
    EXPECT_EQ(transfer(true, 0x50, 0, &back, 4), kDone);
    EXPECT_EQ(back, std::vector<uint8_t>(4, 0x11));
}

// ---------------------------------------------------------------------------------------------
// Strict mode

TEST_F(SimFpga, StrictModeNamesEachKindOfViolationAndACleanRunHasNone)
{
    simtest::Window w;
    // A clean run of every kind of access.
    simtest::spiWrite(20, 5);
    simtest::spiRead(20);
    w.command(0x01, 0x090, 0);
    w.command(0x01, 0x004, 2);
    w.command(0x01, 0x090, 0x80 << 1);
    w.command(0x0F, 0x0C3, 2);
    w.command(0x00, 0x0AC, 1);
    w.readBack();
    ASSERT_EQ(violationText(), "");

    TDeviceIO& io = deviceIO();
    struct Case {
        TStrictCheck check;
        std::function<void()> run;
    } cases[] = {
        {TStrictCheck::UnknownOpcode, [&] { w.command(0x01, 0x0AE, 0); }},
        {TStrictCheck::SerialWhileBusy, [&] {
             simboard::setSerialBusy(1);
             w.write(48, 2);
             simboard::clearFaults();
         }},
        {TStrictCheck::FrontEndWhileHeld, [&] { w.command(0x01, 0x005, 2); }},  // relay word 0x80 from above
        {TStrictCheck::SpiWriteSize, [&] {
             int fd = io.open("/dev/spidev1.0", O_RDWR);
             uint8_t mode = SPI_MODE_1;
             uint32_t hz = simtest::kSpiHz;
             io.ioctl(fd, SPI_IOC_WR_MODE, &mode);
             io.ioctl(fd, SPI_IOC_WR_MAX_SPEED_HZ, &hz);
             uint8_t frame[4] = {0x94, 0, 0, 0};
             io.write(fd, frame, 4);
             io.close(fd);
         }},
        {TStrictCheck::SpiReadForm, [&] {
             int fd = io.open("/dev/spidev1.0", O_RDONLY);
             uint8_t mode = SPI_MODE_1;
             uint32_t hz = simtest::kSpiHz;
             io.ioctl(fd, SPI_IOC_WR_MODE, &mode);
             io.ioctl(fd, SPI_IOC_WR_MAX_SPEED_HZ, &hz);
             uint8_t tx[5] = {99, 0, 0, 0, 0}, rx[5] = {};
             struct spi_ioc_transfer t = {};
             t.tx_buf = reinterpret_cast<uintptr_t>(tx);
             t.rx_buf = reinterpret_cast<uintptr_t>(rx);
             t.len = 5;
             EXPECT_EQ(io.ioctl(fd, SPI_IOC_MESSAGE(1), &t), 5);
             EXPECT_EQ(rx[1] | rx[2] << 8, 0x0312) << "answered like the FPGA would";
             io.close(fd);
         }},
        {TStrictCheck::SpiSettings, [&] { simtest::spiWrite(20, 0, SPI_MODE_0); }},
        {TStrictCheck::SpiSettings, [&] { simtest::spiRead(20, SPI_MODE_1, 1000000); }},
    };
    for (const Case& c : cases) {
        simboard::clearViolations();
        c.run();
        auto v = simboard::violations();
        ASSERT_EQ(v.size(), 1u) << simboard::strictCheckName(c.check) << "\n" << violationText();
        EXPECT_EQ(v[0].check, c.check) << v[0].context;
        EXPECT_FALSE(v[0].context.empty());
    }
    simboard::clearViolations();

    // A check switched off stays quiet; strict mode off records nothing.
    simboard::setStrictCheck(TStrictCheck::UnknownOpcode, false);
    w.command(0x01, 0x0AE, 0);
    simboard::setStrict(false);
    simtest::spiWrite(20, 0, SPI_MODE_0);
    EXPECT_TRUE(simboard::violations().empty());
}

TEST_F(SimFpga, LogIsABoundedRingOfTheNewestEntries)
{
    simboard::setLogCapacity(12);
    for (int i = 0; i < 10; ++i)
        simtest::spiWrite(86, static_cast<uint32_t>(i));
    auto entries = simboard::log();
    ASSERT_EQ(entries.size(), 12u);
    for (size_t i = 1; i < entries.size(); ++i)
        EXPECT_EQ(entries[i].seq, entries[i - 1].seq + 1);
    auto writes = simboard::log({TLogKind::SpiWrite});
    ASSERT_EQ(writes.size(), 3u);  // 5 entries per access: the last 2 whole accesses and a part
    EXPECT_EQ(writes.back().c, 9);
    simboard::clearLog();
    EXPECT_TRUE(simboard::log().empty());
}

} // namespace
