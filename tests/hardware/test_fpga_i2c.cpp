// The FPGA's I2C master driven through TFpga: chunking, a probe-memory round trip, devices that
// stop answering and a master that hangs.
#include "tests/hardware/hwtest.h"

#include "hardware/CmdesBase.h"
#include "hardware/fpga.h"

#include <numeric>
#include <utility>

using simboard::TLogEntry;
using simboard::TLogKind;

namespace {
constexpr int kProbeChannel = 2;
constexpr unsigned char kMemory = 0x50;

std::vector<uint8_t> pattern(size_t n, uint8_t seed)
{
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i)
        v[i] = static_cast<uint8_t>(seed + i * 7 + (i >> 8));
    return v;
}

// (direction, offset, length) of every transfer the master ran.
std::vector<std::tuple<int, int, int>> transfers()
{
    std::vector<std::tuple<int, int, int>> out;
    for (const TLogEntry& e : simboard::log({TLogKind::I2c}))
        out.emplace_back(static_cast<int>(e.c), static_cast<int>(e.d), static_cast<int>(e.e));
    return out;
}

// Passes everything to the simulated board, and makes the I2C master hang right after it was
// started (the done bit never comes).
class THangAfterStart : public TDeviceIO {
public:
    explicit THangAfterStart(TDeviceIO& inner) : inner_(inner) {}
    int open(const char* p, int flags, mode_t mode) override { return inner_.open(p, flags, mode); }
    int close(int fd) override { return inner_.close(fd); }
    ssize_t read(int fd, void* b, size_t n) override { return inner_.read(fd, b, n); }
    ssize_t write(int fd, const void* b, size_t n) override
    {
        const ssize_t r = inner_.write(fd, b, n);
        if (n == 5 && static_cast<const uint8_t*>(b)[0] == (FPGA_SPI_I2C_CONFIG | 0x80))
            simboard::setI2cMasterBusy(true);
        return r;
    }
    off_t lseek(int fd, off_t o, int w) override { return inner_.lseek(fd, o, w); }
    int ioctl(int fd, unsigned long rq, void* a) override { return inner_.ioctl(fd, rq, a); }
    int poll(struct pollfd* f, nfds_t n, int t) override { return inner_.poll(f, n, t); }
    TRegisterWindow* mapRegisterWindow(int fd, size_t l, off_t o) override { return inner_.mapRegisterWindow(fd, l, o); }
    int unmapRegisterWindow(TRegisterWindow* w) override { return inner_.unmapRegisterWindow(w); }
    void syncAll() override { inner_.syncAll(); }

private:
    TDeviceIO& inner_;
};
} // namespace

class I2cTest : public HardwareTest {
protected:
    void SetUp() override
    {
        HardwareTest::SetUp();
        image_ = pattern(simboard::kProbeMemorySize, 3);
        simboard::setProbeMemory(kProbeChannel, image_);
        CmdeLogique(CMDE_PROBE_I2C_SELECT, kProbeChannel);
        TFpga::i2cSetup(kMemory, 2, 1, 0);
        simboard::clearLog();
    }

    std::vector<uint8_t> image_;
};

TEST_F(I2cTest, SetupKeepsDirectionAndLength)
{
    TFpga::i2cconf = 0xFFFFFFFF;
    TFpga::i2cSetup(0x21, 0, 1, 0);
    // Bits 1-7 address, 8-9 address bytes, 10-11 mode, 12-15 cleared, 31 flag; 0 and 16-30 kept.
    EXPECT_EQ(TFpga::i2cconf, 0x7FFF0443u);
    TFpga::i2cSetup(kMemory, 2, 1, 1);
    EXPECT_EQ(TFpga::i2cconf, 0xFFFF06A1u);
}

TEST_F(I2cTest, TransfersAreChunkedAsTheMasterAllows)
{
    struct Row {
        bool read;
        uint16_t offset;
        uint32_t length;
        std::vector<std::tuple<int, int, int>> expected;
    };
    const Row rows[] = {
        {true, 800, 1000, {{1, 800, 512}, {1, 1312, 488}}},
        {true, 5, 512, {{1, 5, 512}}},
        {false, 32, 8, {{0, 32, 8}}},
        {false, 28, 10, {{0, 28, 4}, {0, 32, 6}}},
        {false, 64, 64, {{0, 64, 32}, {0, 96, 32}}},
        {false, 0, 70, {{0, 0, 32}, {0, 32, 32}, {0, 64, 6}}},
        {false, 31, 1, {{0, 31, 1}}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::to_string(row.offset) + "+" + std::to_string(row.length));
        simboard::clearLog();
        std::vector<uint8_t> buffer = row.read ? std::vector<uint8_t>(row.length) : pattern(row.length, 90);
        I2cfpga request{row.length, row.offset, buffer.data()};
        EXPECT_EQ(row.read ? TFpga::i2cRead(&request) : TFpga::i2cWrite(&request), 1);
        EXPECT_EQ(transfers(), row.expected);
        for (const TLogEntry& e : simboard::log({TLogKind::I2c})) {
            EXPECT_EQ(e.a, kProbeChannel);
            EXPECT_EQ(e.b, kMemory);
            EXPECT_EQ(e.text, "ok");
        }
        // The request counts up as chunks go.
        EXPECT_EQ(request.length, 0u);
        EXPECT_EQ(request.offset, row.offset + row.length);
        EXPECT_EQ(request.buffer, buffer.data() + row.length);
    }
}

TEST_F(I2cTest, WriteSequenceReadsTheConfigurationOnceBeforeTheBytes)
{
    uint8_t bytes[3] = {1, 2, 3};
    I2cfpga request{3, 40, bytes};
    ASSERT_EQ(TFpga::i2cWrite(&request), 1);
    std::vector<std::string> seq;
    for (const TLogEntry& e : simboard::log({TLogKind::SpiRead, TLogKind::SpiWrite}))
        seq.push_back((e.kind == TLogKind::SpiRead ? "r" : "w") + std::to_string(e.b));
    EXPECT_EQ(seq, (std::vector<std::string>{"r122", "w121", "r120", "w124", "w124", "w124", "w120", "r122", "r122"}));
}

TEST_F(I2cTest, MemoryRoundTripAcrossPageBoundaries)
{
    const std::vector<uint8_t> written = pattern(100, 200);
    std::vector<uint8_t> copy = written;
    I2cfpga w{100, 20, copy.data()};
    ASSERT_EQ(TFpga::i2cWrite(&w), 1);

    std::vector<uint8_t> expected = image_;
    std::copy(written.begin(), written.end(), expected.begin() + 20);
    EXPECT_EQ(simboard::probeMemory(kProbeChannel), expected);

    // Read back the whole probe region the program uses, over several 512-byte chunks.
    std::vector<uint8_t> back(4904);
    I2cfpga r{4904, 0, back.data()};
    ASSERT_EQ(TFpga::i2cRead(&r), 1);
    EXPECT_TRUE(std::equal(back.begin(), back.end(), expected.begin()));
}

TEST_F(I2cTest, DeviceThatStopsAnsweringFailsAfterThePartialTransfer)
{
    // Read: the first chunk arrives, the second fails; the request tells where it stopped.
    simboard::setI2cNoAnswer(kProbeChannel, kMemory, 1);
    std::vector<uint8_t> back(1000, 0xEE);
    I2cfpga r{1000, 0, back.data()};
    EXPECT_EQ(TFpga::i2cRead(&r), 0);
    EXPECT_TRUE(std::equal(back.begin(), back.begin() + 512, image_.begin()));
    EXPECT_EQ(r.length, 488u);
    EXPECT_EQ(r.offset, 512);
    EXPECT_EQ(r.buffer, back.data() + 512);

    // Write: the first page goes in, the rest does not.
    simboard::clearFaults();
    simboard::setI2cNoAnswer(kProbeChannel, kMemory, 1);
    std::vector<uint8_t> bytes = pattern(40, 60);
    I2cfpga w{40, 0, bytes.data()};
    EXPECT_EQ(TFpga::i2cWrite(&w), 0);
    const std::vector<uint8_t> memory = simboard::probeMemory(kProbeChannel);
    EXPECT_TRUE(std::equal(bytes.begin(), bytes.begin() + 32, memory.begin()));
    EXPECT_TRUE(std::equal(memory.begin() + 32, memory.begin() + 40, image_.begin() + 32));
    EXPECT_EQ(w.length, 8u);

    // No probe at all: the first transfer fails.
    simboard::clearFaults();
    simboard::removeProbe(kProbeChannel);
    I2cfpga none{4, 0, back.data()};
    EXPECT_EQ(TFpga::i2cRead(&none), 0);
    EXPECT_EQ(none.length, 4u);
}

TEST_F(I2cTest, StuckMasterFailsWithinTheBound)
{
    std::vector<uint8_t> back(64);
    // Busy before the transfer: refused at once, nothing started.
    simboard::setI2cMasterBusy(true);
    I2cfpga r{64, 0, back.data()};
    EXPECT_LT(elapsedMs([&] { EXPECT_EQ(TFpga::i2cRead(&r), 0); }), 50.0);
    I2cfpga w{8, 0, back.data()};
    EXPECT_LT(elapsedMs([&] { EXPECT_EQ(TFpga::i2cWrite(&w), 0); }), 50.0);
    EXPECT_TRUE(transfers().empty());

    // Hung after the start: the done wait gives up after its bound.
    for (const bool read : {true, false}) {
        SCOPED_TRACE(read ? "read" : "write");
        simboard::clearFaults();
        THangAfterStart hang(simboard::simulatedDeviceIO());
        setDeviceIO(&hang);
        I2cfpga request{16, 0, back.data()};
        const double ms = elapsedMs([&] { EXPECT_EQ(read ? TFpga::i2cRead(&request) : TFpga::i2cWrite(&request), 0); });
        setDeviceIO(&simboard::simulatedDeviceIO());
        EXPECT_GE(ms, kI2cDoneTimeoutMs - 5);
        EXPECT_LT(ms, kI2cDoneTimeoutMs + 400);
        EXPECT_EQ(request.length, 16u);
    }
}
