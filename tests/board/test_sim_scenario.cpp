// The scenario file of the simulated board, its reading, the board inputs it drives, the clock and
// the random source.
#include "board/board.h"
#include "board/deviceio.h"
#include "board/sim/simboard.h"
#include "tests/support/simfpgaboardtest.h"

#include <gtest/gtest.h>

#include <cmath>

#include <chrono>
#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

std::string gpioText(int line)
{
    std::string path = "/sys/class/gpio/gpio" + std::to_string(line) + "/value";
    int fd = deviceIO().open(path.c_str(), O_RDONLY);
    char buf[8] = {};
    ssize_t n = fd >= 0 ? deviceIO().read(fd, buf, sizeof buf - 1) : -1;
    if (fd >= 0)
        deviceIO().close(fd);
    return n > 0 ? std::string(buf, static_cast<size_t>(n)) : "<none>";
}

class SimScenario : public SimFpgaBoardTest {};

TEST_F(SimScenario, SeededFileHoldsTheDesktopDefaults)
{
    std::string text = readHostFile(hostPath(simboard::kScenarioPath));
    ASSERT_FALSE(text.empty());
    simboard::TScenario s;
    std::string why;
    ASSERT_TRUE(simboard::parseScenario(text, &s, &why)) << why;
    EXPECT_EQ(s.model, 4);
    EXPECT_EQ(s.bandwidthLines, 0);
    EXPECT_EQ(s.boardCode, 0);
    EXPECT_FALSE(s.fpgaPreconfigured);
    EXPECT_EQ(s.fpgaVersion, 0x0312u);
    struct {
        const char* shape;
        double vpp, frequency;
    } signals[] = {{"sine", 2, 1000}, {"square", 1, 1000}, {"triangle", 0.5, 10000}, {"dc", 0, 0}};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(s.signals[i].shape, signals[i].shape) << i;
        EXPECT_EQ(s.signals[i].vpp, signals[i].vpp) << i;
        EXPECT_EQ(s.signals[i].frequency, signals[i].frequency) << i;
        EXPECT_TRUE(s.probeImages[i].empty()) << i;
    }
    EXPECT_EQ(s.lux, 100);
    EXPECT_EQ(s.speedFactor, 1);
    EXPECT_EQ(s.seed, 1u);
    EXPECT_EQ(simboard::scenarioToJson(simboard::scenario()), text) << "the board runs on the file";

    // Board inputs of the defaults.
    EXPECT_EQ(gpioText(164), "0\n");
    EXPECT_EQ(gpioText(147), "1\n") << "the fixture starts the FPGA configured";
    EXPECT_EQ(gpioText(106), "1\n");
    EXPECT_EQ(gpioText(8), "1\n");
    EXPECT_EQ(gpioText(146), "0\n");
}

TEST_F(SimScenario, FileWithUnknownAndMissingKeysLoadsAtInstall)
{
    ASSERT_TRUE(writeBoardFile("/sim/probe3.bin", std::string("\x01\x02\x03", 3)));
    ASSERT_TRUE(writeBoardFile(simboard::kScenarioPath, R"({
        "model": 2,
        "inputsConnected": [true, false],
        "boardCode": 1,
        "bandwidthLines": 2,
        "fpgaVersion": 1025,
        "channels": [null, {"signal": {"vpp": 3, "future": 1}}, {"probeMemory": "/sim/probe3.bin"}],
        "gpio": {"114": true, "146": 1},
        "speedFactor": 1000
    })"));
    std::string why;
    ASSERT_TRUE(simboard::install(&why)) << why;
    simboard::TScenario s = simboard::scenario();
    EXPECT_EQ(s.model, 2);
    EXPECT_EQ(s.fpgaVersion, 1025u);
    EXPECT_EQ(s.signals[1].shape, "square") << "missing fields keep the channel's default";
    EXPECT_EQ(s.signals[1].vpp, 3);
    EXPECT_EQ(s.lux, 100);

    EXPECT_EQ(gpioText(164), "1\n") << "two-channel model";
    EXPECT_EQ(gpioText(114), "1\n");
    EXPECT_EQ(gpioText(146), "1\n");
    std::vector<uint8_t> mem = simboard::probeMemory(2);
    ASSERT_EQ(mem.size(), simboard::kProbeMemorySize);
    EXPECT_EQ(mem[0], 1);
    EXPECT_EQ(mem[2], 3);
    EXPECT_EQ(mem[3], 0xFF);
    EXPECT_TRUE(simboard::probeMemory(0).empty());

    // The clock runs at the speed factor.
    uint64_t t0 = simboard::simTimeNs();
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_GE(simboard::simTimeNs() - t0, 10'000'000'000ull);
}

TEST_F(SimScenario, BoardCodeAndBandwidthLinesDriveTheirGpioLines)
{
    for (int code = 0; code < 4; ++code) {
        simboard::updateScenario([&](simboard::TScenario& s) { s.boardCode = code; });
        // The product reads NOT((gpio106 << 1) | gpio8) & 3 and must get the code back.
        int in9 = gpioText(106) == "1\n", in10 = gpioText(8) == "1\n";
        EXPECT_EQ(~((in9 << 1) | in10) & 3, code);
    }
    simboard::updateScenario([](simboard::TScenario& s) { s.boardCode = 1; });
    EXPECT_EQ(gpioText(106), "1\n");
    EXPECT_EQ(gpioText(8), "0\n");

    for (int lines = 0; lines < 4; ++lines) {
        simboard::updateScenario([&](simboard::TScenario& s) { s.bandwidthLines = lines; });
        EXPECT_EQ(gpioText(161), (lines & 2) ? "1\n" : "0\n") << lines;
        EXPECT_EQ(gpioText(160), (lines & 1) ? "1\n" : "0\n") << lines;
    }
}

TEST_F(SimScenario, BadFileIsRefusedWithItsPlaceAndLeftUntouched)
{
    struct Case {
        const char* text;
        const char* message;
    } cases[] = {
        {"{\"model\": 4,\n \"lux\": }", "line 2, column 9"},
        {"{\"model\": 3}", "model: 2 or 4 is expected"},
        {"{\"boardCode\": 4}", "boardCode: out of range"},
        {"{\"bandwidthLines\": 1.5}", "bandwidthLines: a whole number is expected"},
        {"{\"fpgaVersion\": \"0x1G\"}", "fpgaVersion"},
        {"{\"channels\": [{}, {}, {}, {}, {}]}", "channels: an array of at most 4"},
        {"{\"channels\": [{\"signal\": {\"shape\": \"saw\"}}]}", "channels[0].signal.shape"},
        {"{\"channels\": [{\"probeMemory\": \"relative.bin\"}]}", "channels[0].probeMemory"},
        {"{\"channels\": [{\"probeMemory\": \"/p.bin\", \"probe\": {\"id\": 5}}]}", "channels[0].probe: a channel takes"},
        {"{\"channels\": [{\"probe\": {}}]}", "channels[0].probe.id"},
        {"{\"channels\": [{\"probe\": {\"id\": \"0x10000\"}}]}", "channels[0].probe.id"},
        {"{\"channels\": [{\"probe\": {\"id\": 5, \"fields\": {\"colour\": \"1\"}}}]}", "probe.fields.colour"},
        {"{\"channels\": [{\"probe\": {\"id\": 5, \"fields\": {\"unit\": 1}}}]}", "probe.fields.unit"},
        {"{\"channels\": [{\"probe\": {\"id\": 5, \"expander\": \"0x22\"}}]}", "probe.expander"},
        {"{\"channels\": [{\"probe\": {\"id\": 5, \"button\": 4}}]}", "probe.button"},
        {"{\"channels\": [{\"probe\": {\"id\": 5, \"damage\": \"all\"}}]}", "probe.damage"},
        {"{\"channels\": [{\"probe\": {\"id\": 5, \"correction\": 1.5}}]}", "probe.correction"},
        {"{\"channels\": [{\"errors\": {\"gain\": 0.6}}]}", "channels[0].errors.gain: out of range"},
        {"{\"channels\": [null, {\"errors\": {\"current\": \"x\"}}]}", "channels[1].errors.current"},
        {"{\"channels\": [{\"errors\": 1}]}", "channels[0].errors"},
        {"{\"speedFactor\": 0}", "speedFactor: out of range"},
        {"{\"gpio\": {\"x\": 1}}", "gpio.x"},
        {"{\"gpio\": {\"12\": 2}}", "gpio.12: 0 or 1"},
        {"{\"battery\": {\"charging\": 1}}", "battery.charging"},
        {"[1, 2]", "scenario: an object is expected"},
        {"{} x", "unexpected text"},
    };
    for (const Case& c : cases) {
        simboard::TScenario s;
        std::string why;
        EXPECT_FALSE(simboard::parseScenario(c.text, &s, &why)) << c.text;
        EXPECT_NE(why.find(c.message), std::string::npos) << c.text << " -> " << why;
    }

    const std::string bad = "{\"model\": 2, \"boardCode\": 9}";
    ASSERT_TRUE(writeBoardFile(simboard::kScenarioPath, bad));
    simboard::updateScenario([](simboard::TScenario& s) { s.model = 2; });
    std::string why;
    EXPECT_FALSE(simboard::install(&why));
    EXPECT_NE(why.find("boardCode"), std::string::npos) << why;
    EXPECT_EQ(simboard::scenario().model, 4) << "the defaults are in force";
    EXPECT_EQ(readHostFile(hostPath(simboard::kScenarioPath)), bad);

    // A missing probe image: the rest applies, the probe is absent, the failure is named.
    ASSERT_TRUE(writeBoardFile(simboard::kScenarioPath, "{\"model\": 2, \"channels\": [{\"probeMemory\": \"/sim/none.bin\"}]}"));
    EXPECT_FALSE(simboard::install(&why));
    EXPECT_NE(why.find("/sim/none.bin"), std::string::npos) << why;
    EXPECT_EQ(simboard::scenario().model, 2);
    EXPECT_TRUE(simboard::probeMemory(0).empty());

    // Loading at run time: a bad text changes nothing; a good file takes effect.
    EXPECT_FALSE(simboard::loadScenarioText("{\"model\": 3, \"boardCode\": 2}", &why));
    EXPECT_EQ(simboard::scenario().boardCode, 0);
    ASSERT_TRUE(writeBoardFile("/sim/other.json", "{\"boardCode\": 2}"));
    EXPECT_TRUE(simboard::loadScenarioFile("/sim/other.json", &why)) << why;
    EXPECT_EQ(simboard::scenario().boardCode, 2);
    EXPECT_EQ(simboard::scenario().model, 4) << "a loaded file is a whole scenario";
    EXPECT_FALSE(simboard::loadScenarioFile("/sim/missing.json", &why));
    EXPECT_NE(why.find("/sim/missing.json"), std::string::npos);
}

TEST(SimScenarioText, RoundTripsEveryField)
{
    simboard::TScenario s = simboard::defaultScenario();
    s.model = 2;
    s.bandwidthLines = 3;
    s.boardCode = 2;
    s.fpgaPreconfigured = true;
    s.fpgaVersion = 0xFFFFFFFF;
    s.signals[0].shape = "harmonics";
    s.signals[0].harmonics = {1, 0.5, 0.25};
    s.signals[0].harmonicPhases = {0, 45};
    s.signals[0].phase = -90.5;
    s.signals[1].duty = 12.5;
    s.signals[2].offset = -0.1;
    s.probeImages[3] = "/sim/p4.bin";
    simboard::TProbeDescription probe;
    probe.id = 0x8002;
    probe.colour = 3;
    probe.button = 2;
    probe.expander = 0x41;
    probe.fields = {{"unit", "A"}, {"comment", "CC050 clamp"}};
    probe.hasCorrection = true;
    probe.correction = "1.02 x 0.5";
    probe.correctionMarker = false;
    probe.damage = "userArea";
    s.probes[1] = probe;
    s.lux = 0.3;
    s.speedFactor = 0.001;
    s.seed = 4000000000u;
    s.battery = {15, true, true};
    s.battery.dischargingRates.percent = -0.5;
    s.battery.chargingRates.chargeCount = 120;
    s.firmware = {"https://127.0.0.1:4443", "/sim/fw-cert.pem"};
    s.gpioInputs = {{123, 1}, {136, 0}};
    s.faults.deadPipeline[1] = true;
    s.faults.stuckOffsetDac[3] = true;
    s.faults.vernierCode = {-1, 4095, 0, 1234};
    s.errors[2] = {0.03, -0.12, 0.02, -0.015, 0.5};
    simboard::TScenario back;
    std::string why;
    ASSERT_TRUE(simboard::parseScenario(simboard::scenarioToJson(s), &back, &why)) << why;
    EXPECT_EQ(simboard::scenarioToJson(back), simboard::scenarioToJson(s));
    EXPECT_EQ(back.signals[0].harmonics, s.signals[0].harmonics);
    EXPECT_EQ(back.signals[0].harmonicPhases, s.signals[0].harmonicPhases);
    EXPECT_EQ(back.signals[2].offset, -0.1);
    EXPECT_EQ(back.gpioInputs, s.gpioInputs);
    EXPECT_EQ(back.faults.deadPipeline, s.faults.deadPipeline);
    EXPECT_EQ(back.faults.stuckOffsetDac, s.faults.stuckOffsetDac);
    EXPECT_EQ(back.faults.vernierCode, s.faults.vernierCode);
    EXPECT_TRUE(back.errors[2] == s.errors[2]);
    EXPECT_TRUE(back.errors[0] == simboard::TAnalogErrors()) << "no errors unless given";
    ASSERT_TRUE(back.probes[1].has_value());
    EXPECT_TRUE(*back.probes[1] == probe);
    EXPECT_FALSE(back.probes[0].has_value());
}

// "harmonics": V = offset + (vpp / 2) / sum |r_n| x sum r_n sin(n theta + phi_n), with
// theta = 2 pi f t + phase: "phase" shifts the whole shape, each order keeps its own phase.
TEST_F(SimScenario, HarmonicsHavePhasesPerOrder)
{
    constexpr double kPi = 3.14159265358979323846;
    simboard::TSignal s;
    s.shape = "harmonics";
    s.vpp = 2.3;
    s.offset = 0.25;
    s.frequency = 50;
    s.harmonics = {1, 0, -0.1, 0, 0.05};
    s.harmonicPhases = {0, 0, 30};
    for (double phase : {0.0, 72.0}) {
        s.phase = phase;
        simboard::setSignal(2, s);
        for (double t : {0.0, 0.0013, 0.0071, 0.01234}) {
            const double theta = 2 * kPi * 50 * t + phase * kPi / 180;
            const double v = 0.25 + 1.15 / 1.15 * (std::sin(theta) - 0.1 * std::sin(3 * theta + kPi / 6) + 0.05 * std::sin(5 * theta));
            EXPECT_NEAR(simboard::inputVolts(2, t), v, 1e-12) << phase << " " << t;
        }
    }
}

TEST_F(SimScenario, DescribedProbeIsBuiltIntoItsMemoryWithItsChips)
{
    ASSERT_TRUE(writeBoardFile(simboard::kScenarioPath, R"({"channels": [{"probe": {"id": "0x8001"}}, null,
        {"probe": {"id": 7, "colour": 9, "fields": {"unit": "mV"}}}]})"));
    std::string why;
    ASSERT_TRUE(simboard::install(&why)) << why;
    simboard::TProbeDescription x10;
    x10.id = 0x8001;
    simboard::TProbeDescription temperature;
    temperature.id = 7;
    temperature.colour = 9;
    temperature.fields = {{"unit", "mV"}};
    const std::vector<uint8_t> images[] = {simboard::buildProbeImage(x10, 0), simboard::buildProbeImage(temperature, 2)};
    const int channels[] = {0, 2};
    for (int i = 0; i < 2; ++i) {
        const std::vector<uint8_t> mem = simboard::probeMemory(channels[i]);
        ASSERT_EQ(mem.size(), simboard::kProbeMemorySize);
        EXPECT_TRUE(std::equal(images[i].begin(), images[i].end(), mem.begin())) << i;
        EXPECT_EQ(mem[images[i].size()], 0xFF);
    }
    EXPECT_EQ(simboard::probeMemory(0)[36], 4) << "the channel's usual colour";
    EXPECT_EQ(simboard::probeMemory(2)[36], 9);
    EXPECT_TRUE(simboard::probeMemory(1).empty());
}

TEST_F(SimScenario, SharedLinesReadTheScenarioUntilTheirFileExists)
{
    ASSERT_TRUE(writeBoardFile(simboard::kScenarioPath, R"({"battery": {"wallPower": true}, "gpio": {"127": 1}})"));
    std::string why;
    ASSERT_TRUE(simboard::install(&why)) << why;
    EXPECT_EQ(gpioText(114), "1\n") << "battery.wallPower";
    EXPECT_EQ(gpioText(127), "1\n") << "the gpio entry";
    EXPECT_EQ(gpioText(121), "0\n");
    // A companion program's write is what benchview reads, and benchview's is what they read.
    ASSERT_TRUE(simboard::setWallPower(false));
    EXPECT_EQ(gpioText(114), "0\n");
    const int fd = deviceIO().open("/sys/class/gpio/gpio121/value", O_WRONLY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(deviceIO().write(fd, "1", 1), 1);
    deviceIO().close(fd);
    EXPECT_EQ(readHostFile(hostPath("/sys/class/gpio/gpio121/value")), "1\n");
    EXPECT_EQ(simboard::gpioLevel(121), 1);
}

TEST(SimScenarioText, BrokenTextIsRefusedWithItsPlace)
{
    // Nested arrays far deeper than any scenario: refused before the parser sees them.
    std::string deep = "{\"channels\": " + std::string(10 << 20, '[');
    struct Case {
        std::string text;
        const char* place;
        const char* what;
    } cases[] = {
        {"{\"model\": 4,\n \"lux\": 1", "line 2, column 10: ", "unexpected end of input"},
        {"{\"model\": 4, \"lux\": 1,}", "line 1, column 23: ", "unexpected '}'"},
        {"{\"channels\": [{\"probeMemory\": \"/sim/\\q.bin\"}]}", "line 1, column 38: ", "invalid string"},
        {"{\"lux\": \"bright\"}", "lux: ", "a number is expected"},
        {"{\"battery\": {\"percent\": 101}}", "battery.percent: ", "out of range"},
        {"{\"battery\": {\"chargingRates\": {\"chargeCount\": 70000}}}", "battery.chargingRates.chargeCount: ",
         "out of range"},
        {"{\"battery\": {\"dischargingRates\": 3}}", "battery.dischargingRates: ", "an object is expected"},
        {"{\"firmware\": {\"caFile\": \"/etc/ssl/cert.pem\"}}", "firmware.caFile: ", "under /sim/"},
        {"{\"firmware\": {\"server\": 1}}", "firmware.server: ", "a text is expected"},
        {"\xEF\xBB\xBF{}", "line 1, column 1: ", "byte order mark"},
        {deep, "line 1, column 77: ", "nesting deeper than 64 levels"},
        {"{\"seed\": 9007199254740993}", "seed: ", "out of range"},
        {"{\"lux\": 9007199254740993}", "lux: ", "out of range"},
        {"{\"channels\": [{\"signal\": {\"harmonics\": [1, -9007199254740993]}}]}", "channels[0].signal.harmonics[1]: ", "out of range"},
        {"{\"lux\": 1e999}", "line 1, column 9: ", "number out of range"},
        {"{\"faults\": {\"deadPipeline\": [5]}}", "faults.deadPipeline[0]: ", "out of range"},
        {"{\"faults\": {\"vernierCode\": [1, 2]}}", "faults.vernierCode: ", "4 codes"},
        {"{\"faults\": {\"vernierCode\": [-1, 4096, 0, 0]}}", "faults.vernierCode[1]: ", "out of range"},
        {"{\"gpio\": {\"7\": 18446744073709551617}}", "gpio.7: ", "0 or 1"},
        {"{\"channels\": [{\"probeMemory\": \"/sim/p.bin\\u0000/../../etc/passwd\"}]}", "channels[0].probeMemory: ", "absolute board path"},
    };
    for (const Case& c : cases) {
        simboard::TScenario s;
        std::string why;
        EXPECT_FALSE(simboard::parseScenario(c.text, &s, &why)) << c.text.substr(0, 80);
        EXPECT_EQ(why.rfind(c.place, 0), 0u) << c.text.substr(0, 80) << " -> " << why;
        EXPECT_NE(why.find(c.what), std::string::npos) << c.text.substr(0, 80) << " -> " << why;
    }
    // 64 levels still read (the shape is refused by the scenario's own rules, not the parser).
    std::string at64 = "{\"channels\": " + std::string(63, '[') + std::string(63, ']') + "}";
    simboard::TScenario s;
    std::string why;
    EXPECT_FALSE(simboard::parseScenario(at64, &s, &why));
    EXPECT_EQ(why.find("nesting"), std::string::npos) << why;
}

TEST_F(SimScenario, ProbePathsNameRegularFilesUnderTheRoot)
{
    ASSERT_EQ(::mkfifo(hostPath("/sim/fifo.bin").c_str(), 0600), 0);
    ASSERT_EQ(::symlink("/etc/passwd", hostPath("/sim/out.bin").c_str()), 0);
    ASSERT_EQ(::symlink("/etc", hostPath("/sim/outdir").c_str()), 0);
    for (const char* path : {"/sim/fifo.bin", "/sim", "/../../etc/passwd", "/sim/../../../etc/passwd", "/sim/out.bin", "/sim/outdir/passwd"}) {
        std::string text = std::string("{\"model\": 2, \"channels\": [null, {\"probeMemory\": \"") + path + "\"}]}";
        ASSERT_TRUE(writeBoardFile(simboard::kScenarioPath, text));
        std::string why;
        EXPECT_FALSE(simboard::install(&why)) << path;
        EXPECT_NE(why.find(std::string("channels[1].probeMemory: ") + path), std::string::npos) << why;
        EXPECT_EQ(simboard::scenario().model, 4) << path << ": refused as a whole, the defaults are in force";
        EXPECT_TRUE(simboard::probeMemory(1).empty()) << path;

        EXPECT_FALSE(simboard::loadScenarioText(text, &why)) << path;
        EXPECT_NE(why.find("channels[1].probeMemory"), std::string::npos) << why;
        EXPECT_EQ(simboard::scenario().model, 4) << path << ": a refused text changes nothing";
    }

    // The scenario file itself is read the same way: a FIFO there is refused at once.
    ASSERT_EQ(::unlink(hostPath(simboard::kScenarioPath).c_str()), 0);
    ASSERT_EQ(::mkfifo(hostPath(simboard::kScenarioPath).c_str(), 0600), 0);
    std::string why;
    EXPECT_FALSE(simboard::install(&why));
    EXPECT_NE(why.find("not a regular file"), std::string::npos) << why;
    EXPECT_FALSE(simboard::loadScenarioFile("/sim/fifo.bin", &why));
    EXPECT_NE(why.find("/sim/fifo.bin: not a regular file"), std::string::npos) << why;
}

TEST_F(SimScenario, RandomSourceFollowsTheSeed)
{
    auto draw = [] {
        std::vector<uint32_t> v;
        for (int i = 0; i < 4; ++i)
            v.push_back(simboard::simRandom());
        return v;
    };
    simboard::updateScenario([](simboard::TScenario& s) { s.seed = 42; });
    auto a = draw();
    simboard::updateScenario([](simboard::TScenario& s) { s.seed = 7; });
    simboard::updateScenario([](simboard::TScenario& s) { s.seed = 42; });
    EXPECT_EQ(draw(), a);
    ASSERT_TRUE(simboard::install());
    auto fromFile = draw();
    ASSERT_TRUE(simboard::install());
    EXPECT_EQ(draw(), fromFile) << "each install starts the seed's sequence again";
}

} // namespace
