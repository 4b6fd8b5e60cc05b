// The daemon as a child process on the test's own simulated board, against an in-process gauge,
// its waits shortened a hundredfold.
#include "board/sim/simboard.h"
#include "cellwarden/battery.h"
#include "tests/cellwarden/offpipe.h"
#include "tests/support/benchviewprocess.h"
#include "tests/support/simboardtest.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <sys/stat.h>
#include <sys/wait.h>
#include <set>
#include <thread>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

constexpr std::chrono::milliseconds kNoHaltWait = 1500ms;

class DaemonTest : public SimBoardTest {
protected:
    void TearDown() override
    {
        daemon_.kill();
        gauge_.stop();
        SimBoardTest::TearDown();
    }

    void writeFile(const char* boardPath, const std::string& text)
    {
        const std::string path = hostPath(boardPath);
        for (size_t at = 1; (at = path.find('/', at)) != std::string::npos; ++at)
            ::mkdir(path.substr(0, at).c_str(), 0755);
        std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
    }
    std::string file(const char* boardPath) { return readHostFile(hostPath(boardPath)); }
    bool exists(const char* boardPath) { return ::access(hostPath(boardPath).c_str(), F_OK) == 0; }

    // Board on battery (or wall power), FIFO off pipe, gauge from the battery group, daemon started.
    // Without line files the lines read the scenario's levels (wall power from the battery group).
    void boot(const simboard::TBattery& battery, bool wallPower, bool fifo = true, bool lineFiles = true)
    {
        simboard::TScenario s = simboard::defaultScenario();
        s.speedFactor = speed_;
        s.battery = battery;
        s.battery.wallPower = !lineFiles && wallPower;
        writeFile(simboard::kScenarioPath, simboard::scenarioToJson(s));
        if (lineFiles) {
            writeFile("/sys/class/gpio/gpio114/value", wallPower ? "1\n" : "0\n");
            writeFile("/sys/class/gpio/gpio121/value", "0");
            writeFile("/sys/class/gpio/gpio127/value", "0");
        }
        if (fifo) {
            ::unlink(hostPath("/var/tmp/offpipe").c_str());
            ASSERT_EQ(0, ::mkfifo(hostPath("/var/tmp/offpipe").c_str(), 0644));
        }
        gauge_.configure(battery);
        std::string error;
        ASSERT_TRUE(gauge_.start(&error)) << error;
        BenchviewProcess::Options options;
        options.root = root_;
        options.portOffset = portOffset_;
        options.logPath = root_ + "/cellwarden.log";
        ASSERT_TRUE(daemon_.start(CELLWARDEN_EXE, options));
    }

    bool waitFor(const std::function<bool()>& done, std::chrono::milliseconds timeout)
    {
        const auto end = std::chrono::steady_clock::now() + timeout;
        while (std::chrono::steady_clock::now() < end) {
            if (done())
                return true;
            std::this_thread::sleep_for(10ms);
        }
        return done();
    }

    bool writeOffPipe(const std::string& bytes) { return ::writeOffPipe(hostPath("/var/tmp/offpipe"), bytes); }

    // The power cut: line 121 at 1, a power-log line and status 99.
    bool halted(std::chrono::milliseconds timeout)
    {
        int status = 0;
        if (!daemon_.waitExit(timeout, &status))
            return false;
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 99) << status;
        EXPECT_EQ("1", file("/sys/class/gpio/gpio121/value"));
        EXPECT_NE(std::string::npos, file("/sim/power.log").find("cellwarden power cut"));
        return true;
    }

    // Started and through its first update (bq variants) or its charger switch (no gauge).
    bool running(bool gauge)
    {
        return waitFor([&] { return gauge ? exists("/var/tmp/batlevel") : file("/sys/class/gpio/gpio127/value") == "1"; },
                       10s);
    }

    void waitForEdgeFifo() { ASSERT_TRUE(waitFor([&] { return exists(simboard::kWallPowerEdgePath); }, 10s)); }

    simboard::TSimGauge gauge_;
    BenchviewProcess daemon_;
    double speed_ = 100;
};

simboard::TBattery pack(const char* gauge)
{
    simboard::TBattery b;
    b.gauge = gauge;
    b.percent = 87;
    return b;
}

// bq2018 RAM: defaults written at start when the gauge holds zeros; 23200 discharged: level 50.
simboard::TBattery halfBq2018()
{
    simboard::TBattery b = pack("bq2018");
    b.dischargeCount = 23200;
    return b;
}

} // namespace

TEST(DaemonVersion, PrintsAndExits)
{
    for (const char* arg : {"-V", "-v"}) {
        int status = -1;
        EXPECT_EQ("1.07\n", programOutput(CELLWARDEN_EXE, arg, &status)) << arg;
        EXPECT_EQ(0, status) << arg;
    }
}

TEST_F(DaemonTest, LevelFilePerVariant)
{
    const struct {
        const char* name;
        simboard::TBattery battery;
        bool wall;
        const char* earlier;
        const char* level;
        const char* charger;
    } cases[] = {
        {"bq34z100 on battery", pack("bq34z100"), false, nullptr, "87 ", "0"},
        {"bq34z100 over a longer text", [] { auto b = pack("bq34z100"); b.percent = 9; return b; }(), false, "100 ",
         "9 0 ", "0"},
        {"bq34z100 empty on wall power", [] { auto b = pack("bq34z100"); b.percent = 0; return b; }(), true, nullptr,
         "-1 ", "1"},
        {"bq2018 on battery, truncated", halfBq2018(), false, "-100", "50", "0"},
        {"bq2018 on wall power", halfBq2018(), true, nullptr, "-50", "1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        SetUp();
        if (c.earlier)
            writeFile("/var/tmp/batlevel", c.earlier);
        boot(c.battery, c.wall);
        ASSERT_TRUE(waitFor([&] { return file("/var/tmp/batlevel") == c.level; }, 10s)) << file("/var/tmp/batlevel");
        EXPECT_EQ(c.charger, file("/sys/class/gpio/gpio127/value"));
    }
}

TEST_F(DaemonTest, Bq2018DefaultsWrittenAtStart)
{
    boot(halfBq2018(), false);
    ASSERT_TRUE(running(true));
    const std::vector<uint8_t> ram = gauge_.ram();
    ASSERT_EQ(26u, ram.size());
    const std::vector<uint8_t> expected = {0x40, 0xB5, 0x40, 0xB5};
    EXPECT_EQ(expected, std::vector<uint8_t>(ram.begin(), ram.begin() + 4));
    EXPECT_EQ(0x40, ram[18]);
    EXPECT_EQ(0xB5, ram[19]);
    EXPECT_EQ(0xE4, ram[20]);
    EXPECT_EQ(0x02, ram[21]);
    EXPECT_EQ(0x10, ram[22]);
    EXPECT_EQ(0x27, ram[23]);
    uint8_t sum = 0;
    for (uint8_t b : ram)
        sum = static_cast<uint8_t>(sum + b);
    EXPECT_EQ(0x55, sum);
    // The file shows the record as found: all zeros.
    EXPECT_NE(std::string::npos, file("/var/tmp/ggdata.txt").find("Last measured discharge: 0\r\n"));
}

TEST_F(DaemonTest, NoGaugeChargesAndNeverWritesLevel)
{
    for (const char* gauge : {"none"}) {
        boot(pack(gauge), true);
        ASSERT_TRUE(running(false));
        ASSERT_TRUE(writeOffPipe("POWEROFF"));
        EXPECT_FALSE(halted(kNoHaltWait));
        EXPECT_FALSE(exists("/var/tmp/batlevel"));
    }
}

// The rows of the halt table that the off pipe drives.
TEST_F(DaemonTest, OffPipeHalts)
{
    auto full34 = [] { auto b = pack("bq34z100"); b.current_mA = 0; b.percent = 100; return b; }();
    auto full2018 = [] { auto b = pack("bq2018"); b.chargeCount = 9000; return b; }();
    const struct {
        const char* name;
        simboard::TBattery battery;
        bool wall;
        const char* message;
        bool halt;
    } cases[] = {
        {"bq34z100 on battery", pack("bq34z100"), false, "POWEROFF", true},
        {"bq2018 on battery", halfBq2018(), false, "POWEROFF", true},
        {"no gauge on battery", pack("none"), false, "POWEROFF", true},
        {"bq34z100 full on wall power", full34, true, "POWEROFF", true},
        {"bq2018 full on wall power", full2018, true, "POWEROFF", true},
        {"bq34z100 charging", pack("bq34z100"), true, "POWEROFF", false},
        {"bq2018 charging", halfBq2018(), true, "POWEROFF", false},
        {"line end", pack("bq34z100"), false, "POWEROFF\n", false},
        {"twice in one drain", pack("bq34z100"), false, "POWEROFFPOWEROFF", true},
        {"garbage", pack("bq34z100"), false, "SHUTDOWN", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        SetUp();
        boot(c.battery, c.wall);
        ASSERT_TRUE(running(c.battery.gauge != "none"));
        ASSERT_TRUE(writeOffPipe(c.message));
        EXPECT_EQ(c.halt, halted(c.halt ? 10000ms : kNoHaltWait));
        if (c.halt && c.battery.gauge == "bq2018") {
            // The record saved before the cut, once the gauge has read all of it: the remaining
            // capacity at offset 14.
            ASSERT_TRUE(gauge_.drained(5000ms));
            const std::vector<uint8_t> ram = gauge_.ram();
            uint8_t sum = 0;
            for (uint8_t b : ram)
                sum = static_cast<uint8_t>(sum + b);
            EXPECT_EQ(0x55, sum);
            EXPECT_EQ(c.battery.dischargeCount ? 23200 : 46400, ram[14] | ram[15] << 8);
        }
    }
}

// The rows of the halt table that the gauge and the wall-power edge drive.
TEST_F(DaemonTest, GaugeAndEdgeHalts)
{
    auto empty34 = [] { auto b = pack("bq34z100"); b.voltage_mV = 9999; return b; }();
    auto notEmpty34 = [] { auto b = pack("bq34z100"); b.voltage_mV = 10000; return b; }();
    auto empty2018 = [] { auto b = halfBq2018(); b.adc_mV = 9000; return b; }();
    auto full34 = [] { auto b = pack("bq34z100"); b.current_mA = 0; return b; }();
    auto steady2018 = halfBq2018();
    const struct {
        const char* name;
        simboard::TBattery battery;
        bool wall, marker, unplug;
        bool halt;
    } cases[] = {
        {"bq34z100 empty on battery", empty34, false, false, false, true},
        {"bq34z100 at 10000 mV", notEmpty34, false, false, false, false},
        {"bq34z100 empty on wall power", empty34, true, false, false, false},
        {"bq2018 empty on battery", empty2018, false, false, false, true},
        {"no gauge", [] { auto b = pack("none"); b.voltage_mV = 0; return b; }(), false, false, false, false},
        {"bq34z100 full with the marker", full34, true, true, false, true},
        {"bq34z100 full without it", full34, true, false, false, false},
        {"bq2018 full at the third time-out", steady2018, true, true, false, true},
        {"bq34z100 unplugged with the marker", pack("bq34z100"), true, true, true, true},
        {"bq2018 unplugged with the marker", halfBq2018(), true, true, true, true},
        {"no gauge unplugged with the marker", pack("none"), true, true, true, true},
        {"unplugged without the marker", pack("bq34z100"), true, false, true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        SetUp();
        if (c.marker)
            writeFile("/var/tmp/powerOffAllowed", "");
        boot(c.battery, c.wall);
        if (c.unplug) {
            ASSERT_TRUE(running(c.battery.gauge != "none"));
            waitForEdgeFifo();
            simboard::setWallPower(false);
        }
        EXPECT_EQ(c.halt, halted(c.halt ? 10000ms : kNoHaltWait));
    }
}

TEST_F(DaemonTest, StaleMarkerAndMissingPipe)
{
    // A marker older than the boot mark is not the charging screen's of this boot; the edge
    // still works with no FIFO off pipe.
    writeFile("/var/tmp/powerOffAllowed", "");
    struct timespec old[2] = {{1000, 0}, {1000, 0}};
    ASSERT_EQ(0, ::utimensat(AT_FDCWD, hostPath("/var/tmp/powerOffAllowed").c_str(), old, 0));
    writeFile("/sim/boot", "");
    boot(pack("bq34z100"), true, false);
    ASSERT_TRUE(running(true));
    waitForEdgeFifo();
    simboard::setWallPower(false);
    EXPECT_FALSE(halted(kNoHaltWait));
    EXPECT_TRUE(waitFor([&] { return file("/sys/class/gpio/gpio127/value") == "0"; }, 5s));

    writeFile("/var/tmp/powerOffAllowed", "");  // fresh
    simboard::setWallPower(true);
    // The daemon watches for the next edge only once it has handled this one (charger on): on a
    // loaded host a fixed pause may end before that, and the cut would come unwatched.
    EXPECT_TRUE(waitFor([&] { return file("/sys/class/gpio/gpio127/value") == "1"; }, 5s));
    std::this_thread::sleep_for(200ms);
    simboard::setWallPower(false);
    EXPECT_TRUE(halted(10000ms));
}

TEST_F(DaemonTest, BadReadingsNeverHalt)
{
    const struct {
        const char* name;
        const char* adc;  // nullptr: no file
        bool silence;
    } cases[] = {{"ADC missing", nullptr, false}, {"ADC empty", "", false}, {"ADC garbage", "abc", false},
                 {"ADC -1", "-1", false}, {"gauge silent", "12000", true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        SetUp();
        simboard::TBattery b = halfBq2018();
        b.adc_mV = 12000;
        boot(b, false);
        ASSERT_TRUE(running(true));
        const std::string adcPath = hostPath("/sys/bus/i2c/devices/2-0049/adc_aux/value_mV");
        if (c.adc)
            writeFile("/sys/bus/i2c/devices/2-0049/adc_aux/value_mV", c.adc);
        else
            ::unlink(adcPath.c_str());
        if (c.silence) {
            simboard::TGaugeFaults f;
            f.silent = true;
            gauge_.setFaults(f);
        }
        // A few periodic updates (0.6 s each at this speed).
        EXPECT_FALSE(halted(2000ms));
        EXPECT_EQ("50", file("/var/tmp/batlevel"));
    }
}

TEST_F(DaemonTest, OffPipeWritersNeverFailAndWallPowerFileMayVanish)
{
    // Charging: every "POWEROFF" is drained and ignored, and no writer ever meets a closed pipe.
    boot(pack("bq34z100"), true);
    ASSERT_TRUE(running(true));
    ASSERT_TRUE(writeOffPipe("POWEROFF"));  // once the daemon holds the pipe
    for (int i = 0; i < 1000; ++i) {
        const int fd = ::open(hostPath("/var/tmp/offpipe").c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        ASSERT_GE(fd, 0) << i << ": " << std::strerror(errno);
        ASSERT_EQ(8, ::write(fd, "POWEROFF", 8)) << i << ": " << std::strerror(errno);
        ::close(fd);
    }
    // An unreadable line 114 keeps the last known state: still charging.
    ::unlink(hostPath("/sys/class/gpio/gpio114/value").c_str());
    std::this_thread::sleep_for(1000ms);
    EXPECT_TRUE(daemon_.running());
    EXPECT_EQ("1", file("/sys/class/gpio/gpio127/value"));
    EXPECT_EQ("-87 ", file("/var/tmp/batlevel"));

    writeFile("/sys/class/gpio/gpio114/value", "0\n");
    ASSERT_TRUE(waitFor([&] { return file("/sys/class/gpio/gpio127/value") == "0"; }, 10s));
    ASSERT_TRUE(writeOffPipe("POWEROFF"));
    EXPECT_TRUE(halted(10000ms));
}

TEST_F(DaemonTest, WithoutLineFilesTheScenarioHolds)
{
    for (bool wall : {true, false}) {
        SCOPED_TRACE(wall ? "wall power" : "battery");
        TearDown();
        SetUp();
        boot(pack("bq34z100"), wall, true, false);
        ASSERT_TRUE(waitFor([&] { return file("/var/tmp/batlevel") == (wall ? "-87 " : "87 "); }, 10s))
            << file("/var/tmp/batlevel");
        EXPECT_EQ(wall ? "1" : "0", file("/sys/class/gpio/gpio127/value"));
    }
}

TEST_F(DaemonTest, Bq2018TestsFullChargeOnlyFromTheThirdTimeOut)
{
    // A pass waits 3 s at this speed: the first two time-outs (near 3 and 6 s) update without
    // the full-charge test, the third (near 9 s) takes the charged pack as full and halts.
    speed_ = 20;
    writeFile("/var/tmp/powerOffAllowed", "");
    boot(halfBq2018(), true);
    ASSERT_TRUE(running(true));
    const auto started = std::chrono::steady_clock::now();
    int status = 0;
    EXPECT_FALSE(daemon_.waitExit(7500ms, &status)) << "halted after "
        << std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started).count()
        << " ms";
    EXPECT_TRUE(halted(10000ms));
}

TEST_F(DaemonTest, IdleBetweenUpdates)
{
    // Four simulated minutes of the bq2018 daemon (its heaviest pass): the process sleeps.
    boot(halfBq2018(), false);
    ASSERT_TRUE(running(true));
    const long before = daemon_.threadCpuTicks(std::to_string(daemon_.pid()));
    std::this_thread::sleep_for(2400ms);
    const long used = daemon_.threadCpuTicks(std::to_string(daemon_.pid())) - before;
    ASSERT_TRUE(daemon_.running());
    const long ticksPerSecond = ::sysconf(_SC_CLK_TCK);
    EXPECT_LT(used, ticksPerSecond * 24 / 100) << "more than a tenth of the time on the processor";
}

// A level rewritten while the charging screen reads it: the reader finds the old text or the new,
// never an empty file, and no temporary file stays behind.
TEST_F(DaemonTest, LevelFileIsNeverSeenEmpty)
{
    writeFile("/var/tmp/batlevel", "100");
    std::atomic<bool> done{false};
    std::set<std::string> seen;
    std::thread reader([&] {
        const std::string path = hostPath("/var/tmp/batlevel");
        while (!done.load()) {
            const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
            if (fd < 0)
                continue;
            char text[10];
            const ssize_t n = ::read(fd, text, sizeof text);
            ::close(fd);
            seen.insert(std::string(text, n > 0 ? static_cast<size_t>(n) : 0));
        }
    });
    for (int i = 0; i < 3000; ++i)
        writeDaemonFile(kBatLevelFile, i % 2 ? "100" : "5", i % 2 ? 3 : 1, true);
    done.store(true);
    reader.join();
    for (const std::string& text : seen)
        EXPECT_TRUE(text == "100" || text == "5") << "read \"" << text << "\"";
    EXPECT_EQ("100", file("/var/tmp/batlevel"));
    EXPECT_FALSE(exists("/var/tmp/batlevel.new"));
}
