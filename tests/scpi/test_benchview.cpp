// The SCPI transports of a running benchview on a simulated board of the test's own.
#include "board/board.h"
#include "tests/scpi/scpi_consumer.h"
#include "tests/support/simboardtest.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <signal.h>
#include <spawn.h>
#include <sstream>
#include <sys/wait.h>

extern char** environ;

namespace {

class BenchviewScpi : public SimBoardTest {
protected:
    void TearDown() override
    {
        for (int fd : fds_)
            ::close(fd);
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        SimBoardTest::TearDown();
    }

    void start(const std::vector<std::string>& extraEnvironment = {})
    {
        std::vector<std::string> env{
            "BENCHVIEW_SIMROOT=" + root_,
            "BENCHVIEW_PORT_OFFSET=" + std::to_string(portOffset_),
            "QT_QPA_PLATFORM=offscreen",
            "QT_QUICK_BACKEND=software",
            "BENCHVIEW_SCPI_LOOPBACK_ONLY=1",
        };
        env.insert(env.end(), extraEnvironment.begin(), extraEnvironment.end());
        for (char** e = environ; *e; ++e) {
            std::string v = *e;
            std::string name = v.substr(0, v.find('='));
            bool overridden = false;
            for (const std::string& mine : env)
                overridden = overridden || mine.compare(0, name.size() + 1, name + "=") == 0;
            if (!overridden)
                env.push_back(v);
        }
        std::vector<char*> envp;
        for (std::string& v : env)
            envp.push_back(&v[0]);
        envp.push_back(nullptr);

        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        std::string log = root_ + "/benchview.log";
        posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        char* argv[] = {const_cast<char*>(BENCHVIEW_EXE), nullptr};
        ASSERT_EQ(posix_spawn(&pid_, BENCHVIEW_EXE, &actions, nullptr, argv, envp.data()), 0);
        posix_spawn_file_actions_destroy(&actions);
    }

    std::string log() const { return readHostFile(root_ + "/benchview.log"); }

    // Thread ids of the process by kernel name.
    std::vector<std::string> threads(const std::string& name) const
    {
        std::vector<std::string> ids;
        std::string dir = "/proc/" + std::to_string(pid_) + "/task";
        DIR* d = ::opendir(dir.c_str());
        if (!d)
            return ids;
        while (dirent* e = ::readdir(d)) {
            if (e->d_name[0] == '.')
                continue;
            std::ifstream comm(dir + "/" + e->d_name + "/comm");
            std::string n;
            std::getline(comm, n);
            if (n == name)
                ids.push_back(e->d_name);
        }
        ::closedir(d);
        return ids;
    }

    bool waitForThread(const std::string& name, int timeoutMs = 60000)
    {
        return waitUntil([&] { return !threads(name).empty() || !alive(); }, timeoutMs) && alive();
    }

    bool alive() const { return pid_ > 0 && ::waitpid(pid_, nullptr, WNOHANG) == 0; }

    // User and system time of one thread, in clock ticks.
    long cpuTicks(const std::string& tid) const
    {
        std::ifstream in("/proc/" + std::to_string(pid_) + "/task/" + tid + "/stat");
        std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        std::istringstream fields(all.substr(all.rfind(')') + 2));
        std::string f;
        long utime = 0, stime = 0;
        for (int i = 3; i <= 15 && fields >> f; ++i) {
            if (i == 14)
                utime = std::atol(f.c_str());
            if (i == 15)
                stime = std::atol(f.c_str());
        }
        return utime + stime;
    }

    int connectClient()
    {
        int fd = connectScpi(10000);
        if (fd >= 0)
            fds_.push_back(fd);
        return fd;
    }

    pid_t pid_ = -1;
    std::vector<int> fds_;
};

TEST_F(BenchviewScpi, FourSessionsAtOnceAndAFifthIsClosedAtOnce)
{
    start();
    ASSERT_TRUE(waitForThread("scpiMgrTcp")) << log();
    int clients[4];
    for (int i = 0; i < 4; ++i) {
        clients[i] = connectClient();
        ASSERT_GE(clients[i], 0) << log();
        // Accepted and running before the next one comes.
        ASSERT_TRUE(waitForThread("tSCPI" + std::to_string(i + 1), 5000)) << i;
    }
    int fifth = connectClient();
    ASSERT_GE(fifth, 0);
    EXPECT_EQ(readToEnd(fifth, 5000), 0);  // closed with nothing sent
    for (int fd : clients) {
        EXPECT_TRUE(staysQuiet(fd, 50));  // still connected
        EXPECT_TRUE(writeAll(fd, "*IDN?\n"));
    }
    EXPECT_TRUE(threads("tSCPI5").empty());

    // A slot that frees up is served again.
    ::close(clients[0]);
    fds_.erase(fds_.begin());
    ASSERT_TRUE(waitUntil([&] { return threads("tSCPI1").empty(); }));
    int sixth = connectClient();
    ASSERT_GE(sixth, 0);
    EXPECT_TRUE(waitForThread("tSCPI5", 5000));
    EXPECT_TRUE(staysQuiet(sixth, 100));
    EXPECT_TRUE(alive());
}

TEST_F(BenchviewScpi, PortTakenAtStartIsRetriedWithoutSpinningUntilItIsFree)
{
    // Hold the SCPI port before the program starts.
    int holder = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(holder, 0);
    int one = 1;
    ::setsockopt(holder, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(boardPort(kScpiPort)));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(holder, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_EQ(::listen(holder, 1), 0);

    start({"BENCHVIEW_SCPI_RETRY_MS=100"});
    ASSERT_TRUE(waitForThread("scpiMgrTcp")) << log();
    std::string manager = threads("scpiMgrTcp").front();
    long before = cpuTicks(manager);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    long used = cpuTicks(manager) - before;
    EXPECT_LE(used, 10) << "the manager spins while the port is taken";

    ::close(holder);
    int fd = connectClient();
    ASSERT_GE(fd, 0) << log();
    EXPECT_TRUE(waitForThread("tSCPI1", 5000));
    EXPECT_TRUE(alive());
}

} // namespace
