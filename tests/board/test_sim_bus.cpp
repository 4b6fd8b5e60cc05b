// The simulated board's field-bus source: a pure function of time, edges shared by the wires,
// the CAN frame's stuffing, and its scenario keys.
#include "board/sim/simboard.h"
#include "tests/support/simboardtest.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace {

class SimBus : public SimBoardTest {
protected:
    void SetUp() override
    {
        SimBoardTest::SetUp();
        useCanBusSignals();
    }
};

// Index of the first word at or above the level after from.
int32_t crossing(const std::vector<uint32_t>& w, int32_t from, uint32_t level)
{
    for (int32_t i = from; i < int32_t(w.size()); ++i)
        if (w[i] >= level)
            return i;
    return -1;
}

} // namespace

TEST_F(SimBus, SameInstantSameValueInAnyOrder)
{
    std::vector<double> times;
    for (int i = 0; i < 2000; ++i)
        times.push_back(1e-6 + i * 7.3e-9);
    std::vector<double> forward;
    for (double t : times)
        forward.push_back(simboard::inputVolts(0, t));
    std::vector<double> backward(times.size());
    for (size_t i = times.size(); i-- > 0;)
        backward[i] = simboard::inputVolts(0, times[i]);
    EXPECT_EQ(forward, backward);
    EXPECT_EQ(simboard::inputVolts(3, 5e-6), simboard::inputVolts(3, 5e-6));
    // Both levels occur: about 0 V and 0.2 V at the input (2 V at the bus, divided by 10).
    const auto [lo, hi] = std::minmax_element(forward.begin(), forward.end());
    EXPECT_NEAR(*lo, 0.0, 0.02);
    EXPECT_NEAR(*hi, 0.2, 0.02);
}

TEST_F(SimBus, WiresShareTheirEdges)
{
    simboard::updateScenario([](simboard::TScenario& s) {
        s.bus.jitter = 20e-9;
        s.bus.noise = 0;
    });
    for (int occurrence : {0, 3, 7}) {
        simboard::TBusTraceRequest q;
        q.timeBase = 9;  // 1e-10 s a sample, 10 us a record
        q.event = simboard::TBusTraceRequest::RisingEdge;
        q.occurrence = occurrence;
        std::vector<uint32_t> diff(100000), high(100000);
        ASSERT_TRUE(simboard::sampleBusTrace(q, diff.data()));
        q.channel = 3;
        ASSERT_TRUE(simboard::sampleBusTrace(q, high.data()));
        // Half way: diff 0 -> 2 V, CAN-H 2.5 -> 3.5 V, both / 10 at 0.1 V a division.
        const int32_t a = crossing(diff, 40000, 524256 + 32760);
        const int32_t b = crossing(high, 40000, 524256 + 3 * 32760);
        ASSERT_GT(a, 0);
        EXPECT_NEAR(a, b, 30) << occurrence;  // 3 ns: the step shapes differ slightly
        EXPECT_NEAR(a, 50000, 1000) << "20 ns of jitter at most a few sigma";
    }
}

TEST(SimBusFrame, CanFrameStuffing)
{
    struct Case {
        uint32_t id;
        std::vector<uint8_t> data;
    } cases[] = {{0x123, {0x55, 0xAA, 0x0F, 0x81}}, {0, {}}, {0x7FF, {0xFF, 0xFF, 0x00, 0x00, 0xFF, 0xFF, 0, 0}},
                 {0x555, {0x0F}}};
    for (const Case& c : cases) {
        const std::vector<uint8_t> bits = simboard::bus::canFrameBits(c.id, c.data);
        ASSERT_GT(bits.size(), 10u + 19 + 15);
        const size_t stuffedEnd = bits.size() - 10;  // CRC delimiter, ACK, ACK delimiter, EOF follow
        int run = 0;
        for (size_t i = 0; i < stuffedEnd; ++i) {
            run = i > 0 && bits[i] == bits[i - 1] ? run + 1 : 1;
            ASSERT_LE(run, 5) << std::hex << c.id << " at bit " << std::dec << i;
        }
        EXPECT_EQ(bits[0], 0) << "SOF";
        EXPECT_EQ(std::vector<uint8_t>(bits.end() - 10, bits.end()),
                  (std::vector<uint8_t>{1, 0, 1, 1, 1, 1, 1, 1, 1, 1}));
    }
    // An identifier of all zeros gets a stuff bit after the SOF and four identifier bits.
    const std::vector<uint8_t> zero = simboard::bus::canFrameBits(0, {});
    EXPECT_EQ(std::vector<uint8_t>(zero.begin(), zero.begin() + 7), (std::vector<uint8_t>{0, 0, 0, 0, 0, 1, 0}));
}

TEST(SimBusScenario, KeysRoundTripAndErrorsNameTheKey)
{
    simboard::TScenario s = simboard::defaultScenario();
    s.bus.bitRate = 125000;
    s.bus.coding = "manchester";
    s.bus.canFrame = false;
    s.bus.bits = "0110";
    s.bus.idleBits = 3;
    s.bus.high[0] = 4;
    s.bus.low[1] = -1.5;
    s.bus.edge0 = 1e-7;
    s.bus.jitter = 0;
    s.bus.seed = 99;
    s.signals[2].shape = "bus";
    s.signals[2].wire = simboard::kBusLow;
    s.signals[2].attenuation = 100;
    simboard::TScenario back;
    std::string why;
    ASSERT_TRUE(simboard::parseScenario(simboard::scenarioToJson(s), &back, &why)) << why;
    EXPECT_EQ(simboard::scenarioToJson(back), simboard::scenarioToJson(s));
    EXPECT_EQ(back.bus.bits, "0110");
    EXPECT_EQ(back.signals[2].wire, simboard::kBusLow);

    ASSERT_TRUE(simboard::parseScenario(R"({"bus": {"frame": {"can": {"id": 256, "data": "de ad"}}}})", &back, &why));
    EXPECT_TRUE(back.bus.canFrame);
    EXPECT_EQ(back.bus.canId, 256u);
    EXPECT_EQ(back.bus.canData, (std::vector<uint8_t>{0xDE, 0xAD}));

    struct Case {
        const char* json;
        const char* place;
    } cases[] = {
        {R"({"bus": {"edge0": "fast"}})", "bus.edge0"},
        {R"({"bus": {"bitRate": 0}})", "bus.bitRate"},
        {R"({"bus": {"coding": "4b5b"}})", "bus.coding"},
        {R"({"bus": {"frame": {"can": {"id": 2048}}}})", "bus.frame.can.id"},
        {R"({"bus": {"frame": {"can": {"data": "123"}}}})", "bus.frame.can.data"},
        {R"({"bus": {"frame": {"bits": "01x"}}})", "bus.frame.bits"},
        {R"({"bus": {"levels": {"high": [1]}}})", "bus.levels.high"},
        {R"({"bus": {"levels": {"low": [1, "a"]}}})", "bus.levels.low[1]"},
        {R"({"bus": []})", "bus"},
        {R"({"channels": [{"signal": {"shape": "bus", "wire": "both"}}]})", "channels[0].signal.wire"},
        {R"({"channels": [{"signal": {"shape": "bus", "attenuation": 0}}]})", "channels[0].signal.attenuation"},
    };
    for (const Case& c : cases) {
        why.clear();
        EXPECT_FALSE(simboard::parseScenario(c.json, &back, &why)) << c.json;
        EXPECT_EQ(why.rfind(std::string(c.place) + ":", 0), 0u) << c.json << " -> " << why;
    }
}
