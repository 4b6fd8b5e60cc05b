// Trace transfer and mask files as a remote user sees them: a running benchview on a simulated
// board of the test's own (the default 1 kHz sine on channel 1), over loopback TCP.
#include "board/board.h"
#include "board/sim/simboard.h"
#include "core/gest_db.h"
#include "tests/scpi/benchview_fixture.h"
#include "tests/support/poweronsetup.h"

#include <gtest/gtest.h>

#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdint>
#include <cstring>
#include <string>
#include <thread>

using namespace std::chrono_literals;

namespace {

constexpr auto kStartTimeout = 60s;
constexpr int kReplyTimeoutMs = 30000;
const std::string kNoError = "0,No error \n\r";
// The samples of a trace file follow its headers.
constexpr size_t kTraceFileSamples = 194;

class RemoteTraces : public BenchviewScpiTest {
protected:
    void startScope()
    {
        ASSERT_EQ(writePowerOnSetup(scopeOnChannel1), 0);
        start();
        ASSERT_TRUE(process_.waitForThread("scpiMgrTcp", kStartTimeout)) << process_.log();
        fd_ = connectClient();
        ASSERT_GE(fd_, 0) << process_.log();
        // The prepared setup is applied at the end of start-up; channel 1 then shows.
        const auto deadline = std::chrono::steady_clock::now() + kStartTimeout;
        while (ask("TRAC:CAT?\n") != "INT1\n\r") {
            ASSERT_LT(std::chrono::steady_clock::now(), deadline) << process_.log();
            std::this_thread::sleep_for(100ms);
        }
        std::this_thread::sleep_for(1s);
    }

    std::string ask(const std::string& lines, size_t replies = 1)
    {
        if (!writeAll(fd_, lines))
            return "write failed";
        std::string out;
        if (!readReplies(fd_, replies, &out, kReplyTimeoutMs))
            return "timeout: " + out;
        return out;
    }

    // Exactly n bytes of the stream, or what came before the time-out.
    std::string readExactly(size_t n)
    {
        std::string out;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kReplyTimeoutMs);
        while (out.size() < n && std::chrono::steady_clock::now() < deadline) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, 100) <= 0)
                continue;
            char buf[65536];
            const ssize_t r = ::read(fd_, buf, std::min(sizeof buf, n - out.size()));
            if (r <= 0)
                break;
            out.append(buf, static_cast<size_t>(r));
        }
        return out;
    }

    std::string query(const std::string& line, size_t bytes)
    {
        return writeAll(fd_, line + "\n") ? readExactly(bytes) : "write failed";
    }

    // The held record as the trace file stores it: 100000 words, four little-endian bytes each.
    std::string storedSamples()
    {
        EXPECT_EQ(ask("TRIG:RUN:STAT OFF\n*OPC?\n"), "1\n\r");
        EXPECT_EQ(ask("MMEM:STOR:TRAC \"t1\"\n*OPC?\n"), "1\n\r");
        const std::string file = readWholeFile(root_ + "/media/user/t1.trc");
        EXPECT_GE(file.size(), kTraceFileSamples + 400000);
        return file.size() >= kTraceFileSamples + 400000 ? file.substr(kTraceFileSamples, 400000) : std::string();
    }

    int fd_ = -1;
};

// The bytes of words first, first + step, ... up to last, in a text format.
std::string textValues(const std::string& samples, size_t first, size_t last, size_t step, int format)
{
    std::string out;
    for (size_t w = first; w <= last; w += step)
        for (size_t b = 0; b < 4; ++b) {
            const unsigned char v = static_cast<unsigned char>(samples[w * 4 + b]);
            char text[16];
            if (format == 0) {
                std::snprintf(text, sizeof text, "%u,", v);
            } else if (format == 1) {
                std::snprintf(text, sizeof text, "#H%02x,", v);
            } else {
                std::string bits = "#B";
                for (int bit = 7; bit >= 0; --bit)
                    bits += static_cast<char>('0' + ((v >> bit) & 1));
                std::snprintf(text, sizeof text, "%s,", bits.c_str());
            }
            out += text;
        }
    return out;
}

TEST_F(RemoteTraces, EveryFormatGivesTheWordsOfTheHeldRecord)
{
    startScope();
    const std::string samples = storedSamples();
    ASSERT_EQ(samples.size(), 400000u);

    EXPECT_EQ(ask("FORM INT\nFORM?\nTRAC:LIM 0,9,1\nTRAC:LIM?\n", 2), "INT\n\r0,9,1\n\r");
    EXPECT_EQ(query("TRAC? INT1", 46), "#240" + samples.substr(0, 40) + "\n\r");
    EXPECT_EQ(ask("TRAC:LIM 100,199,10\nTRAC:LIM?\n"), "100,199,10\n\r");
    std::string block;
    for (size_t w = 100; w <= 190; w += 10)
        block += samples.substr(w * 4, 4);
    EXPECT_EQ(query("TRAC:DATA? INT1", 46), "#240" + block + "\n\r");
    for (int format : {0, 1, 2}) {
        static const char* const kNames[3] = {"ASC", "HEX", "BIN"};
        EXPECT_EQ(ask(std::string("FORM ") + kNames[format] + "\nFORM?\n"), std::string(kNames[format]) + "\n\r");
        EXPECT_EQ(ask("TRAC? INT1\n"), textValues(samples, 100, 190, 10, format) + "\n\r") << kNames[format];
    }
    // The whole record in one block.
    ASSERT_EQ(ask("FORM INT\nTRAC:LIM 0,99999,1\n*OPC?\n"), "1\n\r");
    EXPECT_EQ(query("TRAC? INT1", 400010), "#6400000" + samples + "\n\r");
    EXPECT_EQ(ask("SYST:ERR?\n"), kNoError);
}

TEST_F(RemoteTraces, LimitsDifImagesAndRefusals)
{
    startScope();
    struct Case {
        const char* line;
        const char* error;
    };
    for (const Case& c : {Case{"TRAC:LIM 0,100000,1", "-222,Data out of range"},
                          Case{"TRAC:LIM 10,5,1", "-222,Data out of range"},
                          Case{"TRAC:LIM 0,5,10", "-222,Data out of range"},
                          Case{"TRAC:LIM 0,5,0", "-222,Data out of range"},
                          Case{"TRAC:LIM -1,5,1", "-222,Data out of range"},
                          Case{"TRAC?", "-109,Missing parameter"},
                          Case{"TRAC? INT2", "-221,Settings conflict"},
                          Case{"TRAC? IMG3", "-221,Settings conflict"}}) {
        EXPECT_EQ(ask(std::string(c.line) + "\nSYST:ERR?\n"), std::string(c.error) + "\n\r") << c.line;
    }
    EXPECT_EQ(ask("TRAC:LIM?\n"), "0,99999,1\n\r");

    // The display record: 2500 words whatever the window.
    ASSERT_EQ(ask("TRIG:RUN:STAT OFF\nFORM INT\nTRAC:LIM 0,9,1\n*OPC?\n"), "1\n\r");
    const std::string image = query("TRAC? IMG1", 10009);
    ASSERT_EQ(image.size(), 10009u);
    EXPECT_EQ(image.substr(0, 7), "#510000");
    EXPECT_EQ(image.substr(10007), "\n\r");

    // DIF: the header around the data, closed by ")))".
    const std::string dif = ask("FORM:DINT ON\nFORM:DINT?\nFORM ASC\nTRAC? INT1\n", 2);
    EXPECT_EQ(dif.substr(0, 3), "1\n\r");
    const std::string body = dif.substr(3);
    EXPECT_EQ(body.rfind("(DIF (VER 1999.1) DIM=X (TYPE IMPL SCAL ", 0), 0u) << body;
    EXPECT_NE(body.find(" SIZE 10 UNITs \"S\") DIM=Y (TYPE EXPL SCAL "), std::string::npos) << body;
    EXPECT_NE(body.find(" SIZE 262081 OFFS "), std::string::npos) << body;
    EXPECT_NE(body.find(" UNIT \"V\") DATA (CURV ("), std::string::npos) << body;
    EXPECT_EQ(body.substr(body.size() - 6), ",)))\n\r") << body;
    const std::string intDif = ask("FORM INT\nTRAC? INT1\n");
    EXPECT_NE(intDif.find("DATA (CURV (#240"), std::string::npos);
    EXPECT_EQ(intDif.substr(intDif.size() - 5), ")))\n\r");

    // The catalogue follows the shown channels.
    EXPECT_EQ(ask("DISP:TRAC:STAT3 ON\n*OPC?\nTRAC:CAT?\n", 2), "1\n\rINT1,INT3\n\r");
    EXPECT_EQ(ask("DISP:TRAC:STAT1 OFF\nDISP:TRAC:STAT3 OFF\n*OPC?\nTRAC:CAT?\n", 2), "1\n\r\n\r");
    EXPECT_EQ(ask("SYST:ERR?\n"), kNoError);
}

TEST_F(RemoteTraces, AClientLeavingInTheMiddleOfARecordHarmsNobody)
{
    startScope();
    ASSERT_EQ(ask("FORM INT\n*OPC?\n"), "1\n\r");
    ASSERT_TRUE(writeAll(fd_, "TRAC? INT1\n"));
    EXPECT_EQ(readExactly(1000).size(), 1000u);
    ::close(fd_);
    fds_.clear();
    fd_ = connectClient();
    ASSERT_GE(fd_, 0) << process_.log();
    // The instrument may have logged the broken write of the record it was sending (the queue
    // is the instrument's, not the connection's); nothing else.
    const std::string left = ask("SYST:ERR?\n");
    if (left != kNoError) {
        EXPECT_EQ(left, "-360,Communication error\n\r");
        EXPECT_EQ(ask("SYST:ERR?\n"), kNoError);
    }
    EXPECT_EQ(ask("FORM?\n"), "INT\n\r");
    EXPECT_EQ(query("TRAC? INT1", 400010).size(), 400010u);
    // The acquisition still runs: a stored record and a fresh one differ.
    EXPECT_EQ(ask("*OPC?\n"), "1\n\r");
    EXPECT_EQ(ask("SYST:ERR?\n"), kNoError);
}

TEST_F(RemoteTraces, MaskFilesGoThroughTheController)
{
    startScope();
    const std::string media = root_ + "/media/user/";
    EXPECT_EQ(ask("PASSFAIL:BEEP?\nSYST:ERR?\n"), "-221,Settings conflict\n\r");
    EXPECT_EQ(ask("PASSFAIL:STATE ON\nPASSFAIL:XMASK 1.5\nPASSFAIL:XMASK?\n"), "1.50\n\r");
    EXPECT_EQ(ask("PASSFAIL:XMASK 2.5\nSYST:ERR?\n"), "-222,Data out of range\n\r");
    EXPECT_EQ(ask("PASSFAIL:LOAD \"a.trc\"\nSYST:ERR?\n"), "-257,File name error\n\r");
    EXPECT_EQ(ask("PASSFAIL:SAVE \"m1.msk\"\n*OPC?\n"), "1\n\r");
    struct stat st;
    ASSERT_EQ(::stat((media + "m1.msk").c_str(), &st), 0) << process_.log();
    EXPECT_EQ(ask("PASSFAIL:LOAD \"m1.msk\"\n*OPC?\nSYST:ERR?\n", 2), "1\n\r" + kNoError);
    EXPECT_EQ(ask("PASSFAIL:LOAD \"none.msk\"\nSYST:ERR?\n"), "-256,File name not found\n\r");
    // Nothing leaves the medium.
    EXPECT_EQ(ask("PASSFAIL:SAVE \"../m2.msk\"\nSYST:ERR?\n"), "-257,File name error\n\r");
    EXPECT_EQ(ask("PASSFAIL:SAVE \"/../../m3.msk\"\nSYST:ERR?\n"), "-257,File name error\n\r");
    EXPECT_NE(::stat((root_ + "/media/m2.msk").c_str(), &st), 0);
    EXPECT_NE(::stat((root_ + "/m3.msk").c_str(), &st), 0);
    EXPECT_EQ(ask("PASSFAIL:COUNT:ALL?\n").back(), '\r');
}

// A real VISA client (Debian's PyVISA with its pure-Python backend) reads the record in every
// format. Fails when the packages are missing.
TEST_F(RemoteTraces, AVisaClientReadsTheRecordInEveryFormat)
{
    startScope();
    std::string output;
    EXPECT_EQ(runClientScript(PYVISA_TRACES_SCRIPT, &output), 0) << output;
    EXPECT_NE(output.find("OK"), std::string::npos) << output;
}

} // namespace
