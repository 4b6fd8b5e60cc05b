// The simulated FPGA's configuration load: gpio145 edges, the stream byte count, gpio147, and an
// unconfigured FPGA that answers nothing.
#include "board/deviceio.h"
#include "board/sim/simboard.h"
#include "tests/board/test_sim_raw.h"
#include "tests/support/simfpgaboardtest.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <linux/spi/spidev.h>
#include <string>
#include <vector>

namespace {

using simboard::TFpgaState;
using simboard::TLogKind;

bool writeGpio(int line, const char* text)
{
    std::string path = "/sys/class/gpio/gpio" + std::to_string(line) + "/value";
    int fd = deviceIO().open(path.c_str(), O_WRONLY);
    if (fd < 0)
        return false;
    bool ok = deviceIO().write(fd, text, 1) == 1;
    deviceIO().close(fd);
    return ok;
}

std::string readGpio(int line)
{
    std::string path = "/sys/class/gpio/gpio" + std::to_string(line) + "/value";
    int fd = deviceIO().open(path.c_str(), O_RDONLY);
    char buf[8] = {};
    ssize_t n = fd >= 0 ? deviceIO().read(fd, buf, sizeof buf - 1) : -1;
    if (fd >= 0)
        deviceIO().close(fd);
    return n > 0 ? std::string(buf, static_cast<size_t>(n)) : "<none>";
}

// The driver's way: the reset pulse, then the stream in chunks on a write-only descriptor.
void resetPulse()
{
    ASSERT_TRUE(writeGpio(145, "1"));
    ASSERT_TRUE(writeGpio(145, "0"));
    ASSERT_TRUE(writeGpio(145, "1"));
}

void stream(const std::vector<size_t>& chunks)
{
    TDeviceIO& io = deviceIO();
    int fd = io.open("/dev/spidev1.0", O_WRONLY);
    ASSERT_GE(fd, 0);
    uint32_t hz = 50000000;
    io.ioctl(fd, SPI_IOC_WR_MAX_SPEED_HZ, &hz);
    std::vector<uint8_t> bytes(simboard::kConfigurationBytes + 16, 0x5A);
    for (size_t n : chunks)
        ASSERT_EQ(io.write(fd, bytes.data(), n), static_cast<ssize_t>(n));
    io.close(fd);
}

std::vector<size_t> imageChunks()
{
    std::vector<size_t> chunks(34, 4096);
    chunks.push_back(2860);
    return chunks;
}

class SimAcqUnconfigured : public SimFpgaBoardTest {
protected:
    SimAcqUnconfigured() { startConfigured_ = false; }
};

class SimAcqConfigured : public SimFpgaBoardTest {};

TEST_F(SimAcqUnconfigured, AnswersNothingUntilTheWholeImageIsLoaded)
{
    EXPECT_FALSE(simboard::fpgaConfigured());
    EXPECT_EQ(simboard::configuration().state, TFpgaState::WaitingForImage);
    EXPECT_EQ(readGpio(147), "0\n");

    // Nothing answers: reads give 0, writes and serial commands do nothing, no sample, no status.
    EXPECT_EQ(simtest::spiRead(99), 0u);
    ASSERT_TRUE(simtest::spiWrite(20, 0x200));
    EXPECT_EQ(simboard::spiRegister(20), 0u);
    EXPECT_TRUE(simboard::reg20History().empty());
    simtest::Window w;
    w.command(0x01, 0x090, 0x10);
    EXPECT_FALSE(simboard::channelDeviceCode(0, 0x10).written);
    EXPECT_TRUE(simboard::serialCommands().empty());
    simboard::TSample s{{1, 2, 3, 4}};
    EXPECT_EQ(simboard::pushSamples(&s, 1), 0u);
    simboard::latchStatus(0x1);
    EXPECT_EQ(simboard::status(), 0u);
    auto logged = simboard::log({TLogKind::SpiWrite, TLogKind::Serial});
    ASSERT_EQ(logged.size(), 2u);
    for (const auto& e : logged)
        EXPECT_NE(simboard::describe(e).find("FPGA not configured"), std::string::npos) << simboard::describe(e);

    // The load.
    resetPulse();
    EXPECT_EQ(simboard::configuration().resets, 1u);
    stream(imageChunks());
    simboard::TConfiguration c = simboard::configuration();
    EXPECT_TRUE(c.configured);
    EXPECT_EQ(c.state, TFpgaState::Configured);
    EXPECT_EQ(c.bytes, simboard::kConfigurationBytes);
    EXPECT_EQ(readGpio(147), "1\n");
    EXPECT_EQ(simtest::spiRead(99), 0x0312u);
    ASSERT_TRUE(simtest::spiWrite(20, 0x200));
    EXPECT_TRUE(simboard::reg20().lamp);

    std::vector<std::string> fpga;
    for (const auto& e : simboard::log({TLogKind::Fpga}))
        fpga.push_back(simboard::describe(e));
    EXPECT_EQ(fpga, (std::vector<std::string>{"fpga reset after 0 bytes", "fpga waiting for image after 0 bytes",
                                             "fpga configured after 142124 bytes"}));
}

TEST_F(SimAcqUnconfigured, ConfiguresExactlyAtTheImageLengthCountedFromTheLastReset)
{
    struct Case {
        const char* what;
        std::vector<size_t> before;   // stream before the reset pulse (lost)
        std::vector<size_t> after;    // stream after it
        bool neverConfigures;
        bool configured;
        uint64_t bytes;
    } cases[] = {
        {"the image", {}, imageChunks(), false, true, simboard::kConfigurationBytes},
        {"one byte short", {}, {4096 * 34, 2859}, false, false, simboard::kConfigurationBytes - 1},
        {"one chunk too many", {}, {4096 * 34, 2860, 6}, false, false, simboard::kConfigurationBytes + 6},
        {"bytes before the pulse do not count", {4096}, imageChunks(), false, true, simboard::kConfigurationBytes},
        {"frames of 5 bytes are not stream", {}, {5, 4096 * 34, 2860}, false, true, simboard::kConfigurationBytes},
        {"fault: the load never configures", {}, imageChunks(), true, false, simboard::kConfigurationBytes},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        restartUnconfigured();
        simboard::setLoadNeverConfigures(k.neverConfigures);
        // A 5-byte write is a register frame, not stream: count it out of the strict check.
        simboard::setStrictCheck(simboard::TStrictCheck::SpiSettings, false);
        stream(k.before);
        resetPulse();
        stream(k.after);
        simboard::setStrictCheck(simboard::TStrictCheck::SpiSettings, true);
        EXPECT_EQ(simboard::fpgaConfigured(), k.configured);
        EXPECT_EQ(simboard::configurationBytes(), k.bytes);
        EXPECT_EQ(readGpio(147), k.configured ? "1\n" : "0\n");
    }
}

TEST_F(SimAcqUnconfigured, StreamWhileHeldInResetIsIgnored)
{
    ASSERT_TRUE(writeGpio(145, "0"));  // undriven counts as high: this is a falling edge
    EXPECT_EQ(simboard::configuration().state, TFpgaState::HeldInReset);
    stream({4096});
    EXPECT_EQ(simboard::configurationBytes(), 0u);
    auto entries = simboard::log({TLogKind::ConfigBytes});
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_NE(simboard::describe(entries[0]).find("held in reset"), std::string::npos);
    ASSERT_TRUE(writeGpio(145, "1"));
    stream(imageChunks());
    EXPECT_TRUE(simboard::fpgaConfigured());
}

TEST_F(SimAcqConfigured, PreconfiguredBoardKeepsItsConfigurationUntilAResetPulse)
{
    EXPECT_TRUE(simboard::fpgaConfigured());
    EXPECT_EQ(readGpio(147), "1\n");
    ASSERT_TRUE(writeGpio(145, "1"));  // a rising level alone changes nothing
    stream({4096});                    // stray stream: counted, ignored
    EXPECT_TRUE(simboard::fpgaConfigured());
    EXPECT_EQ(simboard::configurationBytes(), 4096u);

    // The reset pulse loses the configuration and every FPGA register.
    ASSERT_TRUE(simtest::spiWrite(86, 0x1234));
    ASSERT_TRUE(simtest::spiWrite(8, 0xF));
    simboard::TSample s{{1, 2, 3, 4}};
    ASSERT_EQ(simboard::pushSamples(&s, 1), 1u);
    resetPulse();
    EXPECT_FALSE(simboard::fpgaConfigured());
    EXPECT_EQ(readGpio(147), "0\n");
    stream(imageChunks());
    ASSERT_TRUE(simboard::fpgaConfigured());
    EXPECT_EQ(simtest::spiRead(86), 0u);
    EXPECT_EQ(simboard::interruptMask(), 0u);
    EXPECT_EQ(simboard::fifo().count, 0u);
}

TEST_F(SimAcqConfigured, PowerOnFollowsTheScenarioUnlessForced)
{
    struct Case {
        simboard::TPowerOn powerOn;
        bool scenarioPreconfigured;
        bool configured;
    } cases[] = {
        {simboard::TPowerOn::Scenario, false, false},
        {simboard::TPowerOn::Scenario, true, true},
        {simboard::TPowerOn::Configured, false, true},
        {simboard::TPowerOn::Unconfigured, true, false},
    };
    for (const Case& k : cases) {
        simboard::updateScenario([&](simboard::TScenario& s) { s.fpgaPreconfigured = k.scenarioPreconfigured; });
        simboard::setPowerOnConfiguration(k.powerOn);
        simboard::reset();
        EXPECT_EQ(simboard::fpgaConfigured(), k.configured)
            << static_cast<int>(k.powerOn) << " " << k.scenarioPreconfigured;
    }
}

} // namespace
