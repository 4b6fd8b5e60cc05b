#include "tests/support/simboardtest.h"

#include "board/board.h"

#include <cstdlib>
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
    // Spread parallel test processes over distinct port ranges (all ports stay below 65536).
    portOffset_ = 1000 + (static_cast<int>(getpid()) % 1400) * 10;
    setBoardPortOffset(portOffset_);
}

void SimBoardTest::TearDown()
{
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
