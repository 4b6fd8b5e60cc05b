#include "tests/support/simboardtest.h"

#include "board/board.h"
#include "board/ports.h"
#include "board/process.h"
#include "board/sim/simboard.h"

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <ftw.h>
#include <sstream>
#include <unistd.h>

namespace {
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
    portOffset_ = claimPortOffset({23, 80, 50000, 50010});  // SCPI, HTTP, discovery, web service
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
