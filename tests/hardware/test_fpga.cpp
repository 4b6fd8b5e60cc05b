// FPGA register access: SPI framing as the board sees it, shadows, refused ids, device failures
// and the EIM window.
#include "tests/hardware/hwtest.h"

#include "hardware/fpga.h"

#include <fcntl.h>
#include <string>

using simboard::TLogEntry;
using simboard::TLogKind;

namespace {
// The board's log of one access, reduced to what the protocol fixes.
std::string accessTrace(const std::vector<TLogEntry>& log)
{
    std::string out;
    for (const TLogEntry& e : log) {
        switch (e.kind) {
        case TLogKind::Open:
            out += "open " + e.text + ((e.b & O_ACCMODE) == O_WRONLY ? " w;" : (e.b & O_ACCMODE) == O_RDONLY ? " r;" : " rw;");
            break;
        case TLogKind::SpiMode: out += "mode " + std::to_string(e.b) + ";"; break;
        case TLogKind::SpiSpeed: out += "speed " + std::to_string(e.b) + ";"; break;
        case TLogKind::SpiWrite:
        case TLogKind::SpiRead: {
            out += e.kind == TLogKind::SpiWrite ? "write" : "read";
            char byte[8];
            for (int i = 0; i < e.byteCount; ++i) {
                std::snprintf(byte, sizeof byte, " %02x", e.bytes[i]);
                out += byte;
            }
            out += ";";
            break;
        }
        case TLogKind::Close: out += "close;"; break;
        default: out += "other;"; break;
        }
    }
    return out;
}
} // namespace

TEST_F(HardwareTest, SpiAccessesAreWholeOpenTransferCloseFramesLeastSignificantByteFirst)
{
    simboard::clearLog();
    EXPECT_EQ(TFpga::setSpiRegister(20, 0x0102A0B0), 0);
    EXPECT_EQ(accessTrace(simboard::log()),
              "open /dev/spidev1.0 w;mode 1;speed 6250000;write 94 b0 a0 02 01;close;");
    EXPECT_EQ(simboard::spiRegister(20), 0x0102A0B0u);

    simboard::pokeSpiRegister(86, 0xCAFE1234);
    simboard::clearLog();
    EXPECT_EQ(TFpga::getSpiRegister(86), 0xCAFE1234u);
    // Read: speed before mode, then one message of 1 byte out and 4 bytes in.
    EXPECT_EQ(accessTrace(simboard::log()), "open /dev/spidev1.0 r;speed 6250000;mode 1;read 56 34 12 fe ca;close;");

    // The version register answers from the scenario.
    EXPECT_EQ(TFpga::getSpiRegister(99), 0x0312u);
}

TEST_F(HardwareTest, ShadowPositionsFollowTheTables)
{
    // Every id sits at its own position; the Part's examples among them.
    for (int i = 0; i < TFpga::kSpiIds; ++i)
        EXPECT_EQ(TFpga::spiPosition(TFpga::tuc_l_indexToSpiReg[i]), i);
    for (int i = 0; i < TFpga::kEimIds; ++i)
        EXPECT_EQ(TFpga::eimPosition(TFpga::tuc_l_indexToEimReg[i]), i);
    EXPECT_EQ(TFpga::spiPosition(80), 0);
    EXPECT_EQ(TFpga::spiPosition(120), 36);
    EXPECT_EQ(TFpga::eimPosition(48), 22);
    EXPECT_EQ(TFpga::eimPosition(0), 0);
    EXPECT_EQ(TFpga::spiPosition(0), 19);
    EXPECT_EQ(TFpga::spiPosition(101), -1);
    EXPECT_EQ(TFpga::eimPosition(12), -1);

    // Reads and writes land in the shadow at that position.
    TFpga::setSpiRegister(120, 0x1234);
    EXPECT_EQ(TFpga::tuc_i_spiRegisters[36].load(), 0x1234u);
    simboard::pokeSpiRegister(86, 77);
    TFpga::getSpiRegister(86);
    EXPECT_EQ(TFpga::tuc_i_spiRegisters[TFpga::spiPosition(86)].load(), 77u);
    TFpga::setSpiRegister(80, 5);
    EXPECT_EQ(TFpga::tuc_i_spiRegisters[0].load(), 5u);
}

TEST_F(HardwareTest, IdsOutsideTheTablesUseTheBusWithoutAShadowAndIdsAbove127AreRefused)
{
    uint32_t before[TFpga::kSpiShadowSize];
    for (int i = 0; i < TFpga::kSpiShadowSize; ++i)
        before[i] = TFpga::tuc_i_spiRegisters[i].load();

    // Id 101 is in neither table: the bus is used, no shadow changes.
    EXPECT_EQ(TFpga::setSpiRegister(101, 0xABCD), 0);
    EXPECT_EQ(simboard::spiRegister(101), 0xABCDu);
    EXPECT_EQ(TFpga::getSpiRegister(101), 0xABCDu);
    for (int i = 0; i < TFpga::kSpiShadowSize; ++i)
        EXPECT_EQ(TFpga::tuc_i_spiRegisters[i].load(), before[i]) << i;

    // Above 127 the id would turn into the write flag: nothing reaches the bus.
    simboard::clearLog();
    EXPECT_LT(TFpga::setSpiRegister(128, 1), 0);
    EXPECT_LT(TFpga::setSpiRegister(0xFFFF, 1), 0);
    EXPECT_EQ(TFpga::getSpiRegister(0x94), 0u);
    EXPECT_TRUE(simboard::log().empty());
    EXPECT_EQ(simboard::spiRegister(20), 0u);
}

TEST_F(HardwareTest, SpiDeviceThatCannotBeOpened)
{
    TFpga::tuc_i_spiRegisters[TFpga::spiPosition(99)].store(0x77);
    simboard::setOpenFault("/dev/spidev1.0", ENODEV);
    // A read gives 0 and shadows it; a write keeps the value in the shadow and reports failure.
    EXPECT_EQ(TFpga::getSpiRegister(99), 0u);
    EXPECT_EQ(TFpga::tuc_i_spiRegisters[TFpga::spiPosition(99)].load(), 0u);
    EXPECT_LT(TFpga::setSpiRegister(20, 0x300), 0);
    EXPECT_EQ(TFpga::tuc_i_spiRegisters[TFpga::spiPosition(20)].load(), 0x300u);
    EXPECT_EQ(simboard::spiRegister(20), 0u);
    simboard::clearOpenFault("/dev/spidev1.0");
    EXPECT_EQ(TFpga::getSpiRegister(99), 0x0312u);
}

TEST_F(HardwareTest, EimWordsThroughTheWindowAndWithoutOne)
{
    // Low 16 bits on the bus, the whole value in the shadow.
    EXPECT_EQ(TFpga::setEimRegister(17, 0x12345), 0);
    EXPECT_EQ(simboard::eimWord(17), 0x2345);
    EXPECT_EQ(TFpga::tuc_i_eimRegisters[TFpga::eimPosition(17)].load(), 0x12345u);
    simboard::pokeEimWord(19, 0xBEEF);
    EXPECT_EQ(TFpga::getEimRegister(19), 0xBEEFu);
    EXPECT_EQ(TFpga::tuc_i_eimRegisters[TFpga::eimPosition(19)].load(), 0xBEEFu);
    // A word outside the table still reaches the window.
    EXPECT_EQ(TFpga::setEimRegister(40, 9), 0);
    EXPECT_EQ(simboard::eimWord(40), 9);

    // No window (not mapped yet, or /dev/uio0 missing): reads 0, writes do nothing, shadows follow.
    unmapWindow();
    EXPECT_EQ(TFpga::getEimRegister(19), 0u);
    EXPECT_EQ(TFpga::tuc_i_eimRegisters[TFpga::eimPosition(19)].load(), 0u);
    EXPECT_LT(TFpga::setEimRegister(17, 0x55), 0);
    EXPECT_EQ(TFpga::tuc_i_eimRegisters[TFpga::eimPosition(17)].load(), 0x55u);
    EXPECT_EQ(simboard::eimWord(17), 0x2345);
}

TEST_F(HardwareTest, ObjectCallsWorkOnTheSameClassWideTables)
{
    TFpga fpga;
    fpga.setSpiRegister(4, 31);
    TFpga other;
    EXPECT_EQ(other.getSpiRegister(4), 31u);
    EXPECT_EQ(TFpga::tuc_i_spiRegisters[TFpga::spiPosition(4)].load(), 31u);
    static_assert(sizeof(TFpga) == 1, "TFpga has no state of its own");
}
