// The boot of the simulated board: what a power cycle clears, and the boot mark.
#include "board/sim/simboard.h"

#include "board/board.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

namespace simboard {

namespace {

std::string gTop;     // the folder being emptied (nftw gives no user pointer)
std::string gFailed;  // the first entry that could not be removed

int removeEntry(const char* path, const struct stat*, int type, struct FTW*)
{
    if (gTop == path)
        return 0;
    const int r = type == FTW_DP ? ::rmdir(path) : ::unlink(path);
    if (r != 0 && gFailed.empty())
        gFailed = std::string(path) + ": " + std::strerror(errno);
    return 0;
}

bool fail(std::string* error, const std::string& what)
{
    if (error)
        *error = what;
    return false;
}

// Creates the regular file when missing and sets its times to now; a link is not followed.
bool touch(const std::string& hostPath, std::string* error)
{
    const int fd = ::open(hostPath.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0)
        return fail(error, hostPath + ": " + std::strerror(errno));
    const bool ok = ::futimens(fd, nullptr) == 0;
    const int saved = errno;
    ::close(fd);
    return ok || fail(error, hostPath + ": " + std::strerror(saved));
}

} // namespace

bool boot(std::string* error)
{
    if (boardRoot().empty())
        return fail(error, "no simulated-board root");
    if (boardRootSeeded()) {
        const std::string tmp = boardPath("/var/tmp");
        struct stat st;
        if (::lstat(tmp.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
            return fail(error, tmp + ": not a folder");
        gTop = tmp;
        gFailed.clear();
        ::nftw(tmp.c_str(), removeEntry, 16, FTW_DEPTH | FTW_PHYS | FTW_MOUNT);
        if (!gFailed.empty())
            return fail(error, gFailed);
        // A regular file until a battery daemon makes it a FIFO: a power-off write completes.
        if (!touch(boardPath("/var/tmp/offpipe"), error))
            return false;
    }
    const std::string sim = boardPath("/sim");
    if (::mkdir(sim.c_str(), 0777) != 0 && errno != EEXIST)
        return fail(error, sim + ": " + std::strerror(errno));
    return touch(boardPath(kBootMarkPath), error);
}

} // namespace simboard
