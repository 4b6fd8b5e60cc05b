// The scenario file of the simulated board, its JSON reader, the board inputs it drives, the
// clock and the random source.
#include "board/board.h"
#include "board/deviceio.h"
#include "board/sim/simboard.h"
#include "board/sim/simjson.h"
#include "tests/support/simfpgaboardtest.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fcntl.h>
#include <thread>

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
    s.gpioInputs = {{123, 1}, {136, 0}};
    simboard::TScenario back;
    std::string why;
    ASSERT_TRUE(simboard::parseScenario(simboard::scenarioToJson(s), &back, &why)) << why;
    EXPECT_EQ(simboard::scenarioToJson(back), simboard::scenarioToJson(s));
    EXPECT_EQ(back.signals[0].harmonics, s.signals[0].harmonics);
    EXPECT_EQ(back.signals[2].offset, -0.1);
    EXPECT_EQ(back.gpioInputs, s.gpioInputs);
    ASSERT_TRUE(back.probes[1].has_value());
    EXPECT_TRUE(*back.probes[1] == probe);
    EXPECT_FALSE(back.probes[0].has_value());
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

TEST(SimJson, ParsesStandardTextAndRefusesTheRest)
{
    simboard::TJson v;
    std::string why;
    ASSERT_TRUE(simboard::parseJson(R"( {"a": [1, -2.5e3, true, null], "b": "x\u00e9\ud83d\ude00\n", "a": 7} )", &v, &why)) << why;
    EXPECT_EQ(v.find("a")->number, 7) << "the last duplicate wins";
    EXPECT_EQ(v.find("b")->string, "x\xC3\xA9\xF0\x9F\x98\x80\n");
    EXPECT_EQ(v.object[0].second.array[1].number, -2500);

    for (const char* bad : {"", "{", "[1,]", "{\"a\" 1}", "01", "1.", "\"\\x\"", "\"\\ud800\"", "tru", "\"a\nb\"", "1e999"}) {
        EXPECT_FALSE(simboard::parseJson(bad, &v, &why)) << bad;
        EXPECT_EQ(why.rfind("line ", 0), 0u) << bad << " -> " << why;
    }
    std::string deep(1000, '[');
    EXPECT_FALSE(simboard::parseJson(deep, &v, &why));
    EXPECT_NE(why.find("too deep"), std::string::npos);
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
