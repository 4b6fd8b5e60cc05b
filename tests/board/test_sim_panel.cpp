// The simulated front panel, probe lines, line edges and the control pipe.
#include "board/board.h"
#include "board/deviceio.h"
#include "board/sim/simboard.h"
#include "tests/board/test_sim_raw.h"
#include "tests/support/simfpgaboardtest.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fcntl.h>
#include <fstream>
#include <linux/input.h>
#include <poll.h>
#include <sys/stat.h>
#include <sstream>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

class SimPanelTest : public SimFpgaBoardTest {
protected:
    void SetUp() override
    {
        SimFpgaBoardTest::SetUp();
        events_ = deviceIO().open("/dev/input/event1", O_RDONLY | O_NONBLOCK);
        ASSERT_GE(events_, 0);
    }
    void TearDown() override
    {
        deviceIO().close(events_);
        SimFpgaBoardTest::TearDown();
    }
    // The events queued since the last call, as "code=value".
    std::vector<std::string> events()
    {
        std::vector<std::string> out;
        struct input_event ev {};
        while (deviceIO().read(events_, &ev, sizeof ev) == static_cast<ssize_t>(sizeof ev))
            out.push_back(std::to_string(ev.code) + "=" + std::to_string(ev.value));
        return out;
    }
    int events_ = -1;
};

using Events = std::vector<std::string>;

TEST_F(SimPanelTest, KeysLatchTheirFlagAndQueueAnEventOnlyWhenEnabled)
{
    simboard::pressKeys(0x10000);
    EXPECT_EQ(events(), Events{}) << "SPI 4 is 0 at power-on";
    EXPECT_EQ(simtest::spiRead(12), 1u) << "latched whatever SPI 4 says";
    EXPECT_EQ(simtest::spiRead(12), 0u) << "cleared by the read";
    EXPECT_EQ(simtest::spiRead(52), 0x10000u);

    ASSERT_TRUE(simtest::spiWrite(4, 31));
    simboard::pressKeys(0x10000 | 0x8);  // one key was already down
    simboard::releaseKeys(0x10000);
    EXPECT_EQ(events(), Events{"256=1"});
    EXPECT_EQ(simtest::spiRead(52), 0x8u);
    simboard::releaseKeys(0x8);
    EXPECT_EQ(events(), Events{});
    EXPECT_EQ(simtest::spiRead(12), 1u);

    simboard::setPowerKey(true);
    simboard::setPowerKey(false);
    EXPECT_EQ(events(), (Events{"47=1", "47=0"}));
    EXPECT_EQ(simtest::spiRead(52), 0u) << "the power key is not a panel key";
}

TEST_F(SimPanelTest, ProbeLinesRaiseTheirChannelsFlag)
{
    ASSERT_TRUE(simtest::spiWrite(4, 1));  // probe events off, as while one is handled
    simboard::TProbeDescription probe;
    probe.id = 0x8001;
    simboard::plugProbe(1, probe);
    simboard::pressProbeButton(3, 2);
    EXPECT_EQ(events(), Events{});
    EXPECT_EQ(simtest::spiRead(12), 0x14u);
    ASSERT_TRUE(simtest::spiWrite(4, 31));
    simboard::removeProbe(1);
    EXPECT_EQ(events(), Events{"256=1"});
    EXPECT_EQ(simtest::spiRead(12), 0x4u);
}

TEST_F(SimPanelTest, LineChangeIsAnEdgeUntilReadFromTheStart)
{
    const char* path = "/sys/class/gpio/gpio114/value";
    const int fd = deviceIO().open(path, O_RDONLY);
    ASSERT_GE(fd, 0);
    auto edge = [&] {
        struct pollfd p{fd, POLLPRI, 0};
        return deviceIO().poll(&p, 1, 0) == 1 && (p.revents & POLLPRI);
    };
    char text[2];
    EXPECT_FALSE(edge());
    simboard::setGpioInput(114, 0);  // no change: no edge
    EXPECT_FALSE(edge());
    simboard::setGpioInput(114, 1);
    EXPECT_TRUE(edge());
    ASSERT_EQ(deviceIO().read(fd, text, 2), 2);  // from offset 0
    EXPECT_EQ(text[0], '1');
    EXPECT_FALSE(edge());
    simboard::setGpioInput(114, 0);
    ASSERT_EQ(deviceIO().read(fd, text, 2), 0) << "at the end of the text";
    EXPECT_TRUE(edge());
    ASSERT_EQ(deviceIO().lseek(fd, 0, SEEK_SET), 0);
    ASSERT_EQ(deviceIO().read(fd, text, 2), 2);
    EXPECT_EQ(text[0], '0');
    EXPECT_FALSE(edge());
    EXPECT_EQ(simboard::gpioLevel(114), 0);
    deviceIO().close(fd);
}

TEST_F(SimPanelTest, LineWrittenByThePlayerFirstIsStillAnEdge)
{
    // The player writes line 114's file, then forwards "line114 1": benchview still sees the
    // change from the level it last read.
    const int fd = deviceIO().open("/sys/class/gpio/gpio114/value", O_RDONLY);
    ASSERT_GE(fd, 0);
    char text[2];
    ASSERT_EQ(deviceIO().read(fd, text, 2), 2);
    EXPECT_EQ(text[0], '0');
    ASSERT_TRUE(simboard::setWallPower(true));
    simboard::setGpioInput(114, 1);
    struct pollfd p{fd, POLLPRI, 0};
    EXPECT_EQ(deviceIO().poll(&p, 1, 0), 1);
    ASSERT_EQ(deviceIO().lseek(fd, 0, SEEK_SET), 0);
    ASSERT_EQ(deviceIO().read(fd, text, 2), 2);
    EXPECT_EQ(text[0], '1');
    deviceIO().close(fd);
    std::ifstream file(boardPath("/sys/class/gpio/gpio114/value"));
    std::string level;
    file >> level;
    EXPECT_EQ(level, "1");
}

TEST_F(SimPanelTest, ControlLines)
{
    struct Row {
        const char* line;
        const char* steps;   // "" for a line that is ignored
    };
    const Row rows[] = {
        {"key ch1", "down 0x100000; wait 150; up 0x100000"},
        {"key 0x10000 hold 3000", "down 0x10000; wait 3000; up 0x10000"},
        {"key 8+ch4 long", "down 0x800008; wait 1000; up 0x800008"},
        {"key ch2 double", "down 0x200000; wait 100; up 0x200000; wait 80; down 0x200000; wait 100; up 0x200000"},
        {"key power long", "down 0x80000000; wait 1000; up 0x80000000"},
        {"  key   power   down ", "down 0x80000000"},
        {"key 0x20000 up", "up 0x20000"},
        {"probe 1 plug 0x8001", "plug 1 0x8001"},
        {"probe 4 plug /sim/p.bin", "plug 4 /sim/p.bin"},
        {"probe 2 unplug", "unplug 2"},
        {"probe 3 button 2", "button 3 2"},
        {"lux 5000", "lux 5000"},
        {"line114 1", "line114 1"},
        {"capacitor 4.7e-8", "capacitor 4.7e-08"},
        {"capacitor 2.2e-6 leak 1e6", "capacitor 2.2e-06 leak 1e+06"},
        {"capacitor 1e-6 leak 0", "capacitor 1e-06"},
        {"fault 2 pipeline on", "fault 2 pipeline 1"},
        {"fault 3 dac off", "fault 3 dac off"},
        {"fault 1 vernier 4095", "fault 1 vernier 4095"},
        {"fault 4 vernier off", "fault 4 vernier off"},
        {"", ""},
        {"key", ""},
        {"key ch5", ""},
        {"key 0", ""},
        {"key 0x1+", ""},
        {"key ch1 hold", ""},
        {"key ch1 hold 0", ""},
        {"key ch1 hold 10x", ""},
        {"key ch1 triple", ""},
        {"key ch1 short extra", ""},
        {"key -1", ""},
        {"key 0x100000000", ""},
        {"probe 0 unplug", ""},
        {"probe 1 button 4", ""},
        {"probe 1 plug ../etc/passwd", ""},
        {"probe 1 plug /sim/../../x", ""},
        {"lux -3", ""},
        {"lux bright", ""},
        {"line114 2", ""},
        {"capacitor", ""},
        {"capacitor -1e-9", ""},
        {"capacitor 2", ""},
        {"capacitor 1e-6 leak", ""},
        {"capacitor 1e-6 drain 5", ""},
        {"capacitor 1e-6 leak -5", ""},
        {"capacitor 1nF", ""},
        {"fault 5 dac on", ""},
        {"fault 1 vernier 4096", ""},
        {"fault 1 pipeline", ""},
        {"fault 1 relay on", ""},
        {"reboot", ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.line);
        std::vector<simboard::TControlStep> steps;
        std::string error;
        const bool ok = simboard::parseControlLine(row.line, &steps, &error);
        std::string text;
        for (const auto& s : steps)
            text += (text.empty() ? "" : "; ") + simboard::describe(s);
        EXPECT_EQ(ok, *row.steps != '\0') << error;
        EXPECT_EQ(text, row.steps);
        EXPECT_EQ(ok, error.empty());
    }
    std::vector<simboard::TControlStep> steps;
    EXPECT_FALSE(simboard::parseControlLine("key " + std::string(197, '1'), &steps));
}

TEST_F(SimPanelTest, LinesThroughTheNamedPipeActAndBadOnesAreNoted)
{
    ASSERT_TRUE(simboard::startControlPipe());
    struct stat st;
    ASSERT_EQ(::stat(boardPath(simboard::kControlPipePath).c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
    {
        std::ofstream pipe(boardPath(simboard::kControlPipePath));
        pipe << "fly away\nlux 5000\nkey 0x8 down\n" << std::flush;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (simboard::panelKeys() != 0x8 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(simboard::panelKeys(), 0x8u);
    EXPECT_EQ(simboard::scenario().lux, 5000.0);
    std::ifstream log(boardPath(simboard::kControlLogPath));
    std::stringstream text;
    text << log.rdbuf();
    EXPECT_NE(text.str().find("ignored: fly away: unknown command \"fly\""), std::string::npos);
}

} // namespace

// A probe image named on a control line is read only from a regular file under the root: the
// control pipe itself (which held the reader forever), a folder or a link leading out of the
// root is refused and leaves the channel as it was.
TEST_F(SimPanelTest, ProbeImagesComeOnlyFromRegularFilesUnderTheRoot)
{
    simboard::TProbeDescription probe;
    probe.id = 0x8001;
    const std::vector<uint8_t> image = simboard::buildProbeImage(probe);
    std::ofstream(boardPath("/sim/p.bin"), std::ios::binary)
        .write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
    ASSERT_EQ(::mkfifo(boardPath(simboard::kControlPipePath).c_str(), 0600), 0);
    ASSERT_EQ(::symlink("/etc/passwd", boardPath("/sim/out.bin").c_str()), 0);
    for (const char* path : {"/sim/control", "/sim", "/sim/out.bin", "/sim/missing.bin"}) {
        std::string error;
        EXPECT_FALSE(simboard::runControlLine(std::string("probe 1 plug ") + path, &error)) << path;
        EXPECT_NE(error.find(path), std::string::npos) << error;
        EXPECT_TRUE(simboard::probeMemory(0).empty()) << path;
    }
    ASSERT_TRUE(simboard::runControlLine("probe 1 plug /sim/p.bin"));
    const std::vector<uint8_t> memory = simboard::probeMemory(0);
    ASSERT_EQ(memory.size(), simboard::kProbeMemorySize);
    EXPECT_TRUE(std::equal(image.begin(), image.end(), memory.begin()));
}
