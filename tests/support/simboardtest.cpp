#include "tests/support/simboardtest.h"

#include "board/board.h"
#include "board/process.h"
#include "board/sim/simboard.h"

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <ftw.h>
#include <sstream>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {
// Parallel test processes need distinct port ranges (all ports stay below 65536). A range is
// claimed by binding an abstract socket named after it: unique on the machine, released by
// the kernel when the process ends, and it leaves no file behind.
int claimPortOffset()
{
    static int claimed = -1;
    if (claimed >= 0)
        return claimed;
    // Ranges are 20 apart: the served ports 50000 and 50010 are 10 apart, so with a step of 10
    // one process's 50010 would be its neighbour's 50000.
    constexpr int kSlots = 700;
    constexpr int kStep = 20;
    const int first = static_cast<int>(getpid()) % kSlots;
    for (int i = 0; i < kSlots; ++i) {
        const int offset = 1000 + ((first + i) % kSlots) * kStep;
        int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0)
            break;
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        const std::string name = "benchview-test-ports-" + std::to_string(offset);
        std::memcpy(addr.sun_path + 1, name.data(), name.size());  // leading NUL: abstract name
        const socklen_t len = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
        if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), len) == 0)
            return claimed = offset;  // the socket stays open for the life of the process
        ::close(fd);
    }
    return claimed = 1000 + first * kStep;
}

int removeEntry(const char* path, const struct stat*, int, struct FTW*)
{
    return ::remove(path);
}
} // namespace

void removeTree(const std::string& path)
{
    nftw(path.c_str(), removeEntry, 16, FTW_DEPTH | FTW_PHYS);
}

void SimBoardTest::SetUp()
{
    char cwd[4096];
    savedCwd_ = getcwd(cwd, sizeof cwd) ? cwd : "";

    const char* tmp = std::getenv("TMPDIR");
    std::string templ = std::string(tmp && *tmp ? tmp : "/tmp") + "/benchview-test-XXXXXX";
    char* made = mkdtemp(&templ[0]);
    ASSERT_NE(made, nullptr);
    ASSERT_TRUE(setBoardRoot(made));
    root_ = boardRoot();
    seedBoardRoot();
    portOffset_ = claimPortOffset();
    setBoardPortOffset(portOffset_);
}

void SimBoardTest::TearDown()
{
    std::string stuck;
    if (!runPowerOffUndos(&stuck))
        ADD_FAILURE() << "did not end: " << stuck;
    setPauseHook(nullptr);  // a test's hook captures what ends with it
    if (!savedCwd_.empty() && chdir(savedCwd_.c_str()) != 0)
        ADD_FAILURE() << "cannot restore the working directory";
    if (!std::getenv("BENCHVIEW_KEEP_SIMROOT") && !root_.empty())
        removeTree(root_);
}

std::string SimBoardTest::hostPath(const char* boardAbsolutePath) const
{
    return boardPath(boardAbsolutePath);
}

std::string SimBoardTest::readHostFile(const std::string& path) const
{
    return readWholeFile(path);
}

std::string readWholeFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void useCanBusSignals()
{
    simboard::updateScenario([](simboard::TScenario& s) {
        s.bus = simboard::TBusConfig{};
        s.signals[0].shape = "bus";
        s.signals[0].wire = simboard::kBusDiff;
        s.signals[0].attenuation = 10;
        s.signals[3].shape = "bus";
        s.signals[3].wire = simboard::kBusHigh;
        s.signals[3].attenuation = 10;
    });
}
