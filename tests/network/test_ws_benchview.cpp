// The web service of a running benchview, over loopback UDP, on a simulated board of the
// test's own.
#include "network/pelanodeInterface.h"
#include "core/calibfile.h"
#include "core/scale.h"
#include "tests/support/benchviewprocess.h"
#include "tests/network/ws_test_client.h"
#include "tests/support/simboardtest.h"
#include "board/sim/simboard.h"

#include <fstream>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <chrono>
#include <functional>
#include <thread>
#include <poll.h>
#include <string>
#include <unistd.h>
#include <vector>
#include <algorithm>
#include <cmath>
#include <cstdlib>

using namespace std::chrono_literals;

namespace {

class BenchviewWebService : public SimBoardTest {
protected:
    // The root is seeded here, not by the program: it needs the program's calibration step, or
    // the program runs on the factory record and every level reads 12 % low.
    void SetUp() override
    {
        registerCalibrationSeed();
        SimBoardTest::SetUp();
    }
    void TearDown() override
    {
        process_.kill();  // before the root goes
        SimBoardTest::TearDown();
    }

    // Starts the program and waits until its web service answers.
    void start()
    {
        auto options = BenchviewProcess::Options::headless(root_, portOffset_);
        options.environment.push_back("BENCHVIEW_SCPI_LOOPBACK_ONLY=1");
        options.environment.push_back("BENCHVIEW_HTTP_LOOPBACK_ONLY=1");
        options.environment.push_back("BENCHVIEW_WS_LOOPBACK_ONLY=1");
        ASSERT_TRUE(process_.start(BENCHVIEW_EXE, options));
        ASSERT_TRUE(client_.ok());
        client_.target(kWsPort + portOffset_);

        // Generous: start-up under the sanitizers on a loaded machine.
        const auto deadline = std::chrono::steady_clock::now() + 60s;
        while (std::chrono::steady_clock::now() < deadline) {
            send("/nothing");
            if (!receive(200).empty())
                return;
            ASSERT_TRUE(process_.running()) << process_.log();
        }
        FAIL() << "no answer from the web service\n" << process_.log();
    }

    void send(const std::string& datagram) { client_.send(datagram); }

    // The datagrams that arrive until `quietMs` pass without one; the first is awaited up to
    // `firstMs`.
    std::vector<std::string> receive(int quietMs, int firstMs = -1)
    {
        std::vector<std::string> out;
        const TWsAnswer first = client_.receive(firstMs > 0 ? firstMs : quietMs, quietMs);
        size_t at = 0;
        for (size_t size : first.sizes) {
            out.push_back(first.bytes.substr(at, size));
            at += size;
        }
        if (!out.empty()) {
            for (std::string& d : client_.drain(quietMs))
                out.push_back(std::move(d));
        }
        return out;
    }

    // One request, one answer awaited generously; empty when none came.
    std::string exchange(const std::string& datagram)
    {
        send(datagram);
        const std::vector<std::string> got = receive(50, 10000);
        return got.size() == 1 ? got[0] : std::string("<" + std::to_string(got.size()) + " datagrams>");
    }

    // Asks until the reply satisfies `done` (up to 30 s); the last reply.
    std::string until(const std::string& datagram, const std::function<bool(const std::string&)>& done)
    {
        std::string r;
        const auto deadline = std::chrono::steady_clock::now() + 30s;
        while (std::chrono::steady_clock::now() < deadline) {
            r = client_.exchange(datagram).bytes;
            if (done(r))
                return r;
            std::this_thread::sleep_for(100ms);
        }
        return r;
    }
    // The status field (after the count) of a request, or "" when the reply is malformed.
    static std::string field(const std::string& reply, size_t index)
    {
        std::vector<std::string> f;
        return wsFields(reply, &f) && index < f.size() ? f[index] : std::string();
    }

    // The scenario the program reads at start: the defaults with a change.
    void useScenario(const std::function<void(simboard::TScenario&)>& change)
    {
        simboard::TScenario s = simboard::defaultScenario();
        change(s);
        std::ofstream(hostPath("/sim/scenario.json")) << simboard::scenarioToJson(s);
    }
    // Switches to an instrument mode and waits until the status shows it.
    void useMode(int mode)
    {
        const std::string m = std::to_string(mode);
        exchange("/instrument?mode=" + m);
        ASSERT_EQ(field(until("/status", [&](const std::string& r) { return field(r, 6) == m; }), 6), m);
    }
    // A value text ("2.50 V", "12.3 mV"): its number with the prefix applied; NaN when it has none.
    static double valueOf(const std::string& text)
    {
        char* end = nullptr;
        double v = std::strtod(text.c_str(), &end);
        if (end == text.c_str())
            return NAN;
        while (*end == ' ')
            ++end;
        switch (*end) {
        case 'u': v *= 1e-6; break;
        case 'm': v *= 1e-3; break;
        case 'k': v *= 1e3; break;
        default: break;
        }
        return v;
    }

    BenchviewProcess process_;
    TWsTestClient client_;
};

TEST_F(BenchviewWebService, AnswersUnknownNamesWithMinusOne)
{
    start();
    EXPECT_EQ(exchange("/nothing"), "-1,");
    EXPECT_EQ(exchange("/idle"), "-1,");
    EXPECT_EQ(exchange("/identify").compare(0, 2, "3,"), 0);  // names are matched as prefixes

    // An empty datagram gets no reply; the next request is answered as usual.
    send("");
    EXPECT_TRUE(receive(300).empty());
    EXPECT_EQ(exchange("/status").compare(0, 2, "9,"), 0);

    // An over-long request is refused whole, not cut and served; the longest one is served.
    EXPECT_EQ(exchange("/status?o=1&x=" + std::string(4000, 'x')), "-1,");
    EXPECT_EQ(exchange("/status?o=1&x=" + std::string(kWsDatagramMax - 14, 'x')).compare(0, 2, "9,"), 0);
}

TEST_F(BenchviewWebService, SurvivesABurstOfBadDatagrams)
{
    start();
    std::string binary(2000, '\0');
    for (size_t i = 0; i < binary.size(); ++i)
        binary[i] = static_cast<char>(i * 37);
    const std::vector<std::string> bad = {
        "",
        binary,
        "/calibr?o=" + binary,
        "/status?o=99999999999999999999&o=abc",
        "/savefile?" + std::string(2998, '&'),
        std::string(20000, '/'),
        "?=&=&",
        std::string("/list\0\0\0", 8),
    };
    for (int round = 0; round < 50; ++round)
        for (const std::string& datagram : bad)
            send(datagram);
    receive(500);  // what was answered, as far as the socket kept it
    ASSERT_TRUE(process_.running()) << process_.log();
    EXPECT_EQ(exchange("/nothing"), "-1,");
}

// The first steps of a new user: switch the scope on with channel 1, look at its trace and read
// its frequency (the default scenario's 1 kHz sine on channel 1).
TEST_F(BenchviewWebService, ShowsChannelOneOfTheScopeWithItsTraceAndFrequency)
{
    start();
    const std::string mode = exchange("/instrument?mode=16");
    EXPECT_EQ(mode.compare(0, 2, "1,"), 0) << mode;
    EXPECT_EQ(field(until("/status", [](const std::string& r) { return field(r, 6) == "16"; }), 6), "16");
    EXPECT_EQ(exchange("/verticalScope?channel=1&p0=1"), "0,");
    // A few periods on the screen (a record of about 5 ms), and the measurement panel on.
    int timeBase = 0;
    for (unsigned short i = 0; i < kTimeBaseCount; ++i)
        if (std::fabs(std::log(GetAcquisitionLength(i) / 5e-3)) < std::fabs(std::log(GetAcquisitionLength(timeBase) / 5e-3)))
            timeBase = i;
    EXPECT_EQ(exchange("/horizontalScope?p1=" + std::to_string(timeBase)), "0,");
    EXPECT_EQ(exchange("/measuresScope?p1=3"), "0,");

    TWsTraceReply traces;
    std::string why;
    const std::string r = until("/tracesScope?channels=1", [&](const std::string& bytes) {
        if (!wsParseTraces(bytes, &traces, &why) || traces.blocks.size() != 1)
            return false;
        const std::vector<uint32_t>& c = traces.blocks[0].codes;
        const auto range = std::minmax_element(c.begin(), c.end());
        return (*range.first & 0x80000000u) == 0 && *range.second - *range.first > 20000;
    });
    ASSERT_TRUE(wsParseTraces(r, &traces, &why)) << why;
    ASSERT_EQ(traces.blocks.size(), 1u) << process_.log();
    const std::vector<uint32_t>& codes = traces.blocks[0].codes;
    ASSERT_EQ(codes.size(), 2500u);
    // A sine: the codes cross their middle in both directions, more than once.
    const auto range = std::minmax_element(codes.begin(), codes.end());
    const uint32_t middle = (*range.first + *range.second) / 2;
    int crossings = 0;
    for (size_t i = 1; i < codes.size(); ++i)
        crossings += (codes[i - 1] < middle) != (codes[i] < middle);
    EXPECT_GE(crossings, 2);
    EXPECT_GT(*range.second - *range.first, 20000u);

    // Frequency: the 16th of the 20 texts.
    const std::string m = until("/measuresScope?channel=1", [](const std::string& bytes) {
        return field(bytes, 2 + 15).find("Hz") != std::string::npos && field(bytes, 2 + 15).find("---") == std::string::npos;
    });
    // 1 kHz, printed either side of the prefix step ("1.00 kHz" or "1000 Hz" just below it).
    const std::string frequency = field(m, 2 + 15);
    const double hertz = std::atof(frequency.c_str()) * (frequency.find("kHz") != std::string::npos ? 1000.0 : 1.0);
    EXPECT_NEAR(hertz, 1000.0, 20.0) << m;
}

TEST_F(BenchviewWebService, StatusFollowsAFormatChangeAndASavedSetupIsFetched)
{
    start();
    exchange("/instrument?mode=16");
    until("/status", [](const std::string& r) { return field(r, 6) == "16"; });
    EXPECT_EQ(exchange("/horizontalScope?p0=1"), "0,");
    EXPECT_EQ(field(until("/status", [](const std::string& r) { return field(r, 7) == "20"; }), 7), "20");
    EXPECT_EQ(exchange("/horizontalScope?p0=0"), "0,");
    EXPECT_EQ(field(until("/status", [](const std::string& r) { return field(r, 7) == "1"; }), 7), "1");

    EXPECT_EQ(exchange("/savefile?p0=0&p2=s1"), "0,");
    const std::string file = until("/getfile?p0=/setups/s1.cfg", [](const std::string& r) { return r != "-1,"; });
    long long size = 0;
    std::string body;
    ASSERT_TRUE(wsParseGetfile(file, &size, &body)) << file.substr(0, 20);
    EXPECT_EQ(size, 1360);
    EXPECT_EQ(body, readWholeFile(hostPath("/media/user/setups/s1.cfg")));
}

// The factory requests of the calibration client, one of each, by their reply lengths.
TEST_F(BenchviewWebService, AnswersTheFactoryRequests)
{
    start();
    const std::string pipeline = exchange("/pipeline");
    EXPECT_EQ(pipeline.size(), 306u);
    EXPECT_EQ(pipeline.compare(0, 2, "1,"), 0);
    const std::string scaling = exchange("/scaling?channel=2");
    EXPECT_EQ(scaling.size(), 36u);
    EXPECT_EQ(scaling.compare(0, 2, "1,"), 0);
    const std::string record = exchange("/calibr");
    ASSERT_EQ(record.size(), 2424u);
    EXPECT_EQ(record.compare(0, 2, "1,"), 0);
    EXPECT_EQ(exchange("/cflash"), "0,");
    const std::string fpga = exchange("/fpga?spi=99");
    EXPECT_EQ(fpga.compare(0, 9, "3,spi,99,"), 0) << fpga;
    EXPECT_EQ(fpga.back(), ',');
    // The record sent back as it came is accepted (its checksum is the instrument's own).
    EXPECT_EQ(exchange("/calibr?" + record.substr(2)), "0,");
    ASSERT_TRUE(process_.running()) << process_.log();
}

// A new user reads the meter and the harmonic analyser from the remote client.
TEST_F(BenchviewWebService, MeterReadsTheDcLevelOfChannelOne)
{
    useScenario([](simboard::TScenario& s) {
        s.signals[0] = simboard::TSignal{};
        s.signals[0].shape = "dc";
        s.signals[0].offset = 2.5;
    });
    start();
    useMode(128);
    // Channel 1 shown, DC coupling (client code 6).
    EXPECT_EQ(exchange("/verticalMeter?channel=1&p0=1&p3=6"), "0,");
    TWsMeterBox box;
    const std::string r = until("/measuresMeter?channel=1", [&](const std::string& bytes) {
        return wsParseMeterBox(bytes, &box) && std::fabs(valueOf(box.texts[2]) - 2.5) < 0.05;
    });
    ASSERT_TRUE(wsParseMeterBox(r, &box)) << r;
    EXPECT_EQ(box.label, "CH1");
    EXPECT_EQ(box.state, 1);
    EXPECT_EQ(box.texts[1], "DC");
    EXPECT_NEAR(valueOf(box.texts[2]), 2.5, 0.05) << r;
    EXPECT_NE(box.texts[2].find('V'), std::string::npos) << r;
}

TEST_F(BenchviewWebService, HarmonicAnalyserReadsRmsAndDistortion)
{
    constexpr double kVpp = 4.0;
    useScenario([&](simboard::TScenario& s) {
        s.signals[0] = simboard::TSignal{};
        s.signals[0].shape = "harmonics";
        s.signals[0].frequency = 50;
        s.signals[0].vpp = kVpp;
        s.signals[0].harmonics = {1, 0, 0.2};
    });
    // The relative amplitudes are scaled so that their sum gives half the peak-to-peak value.
    const double rms = kVpp / 2 / 1.2 * std::sqrt((1.0 + 0.04) / 2.0);
    start();
    useMode(64);
    EXPECT_EQ(exchange("/verticalScope?channel=1&p0=1"), "0,");
    TWsHarmonicMeasures m;
    const std::string r = until("/measuresHarmonic", [&](const std::string& bytes) {
        return wsParseHarmonicMeasures(bytes, &m) && std::isfinite(valueOf(m.blocks[0].readings[0]));
    });
    ASSERT_TRUE(wsParseHarmonicMeasures(r, &m)) << r;
    // Order 1, the fundamental: all of the relative level, at 50 Hz; the RMS value holds the
    // fundamental and the third harmonic at a fifth of it.
    const std::vector<std::string>& f = m.blocks[0].readings;
    EXPECT_NEAR(valueOf(f[0]), rms, rms * 0.01) << r;
    EXPECT_NEAR(valueOf(f[0]), valueOf(f[5]) * std::sqrt(1.04), valueOf(f[0]) * 0.01) << r;
    EXPECT_EQ(f[1], "20.0 %") << r;
    EXPECT_EQ(f[2], "100.0 %") << r;
    EXPECT_EQ(f[4], "50.0 Hz") << r;
    EXPECT_EQ(m.blocks[0].colour, std::stoi(field(exchange("/verticalScope?channel=1"), 1)));
}

} // namespace
