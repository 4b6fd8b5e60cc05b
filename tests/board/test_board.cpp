#include "board/board.h"
#include "board/deviceio.h"
#include "board/ports.h"
#include "tests/support/simboardtest.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

bool exists(const std::string& p)
{
    struct stat st;
    return stat(p.c_str(), &st) == 0;
}

TEST(BoardPath, MapsAbsolutePathsOnceAndLeavesTheRestAlone)
{
    struct Case {
        const char* root;
        const char* path;
        const char* expected;
    } cases[] = {
        {"/r/sim", "/var/tmp/auto_off", "/r/sim/var/tmp/auto_off"},
        {"/r/sim", "/r/sim/var/tmp/auto_off", "/r/sim/var/tmp/auto_off"},  // already mapped
        {"/r/sim", "/r/sim", "/r/sim"},
        {"/r/sim", "/r/simulated/x", "/r/sim/r/simulated/x"},  // a sibling is not under the root
        {"/r/sim", "relative/file", "relative/file"},
        {"/r/sim", "", ""},
        {"", "/var/tmp/auto_off", "/var/tmp/auto_off"},  // board build: identity
        {"", "relative", "relative"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(mapBoardPath(c.root, c.path), c.expected) << c.root << " " << c.path;
    EXPECT_EQ(mapBoardPath("/r/sim", nullptr), "");

    struct Back {
        const char* root;
        const char* host;
        const char* expected;
    } backs[] = {
        {"/r/sim", "/r/sim/media/user/a.trc", "/media/user/a.trc"},
        {"/r/sim", "/r/sim", "/"},
        {"/r/sim", "/r/simulated/a", "/r/simulated/a"},
        {"/r/sim", "/elsewhere", "/elsewhere"},
        {"", "/media/user/a.trc", "/media/user/a.trc"},
    };
    for (const Back& b : backs)
        EXPECT_EQ(unmapBoardPath(b.root, b.host), b.expected) << b.root << " " << b.host;
}

class BoardRoot : public SimBoardTest {};

TEST_F(BoardRoot, SeedingCreatesTheTreeOnceAndRunsRegisteredSteps)
{
    // The fixture seeded a root already; start again on an empty one.
    std::string fresh = root_ + "/fresh";
    ASSERT_TRUE(setBoardRoot(fresh));
    int runs = 0;
    registerBoardSeedStep("test-step", [&runs] {
        ++runs;
        writeBoardFile("/sim/scenario-test", "x");
    });
    EXPECT_TRUE(seedBoardRoot());
    EXPECT_EQ(runs, 1);
    for (const char* p : {"/media/private", "/media/user", "/var/tmp", "/tmp", "/etc/network", "/opt", "/sim",
                          "/etc/network/interfaces", "/var/tmp/offpipe", "/sim/scenario-test",
                          "/sys/devices/soc0/soc.1/2100000.aips-bus/2184000.usb/ci_hdrc.0/gadget/lun0/file",
                          "/sys/devices/soc0/soc.1/2100000.aips-bus/2184000.usb/ci_hdrc.0/gadget/lun0/ro"})
        EXPECT_TRUE(exists(fresh + p)) << p;
    EXPECT_FALSE(exists(fresh + "/media/private/config.ini"));
    EXPECT_NE(readHostFile(fresh + "/etc/network/interfaces").find("iface eth0 inet dhcp"), std::string::npos);

    ASSERT_EQ(::unlink((fresh + "/var/tmp/offpipe").c_str()), 0);
    EXPECT_FALSE(seedBoardRoot());
    EXPECT_EQ(runs, 1);
    EXPECT_FALSE(exists(fresh + "/var/tmp/offpipe"));
}

TEST_F(BoardRoot, PathsResolveUnderTheRoot)
{
    EXPECT_EQ(boardPath("/var/tmp/auto_off"), root_ + "/var/tmp/auto_off");
    EXPECT_EQ(boardPath(boardPath("/var/tmp/auto_off")), root_ + "/var/tmp/auto_off");
    EXPECT_EQ(boardPathFromHost(root_ + "/media/user/x.cfg"), "/media/user/x.cfg");
}

// The confinement check for files, folders and paths not made yet: what exists of the path,
// links resolved, must be the folder or lie under it.
TEST_F(BoardRoot, ConfinedPathsStayInsideTheirFolder)
{
    ASSERT_EQ(::mkdir(hostPath("/media/user/sub").c_str(), 0777), 0);
    ASSERT_EQ(::symlink(hostPath("/media/private").c_str(), hostPath("/media/user/out").c_str()), 0);
    ASSERT_EQ(::symlink(hostPath("/media/user/sub").c_str(), hostPath("/media/user/in").c_str()), 0);
    const std::string user = hostPath("/media/user");
    const struct {
        const char* path;
        bool inside;
        std::string resolved;
    } rows[] = {
        {"/media/user", true, user},
        {"/media/user/", true, user},
        {"/media/user/sub", true, user + "/sub"},
        {"/media/user/new/deeper", true, user + "/new/deeper"},  // nothing of it exists yet
        {"/media/user/in/x", true, user + "/sub/x"},
        {"/media/user/out", false, ""},
        {"/media/user/out/none", false, ""},
        {"/media/user/../private", false, ""},
        {"/media/user/sub/..", false, ""},
        {"/media/user/..x", true, user + "/..x"},
        {"/media/userx", false, ""},
        {"/media", false, ""},
        {"media/user", false, ""},
    };
    for (const auto& row : rows) {
        std::string resolved;
        EXPECT_EQ(confineBoardPath("/media/user", row.path, &resolved), row.inside) << row.path;
        if (row.inside) {
            EXPECT_EQ(resolved, row.resolved) << row.path;
        }
    }
}

TEST(BoardRootDefault, UnsetVariableGivesSimrootBesideTheExecutable)
{
    unsetenv("BENCHVIEW_SIMROOT");
    char exe[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    ASSERT_GT(n, 0);
    exe[n] = 0;
    std::string dir(exe);
    dir = dir.substr(0, dir.rfind('/'));
    bool existed = exists(dir + "/simroot");
    ASSERT_TRUE(resolveBoardRoot());
    char real[PATH_MAX];
    ASSERT_NE(realpath((dir + "/simroot").c_str(), real), nullptr);
    EXPECT_EQ(boardRoot(), real);
    if (!existed)
        ::rmdir(real);
}

TEST(BoardRootDefault, VariableNamesTheRoot)
{
    char templ[] = "/tmp/benchview-env-XXXXXX";
    ASSERT_NE(mkdtemp(templ), nullptr);
    std::string dir = std::string(templ) + "/nested/root";
    setenv("BENCHVIEW_SIMROOT", dir.c_str(), 1);
    ASSERT_TRUE(resolveBoardRoot());
    EXPECT_EQ(boardRoot(), dir);
    EXPECT_TRUE(exists(dir));
    removeTree(templ);
}

TEST(BoardPort, OffsetShiftsTheServedPort)
{
    setBoardPortOffset(1000);
    EXPECT_EQ(boardPort(23), 1023);
    setBoardPortOffset(0);
    EXPECT_EQ(boardPort(50010), 50010);
}

// Every served port shifted by the offset stays a port (1..65535), or the program is told which
// one would leave the range and what the offsets may be.
TEST(BoardPort, OffsetsThatPushAServedPortOutOfRangeAreRefused)
{
    const int saved = boardPort(0);
    const char* variable = "BENCHVIEW_PORT_OFFSET";
    const char* inherited = std::getenv(variable);
    const std::string kept = inherited ? inherited : "";
    unsetenv(variable);
    const std::vector<int> served = {23, 80, 50000, 50010};
    const struct {
        int offset;
        bool served;
        const char* named;  // in the message
    } cases[] = {
        {0, true, ""},
        {15525, true, ""},
        {-22, true, ""},
        {15526, false, "port 50010 to 65536"},
        {38828, false, "port 50010 to 88838"},  // would wrap to 23302
        {-23, false, "port 23 to 0"},
        {-70000, false, "port 23 to -69977"},
    };
    for (const auto& c : cases) {
        setBoardPortOffset(c.offset);
        std::string why;
        EXPECT_EQ(servedPortsInRange(served, &why), c.served) << c.offset;
        if (!c.served) {
            EXPECT_NE(why.find(c.named), std::string::npos) << why;
            EXPECT_NE(why.find("-22..15525"), std::string::npos) << why;
        }
    }
    setBoardPortOffset(0);
    setenv(variable, "12x", 1);
    std::string why;
    EXPECT_FALSE(servedPortsInRange(served, &why));
    EXPECT_NE(why.find("12x is not a whole number"), std::string::npos) << why;
    if (inherited)
        setenv(variable, kept.c_str(), 1);
    else
        unsetenv(variable);
    setBoardPortOffset(saved);
}

// A client socket the kernel gives a served port by chance would stand in for the service and
// hear its own requests: the claimed offset keeps every served port out of the client range.
TEST(PortOffset, TheClaimedOffsetKeepsServedPortsClearOfClientPorts)
{
    const std::vector<int> served = {23, 80, 50000, 50010};
    const int offset = claimPortOffset(served);
    EXPECT_EQ(claimPortOffset(served), offset);  // held for the process
    long low = 32768, high = 60999;
    if (FILE* f = std::fopen("/proc/sys/net/ipv4/ip_local_port_range", "r")) {
        EXPECT_EQ(std::fscanf(f, "%ld %ld", &low, &high), 2);
        std::fclose(f);
    }
    for (int port : served) {
        const long shifted = static_cast<long>(port) + offset;
        EXPECT_TRUE(shifted >= 1 && shifted <= 65535) << port;
        EXPECT_TRUE(shifted < low || shifted > high) << port << " at " << shifted;
    }
}

TEST(BoardSetting, WholeNumbersInRangeElseTheFallback)
{
    const char* name = "BENCHVIEW_TEST_SETTING";
    unsetenv(name);
    EXPECT_EQ(boardSetting(name, 42, 1, 100), 42);
    const struct {
        const char* text;
        int expected;
    } cases[] = {
        {"1", 1}, {"100", 100}, {"0", 42}, {"101", 42}, {"-5", 42}, {"", 42}, {"12x", 42},
        {"7 ", 42}, {"99999999999999999999", 42},
    };
    for (const auto& c : cases) {
        setenv(name, c.text, 1);
        EXPECT_EQ(boardSetting(name, 42, 1, 100), c.expected) << '"' << c.text << '"';
    }
    unsetenv(name);
}

TEST_F(BoardRoot, PassThroughDeviceIoUsesFilesUnderTheRoot)
{
    TDeviceIO& io = deviceIO();
    int fd = io.open("/var/tmp/devtest", O_RDWR | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(io.write(fd, "abc", 3), 3);
    ASSERT_EQ(io.lseek(fd, 0, SEEK_SET), 0);
    char buf[4] = {};
    ASSERT_EQ(io.read(fd, buf, 3), 3);
    EXPECT_STREQ(buf, "abc");
    EXPECT_EQ(io.close(fd), 0);
    io.syncAll();
    EXPECT_EQ(readHostFile(root_ + "/var/tmp/devtest"), "abc");

    errno = 0;
    EXPECT_EQ(io.open("/dev/spidev1.0", O_RDWR), -1);
    EXPECT_EQ(errno, ENOENT);
}

TEST_F(BoardRoot, InstalledDeviceIoReplacesTheDefault)
{
    struct TFail : TDeviceIO {
        int open(const char*, int, mode_t) override { errno = EACCES; return -1; }
        int close(int) override { return 0; }
        ssize_t read(int, void*, size_t) override { return -1; }
        ssize_t write(int, const void*, size_t) override { return -1; }
        off_t lseek(int, off_t, int) override { return -1; }
        int ioctl(int, unsigned long, void*) override { return -1; }
        int poll(struct pollfd*, nfds_t, int) override { return -1; }
        TRegisterWindow* mapRegisterWindow(int, size_t, off_t) override { return nullptr; }
        int unmapRegisterWindow(TRegisterWindow*) override { return -1; }
        void syncAll() override {}
    } fail;
    setDeviceIO(&fail);
    EXPECT_EQ(deviceIO().open("/var/tmp/x", O_RDONLY), -1);
    setDeviceIO(nullptr);
    EXPECT_EQ(&deviceIO(), &passThroughDeviceIO());
}

// Two tests writing the same board path: each sees only its own file.
class HarnessIsolation : public SimBoardTest {
protected:
    void writeAndCheck(const char* content)
    {
        EXPECT_FALSE(exists(hostPath("/media/user/shared.txt")));
        ASSERT_TRUE(writeBoardFile("/media/user/shared.txt", content));
        EXPECT_EQ(readHostFile(hostPath("/media/user/shared.txt")), content);
    }
};
TEST_F(HarnessIsolation, First) { writeAndCheck("first"); }
TEST_F(HarnessIsolation, Second) { writeAndCheck("second"); }

} // namespace
