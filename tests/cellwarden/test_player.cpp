// The board player of the simboard tool with a scripted console, on the test's own root.
#include "board/sim/simboard.h"
#include "tests/cellwarden/offpipe.h"
#include "tests/support/benchviewprocess.h"
#include "tests/support/simboardtest.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <chrono>
#include <cstring>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

// A child with standard input and output as pipes, in a process group of its own: killed with
// whatever it started (the daemon would outlive a killed player) and reaped at the end.
class Console {
public:
    bool start(const std::vector<std::string>& args, const std::string& root)
    {
        int in[2], out[2];
        if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0)
            return false;
        std::vector<char*> argv;
        for (const auto& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        const std::string env = "BENCHVIEW_SIMROOT=" + root;
        static char offscreen[] = "QT_QPA_PLATFORM=offscreen";
        pid_ = ::fork();
        if (pid_ == 0) {
            ::setpgid(0, 0);
            ::dup2(in[0], 0);
            ::dup2(out[1], 1);
            ::dup2(out[1], 2);
            ::putenv(const_cast<char*>(env.c_str()));
            ::putenv(offscreen);
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        ::close(in[0]);
        ::close(out[1]);
        input_ = in[1];
        output_ = out[0];
        ::fcntl(output_, F_SETFL, O_NONBLOCK);
        return pid_ > 0;
    }
    ~Console()
    {
        if (pid_ > 0)
            ::kill(-pid_, SIGKILL);
        if (pid_ > 0 && !reaped_)
            ::waitpid(pid_, nullptr, 0);
        for (int fd : {input_, output_})
            if (fd >= 0)
                ::close(fd);
    }
    void send(const std::string& line) { ASSERT_EQ(static_cast<ssize_t>(line.size() + 1), ::write(input_, (line + "\n").c_str(), line.size() + 1)); }
    void closeInput()
    {
        ::close(input_);
        input_ = -1;
    }
    std::string& output()
    {
        char buffer[4096];
        ssize_t n;
        while ((n = ::read(output_, buffer, sizeof buffer)) > 0)
            text_.append(buffer, static_cast<size_t>(n));
        return text_;
    }
    bool waitOutput(const std::string& what, std::chrono::milliseconds timeout)
    {
        const auto end = std::chrono::steady_clock::now() + timeout;
        while (output().find(what) == std::string::npos) {
            if (std::chrono::steady_clock::now() > end)
                return false;
            std::this_thread::sleep_for(10ms);
        }
        return true;
    }
    bool waitExit(std::chrono::milliseconds timeout, int* status)
    {
        const auto end = std::chrono::steady_clock::now() + timeout;
        while (std::chrono::steady_clock::now() < end) {
            if (::waitpid(pid_, status, WNOHANG) == pid_) {
                reaped_ = true;
                return true;
            }
            std::this_thread::sleep_for(10ms);
        }
        return false;
    }
    pid_t pid() const { return pid_; }
    // The pid the player reported for a program it started.
    pid_t childPid(const std::string& program)
    {
        const std::string key = program + " started (pid ";
        const size_t at = output().find(key);
        return at == std::string::npos ? -1 : std::atoi(text_.c_str() + at + key.size());
    }

private:
    pid_t pid_ = -1;
    bool reaped_ = false;
    int input_ = -1, output_ = -1;
    std::string text_;
};

class PlayerTest : public SimBoardTest {
protected:
    void SetUp() override
    {
        SimBoardTest::SetUp();
        simboard::TScenario s = simboard::defaultScenario();
        s.speedFactor = 100;
        std::ofstream(hostPath(simboard::kScenarioPath), std::ios::trunc) << simboard::scenarioToJson(s);
    }
    bool isFifo(const char* boardPath)
    {
        struct stat st;
        return ::stat(hostPath(boardPath).c_str(), &st) == 0 && S_ISFIFO(st.st_mode);
    }
    bool waitFile(const char* boardPath, const std::string& content, std::chrono::milliseconds timeout)
    {
        const auto end = std::chrono::steady_clock::now() + timeout;
        while (readHostFile(hostPath(boardPath)) != content) {
            if (std::chrono::steady_clock::now() > end)
                return false;
            std::this_thread::sleep_for(10ms);
        }
        return true;
    }
};

} // namespace

TEST_F(PlayerTest, ConsoleDrivesTheBoard)
{
    Console player;
    ASSERT_TRUE(player.start({SIMBOARD_EXE, "cellwarden"}, root_));
    ASSERT_TRUE(player.waitOutput("cellwarden started", 10s)) << player.output();
    EXPECT_TRUE(isFifo("/var/tmp/offpipe"));
    ASSERT_TRUE(waitFile("/var/tmp/batlevel", "80 ", 10s));

    // One player per root; a boot leaves a played root alone.
    {
        Console second;
        ASSERT_TRUE(second.start({SIMBOARD_EXE, "cellwarden"}, root_));
        int status = 0;
        ASSERT_TRUE(second.waitExit(10s, &status));
        EXPECT_EQ(1, WEXITSTATUS(status));
        Console boot;
        ASSERT_TRUE(boot.start({SIMBOARD_EXE, "boot"}, root_));
        ASSERT_TRUE(boot.waitExit(10s, &status));
        EXPECT_EQ(0, WEXITSTATUS(status));
        EXPECT_EQ("80 ", readHostFile(hostPath("/var/tmp/batlevel")));
    }

    player.send("wall on");
    EXPECT_TRUE(waitFile("/sys/class/gpio/gpio127/value", "1", 10s));
    player.send("soc 15");
    EXPECT_TRUE(waitFile("/var/tmp/batlevel", "-15 ", 10s));
    player.send("status");
    EXPECT_TRUE(player.waitOutput("line 114: 1", 10s)) << player.output();
    EXPECT_TRUE(player.waitOutput("line 127: 1", 10s));

    // benchview's commands go whole into its control pipe; with no reader the console says so.
    player.send("key ch1");
    EXPECT_TRUE(player.waitOutput("\"key ch1\" not sent", 10s));
    ASSERT_EQ(0, ::mkfifo(hostPath("/sim/control").c_str(), 0644));
    const int control = ::open(hostPath("/sim/control").c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(control, 0);
    player.send("key ch1 long");
    std::string got;
    for (int i = 0; i < 500 && got.find('\n') == std::string::npos; ++i) {
        char buffer[64];
        const ssize_t n = ::read(control, buffer, sizeof buffer);
        if (n > 0)
            got.append(buffer, static_cast<size_t>(n));
        std::this_thread::sleep_for(10ms);
    }
    ::close(control);
    EXPECT_EQ("key ch1 long\n", got);
    player.send("frobnicate");
    EXPECT_TRUE(player.waitOutput("unknown command: \"frobnicate\"", 10s));

    // End of input keeps the board; SIGTERM stops it and its children.
    const pid_t daemon = player.childPid("cellwarden");
    ASSERT_GT(daemon, 0);
    player.closeInput();
    int status = 0;
    EXPECT_FALSE(player.waitExit(500ms, &status));
    ::kill(player.pid(), SIGTERM);
    ASSERT_TRUE(player.waitExit(10s, &status));
    EXPECT_EQ(0, WEXITSTATUS(status));
    EXPECT_NE(0, ::kill(daemon, 0));
}

TEST_F(PlayerTest, PowerCutEndsThePlayer)
{
    Console player;
    ASSERT_TRUE(player.start({SIMBOARD_EXE, "cellwarden"}, root_));
    ASSERT_TRUE(waitFile("/var/tmp/batlevel", "80 ", 10s)) << player.output();
    ASSERT_TRUE(writeOffPipe(hostPath("/var/tmp/offpipe"), "POWEROFF"));
    int status = 0;
    ASSERT_TRUE(player.waitExit(10s, &status)) << player.output();
    EXPECT_NE(std::string::npos, player.output().find("cellwarden ended with status 99"));
    EXPECT_NE(std::string::npos, player.output().find("power cut"));
}

// The instrument's power-off on a played board: benchview asks for it, then the daemon cuts the
// power. As on the real board, the cut may come before benchview's own exit, never before its
// request (its files are written by then).
TEST_F(PlayerTest, BenchviewPowerOffCutsThePower)
{
    std::ofstream(hostPath(simboard::kScenarioPath), std::ios::trunc)
        << simboard::scenarioToJson(simboard::defaultScenario());
    Console player;
    ASSERT_TRUE(player.start({SIMBOARD_EXE, "cellwarden"}, root_));
    ASSERT_TRUE(waitFile("/var/tmp/batlevel", "80 ", 20s)) << player.output();
    BenchviewProcess benchview;
    ASSERT_TRUE(benchview.start(BENCHVIEW_EXE, BenchviewProcess::Options::headless(root_, portOffset_)));
    ASSERT_TRUE(benchview.waitForThread("TRAD", 60s)) << benchview.log();
    std::this_thread::sleep_for(500ms);  // the key thread enables its event lines
    player.send("key power long");
    int status = 0;
    ASSERT_TRUE(benchview.waitExit(30s, &status)) << benchview.log();
    EXPECT_TRUE((WIFEXITED(status) && WEXITSTATUS(status) == 0) || (WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL))
        << status;
    ASSERT_TRUE(player.waitExit(20s, &status)) << player.output();
    EXPECT_NE(std::string::npos, player.output().find("cellwarden ended with status 99")) << player.output();
    EXPECT_EQ("1", readHostFile(hostPath("/sys/class/gpio/gpio121/value")));
}

// A cut ends every program of the board, as a real one would: a benchview started beside the
// player (as the run script does) too, and the power log has the one line of the cut.
TEST_F(PlayerTest, PowerCutEndsBenchviewStartedBesideThePlayer)
{
    std::ofstream(hostPath(simboard::kScenarioPath), std::ios::trunc)
        << simboard::scenarioToJson(simboard::defaultScenario());
    Console player;
    ASSERT_TRUE(player.start({SIMBOARD_EXE, "cellwarden"}, root_));
    ASSERT_TRUE(waitFile("/var/tmp/batlevel", "80 ", 20s)) << player.output();
    BenchviewProcess benchview;
    ASSERT_TRUE(benchview.start(BENCHVIEW_EXE, BenchviewProcess::Options::headless(root_, portOffset_)));
    ASSERT_TRUE(benchview.waitForThread("TRAD", 60s)) << benchview.log();
    // The daemon halts the board on the pipe's request, with benchview still running.
    ASSERT_TRUE(writeOffPipe(hostPath("/var/tmp/offpipe"), "POWEROFF"));
    int status = 0;
    ASSERT_TRUE(benchview.waitExit(30s, &status)) << benchview.log();
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << status;
    ASSERT_TRUE(player.waitExit(20s, &status)) << player.output();
    EXPECT_NE(std::string::npos, player.output().find("cellwarden ended with status 99")) << player.output();
    const std::string log = readHostFile(hostPath("/sim/power.log"));
    EXPECT_EQ(1, std::count(log.begin(), log.end(), '\n')) << log;
    EXPECT_NE(std::string::npos, log.find("cellwarden power cut")) << log;
}

TEST_F(PlayerTest, BenchviewPowerOffWithoutDaemonStillEnds)
{
    // A FIFO off pipe nobody reads: the power-off gives up on it after about 5 s.
    std::string why;
    ASSERT_TRUE(simboard::boot(&why)) << why;
    ::unlink(hostPath("/var/tmp/offpipe").c_str());
    ASSERT_EQ(0, ::mkfifo(hostPath("/var/tmp/offpipe").c_str(), 0644)) << std::strerror(errno);
    BenchviewProcess benchview;
    ASSERT_TRUE(benchview.start(BENCHVIEW_EXE, BenchviewProcess::Options::headless(root_, portOffset_)));
    ASSERT_TRUE(benchview.waitForThread("TRAD", 60s)) << benchview.log();
    std::this_thread::sleep_for(500ms);
    const auto sent = std::chrono::steady_clock::now();
    {
        std::ofstream pipe(hostPath(simboard::kControlPipePath));
        pipe << "key power long\n" << std::flush;
    }
    int status = 0;
    ASSERT_TRUE(benchview.waitExit(40s, &status)) << benchview.log();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_GE(std::chrono::steady_clock::now() - sent, 5s);
}

TEST_F(PlayerTest, PowerKeyReachesTheChargingScreen)
{
    Console player;
    ASSERT_TRUE(player.start({SIMBOARD_EXE, "cellwarden"}, root_));
    ASSERT_TRUE(waitFile("/var/tmp/batlevel", "80 ", 10s)) << player.output();
    // Nothing reads the key: the line goes to benchview (none here), nothing is queued.
    player.send("key power");
    EXPECT_TRUE(player.waitOutput("\"key power\" not sent", 10s)) << player.output();
    EXPECT_TRUE(isFifo(simboard::kCompanionKeyPath));
    const int key = ::open(hostPath(simboard::kCompanionKeyPath).c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(key, 0);
    char byte;
    EXPECT_EQ(-1, ::read(key, &byte, 1));
    ::close(key);

    player.send("start chargeview");
    ASSERT_TRUE(player.waitOutput("chargeview started", 10s)) << player.output();
    for (int i = 0; i < 2000 && ::access(hostPath("/var/tmp/powerOffAllowed").c_str(), F_OK) != 0; ++i)
        std::this_thread::sleep_for(10ms);
    ASSERT_EQ(0, ::access(hostPath("/var/tmp/powerOffAllowed").c_str(), F_OK)) << player.output();
    player.send("key power");
    ASSERT_TRUE(player.waitOutput("chargeview ended with status 1", 10s)) << player.output();
    EXPECT_NE(0, ::access(hostPath("/var/tmp/powerOffAllowed").c_str(), F_OK));
    player.send("start nothing-here");
    EXPECT_TRUE(player.waitOutput("nothing-here: not found beside simboard", 10s)) << player.output();
}

TEST_F(PlayerTest, FirmwareServerAndStartedPrograms)
{
    // fetchup's transfer time-out shrinks with the board's speed: at a hundredfold its 600 ms are
    // too short for a TLS transfer on a loaded host, at tenfold its 6 s are not.
    constexpr int kSpeed = 10;
    simboard::TScenario slower = simboard::defaultScenario();
    slower.speedFactor = kSpeed;
    std::ofstream(hostPath(simboard::kScenarioPath), std::ios::trunc) << simboard::scenarioToJson(slower);
    Console player;
    ASSERT_TRUE(player.start({SIMBOARD_EXE, "cellwarden"}, root_));
    ASSERT_TRUE(player.waitOutput("cellwarden started", 10s)) << player.output();
    player.send("firmware");
    ASSERT_TRUE(player.waitOutput("firmware server https://127.0.0.1:", 20s)) << player.output();
    simboard::TScenario s;
    ASSERT_TRUE(simboard::parseScenario(readHostFile(hostPath(simboard::kScenarioPath)), &s));
    EXPECT_EQ(0u, s.firmware.server.rfind("https://127.0.0.1:", 0));
    EXPECT_EQ("/sim/fw-cert.pem", s.firmware.caFile);
    EXPECT_EQ(kSpeed, s.speedFactor) << "the rest of the scenario kept";

    auto ends = [&](int n) {
        const std::string key = "fetchup ended with status 0";
        for (int i = 0; i < 3000; ++i) {
            int count = 0;
            for (size_t at = 0; (at = player.output().find(key, at)) != std::string::npos; at += key.size())
                ++count;
            if (count >= n)
                return true;
            std::this_thread::sleep_for(10ms);
        }
        return false;
    };
    // Two starts: the index, then the release, verified and announced.
    player.send("start fetchup");
    ASSERT_TRUE(ends(1)) << player.output();
    EXPECT_EQ(readHostFile(hostPath("/sim/firmware/index")), readHostFile(hostPath("/media/private/update/download/index")))
        << player.output();
    player.send("start fetchup");
    ASSERT_TRUE(ends(2)) << player.output();
    EXPECT_EQ(0, ::access(hostPath("/media/private/update/downloadOk").c_str(), F_OK));

    // A changed file, once the release was taken and the month is over: fetched by two more starts.
    player.send("firmware change");
    ASSERT_TRUE(player.waitOutput("a.bin and the index changed", 10s));
    ::unlink(hostPath("/media/private/update/downloadOk").c_str());
    ::unlink(hostPath("/media/private/update/date").c_str());
    player.send("start fetchup");
    ASSERT_TRUE(ends(3)) << player.output();
    player.send("start fetchup");
    ASSERT_TRUE(ends(4)) << player.output();
    EXPECT_EQ(0, ::access(hostPath("/media/private/update/downloadOk").c_str(), F_OK));
    EXPECT_EQ(readHostFile(hostPath("/sim/firmware/a.bin")), readHostFile(hostPath("/media/private/update/download/a.bin")));
    EXPECT_EQ(readHostFile(hostPath("/sim/firmware/index")), readHostFile(hostPath("/media/private/update/index")));
}
