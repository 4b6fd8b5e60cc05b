// The interpreter end to end: a running benchview on a simulated board of the test's own,
// driven over loopback TCP and over the USB gadget's pseudo-terminal.
#include "board/board.h"
#include "board/simgadget.h"
#include "core/calibfile.h"
#include "tests/scpi/benchview_fixture.h"
#include "tests/support/locales.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <langinfo.h>
#include <locale.h>
#include <string>
#include <sys/wait.h>
#include <termios.h>
#include <vector>

using namespace std::chrono_literals;

namespace {

// Generous: start-up under the sanitizers on a loaded machine.
constexpr auto kStartTimeout = 60s;
constexpr int kReplyTimeoutMs = 20000;
const std::string kNoError = "0,No error \n\r";

class ScpiLoopback : public BenchviewScpiTest {
protected:
    // Starts benchview and waits until the TCP manager runs; the interpreter starts right
    // after it, and replies are awaited generously.
    void start(const std::vector<std::string>& extraEnvironment = {})
    {
        BenchviewScpiTest::start(extraEnvironment);
        if (HasFatalFailure())
            return;
        ASSERT_TRUE(process_.waitForThread("scpiMgrTcp", kStartTimeout)) << process_.log();
    }

    // Writes the lines and reads until `replies` terminators arrived; "timeout: ..." otherwise.
    static std::string exchange(int fd, const std::string& lines, size_t replies)
    {
        if (!writeAll(fd, lines))
            return "write failed";
        std::string out;
        if (!readReplies(fd, replies, &out, kReplyTimeoutMs))
            return "timeout: " + out;
        return out;
    }

    // Parses a "%.2e\n\r" reply; NAN when it is not one.
    static double number(const std::string& reply)
    {
        if (reply.size() < 3 || reply.compare(reply.size() - 2, 2, "\n\r") != 0)
            return NAN;
        char* end = nullptr;
        const std::string text = reply.substr(0, reply.size() - 2);
        double v = std::strtod(text.c_str(), &end);
        return end && *end == '\0' ? v : NAN;
    }

};

TEST_F(ScpiLoopback, FactoryIdentityWithoutCalibrationFile)
{
    ::unlink(hostPath(kCalibrationFile).c_str());
    start();
    int fd = connectClient();
    ASSERT_GE(fd, 0);
    EXPECT_EQ(exchange(fd, "*IDN?\n", 1), "NONAME, V1.12/ZZ, 0000000000\n\r");
}

TEST_F(ScpiLoopback, PowerOnStatusThenEventRegisterReadAndCleared)
{
    start();
    int fd = connectClient();
    ASSERT_GE(fd, 0);
    EXPECT_EQ(exchange(fd, "*STB?\n", 1), "96\n\r");
    EXPECT_EQ(exchange(fd, "*ESR?\n", 1), "128\n\r");
    EXPECT_EQ(exchange(fd, "*ESR?\n", 1), "0\n\r");
}

TEST_F(ScpiLoopback, CarriageReturnLineFeedGivesOneReplyAndNoError)
{
    start();
    int fd = connectClient();
    ASSERT_GE(fd, 0);
    std::string idn = exchange(fd, "*IDN?\r\n", 1);
    ASSERT_EQ(idn.find("timeout"), std::string::npos) << idn;
    EXPECT_EQ(idn.find("\n\r"), idn.size() - 2) << idn;
    EXPECT_EQ(idn.find(", V1.12/"), idn.find(',')) << idn;
    EXPECT_EQ(exchange(fd, "SYST:ERR?\n", 1), kNoError);
    EXPECT_TRUE(staysQuiet(fd, 100));  // no second identification, no stray reply
}

TEST_F(ScpiLoopback, ColonAfterSemicolonRestartsAtRootAndKeepsTheFirstUnit)
{
    start();
    int fd = connectClient();
    ASSERT_GE(fd, 0);
    const double before = number(exchange(fd, "TRIG:LEV?\n", 1));
    ASSERT_FALSE(std::isnan(before));
    ASSERT_GT(std::fabs(before - 1.0), 0.2) << "choose another level";

    ASSERT_TRUE(writeAll(fd, "TRIG:SEQ:LEV 1;:SLOP POS\n"));
    EXPECT_EQ(exchange(fd, "SYST:ERR?\n", 1), "-113,Undefined header\n\r");
    EXPECT_EQ(exchange(fd, "SYST:ERR?\n", 1), kNoError);
    const std::string after = exchange(fd, "TRIG:LEV?\n", 1);
    EXPECT_NEAR(number(after), 1.0, 0.1) << after;
}

TEST_F(ScpiLoopback, HoldoffSetAndReadBackInSeconds)
{
    start();
    int fd = connectClient();
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(writeAll(fd, "TRIG:HOLD 1E-6\n"));
    EXPECT_EQ(exchange(fd, "TRIG:HOLD?\n", 1), "1.00e-06\n\r");
    EXPECT_EQ(exchange(fd, "SYST:ERR?\n", 1), kNoError);
}

TEST_F(ScpiLoopback, OperationCompleteAfterTheLevelOfItsLine)
{
    start();
    int fd = connectClient();
    ASSERT_GE(fd, 0);
    EXPECT_EQ(exchange(fd, "TRIG:LEV 1;*OPC?\n", 1), "1\n\r");
    EXPECT_EQ(exchange(fd, "SYST:ERR?\n", 1), kNoError);
    const std::string level = exchange(fd, "TRIG:LEV?\n", 1);
    EXPECT_NEAR(number(level), 1.0, 0.1) << level;
}

TEST_F(ScpiLoopback, ResetThenWaitQueuesNothing)
{
    start();
    int fd = connectClient();
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(writeAll(fd, "TRIG:HOLD 2E-6\n*RST\n*WAI\n"));
    EXPECT_EQ(exchange(fd, "SYST:ERR?\n", 1), kNoError);
    EXPECT_EQ(exchange(fd, "*OPC?\n", 1), "1\n\r");
    // The default setup is back.
    EXPECT_NE(exchange(fd, "TRIG:HOLD?\n", 1), "2.00e-06\n\r");
    EXPECT_TRUE(process_.running());
}

TEST_F(ScpiLoopback, ClearStatusKeepsTheEnableMasks)
{
    start();
    int fd = connectClient();
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(writeAll(fd, "*ESE 32\n*SRE 16\nNOPE\n*CLS\n"));
    EXPECT_EQ(exchange(fd, "*ESE?\n", 1), "32\n\r");
    EXPECT_EQ(exchange(fd, "*SRE?\n", 1), "16\n\r");
    EXPECT_EQ(exchange(fd, "*ESR?;*STB?\n", 2), "0\n\r0\n\r");
    EXPECT_EQ(exchange(fd, "SYST:ERR?\n", 1), kNoError);
}

// Each query runs only after the settings before it on the line were released by the
// controller (after the acquisition's acknowledgement for those that restart it), so it
// already reads the applied value: nothing in between gives the controller time to catch up.
TEST_F(ScpiLoopback, SettingsAreAppliedBeforeTheNextUnitRuns)
{
    start();
    int fd = connectClient();
    ASSERT_GE(fd, 0);
    struct Case {
        const char* line;
        const char* reply;
    };
    const Case cases[] = {
        {"TRIG:HOLD 3E-6;HOLD?\n", "3.00e-06\n\r"},
        {"TRIG:HOLD 5E-6;:TRIG:HOLD?\n", "5.00e-06\n\r"},
        {"TRIG:SLOP NEG;SLOP?\n", "NEG\n\r"},
        {"TRIG:SLOP POS;SLOP?\n", "POS\n\r"},
        {"TRIG:TYP OUT;TYP?\n", "OUT\n\r"},
        {"TRIG:TYP INF;TYP?\n", "INF\n\r"},
        {"TRIG:HYST 3;HYST?\n", "3\n\r"},
        {"TRIG:HYST 0;HYST?\n", "0\n\r"},
        {"TRIG:ATRIG OFF;ATRIG?\n", "0\n\r"},
        {"TRIG:ATRIG ON;ATRIG?\n", "1\n\r"},
        {"TRIG:SEQ:LEV 1;*WAI;SLOP NEG;*OPC?;SLOP?\n", "1\n\rNEG\n\r"},
    };
    for (const Case& c : cases) {
        std::string want = c.reply;
        size_t replies = 0;
        for (size_t p = want.find("\n\r"); p != std::string::npos; p = want.find("\n\r", p + 2))
            ++replies;
        EXPECT_EQ(exchange(fd, c.line, replies), want) << c.line;
    }
    EXPECT_EQ(exchange(fd, "SYST:ERR?\n", 1), kNoError);

    // Levels one after the other, each read back at once.
    for (double v : {2.0, -1.0, 0.5}) {
        char line[64];
        std::snprintf(line, sizeof line, "TRIG:LEV %.1f;LEV?\n", v);
        const std::string reply = exchange(fd, line, 1);
        EXPECT_NEAR(number(reply), v, 0.1) << line << reply;
    }

    // A burst of restarting settings on one line: each waits for its own acknowledgement (a
    // release lost or taken early would hang or reorder them), then the last one is in place.
    std::string burst = "TRIG:LEV 1";
    for (int i = 0; i < 30; ++i)
        burst += i % 2 ? ";LEV 1" : ";LEV 2";
    burst += ";LEV 0.5;*OPC?;LEV?\n";
    const std::string replies = exchange(fd, burst, 2);
    ASSERT_EQ(replies.compare(0, 3, "1\n\r"), 0) << replies;
    EXPECT_NEAR(number(replies.substr(3)), 0.5, 0.1) << replies;
    EXPECT_EQ(exchange(fd, "SYST:ERR?\n", 1), kNoError);
    EXPECT_TRUE(process_.running());
}

TEST_F(ScpiLoopback, TwoClientsGetOnlyTheirOwnReplies)
{
    start();
    int a = connectClient();
    int b = connectClient();
    ASSERT_GE(a, 0);
    ASSERT_GE(b, 0);
    ASSERT_TRUE(writeAll(a, "*ESE 5\n"));
    ASSERT_EQ(exchange(a, "*ESE?\n", 1), "5\n\r");
    const std::string hold = "TRIG:HOLD 4E-6\n";
    ASSERT_TRUE(writeAll(b, hold));
    ASSERT_EQ(exchange(b, "TRIG:HOLD?\n", 1), "4.00e-06\n\r");

    constexpr int kRounds = 40;
    for (int i = 0; i < kRounds; ++i) {
        ASSERT_TRUE(writeAll(a, "*ESE?\n"));
        ASSERT_TRUE(writeAll(b, i % 2 ? "TRIG:HOLD?\n" : "TRIG:HOLD?;HOLD?\n"));
    }
    std::string ra, rb;
    ASSERT_TRUE(readReplies(a, kRounds, &ra, kReplyTimeoutMs)) << ra;
    ASSERT_TRUE(readReplies(b, kRounds + kRounds / 2, &rb, kReplyTimeoutMs)) << rb;
    std::string wantA, wantB;
    for (int i = 0; i < kRounds; ++i) {
        wantA += "5\n\r";
        wantB += i % 2 ? "4.00e-06\n\r" : "4.00e-06\n\r4.00e-06\n\r";
    }
    EXPECT_EQ(ra, wantA);
    EXPECT_EQ(rb, wantB);
    EXPECT_TRUE(staysQuiet(a, 100));
    EXPECT_TRUE(staysQuiet(b, 0));
}

// ---- the USB gadget's pseudo-terminal ------------------------------------------------------

int openHostSide(const std::string& path)
{
    int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    termios t{};
    if (::tcgetattr(fd, &t) == 0) {
        ::cfmakeraw(&t);
        ::tcsetattr(fd, TCSANOW, &t);
    }
    return fd;
}

TEST_F(ScpiLoopback, GadgetQueriesAreAnsweredThere)
{
    start();
    const std::string link = hostPath(kSimGadgetHostLink);
    ASSERT_TRUE(process_.waitForPath(link, 20s)) << process_.log();
    int usb = -1;
    // The link may be renewed while the manager (re)opens the gadget: retry until it answers.
    std::string reply;
    for (int attempt = 0; attempt < 50 && reply.empty(); ++attempt) {
        if (usb >= 0)
            ::close(usb);
        usb = openHostSide(link);
        if (usb < 0) {
            std::this_thread::sleep_for(100ms);
            continue;
        }
        if (!writeAll(usb, "*ESE 7\n*ESE?\n"))
            continue;
        std::string out;
        if (readReplies(usb, 1, &out, 1000))
            reply = out;
    }
    ASSERT_GE(usb, 0);
    fds_.push_back(usb);
    EXPECT_EQ(reply, "7\n\r");

    int tcp = connectClient();
    ASSERT_GE(tcp, 0);
    const std::string idn = exchange(tcp, "*IDN?\n", 1);
    EXPECT_EQ(exchange(usb, "*IDN?\r\n", 1), idn);
    EXPECT_EQ(exchange(usb, "TRIG:HOLD 1E-6;HOLD?\n", 1), "1.00e-06\n\r");
    EXPECT_EQ(exchange(usb, "SYST:ERR?\n", 1), kNoError);
    EXPECT_EQ(exchange(tcp, "*ESE?\n", 1), "7\n\r");
    EXPECT_TRUE(staysQuiet(tcp, 100));  // nothing of the gadget's replies
}

// ---- under a decimal-comma locale ----------------------------------------------------------

TEST_F(ScpiLoopback, RepliesUseADotUnderADecimalCommaLocale)
{
    std::string locpath;
    const std::string name = decimalCommaLocale(root_ + "/locale", &locpath);
    std::vector<std::string> env{"LC_ALL=" + name, "LANG=" + name};
    if (name.empty()) {
        // Nothing to compile one with (the package "locales" is missing): the environment
        // still asks for one, which proves less.
        std::fprintf(stderr, "note: no decimal-comma locale available; LC_ALL/LC_NUMERIC set anyway\n");
        env = {"LC_ALL=de_DE.UTF-8", "LC_NUMERIC=de_DE.UTF-8"};
    } else if (!locpath.empty()) {
        env.push_back("LOCPATH=" + locpath);
        // The compiled locale really has a decimal comma.
        ::setenv("LOCPATH", locpath.c_str(), 1);
        locale_t l = ::newlocale(LC_NUMERIC_MASK, name.c_str(), nullptr);
        ::unsetenv("LOCPATH");
        ASSERT_NE(l, nullptr);
        EXPECT_STREQ(::nl_langinfo_l(RADIXCHAR, l), ",");
        ::freelocale(l);
    }
    start(env);
    int fd = connectClient();
    ASSERT_GE(fd, 0);
    EXPECT_EQ(exchange(fd, "TRIG:HOLD 1E-6;HOLD?\n", 1), "1.00e-06\n\r");
    const std::string level = exchange(fd, "TRIG:LEV 1.5;LEV?\n", 1);
    EXPECT_EQ(level.find(','), std::string::npos) << level;
    EXPECT_NEAR(number(level), 1.5, 0.1) << level;
    EXPECT_EQ(exchange(fd, "SYST:ERR?\n", 1), kNoError);
}

} // namespace
